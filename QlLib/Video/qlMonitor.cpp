#include "QlLib/Video/qlMonitor.h"

namespace ql {

void TMonitor::Enter() {
    const std::thread::id me = std::this_thread::get_id();
    // Only this thread can have stored its own id, so the unlocked read is safe.
    if (m_owner.load() == me) {
        ++m_count;
        return;
    }
    m_mutex.lock();
    m_owner.store(me);
    m_count = 1;
}

void TMonitor::Leave() {
    if (--m_count > 0) return;
    m_owner.store(std::thread::id());
    m_mutex.unlock();
}

std::atomic<int32_t> TActiveThread::s_live{0};

TActiveThread::TActiveThread(TActiveMonitor& owner) : m_owner(owner) {
    s_live.fetch_add(1);
}

TActiveThread::~TActiveThread() {
    Shutdown();
    s_live.fetch_sub(1);
}

void TActiveThread::Execute() {
    // The first entry proves the creator has left the monitor it started us from.
    m_owner.Enter();
    m_state.store(Running);
    m_owner.Leave();
    m_owner.Run();
    m_state.store(Finished);
}

TActiveMonitor::TActiveMonitor() = default;

TActiveMonitor::~TActiveMonitor() {
    StopWorker();
}

bool TActiveMonitor::StartWorker() {
    if (m_worker) return true;
    m_stop.store(false);
    m_worker = std::make_unique<TActiveThread>(*this);
    if (m_worker->Start()) return true;
    m_worker.reset();
    return false;
}

void TActiveMonitor::StopWorker() {
    if (!m_worker) return;
    {
        // Setting the flag inside the monitor orders it with every predicate
        // check, so a waiter cannot miss it.
        TMonitorLock lock(*this);
        m_stop.store(true);
    }
    NotifyAll();
    m_worker->Terminate();
    m_worker->WaitFor();
    m_worker.reset();
}

TActiveThread::TState TActiveMonitor::WorkerState() const {
    return m_worker ? m_worker->State() : TActiveThread::Finished;
}

}  // namespace ql
