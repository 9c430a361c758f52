#include "QlLib/Graphics/qlAffineDraw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "QlLib/Graphics/SimdTestSupport.h"

namespace ql {
namespace {

std::unique_ptr<TDirectBitmap> Random(int32_t w, int32_t h, const TPixelFormat* f, uint32_t seed,
                                      bool extremeAlpha = false) {
    auto b = std::make_unique<TDirectBitmap>(w, h, f);
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t i = 0; i < w * f->BytesPerPixel(); ++i) b->Row(y)[i] = uint8_t(rng());
    if (extremeAlpha && f->BytesPerPixel() == 4)
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (rng() % 3 != 0) b->Row(y)[4 * x + 3] = rng() % 2 ? 255 : 0;
    return b;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
    for (int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Row(y), b.Row(y), size_t(a.Width() * a.BytesPerPixel())) != 0)
            return false;
    return true;
}

TAffineCoverage Coverage(int32_t w, int32_t h, TPointF o, TPointF x, TPointF y) {
    TAffineCoverage c;
    EXPECT_TRUE(BuildCoverage(c, w, h, o, x, y));
    return c;
}

const TRect kAll{0, 0, 1 << 20, 1 << 20};

TEST(AffineCoverage, BoundsAndSpansOfRotatedSquare) {
    // A 10 x 10 square turned by 45 degrees about the origin.
    const float s = 0.70710678f;
    const TAffineCoverage c = Coverage(10, 10, {20, 5}, {s, s}, {-s, s});
    EXPECT_EQ(c.bounds, (TRect{12, 5, 28, 20}));
    int32_t first, last;
    ASSERT_TRUE(RowSpan(c, 5, kAll, first, last));
    EXPECT_EQ(first, 19);
    EXPECT_EQ(last, 20);
    ASSERT_TRUE(RowSpan(c, 12, kAll, first, last));
    EXPECT_EQ(first, 12);
    EXPECT_EQ(last, 27);
    EXPECT_FALSE(RowSpan(c, 4, kAll, first, last));
    EXPECT_FALSE(RowSpan(c, 20, kAll, first, last));
    ASSERT_TRUE(RowSpan(c, 12, {15, 0, 18, 100}, first, last));
    EXPECT_EQ(first, 15);
    EXPECT_EQ(last, 17);
}

TEST(AffineCoverage, ParallelAxesAreSingular) {
    TAffineCoverage c;
    EXPECT_FALSE(BuildCoverage(c, 4, 4, {0, 0}, {1, 2}, {2, 4}));
    EXPECT_FALSE(BuildCoverage(c, 4, 4, {0, 0}, {1e-30f, 0}, {0, 1e-30f}));
}

TEST(AffineCoverage, IdentitySpansWholeRows) {
    const TAffineCoverage c = Coverage(7, 3, {0, 0}, {1, 0}, {0, 1});
    int32_t first, last;
    ASSERT_TRUE(RowSpan(c, 2, kAll, first, last));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(last, 6);
}

TEST(AffineNearest, IdentityOpaqueCopiesExactly) {
    auto src = Random(9, 7, PfRGB24(), 1);
    TDirectBitmap dst(9, 7, PfRGB24());
    DrawAffineNearest(Coverage(9, 7, {0, 0}, {1, 0}, {0, 1}), dst, *src, 255, kAll);
    EXPECT_TRUE(SamePixels(dst, *src));
}

TEST(AffineNearest, DoubleSizeRepeatsPixels) {
    auto src = Random(3, 2, PfRGB24(), 2);
    TDirectBitmap dst(6, 4, PfRGB24());
    DrawAffineNearest(Coverage(3, 2, {0, 0}, {2, 0}, {0, 2}), dst, *src, 300, kAll);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 6; ++x)
            ASSERT_EQ(std::memcmp(dst.Row(y) + 3 * x, src->Row(y / 2) + 3 * (x / 2), 3), 0)
                << x << "," << y;
}

