// TThread: a worker thread with a virtual Execute, a terminated flag and a
// bounded, logged shutdown.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "QlLib/SysLock.h"
#include "QlLib/SysObj.h"

namespace ql {

// Receives the message of an exception that escaped a thread's Execute; the
// player shows it in a message box headed "Application Error". Without one the
// message goes to the debug output.
using TThreadExceptionReporter = void (*)(const std::string& message);
void SetThreadExceptionReporter(TThreadExceptionReporter reporter);

class TThread : public TObj {
public:
    TThread();
    // Stops the thread as Shutdown does.
    ~TThread() override;

    // Starts a run of Execute. False when the thread could not be created, and
    // false (nothing done) while a previous run is still active.
    bool Start();
    // Asks Execute to finish: sets the terminated flag and wakes WaitForTerminate.
    void Terminate();
    bool Terminated() const { return m_terminated.load(); }
    // True from Start until Execute has returned.
    bool Running();
    // Waits for the current run to start and then to finish; true when it
    // finished within timeoutMs (kInfinite: no limit), or when nothing runs.
    bool WaitFor(uint32_t timeoutMs = kInfinite);

protected:
    virtual void Execute() = 0;

    // For loops inside Execute: waits up to timeoutMs, returning early (true)
    // once the thread is terminated.
    bool WaitForTerminate(uint32_t timeoutMs);

    // Terminates, waits up to the stop grace for the thread, logs the delay to
    // the global log when it takes longer and keeps waiting. A descendant whose
    // Execute uses its own fields calls this in its destructor, before those
    // fields go.
    void Shutdown();
    // The grace Shutdown allows before it logs the delay (3000 ms).
    void SetStopGrace(uint32_t ms) { m_stopGraceMs = ms; }

private:
    // One run of the thread; a fresh one per Start, so that an old run's events
    // are never confused with the new one's.
    struct TRun {
        TEvent Started;
        TEvent Finished;
    };

    void Body(std::shared_ptr<TRun> run);
    std::shared_ptr<TRun> CurrentRun();

    std::mutex m_control;  // guards m_thread and m_run against concurrent Start/WaitFor
    std::thread m_thread;
    std::shared_ptr<TRun> m_run;
    std::atomic<bool> m_terminated{false};
    TEvent m_terminateEvent;
    uint32_t m_stopGraceMs = 3000;
};

// The debug line written for an exception escaping Execute.
std::string ThreadExceptionText(const void* address);

}  // namespace ql
