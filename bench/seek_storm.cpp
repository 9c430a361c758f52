// A seek storm on a real show: the engine on its own thread with the null
// sound output, thousands of random seeks and pauses posted from another
// thread, then a last seek that must be served within a bound. Meant to be
// run under ThreadSanitizer as well. With GAP_MS the requests come that far
// apart, so that the engine serves each; the peak of the picture memory held
// is reported beside its budget. orbseekstorm SHOW [COUNT [GAP_MS]]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbEngine2.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"
#include "bench/BenchShow.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orbseekstorm SHOW [COUNT [GAP_MS]]\n");
        return 2;
    }
    const int count = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 1000000) : 3000;
    const int gapMs = argc > 3 ? std::clamp(std::atoi(argv[3]), 0, 10000) : 0;
    orb::bench::TBenchShow opened = orb::bench::OpenBenchShow(argv[1]);
    if (!opened.Locator) return 1;
    orb::TOrbShowLocator& show = *opened.Locator;
    std::unique_ptr<orb::TOrbSource> source = std::move(opened.Source);
    const int64_t total = std::max<int64_t>(1, int64_t(source->TotalTime()));

    orb::TSoftDevice device(orb::TSoftDeviceOptions{320, 180});
    orb::TEngineOptions options;
    options.ScreenWidth = 320;
    options.ScreenHeight = 180;
    options.SoundOutput.Kind = ql::TSoundOutputKind::Null;
    auto engine = std::make_unique<orb::TOrbEngine>(device, std::move(options), false);
    engine->Open(std::move(source), show.Accessor().Copy(), 0);
    if (!engine->StartThread()) return 1;

    std::atomic<bool> done{false};
    std::atomic<int64_t> peak{0};
    std::thread sampler([&] {
        while (!done) {
            peak = std::max(peak.load(), ql::PictureMemoryHeld());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    int64_t last = 0;
    std::thread storm([&] {
        uint32_t seed = 7;
        for (int i = 0; i < count; ++i) {
            seed = seed * 1664525u + 1013904223u;
            if (seed % 4 == 0) {
                engine->PostPause((seed >> 8) % 2 == 0);
            } else {
                last = engine->NewRequestId();
                engine->PostSeek(last, int64_t(seed >> 8) % total);
            }
            if (gapMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        }
        engine->PostPause(false);
        last = engine->NewRequestId();
        engine->PostSeek(last, total / 2);
    });
    storm.join();
    const auto start = std::chrono::steady_clock::now();
    bool served = false;
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(120)) {
        const orb::TEngineState state = engine->State();
        if (state.ServedRequest == last && state.Active) {
            served = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    engine.reset();
    done = true;
    sampler.join();
    std::printf("%d requests: the last %s after %.0f ms\n", count + 2,
                served ? "served" : "NOT served", ms);
    std::printf("picture memory: peak %.1f MiB held, budget %.1f MiB\n",
                double(peak.load()) / (1 << 20), double(ql::PictureMemoryBudget()) / (1 << 20));
    return served ? 0 : 1;
}
