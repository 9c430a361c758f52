#include "OrbLib2/OrbViewer/qlOrbFrameInterpolator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace orb {
namespace {

constexpr double kFrame = 1000.0 / 60;

// A sound clock that advances in 10 ms buffer steps, read at 60 frames per
// second with an uneven delay of up to 4 ms: the measured time jumps around
// the true frame time.
double Measured(int k, uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    const double delay = double(seed >> 24) / 255.0 * 4.0;
    return std::floor((k * kFrame + delay) / 10.0) * 10.0;
}

TEST(FrameInterpolator, FirstCalls_PassInputThroughUntilTheRingIsFull) {
    TFrameInterpolator f;
    uint32_t seed = 3;
    // 16 warm-up calls, then 32 calls that fill the ring.
    for (int k = 0; k < TFrameInterpolator::kWarmUp + TFrameInterpolator::kRing; ++k) {
        const double in = Measured(k, seed);
        EXPECT_EQ(f.Next(in), in) << "call " << k;
    }
    const double in = Measured(48, seed);
    EXPECT_NE(f.Next(in), in);
}

TEST(FrameInterpolator, JitteryInput_OutputSpreadsLessAroundTheTrueClock) {
    TFrameInterpolator f;
    uint32_t seed = 11;
    double inSum = 0, inSq = 0, outSum = 0, outSq = 0, prevOut = -1;
    int counted = 0;
    bool monotonic = true;
    for (int k = 0; k < 2000; ++k) {
        const double truth = k * kFrame;
        const double in = Measured(k, seed);
        const double out = f.Next(in);
        if (k >= 200) {
            inSum += in - truth;
            inSq += (in - truth) * (in - truth);
            outSum += out - truth;
            outSq += (out - truth) * (out - truth);
            ++counted;
            if (out < prevOut) monotonic = false;
        }
        prevOut = out;
    }
    // Both lag the frame by a few ms on average; the measured clock spreads
    // over the 10 ms buffer steps, the smoothed one much less.
    const double inMean = inSum / counted, outMean = outSum / counted;
    const double inSpread = std::sqrt(inSq / counted - inMean * inMean);
    const double outSpread = std::sqrt(outSq / counted - outMean * outMean);
    EXPECT_LT(outSpread, 0.6 * inSpread);
    EXPECT_NEAR(outMean, inMean, 1.0);
    EXPECT_TRUE(monotonic);
}

TEST(FrameInterpolator, LateAndEarlyFrames_WithTheirTimesStayInStep) {
    // A smooth sound clock read at 60 frames a second with +-4 ms of jitter
    // and a frame 100 ms late every 5 s (the thread waited for a core): the
    // prediction from the mean step strays by most of the delay, the one
    // from the time between frames does not.
    auto worst = [](bool withTimes) {
        TFrameInterpolator f;
        uint32_t seed = 17;
        double t = 0, result = 0, prevOut = -1;
        for (int k = 0; k < 6000; ++k) {
            seed = seed * 1664525u + 1013904223u;
            double step = kFrame + (double(seed >> 24) / 255.0 - 0.5) * 8.0;
            if (k % 300 == 299) step += 100;
            t += step;
            const double out = f.Next(t, withTimes ? step : -1);
            result = std::max(result, std::fabs(out - t));
            if (withTimes) {
                EXPECT_GE(out, prevOut) << k;
            }
            prevOut = out;
        }
        return result;
    };
    EXPECT_GT(worst(false), 50);
    EXPECT_LT(worst(true), 0.5);
}

TEST(FrameInterpolator, SteppedClockWithFrameTimes_IsStillSmoothed) {
    // The measured clock moves in 10 ms steps; the frames come every 16.7 ms.
    TFrameInterpolator f;
    uint32_t seed = 5;
    double inSq = 0, outSq = 0, inSum = 0, outSum = 0;
    int counted = 0;
    for (int k = 0; k < 2000; ++k) {
        const double in = Measured(k, seed);
        const double out = f.Next(in, kFrame);
        if (k >= 200) {
            const double truth = k * kFrame;
            inSum += in - truth;
            inSq += (in - truth) * (in - truth);
            outSum += out - truth;
            outSq += (out - truth) * (out - truth);
            ++counted;
        }
    }
    const double inMean = inSum / counted, outMean = outSum / counted;
    EXPECT_LT(std::sqrt(outSq / counted - outMean * outMean), 0.6 * std::sqrt(inSq / counted - inMean * inMean));
    EXPECT_NEAR(outMean, inMean, 1.0);
}

TEST(FrameInterpolator, SteadyInput_ConvergesToTheInput) {
    TFrameInterpolator f;
    double out = 0;
    for (int k = 0; k < 400; ++k) out = f.Next(k * 20.0);
    EXPECT_NEAR(out, 399 * 20.0, 1e-6);
}

TEST(FrameInterpolator, Held_PassesInputThroughAndReleaseWaitsOneCall) {
    TFrameInterpolator f;
    for (int k = 0; k < 100; ++k) f.Next(k * 10.0);
    f.Hold();
    EXPECT_TRUE(f.Held());
    // Standing still at a seek target far away.
    EXPECT_EQ(f.Next(50000.0), 50000.0);
    EXPECT_EQ(f.Next(50000.0), 50000.0);
    f.Release();
    EXPECT_TRUE(f.Held());
    EXPECT_EQ(f.Next(50010.0), 50010.0);  // the release takes effect after this call
    EXPECT_FALSE(f.Held());
    // Predicted from the ring (10 ms steps) and the previous output.
    const double out = f.Next(50020.0);
    EXPECT_NEAR(out, 50020.0, 0.5);
}

TEST(FrameInterpolator, ReleaseWithoutHold_ChangesNothing) {
    TFrameInterpolator f;
    f.Release();
    for (int k = 0; k < 16; ++k) EXPECT_EQ(f.Next(k), k);
    EXPECT_FALSE(f.Held());
}

}  // namespace
}  // namespace orb
