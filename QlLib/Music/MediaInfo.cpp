#include "QlLib/Music/MediaInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "QlLib/Music/AdpcmCodec.h"
#include "QlLib/Music/FFMpegConverter.h"
#include "QlLib/Music/OggConverter.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t Le16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Reads up to count bytes at position; returns what arrived.
size_t ReadAt(TStream& stream, int64_t position, void* buffer, size_t count) {
    stream.SetPosition(position);
    size_t total = 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (total < count) {
        const size_t got = stream.Read(bytes + total, count - total);
        if (got == 0) break;
        total += got;
    }
    return total;
}

int64_t RoundMs(double ms) {
    return int64_t(std::llround(ms));
}

// Frames of one stream keep their version, layer and rate; a header that
// changes them is a false sync inside the audio data.
bool SameStream(const TMpegHeader& a, const TMpegHeader& b) {
    return a.Version == b.Version && a.Layer == b.Layer && a.SampleRate == b.SampleRate;
}

// Reads forward through one buffer, for walks that look at a few bytes of
// every frame: one stream read per 64 KiB rather than one per frame.
class TForwardReader {
public:
    TForwardReader(TStream& stream, int64_t end) : m_stream(stream), m_end(end) {}

    // False when the four bytes at position are not all before the end.
    bool Word(int64_t position, uint32_t& word) {
        if (position < 0 || position + 4 > m_end) return false;
        if (position < m_start || position + 4 > m_start + int64_t(m_bytes.size())) {
            const size_t want = size_t(std::min<int64_t>(kBlock, m_end - position));
            m_bytes.resize(want);
            m_bytes.resize(ReadAt(m_stream, position, m_bytes.data(), want));
            m_start = position;
            if (m_bytes.size() < 4) return false;
        }
        word = Be32(&m_bytes[size_t(position - m_start)]);
        return true;
    }

private:
    static constexpr int64_t kBlock = 65536;
    TStream& m_stream;
    int64_t m_end;
    int64_t m_start = 0;
    std::vector<uint8_t> m_bytes;
};

}  // namespace

