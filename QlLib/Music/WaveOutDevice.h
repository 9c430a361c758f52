// The output device: our own mixer of the channels' buffers into one 16-bit
// stereo 44100 Hz stream for a sound output, the buffers themselves, and the
// refill thread that keeps them ahead of the mix.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "QlLib/Music/MixKernels.h"
#include "QlLib/Music/PcmSource.h"
#include "QlLib/Music/SoundOutput.h"
#include "QlLib/SysObj.h"

namespace ql {

class TTimerChannel;
class TWaveOutBuffer;

// A gain x > 0 as hundredths of a decibel: round(-600 × log2(1 / x)) limited to
// [-10000, 0]; x ≤ 0 (or NaN) gives -10000.
int32_t VolumeToAttenuation(float volume);
// 2 to the power (attenuation / 600); 0 for -10000 and below.
float AttenuationToVolume(int32_t attenuation);

class TWaveOutDevice : public TObj, private TSoundRenderer {
public:
    // Frames of one mix pass.
    static constexpr size_t kMixFrames = 1024;

    // Starts the output. An SDL output that cannot open a device is replaced by
    // the silent one (with a log line); any other failure leaves the device
    // unavailable.
    explicit TWaveOutDevice(std::unique_ptr<TSoundOutput> output);
    ~TWaveOutDevice() override;

    bool Available() const { return m_available; }
    TSoundOutput& Output() { return *m_output; }
    const TSoundOutput& Output() const { return *m_output; }
    double LatencyMs() const { return m_output->LatencyMs(); }

    std::unique_ptr<TWaveOutBuffer> CreateBuffer();
    // The clock that follows this device's output.
    std::unique_ptr<TTimerChannel> CreateClock();

    // Offline output only: renders frames (refilling the buffers on this
    // thread first); returns the frames rendered, 0 for other outputs.
    size_t Pull(int16_t* samples, size_t frames);

    // Stops calling the mixer and the refill thread; the buffers stay.
    void Shutdown();
    // One refill pass over the started buffers; also hands finished buffers to
    // their owners. The refill thread (or the offline puller) calls it.
    void RefillAll();
    void WakeRefill();

private:
    friend class TWaveOutBuffer;
    class TRefillThread;

    void Render(int16_t* samples, size_t frames) override;
    void MixChunk(int16_t* samples, size_t frames);
    void Register(TWaveOutBuffer* buffer);
    void Unregister(TWaveOutBuffer* buffer);

    std::unique_ptr<TSoundOutput> m_output;
    bool m_available = false;

    std::mutex m_mixLock;  // guards m_voices, m_mix and the gain state of every voice
    std::vector<TWaveOutBuffer*> m_voices;
    std::vector<float> m_mix;

    std::mutex m_refillLock;  // guards m_buffers; held for a whole refill pass
    std::vector<TWaveOutBuffer*> m_buffers;
    std::unique_ptr<TRefillThread> m_refillThread;
};

// One voice of the mix: a ring of two seconds of converted frames, written by
// the refill pass and read by the mixer, with its gain and fades applied as it
// is mixed, so that a fade starts at the very next mixed frame.
class TWaveOutBuffer : public TObj {
public:
    static constexpr size_t kRingFrames = 2 * kOutputRate;
    // At most this much is decoded per pass (half the ring: one second).
    static constexpr size_t kFillLimit = kRingFrames / 2;

    enum TState { Idle = 0, Playing = 1, Stopping = 2, Silent = 3 };

    struct TCallbacks {
        // Writes up to frames stereo 44100 Hz frames; fewer means the source ended.
        std::function<size_t(int16_t* samples, size_t frames)> Fill;
        // The voice went silent for good (its fade-out reached 0, or it ran dry
        // after its source ended); called once, from the refill pass.
        std::function<void()> Finished;
    };

    explicit TWaveOutBuffer(TWaveOutDevice& device);
    ~TWaveOutBuffer() override;

    TWaveOutDevice& Device() { return m_device; }
    void SetCallbacks(TCallbacks callbacks) { m_callbacks = std::move(callbacks); }

    // The gain, kept as the attenuation it stands for.
    float Volume() const { return AttenuationToVolume(m_attenuation.load()); }
    int32_t Attenuation() const { return m_attenuation.load(); }
    void SetVolume(float volume) { m_attenuation.store(VolumeToAttenuation(volume)); }

    // Idle only: empties the ring (after a seek of the source).
    void Reset();
    // Idle only: decodes until the ring holds frames (or the source ended).
    void Prefill(size_t frames);
    // Starts with a fade-in of fadeFrames (at least 1) after prefilling.
    void Start(int64_t fadeFrames);
    // Fades out over fadeFrames (at least 1) from the gain of the moment.
    void Stop(int64_t fadeFrames);

    TState State() const { return TState(m_state.load()); }
    bool EndedByItself() const { return m_endedByItself.load(); }
    // Frames the mixer took from the ring.
    int64_t FramesPlayed() const { return m_framesPlayed.load(); }
    size_t Queued() const;

private:
    friend class TWaveOutDevice;

    // Under the device's mix lock. Returns true when the voice went silent now.
    bool MixInto(float* mix, size_t frames);
    // Under the device's refill lock (or while not started).
    void FillRing(size_t limit);

    TWaveOutDevice& m_device;
    TCallbacks m_callbacks;
    std::atomic<int32_t> m_attenuation{0};
    std::atomic<int32_t> m_state{Idle};
    std::atomic<bool> m_endedByItself{false};
    std::atomic<bool> m_reported{false};
    std::atomic<int64_t> m_framesPlayed{0};
    bool m_started = false;  // registered with the device (control thread only)

    // The ring: only [read, read + fill) is read by the mixer, only the rest is
    // written by the refill pass, so the data needs no lock; the indices do.
    std::vector<int16_t> m_ring;
    mutable std::mutex m_ringLock;  // guards m_read, m_fill, m_sourceEnded
    size_t m_read = 0;
    size_t m_fill = 0;
    bool m_sourceEnded = false;

    // Gain state, under the device's mix lock.
    bool m_ramping = false;
    TGainRamp m_ramp;
};

}  // namespace ql
