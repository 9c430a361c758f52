// Thread event lists: the queue by which threads post (fire and forget) or send
// (wait for the answer) requests to one another, and TOrbThread, a thread that
// owns such a list.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "QlLib/SysLock.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpThreads2.h"

namespace ql {

// One request in a list. The message owns its payload; a send's sender keeps a
// reference and waits on Done.
class TMessageItem : public TRefObj {
public:
    TMessageItem(int32_t code, std::unique_ptr<TObj> payload, bool synchronous);

    int32_t Code() const { return m_code; }
    TObj* Payload() const { return m_payload.get(); }
    template <class T>
    T* PayloadAs() const { return dynamic_cast<T*>(m_payload.get()); }
    std::unique_ptr<TObj> TakePayload() { return std::move(m_payload); }
    bool Synchronous() const { return m_done != nullptr; }

    // Set by a handler that dealt with the message; a callback that sets it
    // keeps the default handler from seeing the message.
    bool Handled = false;
    // Set by a handler of a TMusicEventList to end the current Process call.
    bool StopProcessing = false;

private:
    friend class TThreadEventList;
    int32_t m_code;
    std::unique_ptr<TObj> m_payload;
    std::unique_ptr<TEvent> m_done;  // only for sends
};

// The answer of a send.
struct TSendResult {
    // False when the list was closed (or the wait timed out) before the receiver
    // handled the message.
    bool Delivered = false;
    // The payload as the receiver left it; null when not delivered.
    std::unique_ptr<TObj> Payload;
};

using TMessageHandler = std::function<void(TMessageItem&)>;
// Returns true when it handled the message.
using TMessageCallback = std::function<bool(TMessageItem&)>;

class TThreadEventList : public TObj {
public:
    explicit TThreadEventList(TMessageHandler handler = {});
    ~TThreadEventList() override;

    // Set before the receiving thread starts processing.
    void SetHandler(TMessageHandler handler) { m_handler = std::move(handler); }
    void SetCallback(TMessageCallback callback) { m_callback = std::move(callback); }

    // Appends and returns at once. After Close the payload is freed at once.
    void Post(int32_t code, std::unique_ptr<TObj> payload = nullptr);
    // Appends and waits until the receiver has handled the message. Sent from
    // the thread that processes this list, the message is handled at once
    // (waiting for itself would never end).
    TSendResult Send(int32_t code, std::unique_ptr<TObj> payload = nullptr,
                     uint32_t timeoutMs = kInfinite);
    // Handles the pending messages in order, one at a time, without holding the
    // list's lock while a handler runs. Returns how many were handled.
    int32_t Process();
    // Waits up to timeoutMs until a message is pending or Wake was called; true
    // when so. A wake is consumed by the wait that sees it.
    bool WaitForMessages(uint32_t timeoutMs);
    void Wake();
    // Releases the senders still waiting and drops every pending message; from
    // now on posts and sends do nothing.
    void Close();
    bool Closed() const { return m_closed.load(); }
    size_t Count() const;

protected:
    // The default dispatch: callback first, then the handler. Returns false to
    // end the current Process call after this message.
    virtual bool Dispatch(TMessageItem& item);

private:
    void Finish(TMessageItem& item);

    mutable std::mutex m_lock;  // guards m_items and m_woken
    std::condition_variable m_changed;
    std::deque<TRef<TMessageItem>> m_items;
    bool m_woken = false;
    std::atomic<bool> m_closed{false};
    std::atomic<std::thread::id> m_processor{};  // the thread inside Process
    TMessageHandler m_handler;
    TMessageCallback m_callback;
};

// Stops processing after a message whose handler asks for it.
class TMusicEventList : public TThreadEventList {
public:
    using TThreadEventList::TThreadEventList;

protected:
    bool Dispatch(TMessageItem& item) override;
};

// A thread with its own event list. Execute calls StartHook, then MainLoopStep
// until terminated, then EndHook (whose exceptions are swallowed). A descendant
// whose hooks use its own fields calls Stop in its destructor.
class TOrbThread : public TThread {
public:
    TOrbThread();
    ~TOrbThread() override;

    TThreadEventList& Events() { return m_events; }
    // Starts the thread and marks it running at once.
    bool StartThread();
    // True from StartThread until the end hook ran.
    bool Active() const { return m_active.load(); }
    // Terminates, wakes the event list and waits for the thread.
    void Stop();

protected:
    void Execute() final;
    virtual void StartHook() {}
    // One pass of the main loop; the default handles pending events and then
    // waits up to 100 ms for more.
    virtual void MainLoopStep();
    virtual void EndHook() {}
    // Receives every message of the event list on this thread.
    virtual void HandleEvent(TMessageItem& item) {}

private:
    TThreadEventList m_events;
    std::atomic<bool> m_active{false};
};

}  // namespace ql
