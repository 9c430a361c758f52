// Seek latency on the software device: from a time of a show to a random
// other, the work until the first frame of the new time is presented, with
// the engine in its deterministic mode (the passes are called directly, so
// what is measured is the work of the seek, never a sleep or a thread's
// turn). orbseeklatency SHOW [SEEKS] [WxH]
//
// Each seek is timed in process CPU time and in wall time; between seeks
// the show plays on for a few frames so that the loader holds what playing
// leaves in it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbEngine2.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"
#include "bench/BenchShow.h"

namespace {

double CpuMs() {
    return 1000.0 * double(std::clock()) / CLOCKS_PER_SEC;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orbseeklatency SHOW [SEEKS] [WxH]\n");
        return 2;
    }
    const int seeks = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 10000) : 40;
    int width = 1920, height = 1080;
    if (argc > 3 && std::sscanf(argv[3], "%dx%d", &width, &height) != 2) return 2;
    width = std::clamp(width, 16, 8192);
    height = std::clamp(height, 16, 8192);

    orb::bench::TBenchShow opened = orb::bench::OpenBenchShow(argv[1]);
    if (!opened.Locator) return 1;
    orb::TOrbShowLocator& show = *opened.Locator;
    std::unique_ptr<orb::TOrbSource> source = std::move(opened.Source);
    const double total = source->TotalTime();

    orb::TSoftDevice device(orb::TSoftDeviceOptions{width, height});
    orb::TVirtualClock clock;
    orb::TEngineOptions options;
    options.Clock = &clock;
    options.Threaded = false;
    // Every pass draws, as a frame capture does: otherwise a pass whose scene
    // did not change presents nothing and the first frame would go unseen.
    options.AlwaysDraw = true;
    options.ScreenWidth = width;
    options.ScreenHeight = height;
    orb::TOrbEngine engine(device, std::move(options), false);
    engine.Open(std::move(source), show.Accessor().Copy(), 0);

    int64_t musicFrames = 0;
    // CPU time of building slides and of the passes themselves (drawing).
    double buildCpu = 0, stepCpu = 0;
    auto pass = [&] {
        const int64_t target = std::llround(clock.NowMs() * 44.1);
        engine.PlayMusicFrames(target - musicFrames);
        musicFrames = target;
        const double c0 = CpuMs();
        engine.FillSlides();
        const double c1 = CpuMs();
        engine.Step();
        buildCpu += c1 - c0;
        stepCpu += CpuMs() - c1;
    };
    // Passes with the clock standing until the time is on screen; the count
    // of passes, or -1 when it never comes.
    auto settle = [&](double time) {
        for (int i = 1; i <= 400; ++i) {
            if (engine.State().Waiting) engine.PostReleaseWait();
            pass();
            if (engine.Active() && engine.FramePresented() &&
                std::fabs(engine.CurrentTime() - time) < 50)
                return i;
        }
        return -1;
    };
    if (settle(0) < 0) {
        std::fprintf(stderr,
                     "the show does not start (active %d, presented %d, time %.1f, slides %zu)\n",
                     int(engine.Active()), int(engine.FramePresented()), engine.CurrentTime(),
                     engine.LoadedSlides().size());
        return 1;
    }

    std::vector<double> cpu, wall;
    uint32_t seed = 12345;
    int failed = 0;
    for (int s = 0; s < seeks; ++s) {
        seed = seed * 1664525u + 1013904223u;
        const double to =
            std::floor(double(seed >> 8) / double(1 << 24) * std::max(0.0, total - 1000));
        buildCpu = stepCpu = 0;
        const double cpu0 = CpuMs();
        const auto wall0 = std::chrono::steady_clock::now();
        engine.PostSeek(engine.NewRequestId(), int64_t(to));
        const int passes = settle(to);
        const double cpuMs = CpuMs() - cpu0;
        const double wallMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall0)
                .count();
        if (passes < 0) {
            ++failed;
            std::printf("seek %3d to %8.0f ms: no frame\n", s, to);
            continue;
        }
        cpu.push_back(cpuMs);
        wall.push_back(wallMs);
        std::printf(
            "seek %3d to %8.0f ms: %2d passes, cpu %7.1f ms (building slides %.1f, passes %.1f), "
            "wall %7.1f ms\n",
            s, to, passes, cpuMs, buildCpu, stepCpu, wallMs);
        // Play on for a few frames.
        for (int f = 0; f < 5; ++f) {
            clock.Advance(40);
            pass();
        }
    }
    std::printf(
        "%zu seeks at %dx%d (%d without a frame): cpu median %.1f ms, p90 %.1f ms, p95 %.1f ms, "
        "max %.1f ms; "
        "wall median %.1f ms, p95 %.1f ms, max %.1f ms\n",
        cpu.size(), width, height, failed, Percentile(cpu, 0.5), Percentile(cpu, 0.9),
        Percentile(cpu, 0.95), Percentile(cpu, 1.0), Percentile(wall, 0.5), Percentile(wall, 0.95),
        Percentile(wall, 1.0));
    return failed == 0 ? 0 : 1;
}