bool TRiffInfo::Parse(TStream& stream, TMediaInfo& info, bool* refused) {
    if (refused) *refused = false;
    const int64_t fileSize = stream.GetSize();
    uint8_t head[12];
    if (ReadAt(stream, 0, head, 12) < 12) return false;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return false;
    // The RIFF size is often wrong (streamed recordings write 0 or -1); the
    // file's own size bounds the walk.
    int64_t end = fileSize >= 0 ? fileSize : int64_t(Le32(head + 4)) + 8;

    TMediaInfo result;
    bool haveFormat = false;
    uint8_t fmt[18 + 32] = {};
    size_t fmtSize = 0;
    int64_t position = 12;
    for (int chunk = 0; chunk < kMaxChunks && position + 8 <= end; ++chunk) {
        uint8_t header[8];
        if (ReadAt(stream, position, header, 8) < 8) return false;
        const int64_t size = Le32(header + 4);
        const int64_t body = position + 8;
        if (std::memcmp(header, "fmt ", 4) == 0) {
            if (size < 16) return false;
            fmtSize = ReadAt(stream, body, fmt, size_t(std::min<int64_t>(size, sizeof fmt)));
            if (fmtSize < 16) return false;
            haveFormat = true;
        } else if (std::memcmp(header, "data", 4) == 0) {
            if (!haveFormat) return false;
            result.DataStart = body;
            // A truncated file plays what it holds.
            result.DataSize = std::max<int64_t>(0, std::min(size, end - body));
            break;
        }
        position = body + size + (size & 1);
    }
    if (!haveFormat || result.DataStart == 0) return false;

    TWaveFormat& format = result.Format;
    format.FormatTag = Le16(fmt);
    format.Channels = Le16(fmt + 2);
    format.SamplesPerSec = Le32(fmt + 4);
    format.AvgBytesPerSec = Le32(fmt + 8);
    format.BlockAlign = Le16(fmt + 12);
    format.BitsPerSample = Le16(fmt + 14);
    format.ExtraSize = fmtSize >= 18 ? Le16(fmt + 16) : 0;
    const size_t extraAvailable =
        fmtSize >= 18 ? std::min<size_t>(format.ExtraSize, fmtSize - 18) : 0;
    std::memcpy(result.FormatExtra.data(), fmt + 18, std::min<size_t>(extraAvailable, 32));
    if (format.FormatTag == kWaveFormatExtensible) {
        if (extraAvailable < 22) return false;
        result.ChannelMask = Le32(fmt + 20);
        // The sub-format GUID starts with the plain format tag.
        format.FormatTag = Le16(fmt + 24);
        if (format.FormatTag != kWaveFormatPcm && format.FormatTag != kWaveFormatIeeeFloat)
            return false;
    }

    // A format we decode ourselves but whose fields are wrong is refused
    // outright rather than offered to another decoder.
    const uint16_t tag = format.FormatTag;
    if (refused)
        *refused = tag == kWaveFormatPcm || tag == kWaveFormatIeeeFloat ||
                   tag == kWaveFormatMsAdpcm || tag == kWaveFormatImaAdpcm ||
                   tag == kWaveFormatMpegLayer3;
    switch (format.FormatTag) {
        case kWaveFormatPcm:
        case kWaveFormatIeeeFloat: {
            if (!format.PlausiblePcm()) return false;
            format.AvgBytesPerSec = format.BlockAlign * format.SamplesPerSec;
            result.MediaType =
                format.FormatTag == kWaveFormatPcm ? TMediaType::WavPcm : TMediaType::WavFloat;
            result.DataSize -= result.DataSize % format.BlockAlign;
            break;
        }
        case kWaveFormatMsAdpcm:
        case kWaveFormatImaAdpcm: {
            TAdpcmLayout layout;
            const std::span<const uint8_t> extra(result.FormatExtra.data(),
                                                 std::min<size_t>(extraAvailable, 32));
            if (!MakeAdpcmLayout(format, extra, layout)) return false;
            format.AvgBytesPerSec = uint32_t(uint64_t(format.SamplesPerSec) * layout.BlockAlign /
                                             layout.SamplesPerBlock);
            if (format.AvgBytesPerSec == 0) return false;
            result.MediaType = TMediaType::WavAdpcm;
            // The length counts the frames of the whole blocks and of a short last one.
            const int64_t blocks = result.DataSize / layout.BlockAlign;
            const int64_t frames =
                blocks * layout.SamplesPerBlock +
                layout.FramesInBlock(size_t(result.DataSize % layout.BlockAlign));
            result.LengthMs = RoundMs(double(frames) / format.SamplesPerSec * 1000.0);
            info = result;
            return true;
        }
        case kWaveFormatMpegLayer3: {
            TMpegInfo mpeg;
            if (!mpeg.Parse(stream, result.DataStart, result.DataStart + result.DataSize,
                            format.AvgBytesPerSec))
                return false;
            mpeg.Fill(result);
            result.Wrapped = true;
            info = result;
            return true;
        }
        default:
            return false;
    }
    result.LengthMs = RoundMs(double(result.DataSize) / format.AvgBytesPerSec * 1000.0);
    info = result;
    return true;
}

