#include "QlLib/SysLock.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "QlLib/qpExceptions.h"

namespace ql {

struct TMutex::TCore {
    std::mutex Lock;
    std::condition_variable Freed;
    std::thread::id Owner;
    int32_t Depth = 0;
    bool Abandoned = false;
};

namespace {

// The mutexes a thread holds. When the thread ends, whatever it still holds is
// handed on as abandoned, so a waiter never blocks on a dead owner.
struct THeldMutexes {
    std::vector<std::shared_ptr<TMutex::TCore>> Cores;

    ~THeldMutexes() {
        const auto self = std::this_thread::get_id();
        for (auto& core : Cores) {
            std::lock_guard<std::mutex> lock(core->Lock);
            if (core->Owner != self) continue;
            core->Owner = std::thread::id();
            core->Depth = 0;
            core->Abandoned = true;
            core->Freed.notify_one();
        }
    }
};

thread_local THeldMutexes t_heldMutexes;

}  // namespace

TMutex::TMutex() : m_core(std::make_shared<TCore>()) {}

TMutex::~TMutex() = default;

bool TMutex::Wait(uint32_t timeoutMs) {
    const auto self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(m_core->Lock);
    if (m_core->Owner == self) {
        ++m_core->Depth;
        return true;
    }
    auto isFree = [&] { return m_core->Depth == 0; };
    if (timeoutMs == kInfinite) {
        m_core->Freed.wait(lock, isFree);
    } else if (!m_core->Freed.wait_for(lock, std::chrono::milliseconds(timeoutMs), isFree)) {
        return false;
    }
    m_core->Owner = self;
    m_core->Depth = 1;
    if (m_core->Abandoned) {
        m_core->Abandoned = false;
        m_abandoned.store(true);
    }
    lock.unlock();
    t_heldMutexes.Cores.push_back(m_core);
    return true;
}

void TMutex::Release() {
    {
        std::lock_guard<std::mutex> lock(m_core->Lock);
        if (m_core->Owner != std::this_thread::get_id() || m_core->Depth == 0) return;
        if (--m_core->Depth > 0) return;
        m_core->Owner = std::thread::id();
        m_core->Freed.notify_one();
    }
    auto& held = t_heldMutexes.Cores;
    auto it = std::find(held.begin(), held.end(), m_core);
    if (it != held.end()) held.erase(it);
}

void TSafeCriticalSection::Enter() {
    QL_ASSERT(m_mutex.Wait(kInfinite), "Error: TSafeCriticalSection.Enter");
}

void TEvent::Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = true;
    m_changed.notify_all();
}

void TEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = false;
}

bool TEvent::IsSet() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_set;
}

bool TEvent::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs == kInfinite) {
        m_changed.wait(lock, [&] { return m_set; });
        return true;
    }
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_set; });
}

}  // namespace ql
