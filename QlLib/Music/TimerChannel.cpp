#include "QlLib/Music/TimerChannel.h"

#include <algorithm>

#include "QlLib/qpThreads2.h"

namespace ql {

class TTimerChannel::TPollThread : public TThread {
public:
    explicit TPollThread(TTimerChannel& owner) : m_owner(owner) {}
    ~TPollThread() override { Shutdown(); }

protected:
    void Execute() override {
        while (!WaitForTerminate(10)) m_owner.Sample();
    }

private:
    TTimerChannel& m_owner;
};

TTimerChannel::TTimerChannel(const TSoundOutput& output, TTickSource ticks, bool pollThread)
    : m_output(output), m_ticks(std::move(ticks)), m_pollThread(pollThread) {}

TTimerChannel::~TTimerChannel() { m_poll.reset(); }

double TTimerChannel::TimeLocked(double tick) {
    if (!m_running) return m_base;
    double t;
    if (!m_output.RealTime())
        t = m_base + (m_output.PlayedMs() - m_playedAtStart);
    else if (!m_anchored)
        t = m_base;
    else
        t = tick - m_offset;
    // Slewing may pull the offset back by a millisecond between two reads; the
    // show must still never see time run backwards.
    t = std::max(t, m_last);
    m_last = t;
    return t;
}

double TTimerChannel::Time() {
    const double tick = m_ticks();
    std::lock_guard<std::mutex> lock(m_lock);
    return TimeLocked(tick);
}

void TTimerChannel::SetTime(double ms) {
    const double tick = m_ticks();
    std::lock_guard<std::mutex> lock(m_lock);
    m_base = ms;
    m_last = ms;
    m_offset = tick - ms;
    m_playedAtStart = m_output.PlayedMs();
    m_anchorPlayed = m_playedAtStart;
    m_anchorTime = ms;
}

bool TTimerChannel::IsRunning() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_running;
}

void TTimerChannel::Start() {
    {
        const double tick = m_ticks();
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_running) return;
        m_running = true;
        m_anchored = false;
        m_last = m_base;
        m_offset = tick - m_base;
        m_playedAtStart = m_output.PlayedMs();
        // An output already heard needs no wait for its first movement: the
        // clock follows it from now on.
        if (m_output.RealTime() && m_playedAtStart > 0) {
            m_anchored = true;
            m_anchorPlayed = m_playedAtStart;
            m_anchorTime = m_base;
        }
    }
    Sample();
    if (m_pollThread && m_output.RealTime()) {
        m_poll = std::make_unique<TPollThread>(*this);
        m_poll->Start();
    }
}

void TTimerChannel::Stop() {
    m_poll.reset();
    const double tick = m_ticks();
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_running) return;
    m_base = TimeLocked(tick);
    m_running = false;
}

void TTimerChannel::Sample() {
    const double tick = m_ticks();
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_running || !m_output.RealTime()) return;
    const double played = m_output.PlayedMs();
    if (!m_anchored) {
        // Until the output has moved there is nothing to follow; from then on
        // the clock continues from its base.
        if (played == m_playedAtStart) return;
        m_anchored = true;
        m_offset = tick - m_base;
        m_anchorPlayed = played;
        m_anchorTime = m_base;
        return;
    }
    const double soundTime = m_anchorTime + (played - m_anchorPlayed);
    const double diff = soundTime - (tick - m_offset);
    m_offset -= std::clamp(diff, -kSlewStepMs, kSlewStepMs);
}

}  // namespace ql
