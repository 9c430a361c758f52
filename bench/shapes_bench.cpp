// Boxes and masked content at 1920 x 1080 through the drawer as slides draw
// them, on the software device with one and two threads and on the OpenGL
// device where a headless context can be made (each frame read back one
// pixel, so that the driver finishes it):
//   Boxes:    20 antialiased gradient boxes (each 480 x 270, turned a little,
//             the five fills in turn) over a cleared frame;
//   ViewPort: a full-screen picture seen through two overlapping 1200 x 800
//             masks, one at half opacity.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>

#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/MaskGenerator.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Platform/qlGlApi.h"
#include "bench/BenchDevice.h"

namespace {

constexpr int32_t kW = 1920, kH = 1080;

class TFuncScene : public orb::TDrawScene {
public:
    explicit TFuncScene(std::function<void(orb::TDeviceDrawer&)> draw) : m_draw(std::move(draw)) {}
    void Draw(orb::TDeviceDrawer& drawer) override { m_draw(drawer); }

private:
    std::function<void(orb::TDeviceDrawer&)> m_draw;
};

// threads 0: the OpenGL device.
struct TRig {
    std::unique_ptr<orb::TRenderDevice> device;
    std::unique_ptr<orb::T3DDrawer> drawer;
    explicit TRig(int32_t threads) {
        std::string error;
        if (threads > 0) {
            device = std::make_unique<orb::TSoftDevice>(orb::TSoftDeviceOptions{kW, kH, threads});
        } else {
            device = orb::TGlDevice::CreateHeadless(kW, kH, error);
        }
        if (!device) return;
        drawer = std::make_unique<orb::T3DDrawer>(*device);
        drawer->Init({kW, kH, false});
        drawer->SetCaptureMode(true);
    }
    // Draws a frame and, on the GL device, waits for it.
    void Frame(orb::TDrawScene& scene) {
        benchmark::DoNotOptimize(drawer->DrawScene(scene));
        orb::bench::FinishFrame(*device);
    }
};

// range(0): threads, 0 for the OpenGL device
void BM_GradientBoxes(benchmark::State& state) {
    TRig rig(int32_t(state.range(0)));
    if (!rig.drawer) {
        state.SkipWithError("no OpenGL device here");
        return;
    }
    const int32_t fills[] = {orb::kSolidFill, orb::kHorizontalGradientFill,
                             orb::kVerticalGradientFill, orb::kDiagonalFillTLBR,
                             orb::kDiagonalFillTRBL};
    TFuncScene scene([&](orb::TDeviceDrawer& d) {
        d.Clear(0xFF000000u, false);
        for (int32_t i = 0; i < 20; ++i) {
            orb::TBoxParams box;
            box.fillType = fills[i % 5];
            box.colour1 = 0xFFFF4020u;
            box.colour2 = 0x6020A0FFu;
            box.edgeFlags = orb::efLeft | orb::efTop | orb::efRight | orb::efBottom;
            const float angle = 0.05f * float(i % 7);
            const float x = 40.0f + float(i % 5) * 360.0f, y = 40.0f + float(i / 5) * 250.0f;
            d.DrawBox({x, y}, {480, 270}, box, {std::cos(angle), std::sin(angle)},
                      {-std::sin(angle), std::cos(angle)});
        }
    });
    for (auto _ : state) rig.Frame(scene);
    orb::bench::CountFrames(state);
}
BENCHMARK(BM_GradientBoxes)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// range(0): threads, 0 for the OpenGL device
void BM_ViewPortTwoMasks(benchmark::State& state) {
    TRig rig(int32_t(state.range(0)));
    if (!rig.drawer) {
        state.SkipWithError("no OpenGL device here");
        return;
    }
    orb::TDrawPicture picture, masks[2];
    auto bitmap = std::make_unique<ql::TDirectBitmap>(kW, kH, ql::PfARGB32());
    std::mt19937 random(7);
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x)
            reinterpret_cast<uint32_t*>(bitmap->Row(y))[x] = random() | 0xFF000000u;
    picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap));
    orb::TMaskGenerator generator;
    orb::TMaskParams params;
    params.Width = 1200;
    params.Height = 800;
    params.Shape = orb::msEllipse;
    params.Softness = 30;
    masks[0].store = ql::MakeRef<ql::TWrapperBitmapStore>(generator.GenerateAlpha(params));
    params.Shape = orb::msRoundedRect;
    params.Corner = 20;
    masks[1].store = ql::MakeRef<ql::TWrapperBitmapStore>(generator.GenerateAlpha(params));
    TFuncScene scene([&](orb::TDeviceDrawer& d) {
        d.Clear(0xFF000000u, false);
        d.DrawMaskedScene(
            [&] {
                d.DrawImage(picture, {0, 0}, orb::TImageDrawParams(), {1, 0}, {0, 1}, {0, 0});
            },
            [&] {
                orb::TImageDrawParams half;
                half.opacity = 128;
                d.DrawImage(masks[0], {100, 100}, orb::TImageDrawParams(), {1, 0}, {0, 1}, {0, 0});
                d.DrawImage(masks[1], {620, 180}, half, {1, 0}, {0, 1}, {0, 0});
            });
    });
    for (auto _ : state) rig.Frame(scene);
    orb::bench::CountFrames(state);
    rig.drawer->ReleaseImage(picture);
    for (auto& mask : masks) rig.drawer->ReleaseImage(mask);
}
BENCHMARK(BM_ViewPortTwoMasks)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
