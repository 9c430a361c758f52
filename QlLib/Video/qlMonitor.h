// A monitor: a re-entrant lock with a wait on a condition. Waits name what
// they wait for (a predicate checked under the lock), so a notify that comes
// before the wait is never missed. TActiveMonitor adds one worker thread that
// runs its owner's loop.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "QlLib/qpThreads2.h"

namespace ql {

class TMonitor {
public:
    TMonitor() = default;
    virtual ~TMonitor() = default;
    TMonitor(const TMonitor&) = delete;
    TMonitor& operator=(const TMonitor&) = delete;

    // Re-entrant: the owner may enter again; it leaves as often as it entered.
    void Enter();
    void Leave();
    // Wakes every waiter to check its predicate again. Callable with or
    // without the monitor held.
    void NotifyAll() { m_changed.notify_all(); }

    // Called inside the monitor: releases it entirely (whatever the recursion
    // count), waits until pred() holds and takes it back with the count
    // restored, also when pred throws.
    template <class TPredicate>
    void Wait(TPredicate pred) {
        TRelease release(*this);
        m_changed.wait(release.Lock, [&] { return pred(); });
    }

private:
    // Gives the recursion count up for the time of a wait and restores it.
    struct TRelease {
        explicit TRelease(TMonitor& monitor)
            : Monitor(monitor), Count(monitor.m_count), Lock(monitor.m_mutex, std::adopt_lock) {
            Monitor.m_count = 0;
            Monitor.m_owner.store(std::thread::id());
        }
        ~TRelease() {
            Lock.release();
            Monitor.m_owner.store(std::this_thread::get_id());
            Monitor.m_count = Count;
        }
        TMonitor& Monitor;
        int32_t Count;
        std::unique_lock<std::mutex> Lock;
    };

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::atomic<std::thread::id> m_owner{};
    int32_t m_count = 0;  // guarded by m_mutex
};

// Enters a monitor for a scope.
class TMonitorLock {
public:
    explicit TMonitorLock(TMonitor& monitor) : m_monitor(monitor) { m_monitor.Enter(); }
    ~TMonitorLock() { m_monitor.Leave(); }
    TMonitorLock(const TMonitorLock&) = delete;
    TMonitorLock& operator=(const TMonitorLock&) = delete;

private:
    TMonitor& m_monitor;
};

class TActiveMonitor;

// The worker of an active monitor: runs the monitor's Run until asked to stop.
class TActiveThread : public TThread {
public:
    enum TState : int32_t { Starting = 1, Running = 2, Finished = 3 };

    explicit TActiveThread(TActiveMonitor& owner);
    ~TActiveThread() override;

    TState State() const { return m_state.load(); }
    // Workers alive in the process.
    static int32_t LiveCount() { return s_live.load(); }

protected:
    void Execute() override;

private:
    TActiveMonitor& m_owner;
    std::atomic<TState> m_state{Starting};
    static std::atomic<int32_t> s_live;
};

class TActiveMonitor : public TMonitor {
public:
    TActiveMonitor();
    // A descendant calls StopWorker in its own destructor, before the fields
    // its Run uses go.
    ~TActiveMonitor() override;

    // Starts the worker; false when it could not be started.
    bool StartWorker();
    // Asks Run to return, wakes every wait and waits for the worker.
    void StopWorker();
    bool StopRequested() const { return m_stop.load(); }
    TActiveThread::TState WorkerState() const;

protected:
    friend class TActiveThread;
    // The worker's loop; returns when StopRequested() is set.
    virtual void Run() = 0;

private:
    std::unique_ptr<TActiveThread> m_worker;
    std::atomic<bool> m_stop{false};
};

}  // namespace ql
