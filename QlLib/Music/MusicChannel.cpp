#include "QlLib/Music/MusicChannel.h"

#include <algorithm>
#include <cmath>

#include "QlLib/Music/ChannelKiller.h"
#include "QlLib/qlLog.h"

namespace ql {

namespace {
constexpr size_t kBlockFrames = 1024;
// The first block read by a seek, so that a start does not wait for decoding.
constexpr size_t kPreReadFrames = 4096;
}  // namespace

TMusicChannel::TMusicChannel(TInstanceOwner* owner, TWaveOutDevice& device, std::u16string name,
                             std::unique_ptr<TPcmSource> source)
    : m_owner(owner), m_name(std::move(name)), m_source(std::move(source)) {
    m_buffer = device.CreateBuffer();
    if (m_source) m_format = m_source->Format();
    m_usable = m_source && m_format.Valid();
    m_step = m_usable ? double(m_format.SampleRate) / kOutputRate : 1.0;
    m_block.resize(kBlockFrames * 2);
    TWaveOutBuffer::TCallbacks callbacks;
    if (m_usable) callbacks.Fill = [this](int16_t* out, size_t frames) { return Fill(out, frames); };
    callbacks.Finished = [this] { ScheduleKill(); };
    m_buffer->SetCallbacks(std::move(callbacks));
}

TMusicChannel::~TMusicChannel() {
    // The buffer goes first: it leaves the mix and the refill pass, which call back here.
    m_buffer.reset();
}

TMusicChannel::TState TMusicChannel::State() const {
    switch (m_buffer->State()) {
        case TWaveOutBuffer::Idle: return Idle;
        case TWaveOutBuffer::Playing: return Playing;
        default: return Stopping;
    }
}

int64_t TMusicChannel::FadeFrames(double ms) {
    const double frames = std::floor(ms * kOutputRate / 1000.0);
    if (!(frames >= 1)) return 1;
    return frames > 1e9 ? int64_t(1e9) : int64_t(frames);
}

bool TMusicChannel::Seek(double ms) {
    if (!m_usable || State() != Idle) return false;
    if (!(ms >= 0)) ms = 0;
    if (!m_source->Seek(ms)) return false;
    m_startOffset = ms;
    ResetConversion();
    m_buffer->Reset();
    m_buffer->Prefill(kPreReadFrames);
    return true;
}

void TMusicChannel::Start(double fadeMs) {
    if (!m_usable || State() != Idle) return;
    m_buffer->Start(FadeFrames(fadeMs));
}

void TMusicChannel::Stop(double fadeMs) { m_buffer->Stop(FadeFrames(fadeMs)); }

double TMusicChannel::PositionMs() const {
    const double played = double(m_buffer->FramesPlayed()) * 1000.0 / kOutputRate -
                          m_buffer->Device().LatencyMs();
    return m_startOffset + (played > 0 ? played : 0);
}

void TMusicChannel::ScheduleKill() {
    // What was mixed last is heard after the output's latency; 20 ms more
    // keep the end of the fade safe.
    m_killDelay.store(int64_t(std::lround(m_buffer->Device().LatencyMs())) + 20);
    m_killTick.store(TickCount());
    if (!m_handed.exchange(true)) TChannelKiller::Instance().Add(this);
}

bool TMusicChannel::KillDue(int64_t tick) const {
    const int64_t delay = m_killDelay.load();
    return delay >= 0 && tick - m_killTick.load() > delay;
}

std::mutex& TMusicChannel::OwnerLock() {
    static std::mutex lock;
    return lock;
}

TTakenInstance TMusicChannel::TakeFromOwner() {
    std::lock_guard<std::mutex> lock(OwnerLock());
    TInstanceOwner* owner = std::exchange(m_owner, nullptr);
    if (!owner) return {};
    return owner->TakeInstance(this, EndedByItself());
}

void TMusicChannel::ResetConversion() {
    m_blockPos = m_blockFrames = 0;
    m_sourceDone = false;
    m_primed = false;
    m_frac = 0;
}

bool TMusicChannel::NextSourceFrame(int16_t frame[2]) {
    if (m_blockPos == m_blockFrames) {
        if (m_sourceDone) return false;
        m_blockFrames = std::min(m_source->Read(m_block.data(), kBlockFrames), kBlockFrames);
        m_blockPos = 0;
        if (m_blockFrames < kBlockFrames) m_sourceDone = true;
        if (m_blockFrames == 0) return false;
    }
    const int16_t* s = m_block.data() + m_blockPos * size_t(m_format.Channels);
    frame[0] = s[0];
    frame[1] = m_format.Channels == 2 ? s[1] : s[0];
    ++m_blockPos;
    return true;
}

size_t TMusicChannel::Fill(int16_t* out, size_t frames) {
    if (m_format.SampleRate == kOutputRate) {
        if (m_format.Channels == 2) {
            size_t done = 0;
            // A block left over from a rate-matched read is used up first.
            while (done < frames && m_blockPos < m_blockFrames) NextSourceFrame(out + 2 * done++);
            if (done < frames && !m_sourceDone) {
                const size_t got = std::min(m_source->Read(out + 2 * done, frames - done), frames - done);
                if (got < frames - done) m_sourceDone = true;
                done += got;
            }
            return done;
        }
        size_t done = 0;
        while (done < frames && NextSourceFrame(out + 2 * done)) ++done;
        return done;
    }
    // Another rate: linear interpolation between the two source frames around
    // each output frame; the fraction carries over between calls.
    if (!m_primed) {
        if (!NextSourceFrame(m_prev)) return 0;
        if (!NextSourceFrame(m_next)) std::copy(m_prev, m_prev + 2, m_next);
        m_primed = true;
    }
    size_t done = 0;
    while (done < frames) {
        while (m_frac >= 1.0) {
            std::copy(m_next, m_next + 2, m_prev);
            if (!NextSourceFrame(m_next)) return done;
            m_frac -= 1.0;
        }
        for (int c = 0; c < 2; ++c)
            out[2 * done + c] = int16_t(std::lround(m_prev[c] + (m_next[c] - m_prev[c]) * m_frac));
        m_frac += m_step;
        ++done;
    }
    return done;
}

}  // namespace ql
