// The software device drawing full-HD frames with one and two threads:
//   Quad:      a bilinear textured quad (a 2048 x 1024 picture scaled onto
//              1920 x 1080) at partial opacity, or a flat colour quad;
//   Slide:     a static slide, a 2400 x 1350 picture scaled onto the screen
//              over a cleared back buffer;
//   CrossFade: two such pictures drawn into render targets, then composed
//              on the back buffer, the second one at partial opacity.
//   TurnedSlide: the slide's picture turned a little, its sides sharp or
//              smooth.
// Slide and CrossFade run on the OpenGL device as well where a headless
// context can be made (each frame read back one pixel, so that the driver
// finishes it).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "QlLib/Platform/qlGlApi.h"
#include "bench/BenchDevice.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;
constexpr int32_t kPicW = 2400, kPicH = 1350;

std::vector<orb::TVertex> Quad(float l, float t, float r, float b, float u1, float v1) {
    const orb::TVertex tl{l, t, 0, 1, 0xFFFFFFFFu, 0, 0}, tr{r, t, 0, 1, 0xFFFFFFFFu, u1, 0};
    const orb::TVertex br{r, b, 0, 1, 0xFFFFFFFFu, u1, v1}, bl{l, b, 0, 1, 0xFFFFFFFFu, 0, v1};
    return {tl, tr, br, tl, br, bl};
}

// A texture of texW x texH holding a noisy opaque picture of picW x picH in
// its top left corner.
orb::TTextureHandle Picture(orb::TRenderDevice& device, int32_t texW, int32_t texH, int32_t picW,
                            int32_t picH, uint32_t seed) {
    orb::TTextureHandle texture = 0;
    device.CreateTexture({texW, texH, 1}, texture);
    ql::TDirectBitmap picture(texW, texH, ql::PfARGB32());
    std::mt19937 random(seed);
    for (int32_t y = 0; y < texH; ++y)
        for (int32_t x = 0; x < texW; ++x) {
            const uint32_t c = x < picW && y < picH ? (random() | 0xFF000000u) : 0u;
            std::memcpy(picture.Row(y) + x * 4, &c, 4);
        }
    device.UploadLevel(texture, 0, picture);
    return texture;
}

// range(0): threads, range(1): 1 for the textured quad
void BM_SoftDeviceQuad(benchmark::State& state) {
    orb::TSoftDevice device({kW, kH, int32_t(state.range(0))});
    const orb::TTextureHandle texture = Picture(device, 2048, 1024, 2048, 1024, 1);
    orb::TDrawState draw;
    draw.pipeline = state.range(1) ? orb::TPipeline::Texture : orb::TPipeline::Colour;
    draw.textures[0] = texture;
    draw.opacity = 200;
    const std::vector<orb::TVertex> quad = Quad(0, 0, kW, kH, 1, 1);
    for (auto _ : state) {
        device.DrawTriangles(draw, quad);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kW) * kH);
}
BENCHMARK(BM_SoftDeviceQuad)
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond);

void Slide(benchmark::State& state, bool gl) {
    const std::unique_ptr<orb::TRenderDevice> device =
        orb::bench::DeviceOrSkip(state, gl, kW, kH, int32_t(state.range(0)));
    if (!device) return;
    const orb::TTextureHandle texture = Picture(*device, 4096, 2048, kPicW, kPicH, 2);
    orb::TDrawState draw;
    draw.pipeline = orb::TPipeline::Texture;
    draw.textures[0] = texture;
    const std::vector<orb::TVertex> quad =
        Quad(0, 0, kW, kH, float(kPicW) / 4096, float(kPicH) / 2048);
    for (auto _ : state) {
        device->BeginScene();
        device->Clear(0xFF000000u);
        device->DrawTriangles(draw, quad);
        device->EndScene();
        device->Present();
        orb::bench::FinishFrame(*device);
        benchmark::ClobberMemory();
    }
    orb::bench::CountFrames(state);
}

