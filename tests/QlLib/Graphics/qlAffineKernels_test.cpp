#include "QlLib/Graphics/qlAffineKernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "QlLib/qlCpuFeatures.h"

namespace ql {
namespace {

// Random pictures and random runs inside the interior: every level must
// write the same bytes as the scalar loop. Runs are long enough for the
// eight-pixel loops; some keep to one source row, some end in the last
// columns, where 3-byte pairs may not be read as 8 bytes.
void CompareLevels(TSimdLevel level) {
    if (!SimdLevelSupported(level)) GTEST_SKIP() << "processor lacks this level";
    std::mt19937 rng(level == TSimdLevel::AVX2 ? 99 : 98);
    for (int32_t trial = 0; trial < 1200; ++trial) {
        const int32_t bpp = trial % 2 ? 4 : 3;
        const int32_t w = 2 + int32_t(rng() % 60), h = 2 + int32_t(rng() % 40);
        // Rows allocated one by one and exactly as long as the picture, so a
        // read past a row's end shows under the address sanitizer.
        std::vector<std::vector<uint8_t>> pixels(size_t(h), std::vector<uint8_t>(size_t(w * bpp)));
        std::vector<const uint8_t*> rows;
        const int32_t alphas = int32_t(rng() % 3);  // random; 0 or 255; random with many 0 and 255
        for (auto& r : pixels) {
            for (auto& b : r) b = uint8_t(rng());
            if (bpp == 4 && alphas == 1)
                for (size_t i = 3; i < r.size(); i += 4) r[i] = rng() % 2 ? 0 : 255;
            if (bpp == 4 && alphas == 2)
                for (size_t i = 3; i < r.size(); i += 4)
                    r[i] = rng() % 3 ? uint8_t(rng()) : rng() % 2 ? 0 : 255;
            rows.push_back(r.data());
        }
        const int32_t opacity = trial % 5 == 0 ? 255 : 1 + int32_t(rng() % 255);
        TBlendTable blend;
        BuildBlendTable(blend, opacity, bpp == 4);
        // A straight walk from one interior point to another; every fourth
        // stays in one row, every sixth ends in the last interior column.
        const uint32_t span = uint32_t(w - 1) << 16, spanV = uint32_t(h - 1) << 16;
        const uint32_t u0 = rng() % span, v0 = rng() % spanV;
        const uint32_t u1 = trial % 6 == 1 ? span - 1 - rng() % 0x8000 : rng() % span;
        const uint32_t v1 = trial % 4 == 2 ? v0 : rng() % spanV;
        const int32_t count = 1 + int32_t(rng() % 90);
        const uint32_t du = uint32_t((int64_t(u1) - u0) / std::max(count - 1, 1));
        const uint32_t dv = uint32_t((int64_t(v1) - v0) / std::max(count - 1, 1));
        const int32_t width = trial % 7 == 3 ? 0 : w;  // 0: width unknown
        std::vector<uint8_t> expect(size_t(count * 3)), got;
        for (auto& b : expect) b = uint8_t(rng());
        got = expect;
        BilinearRunScalar({rows.data(), bpp, expect.data(), count, u0, v0, du, dv, &blend, width});
        BilinearRunFor(level)({rows.data(), bpp, got.data(), count, u0, v0, du, dv, &blend, width});
        ASSERT_EQ(got, expect) << "trial " << trial << " bpp " << bpp << " opacity " << opacity;
    }
}

TEST(BilinearRun, SSE2MatchesScalarBitForBit) {
    CompareLevels(TSimdLevel::SSE2);
}
TEST(BilinearRun, AVX2MatchesScalarBitForBit) {
    CompareLevels(TSimdLevel::AVX2);
}

// The levels the dispatchers choose from follow the processor's answers, and
// a level the processor lacks falls back to one it runs.
TEST(BilinearRun, BestSimdLevel_IsTheHighestLevelTheProcessorRuns) {
    const struct {
        TSimdLevel level;
        bool supported;
    } cases[] = {
        {TSimdLevel::Scalar, true},
        {TSimdLevel::SSE2, CpuHasSse2()},
        {TSimdLevel::AVX2, CpuHasAvx2()},
    };
    TSimdLevel best = TSimdLevel::Scalar;
    for (const auto& c : cases) {
        EXPECT_EQ(SimdLevelSupported(c.level), c.supported) << int(c.level);
        if (c.supported) best = c.level;
        if (!CpuHasSse2()) {
            EXPECT_EQ(BilinearRunFor(c.level), &BilinearRunScalar) << int(c.level);
        }
    }
    EXPECT_EQ(BestSimdLevel(), best);
}

TEST(BilinearRun, BlendTableEncodesRules) {
    TBlendTable t;
    BuildBlendTable(t, 255, true);
    EXPECT_EQ(t.h[0], 65536u);
    EXPECT_EQ(t.h[255], 0u);
    EXPECT_EQ(t.h[64], 65536u - 64 * 256);
    EXPECT_FALSE(t.copy);
    BuildBlendTable(t, 100, true);
    EXPECT_EQ(t.h[255], 155u * 256);
    EXPECT_EQ(t.h[64], 65536u - 64 * 100);
    BuildBlendTable(t, 255, false);
    EXPECT_TRUE(t.copy);
}

}  // namespace
}  // namespace ql