TEST(AffineNearest, BlendRulesWithOpacityAndAlpha) {
    TDirectBitmap src(2, 1, PfARGB32());
    const uint8_t pixels[8] = {200, 100, 0, 255, 200, 100, 0, 128};
    std::memcpy(src.Row(0), pixels, 8);
    TDirectBitmap dst(2, 1, PfRGB24());
    dst.FillRect(dst.Bounds(), 0x00323232);  // 50 everywhere
    DrawAffineNearest(Coverage(2, 1, {0, 0}, {1, 0}, {0, 1}), dst, src, 128, kAll);
    // Opaque pixel: d + (s - d) * 128 / 256, truncated toward zero.
    EXPECT_EQ(dst.Row(0)[0], 50 + 150 * 128 / 256);
    EXPECT_EQ(dst.Row(0)[2], 50 + (-50 * 128) / 256);  // 25, not 24
    // Alpha 128: k = 128 * 128; d + (s - d) * k / 65536.
    EXPECT_EQ(dst.Row(0)[3], 50 + 150 * 16384 / 65536);
    EXPECT_EQ(dst.Row(0)[5], 50 + (-50 * 16384) / 65536);
}

TEST(AffineDraw, ZeroAlphaAndZeroOpacityLeaveDestination) {
    auto src = Random(6, 6, PfARGB32(), 3);
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 6; ++x) src->Row(y)[4 * x + 3] = 0;
    auto dst = Random(12, 12, PfRGB24(), 4);
    auto before = dst->Clone();
    const TAffineCoverage c = Coverage(6, 6, {0.3f, 0.2f}, {1.7f, 0.2f}, {-0.1f, 1.9f});
    DrawAffineNearest(c, *dst, *src, 255, kAll);
    DrawAffineBilinear(c, *dst, *src, 255, kAll);
    EXPECT_TRUE(SamePixels(*dst, *before));
    auto opaque = Random(6, 6, PfRGB24(), 5);
    DrawAffineNearest(c, *dst, *opaque, 0, kAll);
    DrawAffineBilinear(c, *dst, *opaque, -5, kAll);
    EXPECT_TRUE(SamePixels(*dst, *before));
}

TEST(AffineDraw, WrongFormatsAreAssertions) {
    auto src = Random(4, 4, PfRGB24(), 6);
    TDirectBitmap dst32(4, 4, PfARGB32());
    EXPECT_THROW(DrawAffineNearest(Coverage(4, 4, {0, 0}, {1, 0}, {0, 1}), dst32, *src, 255, kAll),
                 EAssertionFailed);
    TDirectBitmap dst(4, 4, PfRGB24());
    EXPECT_THROW(DrawAffineBilinear(Coverage(5, 4, {0, 0}, {1, 0}, {0, 1}), dst, *src, 255, kAll),
                 EAssertionFailed);
}

TEST(AffineBilinear, IdentityReproducesEveryPixelIncludingLastRowAndColumn) {
    for (const TPixelFormat* f : {PfRGB24(), PfARGB32()}) {
        auto src = Random(8, 5, PfRGB24(), 7);
        auto s = CreateBitmap(8, 5, f, {}, src.get(), TBitmapClass::DirectBitmap);
        auto dst = Random(8, 5, PfRGB24(), 8);
        DrawAffineBilinear(Coverage(8, 5, {0, 0}, {1, 0}, {0, 1}), *dst, *s, 255, kAll);
        EXPECT_TRUE(SamePixels(*dst, *src));
    }
}

TEST(AffineBilinear, HalfPixelShiftAveragesNeighbours) {
    TDirectBitmap src(3, 1, PfRGB24());
    const uint8_t row[9] = {0, 0, 0, 100, 100, 100, 201, 201, 201};
    std::memcpy(src.Row(0), row, 9);
    TDirectBitmap dst(3, 1, PfRGB24());
    // Source shifted left by half a pixel: pixel x samples between x and x + 1.
    DrawAffineBilinear(Coverage(3, 1, {-0.5f, 0}, {1, 0}, {0, 1}), dst, src, 255, kAll);
    EXPECT_EQ(dst.Row(0)[0], 50);
    EXPECT_EQ(dst.Row(0)[3], 150);
    // Pixel 2's centre maps to u = 3, past the source: left alone.
    EXPECT_EQ(dst.Row(0)[6], 0);
}

