// Synchronisation wrappers: critical sections, events, mutexes and counters.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "QlLib/SysObj.h"

namespace ql {

// Wait without a time limit.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A process-local lock that the owning thread may enter again (recursive).
class TCriticalSection : public TObj {
public:
    void Enter() { m_mutex.lock(); }
    bool TryEnter() { return m_mutex.try_lock(); }
    void Leave() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// A mutex that its owner may take again and that counts as abandoned when its
// owner thread ends while holding it; the next waiter then gets it, flagged.
class TMutex : public TObj {
public:
    TMutex();
    ~TMutex() override;

    // True when the mutex was taken within timeoutMs (kInfinite: no limit),
    // also when it was abandoned (Abandoned() then tells so).
    bool Wait(uint32_t timeoutMs);
    // Releases one level of ownership; does nothing for a thread that is not the owner.
    void Release();
    bool Abandoned() const { return m_abandoned.load(); }
    void ResetAbandoned() { m_abandoned.store(false); }

    struct TCore;

private:
    std::shared_ptr<TCore> m_core;
    std::atomic<bool> m_abandoned{false};
};

// A lock over an unnamed mutex: entering waits without limit; an abandoned
// mutex counts as entered and is flagged.
class TSafeCriticalSection : public TObj {
public:
    void Enter();
    void Leave() { m_mutex.Release(); }
    bool Abandoned() const { return m_mutex.Abandoned(); }

private:
    TMutex m_mutex;
};

// A manual-reset event, initially not set.
class TEvent : public TObj {
public:
    explicit TEvent(bool initiallySet = false) : m_set(initiallySet) {}

    void Set();
    void Reset();
    bool IsSet();
    // True when the event was set within timeoutMs (kInfinite: no limit).
    bool Wait(uint32_t timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set;
};

// A 32-bit counter with a start value, incremented atomically.
class TInterlockedCounter : public TObj {
public:
    explicit TInterlockedCounter(int32_t start = 0) : m_value(start) {}
    // Returns the new value.
    int32_t Increment() { return m_value.fetch_add(1) + 1; }
    int32_t Value() const { return m_value.load(); }

private:
    std::atomic<int32_t> m_value;
};

// Holds a lock (anything with Enter and Leave) for the guard's lifetime.
template <class TLockable>
class TLockGuard {
public:
    explicit TLockGuard(TLockable& lock) : m_lock(lock) { m_lock.Enter(); }
    ~TLockGuard() { m_lock.Leave(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    TLockable& m_lock;
};

}  // namespace ql
