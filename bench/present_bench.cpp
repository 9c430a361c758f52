// What putting a software-drawn 1080p frame on the screen costs the player's
// process: the SDL host's Present of a full frame (a texture update and a
// copy on a graphics card, or one copy into the window's shared-memory
// image where there is none, as under Xvfb). Needs a display: run under
// xvfb-run (or on a desktop); without one the benchmark says so and skips.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "QlLib/Platform/qlSdlHost.h"

namespace {

void BM_SdlPresent1080p(benchmark::State& state) {
    ql::TSdlHost host;
    std::string error;
    ql::TWindowParams params;
    params.Client = {0, 0, 1920, 1080};
    if (!host.Init(error) || !host.OpenWindow(params, error)) {
        state.SkipWithError(("no display: " + error).c_str());
        return;
    }
    std::vector<uint32_t> pixels(size_t(1920) * 1080);
    uint32_t shade = 0;
    for (auto _ : state) {
        // A frame that changes, as a playing show's do.
        pixels[size_t(shade % 1080) * 1920] = 0xFF000000u | shade++;
        host.Present({reinterpret_cast<const uint8_t*>(pixels.data()), 1920, 1080, 1920 * 4});
        ql::THostEvent event;
        while (host.PollEvent(event)) {
        }
    }
}
BENCHMARK(BM_SdlPresent1080p)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace
