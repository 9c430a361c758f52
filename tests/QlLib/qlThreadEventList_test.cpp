#include "QlLib/qlThreadEventList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace ql {
namespace {

constexpr uint32_t kGenerous = 10000;

class TNumber : public TObj {
public:
    explicit TNumber(int value, std::atomic<int>* alive = nullptr) : Value(value), m_alive(alive) {
        if (m_alive) ++*m_alive;
    }
    ~TNumber() override {
        if (m_alive) --*m_alive;
    }
    int Value;

private:
    std::atomic<int>* m_alive;
};

TEST(ThreadEventList, Process_HandlesPostsInOrder) {
    std::vector<int> seen;
    TThreadEventList list([&](TMessageItem& item) {
        seen.push_back(item.Code() * 100 + item.PayloadAs<TNumber>()->Value);
    });
    list.Post(1, std::make_unique<TNumber>(7));
    list.Post(2, std::make_unique<TNumber>(8));
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Process(), 2);
    EXPECT_EQ(seen, (std::vector<int>{107, 208}));
    EXPECT_EQ(list.Process(), 0);
}

TEST(ThreadEventList, Callback_ThatHandles_HidesTheMessageFromTheHandler) {
    int handler = 0;
    TThreadEventList list([&](TMessageItem&) { ++handler; });
    list.SetCallback([](TMessageItem& item) { return item.Code() == 5; });
    list.Post(5);
    list.Post(6);
    list.Process();
    EXPECT_EQ(handler, 1);
}

TEST(ThreadEventList, Send_WaitsForTheReceiverAndReturnsItsAnswer) {
    TThreadEventList list([](TMessageItem& item) { item.PayloadAs<TNumber>()->Value *= 2; });
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        while (!stop.load()) {
            list.WaitForMessages(kGenerous);
            list.Process();
        }
    });
    TSendResult result = list.Send(1, std::make_unique<TNumber>(21));
    EXPECT_TRUE(result.Delivered);
    ASSERT_TRUE(result.Payload);
    EXPECT_EQ(static_cast<TNumber&>(*result.Payload).Value, 42);
    stop.store(true);
    list.Wake();
    receiver.join();
}

TEST(ThreadEventList, SendFromTheProcessingThread_IsHandledAtOnce) {
    std::vector<int> seen;
    TThreadEventList* self = nullptr;
    TThreadEventList list([&](TMessageItem& item) {
        seen.push_back(item.Code());
        if (item.Code() == 1) {
            EXPECT_TRUE(self->Send(2).Delivered);
        }
    });
    self = &list;
    list.Post(1);
    list.Process();
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(ThreadEventList, Close_ReleasesAWaitingSender_AndLaterPostsFreeTheirPayload) {
    std::atomic<int> alive{0};
    TThreadEventList list;
    TEvent sent;
    std::thread sender([&] {
        TSendResult result = list.Send(1, std::make_unique<TNumber>(1, &alive));
        EXPECT_FALSE(result.Delivered);
        sent.Set();
    });
    // The sender's request is in the list before it is closed.
    ASSERT_TRUE(list.WaitForMessages(kGenerous));
    EXPECT_EQ(list.Count(), 1u);
    list.Close();
    EXPECT_TRUE(sent.Wait(kGenerous));
    sender.join();
    list.Post(2, std::make_unique<TNumber>(2, &alive));
    EXPECT_EQ(alive.load(), 0);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_FALSE(list.Send(3).Delivered);
}

TEST(MusicEventList, StopProcessing_EndsTheCurrentPass) {
    std::vector<int> seen;
    TMusicEventList list([&](TMessageItem& item) {
        seen.push_back(item.Code());
        item.StopProcessing = item.Code() == 2;
    });
    for (int code = 1; code <= 3; ++code) list.Post(code);
    EXPECT_EQ(list.Process(), 2);
    EXPECT_EQ(list.Process(), 1);
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

class TCountingThread : public TOrbThread {
public:
    ~TCountingThread() override { Stop(); }
    std::atomic<int> Started{0};
    std::atomic<int> Ended{0};
    std::atomic<int> EventSum{0};
    TEvent Got;

protected:
    void StartHook() override { ++Started; }
    void EndHook() override {
        ++Ended;
        throw std::runtime_error("swallowed");
    }
    void HandleEvent(TMessageItem& item) override {
        EventSum += item.Code();
        Got.Set();
    }
};

TEST(OrbThread, RunsHooksAndHandlesItsEvents) {
    TCountingThread thread;
    ASSERT_TRUE(thread.StartThread());
    EXPECT_TRUE(thread.Active());
    EXPECT_TRUE(thread.Events().Send(3).Delivered);
    thread.Events().Post(4);
    EXPECT_TRUE(thread.Got.Wait(kGenerous));
    thread.Stop();
    EXPECT_FALSE(thread.Active());
    EXPECT_EQ(thread.Started.load(), 1);
    EXPECT_EQ(thread.Ended.load(), 1);
    EXPECT_GE(thread.EventSum.load(), 3);
}

}  // namespace
}  // namespace ql
