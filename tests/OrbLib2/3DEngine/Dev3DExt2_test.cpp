#include "OrbLib2/3DEngine/Dev3DExt2.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "OrbLib2/3DBasics/qlSoftDevice.h"

namespace orb {
namespace {

std::unique_ptr<ql::TDirectBitmap> RandomPicture(int32_t w, int32_t h, uint32_t seed) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(w, h, ql::PfARGB32());
    std::mt19937 random(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t c = 0xFF000000u | (random() & 0xFFFFFFu);
            std::memcpy(bitmap->Row(y) + x * 4, &c, 4);
        }
    return bitmap;
}

uint32_t PixelOf(const ql::TBitmap& bitmap, int32_t x, int32_t y) {
    uint32_t c;
    std::memcpy(&c, bitmap.Row(y) + x * 4, 4);
    return c;
}

struct TRig {
    explicit TRig(int32_t w = 8, int32_t h = 8) : device({w, h}), screen(device), manager(screen) {
        manager.SetUploadPause(std::chrono::milliseconds(0));
    }
    TSoftDevice device;
    T3DScreen screen;
    TTextureManager6 manager;
};

ql::TPoint ManagerSize(const TTextureTile& tile) { return {tile.Manager().Width(), tile.Manager().Height()}; }

TEST(TextureManager, GetTile_TakesLargestUsefulAreaThenLeastWaste) {
    TRig rig;
    auto wide = rig.manager.GetTile(256, 100);
    EXPECT_EQ(ManagerSize(*wide), (ql::TPoint{256, 128}));
    EXPECT_EQ(wide->UsedSize(), (ql::TPoint{256, 100}));
    auto small = rig.manager.GetTile(12, 12);
    EXPECT_EQ(ManagerSize(*small), (ql::TPoint{64, 64}));
    auto big = rig.manager.GetTile(302, 202);
    EXPECT_EQ(ManagerSize(*big), (ql::TPoint{256, 256}));
    EXPECT_EQ(big->UsedSize(), (ql::TPoint{256, 202}));
}

TEST(TextureManager, FreedTile_IsReusedMostRecentFirst) {
    TRig rig;
    auto a = rig.manager.GetTile(64, 64);
    auto b = rig.manager.GetTile(64, 64);
    TTextureTile* second = b.get();
    const TTextureHandle handle = second->Handle();
    rig.manager.ReturnTile(std::move(a));
    rig.manager.ReturnTile(std::move(b));
    auto again = rig.manager.GetTile(40, 40);
    EXPECT_EQ(again.get(), second);
    EXPECT_EQ(again->Handle(), handle);
    EXPECT_EQ(again->UsedSize(), (ql::TPoint{40, 40}));
}

TEST(TextureManager, TransientOutOfMemory_DoesNotGiveUpASize) {
    TRig rig;
    // Room for a 64 x 64 texture but not a 256 x 256 one.
    rig.device.SetMemoryBudget(TRenderDevice::TextureBytes({64, 256, 1}));
    auto tile = rig.manager.GetTile(300, 300);
    ASSERT_NE(tile, nullptr);
    EXPECT_NE(tile->Handle(), 0u);
    EXPECT_EQ(ManagerSize(*tile), (ql::TPoint{64, 256}));
    EXPECT_EQ(rig.manager.Managers().size(), 6u);
    // Memory is back: the large size serves again.
    rig.device.SetMemoryBudget(int64_t(64) << 20);
    auto large = rig.manager.GetTile(300, 300);
    EXPECT_EQ(ManagerSize(*large), (ql::TPoint{256, 256}));
    EXPECT_NE(large->Handle(), 0u);
}

TEST(TextureManager, NoMemoryAtAll_GivesTileWithoutTextureYet) {
    TRig rig;
    rig.device.SetMemoryBudget(0);
    auto tile = rig.manager.GetTile(300, 300);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->Handle(), 0u);
    EXPECT_EQ(ManagerSize(*tile), (ql::TPoint{256, 256}));
    EXPECT_EQ(rig.manager.Managers().size(), 6u);
}

