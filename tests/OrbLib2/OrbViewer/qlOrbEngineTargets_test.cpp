#include "OrbLib2/OrbViewer/qlOrbEngineTargets.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"
#include "WaitSupport.h"

namespace orb {
namespace {

std::unique_ptr<TOrbSource> Source(const std::string& text) {
    auto document = ql::test::DocumentFromText(text);
    return std::make_unique<TOrbSource>(ql::MakeRef<ql::TRefObj>(), std::move(document),
                                        u"/opt/show");
}

// Slides end at 1000, 2000, 3000, 4000; the second loops, the third pauses.
std::string StopShow(const std::string& repeat) {
    return "[Main]\nopt_slidescount=4\nopt_synchpos1=1000\nopt_synchpos2=2000\nopt_synchpos3=3000\n"
           "opt_synchpos4=4000\nopt_repeat=" +
           repeat +
           "\n"
           "[slide2]\nUsePersonal=1\nPers_EndAction=loop\n"
           "[slide3]\nUsePersonal=1\nPers_EndAction=pause\n";
}

TEST(EngineBarrier, AtTheBarrierTime_ScansOnFromTheBarrierSlide) {
    auto source = Source(StopShow("stop"));
    const TStopPoint loop = ComputeBarrier(*source, 0, TStopPoint{}, true);
    EXPECT_EQ(loop.SlideIndex, 1);
    EXPECT_EQ(loop.LoopLength, 1000);
    const TStopPoint pause = ComputeBarrier(*source, 2500, loop, true);
    EXPECT_EQ(pause.SlideIndex, 2);
    EXPECT_EQ(pause.Time, 3000);
    // Released at the pause: the next stop is the end of the show.
    const TStopPoint end = ComputeBarrier(*source, 3000, pause, true);
    EXPECT_EQ(end.SlideIndex, 3);
    EXPECT_EQ(end.Time, 4000);
    EXPECT_EQ(end.LoopLength, 0);
}

TEST(EngineBarrier, RepeatingShow_FindsTheStopOfTheNextCycleOrNone) {
    auto source = Source(StopShow("repeat"));
    const TStopPoint pause{2, 3000, 0};
    const TStopPoint next = ComputeBarrier(*source, 3000, pause, true);
    EXPECT_EQ(next.SlideIndex, 5);
    EXPECT_EQ(next.Time, 6000);
    const TStopPoint none = ComputeBarrier(*source, 0, TStopPoint{}, false);
    EXPECT_EQ(none.SlideIndex, TStopPoint::kNoSlide);
    EXPECT_EQ(none.Time, TStopPoint::kNoTime);
}

TEST(EngineBarrier, WithoutSlideActions_OnlyTheEndStops) {
    auto source = Source(StopShow("close"));
    const TStopPoint end = ComputeBarrier(*source, 0, TStopPoint{}, false);
    EXPECT_EQ(end.SlideIndex, 3);
    EXPECT_EQ(end.Time, 4000);
}

TEST(EngineRunApp, FirstCommandAheadWithinOneRound) {
    auto source = Source(StopShow("stop") +
                         "[slide2]\nPers_RunApp=1\nRunAppFN=a.exe\n"
                         "[slide4]\nPers_RunApp=1\nRunAppFN=notes.txt\n");
    const TRunAppTarget first = ComputeRunAppTarget(*source, 0);
    EXPECT_EQ(first.SlideIndex, 1);
    EXPECT_EQ(first.Time, 1001);
    EXPECT_EQ(first.Command, u"a.exe");
    // Once carried out, the next one comes from just after it.
    const TRunAppTarget second = ComputeRunAppTarget(*source, 1001, &first);
    EXPECT_EQ(second.SlideIndex, 3);
    EXPECT_EQ(second.Time, 3001);
    EXPECT_EQ(second.Command, u"notes.txt");
    // A show that stops has nothing after its last command.
    EXPECT_FALSE(ComputeRunAppTarget(*source, 3001, &second).IsSet());
    EXPECT_FALSE(ComputeRunAppTarget(*source, 3500).IsSet());
    // At the slide's begin + 1 ms the command is due, not ahead.
    EXPECT_EQ(ComputeRunAppTarget(*source, 1000.5).SlideIndex, 1);
}

TEST(EngineRunApp, RepeatingShow_WrapsIntoTheNextCycle) {
    auto source = Source(StopShow("repeat") + "[slide2]\nPers_RunApp=1\nRunAppFN=a.exe\n");
    const TRunAppTarget target = ComputeRunAppTarget(*source, 2500);
    EXPECT_EQ(target.SlideIndex, 5);
    EXPECT_EQ(target.Time, 5001);
    EXPECT_FALSE(ComputeRunAppTarget(Source(StopShow("repeat")).operator*(), 2500).IsSet());
}

TEST(EngineTargets, HugeShowWithoutStops_ScansAreBounded) {
    std::string text = "[Main]\nopt_slidescount=20000\nopt_repeat=repeat\n";
    for (int i = 1; i <= 20000; ++i)
        text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 10) + "\n";
    auto source = Source(text);
    // An unbounded scan would walk the cycles up to 1e300 ms and never end;
    // the guard turns that into a failure instead of a hung run.
    EXPECT_FALSE(
        ql::test::ReturnsWithin([&] { return ComputeRunAppTarget(*source, 1e300).IsSet(); }));
    EXPECT_EQ(ql::test::ReturnsWithin(
                  [&] { return ComputeBarrier(*source, 1e300, TStopPoint{}, true).SlideIndex; }),
              TStopPoint::kNoSlide);
    EXPECT_FALSE(
        ql::test::ReturnsWithin([&] { return ComputeRunAppTarget(*source, 123456).IsSet(); }));
}

}  // namespace
}  // namespace orb
