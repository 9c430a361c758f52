#include "OrbLib2/3DEngine/Dev3DApp2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "LogCapture.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlLog.h"

namespace orb {
namespace {

class TCountingTexture : public TCustomTexture {
public:
    using TCustomTexture::TCustomTexture;
    int32_t Fills = 0;
    bool FillTexture(int32_t level, ql::TBitmap& surface) override {
        ++Fills;
        return true;
    }
};

TEST(CustomTexture, Size_IsNextPowerOfTwoAtLeast32) {
    EXPECT_EQ(TextureSide(1), 32);
    EXPECT_EQ(TextureSide(32), 32);
    EXPECT_EQ(TextureSide(33), 64);
    EXPECT_EQ(TextureSide(300), 512);
    TSoftDevice device({8, 8});
    T3DScreen screen(device);
    TCustomTexture texture(screen, TTextureUsage::Managed);
    texture.SetSize(100, 20);
    EXPECT_EQ(texture.TexWidth(), 128);
    EXPECT_EQ(texture.TexHeight(), 32);
    EXPECT_DOUBLE_EQ(texture.InvWidth(), 1.0 / 128);
}

TEST(CustomTexture, RenderTargetOutOfMemory_ReleasesUpperHalvesUntilItFits) {
    // Eight pictures fill the memory; the target needs half of them back,
    // then (with two spare) three quarters, which takes a second halving.
    struct TCase {
        int32_t spareTiles, targetWidth, kept;
    };
    for (const TCase& c : {TCase{0, 64, 4}, TCase{2, 128, 2}}) {
        ql::test::TCapturedLog log;
        TSoftDevice device({8, 8});
        const int64_t tile = TRenderDevice::TextureBytes({64, 64, 1});
        device.SetMemoryBudget(tile * (8 + c.spareTiles));
        T3DScreen screen(device);
        std::vector<std::unique_ptr<TCountingTexture>> pictures;
        for (int32_t i = 0; i < 8; ++i) {
            pictures.push_back(std::make_unique<TCountingTexture>(screen, TTextureUsage::Managed));
            pictures.back()->SetSize(64, 64);
            ASSERT_NE(pictures.back()->GetTexture(), 0u);
            EXPECT_EQ(pictures.back()->Fills, 1);
        }
        TRenderTargetTexture target(screen, c.targetWidth, 256);
        EXPECT_NE(target.GetTexture(), 0u);
        EXPECT_TRUE(log.Has(u"Rt Create First Attempt Ok= False"));
        EXPECT_TRUE(log.Has(u"Released Managed Texs from 7 to 4; Rt Create 1nd Attempt Ok= "));
        if (c.kept == 2) {
            EXPECT_TRUE(
                log.Has(u"Released Managed Texs from 3 to 2; Rt Create 2nd Attempt Ok= True"));
        }
        for (int32_t i = 0; i < 8; ++i)
            EXPECT_EQ(pictures[size_t(i)]->Handle() != 0, i < c.kept) << i;
        // A released picture comes back from its source when next used.
        target.Release();
        EXPECT_NE(pictures[7]->GetTexture(), 0u);
        EXPECT_EQ(pictures[7]->Fills, 2);
    }
}

TEST(Screen, DeviceLoss_RunsLostHookThenReadyHookAndTexturesComeBack) {
    TSoftDevice device({8, 8});
    T3DScreen screen(device);
    int32_t lost = 0, ready = 0;
    screen.SetLostHook([&] { ++lost; });
    screen.SetReadyHook([&] { ++ready; });
    TCountingTexture texture(screen, TTextureUsage::Managed);
    texture.SetSize(32, 32);
    ASSERT_NE(texture.GetTexture(), 0u);
    device.SimulateLoss(1);
    EXPECT_FALSE(screen.BeginScene());
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(screen.Renderer(), nullptr);
    EXPECT_EQ(texture.Handle(), 0u);
    EXPECT_EQ(texture.GetTexture(), 0u);
    EXPECT_FALSE(screen.BeginScene());
    EXPECT_TRUE(screen.BeginScene());
    EXPECT_EQ(ready, 1);
    EXPECT_NE(texture.GetTexture(), 0u);
    EXPECT_EQ(texture.Fills, 2);
}

uint32_t ReadPixel(TSoftDevice& device, int32_t x, int32_t y) {
    ql::TDirectBitmap pixel(1, 1, ql::PfARGB32());
    EXPECT_EQ(device.ReadPixels({x, y, x + 1, y + 1}, pixel), TDxResult::Ok);
    return *reinterpret_cast<const uint32_t*>(pixel.Row(0));
}

TEST(Screen, RenderTargetStack_DrawsRelativeToTheTargetOriginAndPopsBack) {
    TSoftDevice device({16, 16});
    T3DScreen screen(device);
    ASSERT_TRUE(screen.BeginScene());
    EXPECT_EQ(screen.RenderTargetDepth(), 1u);
    TRenderTargetTexture target(screen, 8, 8);
    ASSERT_EQ(screen.PushRenderTarget(&target, {4, 4}), TDxResult::Ok);
    EXPECT_EQ(screen.RenderTargetDepth(), 2u);
    screen.Clear(0);
    TVertex quad[4];
    const float corners[4][2] = {{4, 4}, {6, 4}, {6, 6}, {4, 6}};
    for (int32_t i = 0; i < 4; ++i) {
        quad[i].x = corners[i][0];
        quad[i].y = corners[i][1];
        quad[i].colour = 0xFFFF0000u;
    }
    ASSERT_EQ(screen.DrawQuad(TDrawState(), quad), TDxResult::Ok);
    // Output (4, 4) is the target's first pixel.
    EXPECT_EQ(ReadPixel(device, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(ReadPixel(device, 2, 2), 0u);
    screen.PopRenderTarget();
    EXPECT_EQ(screen.RenderTargetDepth(), 1u);
    EXPECT_EQ(ReadPixel(device, 0, 0), 0u);  // the back buffer again

    // A picture texture cannot be a target: nothing is pushed.
    TCountingTexture picture(screen, TTextureUsage::Managed);
    picture.SetSize(8, 8);
    EXPECT_NE(screen.PushRenderTarget(&picture, {0, 0}), TDxResult::Ok);
    EXPECT_EQ(screen.RenderTargetDepth(), 1u);
    // A loss empties the stack; the back buffer comes back with the next scene.
    device.SimulateLoss();
    EXPECT_FALSE(screen.BeginScene());
    EXPECT_EQ(screen.RenderTargetDepth(), 0u);
    EXPECT_TRUE(screen.BeginScene());
    EXPECT_EQ(screen.RenderTargetDepth(), 1u);
}

}  // namespace
}  // namespace orb
