// Plays a show in real time on the engine's own thread with the null sound
// output and logs how far the show clock strays from the sound clock.
//
//   orbsynccheck SHOW [SECONDS]
//
// The music player is wrapped so that the sound clock the engine read for a
// pass is known. Two differences are kept, both against the first one seen
// (the engine's clock offset is constant while the show runs):
// - "pass": the show time of a pass (its position report) against the sound
//   clock read in that same pass: what the engine's smoothing adds;
// - "report": the same show time against the sound clock read when the
//   report is made, after the frame was drawn: adds the drawing time and
//   any time the thread waited for a core (large on a loaded machine).
// A jump of a difference by more than half a second starts a new reference
// (a repeating show starting over).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbEngine2.h"
#include "OrbLib2/OrbViewer/qlOrbEngineMusic.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"
#include "bench/BenchShow.h"

namespace {

// The show's music player, remembering the last position it gave.
class TProbedMusic : public orb::TEngineMusic {
public:
    explicit TProbedMusic(std::unique_ptr<orb::TEngineMusic> inner) : m_inner(std::move(inner)) {}
    void Start() override { m_inner->Start(); }
    void Stop() override { m_inner->Stop(); }
    void Run(bool running) override { m_inner->Run(running); }
    void Seek(double time, double barrier) override { m_inner->Seek(time, barrier); }
    double Position() const override {
        const double position = m_inner->Position();
        LastPosition.store(position);
        return position;
    }
    double Barrier() const override { return m_inner->Barrier(); }
    bool Ready() const override { return m_inner->Ready(); }
    float Volume() const override { return m_inner->Volume(); }
    void SetVolume(float volume) override { m_inner->SetVolume(volume); }
    bool MustRebuild() const override { return m_inner->MustRebuild(); }
    // The position the engine read last, without reading the clock again.
    mutable std::atomic<double> LastPosition{0};
    double Now() const { return m_inner->Position(); }

private:
    std::unique_ptr<orb::TEngineMusic> m_inner;
};

struct TDeviation {
    bool HaveReference = false;
    double Reference = 0, Last = 0, Max = 0, WindowMax = 0, Sum = 0;
    int64_t Count = 0;
    int32_t Runs = 0;
    double Mean() const { return Count > 0 ? Sum / double(Count) : 0; }
    void Add(double difference) {
        if (!HaveReference || std::fabs(difference - Last) > 500) {
            ++Runs;
            Reference = difference;
            HaveReference = true;
        }
        Last = difference;
        Max = std::max(Max, std::fabs(difference - Reference));
        Sum += std::fabs(difference - Reference);
        ++Count;
        WindowMax = std::max(WindowMax, std::fabs(difference - Reference));
    }
};

class TSyncProbe : public orb::TEngineListener {
public:
    void EngineEvent(std::unique_ptr<orb::TOrbEventData> event) override {
        TProbedMusic* music = Music.load();
        if (event->Code != orb::kEnginePosition || event->Values.size() < 2 || !Engine || !music)
            return;
        if (!Engine->Active()) return;
        const double shown = double(event->Values[1]);
        const double atPass = music->LastPosition.load() - shown;
        const double atReport = music->Now() - shown;
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_samples;
        m_pass.Add(atPass);
        m_report.Add(atReport);
    }
    // Prints the figures of the last window and starts a new one.
    void Print(double seconds) {
        std::lock_guard<std::mutex> lock(m_lock);
        std::printf(
            "t=%5.0f s reports=%lld runs=%d max|show-sound|: pass %.2f ms (window %.2f), report "
            "%.2f ms "
            "(window %.2f), load %s",
            seconds, static_cast<long long>(m_samples), m_pass.Runs, m_pass.Max, m_pass.WindowMax,
            m_report.Max, m_report.WindowMax, LoadAverage().c_str());
        std::fflush(stdout);
        m_pass.WindowMax = m_report.WindowMax = 0;
    }
    void Summary(double seconds) {
        std::lock_guard<std::mutex> lock(m_lock);
        std::printf(
            "over %.0f s, %lld reports: max |show clock - sound clock| at the pass %.2f ms (mean "
            "%.3f ms), "
            "at the report %.2f ms (mean %.3f ms)\n",
            seconds, static_cast<long long>(m_samples), m_pass.Max, m_pass.Mean(), m_report.Max,
            m_report.Mean());
    }
    static std::string LoadAverage() {
        std::ifstream in("/proc/loadavg");
        std::string line;
        std::getline(in, line);
        return line.substr(0, line.find(' ', line.find(' ', line.find(' ') + 1) + 1)) + "\n";
    }

    orb::TOrbEngine* Engine = nullptr;
    std::atomic<TProbedMusic*> Music{nullptr};

private:
    std::mutex m_lock;
    TDeviation m_pass, m_report;
    int64_t m_samples = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orbsynccheck SHOW [SECONDS]\n");
        return 2;
    }
    const double seconds = argc > 2 ? std::clamp(std::atof(argv[2]), 1.0, 86400.0) : 600.0;
    orb::bench::TBenchShow opened = orb::bench::OpenBenchShow(argv[1]);
    if (!opened.Locator) return 1;
    orb::TOrbShowLocator& show = *opened.Locator;
    std::unique_ptr<orb::TOrbSource> source = std::move(opened.Source);

    orb::TSoftDeviceOptions deviceOptions{320, 180};
    orb::TSoftDevice device(deviceOptions);
    orb::TEngineOptions options;
    options.ScreenWidth = 320;
    options.ScreenHeight = 180;
    options.SoundOutput.Kind = ql::TSoundOutputKind::Null;
    TSyncProbe probe;
    // The engine's own music player, as it makes it, behind the probe.
    options.Music = [&probe](orb::TOrbSource& source, orb::TFileAccessor* accessor,
                             const orb::TEngineClock&) {
        orb::TMusicPlayerOptions playerOptions;
        playerOptions.Output.Kind = ql::TSoundOutputKind::Null;
        if (accessor)
            playerOptions.OpenEntry = [accessor](const std::u16string& name) {
                return accessor->OpenStream(name);
            };
        auto music = std::make_unique<TProbedMusic>(std::make_unique<orb::TPlayerMusic>(
            std::make_unique<orb::TOrbMusicPlayer>(source, std::move(playerOptions))));
        probe.Music = music.get();
        return music;
    };
    auto engine = std::make_unique<orb::TOrbEngine>(device, std::move(options), false);
    probe.Engine = engine.get();
    engine->SetListener(&probe);
    engine->Open(std::move(source), show.Accessor().Copy(), 0);
    if (!engine->StartThread()) {
        std::fprintf(stderr, "the engine thread did not start\n");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int minute = 1; minute * 60.0 <= seconds + 59; ++minute) {
        const double until = std::min(seconds, minute * 60.0);
        std::this_thread::sleep_until(start + std::chrono::milliseconds(int64_t(until * 1000)));
        probe.Print(until);
    }
    engine.reset();
    probe.Summary(seconds);
    return 0;
}