bool TMpegHeader::Decode(uint32_t word, TMpegHeader& h) {
    if ((word & 0xFFE00000u) != 0xFFE00000u) return false;
    const int versionBits = (word >> 19) & 3;
    const int layerBits = (word >> 17) & 3;
    if (versionBits == 1 || layerBits == 0) return false;
    h.Version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    h.Layer = 4 - layerBits;
    h.Protection = ((word >> 16) & 1) == 0;
    h.BitrateIndex = (word >> 12) & 15;
    h.SampleRateIndex = (word >> 10) & 3;
    h.Padding = ((word >> 9) & 1) != 0;
    h.OtherBits = (word >> 8) & 1;
    h.ChannelMode = (word >> 6) & 3;
    h.ModeExtension = (word >> 4) & 3;
    h.OtherBits |= ((word >> 2) & 3) << 1;
    h.Emphasis = word & 3;
    if (h.BitrateIndex == 0 || h.BitrateIndex == 15 || h.SampleRateIndex == 3 || h.Emphasis == 2)
        return false;

    static const int kBitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int kRates[3] = {44100, 48000, 32000};
    const bool v1 = h.Version == 10;
    h.Bitrate = kBitrates[v1 ? 0 : 1][h.Layer - 1][h.BitrateIndex] * 1000;
    h.SampleRate = kRates[h.SampleRateIndex] / (h.Version == 10 ? 1 : h.Version == 20 ? 2 : 4);
    const int pad = h.Padding ? 1 : 0;
    if (h.Layer == 1) {
        h.SamplesPerFrame = 384;
        h.FrameSize = (12 * h.Bitrate / h.SampleRate + pad) * 4;
    } else if (h.Layer == 2 || v1) {
        h.SamplesPerFrame = 1152;
        h.FrameSize = 144 * h.Bitrate / h.SampleRate + pad;
    } else {
        h.SamplesPerFrame = 576;
        h.FrameSize = 72 * h.Bitrate / h.SampleRate + pad;
    }
    return h.FrameSize >= 4;
}

int TMpegHeader::XingOffset() const {
    const bool mono = ChannelMode == 3;
    if (Version == 10) return 4 + (mono ? 17 : 32);
    return 4 + (mono ? 9 : 17);
}

double TMpegInfo::LengthMs() const {
    if (Header.SampleRate <= 0) return 0;
    if (const int64_t gapless = GaplessFrames(); gapless > 0)
        return double(gapless) / Header.SampleRate * 1000.0;
    if (const int64_t frames = Frames(); frames > 0)
        return double(frames) * Header.SamplesPerFrame / Header.SampleRate * 1000.0;
    if (Header.Bitrate <= 0) return 0;
    return double(DataSize) * 8.0 / Header.Bitrate * 1000.0;
}

int64_t TMpegInfo::GaplessFrames() const {
    if (EncoderDelay < 0 || EncoderPadding < 0 || Header.Layer != 3) return 0;
    const int64_t frames = Frames();
    const int64_t audio = frames * Header.SamplesPerFrame - EncoderDelay - EncoderPadding;
    return audio > 0 ? audio : 0;
}

int TMpegInfo::GaplessSkip() const {
    return GaplessFrames() > 0 ? EncoderDelay + kDecoderDelay : 0;
}

