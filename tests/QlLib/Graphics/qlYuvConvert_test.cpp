#include "QlLib/Graphics/qlYuvConvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "QlLib/Graphics/SimdTestSupport.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlPixelFormats.h"

namespace ql {
namespace {

using test::FastSimdLevels;

// The scalar reference and every faster level this processor runs.
std::vector<TSimdLevel> AllLevels() {
    std::vector<TSimdLevel> levels = FastSimdLevels();
    levels.insert(levels.begin(), TSimdLevel::Scalar);
    return levels;
}

struct TYuvFrame {
    TYuvFrame(int32_t w, int32_t h)
        : Width(w),
          Height(h),
          Bytes(size_t(w) * size_t(h) + 2 * size_t((w + 1) / 2) * size_t((h + 1) / 2), 0xEE) {}
    TYuv420Planes Planes() {
        const size_t chroma = size_t((Width + 1) / 2) * size_t((Height + 1) / 2);
        return {Bytes.data(), Bytes.data() + size_t(Width) * size_t(Height),
                Bytes.data() + size_t(Width) * size_t(Height) + chroma};
    }
    int32_t Width, Height;
    std::vector<uint8_t> Bytes;
};

void Fill(TBitmap& bitmap, uint8_t r, uint8_t g, uint8_t b) {
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        for (int32_t x = 0; x < bitmap.Width(); ++x) {
            uint8_t* p = bitmap.Row(y) + 3 * x;
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
}

TYuvFrame Convert(const TBitmap& frame, TSimdLevel level) {
    TYuvFrame out(frame.Width(), frame.Height());
    TYuv420Converter converter(frame.Width(), level);
    converter.Convert(frame, out.Planes());
    return out;
}

TEST(YuvConvert, KnownColours_MatchTheExactFormulaWithinOne) {
    struct TCase {
        uint8_t r, g, b;
    };
    const TCase cases[] = {{0, 0, 0},      {255, 255, 255}, {255, 0, 0},   {0, 255, 0},
                           {0, 0, 255},    {128, 128, 128}, {255, 255, 0}, {0, 255, 255},
                           {200, 100, 50}, {17, 240, 133}};
    for (TSimdLevel level : AllLevels()) {
        for (const TCase& c : cases) {
            TDirectBitmap frame(6, 4, PfRGB24());
            Fill(frame, c.r, c.g, c.b);
            TYuvFrame out = Convert(frame, level);
            const double y = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
            const double cb =
                std::clamp(128 - 0.168736 * c.r - 0.331264 * c.g + 0.5 * c.b, 0.0, 255.0);
            const double cr =
                std::clamp(128 + 0.5 * c.r - 0.418688 * c.g - 0.081312 * c.b, 0.0, 255.0);
            const TYuv420Planes p = out.Planes();
            for (int32_t i = 0; i < 24; ++i)
                ASSERT_LE(std::fabs(p.Y[i] - y), 1.0) << int(c.r) << "," << int(c.g);
            for (int32_t i = 0; i < 6; ++i) {
                EXPECT_LE(std::fabs(p.U[i] - cb), 1.0)
                    << int(c.r) << "," << int(c.g) << "," << int(c.b);
                EXPECT_LE(std::fabs(p.V[i] - cr), 1.0)
                    << int(c.r) << "," << int(c.g) << "," << int(c.b);
            }
        }
    }
}

TEST(YuvConvert, GreyAndExtremes_AreExact) {
    TDirectBitmap frame(4, 2, PfRGB24());
    Fill(frame, 255, 255, 255);
    TYuvFrame white = Convert(frame, TSimdLevel::Scalar);
    EXPECT_EQ(white.Planes().Y[0], 255);
    EXPECT_EQ(white.Planes().U[0], 128);
    EXPECT_EQ(white.Planes().V[0], 128);
    Fill(frame, 0, 0, 255);
    EXPECT_EQ(Convert(frame, TSimdLevel::Scalar).Planes().U[0], 255);
    Fill(frame, 255, 0, 0);
    EXPECT_EQ(Convert(frame, TSimdLevel::Scalar).Planes().V[0], 255);
}

TEST(YuvConvert, Chroma_IsTheMeanOfEachBlockWithTheEdgeRepeatedAtOddSizes) {
    // 3 x 3: the right column and the bottom row count twice in their blocks.
    TDirectBitmap frame(3, 3, PfRGB24());
    Fill(frame, 0, 0, 0);
    frame.Row(0)[3 * 2 + 0] = 200;  // blue at (2, 0): block (1, 0) is all of it
    frame.Row(2)[3 * 0 + 0] = 100;  // blue at (0, 2): half of block (0, 1)
    TYuvFrame out = Convert(frame, TSimdLevel::Scalar);
    const TYuv420Planes p = out.Planes();
    EXPECT_EQ(p.U[0], 128);
    EXPECT_NEAR(p.U[1], 128 + 0.5 * 200 / 2, 1);  // two of the four samples are the blue pixel
    EXPECT_NEAR(p.U[2], 128 + 0.5 * 100 / 2, 1);
    EXPECT_EQ(p.U[3], 128);
    // Nothing was written outside the planes.
    EXPECT_EQ(out.Bytes.size(), 9u + 2 * 4u);
}

TEST(YuvConvert, FastPaths_AgreeWithTheScalarBitForBit) {
    const std::vector<TSimdLevel> fast = FastSimdLevels();
    if (fast.empty()) GTEST_SKIP() << test::kNoFastPath;
    uint32_t seed = 7;
    for (const TPixelFormat* format : {PfRGB24(), PfARGB32()})
        for (const auto& [w, h] :
             {std::pair{1, 1}, {2, 2}, {17, 9}, {64, 3}, {131, 33}, {1280, 4}}) {
            TDirectBitmap frame(w, h, format);
            const int32_t bpp = frame.BytesPerPixel();
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < bpp * w; ++x) {
                    seed = seed * 1664525u + 1013904223u;
                    // Every fourth row all 0 or 255 per byte: pure blues and
                    // reds reach the top of Cb and Cr.
                    frame.Row(y)[x] = y % 4 == 1 ? uint8_t(seed >> 31) * 255 : uint8_t(seed >> 24);
                }
            const TYuvFrame scalar = Convert(frame, TSimdLevel::Scalar);
            for (TSimdLevel level : fast)
                EXPECT_EQ(Convert(frame, level).Bytes, scalar.Bytes)
                    << w << "x" << h << " bpp " << bpp << " level " << int(level);
        }
}

TEST(YuvConvert, FourBytePixels_GiveTheSameAsThreeIgnoringAlpha) {
    uint32_t seed = 9;
    for (const auto& [w, h] : {std::pair{1, 1}, {35, 7}, {640, 2}}) {
        TDirectBitmap rgb(w, h, PfRGB24()), argb(w, h, PfARGB32());
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                seed = seed * 1664525u + 1013904223u;
                for (int32_t c = 0; c < 3; ++c)
                    rgb.Row(y)[3 * x + c] = argb.Row(y)[4 * x + c] = uint8_t(seed >> (8 * c));
                argb.Row(y)[4 * x + 3] = uint8_t(seed >> 24);
            }
        const TYuvFrame expected = Convert(rgb, TSimdLevel::Scalar);
        for (TSimdLevel level : AllLevels())
            EXPECT_EQ(Convert(argb, level).Bytes, expected.Bytes)
                << w << "x" << h << " level " << int(level);
    }
}

TEST(YuvConvert, Bands_GiveTheWholeFrame) {
    TDirectBitmap frame(33, 21, PfRGB24());
    for (int32_t y = 0; y < 21; ++y)
        for (int32_t x = 0; x < 99; ++x) frame.Row(y)[x] = uint8_t(x * 7 + y * 13);
    const TYuvFrame whole = Convert(frame, TSimdLevel::Scalar);
    TYuvFrame banded(33, 21);
    TYuv420Converter a(33), b(33);
    b.ConvertPairs(frame, banded.Planes(), 5, 100);
    a.ConvertPairs(frame, banded.Planes(), 0, 5);
    EXPECT_EQ(banded.Bytes, whole.Bytes);
}

// Bands of "A8R8G8B8" rows lying apart in memory, the last one short at an
// odd height, give the whole frame's bytes.
TEST(YuvConvert, RowBlocks_GiveTheWholeFrame) {
    constexpr int32_t kW = 33, kH = 21;
    constexpr size_t kStride = 40 * 4;
    std::vector<uint8_t> block(kStride * kH);
    TDirectBitmap frame(kW, kH, PfARGB32());
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < 4 * kW; ++x)
            frame.Row(y)[x] = block[size_t(y) * kStride + size_t(x)] = uint8_t(x * 7 + y * 13);
    const TYuvFrame whole = Convert(frame, TSimdLevel::Scalar);
    TYuvFrame banded(kW, kH);
    for (const auto& [first, end] : {std::pair{4, 12}, std::pair{0, 4}, std::pair{12, kH}})
        TYuv420Converter(kW).ConvertBand(block.data() + size_t(first) * kStride, kStride, kH, first,
                                         end, banded.Planes());
    EXPECT_EQ(banded.Bytes, whole.Bytes);
}

}  // namespace
}  // namespace ql
