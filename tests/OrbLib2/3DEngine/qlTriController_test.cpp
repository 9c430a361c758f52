#include "OrbLib2/3DEngine/qlTriController.h"

#include <gtest/gtest.h>

#include "QlLib/qpExceptions.h"
#include "tests/OrbLib2/3DEngine/EffectTestSupport.h"

namespace orb {
namespace {

TEST(Separator, TriangleAcrossTheLine_KeepsTheGreaterSideWithInterpolatedCorners) {
    const TCutVertex in[3] = {{0, 0, 1, 0, 0}, {10, 0, 1, 100, 0}, {0, 10, 1, 0, 100}};
    TCutVertex out[T2DSeparator::kMaxCorners];
    const int32_t n = T2DSeparator(true, 5, true).Cut(in, 3, out);
    ASSERT_EQ(n, 3);
    for (int32_t i = 0; i < n; ++i) EXPECT_GE(out[i].x, 5.0f);
    // The new corners carry the texture position of where they lie.
    for (int32_t i = 0; i < n; ++i) EXPECT_FLOAT_EQ(out[i].s, out[i].x * 10);
}

TEST(Separator, HomogeneousCorners_AreCutWhereTheScreenPointMeetsTheLine) {
    // Screen points (0, 0) and (20, 0); the second has w = 2.
    const TCutVertex in[3] = {{0, 0, 1}, {40, 0, 2}, {0, 10, 1}};
    TCutVertex out[T2DSeparator::kMaxCorners];
    const int32_t n = T2DSeparator(true, 10, false).Cut(in, 3, out);
    ASSERT_GE(n, 3);
    bool onLine = false;
    for (int32_t i = 0; i < n; ++i) {
        EXPECT_LE(out[i].x / out[i].w, 10.0f + 1e-4f);
        onLine |= std::abs(out[i].x / out[i].w - 10.0f) < 1e-4f && out[i].y == 0;
    }
    EXPECT_TRUE(onLine);
}

TEST(Separator, TriangleWhollyOnTheOtherSide_LeavesNothing) {
    const TCutVertex in[3] = {{0, 0, 1}, {4, 0, 1}, {0, 4, 1}};
    TCutVertex out[T2DSeparator::kMaxCorners];
    EXPECT_EQ(T2DSeparator(false, 5, true).Cut(in, 3, out), 0);
}

TEST(MultiTile, BaseSink_OtherOperationsRaiseNotSupportedYet) {
    struct TPlain : TMultiTile {
        void Begin() override {}
        void AddTriangles(std::span<const TEffVertex>) override {}
        void End() override {}
    } plain;
    const TEffVertex v[3];
    const TMeshVertex m[3];
    for (const auto& call : std::vector<std::function<void()>>{[&] { plain.AddStrip(v); }, [&] { plain.AddFan(v); },
                                                                [&] { plain.AddMesh(m); },
                                                                [&] { plain.FillMesh(m); }}) {
        try {
            call();
            ADD_FAILURE() << "no exception";
        } catch (const ql::TCommonException& e) {
            EXPECT_STREQ(e.what(), "Not Supported Yet");
        }
    }
}

TEST(EffController, TrianglesOutsideTheTarget_AreCutAwayAndNothingIsDrawnThere) {
    test::TEffectRig rig(64, 48);
    const std::vector<uint32_t> before = rig.SlideFrame(false);
    int32_t drawn = -1;
    test::TTestFilter none(0, 0);
    struct TScene : TDrawScene {
        test::TEffectRig& rig;
        int32_t& drawn;
        TScene(test::TEffectRig& r, int32_t& d) : rig(r), drawn(d) {}
        void Draw(TDeviceDrawer& d) override {
            rig.oldSlide->Draw(d);
            TRenderTargetTexture* texture = rig.drawer->RenderSlideToTexture(*rig.newSlide);
            TEffController& sink = rig.drawer->EffectSink();
            sink.SetMapping({0, 0, 64, 48}, {16, 8, 48, 40});
            sink.SetTexture(texture);
            sink.Begin();
            // One triangle far outside, one quad over everything.
            AddQuad(sink, {-500, -500, 255}, {-400, -500, 255}, {-400, -400, 255}, {-500, -400, 255});
            sink.End();
            drawn = sink.DrawnTriangles();
            sink.Begin();
            AddQuad(sink, {-100, -100, 255}, {200, -100, 255}, {200, 200, 255}, {-100, 200, 255});
            sink.End();
        }
    } scene(rig, drawn);
    ASSERT_TRUE(rig.drawer->DrawScene(scene));
    EXPECT_EQ(drawn, 0);
    const std::vector<uint32_t> frame = rig.Frame();
    const std::vector<uint32_t> light = rig.SlideFrame(true);
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x) {
            const bool inside = x >= 16 && x < 48 && y >= 8 && y < 40;
            const size_t i = size_t(y * 64 + x);
            // Inside the target the slide shows where it lies (texture from position).
            EXPECT_EQ(frame[i], inside ? light[i] : before[i]) << x << "," << y;
        }
}

}  // namespace
}  // namespace orb
