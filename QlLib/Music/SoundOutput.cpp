#include "QlLib/Music/SoundOutput.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "QlLib/Music/PcmSource.h"
#include "QlLib/Platform/qlSdlAudioOutput.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpThreads2.h"

namespace ql {

double PreciseTickMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double TSoundOutput::PlayedMs() const {
    const double ms = double(FramesRendered()) * 1000.0 / kOutputRate - LatencyMs();
    return ms > 0 ? ms : 0;
}

void TSoundOutput::RenderCounted(TSoundRenderer& renderer, int16_t* samples, size_t frames) {
    renderer.Render(samples, frames);
    m_frames.fetch_add(frames, std::memory_order_acq_rel);
}

// Offline

bool TOfflineSoundOutput::Start(TSoundRenderer& renderer) {
    m_renderer = &renderer;
    return true;
}

void TOfflineSoundOutput::Stop() {
    m_renderer = nullptr;
}

size_t TOfflineSoundOutput::Pull(int16_t* samples, size_t frames) {
    if (!m_renderer) return 0;
    RenderCounted(*m_renderer, samples, frames);
    return frames;
}

// Paced

class TPacedSoundOutput::TPaceThread : public TThread {
public:
    explicit TPaceThread(TPacedSoundOutput& owner) : m_owner(owner) {}
    ~TPaceThread() override { Shutdown(); }

protected:
    void Execute() override {
        while (!Terminated()) {
            m_owner.Pump();
            WaitForTerminate(5);
        }
    }

private:
    TPacedSoundOutput& m_owner;
};

TPacedSoundOutput::TPacedSoundOutput(TTickSource ticks) : m_ticks(std::move(ticks)) {}

TPacedSoundOutput::~TPacedSoundOutput() {
    TPacedSoundOutput::Stop();
}

bool TPacedSoundOutput::Start(TSoundRenderer& renderer) {
    Stop();
    if (!Open()) return false;
    m_renderer = &renderer;
    m_block.assign(1024 * 2, 0);
    // Frames already rendered count as played before this start.
    m_startTick.store(m_ticks() - double(FramesRendered()) * 1000.0 / kOutputRate);
    m_thread = std::make_unique<TPaceThread>(*this);
    m_running.store(true);
    if (!m_thread->Start()) {
        m_running.store(false);
        m_thread.reset();
        Close();
        return false;
    }
    return true;
}

void TPacedSoundOutput::Stop() {
    if (!m_thread) return;
    m_running.store(false);
    m_thread.reset();
    Close();
}

double TPacedSoundOutput::PlayedMs() const {
    if (!m_running.load()) return TSoundOutput::PlayedMs();
    const double ms = m_ticks() - m_startTick.load();
    return ms > 0 ? ms : 0;
}

void TPacedSoundOutput::Pump() {
    const double elapsed = m_ticks() - m_startTick.load();
    const uint64_t due = elapsed > 0 ? uint64_t(std::floor(elapsed * kOutputRate / 1000.0)) : 0;
    uint64_t done = FramesRendered();
    while (done < due) {
        const size_t frames = size_t(std::min<uint64_t>(due - done, m_block.size() / 2));
        RenderCounted(*m_renderer, m_block.data(), frames);
        Consume(m_block.data(), frames);
        done += frames;
    }
}

// WAV file

std::vector<uint8_t> WavHeader(uint32_t dataBytes) {
    std::vector<uint8_t> h(44);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i));
    };
    auto put16 = [&](size_t at, uint16_t v) {
        h[at] = uint8_t(v);
        h[at + 1] = uint8_t(v >> 8);
    };
    std::memcpy(h.data(), "RIFF", 4);
    put32(4, dataBytes > 0xFFFFFFFFu - 36 ? 0xFFFFFFFFu : dataBytes + 36);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, kOutputChannels);
    put32(24, kOutputRate);
    put32(28, kOutputRate * kOutputBytesPerFrame);
    put16(32, kOutputBytesPerFrame);
    put16(34, 16);
    std::memcpy(h.data() + 36, "data", 4);
    put32(40, dataBytes);
    return h;
}

