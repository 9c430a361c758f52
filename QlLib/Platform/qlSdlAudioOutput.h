// The SDL audio device: the only place that calls SDL's audio functions. Each
// call is traced to the global log as an arrow, the call and the unit and line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace ql::platform {

// Fills frames interleaved 16-bit stereo frames; runs on SDL's audio thread.
using TAudioFillCallback = std::function<void(int16_t* samples, size_t frames)>;

class TSdlAudioStream {
public:
    TSdlAudioStream() = default;
    ~TSdlAudioStream();
    TSdlAudioStream(const TSdlAudioStream&) = delete;
    TSdlAudioStream& operator=(const TSdlAudioStream&) = delete;

    // Opens the default device for 16-bit stereo at rate with a device buffer
    // of about bufferFrames and starts it; false (traced) when SDL audio cannot
    // start or no device opens.
    bool Open(int32_t rate, int32_t bufferFrames, TAudioFillCallback callback);
    void Close();
    bool IsOpen() const { return m_device != 0; }
    // The device went away since it opened (unplugged, or the sound server
    // restarted): SDL stopped it and calls the callback no more.
    bool Lost() const;
    // The device buffer SDL granted, in frames.
    int32_t BufferFrames() const { return m_bufferFrames; }

private:
    static void Trampoline(void* self, uint8_t* stream, int length);

    uint32_t m_device = 0;
    bool m_subsystem = false;
    int32_t m_bufferFrames = 0;
    TAudioFillCallback m_callback;
};

}  // namespace ql::platform
