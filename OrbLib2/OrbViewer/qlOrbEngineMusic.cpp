#include "OrbLib2/OrbViewer/qlOrbEngineMusic.h"

#include <algorithm>

namespace orb {

void TClockMusic::Run(bool running) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (running == m_running) return;
    // Stopped: the base is the time; running: the clock offset. The switch
    // converts one into the other so that the position does not jump.
    m_timeBase = m_clock.NowMs() - m_timeBase;
    m_running = running;
}

void TClockMusic::Seek(double time, double barrier) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (barrier >= 0) m_barrier = barrier;
    if (time >= 0) {
        m_running = false;
        m_timeBase = time;
    }
}

double TClockMusic::Position() const {
    std::lock_guard<std::mutex> lock(m_lock);
    const double position = m_running ? m_clock.NowMs() - m_timeBase : m_timeBase;
    return std::min(position, m_barrier - 1);
}

double TClockMusic::Barrier() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_barrier;
}

float TClockMusic::Volume() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_volume;
}

void TClockMusic::SetVolume(float volume) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_volume = volume;
}

TPlayerMusic::~TPlayerMusic() { Stop(); }

void TPlayerMusic::Start() {
    if (!m_player->Deterministic()) m_player->StartThreads();
}

void TPlayerMusic::Stop() {
    if (m_closed) return;
    m_closed = true;
    m_player->Close();
}

void TPlayerMusic::Seek(double time, double barrier) {
    m_player->Seek(time == kSeekBarrierOnly ? TOrbMusicPlayer::kBarrierOnly : time, barrier);
}

void TPlayerMusic::Step() {
    if (m_player->Deterministic()) m_player->Step();
}

size_t TPlayerMusic::Render(int16_t* samples, size_t frames) {
    return m_player->Deterministic() ? m_player->Render(samples, frames) : 0;
}

}  // namespace orb
