#include "OrbLib2/OrbViewer/qlOrbEngineClock.h"

#include <chrono>
#include <thread>

namespace orb {

namespace {
int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

TSystemClock::TSystemClock() : m_startNs(SteadyNs()) {}

double TSystemClock::NowMs() const { return double(SteadyNs() - m_startNs) / 1e6; }

void TSystemClock::Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace orb
