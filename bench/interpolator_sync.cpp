// How far the engine's frame-time smoothing strays from the sound clock when
// the passes of the main loop come irregularly: the smoother is fed the true
// sound clock at each pass (60 passes a second, with the jitter and stalls
// named) for 10 minutes, and the largest difference between its output (the
// show clock) and its input is printed, once with the smoother predicting
// from its mean step and once from the time between passes (as the engine
// gives it). orbinterpolatorsync
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "OrbLib2/OrbViewer/qlOrbFrameInterpolator.h"

namespace {

double MaxDeviation(double periodMs, double jitterMs, double stallEveryMs, double stallMs, bool withTimes) {
    orb::TFrameInterpolator smoother;
    std::mt19937 random(1);
    std::uniform_real_distribution<double> jitter(-jitterMs, jitterMs);
    double t = 0, worst = 0, nextStall = stallEveryMs;
    for (int pass = 0; pass < 36000; ++pass) {
        double step = periodMs + jitter(random);
        if (stallEveryMs > 0 && t + step > nextStall) {
            step += stallMs;
            nextStall += stallEveryMs;
        }
        t += step;
        const double shown = smoother.Next(t, withTimes ? step : -1);
        // The first passes are the smoother's warm-up.
        if (pass > 100) worst = std::max(worst, std::fabs(shown - t));
    }
    return worst;
}

}  // namespace

int main() {
    for (double jitter : {0.0, 0.5, 1.0, 2.0, 4.0})
        std::printf("60 passes/s, jitter +-%.1f ms: max |show - sound| %.2f ms (mean step), %.2f ms (pass times)\n",
                    jitter, MaxDeviation(1000.0 / 60, jitter, 0, 0, false), MaxDeviation(1000.0 / 60, jitter, 0, 0, true));
    for (double stall : {10.0, 30.0, 100.0, 300.0})
        std::printf("60 passes/s, jitter +-1 ms, a %.0f ms stall every 5 s: max |show - sound| %.2f ms (mean step), "
                    "%.2f ms (pass times)\n",
                    stall, MaxDeviation(1000.0 / 60, 1, 5000, stall, false), MaxDeviation(1000.0 / 60, 1, 5000, stall, true));
    return 0;
}
