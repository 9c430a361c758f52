#include "QlLib/Video/qlOrbVideoExtractor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "QlLib/Video/VideoClipSupport.h"
#include "QlLib/qpFileStream.h"
#include "WaitSupport.h"

namespace ql {
namespace {

// Frames whose every luma byte is the frame number (mod 256). Frames listed
// in Failing cannot be decoded; with a gate, each decode waits until opened.
class TNumberSource : public TFrameSource {
public:
    std::set<int64_t> Failing;
    std::atomic<int64_t> Calls{0};

    bool GetFrame(int64_t n, TYuvImage& target) override {
        ++Calls;
        {
            std::unique_lock<std::mutex> lock(m_gateLock);
            ++m_entered;
            m_gateChanged.notify_all();
            m_gateChanged.wait(lock, [&] { return m_open; });
        }
        if (Failing.count(n)) return false;
        target.Resize(8, 8);
        std::fill(target.Y.begin(), target.Y.end(), uint8_t(n));
        return true;
    }
    int64_t FrameCount() const override { return 100; }
    double FrameRate() const override { return 25; }
    int32_t Width() const override { return 8; }
    int32_t Height() const override { return 8; }

    void CloseGate() {
        std::lock_guard<std::mutex> lock(m_gateLock);
        m_open = false;
    }
    void OpenGate() {
        {
            std::lock_guard<std::mutex> lock(m_gateLock);
            m_open = true;
        }
        m_gateChanged.notify_all();
    }
    bool WaitEntered(int64_t count) {
        std::unique_lock<std::mutex> lock(m_gateLock);
        return m_gateChanged.wait_for(lock, test::kHangGuard, [&] { return m_entered >= count; });
    }

private:
    std::mutex m_gateLock;  // guards m_open and m_entered
    std::condition_variable m_gateChanged;
    bool m_open = true;
    int64_t m_entered = 0;
};

constexpr TVideoParams kParams{25, 100, false};

TEST(OrbVideoExtractor, RequestAndWait_ThenTake_GivesExactlyTheFrameOfTheTime) {
    struct TCase {
        double Ms;
        bool Loop;
        int64_t Frame;
    };
    const TCase cases[] = {
        {0, false, 0},     {19, false, 0},    {21, false, 1},  {1000, false, 25},
        {3960, false, 99}, {9000, false, 99}, {4080, true, 2}, {8000, true, 0},
    };
    for (const TCase& c : cases) {
        TNumberSource source;
        TOrbVideoExtractor extractor(&source, false, {25, 100, c.Loop});
        ASSERT_TRUE(extractor.RequestFrame(c.Ms, true)) << c.Ms;
        const TOrbVideoExtractor::TTaken taken = extractor.TakeFrame(c.Ms, 1);
        ASSERT_NE(taken.Slot, nullptr) << c.Ms;
        EXPECT_TRUE(taken.Exact) << c.Ms;
        EXPECT_EQ(taken.Slot->Frame, c.Frame) << c.Ms;
        EXPECT_EQ(taken.Slot->Image.Y[0], uint8_t(c.Frame)) << c.Ms;
        extractor.GiveBack(taken.Slot);
    }
}

TEST(OrbVideoExtractor, Take_AsksForTheFrameTheNextDrawingWants) {
    TNumberSource source;
    TOrbVideoExtractor extractor(&source, false, kParams);
    ASSERT_TRUE(extractor.RequestFrame(400, true));  // frame 10
    // Drawing 12.5 times a second, the next drawing comes 80 ms later: frame 12.
    const TOrbVideoExtractor::TTaken taken = extractor.TakeFrame(400, 12.5);
    ASSERT_NE(taken.Slot, nullptr);
    EXPECT_TRUE(taken.Exact);
    EXPECT_TRUE(test::WaitUntil([&] {
        return extractor.Served() >= 2 && extractor.WantedFrame() == TOrbVideoExtractor::kNone;
    }));
    extractor.GiveBack(taken.Slot);
    const TOrbVideoExtractor::TTaken next = extractor.TakeFrame(480, 12.5);
    ASSERT_NE(next.Slot, nullptr);
    EXPECT_TRUE(next.Exact);
    EXPECT_EQ(next.Slot->Image.Y[0], 12);
    extractor.GiveBack(next.Slot);
}

TEST(OrbVideoExtractor, FailedFrame_KeepsTheLastGoodFrameAndDoesNotHang) {
    TNumberSource source;
    source.Failing = {7};
    TOrbVideoExtractor extractor(&source, false, kParams);
    ASSERT_TRUE(extractor.RequestFrame(6 * 40, true));
    EXPECT_FALSE(test::ReturnsWithin([&] { return extractor.RequestFrame(7 * 40, true); }));
    const TOrbVideoExtractor::TTaken taken = extractor.TakeFrame(7 * 40, 1);
    ASSERT_NE(taken.Slot, nullptr);
    EXPECT_FALSE(taken.Exact);
    EXPECT_EQ(taken.Slot->Frame, 6);
    extractor.GiveBack(taken.Slot);
}

TEST(OrbVideoExtractor, LostContent_IsDecodedAgain) {
    TNumberSource source;
    TOrbVideoExtractor extractor(&source, false, kParams);
    ASSERT_TRUE(extractor.RequestFrame(200, true));
    TOrbVideoExtractor::TTaken taken = extractor.TakeFrame(200, 1);
    ASSERT_TRUE(taken.Exact);
    taken.Slot->ContentLost = true;
    const int64_t before = source.Calls.load();
    extractor.GiveBack(taken.Slot);
    ASSERT_TRUE(extractor.RequestFrame(200, true));
    EXPECT_GT(source.Calls.load(), before);
    taken = extractor.TakeFrame(200, 1);
    ASSERT_TRUE(taken.Exact);
    EXPECT_EQ(taken.Slot->Image.Y[0], 5);
    extractor.GiveBack(taken.Slot);
}

TEST(OrbVideoExtractor, Stop_WakesAWaiterWhileTheWorkerDecodes) {
    TNumberSource source;
    TOrbVideoExtractor extractor(&source, false, kParams);
    source.CloseGate();
    std::atomic<bool> waiterDone{false};
    std::thread waiter([&] {
        extractor.RequestFrame(1000, true);
        waiterDone = true;
    });
    ASSERT_TRUE(source.WaitEntered(1));
    std::thread stopper([&] { extractor.StopAndClear(); });
    ASSERT_TRUE(test::WaitUntil([&] { return extractor.StopRequested(); }));
    source.OpenGate();
    stopper.join();
    waiter.join();
    EXPECT_TRUE(waiterDone.load());
    EXPECT_EQ(extractor.WorkerState(), TActiveThread::Finished);
    EXPECT_FALSE(extractor.RequestFrame(1000, true));
}

std::unique_ptr<TWinVideoSource> OpenClip(const std::vector<uint8_t>& bytes) {
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(bytes.data(), bytes.size());
    stream->SetPosition(0);
    auto source = std::make_unique<TWinVideoSource>();
    if (source->Open(stream.release(), true, u"clip") != TVideoFailure::None) return nullptr;
    return source;
}

TEST(OrbVideoExtractor, ClipWithBFrames_RandomTimesUnderLoad_AreExactAndShutDownCleanly) {
    const std::vector<uint8_t> bytes =
        test::MakeNumberedClip({"libx264", "mp4", 160, 96, 100, 25, 1, 25, 3, 0});
    if (bytes.empty()) GTEST_SKIP() << "libx264 missing";
    std::unique_ptr<TWinVideoSource> source = OpenClip(bytes);
    ASSERT_NE(source, nullptr);
    const int32_t workersBefore = TActiveThread::LiveCount();
    {
        auto extractor = std::make_unique<TOrbVideoExtractor>(source.release(), true,
                                                              TVideoParams{25, 100, true});
        // A second thread plays along without waiting, taking and giving back,
        // as the real-time drawing does.
        std::atomic<bool> stop{false};
        std::thread player([&] {
            double t = 0;
            while (!stop.load()) {
                const TOrbVideoExtractor::TTaken taken = extractor->TakeFrame(t, 25);
                extractor->GiveBack(taken.Slot);
                t += 40;
            }
        });
        std::mt19937 random(7);
        std::uniform_real_distribution<double> pick(0, 8000);
        for (int request = 0; request < 200; ++request) {
            const double t = pick(random);
            const int64_t frame = extractor->FrameAt(t);
            TOrbVideoExtractor::TTaken taken;
            // The player may take our frame between the wait and the take;
            // asking again is what the renderer does too.
            for (int tries = 0; tries < 100 && !taken.Exact; ++tries) {
                extractor->GiveBack(taken.Slot);
                extractor->RequestFrame(t, true);
                taken = extractor->TakeFrame(t, 25);
            }
            ASSERT_TRUE(taken.Exact) << "time " << t;
            EXPECT_EQ(test::ReadFrameNumber(taken.Slot->Image.Y.data(), 160, 96, 160), frame);
            extractor->GiveBack(taken.Slot);
        }
        stop = true;
        player.join();
        extractor.reset();
    }
    EXPECT_EQ(TActiveThread::LiveCount(), workersBefore);
}

TEST(Monitor, ReentrantEnter_WaitReleasesAllLevelsAndRestoresThem) {
    TMonitor monitor;
    bool ready = false;
    std::thread other([&] {
        TMonitorLock lock(monitor);
        ready = true;
        monitor.NotifyAll();
    });
    monitor.Enter();
    monitor.Enter();
    monitor.Wait([&] { return ready; });
    monitor.Leave();
    monitor.Leave();
    other.join();
    // Fully left: another thread can enter.
    test::ReturnsWithin([&] {
        std::thread([&] { TMonitorLock lock(monitor); }).join();
        return true;
    });
    EXPECT_TRUE(ready);
}

}  // namespace
}  // namespace ql
