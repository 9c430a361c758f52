// TTimerChannel: the music clock. It runs on the system clock and follows the
// sound output by slewing 1 ms per sample, so that it never jumps and never
// runs backwards; on an offline output it is the pulled frames / 44.1.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "QlLib/Music/SoundOutput.h"
#include "QlLib/SysObj.h"

namespace ql {

class TTimerChannel : public TObj {
public:
    // pollThread: sample every 10 ms on a thread of its own; tests pass false
    // and a virtual tick source, and call Sample themselves.
    explicit TTimerChannel(const TSoundOutput& output, TTickSource ticks = PreciseTickMs,
                           bool pollThread = true);
    ~TTimerChannel() override;

    // The clock in ms: the base while stopped, and also while running until the
    // output has first moved.
    double Time();
    // Moves the clock to ms (the one way it may go back).
    void SetTime(double ms);
    bool IsRunning() const;
    void Start();
    // Keeps the current time as the base.
    void Stop();
    // One poll: anchors the clock to the output when it first moved, then moves
    // the offset by at most 1 ms towards the output's time.
    void Sample();

    // The largest correction of one sample, ms.
    static constexpr double kSlewStepMs = 1.0;

private:
    class TPollThread;
    double TimeLocked(double tick);

    const TSoundOutput& m_output;
    TTickSource m_ticks;
    bool m_pollThread;

    mutable std::mutex m_lock;  // guards every field below
    bool m_running = false;
    bool m_anchored = false;
    double m_base = 0;         // the time while stopped
    double m_offset = 0;       // time = tick - offset while running and anchored
    double m_playedAtStart = 0;
    double m_anchorPlayed = 0;  // output ms at the anchor
    double m_anchorTime = 0;    // clock time at the anchor
    double m_last = 0;          // the last time handed out
    std::unique_ptr<TPollThread> m_poll;
};

}  // namespace ql
