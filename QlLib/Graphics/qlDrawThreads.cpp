#include "QlLib/Graphics/qlDrawThreads.h"

#include <algorithm>
#include <utility>

namespace ql {

TDrawThreadPool::TDrawThreadPool(int32_t threads) {
    const int32_t extra = std::clamp(threads, 1, 64) - 1;
    for (int32_t i = 0; i < extra; ++i) m_workers.emplace_back([this] { Work(); });
}

TDrawThreadPool::~TDrawThreadPool() {
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_workers) t.join();
}

void TDrawThreadPool::Drain() {
    for (int32_t i; (i = m_next.fetch_add(1)) < m_count;) {
        try {
            (*m_job)(i);
        } catch (...) {
            std::lock_guard lock(m_lock);
            if (!m_error) m_error = std::current_exception();
        }
    }
}

void TDrawThreadPool::Work() {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [&] { return m_stop || (m_generation != seen && m_slots > 0); });
            if (m_stop) return;
            seen = m_generation;
            --m_slots;
        }
        Drain();
        std::lock_guard lock(m_lock);
        if (--m_busy == 0) m_done.notify_all();
    }
}

void TDrawThreadPool::Run(int32_t count, const std::function<void(int32_t)>& job) {
    if (count <= 0) return;
    std::lock_guard run(m_runLock);
    bool wake = false;
    {
        std::lock_guard lock(m_lock);
        m_job = &job;
        m_count = count;
        m_next.store(0);
        m_error = nullptr;
        // Only as many workers as there are jobs beside the caller's first:
        // a picture of one band (a small draw) wakes nobody, instead of
        // every worker waking to find nothing left.
        m_slots = std::min(int32_t(m_workers.size()), count - 1);
        m_busy = m_slots;
        wake = m_slots > 0;
        ++m_generation;
    }
    if (wake) m_wake.notify_all();
    Drain();
    std::unique_lock lock(m_lock);
    m_done.wait(lock, [&] { return m_busy == 0; });
    m_job = nullptr;
    if (m_error) std::rethrow_exception(std::exchange(m_error, nullptr));
}

}  // namespace ql
