// A small pool of drawing threads that run the bands of one picture.
//
// The pool is owned by whoever draws (a drawer, or the draw manager that
// hands it to its drawers), not global: the engine thread and the slide
// loader draw at the same time, and a shared pool would make one wait for
// the other's picture.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ql {

class TDrawThreadPool {
public:
    // threads counts the calling thread: 1 runs everything on the caller.
    explicit TDrawThreadPool(int32_t threads);
    ~TDrawThreadPool();
    TDrawThreadPool(const TDrawThreadPool&) = delete;
    TDrawThreadPool& operator=(const TDrawThreadPool&) = delete;

    int32_t Threads() const { return int32_t(m_workers.size()) + 1; }

    // Calls job(i) for every i in [0, count) across the threads and returns
    // when all are done; the first exception a job raised is raised again here.
    // One Run at a time: concurrent callers take turns.
    void Run(int32_t count, const std::function<void(int32_t)>& job);

private:
    void Work();
    void Drain();

    std::mutex m_runLock;  // lets one Run through at a time
    std::mutex m_lock;     // guards the fields below down to m_error
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const std::function<void(int32_t)>* m_job = nullptr;
    int32_t m_count = 0;
    int32_t m_busy = 0;   // workers of this run not yet done
    int32_t m_slots = 0;  // workers this run may still take
    uint64_t m_generation = 0;
    bool m_stop = false;
    std::exception_ptr m_error;
    std::atomic<int32_t> m_next{0};
    std::vector<std::thread> m_workers;
};

}  // namespace ql