TEST(MultiTexture, Picture300x200_InteriorsTileTheViewExactly) {
    TRig rig;
    auto picture = RandomPicture(300, 200, 1);
    TMultiTexture6 multi(rig.manager);
    multi.SetSource(picture.get(), nullptr, 1, 1, picture->Bounds());
    multi.BuildTiles();
    ASSERT_GE(multi.Tiles().size(), 2u);
    const TTextureTile& first = *multi.Tiles()[0];
    EXPECT_EQ(first.Origin(), (ql::TPoint{-1, -1}));
    EXPECT_EQ(ManagerSize(first), (ql::TPoint{256, 256}));
    EXPECT_EQ(first.UsedSize(), (ql::TPoint{256, 202}));  // interior: columns 0..253, rows 0..199
    EXPECT_EQ(ManagerSize(*multi.Tiles()[1]), (ql::TPoint{64, 256}));
    std::vector<int32_t> covered(300 * 200, 0);
    for (const auto& tile : multi.Tiles()) {
        EXPECT_EQ(tile->Owner(), &multi);
        for (int32_t y = tile->Origin().y + 1; y < tile->Origin().y + tile->UsedSize().y - 1; ++y)
            for (int32_t x = tile->Origin().x + 1; x < tile->Origin().x + tile->UsedSize().x - 1; ++x) {
                ASSERT_TRUE(x >= 0 && x < 300 && y >= 0 && y < 200);
                ++covered[size_t(y * 300 + x)];
            }
    }
    for (int32_t count : covered) ASSERT_EQ(count, 1);
}

TEST(MultiTexture, SmallPicture_SpareAreaRepeatsEdgePixels) {
    TRig rig;
    auto picture = RandomPicture(10, 10, 2);
    TMultiTexture6 multi(rig.manager);
    multi.SetSource(picture.get(), nullptr, 1, 1, picture->Bounds());
    multi.BuildTiles();
    ASSERT_EQ(multi.Tiles().size(), 1u);
    TTextureTile& tile = *multi.Tiles()[0];
    EXPECT_EQ(ManagerSize(tile), (ql::TPoint{64, 64}));
    ql::TDirectBitmap surface(64, 64, ql::PfARGB32());
    ASSERT_TRUE(tile.FillTexture(0, surface));
    EXPECT_EQ(PixelOf(surface, 0, 0), PixelOf(*picture, 0, 0));
    EXPECT_EQ(PixelOf(surface, 1, 1), PixelOf(*picture, 0, 0));
    EXPECT_EQ(PixelOf(surface, 5, 7), PixelOf(*picture, 4, 6));
    EXPECT_EQ(PixelOf(surface, 63, 63), PixelOf(*picture, 9, 9));
    EXPECT_EQ(PixelOf(surface, 5, 63), PixelOf(*picture, 4, 9));
    EXPECT_EQ(PixelOf(surface, 63, 0), PixelOf(*picture, 9, 0));
}

TEST(MultiTexture, CancelledUpload_StaysPending) {
    TRig rig;
    auto picture = RandomPicture(10, 10, 3);
    picture->SetProgress([](float) { return false; });
    TMultiTexture6 multi(rig.manager);
    multi.SetSource(picture.get(), nullptr, 1, 1, picture->Bounds());
    multi.BuildTiles();
    EXPECT_NE(multi.LoadAll(), TDxResult::Ok);
    EXPECT_TRUE(multi.Tiles()[0]->NeedsUpload());
    picture->SetProgress({});
    EXPECT_EQ(multi.LoadAll(), TDxResult::Ok);
    EXPECT_FALSE(multi.Tiles()[0]->NeedsUpload());
}

