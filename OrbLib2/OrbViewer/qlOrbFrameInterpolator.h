// Smoothing of the show clock: the music position moves in steps of the sound
// buffer, so the clock of each frame is predicted from the mean step of the
// last 32 frames and pulled a sixth of the way towards the measured position.
// When the caller knows the time between its frames, that time moves the
// prediction instead of the mean step: a frame that comes late (the thread
// waited for a core) or early would otherwise throw the prediction off by
// most of the delay, and the pictures out of step with the sound for seconds.
#pragma once

#include <array>
#include <cstdint>

#include "QlLib/SysObj.h"

namespace orb {

class TFrameInterpolator : public ql::TObj {
public:
    static constexpr int32_t kWarmUp = 16;
    static constexpr int32_t kRing = 32;

    TFrameInterpolator() { Reset(); }

    // Back to the start: the next 16 calls pass their input through.
    void Reset();
    // The smoothed time for this frame's measured time. elapsedMs: the time
    // since the previous call on the caller's clock; negative when unknown
    // (the mean step of the last frames stands in).
    double Next(double input, double elapsedMs = -1);
    // While held the output is the input; the engine holds the clock while it
    // stands still.
    void Hold() { m_hold = true; m_releasePending = false; }
    // Ends the hold after the next call, so that the first running frame still
    // shows the measured time.
    void Release() { if (m_hold) m_releasePending = true; }
    bool Held() const { return m_hold; }

private:
    int32_t m_warmUp = kWarmUp;
    std::array<double, kRing> m_steps{};
    double m_sum = 0;
    int64_t m_count = 0;
    double m_prevInput = 0;
    double m_prevOutput = 0;
    bool m_hasPrev = false;
    bool m_hold = false;
    bool m_releasePending = false;
};

}  // namespace orb