class TWavFileSoundOutput::TWriter {
public:
    explicit TWriter(const std::u16string& fileName)
        : m_stream(fileName, TFileAccess::ReadWrite, kShareRead, TFileDisposition::CreateAlways) {
        const auto header = WavHeader(0);
        m_stream.WriteBuffer(header.data(), header.size());
    }
    void Write(const int16_t* samples, size_t frames) {
        // A WAV file cannot say more than 4 GB; the rest is dropped.
        const uint64_t bytes = uint64_t(frames) * kOutputBytesPerFrame;
        if (m_dataBytes + bytes > 0xFFFFFFFFull - 64) return;
        m_stream.Write(samples, size_t(bytes));  // little-endian host
        m_dataBytes += bytes;
    }
    void Finish() {
        const auto header = WavHeader(uint32_t(m_dataBytes));
        m_stream.SetPosition(0);
        m_stream.Write(header.data(), header.size());
        m_stream.Close();
    }

private:
    TFileStream m_stream;
    uint64_t m_dataBytes = 0;
};

TWavFileSoundOutput::TWavFileSoundOutput(std::u16string fileName, TTickSource ticks)
    : TPacedSoundOutput(std::move(ticks)), m_fileName(std::move(fileName)) {}

TWavFileSoundOutput::~TWavFileSoundOutput() {
    Stop();
}

bool TWavFileSoundOutput::Open() {
    try {
        m_writer = std::make_unique<TWriter>(m_fileName);
    } catch (const std::exception& e) {
        GlobalLog().WriteLine(std::string("Sound output: cannot write the WAV file: ") + e.what());
        return false;
    }
    return true;
}

void TWavFileSoundOutput::Consume(const int16_t* samples, size_t frames) {
    if (m_writer) m_writer->Write(samples, frames);
}

void TWavFileSoundOutput::Close() {
    if (!m_writer) return;
    try {
        m_writer->Finish();
    } catch (const std::exception& e) {
        GlobalLog().WriteLine(std::string("Sound output: cannot finish the WAV file: ") + e.what());
    }
    m_writer.reset();
}

// SDL

struct TSdlSoundOutput::TStream {
    platform::TSdlAudioStream Device;
};

TSdlSoundOutput::TSdlSoundOutput(int32_t bufferFrames, double latencyMs)
    : m_bufferFrames(bufferFrames), m_configuredLatencyMs(latencyMs) {}

TSdlSoundOutput::~TSdlSoundOutput() {
    Stop();
}

bool TSdlSoundOutput::Start(TSoundRenderer& renderer) {
    Stop();
    auto stream = std::make_unique<TStream>();
    TSoundRenderer* target = &renderer;
    const bool opened =
        stream->Device.Open(kOutputRate, m_bufferFrames,
                            [this, target](int16_t* s, size_t n) { RenderCounted(*target, s, n); });
    if (!opened) return false;
    const double measured = 2.0 * stream->Device.BufferFrames() * 1000.0 / kOutputRate;
    m_latencyMs.store(m_configuredLatencyMs >= 0 ? m_configuredLatencyMs : measured);
    m_stream = std::move(stream);
    return true;
}

void TSdlSoundOutput::Stop() {
    if (m_stream) m_stream->Device.Close();
    m_stream.reset();
}

bool TSdlSoundOutput::Lost() const {
    return m_stream && m_stream->Device.Lost();
}

// Failover

namespace {
constexpr int32_t kWatchMs = 250;
constexpr int32_t kLongestRetryMs = 60000;
}  // namespace

class TFailoverSoundOutput::TWatchThread : public TThread {
public:
    explicit TWatchThread(TFailoverSoundOutput& owner) : m_owner(owner) {}
    ~TWatchThread() override { Shutdown(); }

protected:
    void Execute() override {
        while (!Terminated()) {
            m_owner.Watch();
            WaitForTerminate(kWatchMs);
        }
    }

private:
    TFailoverSoundOutput& m_owner;
};

