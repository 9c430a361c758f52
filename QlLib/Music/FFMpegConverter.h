// Anything else the FFmpeg libraries know (WMA among them), read through a
// custom I/O context over our own stream: FFmpeg sees only the bytes it is
// given and never opens a file, a protocol or a second resource.
#pragma once

#include <memory>
#include <vector>

#include "QlLib/Music/WavConverters.h"

namespace ql {

// The demuxers an audio source may use.
extern const char* const kFFmpegFormatWhitelist;

// Fills info (type FFmpeg, the output format) for the audio stream with the
// given index among the source's audio streams; false when none opens.
bool ReadFFmpegMediaInfo(TStream& stream, int audioIndex, TMediaInfo& info);

class TFFMpegConverter : public TWavConverter {
public:
    explicit TFFMpegConverter(TStream& stream);
    ~TFFMpegConverter() override;

    bool Open(const TMediaInfo& info) override;
    void Seek(double ms) override;

protected:
    bool Decode() override;
    bool ReadInput() override { return false; }

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

}  // namespace ql
