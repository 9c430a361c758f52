#include "OrbLib2/3DEngine/Dev3DEffects2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <numbers>

#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "QlLib/Platform/qlGlApi.h"
#include "tests/OrbLib2/3DEngine/EffectTestSupport.h"

namespace orb {
namespace {

std::unique_ptr<TDrawFilter> Make(int32_t effectClass, int32_t type,
                                  const TEffectParams& params = {},
                                  const TTransitionFilter* slide = nullptr) {
    return CreateEffect({0, 0, 200, 100}, effectClass, type, slide, params, 1000);
}

TEST(Factory, ClassesOfTheTable_MakeTheirEffects) {
    EXPECT_EQ(Make(0, 1), nullptr);
    EXPECT_EQ(Make(-1, 1), nullptr);
    EXPECT_NE(dynamic_cast<TRandomFilter*>(Make(1, 0).get()), nullptr);
    EXPECT_NE(dynamic_cast<TAlphaFilter*>(Make(2, 0).get()), nullptr);
    EXPECT_NE(dynamic_cast<TClockEffect*>(Make(3, 1).get()), nullptr);
    EXPECT_NE(dynamic_cast<TCircleFilter*>(Make(4, 1).get()), nullptr);
    EXPECT_NE(dynamic_cast<TRhombFilter*>(Make(5, 1).get()), nullptr);
    EXPECT_NE(dynamic_cast<TSquareFilter*>(Make(6, 1).get()), nullptr);
    EXPECT_NE(dynamic_cast<THLines*>(Make(7, 2).get()), nullptr);
    EXPECT_NE(dynamic_cast<TVLines*>(Make(7, 3).get()), nullptr);
    EXPECT_NE(dynamic_cast<TDiagLines*>(Make(8, 4).get()), nullptr);
    EXPECT_NE(dynamic_cast<THLines*>(Make(9, 2).get()), nullptr);
    EXPECT_NE(dynamic_cast<TVLines*>(Make(9, 4).get()), nullptr);
    EXPECT_NE(dynamic_cast<TDiagLines*>(Make(10, 3).get()), nullptr);
    EXPECT_NE(dynamic_cast<TBroomEffect*>(Make(11, 16).get()), nullptr);
    EXPECT_NE(dynamic_cast<TPushFilter*>(Make(12, 1).get()), nullptr);
    EXPECT_NE(dynamic_cast<TSlideFilter*>(Make(13, 4).get()), nullptr);
    EXPECT_NE(dynamic_cast<TRollEffect2*>(Make(14, 8).get()), nullptr);
    EXPECT_NE(dynamic_cast<TRollEffect2*>(Make(15, 1).get()), nullptr);
    EXPECT_NE(dynamic_cast<TOverturnEffect*>(Make(16, 4).get()), nullptr);
    EXPECT_NE(dynamic_cast<TTwoSlidesEffect*>(Make(17, 2).get()), nullptr);
    auto effect = Make(11, 5);
    EXPECT_EQ(effect->EffectClass(), 11);
    EXPECT_EQ(effect->EffectType(), 5);
}

TEST(Factory, UnknownClassesAndTypes_FallBackToACrossFade) {
    const int32_t cases[][2] = {
        {19, 1}, {1000, 1}, {7, 0},   {7, 5},  {8, 5},  {9, 0},
        {10, 9}, {11, 0},   {11, 17}, {12, 0}, {12, 5}, {13, 99},
        {14, 9}, {15, -3},  {16, 5},  {17, 0}, {18, 1}, {std::numeric_limits<int32_t>::max(), 1}};
    for (const auto& c : cases) {
        auto effect = Make(c[0], c[1]);
        EXPECT_NE(dynamic_cast<TAlphaFilter*>(effect.get()), nullptr) << c[0] << "/" << c[1];
        EXPECT_EQ(effect->EffectClass(), c[0]);
    }
}

TEST(Factory, ReverseFlags_FollowTheTypes) {
    EXPECT_TRUE(Make(4, 1)->Reverse());
    EXPECT_FALSE(Make(4, 2)->Reverse());
    EXPECT_TRUE(Make(5, 1)->Reverse());
    EXPECT_TRUE(Make(6, 1)->Reverse());
    EXPECT_FALSE(Make(6, 3)->Reverse());
    EXPECT_TRUE(Make(7, 1)->Reverse());
    EXPECT_FALSE(Make(7, 2)->Reverse());
    EXPECT_TRUE(Make(7, 3)->Reverse());
    EXPECT_FALSE(Make(7, 4)->Reverse());
    EXPECT_TRUE(Make(8, 1)->Reverse());
    EXPECT_TRUE(Make(8, 3)->Reverse());
    EXPECT_FALSE(Make(8, 4)->Reverse());
    EXPECT_FALSE(Make(9, 1)->Reverse());
    EXPECT_FALSE(Make(10, 1)->Reverse());
    EXPECT_FALSE(Make(11, 8)->Reverse());
    EXPECT_TRUE(Make(11, 9)->Reverse());
    EXPECT_FALSE(Make(14, 4)->Reverse());
    EXPECT_TRUE(Make(14, 5)->Reverse());
    EXPECT_FALSE(Make(3, 2)->Reverse());
}

TEST(Factory, ParameterCopy_CarriesPixelsAndRadians) {
    TEffectParams params;
    params.RollDiameter = 0.1f;
    params.BroomOffset = 0.5f;
    params.Smoothline = 0.053f;  // 10.6 pixels on 200: rounded
    params.SwapMaxAngle = 45;
    auto effect = Make(11, 1, params);
    EXPECT_FLOAT_EQ(effect->Params().RollDiameter, 20);
    EXPECT_FLOAT_EQ(effect->Params().BroomOffset, 75);
    EXPECT_FLOAT_EQ(effect->Params().SwapMaxAngle, float(std::numbers::pi / 4));
    EXPECT_FLOAT_EQ(effect->SoftEdge(), 11);
    EXPECT_FLOAT_EQ(effect->Duration(), 1000);
    params.Smoothline = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FLOAT_EQ(Make(4, 2, params)->SoftEdge(), 0);
}

TEST(Factory, WildRecordValues_AreBoundedAndStillDraw) {
    TEffectParams params;
    params.CenterX = std::numeric_limits<int32_t>::max();
    params.CenterY = std::numeric_limits<int32_t>::min();
    params.BroomOffset = std::numeric_limits<float>::infinity();
    params.Smoothline = 1e30f;
    params.FlipCurving = -1e30f;
    params.SwapDepth = std::numeric_limits<float>::quiet_NaN();
    auto circle = Make(4, 2, params);
    EXPECT_LT(dynamic_cast<TCircleFilter*>(circle.get())->CentreX(), 200 * 10 + 1);
    EXPECT_FLOAT_EQ(circle->SoftEdge(), 200);
    EXPECT_FLOAT_EQ(Make(11, 1, params)->Params().BroomOffset, 0);
    test::TEffectRig rig(48, 32);
    for (const int32_t effectClass : {4, 11, 16, 17}) {
        test::TTestFilter filter(effectClass, 1);
        filter.params = params;
        EXPECT_EQ(rig.TransitionFrame(filter, 500).size(), 48u * 32u) << effectClass;
    }
}

class TCustomProbe : public TSlideEffFilter {
public:
    void DrawTargets(TDeviceDrawer&, TEffectTarget& target, TCustomTexture* first,
                     TCustomTexture* second) override {
        firstSeen = first;
        secondSeen = second;
        progressSeen = m_progress;
        ++draws;
        // Shows the new slide: the drawer's sink draws what it is given.
        auto& sink = static_cast<TEffController&>(target.Sink());
        sink.SetTexture(second);
        sink.Begin();
        const ql::TRect r = FilterRect();
        AddQuad(sink, {float(r.left), float(r.top), 255}, {float(r.right), float(r.top), 255},
                {float(r.right), float(r.bottom), 255}, {float(r.left), float(r.bottom), 255});
        sink.End();
    }
    void Finish() override {
        if (onFinish) onFinish();
    }
    std::function<void()> onFinish;
    TCustomTexture* firstSeen = nullptr;
    TCustomTexture* secondSeen = nullptr;
    double progressSeen = -1;
    int32_t draws = 0;
};

struct TFactoryReset {
    ~TFactoryReset() { SetCustomEffectFactory(nullptr); }
};

TEST(CustomClass, WithoutTheHook_IsACrossFadeAndWithItTheHooksEffect) {
    TFactoryReset reset;
    test::TTestFilter slide(18, 1);
    slide.params.CustomText = u"fx.ini";
    EXPECT_NE(dynamic_cast<TAlphaFilter*>(Make(18, 1, slide.params, &slide).get()), nullptr);
    std::u16string textSeen;
    const TTransitionFilter* slideSeen = nullptr;
    SetCustomEffectFactory(
        [&](const TTransitionFilter& s, const ql::TRect&, const TEffectParams& p) {
            slideSeen = &s;
            textSeen = p.CustomText;
            return std::make_unique<TCustomProbe>();
        });
    auto effect = Make(18, 1, slide.params, &slide);
    EXPECT_NE(dynamic_cast<TCustomProbe*>(effect.get()), nullptr);
    EXPECT_EQ(slideSeen, &slide);
    EXPECT_EQ(textSeen, u"fx.ini");
    EXPECT_EQ(effect->EffectClass(), 18);
}

TEST(CustomClass, Drawer_HandsTheEffectBothRenderedSlidesAndTheProgress) {
    TFactoryReset reset;
    TCustomProbe* probe = nullptr;
    SetCustomEffectFactory([&](const TTransitionFilter&, const ql::TRect&, const TEffectParams&) {
        auto made = std::make_unique<TCustomProbe>();
        probe = made.get();
        return made;
    });
    test::TEffectRig rig(48, 32);
    const std::vector<uint32_t> newFrame = rig.SlideFrame(true);
    test::TTestFilter filter(18, 1);
    const std::vector<uint32_t> frame = rig.TransitionFrame(filter, 300);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe->draws, 1);
    EXPECT_NE(probe->firstSeen, nullptr);
    EXPECT_NE(probe->secondSeen, nullptr);
    EXPECT_NE(probe->firstSeen, probe->secondSeen);
    EXPECT_DOUBLE_EQ(probe->progressSeen, 0.3);
    EXPECT_EQ(frame, newFrame);
    // The effect object is made once and kept by the filter.
    TDrawFilter* first = filter.EffectObject();
    rig.TransitionFrame(filter, 400);
    EXPECT_EQ(filter.EffectObject(), first);
    EXPECT_EQ(probe->draws, 2);
    // At the end it is finished and dropped.
    bool finished = false;
    probe->onFinish = [&] { finished = true; };
    rig.TransitionFrame(filter, 1000);
    EXPECT_TRUE(finished);
    EXPECT_EQ(filter.EffectObject(), nullptr);
}

struct TEffectCase {
    int32_t effectClass, type;
};

const TEffectCase kEveryEffect[] = {{1, 0},  {2, 0},  {3, 1},  {3, 2},  {4, 1},   {4, 2},  {5, 2},
                                    {6, 1},  {7, 2},  {7, 3},  {8, 2},  {8, 3},   {9, 1},  {9, 3},
                                    {10, 2}, {10, 3}, {11, 1}, {11, 6}, {11, 12}, {12, 2}, {12, 3},
                                    {13, 1}, {13, 4}, {14, 1}, {14, 6}, {15, 3},  {15, 8}, {16, 1},
                                    {16, 4}, {17, 1}, {17, 4}};

TEffectParams Lively() {
    TEffectParams p;
    p.Smoothline = 0.1f;
    p.CenterX = p.CenterY = 50;
    p.MosaicDX = 6;
    p.MosaicDY = 4;
    p.MosaicSC = 30;
    p.Seed = 99;
    p.BroomOffset = 0.2f;
    p.RollDiameter = 0.2f;
    p.Roll3D = true;
    p.FlipCurving = 0.5f;
    p.FlipSmooth = true;
    p.SwapDepth = 4;
    p.SwapWidth = 1;
    p.SwapMaxAngle = 60;
    return p;
}

TEST(EveryEffect, ProgressZeroShowsTheOldSlideAndOneTheNew) {
    test::TEffectRig rig(96, 64);
    const std::vector<uint32_t> oldFrame = rig.SlideFrame(false), newFrame = rig.SlideFrame(true);
    for (const TEffectCase c : kEveryEffect) {
        for (const bool flipCentre : {false, true}) {
            if (flipCentre && c.effectClass != 16) continue;
            test::TTestFilter filter(c.effectClass, c.type);
            filter.params = Lively();
            filter.params.FlipCenter = flipCentre;
            EXPECT_LE(test::MaxDiff(rig.TransitionFrame(filter, 0), oldFrame), 1)
                << c.effectClass << "/" << c.type << " at 0";
            // The last moment before the drawer shows the new slide alone.
            EXPECT_LE(test::MaxDiff(rig.TransitionFrame(filter, 999.9999), newFrame), 2)
                << c.effectClass << "/" << c.type << " at 1";
            EXPECT_EQ(rig.TransitionFrame(filter, 1000), newFrame);
        }
    }
}

TEST(EveryEffect, ChangedAreaGrowsSteadily) {
    test::TEffectRig rig(64, 48);
    const std::vector<uint32_t> oldFrame = rig.SlideFrame(false);
    // Effects whose covered part only grows (push, flip and swap move
    // everything; the roll shows the slide squeezed, which may match the old
    // one here and there: its own test follows the geometry).
    for (const TEffectCase c : kEveryEffect) {
        if (c.effectClass == 12 || c.effectClass >= 14) continue;
        test::TTestFilter filter(c.effectClass, c.type);
        filter.params = Lively();
        int32_t previous = 0;
        for (int32_t step = 1; step < 10; ++step) {
            const int32_t changed =
                test::Changed(rig.TransitionFrame(filter, step * 100.0), oldFrame);
            EXPECT_GE(changed, previous) << c.effectClass << "/" << c.type << " step " << step;
            previous = changed;
        }
        EXPECT_GT(previous, 64 * 48 / 2) << c.effectClass << "/" << c.type;
    }
}

TEST(EveryEffect, SeekingBackwards_DrawsTheSameFrameAgain) {
    test::TEffectRig rig(96, 64);
    for (const TEffectCase c : {TEffectCase{1, 0}, TEffectCase{3, 1}, TEffectCase{11, 6},
                                TEffectCase{14, 1}, TEffectCase{16, 1}, TEffectCase{17, 2}}) {
        test::TTestFilter filter(c.effectClass, c.type);
        filter.params = Lively();
        const std::vector<uint32_t> first = rig.TransitionFrame(filter, 400);
        rig.TransitionFrame(filter, 800);
        EXPECT_EQ(rig.TransitionFrame(filter, 400), first) << c.effectClass;
    }
}

TEST(Clock, Hand_SweepsClockwiseFromTwelveAndTheMirrorAnticlockwise) {
    test::TEffectRig rig(100, 100);
    const std::vector<uint32_t> newFrame = rig.SlideFrame(true);
    auto isNew = [&](const std::vector<uint32_t>& f, int32_t x, int32_t y) {
        return f[size_t(y * 100 + x)] == newFrame[size_t(y * 100 + x)];
    };
    test::TTestFilter clockwise(3, 1), mirrored(3, 2);
    const std::vector<uint32_t> a = rig.TransitionFrame(clockwise, 300);  // hand at 108 degrees
    EXPECT_TRUE(isNew(a, 80, 30));                                        // upper right: swept
    EXPECT_TRUE(isNew(a, 90, 52));   // just below three o'clock
    EXPECT_FALSE(isNew(a, 20, 30));  // upper left: not yet
    EXPECT_FALSE(isNew(a, 50, 90));  // six o'clock: not yet
    const std::vector<uint32_t> b = rig.TransitionFrame(mirrored, 300);
    EXPECT_TRUE(isNew(b, 20, 30));
    EXPECT_FALSE(isNew(b, 80, 30));
}

TEST(Broom, Position_RunsFromBeforeTheRectangleToPastIt) {
    TEffectParams params;
    params.BroomOffset = 0.1f;          // 15 pixels
    params.Smoothline = 0.05f;          // 10 pixels
    auto effect = Make(11, 2, params);  // moving right
    auto* broom = dynamic_cast<TBroomEffect*>(effect.get());
    ASSERT_NE(broom, nullptr);
    test::TRecordingSink sink({0, 0, 200, 100});
    broom->SetTime(0);
    broom->DrawEffect(sink);
    EXPECT_DOUBLE_EQ(broom->Position(), -15);
    for (const TEffVertex& v : sink.triangles)
        if (v.opacity > 0) {
            EXPECT_LE(v.x, 0.001f);
        }
    broom->SetTime(1000);
    EXPECT_DOUBLE_EQ(broom->Position(), 210);
    auto reversed = Make(11, 10, params);
    reversed->SetTime(0);
    EXPECT_DOUBLE_EQ(dynamic_cast<TBroomEffect*>(reversed.get())->Position(), 210);
}

TEST(Flip, Angle_TurnsTheOldPictureAwayThenBringsTheNewOneBack) {
    TEffectParams params;
    auto effect = Make(16, 1, params);
    auto* flip = dynamic_cast<TOverturnEffect*>(effect.get());
    ASSERT_NE(flip, nullptr);
    flip->SetTime(0);
    EXPECT_DOUBLE_EQ(flip->Angle(), 0);
    flip->SetTime(250);
    EXPECT_NEAR(flip->Angle(), std::numbers::pi / 4, 1e-9);
    flip->SetTime(750);
    EXPECT_NEAR(flip->Angle(), -std::numbers::pi / 4, 1e-9);
    flip->SetTime(1000);
    EXPECT_NEAR(flip->Angle(), 0, 1e-9);
}

TEST(Roll, Contact_TravelsFromOneRadiusBeforeToTheFarSide) {
    TEffectParams params;
    params.RollDiameter = 0.1f;  // 20 pixels
    auto effect = Make(14, 1, params);
    auto* roll = dynamic_cast<TRollEffect2*>(effect.get());
    ASSERT_NE(roll, nullptr);
    EXPECT_TRUE(roll->EdgeExtend());
    roll->SetTime(0);
    EXPECT_DOUBLE_EQ(roll->Contact(), -10);
    roll->SetTime(1000);
    EXPECT_DOUBLE_EQ(roll->Contact(), 200);
    // The flat part ends at the contact line and the roll stays within one
    // radius of it, its front moving on steadily.
    double lastFront = -1e9;
    for (int32_t step = 1; step < 20; ++step) {
        roll->SetTime(step * 50.0f);
        test::TRecordingSink sink({0, 0, 200, 100});
        roll->DrawEffect(sink);
        const double c = roll->Contact();
        float flatEnd = -1e9f;
        for (const TEffVertex& v : sink.triangles) flatEnd = std::max(flatEnd, v.x);
        EXPECT_NEAR(flatEnd, c, 1e-3) << step;
        double front = c;
        for (const TMeshVertex& v : sink.mesh) {
            EXPECT_GE(v.x, c - 10 - 1e-3) << step;
            EXPECT_LE(v.x, c + 10 + 1e-3) << step;
            EXPECT_GE(v.s, c - 1e-3) << step;  // the roll shows material beyond the line
            front = std::max(front, double(v.x));
        }
        EXPECT_GE(front, lastFront) << step;
        lastFront = front;
    }
}

// The OpenGL device draws the same effects within tolerance of the
// software device, where this machine has GL.
TEST(EveryEffect, OpenGl_AgreesWithTheSoftwareDevice) {
    std::string error;
    std::unique_ptr<TRenderDevice> gl = TGlDevice::CreateHeadless(96, 64, error);
    if (!gl) GTEST_SKIP() << "no OpenGL 3.3 core context here: " << error;
    test::TEffectRig soft(96, 64), hard(96, 64, std::move(gl));
    for (const TEffectCase c : {TEffectCase{1, 0}, TEffectCase{2, 0}, TEffectCase{3, 1},
                                TEffectCase{4, 2}, TEffectCase{11, 6}, TEffectCase{12, 1},
                                TEffectCase{14, 1}, TEffectCase{16, 1}, TEffectCase{17, 1}}) {
        test::TTestFilter a(c.effectClass, c.type), b(c.effectClass, c.type);
        a.params = b.params = Lively();
        const std::vector<uint32_t> x = soft.TransitionFrame(a, 350),
                                    y = hard.TransitionFrame(b, 350);
        ASSERT_EQ(x.size(), y.size());
        double sum = 0;
        for (size_t i = 0; i < x.size(); ++i)
            for (int32_t shift = 0; shift < 24; shift += 8) {
                const double d = double(x[i] >> shift & 255) - double(y[i] >> shift & 255);
                sum += d * d;
            }
        const double psnr =
            sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / (sum / (x.size() * 3.0)));
        std::printf("[ PSNR     ] effect %d/%d: %.2f dB\n", c.effectClass, c.type, psnr);
        EXPECT_GT(psnr, 30.0) << c.effectClass << "/" << c.type;
    }
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// Light pixels belong to the new slide, dark ones to the old (the test
// slides are apart by more than any shading).
bool IsLight(uint32_t pixel) {
    return (pixel >> 8 & 255) >= 96;
}

TEST(DrawerOrder, ReverseEffects_PutTheNewSlideUnderneath) {
    test::TEffectRig rig(64, 64);
    test::TTestFilter closing(4, 1);
    closing.params.CenterX = closing.params.CenterY = 50;
    const std::vector<uint32_t> frame = rig.TransitionFrame(closing, 500);
    EXPECT_FALSE(IsLight(frame[size_t(32 * 64 + 32)]));  // the old slide still in the middle
    EXPECT_TRUE(IsLight(frame[size_t(1 * 64 + 1)]));     // the new one in the corners
}

TEST(DrawerOrder, Flip_TurnsTheOldPictureInTheFirstHalfAndTheNewInTheSecond) {
    test::TEffectRig rig(64, 64);
    for (const bool centre : {false, true}) {
        test::TTestFilter flip(16, 1);
        flip.params.FlipCenter = centre;
        EXPECT_FALSE(IsLight(rig.TransitionFrame(flip, 250)[size_t(32 * 64 + 20)])) << centre;
        EXPECT_TRUE(IsLight(rig.TransitionFrame(flip, 750)[size_t(32 * 64 + 20)])) << centre;
    }
}

TEST(DrawerOrder, Swap_TheOldPictureInFrontBeforeHalfWayAndTheNewAfter) {
    test::TEffectRig rig(64, 64);
    test::TTestFilter swap(17, 1);
    // Early on the old picture covers the middle, late the new one does.
    EXPECT_FALSE(IsLight(rig.TransitionFrame(swap, 100)[size_t(32 * 64 + 32)]));
    EXPECT_TRUE(IsLight(rig.TransitionFrame(swap, 900)[size_t(32 * 64 + 32)]));
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

TEST(TransitionFilter, Copy_StartsWithoutTheEffectObject) {
    test::TEffectRig rig(32, 32);
    test::TTestFilter filter(4, 2);
    rig.TransitionFrame(filter, 100);
    ASSERT_NE(filter.EffectObject(), nullptr);
    test::TTestFilter copy = filter;
    EXPECT_EQ(copy.EffectObject(), nullptr);
    EXPECT_EQ(copy.EffectClass(), 4);
    copy = filter;
    EXPECT_EQ(copy.EffectObject(), nullptr);
    EXPECT_NE(filter.EffectObject(), nullptr);
}

}  // namespace
}  // namespace orb
