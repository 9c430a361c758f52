#include "OrbLib2/OrbPackage/qlOrbLoadCallback.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "QlLib/Platform/qlSystemAPI.h"

namespace orb {

namespace {
constexpr int64_t kYieldIntervalMs = 5;

std::atomic<int32_t> g_mode{kLoadRun};
std::atomic<int64_t> g_lastYieldMs{0};
std::mutex g_modeLock;  // serialises mode changes with their priority switch

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// True once per 5 ms across all loaders; the winner restarts the clock.
bool YieldDue() {
    const int64_t now = NowMs();
    int64_t last = g_lastYieldMs.load(std::memory_order_relaxed);
    if (now - last <= kYieldIntervalMs) return false;
    return g_lastYieldMs.compare_exchange_strong(last, now, std::memory_order_relaxed);
}
}  // namespace

bool LoadCallback(void*) {
    switch (g_mode.load(std::memory_order_relaxed)) {
        case kLoadYield:
            if (YieldDue()) std::this_thread::yield();
            return true;
        case kLoadSleep:
            if (YieldDue()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return true;
        case kLoadStop:
            return false;
        default:
            return true;
    }
}

void SetLoadCallbackMode(int32_t mode) {
    if (mode < kLoadRun || mode > kLoadStop) return;
    std::lock_guard<std::mutex> guard(g_modeLock);
    const int32_t old = g_mode.exchange(mode);
    g_lastYieldMs.store(NowMs());
    if (old != kLoadSleep && mode == kLoadSleep) ql::platform::SetProcessPriorityHigh(true);
    if (old == kLoadSleep && mode != kLoadSleep) ql::platform::SetProcessPriorityHigh(false);
}

int32_t LoadCallbackMode() {
    return g_mode.load(std::memory_order_relaxed);
}

}  // namespace orb
