// A 1080p video frame drawn full screen through the YUV pipeline, a new frame
// each time (the planes uploaded and converted once per frame, as playing
// does), on the software device with one and two threads and on OpenGL
// where a headless context can be made (each frame read back one pixel, so
// that the driver finishes it). Same frame drawn again: the conversion kept.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "bench/BenchDevice.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
// The planes' textures: the next powers of two.
constexpr int32_t kTexW = 2048, kTexH = 2048;

// One plane of a frame as an L8 bitmap of the texture's size; frames differ
// by their seed.
std::unique_ptr<ql::TBitmap> Plane(int32_t w, int32_t h, int32_t seed) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(w, h, ql::FindPixelFormat("Y8"));
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* row = bitmap->Row(y);
        for (int32_t x = 0; x < w; ++x) row[x] = uint8_t(16 + (x + 3 * y + seed) % 220);
    }
    return bitmap;
}

void VideoFrame(benchmark::State& state, bool gl) {
    const std::unique_ptr<orb::TRenderDevice> device =
        orb::bench::DeviceOrSkip(state, gl, kW, kH, int32_t(state.range(0)));
    if (!device) return;
    const bool newFrames = state.range(1) != 0;
    orb::TTextureHandle planes[3] = {0, 0, 0};
    const int32_t sizes[3][2] = {{kTexW, kTexH}, {kTexW / 2, kTexH / 2}, {kTexW / 2, kTexH / 2}};
    std::vector<std::unique_ptr<ql::TBitmap>> frames[2];
    for (int32_t i = 0; i < 3; ++i) {
        device->CreateTexture(
            {sizes[i][0], sizes[i][1], 1, orb::TTexelFormat::L8, orb::TTextureUsage::Dynamic},
            planes[i]);
        for (int32_t f = 0; f < 2; ++f)
            frames[f].push_back(Plane(sizes[i][0], sizes[i][1], 40 * f + 7 * i));
        device->UploadLevel(planes[i], 0, *frames[0][size_t(i)]);
    }
    orb::TDrawState draw;
    draw.pipeline = orb::TPipeline::Yuv;
    draw.blend = orb::TBlendMode::Replace;
    draw.constants[0][0] = 1;  // BT.709, as HD clips are
    std::copy(planes, planes + 3, draw.textures);
    const float u = float(kW) / kTexW, v = float(kH) / kTexH;
    const orb::TVertex tl{0, 0, 0, 1, 0xFFFFFFFFu, 0, 0, 0, 0},
        tr{kW, 0, 0, 1, 0xFFFFFFFFu, u, 0, u, 0}, br{kW, kH, 0, 1, 0xFFFFFFFFu, u, v, u, v},
        bl{0, kH, 0, 1, 0xFFFFFFFFu, 0, v, 0, v};
    const std::vector<orb::TVertex> quad{tl, tr, br, tl, br, bl};
    int64_t frame = 0;
    for (auto _ : state) {
        if (newFrames)
            for (int32_t i = 0; i < 3; ++i)
                device->UploadLevel(planes[i], 0, *frames[frame & 1][size_t(i)]);
        device->BeginScene();
        device->DrawTriangles(draw, quad);
        device->EndScene();
        device->Present();
        orb::bench::FinishFrame(*device);
        ++frame;
        benchmark::ClobberMemory();
    }
    orb::bench::CountFrames(state);
}

void BM_VideoFrame_Soft(benchmark::State& state) {
    VideoFrame(state, false);
}
void BM_VideoFrame_Gl(benchmark::State& state) {
    VideoFrame(state, true);
}

}  // namespace

// range(0): drawing threads (software); range(1): a new frame each time.
BENCHMARK(BM_VideoFrame_Soft)
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({2, 0})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VideoFrame_Gl)->Args({1, 1})->Args({1, 0})->Unit(benchmark::kMillisecond);
