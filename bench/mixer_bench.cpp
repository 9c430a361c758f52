// The mixer's cost per second of output, and the clock's accuracy on the
// offline and null outputs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "QlLib/Music/MusicClasses.h"
#include "bench/ToneSource.h"

namespace {

using namespace ql;

TPcmSourceFactory ToneFactory() {
    return [](const std::u16string& name) {
        return std::make_unique<orb::bench::TToneSource>(int(50 + name.size()));
    };
}

// One iteration renders one second of output with 8 channels; fading: each
// channel is inside a fade-in that outlasts the run, so every frame takes the
// ramped path.
void MixSecond(benchmark::State& state, bool fading) {
    TMusicPlayerClass device(std::make_unique<TOfflineSoundOutput>(), ToneFactory());
    std::vector<std::unique_ptr<TChannel>> channels;
    for (int i = 0; i < 8; ++i) {
        channels.push_back(device.CreateChannel(std::u16string(size_t(i + 1), u'a'), -1));
        channels.back()->Start(fading ? 1e7 : 0);
    }
    std::vector<int16_t> block(44100 * 2);
    for (auto _ : state) {
        device.Pull(block.data(), 44100);
        benchmark::DoNotOptimize(block.data());
    }
}

void BM_Mix8ChannelsFading(benchmark::State& state) {
    MixSecond(state, true);
}
void BM_Mix8ChannelsSteady(benchmark::State& state) {
    MixSecond(state, false);
}
BENCHMARK(BM_Mix8ChannelsFading)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mix8ChannelsSteady)->Unit(benchmark::kMillisecond);

// The offline clock after 60 s pulled: error against 60000 ms.
void BM_ClockOffline60s(benchmark::State& state) {
    double error = 0;
    for (auto _ : state) {
        TMusicPlayerClass device(std::make_unique<TOfflineSoundOutput>(), ToneFactory());
        auto channel = device.CreateChannel(u"a", -1);
        channel->Start(10);
        const double start = device.Clock();
        std::vector<int16_t> block(441 * 2);
        for (int i = 0; i < 6000; ++i) device.Pull(block.data(), 441);
        error = device.Clock() - start - 60000.0;
    }
    state.counters["error_ms"] = error;
}
BENCHMARK(BM_ClockOffline60s)->Iterations(1)->Unit(benchmark::kMillisecond);

// The null output's clock against the steady clock over 60 s of real time.
void BM_ClockNull60s(benchmark::State& state) {
    double worst = 0, final = 0;
    for (auto _ : state) {
        TMusicPlayerClass device(std::make_unique<TNullSoundOutput>(), ToneFactory());
        // Let the output run first, as it does in the player before a show starts.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const double clock0 = device.Clock();
        const double tick0 = PreciseTickMs();
        for (int s = 0; s < 60; ++s) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            const double drift = (device.Clock() - clock0) - (PreciseTickMs() - tick0);
            worst = std::max(worst, std::fabs(drift));
            final = drift;
        }
    }
    state.counters["final_error_ms"] = final;
    state.counters["worst_error_ms"] = worst;
}
BENCHMARK(BM_ClockNull60s)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