TEST(AffineBilinear, LastColumnSamplesClampedNeighbour) {
    TDirectBitmap src(2, 1, PfRGB24());
    const uint8_t row[6] = {100, 100, 100, 201, 201, 201};
    std::memcpy(src.Row(0), row, 6);
    TDirectBitmap dst(4, 1, PfRGB24());
    DrawAffineBilinear(Coverage(2, 1, {0, 0}, {2, 0}, {0, 1}), dst, src, 255, kAll);
    // Centres map to u = 0.25, 0.75, 1.25, 1.75; moved back half a pixel.
    EXPECT_EQ(dst.Row(0)[0], 100);            // negative: both neighbours pixel 0
    EXPECT_EQ(dst.Row(0)[3], 100 + 101 / 4);  // 0.25 of the way
    EXPECT_EQ(dst.Row(0)[6], (100 * 16384 + 201 * 49152) >> 16);
    EXPECT_EQ(dst.Row(0)[9], 201);  // past the last column: both neighbours pixel 1
}

TEST(AffineBilinear, OpacityBlendFollowsShiftRule) {
    TDirectBitmap src(2, 2, PfRGB24());
    src.FillRect(src.Bounds(), 0x00C8C8C8);  // 200
    TDirectBitmap dst(2, 2, PfRGB24());
    dst.FillRect(dst.Bounds(), 0x00141414);  // 20
    DrawAffineBilinear(Coverage(2, 2, {0, 0}, {1, 0}, {0, 1}), dst, src, 100, kAll);
    // b + ((255 - a) * (d - b) >> 8) with an arithmetic shift.
    EXPECT_EQ(dst.Row(1)[5], 200 + ((155 * (20 - 200)) >> 8));
}

TEST(AffineBilinear, ThirtyTwoBitAlphaUsesSixteenBitRule) {
    TDirectBitmap src(3, 3, PfARGB32());
    src.FillRect(src.Bounds(), 0x40C8C8C8);  // alpha 64, colour 200
    TDirectBitmap dst(3, 3, PfRGB24());
    dst.FillRect(dst.Bounds(), 0x00141414);
    DrawAffineBilinear(Coverage(3, 3, {0, 0}, {1, 0}, {0, 1}), dst, src, 255, kAll);
    const int32_t h = 65536 - 64 * 256;
    EXPECT_EQ(dst.Row(0)[0], 200 + (((20 - 200) * h) >> 16));
    EXPECT_EQ(dst.Row(2)[8], 200 + (((20 - 200) * h) >> 16));
}

TEST(AffineDraw, FitSize_KeepsAspectInsideBox) {
    EXPECT_EQ(FitSize(400, 300, 200, 200), (TPoint{200, 150}));
    EXPECT_EQ(FitSize(300, 400, 200, 200), (TPoint{150, 200}));
    EXPECT_EQ(FitSize(10, 10, 30, 20), (TPoint{20, 20}));
}

class DrawerTest : public ::testing::Test {
protected:
    // The tile drawer against the span drawer: both sample and blend alike.
    static void Compare(const TPixelFormat* format, int32_t opacity, TPointF o, TPointF x,
                        TPointF y, uint32_t seed) {
        auto src = Random(37, 23, format, seed, true);
        auto dst1 = Random(90, 70, PfRGB24(), seed + 1);
        auto dst2 = dst1->Clone();
        DrawAffineBilinear(Coverage(37, 23, o, x, y), *dst1, *src, opacity, kAll,
                           TSimdLevel::Scalar);
        TBilinearDrawer drawer(8, 8);
        drawer.SetOpacity(opacity);
        drawer.SetImage(src.get());
        drawer.Prepare({0, 0, 90, 70}, o, x, y);
        drawer.Draw(*dst2);
        int32_t differing = 0;
        for (int32_t r = 0; r < 70; ++r)
            for (int32_t i = 0; i < 270; ++i) differing += dst1->Row(r)[i] != dst2->Row(r)[i];
        // Start points come from each tile's own float mapping, so a rare
        // pixel may sit a step apart; the pictures agree otherwise.
        EXPECT_LE(differing, 270 * 70 / 50);
    }
};