// Every pixel, row by row.
std::vector<uint32_t> AllPixels(const ql::TBitmap& bitmap) {
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        for (int32_t x = 0; x < bitmap.Width(); ++x) out.push_back(PixelOf(bitmap, x, y));
    return out;
}

std::vector<uint32_t> Screenshot(TSoftDevice& device) {
    ql::TDirectBitmap shot(device.OutputWidth(), device.OutputHeight(), ql::PfARGB32());
    EXPECT_EQ(device.ReadPixels({0, 0, shot.Width(), shot.Height()}, shot), TDxResult::Ok);
    return AllPixels(shot);
}

TEST(MultiTexture, DrawnAtIdentity_ShowsPictureWithoutSeamsAndAgainAfterLoss) {
    TRig rig(300, 200);
    auto picture = RandomPicture(300, 200, 4);
    TMultiTexture6 multi(rig.manager);
    multi.SetSource(picture.get(), nullptr, 1, 1, picture->Bounds());
    multi.BuildTiles();
    ASSERT_TRUE(rig.screen.BeginScene());
    rig.device.Clear(0xFF000000u);
    ASSERT_EQ(multi.Draw({0, 0}, picture->Bounds(), {1, 0}, {0, 1}), TDxResult::Ok);
    const std::vector<uint32_t> before = Screenshot(rig.device);
    EXPECT_EQ(before, AllPixels(*picture));

    rig.device.SimulateLoss();
    EXPECT_FALSE(rig.screen.BeginScene());
    EXPECT_TRUE(rig.screen.BeginScene());
    rig.device.Clear(0xFF000000u);
    ASSERT_EQ(multi.Draw({0, 0}, picture->Bounds(), {1, 0}, {0, 1}), TDxResult::Ok);
    EXPECT_EQ(Screenshot(rig.device), before);
}

TEST(MultiTexture, TilesInsideThePicture_UploadItsOwnRowsAsACopyWouldHave) {
    TRig rig(600, 520);
    auto picture = RandomPicture(600, 520, 5);
    TMultiTexture6 multi(rig.manager);
    multi.SetSource(picture.get(), nullptr, 1, 1, picture->Bounds());
    multi.BuildTiles();
    int32_t direct = 0;
    for (const auto& tile : multi.Tiles()) {
        const ql::TPoint size{tile->Manager().Width(), tile->Manager().Height()};
        std::unique_ptr<ql::TBitmap> rows = tile->DirectLevel(0, size.x, size.y);
        const bool inside = tile->Origin().x >= 0 && tile->Origin().y >= 0 && tile->Origin().x + size.x <= 600 &&
                            tile->Origin().y + size.y <= 520;
        ASSERT_EQ(rows != nullptr, inside);
        if (!rows) continue;
        ++direct;
        ql::TDirectBitmap surface(size.x, size.y, ql::PfARGB32());
        ASSERT_TRUE(tile->FillTexture(0, surface));
        for (int32_t y = 0; y < size.y; ++y)
            ASSERT_EQ(std::memcmp(rows->Row(y), surface.Row(y), size_t(size.x) * 4), 0) << y;
    }
    EXPECT_GE(direct, 1);
    ASSERT_TRUE(rig.screen.BeginScene());
    rig.device.Clear(0xFF000000u);
    ASSERT_EQ(multi.Draw({0, 0}, picture->Bounds(), {1, 0}, {0, 1}), TDxResult::Ok);
    EXPECT_EQ(Screenshot(rig.device), AllPixels(*picture));
}

TEST(MultiTexture, CellsWithBorders_AreNeverUploadedInPlace) {
    TRig rig;
    auto picture = RandomPicture(600, 520, 6);
    TMultiTexture6 multi(rig.manager);
    multi.SetSource(picture.get(), nullptr, 2, 2, picture->Bounds());
    multi.BuildTiles();
    for (const auto& tile : multi.Tiles())
        EXPECT_EQ(tile->DirectLevel(0, tile->Manager().Width(), tile->Manager().Height()), nullptr);
}

