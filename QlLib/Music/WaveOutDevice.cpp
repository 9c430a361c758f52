#include "QlLib/Music/WaveOutDevice.h"

#include <algorithm>
#include <cmath>

#include "QlLib/Music/TimerChannel.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpThreads2.h"

namespace ql {

int32_t VolumeToAttenuation(float volume) {
    if (!(volume > 0)) return -10000;
    const double a = std::round(-600.0 * std::log2(1.0 / double(volume)));
    return int32_t(std::clamp(a, -10000.0, 0.0));
}

float AttenuationToVolume(int32_t attenuation) {
    if (attenuation <= -10000) return 0;
    return float(std::exp2(double(std::min(attenuation, 0)) / 600.0));
}

// Tops the buffers up every 100 ms, or at once when woken (a voice went silent,
// a buffer started).
class TWaveOutDevice::TRefillThread : public TThread {
public:
    explicit TRefillThread(TWaveOutDevice& device) : m_device(device) {}
    ~TRefillThread() override { Shutdown(); }
    void Wake() { m_wake.Set(); }

protected:
    void Execute() override {
        while (!Terminated()) {
            m_device.RefillAll();
            m_wake.Wait(100);
            m_wake.Reset();
        }
    }

private:
    TWaveOutDevice& m_device;
    TEvent m_wake;
};

TWaveOutDevice::TWaveOutDevice(std::unique_ptr<TSoundOutput> output) : m_output(std::move(output)) {
    m_mix.assign(kMixFrames * 2, 0.0f);
    if (!m_output) m_output = std::make_unique<TNullSoundOutput>();
    if (m_output->RealTime()) {
        m_refillThread = std::make_unique<TRefillThread>(*this);
        m_refillThread->Start();
    }
    m_available = m_output->Start(*this);
    if (!m_available && m_output->Kind() == TSoundOutputKind::Sdl) {
        GlobalLog().WriteLine(u"Sound output: no audio device opened; playing silently in real time");
        m_output = std::make_unique<TNullSoundOutput>();
        m_available = m_output->Start(*this);
    }
}

TWaveOutDevice::~TWaveOutDevice() {
    Shutdown();
    // Buffers still registered here belong to owners that outlive the device,
    // which their owners must not let happen; they are only forgotten.
    std::lock_guard<std::mutex> lock(m_mixLock);
    m_voices.clear();
}

void TWaveOutDevice::Shutdown() {
    m_output->Stop();
    m_refillThread.reset();
}

std::unique_ptr<TWaveOutBuffer> TWaveOutDevice::CreateBuffer() {
    return std::make_unique<TWaveOutBuffer>(*this);
}

std::unique_ptr<TTimerChannel> TWaveOutDevice::CreateClock() {
    return std::make_unique<TTimerChannel>(*m_output);
}

size_t TWaveOutDevice::Pull(int16_t* samples, size_t frames) {
    if (m_output->Kind() != TSoundOutputKind::Offline) return 0;
    return static_cast<TOfflineSoundOutput&>(*m_output).Pull(samples, frames);
}

void TWaveOutDevice::WakeRefill() {
    if (m_refillThread) m_refillThread->Wake();
}

void TWaveOutDevice::Register(TWaveOutBuffer* buffer) {
    {
        std::lock_guard<std::mutex> lock(m_refillLock);
        m_buffers.push_back(buffer);
    }
    {
        std::lock_guard<std::mutex> lock(m_mixLock);
        m_voices.push_back(buffer);
    }
    WakeRefill();
}

void TWaveOutDevice::Unregister(TWaveOutBuffer* buffer) {
    {
        std::lock_guard<std::mutex> lock(m_mixLock);
        std::erase(m_voices, buffer);
    }
    std::lock_guard<std::mutex> lock(m_refillLock);
    std::erase(m_buffers, buffer);
}

void TWaveOutDevice::RefillAll() {
    std::lock_guard<std::mutex> lock(m_refillLock);
    // A finished callback may hand its buffer to the killer, which frees it
    // later, never during this pass: Unregister waits for the refill lock.
    for (TWaveOutBuffer* buffer : m_buffers) {
        buffer->FillRing(TWaveOutBuffer::kFillLimit);
        if (buffer->State() == TWaveOutBuffer::Silent && !buffer->m_reported.exchange(true) &&
            buffer->m_callbacks.Finished)
            buffer->m_callbacks.Finished();
    }
}

void TWaveOutDevice::Render(int16_t* samples, size_t frames) {
    while (frames > 0) {
        const size_t n = std::min(frames, kMixFrames);
        // Offline there is no refill thread: the puller decodes what it mixes,
        // so the result never depends on thread timing.
        if (!m_output->RealTime()) RefillAll();
        MixChunk(samples, n);
        samples += n * 2;
        frames -= n;
    }
}

void TWaveOutDevice::MixChunk(int16_t* samples, size_t frames) {
    bool wentSilent = false;
    {
        std::lock_guard<std::mutex> lock(m_mixLock);
        std::fill(m_mix.begin(), m_mix.begin() + frames * 2, 0.0f);
        for (TWaveOutBuffer* voice : m_voices) wentSilent |= voice->MixInto(m_mix.data(), frames);
        ConvertToPcm16(m_mix.data(), samples, frames * 2);
    }
    if (wentSilent) WakeRefill();
}

// Buffer

TWaveOutBuffer::TWaveOutBuffer(TWaveOutDevice& device) : m_device(device), m_ring(kRingFrames * 2) {}

TWaveOutBuffer::~TWaveOutBuffer() {
    if (m_started) m_device.Unregister(this);
}

size_t TWaveOutBuffer::Queued() const {
    std::lock_guard<std::mutex> lock(m_ringLock);
    return m_fill;
}

void TWaveOutBuffer::Reset() {
    if (m_started) return;
    std::lock_guard<std::mutex> lock(m_ringLock);
    m_read = 0;
    m_fill = 0;
    m_sourceEnded = false;
}

void TWaveOutBuffer::Prefill(size_t frames) {
    if (m_started) return;
    const size_t queued = Queued();
    if (frames > queued) FillRing(std::min(frames - queued, kRingFrames));
}

void TWaveOutBuffer::FillRing(size_t limit) {
    size_t write, room;
    {
        std::lock_guard<std::mutex> lock(m_ringLock);
        if (m_sourceEnded || !m_callbacks.Fill) return;
        write = (m_read + m_fill) % kRingFrames;
        room = std::min(kRingFrames - m_fill, limit);
    }
    size_t added = 0;
    bool ended = false;
    while (added < room && !ended) {
        const size_t pos = (write + added) % kRingFrames;
        const size_t want = std::min(room - added, kRingFrames - pos);
        const size_t got = std::min(m_callbacks.Fill(m_ring.data() + pos * 2, want), want);
        added += got;
        ended = got < want;
    }
    std::lock_guard<std::mutex> lock(m_ringLock);
    m_fill += added;
    if (ended) m_sourceEnded = true;
}

void TWaveOutBuffer::Start(int64_t fadeFrames) {
    if (m_started) return;
    Prefill(kOutputRate / 4);
    {
        std::lock_guard<std::mutex> lock(m_device.m_mixLock);
        m_ramp = TGainRamp{0.0, 1.0 / double(std::max<int64_t>(fadeFrames, 1)), 0, 1.0f};
        m_ramping = true;
        m_state.store(Playing);
    }
    m_started = true;
    m_device.Register(this);
}

void TWaveOutBuffer::Stop(int64_t fadeFrames) {
    std::lock_guard<std::mutex> lock(m_device.m_mixLock);
    const int32_t state = m_state.load();
    if (state == Idle) {
        m_state.store(Silent);
        return;
    }
    if (state != Playing) return;
    const double gain = m_ramping ? m_ramp.GainAt(0) : 1.0;
    m_ramp = TGainRamp{gain, -1.0 / double(std::max<int64_t>(fadeFrames, 1)), 0, 1.0f};
    m_ramping = true;
    m_state.store(Stopping);
}

bool TWaveOutBuffer::MixInto(float* mix, size_t frames) {
    const int32_t state = m_state.load();
    if (state != Playing && state != Stopping) return false;
    size_t read, fill;
    bool sourceEnded;
    {
        std::lock_guard<std::mutex> lock(m_ringLock);
        read = m_read;
        fill = m_fill;
        sourceEnded = m_sourceEnded;
    }
    const size_t take = std::min(frames, fill);
    const size_t first = std::min(take, kRingFrames - read);
    const float scale = AttenuationToVolume(m_attenuation.load());
    const int16_t* ring = m_ring.data();
    if (m_ramping) {
        TGainRamp ramp = m_ramp;
        ramp.Scale = scale;
        MixAddRamp(mix, ring + read * 2, first, ramp);
        ramp.First += int64_t(first);
        MixAddRamp(mix, ring, take - first, ramp);
        m_ramp.First += int64_t(take);
    } else {
        MixAddConstant(mix, ring + read * 2, first, scale);
        MixAddConstant(mix, ring, take - first, scale);
    }
    {
        std::lock_guard<std::mutex> lock(m_ringLock);
        m_read = (m_read + take) % kRingFrames;
        m_fill -= take;
    }
    m_framesPlayed.fetch_add(int64_t(take));
    if (m_ramping) {
        const double next = m_ramp.GainAt(0);
        if (state == Playing && next >= 1.0) m_ramping = false;
        if (state == Stopping && next <= 0.0) {
            m_state.store(Silent);
            return true;
        }
    }
    if (sourceEnded && take == fill) {
        m_endedByItself.store(true);
        m_state.store(Silent);
        return true;
    }
    return false;
}

}  // namespace ql
