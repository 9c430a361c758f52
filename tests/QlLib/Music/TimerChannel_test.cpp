#include "QlLib/Music/TimerChannel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace ql {
namespace {

class TSilentRenderer : public TSoundRenderer {
public:
    void Render(int16_t* samples, size_t frames) override {}
};

// A real-time output whose frames the test advances by hand.
class TManualOutput : public TSoundOutput {
public:
    explicit TManualOutput(double latencyMs = 0) : m_latency(latencyMs) {}
    TSoundOutputKind Kind() const override { return TSoundOutputKind::Null; }
    bool Start(TSoundRenderer&) override { return true; }
    void Stop() override {}
    double LatencyMs() const override { return m_latency; }
    void Advance(size_t frames) {
        m_buffer.resize(frames * 2);
        RenderCounted(m_renderer, m_buffer.data(), frames);
    }

private:
    double m_latency;
    TSilentRenderer m_renderer;
    std::vector<int16_t> m_buffer;
};

struct VirtualClock {
    double Now = 1000;
    TTickSource Source() {
        return [this] { return Now; };
    }
};

TEST(TimerChannel, BeforeTheOutputMoves_StaysAtItsBase) {
    TManualOutput output;
    VirtualClock ticks;
    TTimerChannel clock(output, ticks.Source(), false);
    clock.SetTime(500);
    clock.Start();
    ticks.Now += 100;
    clock.Sample();
    EXPECT_EQ(clock.Time(), 500);
    output.Advance(441);
    clock.Sample();  // anchors: continues from the base
    EXPECT_EQ(clock.Time(), 500);
    ticks.Now += 10;
    EXPECT_EQ(clock.Time(), 510);
}

TEST(TimerChannel, SlowSoundCard_IsFollowedBySlewingWithoutJumps) {
    TManualOutput output;
    VirtualClock ticks;
    TTimerChannel clock(output, ticks.Source(), false);
    clock.Start();
    output.Advance(441);
    clock.Sample();
    double last = clock.Time();
    double maxError = 0;
    // The card plays 2 % slow: 432.18 frames per 10 ms.
    double frames = 0;
    for (int i = 1; i <= 6000; ++i) {
        ticks.Now += 10;
        frames += 441 * 0.98;
        const size_t whole = size_t(frames);
        output.Advance(whole);
        frames -= double(whole);
        clock.Sample();
        const double t = clock.Time();
        ASSERT_GE(t, last) << "sample " << i;
        ASSERT_LE(t - last, 10.0 + TTimerChannel::kSlewStepMs + 1e-9) << "sample " << i;
        last = t;
        if (i > 100) maxError = std::max(maxError, std::fabs(t - (output.PlayedMs() - 10)));
    }
    // After settling, the clock stays within a couple of ms of the sound.
    EXPECT_LT(maxError, 3.0);
}

TEST(TimerChannel, ChunkyOutputAndSlewingBack_NeverRunBackwards) {
    TManualOutput output(46);
    VirtualClock ticks;
    TTimerChannel clock(output, ticks.Source(), false);
    clock.Start();
    double last = -1;
    for (int i = 0; i < 3000; ++i) {
        ticks.Now += 1;
        if (i % 23 == 0) output.Advance(2048);  // a big block, far ahead
        if (i % 10 == 0) clock.Sample();
        const double t = clock.Time();
        ASSERT_GE(t, last) << "ms " << i;
        last = t;
    }
}

TEST(TimerChannel, StopKeepsTheTime_SetTimeMovesIt) {
    TManualOutput output;
    VirtualClock ticks;
    TTimerChannel clock(output, ticks.Source(), false);
    clock.Start();
    output.Advance(100);
    clock.Sample();
    ticks.Now += 250;
    clock.Stop();
    EXPECT_FALSE(clock.IsRunning());
    EXPECT_EQ(clock.Time(), 250);
    ticks.Now += 1000;
    EXPECT_EQ(clock.Time(), 250);
    clock.SetTime(100);
    EXPECT_EQ(clock.Time(), 100);
}

TEST(TimerChannel, OfflineOutput_IsExactlyFramesOver44_1) {
    TOfflineSoundOutput output;
    TSilentRenderer renderer;
    output.Start(renderer);
    TTimerChannel clock(output, [] { return 0.0; }, false);
    clock.Start();
    std::vector<int16_t> block(44100 * 2);
    for (int s = 0; s < 60; ++s) output.Pull(block.data(), 44100);
    output.Pull(block.data(), 441);
    EXPECT_DOUBLE_EQ(clock.Time(), 60010.0);
}

}  // namespace
}  // namespace ql

namespace ql {
namespace {

TEST(TimerChannel, StartedOnAnOutputAlreadyHeard_RunsAtOnce) {
    TManualOutput output;
    VirtualClock ticks;
    output.Advance(4410);
    TTimerChannel clock(output, ticks.Source(), false);
    clock.Start();
    ticks.Now += 7;
    EXPECT_EQ(clock.Time(), 7);
}

}  // namespace
}  // namespace ql