TEST(MultiTexture, Cells_DrawnSideBySideShowTheirSource) {
    TRig rig(64, 16);
    auto picture = RandomPicture(40, 10, 5);
    TMultiTexture6 multi(rig.manager);
    multi.SetSource(picture.get(), nullptr, 2, 1, picture->Bounds());
    multi.BuildTiles();
    ASSERT_EQ(multi.View()->Width(), 44);
    rig.device.Clear(0xFF000000u);
    // The second cell's interior starts at view column 23.
    ASSERT_EQ(multi.Draw({0, 0}, {23, 1, 43, 11}, {1, 0}, {0, 1}), TDxResult::Ok);
    const std::vector<uint32_t> shot = Screenshot(rig.device);
    EXPECT_EQ(shot[0], PixelOf(*picture, 20, 0));
    EXPECT_EQ(shot[size_t(9 * 64 + 19)], PixelOf(*picture, 39, 9));
    EXPECT_EQ(shot[size_t(9 * 64 + 20)], 0xFF000000u);
}

TEST(MultiTexture, ZeroOpacity_DrawsNothing) {
    TRig rig(16, 16);
    auto picture = RandomPicture(16, 16, 6);
    TMultiTexture6 multi(rig.manager);
    multi.SetSource(picture.get(), nullptr, 1, 1, picture->Bounds());
    multi.BuildTiles();
    multi.SetOpacity(0);
    rig.device.Clear(0xFF000000u);
    EXPECT_EQ(multi.Draw({0, 0}, picture->Bounds(), {1, 0}, {0, 1}), TDxResult::Ok);
    for (uint32_t c : Screenshot(rig.device)) EXPECT_EQ(c, 0xFF000000u);
}

TEST(MultiTexture, SourceOutsideBitmap_IsAnAssertion) {
    TRig rig;
    auto picture = RandomPicture(8, 8, 7);
    TMultiTexture6 multi(rig.manager);
    EXPECT_THROW(multi.SetSource(picture.get(), nullptr, 1, 1, {0, 0, 9, 8}), ql::EAssertionFailed);
    EXPECT_THROW(multi.SetSource(picture.get(), nullptr, 1, 1, {3, 3, 3, 8}), ql::EAssertionFailed);
}

TEST(MultiTexture, ReturnedOnDestruction_TilesGoBackToFreeLists) {
    TRig rig;
    auto picture = RandomPicture(10, 10, 8);
    {
        TMultiTexture6 multi(rig.manager);
        multi.SetSource(picture.get(), nullptr, 1, 1, picture->Bounds());
        multi.BuildTiles();
        EXPECT_EQ(rig.manager.MultiTextureCount(), 1);
    }
    EXPECT_EQ(rig.manager.MultiTextureCount(), 0);
    EXPECT_EQ(rig.manager.Managers().back()->FreeCount(), 1u);
}

