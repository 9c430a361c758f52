#include "QlLib/Graphics/qlYuvToRgb.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "QlLib/Graphics/SimdTestSupport.h"

namespace ql {
namespace {

using test::FastSimdLevels;

struct TPixel {
    uint8_t B, G, R, A;
};

TPixel ConvertOne(uint8_t y, uint8_t u, uint8_t v, TYuvMatrix matrix, TSimdLevel level) {
    TYuvToRgbConverter converter(2, level);
    const uint8_t ys[2] = {y, y};
    TPixel out[2];
    converter.ConvertRow(ys, &u, &v, 1, matrix, reinterpret_cast<uint8_t*>(out));
    return out[0];
}

TEST(YuvToRgb, KnownColours_ComeOutExactly) {
    struct TCase {
        const char* Name;
        uint8_t Y, U, V;
        TYuvMatrix Matrix;
        uint8_t R, G, B;
    };
    const TCase cases[] = {
        {"black", 16, 128, 128, TYuvMatrix::Bt601, 0, 0, 0},
        {"white", 235, 128, 128, TYuvMatrix::Bt601, 255, 255, 255},
        {"below black", 0, 128, 128, TYuvMatrix::Bt601, 0, 0, 0},
        {"above white", 255, 128, 128, TYuvMatrix::Bt709, 255, 255, 255},
        {"grey", 126, 128, 128, TYuvMatrix::Bt709, 128, 128, 128},
        {"601 red", 81, 90, 240, TYuvMatrix::Bt601, 255, 0, 0},
        {"601 green", 145, 54, 34, TYuvMatrix::Bt601, 0, 255, 1},
        {"709 blue", 32, 240, 118, TYuvMatrix::Bt709, 1, 0, 255},
    };
    std::vector<TSimdLevel> levels = FastSimdLevels();
    levels.push_back(TSimdLevel::Scalar);
    for (const TCase& c : cases)
        for (TSimdLevel level : levels) {
            const TPixel p = ConvertOne(c.Y, c.U, c.V, c.Matrix, level);
            EXPECT_EQ(p.R, c.R) << c.Name;
            EXPECT_EQ(p.G, c.G) << c.Name;
            EXPECT_EQ(p.B, c.B) << c.Name;
            EXPECT_EQ(p.A, 255) << c.Name;
        }
}

TEST(YuvToRgb, FastLoops_AgreeWithTheScalarReferenceBitForBit) {
    std::mt19937 random(4201);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const int32_t width : {1, 2, 3, 7, 16, 31, 64, 65, 1920, 1921}) {
        const size_t chroma = size_t(width / 2) + 1;
        std::vector<uint8_t> y(static_cast<size_t>(width)), u(chroma), v(chroma);
        for (auto* plane : {&y, &u, &v})
            for (uint8_t& b : *plane) b = uint8_t(byte(random));
        for (const TYuvMatrix matrix : {TYuvMatrix::Bt601, TYuvMatrix::Bt709}) {
            std::vector<uint8_t> expected(size_t(width) * 4);
            TYuvToRgbConverter(width, TSimdLevel::Scalar)
                .ConvertRow(y.data(), u.data(), v.data(), width / 2, matrix, expected.data());
            for (TSimdLevel level : FastSimdLevels()) {
                std::vector<uint8_t> got(size_t(width) * 4, 0xEE);
                TYuvToRgbConverter(width, level)
                    .ConvertRow(y.data(), u.data(), v.data(), width / 2, matrix, got.data());
                ASSERT_EQ(got, expected) << "width " << width << " level " << int(level);
            }
        }
    }
}

TEST(YuvToRgb, OddWidth_RepeatsTheLastChromaSample) {
    const uint8_t y[3] = {126, 126, 126};
    const uint8_t u[1] = {240}, v[1] = {128};
    TPixel out[3];
    TYuvToRgbConverter(3, TSimdLevel::Scalar)
        .ConvertRow(y, u, v, 1, TYuvMatrix::Bt601, reinterpret_cast<uint8_t*>(out));
    EXPECT_EQ(out[2].B, out[0].B);
    EXPECT_GT(out[2].B, out[2].R);
}

}  // namespace
}  // namespace ql
