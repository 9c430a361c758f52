#include "OrbLib2/Resample.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

std::unique_ptr<ql::TDirectBitmap> A8(int32_t w, int32_t h, uint8_t value) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(w, h, ql::FindPixelFormat("A8"));
    for (int32_t y = 0; y < h; ++y) std::fill(bitmap->Row(y), bitmap->Row(y) + w, value);
    return bitmap;
}

TEST(Resample, BSpline_MatchesItsPieces) {
    EXPECT_DOUBLE_EQ(FilterValue(TResampleFilter::BSpline, 0), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(FilterValue(TResampleFilter::BSpline, 1), 1.0 / 6.0);
    EXPECT_DOUBLE_EQ(FilterValue(TResampleFilter::BSpline, -1.5), 0.125 / 6.0);
    EXPECT_DOUBLE_EQ(FilterValue(TResampleFilter::BSpline, 2), 0);
    EXPECT_LT(FilterValue(TResampleFilter::Lanczos3, 1.5), 0);  // a negative lobe
}

TEST(Resample, FlatPicture_StaysFlatAtEveryScaleAndEdge) {
    for (TResampleFilter filter : {TResampleFilter::BSpline, TResampleFilter::Triangle, TResampleFilter::Mitchell,
                                   TResampleFilter::Lanczos3}) {
        auto source = A8(37, 23, 200);
        for (double scale : {0.1, 0.5, 1.0, 3.0}) {
            auto dst = A8(int32_t(37 * scale) + 1, int32_t(23 * scale) + 1, 0);
            ASSERT_TRUE(Resample(*source, *dst, filter, nullptr, {}, scale, FilterSupport(filter)));
            for (int32_t y = 0; y < dst->Height(); ++y)
                for (int32_t x = 0; x < dst->Width(); ++x) ASSERT_NEAR(dst->Row(y)[x], 200, 1) << scale;
        }
    }
}

TEST(Resample, NegativeSums_IndexTheTableFromZero) {
    EXPECT_EQ(ResampleTableIndex(-40), 0);
    EXPECT_EQ(ResampleTableIndex(300), kResampleTableSize - 1);
    EXPECT_EQ(ResampleTableIndex(255), kResampleTableSize - 1);
    // A sharp step through Lanczos rings below 0 beside the step.
    auto source = A8(16, 4, 0);
    for (int32_t y = 0; y < 4; ++y) std::fill(source->Row(y) + 8, source->Row(y) + 16, 255);
    std::vector<uint8_t> table(kResampleTableSize);
    for (int32_t i = 0; i < kResampleTableSize; ++i) table[size_t(i)] = uint8_t(i * 255 / (kResampleTableSize - 1));
    auto dst = A8(40, 10, 0);
    ASSERT_TRUE(Resample(*source, *dst, TResampleFilter::Lanczos3, table.data(), {}, 2.5, 3));
    EXPECT_EQ(dst->Row(5)[0], 0);
    EXPECT_EQ(dst->Row(5)[39], 255);
}

TEST(Resample, TinySource_LeavesDestinationAlone) {
    auto source = A8(1, 5, 255);
    auto dst = A8(4, 4, 7);
    EXPECT_TRUE(Resample(*source, *dst, TResampleFilter::BSpline, nullptr, {}, 1, 2));
    EXPECT_EQ(dst->Row(0)[0], 7);
}

TEST(Resample, Cancel_StopsAndReportsIt) {
    auto source = A8(10, 10, 1);
    auto dst = A8(10, 10, 0);
    int asked = 0;
    EXPECT_FALSE(Resample(*source, *dst, TResampleFilter::BSpline, nullptr,
                          [&](float) { return ++asked < 3; }, 1, 2));
    EXPECT_EQ(asked, 3);
}

}  // namespace
}  // namespace orb
