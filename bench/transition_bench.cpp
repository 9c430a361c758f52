// Transition frames at full HD on the software device, one and two threads:
// each frame draws the old slide (a 1920 x 1080 picture), renders the new one
// into a target and draws it through the effect, as a show does.
//   range(0): effect class (2 cross-fade, 4 circle, 1 mosaic, 16 flip)
//   range(1): drawing threads
// CPU is the whole process's, every drawing thread's work counted.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "bench/BenchDevice.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;

std::unique_ptr<ql::TBitmap> Picture(bool light) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(kW, kH, ql::PfARGB32());
    for (int32_t y = 0; y < kH; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
        for (int32_t x = 0; x < kW; ++x)
            row[x] = (light ? 0xFFA0A0A0u : 0xFF000000u) | uint32_t(x & 63) << 16 |
                     uint32_t(y & 63) << 8 | uint32_t((x ^ y) & 63);
    }
    return bitmap;
}

class TSlide : public orb::TDrawScene {
public:
    explicit TSlide(orb::TDrawPicture& picture) : m_picture(picture) {}
    void Draw(orb::TDeviceDrawer& d) override {
        orb::TImageDrawParams params;
        params.filter = orb::TFilter::Point;
        d.DrawImage(m_picture, {0, 0}, params, {1, 0}, {0, 1}, {0, 0});
    }

private:
    orb::TDrawPicture& m_picture;
};

class TFilter : public orb::TTransitionFilter {
public:
    explicit TFilter(int32_t effectClass) : m_class(effectClass) {
        params.Smoothline = 0.05f;
        params.CenterX = params.CenterY = 50;
        params.MosaicDX = 32;
        params.MosaicDY = 18;
        params.MosaicSC = 50;
        params.Seed = 7;
        params.FlipCurving = 0.5f;
        params.FlipSmooth = true;
    }
    double Time() const override { return time; }
    double Duration() const override { return 1000; }
    int32_t EffectClass() const override { return m_class; }
    int32_t EffectType() const override { return 1; }
    const orb::TEffectParams& Params() const override { return params; }
    orb::TEffectParams params;
    double time = 0;

private:
    int32_t m_class;
};

void BM_Transition(benchmark::State& state) {
    orb::TSoftDevice device({kW, kH, int32_t(state.range(1))});
    orb::T3DDrawer drawer(device);
    drawer.Init({kW, kH, false});
    drawer.SetCaptureMode(true);
    drawer.TextureManager().SetUploadPause(std::chrono::milliseconds(0));
    orb::TDrawPicture oldPicture, newPicture;
    oldPicture.store = ql::MakeRef<ql::TWrapperBitmapStore>(Picture(false));
    newPicture.store = ql::MakeRef<ql::TWrapperBitmapStore>(Picture(true));
    TSlide oldSlide(oldPicture), newSlide(newPicture);
    TFilter filter(int32_t(state.range(0)));
    // The slides' textures are uploaded ahead, as the loader does.
    filter.time = 1;
    drawer.DrawTransition(&oldSlide, &newSlide, false, &filter);
    int64_t frame = 0;
    for (auto _ : state) {
        // Progress sweeps 0.1 .. 0.9 so every part of the effect is timed.
        filter.time = 100 + double(frame++ % 81) * 10;
        drawer.DrawTransition(&oldSlide, &newSlide, false, &filter);
    }
    orb::bench::CountFrames(state);
    drawer.ReleaseImage(oldPicture);
    drawer.ReleaseImage(newPicture);
}
BENCHMARK(BM_Transition)
    ->ArgNames({"class", "threads"})
    ->Args({2, 1})
    ->Args({2, 2})
    ->Args({4, 1})
    ->Args({4, 2})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Args({16, 1})
    ->Args({16, 2})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace
