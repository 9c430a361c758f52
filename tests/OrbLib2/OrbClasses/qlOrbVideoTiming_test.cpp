#include "OrbLib2/OrbClasses/qlOrbVideoTiming.h"

#include <gtest/gtest.h>

#include "IniTestSupport.h"

namespace orb {
namespace {

TEST(VideoTiming, Position_WaitsOnTheFirstFrameFollowsTheClockAndHoldsTheLast) {
    const TVideoTiming timing = ClampVideoTiming(2000, 5000, 1000, 60000);
    struct TCase {
        double SlideTime;
        double DeltaTime1;
        double Expected;
    };
    const TCase cases[] = {
        {1000, 0, 1000},     // before StartORBTime: the first frame waits
        {2000, 0, 1000},     //
        {4000, 0, 3000},     //
        {7000, 0, 6000},     // the end itself
        {9000, 0, 6000},     // after the end: the last frame stays
        {2500, 3000, 1000},  // before DeltaTime1 too
        {3500, 3000, 2500},
    };
    for (const TCase& c : cases)
        EXPECT_DOUBLE_EQ(VideoPositionAt(timing, c.SlideTime, c.DeltaTime1, 0), c.Expected)
            << c.SlideTime << " " << c.DeltaTime1;
}

TEST(VideoTiming, ClipAcrossSlides_ContinuesFromTheEndOfItsStartSlide) {
    // Slides end at 4000, 9000, 15000; the clip starts at the end of slide 2.
    const auto document = ql::test::DocumentFromText(
        "[Main]\nopt_synchpos1=4000\nopt_synchpos2=9000\n"
        "opt_synchpos3=15000\n");
    const ql::TIniIdentList& main = *document->FindSection(u"Main");
    const double base = ClipBaseTime(2, main);
    EXPECT_DOUBLE_EQ(base, 9000);
    EXPECT_DOUBLE_EQ(ClipBaseTime(0, main), 0);
    const TVideoTiming timing = ClampVideoTiming(0, 20000, 0, 30000);
    // At the end of slide 3 (its time 6000) the clip stood at 6000; slide 4
    // begins there, and its time 0 goes on from the same place.
    const double endOfSlide3 = VideoPositionAt(timing, 6000, 0, 9000 - base);
    EXPECT_DOUBLE_EQ(endOfSlide3, 6000);
    EXPECT_DOUBLE_EQ(VideoPositionAt(timing, 0, 0, 15000 - base), endOfSlide3);
    EXPECT_DOUBLE_EQ(VideoPositionAt(timing, 1000, 0, 15000 - base), 7000);
}

TEST(VideoTiming, Clamp_BringsKeysWithinTheFile) {
    struct TCase {
        double Duration, StartVideo, Length;
        double ExpectedDuration, ExpectedStart;
    };
    const TCase cases[] = {
        {5000, 1000, 8000, 5000, 1000}, {0, 0, 8000, 0, 0},    {9000, 9000, 8000, 8000, 0},
        {-1, -1, 8000, 8000, 0},        {5000, 1000, 0, 0, 0}, {5000, 1000, -5, 0, 0},
    };
    for (const TCase& c : cases) {
        const TVideoTiming timing = ClampVideoTiming(0, c.Duration, c.StartVideo, c.Length);
        EXPECT_DOUBLE_EQ(timing.Duration, c.ExpectedDuration) << c.Duration;
        EXPECT_DOUBLE_EQ(timing.StartVideoTime, c.ExpectedStart) << c.StartVideo;
    }
}

TEST(VideoTiming, PixelAspect_FollowsTheDisplayAspectCode) {
    EXPECT_NEAR(PixelAspectOf(1, 720, 576), 1.0666664, 1e-7);
    EXPECT_NEAR(PixelAspectOf(2, 720, 576), 576 * 1.777778 / 720, 1e-12);
    EXPECT_DOUBLE_EQ(PixelAspectOf(0, 720, 576), 1);
    EXPECT_DOUBLE_EQ(PixelAspectOf(7, 720, 576), 1);
    EXPECT_DOUBLE_EQ(PixelAspectOf(1, 0, 576), 1);
}

TEST(VideoTiming, FieldChoice_ByTypeFieldOrderAndHalfOfTheFrame) {
    struct TCase {
        const char16_t* Type;
        int32_t Interlacing;
        double Position;
        int32_t Expected;
    };
    // The held frame shows from 100 to 140 ms; its middle is 120.
    const TCase cases[] = {
        {u"Auto", 0, 110, 0},    {u"auto", 1, 110, 1},    {u"AUTO", 1, 130, 2},
        {u"Auto", 2, 110, 2},    {u"Auto", 2, 130, 1},    {u"Wave", 1, 110, 0},
        {u"BobEven", 0, 110, 1}, {u"bobeven", 2, 130, 2}, {u"BobOdd", 0, 110, 2},
        {u"BOBODD", 1, 130, 1},  {u"unknown", 1, 110, 1},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(FieldChoice(ParseDeinterlaceType(c.Type), c.Interlacing, c.Position, 100, 140),
                  c.Expected)
            << ql::ToUtf8(c.Type) << " " << c.Interlacing << " " << c.Position;
}

TEST(VideoTiming, FrameSpanAndMissedFrames) {
    const TFrameSpan span = FrameSpanOf(10, 11, 25);
    EXPECT_DOUBLE_EQ(span.StartMs, 380);
    EXPECT_DOUBLE_EQ(span.EndMs, 460);
    // ceil(25 / 60) = 1 frame, ceil(120 / 60) = 2 frames may pass per drawing.
    EXPECT_FALSE(HeldSpanMovesObject(10, 10, 25));
    EXPECT_TRUE(HeldSpanMovesObject(10, 11, 25));
    EXPECT_FALSE(HeldSpanMovesObject(10, 11, 120));
    EXPECT_TRUE(HeldSpanMovesObject(10, 12, 120));
    EXPECT_FALSE(HeldSpanMovesObject(10, 20, 0));
}

}  // namespace
}  // namespace orb
