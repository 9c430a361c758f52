// A kiosk's week on a virtual clock: the engine plays a show in
// deterministic mode, one frame per STEP_MS of show time (the music rendered
// offline in step), for DAYS days, and prints the process's resident memory,
// open file descriptors and threads at the start and then every REPORT_HOURS
// (24 unless given). Flat figures mean nothing piles up as the show loops.
// A week of the demo show takes over an hour of CPU: each loop of the show
// decodes its pictures again.
// orbsoak SHOW [DAYS [STEP_MS [REPORT_HOURS]]]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/OrbViewer/qlOrbEngine2.h"
#include "bench/BenchShow.h"

namespace {

// The value of a "Name:" line of /proc/self/status (kB for memory).
long StatusValue(const std::string& name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
    return -1;
}

long OpenDescriptors() {
    long count = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

void Report(double day, int64_t frames) {
    std::printf("day %5.2f  frames %10lld  rss %7ld kB  fds %4ld  threads %3ld\n", day,
                (long long)frames, StatusValue("VmRSS"), OpenDescriptors(), StatusValue("Threads"));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orbsoak SHOW [DAYS [STEP_MS [REPORT_HOURS]]]\n");
        return 2;
    }
    const double days = argc > 2 ? std::clamp(std::atof(argv[2]), 0.001, 365.0) : 7;
    const double stepMs = argc > 3 ? std::clamp(std::atof(argv[3]), 1.0, 60000.0) : 1000;
    const double reportHours = argc > 4 ? std::clamp(std::atof(argv[4]), 0.01, 24.0) : 24;
    orb::bench::TBenchShow opened = orb::bench::OpenBenchShow(argv[1]);
    if (!opened.Locator) return 1;

    orb::TSoftDevice device(orb::TSoftDeviceOptions{160, 90, 1});
    orb::TVirtualClock clock;
    orb::TEngineOptions options;
    options.Clock = &clock;
    options.Threaded = false;
    options.ScreenWidth = 160;
    options.ScreenHeight = 90;
    auto engine = std::make_unique<orb::TOrbEngine>(device, std::move(options), false);
    engine->Open(std::move(opened.Source), opened.Locator->Accessor().Copy(), 0);

    constexpr double kDayMs = 24.0 * 3600 * 1000;
    int64_t frames = 0, musicFrames = 0;
    double nextReport = 60000;  // the first minute: everything made once
    while (clock.NowMs() < days * kDayMs) {
        clock.Advance(stepMs);
        const int64_t total = int64_t(clock.NowMs() * 44.1);
        engine->PlayMusicFrames(total - musicFrames);
        musicFrames = total;
        engine->FillSlides();
        engine->Step();
        ++frames;
        if (clock.NowMs() >= nextReport) {
            Report(clock.NowMs() / kDayMs, frames);
            const double everyMs = reportHours * 3600 * 1000;
            nextReport = nextReport < everyMs ? everyMs : nextReport + everyMs;
        }
    }
    Report(clock.NowMs() / kDayMs, frames);
    std::printf("show time %.0f ms, engine time %.0f ms\n", clock.NowMs(), engine->CurrentTime());
    return 0;
}