TFailoverSoundOutput::TFailoverSoundOutput(TDeviceFactory makeDevice, int32_t retryMs,
                                           TTickSource ticks)
    : m_makeDevice(std::move(makeDevice)),
      m_retryMs(std::max(retryMs, 1)),
      m_ticks(std::move(ticks)) {}

TFailoverSoundOutput::~TFailoverSoundOutput() {
    Stop();
}

bool TFailoverSoundOutput::Start(TSoundRenderer& renderer) {
    Stop();
    m_renderer = &renderer;
    m_playedBase = 0;
    m_wait = m_retryMs;
    if (!TryDevice()) {
        GlobalLog().WriteLine(
            u"Sound output: no audio device opened; playing silently in real time");
        StartSilence();
    }
    m_watch = std::make_unique<TWatchThread>(*this);
    m_watch->Start();
    return true;
}

void TFailoverSoundOutput::Stop() {
    m_watch.reset();
    StopCurrent();
}

void TFailoverSoundOutput::StopCurrent() {
    // The clock keeps what was heard; the next output counts on from there.
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_current) return;
    m_playedBase += m_current->PlayedMs();
    m_current->Stop();
    m_current.reset();
    m_onDevice = false;
}

void TFailoverSoundOutput::Use(std::unique_ptr<TSoundOutput> started, bool device) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_current = std::move(started);
    m_onDevice = device;
    // A device that plays (or has just gone) is looked for again soon;
    // one that keeps failing, at growing intervals.
    if (device) m_wait = m_retryMs;
    m_nextTry = m_ticks() + m_wait;
}

bool TFailoverSoundOutput::TryDevice() {
    std::unique_ptr<TSoundOutput> device = m_makeDevice ? m_makeDevice() : nullptr;
    if (!device || !device->Start(*m_renderer)) return false;
    Use(std::move(device), true);
    return true;
}

void TFailoverSoundOutput::StartSilence() {
    auto silence = std::make_unique<TNullSoundOutput>(m_ticks);
    silence->Start(*m_renderer);
    Use(std::move(silence), false);
}

void TFailoverSoundOutput::Watch() {
    bool lost = false, due = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_current) return;
        lost = m_onDevice && m_current->Lost();
        due = !m_onDevice && m_ticks() >= m_nextTry;
    }
    if (lost) {
        GlobalLog().WriteLine(
            u"Sound output: the audio device went away; playing silently until it is back");
        StopCurrent();
        StartSilence();
        return;
    }
    if (!due) return;
    // One output renders at a time: the silence stops before the device
    // starts, and comes back when the device does not.
    StopCurrent();
    if (TryDevice()) {
        GlobalLog().WriteLine(u"Sound output: an audio device is back; the sound plays on it");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_wait = std::min(m_wait * 2, kLongestRetryMs);
    }
    StartSilence();
}

double TFailoverSoundOutput::LatencyMs() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_current ? m_current->LatencyMs() : 0;
}

double TFailoverSoundOutput::PlayedMs() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_playedBase + (m_current ? m_current->PlayedMs() : 0);
}

bool TFailoverSoundOutput::OnDevice() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_onDevice;
}

std::unique_ptr<TSoundOutput> CreateSoundOutput(const TSoundOutputOptions& options) {
    switch (options.Kind) {
        case TSoundOutputKind::Null:
            return std::make_unique<TNullSoundOutput>();
        case TSoundOutputKind::WavFile:
            return std::make_unique<TWavFileSoundOutput>(options.WavFileName);
        case TSoundOutputKind::Offline:
            return std::make_unique<TOfflineSoundOutput>();
        case TSoundOutputKind::Sdl:
            break;
    }
    const int32_t bufferFrames = options.BufferFrames;
    const double latencyMs = options.LatencyMs;
    return std::make_unique<TFailoverSoundOutput>([bufferFrames, latencyMs] {
        return std::make_unique<TSdlSoundOutput>(bufferFrames, latencyMs);
    });
}

}  // namespace ql
