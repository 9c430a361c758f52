#include "OrbLib2/3DBasics/qlSoftSpans.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace orb {
namespace {

// Random runs over a small texture: scaled, rotated, one texel per pixel,
// reaching past every edge, with every blend and colour factors.
void CompareTexSpans(ql::TSimdLevel level) {
    if (!ql::SimdLevelSupported(level)) GTEST_SKIP() << "processor lacks this level";
    const TTexSpanProc proc = TexSpanFor(level);
    std::mt19937 random(11);
    for (int32_t size : {1, 2, 16}) {
        const int32_t w = size * 2, h = size;
        std::vector<uint32_t> texels(size_t(w) * size_t(h));
        for (uint32_t& t : texels) {
            // Premultiplied: no colour above alpha.
            const uint32_t a = random() & 255;
            t = a << 24;
            for (int32_t c = 0; c < 3; ++c) t |= (random() % (a + 1)) << (8 * c);
        }
        for (int32_t round = 0; round < 3000; ++round) {
            TTexSpan span;
            span.texels = texels.data();
            span.width = w;
            span.height = h;
            span.count = int32_t(random() % 45);
            if (random() % 8 == 0) span.count += 200;
            const int64_t one = int64_t(1) << 32;
            // 0: one texel per pixel; 1: along a texture row, scaled; else any.
            const int32_t kind = int32_t(random() % 5);
            span.u = int64_t(random() % uint32_t(w + 8) * 4) * (one / 4) - 4 * one +
                     (random() % 4 == 0 ? 0 : int64_t(random()));
            span.v = int64_t(random() % uint32_t(h + 8) * 4) * (one / 4) - 4 * one +
                     (kind == 0 ? 0 : int64_t(random()));
            span.du = kind == 0 ? one : int64_t(random() % (3 * one)) - one;
            span.dv = kind <= 1 ? 0 : int64_t(random() % one) - one / 2;
            const uint32_t f = random();
            for (int32_t c = 0; c < 4; ++c)
                span.factor[c] = f & (1 << c) ? 256 : uint16_t(random() % 257);
            span.bilinear = random() % 3 != 0;
            span.blend = TSpanBlend(random() % 4);
            std::vector<uint32_t> base(size_t(span.count) + 1);
            for (uint32_t& d : base) d = random();
            std::vector<uint32_t> expect = base, got = base;
            span.dst = expect.data();
            TexSpanScalar(span);
            span.dst = got.data();
            proc(span);
            ASSERT_EQ(got, expect) << "size " << size << " round " << round;
        }
    }
}

TEST(SoftSpans, TexSSE2MatchesScalarBitForBit) {
    CompareTexSpans(ql::TSimdLevel::SSE2);
}
TEST(SoftSpans, TexAVX2MatchesScalarBitForBit) {
    CompareTexSpans(ql::TSimdLevel::AVX2);
}

TEST(SoftSpans, ShadeAVX2MatchesScalarBitForBit) {
    if (!ql::SimdLevelSupported(ql::TSimdLevel::AVX2)) GTEST_SKIP() << "processor lacks AVX2";
    const TShadeSpanProc proc = ShadeSpanFor(ql::TSimdLevel::AVX2);
    std::mt19937 random(13);
    std::vector<uint32_t> texels(64 * 8);
    for (uint32_t& t : texels) t = random();
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int32_t round = 0; round < 3000; ++round) {
        TShadeSpan span;
        span.texels = texels.data();
        span.width = round % 7 == 0 ? 1 : 64;
        span.height = round % 11 == 0 ? 1 : 8;
        span.count = int32_t(random() % 40);
        // A triangle of about 100 pixels a side, 1/256 pixel steps.
        const int64_t area = 20000 * 256 + int64_t(random() % 100000);
        span.invArea = 1.0 / double(area);
        for (int32_t k = 0; k < 3; ++k) {
            span.e[k] = int64_t(random() % uint32_t(area)) - area / 8;
            span.step[k] = int64_t(random() % 20000) - 10000;
        }
        const bool perspective = round % 3 == 0;
        for (int32_t k = 0; k < 3; ++k) {
            const double iw = perspective ? 0.3 + 2 * unit(random) : 1.0;
            span.attr[k][0] = iw;
            for (int32_t j = 1; j < 5; ++j) span.attr[k][j] = 255 * unit(random) * iw;
            for (int32_t j = 5; j < 7; ++j) span.attr[k][j] = (1.6 * unit(random) - 0.3) * iw;
        }
        span.flat = round % 5 == 0;
        for (int32_t c = 0; c < 4; ++c) span.flatColour[c] = float(random() % 256);
        span.opacity = float(random() % 256) / 255.0f;
        span.bilinear = random() % 2 != 0;
        span.blend = TSpanBlend(random() % 3);
        std::vector<uint32_t> expect(size_t(span.count) + 1);
        for (uint32_t& d : expect) d = random();
        std::vector<uint32_t> got = expect;
        span.dst = expect.data();
        ShadeSpanScalar(span);
        span.dst = got.data();
        proc(span);
        ASSERT_EQ(got, expect) << round;
    }
}

