// MPEG audio (layers 1 to 3) through libmpg123 in feed mode: TMpg123, the
// shared decoder front, and TMpegConverter.
#pragma once

#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "QlLib/Music/WavConverters.h"

struct mpg123_handle_struct;

namespace ql {

// The library set-up shared by all MPEG converters; it lives while at least
// one converter uses it and its lock serialises their decoding.
class TMpg123 {
public:
    // Takes a user; false when the library cannot start.
    static bool Acquire();
    static void ReleaseUser();
    static std::mutex& Lock();
};

class TMpegConverter : public TWavConverter {
public:
    explicit TMpegConverter(TStream& stream);
    ~TMpegConverter() override;

    bool Open(const TMediaInfo& info) override;
    void Seek(double ms) override;

protected:
    bool Decode() override;
    bool ReadInput() override;

private:
    bool ResetDecoder();
    // Passes on the part of decoded PCM that lies between m_firstFrame and
    // m_endFrame; the rest is lead-in, encoder delay or padding.
    void EmitWindow(const uint8_t* data, size_t bytes);

    mpg123_handle_struct* m_handle = nullptr;
    bool m_user = false;
    std::vector<uint8_t> m_pcm;
    // Source frames (samples per channel) counted from the stream's start:
    // the next one the decoder gives, the first one to play (after a seek's
    // lead-in and the encoder's delay) and the one after the real audio.
    int64_t m_sourceFrame = 0;
    int64_t m_firstFrame = 0;
    int64_t m_endFrame = std::numeric_limits<int64_t>::max();
};

}  // namespace ql
