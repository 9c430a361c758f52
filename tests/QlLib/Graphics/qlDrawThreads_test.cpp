#include "QlLib/Graphics/qlDrawThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

namespace ql {
namespace {

// Runs `work` and fails the whole test program when it does not end within a
// generous bound: a deadlocked pool could not be joined anyway.
template <class F>
void WithinBound(F work) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
        std::fprintf(stderr, "the draw thread pool did not finish: deadlock\n");
        std::abort();
    }
    done.get();
}

TEST(DrawThreadPool, EveryJobRunsExactlyOnce_WhateverTheCount) {
    WithinBound([] {
        TDrawThreadPool pool(4);
        std::vector<std::atomic<int32_t>> runs(9);
        int64_t expected = 0;
        for (int32_t round = 0; round < 3000; ++round) {
            const int32_t count = 1 + round % 9;
            pool.Run(count, [&](int32_t i) { runs[size_t(i)].fetch_add(1); });
            expected += count;
        }
        int64_t total = 0;
        for (auto& r : runs) total += r.load();
        EXPECT_EQ(total, expected);
        // Job i ran once in every round whose count exceeded i.
        for (int32_t i = 0; i < 9; ++i) {
            int32_t rounds = 0;
            for (int32_t round = 0; round < 3000; ++round) rounds += 1 + round % 9 > i;
            EXPECT_EQ(runs[size_t(i)].load(), rounds) << i;
        }
    });
}

TEST(DrawThreadPool, OneJob_RunsOnTheCallingThread) {
    TDrawThreadPool pool(4);
    for (int32_t round = 0; round < 100; ++round) {
        std::thread::id ranOn;
        pool.Run(1, [&](int32_t) { ranOn = std::this_thread::get_id(); });
        EXPECT_EQ(ranOn, std::this_thread::get_id());
    }
}

TEST(DrawThreadPool, TwoCallers_TakeTurnsAndLoseNothing) {
    WithinBound([] {
        TDrawThreadPool pool(3);
        std::atomic<int64_t> total{0};
        auto caller = [&] {
            for (int32_t round = 0; round < 1000; ++round)
                pool.Run(1 + round % 5, [&](int32_t) { total.fetch_add(1); });
        };
        std::thread other(caller);
        caller();
        other.join();
        // Each caller: 200 rounds of each count 1..5.
        EXPECT_EQ(total.load(), 2 * 200 * (1 + 2 + 3 + 4 + 5));
    });
}

}  // namespace
}  // namespace ql
