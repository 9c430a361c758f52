#include "OrbLib2/OrbClasses/qlOrbImageGeometry.h"

#include <gtest/gtest.h>

#include <limits>

#include "QlLib/qlIniStorage.h"

namespace orb {
namespace {

// An image block holding the given key lines.
class TImageBlock {
public:
    explicit TImageBlock(std::initializer_list<std::u16string> keys) {
        std::vector<std::u16string> lines{u"[Slide1]", u"object Pic : image"};
        for (const auto& key : keys) lines.push_back(u"  " + key);
        lines.push_back(u"end");
        m_document.LoadFromLines(lines);
    }
    const ql::TIniIdentList& Block() const {
        return *m_document.FindSection(u"Slide1")->FirstObject();
    }

private:
    ql::TIniFile m_document;
};

TImageAnimationParams Sheet(int32_t columns, int32_t rows, int32_t frames, std::vector<int32_t> durations,
                            int32_t repeat = 0) {
    TImageAnimationParams anim;
    anim.Columns = columns;
    anim.Rows = rows;
    anim.FrameCount = frames;
    anim.FrameDurations = std::move(durations);
    anim.RepeatCount = repeat;
    return anim;
}

// --- keys -------------------------------------------------------------------

TEST(ImageGeometry_Keys, MissingKeysGiveTheDefaults) {
    TImageBlock block({});
    EXPECT_EQ(ReadBorderParams(block.Block()), TBorderParams{});
    TImageAnimationParams anim = ReadAnimationParams(block.Block());
    EXPECT_EQ(anim.Columns, 1);
    EXPECT_EQ(anim.Rows, 1);
    EXPECT_EQ(anim.FrameCount, 0);
    EXPECT_TRUE(anim.FrameDurations.empty());
    EXPECT_EQ(anim.RepeatCount, 0);
}

TEST(ImageGeometry_Keys, BorderColorIsClampedAndNeedsFourValues) {
    EXPECT_EQ(ReadBorderParams(TImageBlock({u"BorderColor=300,-5,16,128"}).Block()).BorderColor, 0x80FF0010u);
    EXPECT_EQ(ReadBorderParams(TImageBlock({u"BorderColor=1, 2 ,\t3,4"}).Block()).BorderColor, 0x04010203u);
    EXPECT_EQ(ReadBorderParams(TImageBlock({u"BorderColor=1,2,3"}).Block()).BorderColor, 0xFFFFFFFFu);
    EXPECT_EQ(ReadBorderParams(TImageBlock({u"BorderColor=1,2,3,4,5"}).Block()).BorderColor, 0xFFFFFFFFu);
    EXPECT_EQ(ReadBorderParams(TImageBlock({u"BorderColor=1,x,3,4"}).Block()).BorderColor, 0xFFFFFFFFu);
}

TEST(ImageGeometry_Keys, CropRectTakesSixOrFourNumbersAndAspectFour) {
    TBorderParams six = ReadBorderParams(TImageBlock({u"EnableCrop=1", u"CropRect=1,2,3,4,5,6"}).Block());
    EXPECT_TRUE(six.EnableCrop);
    EXPECT_EQ(six.CropRect, (std::array<float, 6>{1, 2, 3, 4, 5, 6}));
    TBorderParams four = ReadBorderParams(TImageBlock({u"CropRect=1,2,3,4"}).Block());
    EXPECT_EQ(four.CropRect, (std::array<float, 6>{1, 2, 3, 4, kUnsetCropValue, kUnsetCropValue}));
    TBorderParams bad = ReadBorderParams(TImageBlock({u"CropRect=1,2,3,4,5", u"AspectParams=1,2,3"}).Block());
    EXPECT_EQ(bad.CropRect, TBorderParams{}.CropRect);
    EXPECT_EQ(bad.AspectParams, TBorderParams{}.AspectParams);
    TBorderParams aspect = ReadBorderParams(TImageBlock({u"AspectParams=1.5,50,-20,100"}).Block());
    EXPECT_EQ(aspect.AspectParams, (std::array<float, 4>{1.5f, 50, -20, 100}));
}

TEST(ImageGeometry_Keys, SingleIntervalAppliesToEveryFrame) {
    auto anim = ReadAnimationParams(TImageBlock({u"AnimCount=4", u"AnimInterval=200"}).Block());
    EXPECT_EQ(anim.FrameDurations, (std::vector<int32_t>{200, 200, 200, 200}));
}

TEST(ImageGeometry_Keys, ShortIntervalListRepeatsItsLastValue) {
    auto anim = ReadAnimationParams(TImageBlock({u"AnimCount=4", u"AnimInterval=200, 50"}).Block());
    EXPECT_EQ(anim.FrameDurations, (std::vector<int32_t>{200, 50, 50, 50}));
}

TEST(ImageGeometry_Keys, UnreadableIntervalsLastOneHundredMs) {
    EXPECT_EQ(ParseFrameDurations(u"", 3), (std::vector<int32_t>{100, 100, 100}));
    EXPECT_EQ(ParseFrameDurations(u"200,abc", 3), (std::vector<int32_t>{100, 100, 100}));
    EXPECT_EQ(ParseFrameDurations(u"200,,50", 3), (std::vector<int32_t>{100, 100, 100}));
    // Values past the frame count are never read.
    EXPECT_EQ(ParseFrameDurations(u"10,20,junk", 2), (std::vector<int32_t>{10, 20}));
    EXPECT_EQ(ParseFrameDurations(u"-40", 2), (std::vector<int32_t>{0, 0}));
}

TEST(ImageGeometry_Keys, HostileCountsAreBounded) {
    auto anim = ReadAnimationParams(
        TImageBlock({u"AnimColumns=0", u"AnimRows=-7", u"AnimCount=2000000000", u"AnimRepCount=-3"}).Block());
    EXPECT_EQ(anim.Columns, 1);
    EXPECT_EQ(anim.Rows, 1);
    EXPECT_EQ(anim.FrameCount, kMaxAnimationFrames);
    EXPECT_EQ(anim.FrameDurations.size(), size_t(kMaxAnimationFrames));
    EXPECT_EQ(anim.RepeatCount, 0);
    auto big = ReadAnimationParams(TImageBlock({u"AnimColumns=99999999", u"AnimRows=99999999"}).Block());
    EXPECT_EQ(big.Columns, kMaxAnimationGrid);
    EXPECT_EQ(big.Rows, kMaxAnimationGrid);
}

// --- source rectangle and size ---------------------------------------------

TEST(ImageGeometry_Source, PlainPictureShowsEverything) {
    TImageGeometry g = ComputeImageGeometry(640, 480, TBorderParams{});
    EXPECT_EQ(g.Source, (ql::TRect{0, 0, 640, 480}));
    EXPECT_EQ(g.Width, 640);
    EXPECT_EQ(g.Height, 480);
    EXPECT_EQ(g.InnerOffset, 0);
}

TEST(ImageGeometry_Source, SquareAspectOnFourByThreeIsCentred) {
    TBorderParams border;
    border.EnableAspect = true;
    border.AspectParams = {1.0f, 0, 0, 0};
    TImageGeometry g = ComputeImageGeometry(4000, 3000, border);
    EXPECT_EQ(g.Source, (ql::TRect{500, 0, 3500, 3000}));
    EXPECT_EQ(g.Width, 3000);
    EXPECT_EQ(g.Height, 3000);
}

TEST(ImageGeometry_Source, FullOffsetMovesTheRegionToTheEdge) {
    TBorderParams border;
    border.EnableAspect = true;
    border.AspectParams = {1.0f, 100, 100, 0};
    EXPECT_EQ(ComputeImageGeometry(4000, 3000, border).Source, (ql::TRect{1000, 0, 4000, 3000}));
    border.AspectParams = {1.0f, 100, -100, 0};
    EXPECT_EQ(ComputeImageGeometry(4000, 3000, border).Source, (ql::TRect{0, 0, 3000, 3000}));
    // Offsets outside -100 .. 100 count as 0.
    border.AspectParams = {1.0f, 100, 150, 0};
    EXPECT_EQ(ComputeImageGeometry(4000, 3000, border).Source, (ql::TRect{500, 0, 3500, 3000}));
}

TEST(ImageGeometry_Source, WiderTargetKeepsTheWidthAndZoomShrinksAroundTheCentre) {
    TBorderParams border;
    border.EnableAspect = true;
    border.AspectParams = {2.0f, 0, 0, 0};
    EXPECT_EQ(ComputeImageGeometry(4000, 3000, border).Source, (ql::TRect{0, 500, 4000, 2500}));
    border.AspectParams = {2.0f, 50, 0, 100};
    // 2000 x 1000 around the centre, then moved down by the whole free margin.
    EXPECT_EQ(ComputeImageGeometry(4000, 3000, border).Source, (ql::TRect{1000, 2000, 3000, 3000}));
    // A zoom above 100 counts as 100; a target of 0 is the picture's own aspect.
    border.AspectParams = {0, 250, 0, 0};
    EXPECT_EQ(ComputeImageGeometry(4000, 3000, border).Source, (ql::TRect{0, 0, 4000, 3000}));
}

TEST(ImageGeometry_Source, OldCropFormIsInPercentOfTheHeight) {
    TBorderParams border;
    border.EnableCrop = true;
    border.CropRect = {10, 0, 10, 0, -1, -1};
    TImageGeometry g = ComputeImageGeometry(4000, 3000, border);
    EXPECT_EQ(g.Source, (ql::TRect{300, 0, 3700, 3000}));
    EXPECT_EQ(g.Width, 3400);
}

TEST(ImageGeometry_Source, NewCropFormUsesTheWidthForTheSides) {
    TBorderParams border;
    border.EnableCrop = true;
    border.CropRect = {99, 10, 99, 20, 10, 5};
    EXPECT_EQ(ComputeImageGeometry(4000, 3000, border).Source, (ql::TRect{400, 300, 3800, 2400}));
}

TEST(ImageGeometry_Source, CropAppliesToTheAspectRegion) {
    TBorderParams border;
    border.EnableAspect = true;
    border.EnableCrop = true;
    border.AspectParams = {1.0f, 0, 0, 0};
    border.CropRect = {0, 0, 0, 0, 10, 10};
    EXPECT_EQ(ComputeImageGeometry(4000, 3000, border).Source, (ql::TRect{800, 0, 3200, 3000}));
}

TEST(ImageGeometry_Source, FractionsRoundOutward) {
    TBorderParams border;
    border.EnableCrop = true;
    border.CropRect = {0, 0, 0, 0, 10, 10};  // 3.3 px of 33
    EXPECT_EQ(ComputeImageGeometry(33, 10, border).Source, (ql::TRect{3, 0, 30, 10}));
    border.CropRect = {0, 0, 0, 0, 5, 5};  // 1.65 px
    EXPECT_EQ(ComputeImageGeometry(33, 10, border).Source, (ql::TRect{2, 0, 32, 10}));
}

TEST(ImageGeometry_Source, EmptyOrOutsideCropShowsTheWholePicture) {
    TBorderParams border;
    border.EnableCrop = true;
    border.CropRect = {0, 60, 0, 60, 0, 0};
    EXPECT_EQ(ComputeImageGeometry(400, 300, border).Source, (ql::TRect{0, 0, 400, 300}));
    border.CropRect = {300, 0, -300, 0, -1, -1};  // lies right of the picture
    EXPECT_EQ(ComputeImageGeometry(400, 300, border).Source, (ql::TRect{0, 0, 400, 300}));
    border.CropRect = {0, -50, 0, 0, 10, 0};  // grows upward: clipped
    EXPECT_EQ(ComputeImageGeometry(400, 300, border).Source, (ql::TRect{40, 0, 400, 300}));
    border.CropRect = {0, 0, 0, 0, 1e6f, 1e6f};
    EXPECT_EQ(ComputeImageGeometry(400, 300, border).Source, (ql::TRect{0, 0, 400, 300}));
}

TEST(ImageGeometry_Source, BorderGrowsTheSizeByItsWidthOnEachSide) {
    TBorderParams border;
    border.EnableBorder = true;
    TImageGeometry g = ComputeImageGeometry(1500, 1000, border);
    EXPECT_EQ(g.Source, (ql::TRect{0, 0, 1500, 1000}));
    EXPECT_EQ(g.Width, 1568);
    EXPECT_EQ(g.Height, 1068);
    EXPECT_EQ(g.InnerOffset, 34);
    border.BorderWidth = -10;
    EXPECT_EQ(ComputeImageGeometry(1500, 1000, border).Width, 1500);
    border.BorderWidth = 1e6f;
    EXPECT_EQ(ComputeImageGeometry(1500, 1000, border).InnerOffset, float(kMaxBorderPixels));
}

TEST(ImageGeometry_Source, PixelAspectStretchesTheRegionButNotTheRectangle) {
    TBorderParams border;
    border.EnableAspect = true;
    border.AspectParams = {1.0f, 0, 0, 0};
    // 720 x 576 with a factor of 1.25 is 900 x 576 on screen: a 576 wide square
    // from 162 to 738, that is 129.6 to 590.4 in source pixels.
    EXPECT_EQ(ComputeImageGeometry(720, 576, border, 1.25).Source, (ql::TRect{130, 0, 591, 576}));
    EXPECT_EQ(ComputeImageGeometry(720, 576, border, 0.0005).Source, (ql::TRect{72, 0, 648, 576}));
}

TEST(ImageGeometry_Source, EmptyPictureGivesNoSize) {
    EXPECT_EQ(ComputeImageGeometry(0, 100, TBorderParams{}), TImageGeometry{});
    EXPECT_EQ(ComputeImageGeometry(100, -1, TBorderParams{}), TImageGeometry{});
}

// --- sprite sheets -----------------------------------------------------------

TEST(ImageGeometry_Sheet, SizeIsOneCellRoundedAndBorderDoesNotApply) {
    TImageGeometry g = ComputeSheetGeometry(100, 50, Sheet(3, 2, 6, {100}));
    EXPECT_EQ(g.Width, 33);
    EXPECT_EQ(g.Height, 25);
    EXPECT_EQ(g.Source, (ql::TRect{0, 0, 33, 25}));
    EXPECT_EQ(ComputeSheetGeometry(101, 50, Sheet(2, 1, 2, {100})).Width, 51);
}

TEST(ImageGeometry_Sheet, FrameRectanglesWalkRowsOfColumns) {
    auto anim = Sheet(3, 2, 6, {100});
    EXPECT_EQ(AnimationFrameRect(100, 50, anim, 1), (ql::TRect{33, 0, 66, 25}));
    EXPECT_EQ(AnimationFrameRect(100, 50, anim, 3), (ql::TRect{0, 25, 33, 50}));
    EXPECT_EQ(AnimationFrameRect(100, 50, anim, 5), (ql::TRect{66, 25, 99, 50}));
}

TEST(ImageGeometry_Frames, FramesFollowTheirDurations) {
    auto anim = Sheet(2, 2, 4, {200, 50, 50, 50});
    EXPECT_EQ(AnimationFrameAt(anim, 0), 0);
    EXPECT_EQ(AnimationFrameAt(anim, 200), 0);
    EXPECT_EQ(AnimationFrameAt(anim, 201), 1);
    EXPECT_EQ(AnimationFrameAt(anim, 299), 2);
    EXPECT_EQ(AnimationFrameAt(anim, 349), 3);
    // Endless: the second play starts over.
    EXPECT_EQ(AnimationFrameAt(anim, 351), 0);
    EXPECT_EQ(AnimationFrameAt(anim, 350 * 1000 + 260), 2);
    EXPECT_EQ(AnimationFrameAt(anim, -500), 0);
}

TEST(ImageGeometry_Frames, RepeatCountTwoStopsOnTheLastFrame) {
    auto anim = Sheet(4, 1, 4, {100, 100, 100, 100}, 2);
    EXPECT_EQ(AnimationFrameAt(anim, 450), 0);  // second play
    EXPECT_EQ(AnimationFrameAt(anim, 750), 3);
    EXPECT_EQ(AnimationFrameAt(anim, 801), 3);
    EXPECT_EQ(AnimationFrameAt(anim, 1e12), 3);
}

TEST(ImageGeometry_Frames, FrameCountIsCutToTheSheet) {
    auto anim = Sheet(2, 1, 10, {100});
    EXPECT_EQ(AnimationFrameAt(anim, 150), 1);
    EXPECT_EQ(AnimationFrameAt(anim, 250), 0);
}

TEST(ImageGeometry_Frames, DegenerateAnimationsShowFrameZero) {
    EXPECT_EQ(AnimationFrameAt(Sheet(4, 1, 4, {0, 0, 0, 0}), 1000), 0);
    EXPECT_EQ(AnimationFrameAt(Sheet(4, 1, 4, {}), 1000), 0);
    EXPECT_EQ(AnimationFrameAt(Sheet(4, 1, 1, {100}), 1000), 0);
    EXPECT_EQ(AnimationFrameAt(Sheet(0, -1, 4, {100}), 1000), 0);
    EXPECT_EQ(AnimationFrameAt(Sheet(4, 1, 4, {100}), std::numeric_limits<double>::quiet_NaN()), 0);
    // A huge count with a tiny duration still answers at once.
    auto huge = Sheet(kMaxAnimationGrid, kMaxAnimationGrid, 2000000000, {1});
    EXPECT_EQ(AnimationFrameAt(huge, 1e15 + 10.5), 10);
}

// --- level of detail ---------------------------------------------------------

TEST(ImageGeometry_Level, HalvesWhileStillLargerThanRequiredLessOne) {
    EXPECT_EQ(LevelOfDetail(4000, 3000, 1000, 750), 1);
    EXPECT_EQ(LevelOfDetail(4000, 3000, 999, 749), 2);
    EXPECT_EQ(LevelOfDetail(4000, 3000, 4000, 3000), 0);
    EXPECT_EQ(LevelOfDetail(4000, 3000, 8000, 10), 0);
    EXPECT_EQ(LevelOfDetail(4000, 3000, 1, 1), 11);
    EXPECT_EQ(LevelOfDetail(4000, 3000, 0, -5), 11);
}

TEST(ImageGeometry_Level, RequiredSidesAreScaledRoundedAndAtLeastOne) {
    EXPECT_EQ(ScaledRequiredSide(100.4, 2), 201);
    EXPECT_EQ(ScaledRequiredSide(0.1, 1), 1);
    EXPECT_EQ(ScaledRequiredSide(std::numeric_limits<double>::infinity(), 1), 1);
}

}  // namespace
}  // namespace orb