void TMpegInfo::WalkFrames(TStream& stream, int64_t audioEnd, bool keepMarks) {
    TForwardReader reader(stream, audioEnd);
    auto marks = std::make_shared<std::vector<int64_t>>();
    // A Xing, Info or VBRI frame is no audio of its own.
    int64_t at = DataStart + (VbrKind.empty() ? 0 : Header.FrameSize);
    int64_t frames = 0;
    bool sameSize = true;
    while (frames < kMaxWalkFrames) {
        uint32_t word = 0;
        TMpegHeader header;
        if (!reader.Word(at, word)) break;
        if (!TMpegHeader::Decode(word, header) || !SameStream(header, Header)) {
            // A broken stretch: the next header counts when the one after it
            // agrees too, as the decoder's own resync demands.
            int64_t found = -1;
            for (int64_t p = at + 1; p < at + kMaxResync && reader.Word(p, word); ++p) {
                if ((word >> 24) != 0xFF || !TMpegHeader::Decode(word, header) ||
                    !SameStream(header, Header))
                    continue;
                uint32_t next = 0;
                TMpegHeader second;
                const int64_t after = p + header.FrameSize;
                if (after + 4 <= audioEnd &&
                    !(reader.Word(after, next) && TMpegHeader::Decode(next, second) &&
                      SameStream(second, Header)))
                    continue;
                found = p;
                break;
            }
            if (found < 0) break;
            at = found;
            // The search read ahead; the header is read again where it was found.
            if (!reader.Word(at, word) || !TMpegHeader::Decode(word, header)) break;
        }
        // A cut last frame does not decode.
        if (at + header.FrameSize > audioEnd) break;
        if (frames % kMpegMarkStep == 0) marks->push_back(at - DataStart);
        if (header.Bitrate != Header.Bitrate) sameSize = false;
        MaxFrameSize = std::max(MaxFrameSize, header.FrameSize);
        ++frames;
        at += header.FrameSize;
    }
    if (frames >= kMaxWalkFrames && at > DataStart) {
        // Past the bound the rest is estimated from the average frame so far.
        const double average = double(at - DataStart) / double(frames);
        frames += int64_t(double(audioEnd - at) / average);
    }
    WalkedFrames = frames;
    // A constant bitrate without a header frame seeks by arithmetic, which is
    // exact already.
    if ((keepMarks || !sameSize || !VbrKind.empty()) && frames < kMaxWalkFrames)
        FrameMarks = std::move(marks);
}

