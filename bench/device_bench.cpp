// The software device drawing one full-HD frame: a bilinear textured quad
// (a 2048 x 1024 picture scaled onto 1920 x 1080) at partial opacity, and a
// flat colour quad, with one and two threads.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "OrbLib2/3DBasics/qlSoftDevice.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;

// range(0): threads, range(1): 1 for the textured quad
void BM_SoftDeviceQuad(benchmark::State& state) {
    orb::TSoftDevice device({kW, kH, int32_t(state.range(0))});
    orb::TTextureHandle texture = 0;
    device.CreateTexture({2048, 1024, 1}, texture);
    ql::TDirectBitmap picture(2048, 1024, ql::PfARGB32());
    std::mt19937 random(1);
    for (int32_t y = 0; y < 1024; ++y)
        for (int32_t x = 0; x < 2048; ++x) {
            const uint32_t c = random() | 0xFF000000u;
            std::memcpy(picture.Row(y) + x * 4, &c, 4);
        }
    device.UploadLevel(texture, 0, picture);
    orb::TDrawState draw;
    draw.pipeline = state.range(1) ? orb::TPipeline::Texture : orb::TPipeline::Colour;
    draw.textures[0] = texture;
    draw.opacity = 200;
    const orb::TVertex tl{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0}, tr{kW, 0, 0, 1, 0xFFFFFFFFu, 1, 0};
    const orb::TVertex br{kW, kH, 0, 1, 0xFFFFFFFFu, 1, 1}, bl{0, kH, 0, 1, 0xFFFFFFFFu, 0, 1};
    const std::vector<orb::TVertex> quad = {tl, tr, br, tl, br, bl};
    for (auto _ : state) {
        device.DrawTriangles(draw, quad);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kW) * kH);
}
BENCHMARK(BM_SoftDeviceQuad)->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})->Unit(benchmark::kMillisecond);

}  // namespace
