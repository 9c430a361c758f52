// Bilinear drawing of a 2400 x 1350 picture scaled onto 1920 x 1080 with
// opacity: scalar against SIMD, one and two threads, and the same operation
// through pixman where it is installed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include "QlLib/Graphics/qlAffineDraw.h"

#ifdef ORB_HAVE_PIXMAN
#include <pixman.h>
#endif

namespace {

static int32_t kTileW = 64, kTileH = 16;
constexpr int32_t kSrcW = 2400, kSrcH = 1350, kDstW = 1920, kDstH = 1080, kOpacity = 200;

std::unique_ptr<ql::TDirectBitmap> Picture(int32_t w, int32_t h, const ql::TPixelFormat* f, uint32_t seed) {
    auto b = std::make_unique<ql::TDirectBitmap>(w, h, f);
    uint32_t state = seed;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* r = b->Row(y);
        for (int32_t i = 0; i < w * f->BytesPerPixel(); ++i) r[i] = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
        if (f->BytesPerPixel() == 4)
            for (int32_t x = 0; x < w; ++x) r[4 * x + 3] = 255;  // a photograph: opaque
    }
    return b;
}

// range(0): simd level, range(1): threads, range(2): 1 for a 32-bit source
void BM_Bilinear(benchmark::State& state) {
    if (const char* t = std::getenv("ORB_TILE")) std::sscanf(t, "%dx%d", &kTileW, &kTileH);
    const auto level = static_cast<ql::TSimdLevel>(state.range(0));
    if (!ql::SimdLevelSupported(level)) {
        state.SkipWithError("processor lacks AVX2");
        return;
    }
    auto src = Picture(kSrcW, kSrcH, state.range(2) ? ql::PfARGB32() : ql::PfRGB24(), 1);
    auto dst = Picture(kDstW, kDstH, ql::PfRGB24(), 2);
    ql::TDrawThreadPool pool(int32_t(state.range(1)));
    ql::TBilinearDrawer drawer(kTileW, kTileH);
    drawer.SetSimdLevel(level);
    drawer.SetThreadPool(&pool);
    drawer.SetOpacity(kOpacity);
    drawer.SetImage(src.get());
    drawer.Prepare({0, 0, kDstW, kDstH}, {0, 0}, {float(kDstW) / kSrcW, 0}, {0, float(kDstH) / kSrcH});
    for (auto _ : state) {
        drawer.Draw(*dst);
        benchmark::ClobberMemory();
    }
    state.counters["MP/s"] = benchmark::Counter(double(kDstW) * kDstH * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Bilinear)
    ->ArgNames({"simd", "threads", "argb"})
    ->ArgsProduct({{0, 1, 2}, {1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

#ifdef ORB_HAVE_PIXMAN
// range(0): destination format, 0 for 24-bit (our destination), 1 for x8r8g8b8
// (pixman's fast paths); one thread.
void BM_PixmanBilinear(benchmark::State& state) {
    std::vector<uint32_t> srcBits(size_t(kSrcW) * kSrcH);
    std::mt19937 rng(1);
    for (auto& p : srcBits) p = rng() | 0xFF000000u;
    const bool x8 = state.range(0) == 1;
    const int dstStride = x8 ? kDstW * 4 : (kDstW * 3 + 3) & ~3;
    std::vector<uint32_t> dstBits(size_t(dstStride / 4) * kDstH, 0x80808080u);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSrcW, kSrcH, srcBits.data(), kSrcW * 4);
    pixman_image_t* dst = pixman_image_create_bits(x8 ? PIXMAN_x8r8g8b8 : PIXMAN_r8g8b8, kDstW, kDstH,
                                                   dstBits.data(), dstStride);
    const pixman_color_t maskColour = {0, 0, 0, uint16_t(kOpacity * 257)};
    pixman_image_t* mask = pixman_image_create_solid_fill(&maskColour);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(kSrcW) / kDstW),
                                pixman_double_to_fixed(double(kSrcH) / kDstH));
    pixman_image_set_transform(src, &t);
    pixman_image_set_filter(src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(src, PIXMAN_REPEAT_PAD);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, src, mask, dst, 0, 0, 0, 0, 0, 0, kDstW, kDstH);
        benchmark::ClobberMemory();
    }
    state.counters["MP/s"] = benchmark::Counter(double(kDstW) * kDstH * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
    pixman_image_unref(mask);
    pixman_image_unref(dst);
    pixman_image_unref(src);
}
BENCHMARK(BM_PixmanBilinear)->ArgNames({"x8dst"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
