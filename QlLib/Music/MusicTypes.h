// The shared vocabulary of the decoders: wave formats, media information, the
// media types, source names with a stream suffix, and the stream broker through
// which every audio thread reaches its source.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QlLib/SysObj.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// Format tags of a WAV "fmt " chunk.
constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatMsAdpcm = 2;
constexpr uint16_t kWaveFormatIeeeFloat = 3;
constexpr uint16_t kWaveFormatImaAdpcm = 0x11;
constexpr uint16_t kWaveFormatMpegLayer3 = 85;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

// Limits a source format must respect before anything is sized from it.
constexpr uint32_t kMinSampleRate = 1000;
constexpr uint32_t kMaxSampleRate = 384000;
constexpr uint16_t kMaxSourceChannels = 32;
constexpr uint16_t kMaxBlockAlign = 65535;

struct TWaveFormat {
    uint16_t FormatTag = kWaveFormatPcm;
    uint16_t Channels = 2;
    uint32_t SamplesPerSec = 44100;
    uint32_t AvgBytesPerSec = 176400;
    uint16_t BlockAlign = 4;
    uint16_t BitsPerSample = 16;
    uint16_t ExtraSize = 0;

    bool operator==(const TWaveFormat&) const = default;
    // PCM or float with the block and byte rate derived from the rest.
    static TWaveFormat Pcm(uint32_t rate, uint16_t channels, uint16_t bits, bool isFloat = false);
    // Rate, channels and sample size inside the limits above, and a block that
    // holds one frame of them.
    bool PlausiblePcm() const;
};

// The player's output format: 16-bit signed stereo at 44100 Hz.
TWaveFormat OutputWaveFormat();

enum class TMediaType : int32_t {
    Unknown = 0,
    WavPcm = 1,
    WavAdpcm = 2,
    WavFloat = 3,
    Mpeg = 4,
    Wma = 5,
    Ogg = 6,
    Composite = 9,
    FFmpeg = 10,
};

// Short name of a media type as orbtool prints it.
const char* MediaTypeName(TMediaType type);

// What inspecting a source yields; the converters open with it.
struct TMediaInfo {
    int64_t DataStart = 0;  // byte offset of the audio data
    int64_t DataSize = 0;   // bytes of audio data
    int64_t LengthMs = 0;
    int32_t MaxFrameSize = 0;    // MPEG: the largest frame seen
    double FrameDurationMs = 0;  // MPEG: the average frame duration
    TMediaType MediaType = TMediaType::Unknown;
    TWaveFormat Format;
    std::array<uint8_t, 32> FormatExtra{};  // compressed WAV: the format extension
    bool Wrapped = false;                   // MPEG inside a WAV, or with a VBR header
    // Which speaker each channel feeds, as WAV channel-mask bits in channel
    // order; 0 = the default order for the channel count.
    uint32_t ChannelMask = 0;
    int32_t StreamIndex = 0;  // FFmpeg: the audio stream chosen by the name
    // MPEG seeking: the VBR table of contents (percent -> 1/256 of the bytes)
    // when the Xing header carried one, and the bitrate otherwise.
    bool HasToc = false;
    std::array<uint8_t, 100> Toc{};
    int32_t Bitrate = 0;  // bits per second
    int32_t SamplesPerFrame = 0;
    // MPEG gapless playback: source frames at the start that are no audio (the
    // encoder's delay and the decoder's own), and the source frames of real
    // audio after them (0 when unknown: everything decoded plays).
    int32_t GaplessSkip = 0;
    int64_t GaplessFrames = 0;
    // MPEG streams whose frames were walked: the byte offset (from the data
    // start) of every kMpegMarkStep-th frame, for exact seeks; null otherwise.
    std::shared_ptr<const std::vector<int64_t>> FrameMarks;
};

constexpr int64_t kMpegMarkStep = 8;

// A source name may end in "?N": the part before the last question mark is
// opened, N chooses the audio stream for FFmpeg (0 when absent or not a number).
struct TSourceName {
    std::u16string FileName;
    int32_t StreamIndex = 0;
};
TSourceName SplitSourceName(const std::u16string& name);

// True when the 8-bit form of name ends in suffix, compared without case.
bool NameHasExtension(const std::u16string& name, const char* suffix);

using TSourceOpenCallback = std::function<std::unique_ptr<TStream>(const std::u16string& name)>;
using TSourceReleaseCallback = std::function<void(std::unique_ptr<TStream> stream)>;

// The one process-wide stream broker. Every open, read, seek, size query and
// release of an audio source goes through its lock, so decoders on several
// threads never touch the package reader at the same time.
class TStreamWrapperClass : public TRefObj {
public:
    static TStreamWrapperClass& Instance();

    // Reads of more than this in one call are the assertion "Too many".
    static constexpr size_t kMaxRead = 104857600;

    // The callbacks of the music device; without an open callback names are
    // opened as files for reading.
    void SetCallbacks(TSourceOpenCallback open, TSourceReleaseCallback release);

    // Null when the name cannot be opened. The stream serialises every call
    // through the broker.
    std::unique_ptr<TStream> Open(const std::u16string& name);
    // The same source viewed from offset on (a TMp3ShiftStream inside).
    std::unique_ptr<TStream> OpenAt(const std::u16string& name, int64_t offset);
    // Unwraps the stream and hands the source to the release callback (or frees it).
    void Release(std::unique_ptr<TStream> stream);

    int64_t Position(TStream& stream);
    // origin: 0 from the start, 1 from the position, 2 from the end.
    int64_t Seek(TStream& stream, int64_t offset, int origin);
    size_t Read(TStream& stream, void* buffer, size_t count);
    int64_t Size(TStream& stream);

    std::mutex& Lock() { return m_lock; }

private:
    std::unique_ptr<TStream> OpenRaw(const std::u16string& name);

    std::mutex m_lock;  // serialises all source access and the callbacks
    TSourceOpenCallback m_open;
    TSourceReleaseCallback m_release;
};

// The decoder plug-ins and the media library a show may carry are never
// loaded: the built-in decoders take their place. Logs that the option was
// ignored; what is the option's key ("opt_wmapath", "opt_oggpath", ...).
void IgnoreDecoderLibrary(const std::string& what, const std::u16string& path);

}  // namespace ql