bool TMpegInfo::Parse(TStream& stream, int64_t start, int64_t end, uint32_t bytesPerSecond,
                      bool walk) {
    *this = TMpegInfo{};
    const int64_t size = stream.GetSize();
    if (end < 0 || (size >= 0 && end > size)) end = size;
    if (end < 0) return false;
    int64_t position = start;

    // ID3v2 tags (some files carry more than one).
    for (int tag = 0; tag < 4; ++tag) {
        uint8_t id3[10];
        if (ReadAt(stream, position, id3, 10) < 10 || std::memcmp(id3, "ID3", 3) != 0) break;
        if ((id3[6] | id3[7] | id3[8] | id3[9]) & 0x80) break;
        int64_t tagSize =
            int64_t(id3[6]) << 21 | int64_t(id3[7]) << 14 | int64_t(id3[8]) << 7 | id3[9];
        tagSize += 10 + ((id3[5] & 0x10) ? 10 : 0);
        Id3v2Size += tagSize;
        position += tagSize;
    }
    if (position >= end) return false;

    // A trailing ID3v1 tag is no audio.
    int64_t audioEnd = end;
    if (end - position >= 128) {
        uint8_t tag[3];
        if (ReadAt(stream, end - 128, tag, 3) == 3 && std::memcmp(tag, "TAG", 3) == 0)
            audioEnd = end - 128;
    }

    // The sync scan looks through one bounded window; a candidate counts when the
    // frame after it starts with a matching header too (or the data ends there).
    const size_t window = size_t(std::min<int64_t>(audioEnd - position, kMaxSyncScan + 4));
    std::vector<uint8_t> bytes(window);
    const size_t got = ReadAt(stream, position, bytes.data(), window);
    bytes.resize(got);
    int64_t found = -1;
    for (size_t i = 0; i + 4 <= bytes.size(); ++i) {
        if (bytes[i] != 0xFF) continue;
        TMpegHeader header;
        if (!TMpegHeader::Decode(Be32(&bytes[i]), header)) continue;
        const int64_t next = position + int64_t(i) + header.FrameSize;
        if (next + 4 <= audioEnd) {
            uint8_t nextBytes[4];
            TMpegHeader second;
            if (ReadAt(stream, next, nextBytes, 4) < 4 ||
                !TMpegHeader::Decode(Be32(nextBytes), second) || second.Version != header.Version ||
                second.Layer != header.Layer || second.SampleRate != header.SampleRate)
                continue;
        } else if (next > audioEnd) {
            continue;
        }
        Header = header;
        found = position + int64_t(i);
        break;
    }
    if (found < 0) return false;
    DataStart = found;
    DataSize = audioEnd - found;
    MaxFrameSize = Header.FrameSize;

    // A VBR header sits in the first frame.
    std::vector<uint8_t> frame(size_t(Header.FrameSize));
    const size_t frameBytes = ReadAt(stream, found, frame.data(), frame.size());
    frame.resize(frameBytes);
    const size_t xing = size_t(Header.XingOffset());
    if (xing + 8 <= frame.size() &&
        (std::memcmp(&frame[xing], "Xing", 4) == 0 || std::memcmp(&frame[xing], "Info", 4) == 0)) {
        VbrKind.assign(reinterpret_cast<const char*>(&frame[xing]), 4);
        const uint32_t flags = Be32(&frame[xing + 4]);
        size_t at = xing + 8;
        if ((flags & 1) && at + 4 <= frame.size()) {
            VbrFrames = Be32(&frame[at]);
            at += 4;
        }
        if ((flags & 2) && at + 4 <= frame.size()) {
            VbrBytes = Be32(&frame[at]);
            at += 4;
        }
        if ((flags & 4) && at + 100 <= frame.size()) {
            std::memcpy(Toc.data(), &frame[at], 100);
            HasToc = true;
        }
        if (flags & 4) at += 100;
        if (flags & 8) at += 4;
        // The encoder's tag behind it records the delay and padding that
        // gapless playback cuts: 12 bits each, 21 bytes into the tag.
        if (at + 24 <= frame.size() &&
            (std::memcmp(&frame[at], "LAME", 4) == 0 || std::memcmp(&frame[at], "Lavc", 4) == 0 ||
             std::memcmp(&frame[at], "Lavf", 4) == 0)) {
            const uint8_t* delay = &frame[at + 21];
            EncoderDelay = delay[0] << 4 | delay[1] >> 4;
            EncoderPadding = (delay[1] & 0x0F) << 8 | delay[2];
        }
    } else if (36 + 18 <= frame.size() && std::memcmp(&frame[36], "VBRI", 4) == 0) {
        VbrKind = "VBRI";
        VbrBytes = Be32(&frame[36 + 10]);
        VbrFrames = Be32(&frame[36 + 14]);
    }
    // Absurd frame counts (more than the bytes could hold) are ignored.
    if (VbrFrames > DataSize) VbrFrames = 0;
    if (bytesPerSecond > 0 && bytesPerSecond <= 1000000) Header.Bitrate = int(bytesPerSecond * 8);

    // Without a frame count the length is only known by counting the frames:
    // a VBR stream's first bitrate says nothing about the rest.
    if (VbrFrames == 0 || walk) WalkFrames(stream, audioEnd, walk);
    if (!VbrKind.empty()) {
        // Frames of a VBR stream reach the largest size of the layer.
        TMpegHeader largest;
        const uint32_t word =
            (Be32(frame.data()) & ~0x0000F200u) | 0x0000E200u;  // bitrate index 14, padded
        if (TMpegHeader::Decode(word, largest))
            MaxFrameSize = std::max(MaxFrameSize, largest.FrameSize);
    }
    return true;
}

void TMpegInfo::Fill(TMediaInfo& info) const {
    info.MediaType = TMediaType::Mpeg;
    info.DataStart = DataStart;
    info.DataSize = DataSize;
    info.LengthMs = RoundMs(LengthMs());
    info.MaxFrameSize = MaxFrameSize;
    info.SamplesPerFrame = Header.SamplesPerFrame;
    info.FrameDurationMs = double(Header.SamplesPerFrame) / Header.SampleRate * 1000.0;
    info.Format =
        TWaveFormat::Pcm(uint32_t(Header.SampleRate), Header.ChannelMode == 3 ? 1 : 2, 16);
    info.Wrapped = !VbrKind.empty();
    info.HasToc = HasToc;
    info.Toc = Toc;
    info.Bitrate = Header.Bitrate;
    info.GaplessSkip = GaplessSkip();
    info.GaplessFrames = GaplessFrames();
    info.FrameMarks = FrameMarks;
    const double frames = double(Frames());
    const double length = frames * Header.SamplesPerFrame / Header.SampleRate * 1000.0;
    // A VBR stream seeks by its average bitrate when it has no table.
    if ((!VbrKind.empty() || FrameMarks) && length > 0)
        info.Bitrate = int(double(DataSize) * 8.0 / (length / 1000.0));
}