TEST_F(DrawerTest, AgreesWithSpanDrawer) {
    Compare(PfRGB24(), 255, {3, 4}, {1.5f, 0}, {0, 2.2f}, 11);
    Compare(PfARGB32(), 140, {40, -5}, {1.3f, 0.9f}, {-0.8f, 1.4f}, 12);
}

TEST_F(DrawerTest, TilesInsideInteriorAreFastAndEdgesBoundsTested) {
    auto src = Random(64, 64, PfRGB24(), 13);
    TBilinearDrawer drawer(8, 8);
    drawer.SetImage(src.get());
    drawer.Prepare({0, 0, 64, 64}, {0, 0}, {1, 0}, {0, 1});
    int kinds[4] = {};
    for (const auto& t : drawer.Tiles()) ++kinds[t.kind];
    EXPECT_EQ(kinds[0], 0);
    EXPECT_EQ(kinds[1], 15);  // last tile row and column reach the clamped edge
    EXPECT_EQ(kinds[2], 0);
    EXPECT_EQ(kinds[3], 49);  // opaque "R8G8B8" at full opacity
    drawer.SetOpacity(200);
    drawer.Prepare({0, 0, 64, 64}, {0, 0}, {1, 0}, {0, 1});
    int fast = 0;
    for (const auto& t : drawer.Tiles()) fast += t.kind == 2;
    EXPECT_EQ(fast, 49);
}

TEST_F(DrawerTest, SingularFrameDrawsNothingAndNegativeOriginAsserts) {
    auto src = Random(8, 8, PfRGB24(), 14);
    TBilinearDrawer drawer(8, 8);
    drawer.SetImage(src.get());
    drawer.Prepare({0, 0, 16, 16}, {0, 0}, {1, 1}, {2, 2});
    EXPECT_TRUE(drawer.Bands().empty());
    EXPECT_THROW(drawer.Prepare({-1, 0, 16, 16}, {0, 0}, {1, 0}, {0, 1}), EAssertionFailed);
    TDirectBitmap other(4, 4, FindPixelFormat("B8G8R8"));
    EXPECT_THROW(drawer.SetImage(&other), EAssertionFailed);
}

TEST_F(DrawerTest, OneThreadAndTwoThreadsDrawTheSame) {
    auto src = Random(300, 200, PfARGB32(), 15, true);
    auto dst1 = Random(400, 300, PfRGB24(), 16);
    auto dst2 = dst1->Clone();
    TBilinearDrawer drawer(16, 16);
    drawer.SetOpacity(180);
    drawer.SetImage(src.get());
    drawer.Prepare({0, 0, 400, 300}, {30, -20}, {1.1f, 0.3f}, {-0.25f, 1.2f});
    drawer.Draw(*dst1);
    TDrawThreadPool pool(2);
    drawer.SetThreadPool(&pool);
    drawer.Draw(*dst2);
    EXPECT_TRUE(SamePixels(*dst1, *dst2));
}

TEST_F(DrawerTest, TileWidthAndSimdLevelDoNotChangeThePicture) {
    auto src = Random(120, 90, PfARGB32(), 17, true);
    auto first = Random(200, 150, PfRGB24(), 18);
    auto second = first->Clone();
    const auto untouched = first->Clone();
    const TPointF o{7, 3}, x{1.37f, 0.11f}, y{-0.2f, 1.41f};
    TBilinearDrawer narrow(8, 8), wide(56, 8);
    narrow.SetSimdLevel(TSimdLevel::Scalar);
    for (TBilinearDrawer* d : {&narrow, &wide}) {
        d->SetOpacity(222);
        d->SetImage(src.get());
        d->Prepare({0, 0, 200, 150}, o, x, y);
    }
    narrow.Draw(*first);
    wide.Draw(*second);
    EXPECT_TRUE(SamePixels(*first, *second));
    for (TSimdLevel level : test::FastSimdLevels()) {
        auto third = untouched->Clone();
        wide.SetSimdLevel(level);
        wide.Draw(*third);
        EXPECT_TRUE(SamePixels(*first, *third)) << "level " << int(level);
    }
}

