#include "QlLib/qpThreads2.h"

#include <cstdio>
#include <exception>
#include <system_error>

#include "QlLib/Platform/qlDebugOutput.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {
std::atomic<TThreadExceptionReporter> g_threadExceptionReporter{nullptr};

void ReportThreadException(const void* address, const std::string& message) {
    platform::DebugOutput(ThreadExceptionText(address));
    if (auto reporter = g_threadExceptionReporter.load())
        reporter(message);
    else
        platform::DebugOutput(message);
}
}  // namespace

void SetThreadExceptionReporter(TThreadExceptionReporter reporter) {
    g_threadExceptionReporter.store(reporter);
}

std::string ThreadExceptionText(const void* address) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%08llX",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
    return std::string("Thread Exception at: ") + buffer;
}

TThread::TThread() = default;

TThread::~TThread() { Shutdown(); }

bool TThread::Start() {
    std::lock_guard<std::mutex> lock(m_control);
    if (m_run && !m_run->Finished.IsSet()) return false;
    // The previous run has returned from Execute, so this join is short.
    if (m_thread.joinable()) m_thread.join();
    m_run.reset();
    m_terminated.store(false);
    m_terminateEvent.Reset();
    auto run = std::make_shared<TRun>();
    try {
        m_thread = std::thread(&TThread::Body, this, run);
    } catch (const std::system_error&) {
        return false;
    }
    m_run = std::move(run);
    return true;
}

void TThread::Body(std::shared_ptr<TRun> run) {
    run->Started.Set();
    // An exception must not leave the thread: it would end the whole process.
    try {
        Execute();
    } catch (const std::exception& e) {
        ReportThreadException(&e, e.what());
    } catch (...) {
        ReportThreadException(nullptr, "Unknown exception");
    }
    run->Finished.Set();
}

void TThread::Terminate() {
    m_terminated.store(true);
    m_terminateEvent.Set();
}

std::shared_ptr<TThread::TRun> TThread::CurrentRun() {
    std::lock_guard<std::mutex> lock(m_control);
    return m_run;
}

bool TThread::Running() {
    auto run = CurrentRun();
    return run && !run->Finished.IsSet();
}

bool TThread::WaitFor(uint32_t timeoutMs) {
    std::shared_ptr<TRun> run;
    {
        std::lock_guard<std::mutex> lock(m_control);
        // The thread waiting for itself would never wake.
        if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id()) return false;
        run = m_run;
    }
    if (!run) return true;
    return run->Finished.Wait(timeoutMs);
}

bool TThread::WaitForTerminate(uint32_t timeoutMs) {
    return m_terminateEvent.Wait(timeoutMs) || Terminated();
}

void TThread::Shutdown() {
    Terminate();
    std::thread thread;
    std::shared_ptr<TRun> run;
    {
        std::lock_guard<std::mutex> lock(m_control);
        thread = std::move(m_thread);
        run = m_run;
    }
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
        // Freed from inside its own Execute: the thread cannot wait for itself.
        thread.detach();
        return;
    }
    // A thread cannot be killed safely here (it would leave its locks held), so
    // a slow one is reported and then waited for.
    const int64_t started = TickCount();
    if (!run->Finished.Wait(m_stopGraceMs)) {
        GlobalLog().WriteLine(u"Thread \"" + Widen(ClassName()) + u"\" did not stop within " +
                              IntToStr(m_stopGraceMs) + u" ms after termination; waiting for it");
        thread.join();
        GlobalLog().WriteElapsed(u"Thread \"" + Widen(ClassName()) + u"\" stopped after ",
                                 started, u" ms");
        return;
    }
    thread.join();
}

}  // namespace ql