TMpegSeekPoint MpegSeekPoint(const TMediaInfo& info, double ms) {
    TMpegSeekPoint point;
    const double rate = info.Format.SamplesPerSec;
    if (!(ms > 0) || info.DataSize <= 0 || rate <= 0) return point;
    const double frameMs = info.FrameDurationMs > 0 ? info.FrameDurationMs : 26;
    const int64_t samplesPerFrame = info.SamplesPerFrame > 0 ? info.SamplesPerFrame : 1152;
    if (info.FrameMarks && !info.FrameMarks->empty()) {
        const auto& marks = *info.FrameMarks;
        const int64_t frame = int64_t(ms / frameMs);
        const size_t index =
            size_t(std::min<int64_t>(frame / kMpegMarkStep, int64_t(marks.size()) - 1));
        point.Offset = std::clamp<int64_t>(marks[index], 0, info.DataSize);
        point.Frame = int64_t(index) * kMpegMarkStep * samplesPerFrame;
        return point;
    }
    double offset = 0;
    if (info.HasToc && info.LengthMs > 0) {
        const double percent = std::clamp(ms / double(info.LengthMs) * 100.0, 0.0, 99.999);
        const int index = int(percent);
        const double a = info.Toc[size_t(index)];
        const double b = index < 99 ? info.Toc[size_t(index + 1)] : 256.0;
        offset = (a + (b - a) * (percent - index)) / 256.0 * double(info.DataSize);
        point.Frame = std::llround(ms * rate / 1000.0);
    } else {
        // Whole frames of a constant bitrate.
        const double start = std::floor(ms / frameMs) * frameMs;
        offset = start / 1000.0 * info.Bitrate / 8.0;
        point.Frame = std::llround(start / frameMs) * samplesPerFrame;
    }
    point.Offset = std::clamp<int64_t>(int64_t(offset), 0, info.DataSize);
    if (point.Offset == 0) point.Frame = 0;
    return point;
}

int64_t MpegSeekOffset(const TMediaInfo& info, double ms) {
    return MpegSeekPoint(info, ms).Offset;
}

std::optional<TMediaInfo> ReadMediaInfo(TStream& stream, const std::u16string& name) {
    const TSourceName source = SplitSourceName(name);
    uint8_t head[8];
    if (ReadAt(stream, 0, head, 8) < 8) return std::nullopt;
    TMediaInfo info;
    if (std::memcmp(head, "RIFF", 4) == 0) {
        bool refused = false;
        if (TRiffInfo::Parse(stream, info, &refused)) return info;
        if (refused) {
            GlobalLog().WriteLine("WAV \"" + ToUtf8(name) + "\" has an impossible format");
            return std::nullopt;
        }
    } else if (NameHasExtension(source.FileName, ".mp3") ||
               NameHasExtension(source.FileName, ".mp2") ||
               NameHasExtension(source.FileName, ".mp1")) {
        TMpegInfo mpeg;
        if (mpeg.Parse(stream)) {
            mpeg.Fill(info);
            return info;
        }
    }
    if (NameHasExtension(source.FileName, ".ogg") && ReadOggMediaInfo(stream, info)) return info;
    if (ReadFFmpegMediaInfo(stream, source.StreamIndex, info)) return info;
    return std::nullopt;
}

}  // namespace ql