// Axis-aligned scaling keeps each run in one source row, and 24-bit runs
// reaching the last columns may not read pairs as 8 bytes: the fastest level
// must still draw what the scalar loop draws, for both source formats.
TEST_F(DrawerTest, ScaledPictureIsTheSameAtEveryLevel) {
    const std::vector<TSimdLevel> fast = test::FastSimdLevels();
    if (fast.empty()) GTEST_SKIP() << test::kNoFastPath;
    for (const TPixelFormat* format : {PfRGB24(), PfARGB32()}) {
        auto src = Random(161, 97, format, 19, true);
        auto expect = Random(130, 80, PfRGB24(), 20);
        for (TSimdLevel level : fast) {
            for (int32_t opacity : {255, 200}) {
                auto got = expect->Clone();
                auto reference = expect->Clone();
                TBilinearDrawer scalar(64, 16), fast(64, 16);
                scalar.SetSimdLevel(TSimdLevel::Scalar);
                fast.SetSimdLevel(level);
                for (TBilinearDrawer* d : {&scalar, &fast}) {
                    d->SetOpacity(opacity);
                    d->SetImage(src.get());
                    d->Prepare({0, 0, 130, 80}, {0.3f, 0}, {0.8f, 0}, {0, 0.8f});
                }
                scalar.Draw(*reference);
                fast.Draw(*got);
                EXPECT_TRUE(SamePixels(*reference, *got))
                    << "level " << int(level) << " opacity " << opacity;
            }
        }
    }
}

TEST(DialogImage, PicksLevelAtLeastTheBoxAndFits) {
    std::vector<std::unique_ptr<TDirectBitmap>> levels;
    std::vector<int32_t> asked;
    auto source = [&](int32_t level) -> const TBitmap* {
        asked.push_back(level);
        const TPoint s = MipLevelSize(1000, 800, level);
        levels.push_back(std::make_unique<TDirectBitmap>(s.x, s.y, PfRGB24()));
        levels.back()->FillRect(levels.back()->Bounds(), 0x00FF8040);
        return levels.back().get();
    };
    auto dib = ScaleDialogImage(1000, 800, false, source, {300, 300, true, false, 0});
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(asked, std::vector<int32_t>{1});
    EXPECT_EQ(dib->Width(), 300);
    EXPECT_EQ(dib->Height(), 240);
    EXPECT_EQ(dib->Dib().BitsPerPixel(), 24);
    EXPECT_EQ(dib->Row(239)[3 * 299 + 2], 0xFF);
}

TEST(DialogImage, AlphaPictureKeepsAlphaUnlessPlainBackground) {
    TDirectBitmap pic(20, 10, PfARGB32());
    pic.FillRect(pic.Bounds(), 0x80FFFFFF);
    auto source = [&](int32_t) -> const TBitmap* { return &pic; };
    auto withAlpha = ScaleDialogImage(20, 10, true, source, {40, 40, false, false, 0xFF000000});
    ASSERT_NE(withAlpha, nullptr);
    EXPECT_EQ(withAlpha->Width(), 20);  // not enlarged
    EXPECT_EQ(withAlpha->Dib().BitsPerPixel(), 32);
    EXPECT_EQ(withAlpha->Row(5)[4 * 10 + 3], 0x80);
    auto flat = ScaleDialogImage(20, 10, true, source, {40, 40, true, true, 0xFF000000});
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(flat->Width(), 40);
    EXPECT_EQ(flat->Dib().BitsPerPixel(), 24);
    const int32_t h = 65536 - 128 * 256;
    EXPECT_EQ(flat->Row(10)[30], uint8_t(255 + (((0 - 255) * h) >> 16)));
}

}  // namespace
}  // namespace ql
