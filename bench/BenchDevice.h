// The device a drawing benchmark runs on, and how a timed frame ends.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlPixelFormats.h"

namespace orb::bench {

// The software device with `threads`, or a headless OpenGL device. Where
// there is no OpenGL, nullptr, and the benchmark is skipped with the reason.
inline std::unique_ptr<TRenderDevice> DeviceOrSkip(benchmark::State& state, bool gl, int32_t width,
                                                   int32_t height, int32_t threads) {
    if (!gl) return std::make_unique<TSoftDevice>(TSoftDeviceOptions{width, height, threads});
    std::string error;
    std::unique_ptr<TRenderDevice> device = TGlDevice::CreateHeadless(width, height, error);
    if (!device) state.SkipWithError(("no OpenGL here: " + error).c_str());
    return device;
}

// Waits for the frame: a GL driver may still be drawing when Present
// returns, and reading a pixel back makes it finish.
inline void FinishFrame(TRenderDevice& device) {
    if (!dynamic_cast<TGlDevice*>(&device)) return;
    ql::TDirectBitmap pixel(1, 1, ql::PfARGB32());
    device.ReadPixels({0, 0, 1, 1}, pixel);
}

// Reports the frames a second the timed loop drew.
inline void CountFrames(benchmark::State& state) {
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace orb::bench