TEST(BoxAntialiaser, FlaggedEdges_FadeOverARingOutsideTheBox) {
    for (uint8_t flags : {uint8_t(0), uint8_t(efLeft | efTop | efRight | efBottom)}) {
        TRig rig(12, 12);
        TBoxAntialiaser box(rig.screen);
        rig.device.Clear(0xFF000000u);
        const uint32_t white[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
        ASSERT_EQ(box.DrawBox({3, 3}, {5, 0}, {0, 5}, flags, white), TDxResult::Ok);
        const std::vector<uint32_t> shot = Screenshot(rig.device);
        EXPECT_EQ(shot[size_t(5 * 12 + 5)], 0xFFFFFFFFu);
        EXPECT_EQ(shot[size_t(0 * 12 + 0)], 0xFF000000u);
        const uint32_t ring = shot[size_t(5 * 12 + 2)];
        if (flags == 0) {
            EXPECT_EQ(ring, 0xFF000000u);
        } else {
            EXPECT_GT(ring & 0xFF, 0u);
            EXPECT_LT(ring & 0xFF, 255u);
        }
    }
}

TEST(TextureStore, KeyNamesLevelColumnsAndRows_AndAddReplaces) {
    EXPECT_EQ(MultiTextureKey(2, 3, 1), u"MultiTexID: 2:3:1");
    TRig rig;
    TTextureStore2 store;
    EXPECT_EQ(store.Find(MultiTextureKey(0, 1, 1)), nullptr);
    auto first = std::make_unique<TMultiTexture6>(rig.manager);
    store.Add(MultiTextureKey(0, 1, 1), std::move(first));
    auto second = std::make_unique<TMultiTexture6>(rig.manager);
    TMultiTexture6* kept = second.get();
    store.Add(MultiTextureKey(0, 1, 1), std::move(second));
    EXPECT_EQ(store.Count(), 1u);
    EXPECT_EQ(store.Find(u"MultiTexID: 0:1:1"), kept);
    EXPECT_EQ(rig.manager.MultiTextureCount(), 1);
    store.Clear();
    EXPECT_EQ(rig.manager.MultiTextureCount(), 0);
}

TEST(VideoTexture, ThreePlanes_DrawThroughTheYuvPipeline) {
    TRig rig(9, 7);
    // Odd sizes: chroma planes at half size rounded down, spare area repeating the edge.
    TVideoTexture y(rig.screen, 9, 7), u(rig.screen, 4, 3), v(rig.screen, 4, 3);
    std::vector<uint8_t> luma(9 * 7, 235), chroma(4 * 3, 128);
    y.SetPlane(luma.data(), 9);
    u.SetPlane(chroma.data(), 4);
    v.SetPlane(chroma.data(), 4);
    EXPECT_EQ(u.TexWidth(), 32);
    for (TVideoTexture* plane : {&y, &u, &v}) ASSERT_EQ(plane->Load(), TDxResult::Ok);
    TDrawState state;
    state.pipeline = TPipeline::Yuv;
    state.textures[0] = y.Handle();
    state.textures[1] = u.Handle();
    state.textures[2] = v.Handle();
    const float uMax = float(9 * y.InvWidth()), vMax = float(7 * y.InvHeight());
    const float cuMax = float(4.5 * u.InvWidth()), cvMax = float(3.5 * u.InvHeight());
    const TVertex quad[4] = {{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0, 0, 0},
                             {9, 0, 0, 1, 0xFFFFFFFFu, uMax, 0, cuMax, 0},
                             {9, 7, 0, 1, 0xFFFFFFFFu, uMax, vMax, cuMax, cvMax},
                             {0, 7, 0, 1, 0xFFFFFFFFu, 0, vMax, 0, cvMax}};
    rig.device.Clear(0xFF000000u);
    ASSERT_EQ(rig.screen.DrawQuad(state, quad), TDxResult::Ok);
    for (uint32_t c : Screenshot(rig.device)) EXPECT_EQ(c, 0xFFFFFFFFu);
}

TEST(VideoTexture, GrayScaleFallback_ShowsLumaAsGrey) {
    TRig rig(4, 4);
    TGrayScaleTexture grey(rig.screen, 4, 4);
    std::vector<uint8_t> luma(16, 90);
    grey.SetPlane(luma.data(), 4);
    ASSERT_EQ(grey.Load(), TDxResult::Ok);
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.textures[0] = grey.Handle();
    const float m = float(4 * grey.InvWidth());
    const TVertex quad[4] = {{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0},
                             {4, 0, 0, 1, 0xFFFFFFFFu, m, 0},
                             {4, 4, 0, 1, 0xFFFFFFFFu, m, m},
                             {0, 4, 0, 1, 0xFFFFFFFFu, 0, m}};
    ASSERT_EQ(rig.screen.DrawQuad(state, quad), TDxResult::Ok);
    EXPECT_EQ(Screenshot(rig.device)[5], 0xFF5A5A5Au);
}

}  // namespace
}  // namespace orb