void CrossFade(benchmark::State& state, bool gl) {
    const std::unique_ptr<orb::TRenderDevice> device =
        orb::bench::DeviceOrSkip(state, gl, kW, kH, int32_t(state.range(0)));
    if (!device) return;
    const orb::TTextureHandle pictures[2] = {Picture(*device, 4096, 2048, kPicW, kPicH, 3),
                                             Picture(*device, 4096, 2048, kPicW, kPicH, 4)};
    orb::TTextureHandle targets[2] = {0, 0};
    for (orb::TTextureHandle& target : targets)
        device->CreateTexture(
            {2048, 2048, 1, orb::TTexelFormat::A8R8G8B8, orb::TTextureUsage::RenderTarget}, target);
    const std::vector<orb::TVertex> slide =
        Quad(0, 0, kW, kH, float(kPicW) / 4096, float(kPicH) / 2048);
    const std::vector<orb::TVertex> compose =
        Quad(0, 0, kW, kH, float(kW) / 2048, float(kH) / 2048);
    int32_t frame = 0;
    for (auto _ : state) {
        device->BeginScene();
        orb::TDrawState draw;
        draw.pipeline = orb::TPipeline::Texture;
        for (int32_t i = 0; i < 2; ++i) {
            device->SetRenderTarget(targets[i]);
            device->Clear(0xFF000000u);
            draw.textures[0] = pictures[i];
            device->DrawTriangles(draw, slide);
        }
        device->SetRenderTarget(0);
        draw.blend = orb::TBlendMode::Replace;
        draw.textures[0] = targets[0];
        device->DrawTriangles(draw, compose);
        draw.blend = orb::TBlendMode::Over;
        draw.textures[0] = targets[1];
        draw.opacity = uint8_t(1 + frame++ % 254);
        device->DrawTriangles(draw, compose);
        device->EndScene();
        device->Present();
        orb::bench::FinishFrame(*device);
        benchmark::ClobberMemory();
    }
    orb::bench::CountFrames(state);
}

// The slide's picture turned by 3 degrees and shrunk to fit, its sides
// sharp or smooth: what smooth edges cost. range(0): threads, range(1): 1
// for smooth sides.
void BM_SoftDeviceTurnedSlide(benchmark::State& state) {
    orb::TSoftDevice device({kW, kH, int32_t(state.range(0))});
    const orb::TTextureHandle texture = Picture(device, 4096, 2048, kPicW, kPicH, 2);
    orb::TDrawState draw;
    draw.pipeline = orb::TPipeline::Texture;
    draw.textures[0] = texture;
    draw.smoothSides = state.range(1) ? 15 : 0;
    const float a = 3.0f * 3.14159265f / 180.0f, w = 1800, h = 960;
    const float c = std::cos(a), s = std::sin(a);
    auto corner = [&](float x, float y, float u, float v) {
        const float dx = x - w / 2, dy = y - h / 2;
        return orb::TVertex{
            kW / 2.0f + dx * c - dy * s, kH / 2.0f + dx * s + dy * c, 0, 1, 0xFFFFFFFFu, u, v};
    };
    const float u1 = float(kPicW) / 4096, v1 = float(kPicH) / 2048;
    const orb::TVertex tl = corner(0, 0, 0, 0), tr = corner(w, 0, u1, 0), br = corner(w, h, u1, v1),
                       bl = corner(0, h, 0, v1);
    const std::vector<orb::TVertex> quad{tl, tr, br, tl, br, bl};
    for (auto _ : state) {
        device.BeginScene();
        device.Clear(0xFF000000u);
        device.DrawTriangles(draw, quad);
        device.EndScene();
        device.Present();
        benchmark::ClobberMemory();
    }
    orb::bench::CountFrames(state);
}
BENCHMARK(BM_SoftDeviceTurnedSlide)
    ->Args({2, 0})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// range(0): threads
void BM_SoftDeviceSlide(benchmark::State& state) {
    Slide(state, false);
}
BENCHMARK(BM_SoftDeviceSlide)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// range(0): threads
void BM_SoftDeviceCrossFade(benchmark::State& state) {
    CrossFade(state, false);
}
BENCHMARK(BM_SoftDeviceCrossFade)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GlDeviceSlide(benchmark::State& state) {
    Slide(state, true);
}
BENCHMARK(BM_GlDeviceSlide)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GlDeviceCrossFade(benchmark::State& state) {
    CrossFade(state, true);
}
BENCHMARK(BM_GlDeviceCrossFade)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
