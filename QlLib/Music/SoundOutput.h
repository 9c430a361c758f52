// The sound output seam: what carries the mixed 16-bit stereo 44100 Hz stream
// out of the player. SDL audio (the default), a silent output that runs in real
// time, a WAV file, and an offline output that a caller pulls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QlLib/SysObj.h"

namespace ql {

// Milliseconds on a fine steady clock; only differences mean anything.
double PreciseTickMs();
using TTickSource = std::function<double()>;

// Produces the mix; called by the output's thread (or the puller).
class TSoundRenderer {
public:
    virtual ~TSoundRenderer() = default;
    virtual void Render(int16_t* samples, size_t frames) = 0;
};

enum class TSoundOutputKind { Sdl, Null, WavFile, Offline };

class TSoundOutput : public TObj {
public:
    virtual TSoundOutputKind Kind() const = 0;
    // Starts calling the renderer; false when the output cannot run.
    virtual bool Start(TSoundRenderer& renderer) = 0;
    // Stops calling the renderer; returns once no call is running.
    virtual void Stop() = 0;
    // False for the offline output, which only renders when pulled.
    virtual bool RealTime() const { return true; }
    // Milliseconds between rendering a frame and hearing it.
    virtual double LatencyMs() const { return 0; }

    uint64_t FramesRendered() const { return m_frames.load(std::memory_order_acquire); }
    // Milliseconds of sound heard so far: rendered frames minus the latency,
    // not below 0.
    virtual double PlayedMs() const;
    // The device this output plays on went away while it ran.
    virtual bool Lost() const { return false; }

protected:
    void RenderCounted(TSoundRenderer& renderer, int16_t* samples, size_t frames);

private:
    std::atomic<uint64_t> m_frames{0};
};

// No thread: the caller pulls frames, and the clock is frames / 44.1.
class TOfflineSoundOutput : public TSoundOutput {
public:
    TSoundOutputKind Kind() const override { return TSoundOutputKind::Offline; }
    bool Start(TSoundRenderer& renderer) override;
    void Stop() override;
    bool RealTime() const override { return false; }

    // Renders frames into samples (2 per frame); returns the frames rendered,
    // 0 while not started.
    size_t Pull(int16_t* samples, size_t frames);

private:
    TSoundRenderer* m_renderer = nullptr;
};

// Renders in real time on a thread of its own, paced by the steady clock, and
// hands each block to Consume.
class TPacedSoundOutput : public TSoundOutput {
public:
    explicit TPacedSoundOutput(TTickSource ticks = PreciseTickMs);
    ~TPacedSoundOutput() override;

    bool Start(TSoundRenderer& renderer) override;
    void Stop() override;
    // While running, the time elapsed on the tick source: what runs in real
    // time is heard in real time, however the blocks were cut.
    double PlayedMs() const override;

protected:
    virtual bool Open() { return true; }
    virtual void Consume(const int16_t* samples, size_t frames) {}
    virtual void Close() {}

private:
    class TPaceThread;
    void Pump();

    TTickSource m_ticks;
    TSoundRenderer* m_renderer = nullptr;
    std::unique_ptr<TPaceThread> m_thread;
    std::atomic<double> m_startTick{0};
    std::atomic<bool> m_running{false};
    std::vector<int16_t> m_block;
};

// Silent, in real time.
class TNullSoundOutput : public TPacedSoundOutput {
public:
    using TPacedSoundOutput::TPacedSoundOutput;
    TSoundOutputKind Kind() const override { return TSoundOutputKind::Null; }
};

// Writes what is heard into a 16-bit stereo WAV file, in real time; the sizes
// of the header are set when the output stops.
class TWavFileSoundOutput : public TPacedSoundOutput {
public:
    explicit TWavFileSoundOutput(std::u16string fileName, TTickSource ticks = PreciseTickMs);
    ~TWavFileSoundOutput() override;
    TSoundOutputKind Kind() const override { return TSoundOutputKind::WavFile; }

protected:
    bool Open() override;
    void Consume(const int16_t* samples, size_t frames) override;
    void Close() override;

private:
    class TWriter;
    std::u16string m_fileName;
    std::unique_ptr<TWriter> m_writer;
};

// SDL audio. Its latency is the configured one, or else measured as two device
// buffers (the one playing and the one SDL holds ready).
class TSdlSoundOutput : public TSoundOutput {
public:
    // latencyMs < 0: measure it.
    explicit TSdlSoundOutput(int32_t bufferFrames = 1024, double latencyMs = -1);
    ~TSdlSoundOutput() override;
    TSoundOutputKind Kind() const override { return TSoundOutputKind::Sdl; }
    bool Start(TSoundRenderer& renderer) override;
    void Stop() override;
    double LatencyMs() const override { return m_latencyMs.load(); }
    bool Lost() const override;

private:
    struct TStream;
    int32_t m_bufferFrames;
    double m_configuredLatencyMs;
    std::atomic<double> m_latencyMs{0};
    std::unique_ptr<TStream> m_stream;
};

// A device that may go away (a headset unplugged, the sound server
// restarted) and come back: while it is missing, or when none opens at the
// start, silence runs in real time in its place, so that the show's clock
// goes on; the device is looked for again after RetryMs, then at growing
// intervals up to a minute. The clock (PlayedMs) never runs back across a
// change. Each change writes one log line.
class TFailoverSoundOutput : public TSoundOutput {
public:
    using TDeviceFactory = std::function<std::unique_ptr<TSoundOutput>()>;
    explicit TFailoverSoundOutput(TDeviceFactory makeDevice, int32_t retryMs = 2000,
                                  TTickSource ticks = PreciseTickMs);
    ~TFailoverSoundOutput() override;
    TSoundOutputKind Kind() const override { return TSoundOutputKind::Sdl; }
    // Always true: silence is there when the device is not.
    bool Start(TSoundRenderer& renderer) override;
    void Stop() override;
    double LatencyMs() const override;
    double PlayedMs() const override;
    // Whether the device plays now (not the silence).
    bool OnDevice() const;

private:
    class TWatchThread;
    // The outputs change on the watch thread (or in Start) only.
    void StopCurrent();
    void Use(std::unique_ptr<TSoundOutput> started, bool device);
    bool TryDevice();
    void StartSilence();
    void Watch();

    TDeviceFactory m_makeDevice;
    int32_t m_retryMs;
    TTickSource m_ticks;
    TSoundRenderer* m_renderer = nullptr;
    mutable std::mutex m_lock;  // guards the outputs and the clock base
    std::unique_ptr<TSoundOutput> m_current;
    bool m_onDevice = false;
    double m_playedBase = 0;  // heard before the output playing now began
    double m_nextTry = 0;     // tick of the next look for the device
    int32_t m_wait = 0;       // ms until the look after that
    std::unique_ptr<TWatchThread> m_watch;
};

struct TSoundOutputOptions {
    TSoundOutputKind Kind = TSoundOutputKind::Sdl;
    std::u16string WavFileName;   // for WavFile
    int32_t BufferFrames = 1024;  // for Sdl
    double LatencyMs = -1;        // for Sdl; < 0: measured
};

std::unique_ptr<TSoundOutput> CreateSoundOutput(const TSoundOutputOptions& options);

// 16-bit stereo 44100 Hz RIFF header for dataBytes of samples.
std::vector<uint8_t> WavHeader(uint32_t dataBytes);

}  // namespace ql
