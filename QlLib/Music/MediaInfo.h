// Inspecting a source: the WAV header parser (TRiffInfo), the MPEG frame and
// VBR header parser (TMpegInfo) and the media information of a named source.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "QlLib/Music/MusicTypes.h"
#include "QlLib/qpFileStream.h"

namespace ql {

class TRiffInfo {
public:
    // Chunks walked before giving up on finding "fmt " and "data".
    static constexpr int kMaxChunks = 4096;

    // Parses a WAV file from the stream's start. False when it is no WAV we can
    // play; an MPEG stream inside a WAV (tag 85) is parsed as MPEG and flagged.
    // refused: set when the format is one of ours but its fields are impossible
    // (zero or absurd rates, block sizes, channel counts), so that no other
    // decoder gets it either.
    static bool Parse(TStream& stream, TMediaInfo& info, bool* refused = nullptr);
};

// One MPEG audio frame header.
struct TMpegHeader {
    int Version = 0;      // 10 = MPEG 1, 20 = MPEG 2, 25 = MPEG 2.5
    int Layer = 0;        // 1..3
    bool Protection = false;  // a CRC follows the header
    int BitrateIndex = 0;
    int SampleRateIndex = 0;
    bool Padding = false;
    int ChannelMode = 0;  // 3 = mono
    int ModeExtension = 0;
    int Emphasis = 0;
    int OtherBits = 0;    // private, copyright, original

    int Bitrate = 0;      // bits per second
    int SampleRate = 0;
    int FrameSize = 0;    // bytes, header included
    int SamplesPerFrame = 0;

    // False for anything but 11 sync bits and valid version, layer, bitrate
    // (free format is refused) and sample-rate fields.
    static bool Decode(uint32_t word, TMpegHeader& header);
    // The offset of a Xing header inside the frame.
    int XingOffset() const;
};

class TMpegInfo {
public:
    // How far the frame sync scan looks before the source is taken for no MPEG.
    static constexpr int64_t kMaxSyncScan = 1 << 20;

    TMpegHeader Header;
    int64_t Id3v2Size = 0;
    std::string VbrKind;   // "Xing", "Info", "VBRI" or empty
    int64_t VbrFrames = 0;
    int64_t VbrBytes = 0;
    bool HasToc = false;
    std::array<uint8_t, 100> Toc{};
    int64_t DataStart = 0;
    int64_t DataSize = 0;
    int MaxFrameSize = 0;

    // Parses the MPEG stream between start and end (end < 0: the stream's end).
    // bytesPerSecond > 0 replaces the first frame's bitrate (a WAV's format).
    bool Parse(TStream& stream, int64_t start = 0, int64_t end = -1, uint32_t bytesPerSecond = 0);
    // The media information of what Parse found.
    void Fill(TMediaInfo& info) const;
    double LengthMs() const;
};

// Byte offset (from the data start) of the frame that holds ms.
int64_t MpegSeekOffset(const TMediaInfo& info, double ms);

// The media information of a source: WAV, MPEG by name, Ogg Vorbis by name,
// and anything FFmpeg opens. Nothing when the source is unusable.
std::optional<TMediaInfo> ReadMediaInfo(TStream& stream, const std::u16string& name);

}  // namespace ql
