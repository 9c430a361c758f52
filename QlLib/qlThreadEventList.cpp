#include "QlLib/qlThreadEventList.h"

namespace ql {

TMessageItem::TMessageItem(int32_t code, std::unique_ptr<TObj> payload, bool synchronous)
    : m_code(code), m_payload(std::move(payload)) {
    if (synchronous) m_done = std::make_unique<TEvent>();
}

TThreadEventList::TThreadEventList(TMessageHandler handler) : m_handler(std::move(handler)) {}

TThreadEventList::~TThreadEventList() { Close(); }

void TThreadEventList::Post(int32_t code, std::unique_ptr<TObj> payload) {
    auto item = MakeRef<TMessageItem>(code, std::move(payload), false);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_closed.load()) return;  // the payload goes with the item
        m_items.push_back(std::move(item));
    }
    m_changed.notify_all();
}

TSendResult TThreadEventList::Send(int32_t code, std::unique_ptr<TObj> payload, uint32_t timeoutMs) {
    TSendResult result;
    auto item = MakeRef<TMessageItem>(code, std::move(payload), true);
    if (m_processor.load() == std::this_thread::get_id()) {
        if (m_closed.load()) return result;
        Dispatch(*item);
        result.Delivered = true;
        result.Payload = item->TakePayload();
        return result;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_closed.load()) return result;
        m_items.push_back(item);
    }
    m_changed.notify_all();
    if (!item->m_done->Wait(timeoutMs)) return result;  // the item keeps the payload alive
    // Done is set after the handler returned, or by Close without a handler.
    result.Delivered = item->Handled;
    if (result.Delivered) result.Payload = item->TakePayload();
    return result;
}

void TThreadEventList::Finish(TMessageItem& item) {
    if (item.m_done) item.m_done->Set();
}

bool TThreadEventList::Dispatch(TMessageItem& item) {
    if (m_callback && m_callback(item)) {
        item.Handled = true;
        return true;
    }
    if (m_handler) m_handler(item);
    item.Handled = true;
    return true;
}

int32_t TThreadEventList::Process() {
    const std::thread::id previous = m_processor.exchange(std::this_thread::get_id());
    int32_t handled = 0;
    for (;;) {
        TRef<TMessageItem> item;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_items.empty() || m_closed.load()) break;
            item = std::move(m_items.front());
            m_items.pop_front();
        }
        bool goOn = true;
        try {
            goOn = Dispatch(*item);
        } catch (...) {
            // A waiting sender must not hang because the handler failed.
            Finish(*item);
            m_processor.store(previous);
            throw;
        }
        Finish(*item);
        ++handled;
        if (!goOn) break;
    }
    m_processor.store(previous);
    return handled;
}

bool TThreadEventList::WaitForMessages(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    auto ready = [this] { return !m_items.empty() || m_woken || m_closed.load(); };
    bool result;
    if (timeoutMs == kInfinite)
        m_changed.wait(lock, ready), result = true;
    else
        result = m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    m_woken = false;
    return result;
}

void TThreadEventList::Wake() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_woken = true;
    }
    m_changed.notify_all();
}

void TThreadEventList::Close() {
    std::deque<TRef<TMessageItem>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_closed.store(true);
        dropped.swap(m_items);
    }
    m_changed.notify_all();
    for (auto& item : dropped) Finish(*item);
}

size_t TThreadEventList::Count() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_items.size();
}

bool TMusicEventList::Dispatch(TMessageItem& item) {
    TThreadEventList::Dispatch(item);
    return !item.StopProcessing;
}

TOrbThread::TOrbThread() {
    m_events.SetHandler([this](TMessageItem& item) { HandleEvent(item); });
}

TOrbThread::~TOrbThread() { Stop(); }

bool TOrbThread::StartThread() {
    m_active.store(true);
    if (Start()) return true;
    m_active.store(false);
    return false;
}

void TOrbThread::Stop() {
    Terminate();
    m_events.Wake();
    Shutdown();
}

void TOrbThread::MainLoopStep() {
    m_events.Process();
    if (!Terminated()) m_events.WaitForMessages(100);
}

void TOrbThread::Execute() {
    m_active.store(true);
    try {
        StartHook();
        while (!Terminated()) MainLoopStep();
    } catch (...) {
        m_active.store(false);
        throw;
    }
    try {
        EndHook();
    } catch (...) {
    }
    m_active.store(false);
}

}  // namespace ql
