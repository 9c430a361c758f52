#include "Orb/OrbViewer/OrbNavigation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "IniTestSupport.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

// Slides at 0-4000 (transition 1000), 4000-8000 (none), 8000-12000 (700).
const char kShow[] =
    "[Main]\nopt_slidescount=3\nopt_synchpos1=4000\nopt_synchpos2=8000\nopt_synchpos3=12000\n"
    "opt_fx_enable=1\nopt_fx_time=1000\n"
    "[slide1]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=2\nEffect_Type=3\nEffectTime="
    "1000\nslideid=First\n"
    "[slide2]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=0\nslideid=Middle\n"
    "[slide3]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=5\nEffect_Type=b\nEffectTime=700\n";

std::unique_ptr<TOrbSource> Source(const std::string& repeat) {
    auto document =
        ql::test::DocumentFromText(std::string(kShow) + "[Main]\nopt_repeat=" + repeat + "\n");
    return std::make_unique<TOrbSource>(ql::MakeRef<ql::TRefObj>(), std::move(document),
                                        u"/opt/show");
}

TEST(OrbNavigation, SlideStart_OneMillisecondInWithoutTransition) {
    auto source = Source("stop");
    TNavigation navigation(*source);
    EXPECT_EQ(navigation.SlideStart(0), 0);
    EXPECT_EQ(navigation.SlideStart(1), 4001);  // no transition
    EXPECT_EQ(navigation.SlideStart(2), 8000);
    EXPECT_EQ(navigation.SlideStart(-5), 0);
    EXPECT_EQ(navigation.SlideStart(3), 12000);     // the end of a show that stops
    EXPECT_EQ(navigation.SlideStart(1000), 12000);  // clamped into the show
}

TEST(OrbNavigation, NextSlide_PlayingGoesToBeginPausedToTransitionEnd) {
    auto source = Source("stop");
    TNavigation navigation(*source);
    EXPECT_EQ(navigation.NextSlide(1000, false), 4001);
    EXPECT_EQ(navigation.NextSlide(5000, false), 8000);
    EXPECT_EQ(navigation.NextSlide(5000, true), 8700);
    EXPECT_EQ(navigation.NextSlide(9000, false), 12000);  // the end, not past it
    EXPECT_EQ(navigation.NextSlide(12000, true), 12000);
}

TEST(OrbNavigation, NextSlide_RepeatingShowGoesIntoTheNextCycle) {
    auto source = Source("repeat");
    TNavigation navigation(*source);
    EXPECT_EQ(navigation.NextSlide(9000, false), 12000);
    EXPECT_EQ(navigation.NextSlide(12500, false), 16001);
}

TEST(OrbNavigation, PreviousSlide_WithinHalfASecondGoesOneFurther) {
    auto source = Source("stop");
    TNavigation navigation(*source);
    // Slide 3's transition ends at 8700.
    EXPECT_EQ(navigation.PreviousSlide(8900), 4000);   // 200 ms after: two slides back
    EXPECT_EQ(navigation.PreviousSlide(10700), 8700);  // 2 s after: its own start
    EXPECT_EQ(navigation.PreviousSlide(1200), 0);
    EXPECT_EQ(navigation.PreviousSlide(3000), 1000);
    EXPECT_EQ(navigation.PreviousSlide(-50), 0);
}

TEST(OrbNavigation, GotoSlide_NumbersClampedAndIdsLookedUp) {
    auto source = Source("stop");
    TNavigation navigation(*source);
    EXPECT_EQ(navigation.GotoSlide(2, u""), 4001);
    EXPECT_EQ(navigation.GotoSlide(3, u""), 8000);
    EXPECT_EQ(navigation.GotoSlide(2000000000, u""), 8000);  // the last slide, not past the end
    EXPECT_EQ(navigation.GotoSlide(0, u""), 0);
    EXPECT_EQ(navigation.GotoSlide(-1, u"Middle"), 4001);
    EXPECT_EQ(navigation.GotoSlide(-1, u"Nowhere"), 0);
}

TEST(OrbNavigation, SeekTargets_ClampedIntoTheShow) {
    auto stop = Source("stop");
    EXPECT_EQ(TNavigation(*stop).ClampTarget(-400), 0);
    EXPECT_EQ(TNavigation(*stop).ClampTarget(1e300), 12000);
    EXPECT_EQ(TNavigation(*stop).ClampTarget(std::nan("")), 0);
    auto repeat = Source("repeat");
    EXPECT_EQ(TNavigation(*repeat).ClampTarget(50000), 50000);
    EXPECT_GT(TNavigation(*repeat).ClampTarget(1e300), 0);
}

TEST(OrbNavigation, Wheel_StepsTimeOrSlides) {
    auto source = Source("stop");
    TNavigation navigation(*source);
    EXPECT_EQ(navigation.Wheel(5000, 1, false, false), 4300);  // away from the user: back
    EXPECT_EQ(navigation.Wheel(5000, -2, false, false), 6400);
    EXPECT_EQ(navigation.Wheel(100, 3, false, false), 0);
    EXPECT_EQ(navigation.Wheel(5000, -1, true, true), 8700);
    EXPECT_EQ(navigation.Wheel(10700, 1, true, false), 8700);
    EXPECT_EQ(navigation.Wheel(11900, -2000000000, false, false), 12000);
}

}  // namespace
}  // namespace orb
