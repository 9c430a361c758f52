#include "QlLib/qpThreads2.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "QlLib/qlLog.h"

namespace ql {
namespace {

constexpr uint32_t kGenerous = 10000;

// Runs a test-supplied body; stops itself before its fields go.
class TBodyThread : public TThread {
public:
    explicit TBodyThread(std::function<void(TBodyThread&)> body) : m_body(std::move(body)) {}
    ~TBodyThread() override { Shutdown(); }

    using TThread::SetStopGrace;
    using TThread::WaitForTerminate;

protected:
    void Execute() override { m_body(*this); }

private:
    std::function<void(TBodyThread&)> m_body;
};

TEST(Thread, StartAndWaitFor_RunsExecuteOnce) {
    std::atomic<int> runs{0};
    TBodyThread thread([&](TBodyThread&) { ++runs; });
    EXPECT_TRUE(thread.WaitFor(0));  // nothing started yet
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.WaitFor(kGenerous));
    EXPECT_FALSE(thread.Running());
    EXPECT_EQ(runs.load(), 1);
    ASSERT_TRUE(thread.Start());  // a finished thread can run again
    EXPECT_TRUE(thread.WaitFor(kGenerous));
    EXPECT_EQ(runs.load(), 2);
}

TEST(Thread, StartWhileRunning_DoesNothing) {
    TEvent release;
    std::atomic<int> runs{0};
    TBodyThread thread([&](TBodyThread&) {
        ++runs;
        release.Wait(kGenerous);
    });
    ASSERT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start());
    EXPECT_TRUE(thread.Running());
    EXPECT_FALSE(thread.WaitFor(10));
    release.Set();
    EXPECT_TRUE(thread.WaitFor(kGenerous));
    EXPECT_EQ(runs.load(), 1);
}

std::vector<std::string> g_reported;
std::mutex g_reportedLock;
void RecordReport(const std::string& message) {
    std::lock_guard<std::mutex> lock(g_reportedLock);
    g_reported.push_back(message);
}

TEST(Thread, ExceptionInExecute_IsReportedAndTheProcessGoesOn) {
    g_reported.clear();
    SetThreadExceptionReporter(RecordReport);
    TBodyThread thread([](TBodyThread&) { throw std::runtime_error("broken step"); });
    testing::internal::CaptureStderr();
    ASSERT_TRUE(thread.Start());
    EXPECT_TRUE(thread.WaitFor(kGenerous));
    const std::string debugOutput = testing::internal::GetCapturedStderr();
    SetThreadExceptionReporter(nullptr);
    EXPECT_NE(debugOutput.find("Thread Exception at: "), std::string::npos);
    ASSERT_EQ(g_reported.size(), 1u);
    EXPECT_EQ(g_reported[0], "broken step");
    EXPECT_FALSE(thread.Running());
}

TEST(Thread, ExceptionText_HasAtLeastEightHexDigits) {
    EXPECT_EQ(ThreadExceptionText(reinterpret_cast<const void*>(0xABC)), "Thread Exception at: 00000ABC");
}

TEST(Thread, Destruction_TerminatesAndWaitsForExecute) {
    std::atomic<bool> finished{false};
    TEvent started;
    {
        TBodyThread thread([&](TBodyThread& self) {
            started.Set();
            self.WaitForTerminate(kInfinite);
            finished = true;
        });
        ASSERT_TRUE(thread.Start());
        ASSERT_TRUE(started.Wait(kGenerous));
        EXPECT_FALSE(thread.Terminated());
    }
    EXPECT_TRUE(finished.load());
}

// Lets the slow thread go as soon as the delay is logged.
class TReleasingLog : public TExclLog {
public:
    explicit TReleasingLog(TEvent& release) : m_release(release) {}
    std::vector<std::u16string> Lines;

protected:
    void Output(std::u16string_view line) override {
        Lines.emplace_back(line);
        m_release.Set();
    }

private:
    TEvent& m_release;
};

TEST(Thread, SlowThread_DelayIsLoggedAndTheThreadIsWaitedFor) {
    TEvent release, started;
    auto owned = std::make_unique<TReleasingLog>(release);
    TReleasingLog* log = owned.get();
    SetGlobalLog(std::move(owned));
    std::atomic<bool> finished{false};
    {
        TBodyThread thread([&](TBodyThread& self) {
            started.Set();
            release.Wait(kGenerous);  // ignores the termination on purpose
            finished = self.Terminated();
        });
        thread.SetStopGrace(10);
        ASSERT_TRUE(thread.Start());
        ASSERT_TRUE(started.Wait(kGenerous));
    }
    EXPECT_TRUE(finished.load());
    ASSERT_EQ(log->Lines.size(), 2u);
    EXPECT_EQ(log->Lines[0],
              u"Thread \"TBodyThread\" did not stop within 10 ms after termination; waiting for it");
    EXPECT_EQ(log->Lines[1].substr(0, 28), u"Thread \"TBodyThread\" stopped");
    SetGlobalLog(nullptr);
}

}  // namespace
}  // namespace ql
