#include "QlLib/SysLock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace ql {
namespace {

constexpr uint32_t kGenerous = 10000;

TEST(Event, UnsetEvent_TimesOut) {
    TEvent event;
    EXPECT_FALSE(event.Wait(0));
    EXPECT_FALSE(event.Wait(20));
}

TEST(Event, ManualReset_StaysSetUntilReset) {
    TEvent event;
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(kInfinite));
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
    EXPECT_TRUE(TEvent(true).Wait(0));
}

TEST(Event, SetFromAnotherThread_WakesAnInfiniteWait) {
    TEvent event;
    std::thread setter([&] { event.Set(); });
    EXPECT_TRUE(event.Wait(kInfinite));
    setter.join();
}

TEST(Mutex, HeldByAnotherThread_TimesOut) {
    TMutex mutex;
    TEvent taken, release;
    std::thread owner([&] {
        mutex.Wait(kInfinite);
        taken.Set();
        release.Wait(kGenerous);
        mutex.Release();
    });
    ASSERT_TRUE(taken.Wait(kGenerous));
    EXPECT_FALSE(mutex.Wait(10));
    release.Set();
    EXPECT_TRUE(mutex.Wait(kGenerous));
    EXPECT_FALSE(mutex.Abandoned());
    mutex.Release();
    owner.join();
}

TEST(Mutex, OwnerEndingWhileHolding_HandsItOnAsAbandoned) {
    TMutex mutex;
    std::thread owner([&] { mutex.Wait(kInfinite); });
    owner.join();
    EXPECT_TRUE(mutex.Wait(kGenerous));
    EXPECT_TRUE(mutex.Abandoned());
    mutex.Release();
}

TEST(Mutex, Owner_MayTakeItAgain) {
    TMutex mutex;
    EXPECT_TRUE(mutex.Wait(0));
    EXPECT_TRUE(mutex.Wait(0));
    mutex.Release();
    bool takenElsewhere = true;
    std::thread([&] { takenElsewhere = mutex.Wait(0); }).join();
    EXPECT_FALSE(takenElsewhere);  // still held once
    mutex.Release();
    std::thread([&] {
        takenElsewhere = mutex.Wait(0);
        mutex.Release();
    }).join();
    EXPECT_TRUE(takenElsewhere);
}

TEST(SafeCriticalSection, AbandonedSection_CountsAsEntered) {
    TSafeCriticalSection section;
    std::thread([&] { section.Enter(); }).join();
    section.Enter();
    EXPECT_TRUE(section.Abandoned());
    section.Leave();
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    TCriticalSection section;
    TLockGuard<TCriticalSection> outer(section);
    TLockGuard<TCriticalSection> inner(section);
    bool entered = true;
    std::thread([&] { entered = section.TryEnter(); }).join();
    EXPECT_FALSE(entered);
}

TEST(InterlockedCounter, ConcurrentIncrements_AreAllCounted) {
    TInterlockedCounter counter(10);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) counter.Increment();
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter.Value(), 4010);
    EXPECT_EQ(counter.Increment(), 4011);
}

}  // namespace
}  // namespace ql
