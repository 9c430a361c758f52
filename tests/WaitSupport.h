// Bounded waits for tests. A bound here only keeps a broken build from hanging
// the run; it never claims anything about speed, so it is long enough for a
// loaded machine and a sanitizer build.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

namespace ql::test {

inline constexpr std::chrono::milliseconds kHangGuard{30000};
inline constexpr uint32_t kHangGuardMs = 30000;

// A count of things that happened, for a test thread to wait on: the code
// under test's callback calls Notify.
class TSignal {
public:
    void Notify() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            ++m_count;
        }
        m_changed.notify_all();
    }

    // Waits until test() holds, asking again after each Notify; false when it
    // still fails at the bound. The test runs without the signal's lock, so it
    // may take the locks of the code that notifies. State may settle after
    // the last notification, so the test is also asked every `recheck`.
    template <class F>
    bool WaitFor(F test, std::chrono::milliseconds bound = kHangGuard,
                 std::chrono::milliseconds recheck = std::chrono::milliseconds(50)) {
        const auto until = std::chrono::steady_clock::now() + bound;
        for (;;) {
            uint64_t seen;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                seen = m_count;
            }
            if (test()) return true;
            const auto now = std::chrono::steady_clock::now();
            if (now >= until) return false;
            std::unique_lock<std::mutex> lock(m_lock);
            m_changed.wait_until(lock, std::min(until, now + recheck),
                                 [&] { return m_count != seen; });
        }
    }

private:
    std::mutex m_lock;  // guards m_count
    std::condition_variable m_changed;
    uint64_t m_count = 0;
};

// For state that changes without telling anyone (a device clock, a player's
// position): asks test() again every millisecond; false when it still fails
// at the bound.
template <class F>
bool WaitUntil(F test, std::chrono::milliseconds bound = kHangGuard) {
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!test()) {
        if (std::chrono::steady_clock::now() >= until) return test();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Runs a call that must come back by itself (a request given up on, a scan
// that must end) on a thread of its own and returns its result. A call still
// running at the bound has hung: the program reports it and ends at once,
// because the call may still use the test's objects.
template <class F>
auto ReturnsWithin(F call, std::chrono::milliseconds bound = kHangGuard) -> decltype(call()) {
    using TResult = decltype(call());
    std::packaged_task<TResult()> task(std::move(call));
    std::future<TResult> result = task.get_future();
    std::thread worker(std::move(task));
    if (result.wait_for(bound) != std::future_status::ready) {
        std::fprintf(stderr, "a call that must return by itself still ran after %lld ms\n",
                     static_cast<long long>(bound.count()));
        std::fflush(stderr);
        std::abort();
    }
    worker.join();
    return result.get();
}

}  // namespace ql::test