TEST(SoftSpans, MaskedAVX2MatchesScalarBitForBit) {
    if (!ql::SimdLevelSupported(ql::TSimdLevel::AVX2)) GTEST_SKIP() << "processor lacks AVX2";
    const TMaskedSpanProc proc = MaskedSpanFor(ql::TSimdLevel::AVX2, TSpanBlend::Over);
    std::mt19937 random(11);
    float mask[256], channel[3][256];
    for (int32_t round = 0; round < 300; ++round) {
        // Tables as the device makes them, for a random colour and opacity.
        const float alpha = float(random() % 256) * (float(random() % 256) / 255.0f);
        float col[3];
        for (float& c : col) c = float(random() % 256);
        for (int32_t i = 0; i < 256; ++i) {
            mask[i] = alpha / 255.0f;
            mask[i] *= float(i) / 255.0f;
            for (int32_t k = 0; k < 3; ++k) channel[k][i] = float(i) * col[k] / 255.0f;
        }
        const int32_t count = int32_t(random() % 40);
        std::vector<uint32_t> texels(size_t(count) + 1), masks(size_t(count) + 1),
            expect(size_t(count) + 1);
        for (size_t i = 0; i < texels.size(); ++i) {
            const uint32_t a = random() % 256;
            texels[i] = a << 24 | (random() % (a + 1)) << 16 | (random() % (a + 1)) << 8 |
                        random() % (a + 1);
            masks[i] = random() % 4 == 0 ? 0 : uint32_t(random());
            expect[i] = random();
        }
        std::vector<uint32_t> got = expect;
        TMaskedSpan span{texels.data(),   masks.data(), expect.data(),
                         count,           mask,         {channel[0], channel[1], channel[2]},
                         TSpanBlend::Over};
        MaskedSpanScalar(span);
        span.dst = got.data();
        proc(span);
        ASSERT_EQ(got, expect) << round;
    }
}

TEST(SoftSpans, ColourSSE2MatchesScalarBitForBit) {
    if (!ql::SimdLevelSupported(ql::TSimdLevel::SSE2)) GTEST_SKIP() << "processor lacks SSE2";
    std::mt19937 random(5);
    for (int32_t round = 0; round < 2000; ++round) {
        const uint32_t a = random() & 255;
        uint32_t colour = a << 24;
        for (int32_t c = 0; c < 3; ++c) colour |= (random() % (a + 1)) << (8 * c);
        const TSpanBlend blend = TSpanBlend(random() % 4);
        std::vector<uint32_t> expect(random() % 23);
        for (uint32_t& d : expect) d = random();
        std::vector<uint32_t> got = expect;
        ColourSpanScalar(expect.data(), int32_t(expect.size()), colour, blend);
        ColourSpanFor(ql::TSimdLevel::SSE2)(got.data(), int32_t(got.size()), colour, blend);
        ASSERT_EQ(got, expect) << round;
    }
}

TEST(SoftSpans, BilinearAtTexelCentresAndFullFactors_CopiesTexels) {
    const std::vector<uint32_t> texels = {0xFF102030u, 0x80402010u, 0x00000000u, 0xFFFFFFFFu};
    std::vector<uint32_t> dst(4, 0xDEADBEEFu);
    TTexSpan span{texels.data(),
                  4,
                  1,
                  dst.data(),
                  4,
                  0,
                  0,
                  int64_t(1) << 32,
                  0,
                  {256, 256, 256, 256},
                  true,
                  TSpanBlend::Replace};
    TexSpanScalar(span);
    EXPECT_EQ(dst, texels);
}

TEST(SoftSpans, Over_MixesByAlphaWithRounding) {
    std::vector<uint32_t> dst = {0xFFFFFFFFu};
    ColourSpanScalar(dst.data(), 1, 0x80000000u, TSpanBlend::Over);
    // 255 * 127 / 255 = 127 for the colour, 128 + 127 for alpha.
    EXPECT_EQ(dst[0], 0xFF7F7F7Fu);
    for (uint32_t x = 0; x <= 65025; ++x) ASSERT_EQ(Div255(x), (x + 127) / 255) << x;
}

}  // namespace
}  // namespace orb
