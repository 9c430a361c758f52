// Inspecting a source: the WAV header parser (TRiffInfo), the MPEG frame and
// VBR header parser (TMpegInfo) and the media information of a named source.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
    int Version = 0;          // 10 = MPEG 1, 20 = MPEG 2, 25 = MPEG 2.5
    int Layer = 0;            // 1..3
    bool Protection = false;  // a CRC follows the header
    int BitrateIndex = 0;
    int SampleRateIndex = 0;
    bool Padding = false;
    int ChannelMode = 0;  // 3 = mono
    int ModeExtension = 0;
    int Emphasis = 0;
    int OtherBits = 0;  // private, copyright, original

    int Bitrate = 0;  // bits per second
    int SampleRate = 0;
    int FrameSize = 0;  // bytes, header included
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
    // The frame walk of a stream without a frame count stops after this many
    // frames (about 30 hours) and extrapolates the rest from what it saw.
    static constexpr int64_t kMaxWalkFrames = int64_t(1) << 22;
    // How far the walk looks for the next frame after a broken stretch; junk
    // beyond it (a trailing tag of another kind) ends the audio.
    static constexpr int64_t kMaxResync = 65536;
    // The decoder's own delay in samples for layer 3 (its filter bank), which
    // the encoders' recorded delay does not include.
    static constexpr int kDecoderDelay = 529;

    TMpegHeader Header;
    int64_t Id3v2Size = 0;
    std::string VbrKind;  // "Xing", "Info", "VBRI" or empty
    int64_t VbrFrames = 0;
    int64_t VbrBytes = 0;
    bool HasToc = false;
    std::array<uint8_t, 100> Toc{};
    int64_t DataStart = 0;
    int64_t DataSize = 0;
    int MaxFrameSize = 0;
    // Frames counted by the walk (0 when the VBR header gave the count).
    int64_t WalkedFrames = 0;
    // The encoder delay and padding (samples) of a LAME-style tag behind the
    // Xing header; -1 when there was none.
    int EncoderDelay = -1;
    int EncoderPadding = -1;
    // The walk's offset of every kMpegMarkStep-th frame (empty without a walk).
    std::shared_ptr<std::vector<int64_t>> FrameMarks;

    // Parses the MPEG stream between start and end (end < 0: the stream's end).
    // bytesPerSecond > 0 replaces the first frame's bitrate (a WAV's format).
    // walk: count the frames and keep their marks even when a VBR header
    // gives the count (the decoder's exact seeks; costs a read of the stream).
    bool Parse(TStream& stream, int64_t start = 0, int64_t end = -1, uint32_t bytesPerSecond = 0,
               bool walk = false);
    // The media information of what Parse found.
    void Fill(TMediaInfo& info) const;
    double LengthMs() const;
    // Frames of the stream: the VBR header's count, else the walk's.
    int64_t Frames() const { return VbrFrames > 0 ? VbrFrames : WalkedFrames; }
    // Source frames before the real audio and of the real audio; (0, 0) when
    // the stream records no delay and padding.
    int GaplessSkip() const;
    int64_t GaplessFrames() const;

private:
    // Counts the frames from DataStart to audioEnd and fills MaxFrameSize and
    // FrameMarks (kept for streams whose frames differ in size, or always).
    void WalkFrames(TStream& stream, int64_t audioEnd, bool keepMarks);
};

// Where decoding starts for a time: the byte offset from the data start and
// the source frame (sample) that the first decoded output stands for.
struct TMpegSeekPoint {
    int64_t Offset = 0;
    int64_t Frame = 0;
};
// The point at or before ms (exact with frame marks or a constant bitrate,
// estimated through a table of contents).
TMpegSeekPoint MpegSeekPoint(const TMediaInfo& info, double ms);
// Byte offset (from the data start) of the frame that holds ms.
int64_t MpegSeekOffset(const TMediaInfo& info, double ms);

// The media information of a source: WAV, MPEG by name, Ogg Vorbis by name,
// and anything FFmpeg opens. Nothing when the source is unusable.
std::optional<TMediaInfo> ReadMediaInfo(TStream& stream, const std::u16string& name);

}  // namespace ql
