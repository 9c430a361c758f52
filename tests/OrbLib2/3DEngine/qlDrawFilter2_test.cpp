#include "OrbLib2/3DEngine/qlDrawFilter2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "OrbLib2/3DEngine/Dev3DEffects2.h"
#include "tests/OrbLib2/3DEngine/EffectTestSupport.h"

namespace orb {
namespace {

std::unique_ptr<TDrawFilter> Make(int32_t effectClass, int32_t type, const TEffectParams& params = {},
                                  ql::TRect output = {0, 0, 200, 100}, double duration = 1000) {
    return CreateEffect(output, effectClass, type, nullptr, params, duration);
}

TEST(OpacityCurve, FifteenPoints_SmoothStepFromZeroTo255) {
    EXPECT_DOUBLE_EQ(TOpacityCurve::X(0), 0);
    EXPECT_DOUBLE_EQ(TOpacityCurve::X(14), 255);
    EXPECT_DOUBLE_EQ(TOpacityCurve::Y(0), 0);
    EXPECT_DOUBLE_EQ(TOpacityCurve::Y(7), 255 - 127.5 * 127.5 / 128);
    EXPECT_DOUBLE_EQ(TOpacityCurve::Y(6), std::pow(6 * 255 / 14.0, 2) / 128);
    EXPECT_DOUBLE_EQ(TOpacityCurve::Y(14), 255);
    EXPECT_DOUBLE_EQ(TOpacityCurve::S(200), 255 - 55.0 * 55.0 / 128);
    for (int32_t i = 1; i < 15; ++i) EXPECT_GT(TOpacityCurve::Y(i), TOpacityCurve::Y(i - 1));
}

TEST(CrossFade, Opacity_IsTimeOverDurationClamped) {
    auto fade = Make(2, 0);
    auto* alpha = dynamic_cast<TAlphaFilter*>(fade.get());
    ASSERT_NE(alpha, nullptr);
    alpha->SetTime(250);
    EXPECT_DOUBLE_EQ(alpha->Opacity(), 63.75);
    alpha->SetTime(5000);
    EXPECT_DOUBLE_EQ(alpha->Opacity(), 255);
    alpha->SetTime(-5);
    EXPECT_DOUBLE_EQ(alpha->Opacity(), 0);
    auto instant = Make(2, 0, {}, {0, 0, 200, 100}, 0);
    instant->SetTime(100);
    EXPECT_DOUBLE_EQ(dynamic_cast<TAlphaFilter*>(instant.get())->Opacity(), 0);
}

TEST(CrossFade, SoftDevice_MixesTheSlidesByTheLevel) {
    test::TEffectRig rig(40, 30);
    test::TTestFilter filter(2, 1);
    const std::vector<uint32_t> oldFrame = rig.SlideFrame(false), newFrame = rig.SlideFrame(true);
    const std::vector<uint32_t> frame = rig.TransitionFrame(filter, 500);
    // 127.5 rounds to alpha 128; premultiplied over: old + (new - old) 128 / 255.
    for (size_t i = 0; i < frame.size(); i += 37)
        for (int32_t shift = 0; shift < 24; shift += 8) {
            const int32_t o = int32_t(oldFrame[i] >> shift & 255), n = int32_t(newFrame[i] >> shift & 255);
            EXPECT_NEAR(int32_t(frame[i] >> shift & 255), o + (n - o) * 128 / 255.0, 1.0) << i;
        }
}

TEST(Circle, Reach_IsFarthestCornerPlusSoftEdge) {
    TEffectParams params;
    params.CenterX = params.CenterY = 50;
    params.Smoothline = 0.05f;  // 10 pixels on 200
    auto effect = Make(4, 2, params);
    auto* circle = dynamic_cast<TCircleFilter*>(effect.get());
    ASSERT_NE(circle, nullptr);
    EXPECT_FLOAT_EQ(circle->SoftEdge(), 10);
    EXPECT_DOUBLE_EQ(circle->Reach(), std::hypot(100.0, 50.0) + 10);
    EXPECT_EQ(circle->Segments(), 128);
    circle->SetTime(250);
    EXPECT_DOUBLE_EQ(circle->EdgeDistance(), circle->Reach() / 4);
}

TEST(Circle, CentreOutside_GrowsFromTheNearestEdgeWith256Segments) {
    TEffectParams params;
    params.CenterX = 150;
    params.CenterY = 50;
    auto effect = Make(4, 2, params);
    auto* circle = dynamic_cast<TCircleFilter*>(effect.get());
    ASSERT_NE(circle, nullptr);
    EXPECT_DOUBLE_EQ(circle->Gap(), 100);
    EXPECT_DOUBLE_EQ(circle->Reach(), std::hypot(300.0, 50.0) - 100);
    EXPECT_EQ(circle->Segments(), 256);
}

TEST(Circle, SoftDevice_HardEdgeAtTheRadiusAndSoftBandInside) {
    test::TEffectRig rig(100, 100);
    const std::vector<uint32_t> oldFrame = rig.SlideFrame(false), newFrame = rig.SlideFrame(true);
    test::TTestFilter hard(4, 2);
    hard.params.CenterX = hard.params.CenterY = 50;
    // Reach = hypot(50, 50); at t = d / 2 the edge is at 35.36 pixels.
    std::vector<uint32_t> frame = rig.TransitionFrame(hard, 500);
    auto at = [&](const std::vector<uint32_t>& f, int32_t x, int32_t y) { return f[size_t(y * 100 + x)]; };
    EXPECT_EQ(at(frame, 50, 50), at(newFrame, 50, 50));
    EXPECT_EQ(at(frame, 50 + 33, 50), at(newFrame, 50 + 33, 50));
    EXPECT_EQ(at(frame, 50 + 37, 50), at(oldFrame, 50 + 37, 50));
    EXPECT_EQ(at(frame, 2, 2), at(oldFrame, 2, 2));

    test::TTestFilter soft(4, 2);
    soft.params = hard.params;
    soft.params.Smoothline = 0.2f;  // 20 pixels
    // Reach 70.71 + 20; at t = d / 2 the band runs from 25.36 to 45.36.
    frame = rig.TransitionFrame(soft, 500);
    EXPECT_EQ(at(frame, 50 + 20, 50), at(newFrame, 50 + 20, 50));
    EXPECT_EQ(at(frame, 50 + 47, 50), at(oldFrame, 50 + 47, 50));
    // Half-way through the band the slides mix about half and half.
    const uint32_t mid = at(frame, 50 + 35, 50), o = at(oldFrame, 85, 50), n = at(newFrame, 85, 50);
    const double share = double(int32_t(mid >> 8 & 255) - int32_t(o >> 8 & 255)) /
                         double(int32_t(n >> 8 & 255) - int32_t(o >> 8 & 255));
    EXPECT_NEAR(share, 0.5, 0.12);
}

TEST(Shapes, StartDrawsNothingAndEndCoversTheRectangleWithItsBand) {
    struct TCase {
        int32_t effectClass, type;
    };
    TEffectParams params;
    params.CenterX = params.CenterY = 50;
    params.Smoothline = 0.05f;
    for (const TCase c : {TCase{4, 2}, TCase{5, 2}, TCase{6, 2}, TCase{7, 2}, TCase{7, 4}, TCase{8, 2}, TCase{9, 1},
                          TCase{9, 4}, TCase{10, 1}, TCase{10, 2}}) {
        auto effect = Make(c.effectClass, c.type, params);
        auto* shape = dynamic_cast<TCommonFilter*>(effect.get());
        ASSERT_NE(shape, nullptr) << c.effectClass << "/" << c.type;
        EXPECT_FALSE(shape->Reverse());
        test::TRecordingSink sink({0, 0, 200, 100});
        shape->SetTime(0);
        shape->DrawEffect(sink);
        EXPECT_TRUE(sink.triangles.empty()) << c.effectClass << "/" << c.type;
        EXPECT_EQ(sink.begins, 1);
        EXPECT_EQ(sink.ends, 1);
        shape->SetTime(1000);
        EXPECT_DOUBLE_EQ(shape->EdgeDistance(), shape->Reach());
    }
}

TEST(Shapes, ZeroSoftEdge_DrawsOnlyTheSolidPart) {
    auto effect = Make(5, 2);
    auto* rhomb = dynamic_cast<TRhombFilter*>(effect.get());
    ASSERT_NE(rhomb, nullptr);
    EXPECT_DOUBLE_EQ(rhomb->Reach(), 150);
    rhomb->SetTime(500);
    test::TRecordingSink sink({0, 0, 200, 100});
    rhomb->DrawEffect(sink);
    ASSERT_FALSE(sink.triangles.empty());
    for (const TEffVertex& v : sink.triangles) EXPECT_EQ(v.opacity, 255);
    // The diamond's corners lie at distance 75 from the centre.
    float right = 0;
    for (const TEffVertex& v : sink.triangles) right = std::max(right, v.x);
    EXPECT_FLOAT_EQ(right, 175);
}

TEST(Shapes, ZeroDuration_KeepsTheShapeAtItsStart) {
    auto effect = Make(6, 2, {}, {0, 0, 200, 100}, 0);
    effect->SetTime(500);
    EXPECT_DOUBLE_EQ(effect->InvDuration(), 0);
    test::TRecordingSink sink({0, 0, 200, 100});
    effect->DrawEffect(sink);
    EXPECT_TRUE(sink.triangles.empty());
}

TEST(Mosaic, Thresholds_ComeFromTheEffectsSeedAlone) {
    TEffectParams params;
    params.MosaicDX = 8;
    params.MosaicDY = 6;
    params.MosaicSC = 40;
    params.Seed = 1234;
    auto a = Make(1, 0, params);
    std::srand(1);  // other users of the process-wide generator change nothing
    auto b = Make(1, 0, params);
    params.Seed = 1235;
    auto c = Make(1, 0, params);
    auto* ra = dynamic_cast<TRandomFilter*>(a.get());
    ASSERT_NE(ra, nullptr);
    EXPECT_EQ(ra->Thresholds().size(), 48u);
    EXPECT_EQ(ra->Thresholds(), dynamic_cast<TRandomFilter*>(b.get())->Thresholds());
    EXPECT_NE(ra->Thresholds(), dynamic_cast<TRandomFilter*>(c.get())->Thresholds());
    EXPECT_DOUBLE_EQ(ra->Spread(), 40);
    for (int32_t t : ra->Thresholds()) {
        EXPECT_GE(t, 0);
        EXPECT_LE(t, 4000);
    }
}

TEST(Mosaic, Spread_ZeroFadesTogetherAndHundredOrMoreIsAThousand) {
    TEffectParams params;
    params.MosaicDX = params.MosaicDY = 4;
    params.MosaicSC = 0;
    auto together = Make(1, 0, params);
    auto* t = dynamic_cast<TRandomFilter*>(together.get());
    for (int32_t threshold : t->Thresholds()) EXPECT_EQ(threshold, 0);
    t->SetTime(500);
    EXPECT_EQ(t->Level(), -128);
    params.MosaicSC = 100;
    auto quick = Make(1, 0, params);
    EXPECT_DOUBLE_EQ(dynamic_cast<TRandomFilter*>(quick.get())->Spread(), 1000);
    quick->SetTime(1000);
    EXPECT_EQ(dynamic_cast<TRandomFilter*>(quick.get())->Level(), 100000);
}

TEST(Mosaic, CellCounts_AreBoundedWhateverTheRecordSays) {
    TEffectParams params;
    params.MosaicDX = 1 << 30;
    params.MosaicDY = -5;
    auto effect = Make(1, 0, params);
    auto* mosaic = dynamic_cast<TRandomFilter*>(effect.get());
    EXPECT_EQ(mosaic->Columns(), TRandomFilter::kMaxCells);
    EXPECT_EQ(mosaic->Rows(), 1);
}

TEST(Mosaic, Cells_FadeByThresholdMinusLevel) {
    TEffectParams params;
    params.MosaicDX = 2;
    params.MosaicDY = 1;
    auto effect = Make(1, 0, params);  // spread 0: every threshold 0
    test::TRecordingSink sink({0, 0, 200, 100});
    effect->SetTime(0);
    effect->DrawEffect(sink);
    EXPECT_TRUE(sink.triangles.empty());  // diff 256: not drawn
    effect->SetTime(500);                 // level -128, diff 128
    effect->DrawEffect(sink);
    ASSERT_EQ(sink.triangles.size(), 12u);
    for (const TEffVertex& v : sink.triangles) EXPECT_EQ(v.opacity, 127);
    EXPECT_EQ(sink.triangles[1].x, 100);  // cell 0 ends half-way
}

TEST(PushAndSlide, Offsets_FollowTheProgressInTheTypesDirection) {
    const float expected[4][2] = {{50, 0}, {-50, 0}, {0, 25}, {0, -25}};
    for (int32_t type = 1; type <= 4; ++type) {
        auto effect = Make(12, type);
        auto* push = dynamic_cast<TPushFilter*>(effect.get());
        ASSERT_NE(push, nullptr);
        EXPECT_TRUE(push->EdgeExtend());
        push->SetTime(250);
        const TPointF offset = push->PushOffset({0, 0, 200, 100});
        EXPECT_FLOAT_EQ(offset.x, expected[type - 1][0]);
        EXPECT_FLOAT_EQ(offset.y, expected[type - 1][1]);
        // The entering slide is one size short of where the old one went.
        const TPointF enter = push->EnterShift({0, 0, 200, 100});
        EXPECT_FLOAT_EQ(enter.x, offset.x == 0 ? 0 : offset.x - (offset.x > 0 ? 200 : -200));
        EXPECT_FLOAT_EQ(enter.y, offset.y == 0 ? 0 : offset.y - (offset.y > 0 ? 100 : -100));
    }
}

TEST(PushAndSlide, SlideIn_KeepsTheTextureOfTheUnmovedRectangle) {
    auto effect = Make(13, 2);
    ASSERT_NE(dynamic_cast<TSlideFilter*>(effect.get()), nullptr);
    EXPECT_EQ(dynamic_cast<TPushFilter*>(effect.get()), nullptr);
    effect->SetTime(750);
    test::TRecordingSink sink({0, 0, 200, 100});
    effect->DrawEffect(sink);
    ASSERT_EQ(sink.mesh.size(), 6u);
    EXPECT_FLOAT_EQ(sink.mesh[0].x, 50);
    EXPECT_FLOAT_EQ(sink.mesh[0].s, 0);
}

TEST(Push, SoftDevice_BothSlidesTravelTogether) {
    test::TEffectRig rig(80, 20);
    const std::vector<uint32_t> oldFrame = rig.SlideFrame(false), newFrame = rig.SlideFrame(true);
    test::TTestFilter filter(12, 1);
    const std::vector<uint32_t> frame = rig.TransitionFrame(filter, 250);  // 20 pixels
    for (int32_t y = 0; y < 20; y += 7)
        for (int32_t x = 0; x < 80; ++x) {
            const uint32_t want = x < 20 ? newFrame[size_t(y * 80 + x + 60)] : oldFrame[size_t(y * 80 + x - 20)];
            EXPECT_EQ(frame[size_t(y * 80 + x)], want) << x << "," << y;
        }
}

}  // namespace
}  // namespace orb
