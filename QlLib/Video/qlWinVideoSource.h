// A media file as a random-access source of frames: frame n by number, decoded
// by the cheapest route (the frame held, a few frames on, or a seek to the key
// frame at or before n), delivered as limited-range YUV 4:2:0 planes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "QlLib/Video/qlFFMpegDll.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// One decoded picture: limited-range 4:2:0 planes (chroma halved toward zero),
// or with GreyOnly a single plane of R5G6B5 grey pixels made from the luma.
struct TYuvImage {
    int32_t Width = 0;
    int32_t Height = 0;
    bool GreyOnly = false;
    bool Bt709 = false;      // the stream's matrix: BT.709 when set, else BT.601
    std::vector<uint8_t> Y;  // Width x Height
    std::vector<uint8_t> U;  // ChromaWidth() x ChromaHeight()
    std::vector<uint8_t> V;
    std::vector<uint16_t> Grey;  // Width x Height, with GreyOnly

    int32_t ChromaWidth() const { return Width / 2; }
    int32_t ChromaHeight() const { return Height / 2; }
    // Sizes the planes (keeping their storage when it is large enough).
    void Resize(int32_t width, int32_t height);
};

// Frames to decode and seeks made, counted over the source's life.
struct TFrameStats {
    int64_t Decoded = 0;
    int64_t Seeks = 0;
};

class TFrameSource {
public:
    virtual ~TFrameSource() = default;
    // Fills target with frame n; false (target untouched) when it cannot.
    virtual bool GetFrame(int64_t n, TYuvImage& target) = 0;
    virtual int64_t FrameCount() const = 0;
    virtual double FrameRate() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
};

// The rate a stream is played at, as num/den, and whether the stream's own
// rate was trusted as it stands.
struct TRateChoice {
    int32_t Num = 0;
    int32_t Den = 0;
    bool Trusted = false;
};

// The rate rules: the stream's rate is kept for codecs and containers whose
// rates are reliable; a rate near 23.976 or 29.97 becomes exactly NTSC; MPEG,
// FLV and transport streams fall back on the stream's base rate. Num 0 when
// there is no usable rate.
TRateChoice ChooseFrameRate(const TMediaFile& file, TContainerKind kind);

// round(duration x rate); -1 when the duration or the rate is missing or absurd
// (over a day, or over 2^31 frames).
int64_t FrameCountOf(int64_t durationUs, int32_t rateNum, int32_t rateDen);

// The frame shown at time ms: round(ms x rate / 1000), at least 0; at or past
// the count it wraps (frame(t) mod count) when looping, else stays on the last
// frame. 0 when the rate or the count is not positive.
int64_t FrameForTime(double ms, double rate, int64_t count, bool loop);

// "MPEG2", "MPEG4", "H264", "XVID" or "OTHER".
const char* CodecShortName(TVideoCodec codec);

// The luma table: each full-range value squeezed into 16..235 as an R5G6B5 grey.
std::array<uint16_t, 256> MakeLumaTable();

enum class TVideoFailure : int32_t {
    None = 0,
    Undecodable = 1,  // a video stream that cannot be played
    NoStream = 2,     // no video stream at all (an audio-only file among them)
};

class TWinVideoSource : public TFrameSource {
public:
    TWinVideoSource();
    ~TWinVideoSource() override;
    TWinVideoSource(const TWinVideoSource&) = delete;
    TWinVideoSource& operator=(const TWinVideoSource&) = delete;

    // Opens the stream; with ownStream the source frees it. The name is for
    // the log. Returns the failure code (None when frames can be asked for).
    TVideoFailure Open(TStream* stream, bool ownStream, const std::u16string& fileName,
                       const TDecoderLimits& limits = {});

    bool GetFrame(int64_t n, TYuvImage& target) override;
    // Frame n as 32-bit pixels in memory order B, G, R, A (A = 255), row y at
    // pixels[y x Width x 4]; false (pixels untouched) when it cannot.
    bool GetRGBFrame(int64_t n, std::vector<uint8_t>& pixels);

    int64_t FrameCount() const override { return m_frameCount; }
    double FrameRate() const override { return m_rate; }
    int32_t Width() const override { return m_width; }
    int32_t Height() const override { return m_height; }
    int32_t RateNum() const { return m_rateChoice.Num; }
    int32_t RateDen() const { return m_rateChoice.Den; }
    bool RateTrusted() const { return m_rateChoice.Trusted; }
    // frame count / rate, in ms
    double LengthMs() const;
    TContainerKind Container() const { return m_container; }
    const char* CodecName() const { return CodecShortName(m_info.Codec); }
    const TMediaFile& Info() const { return m_info; }

    // -1 for a time stamp that is "none" or without a time base.
    int64_t FrameOfPts(int64_t pts) const;
    int64_t PtsOfFrame(int64_t frame) const;

    // The number of the frame held (last delivered), -1 when none; the next
    // frame's number is the end of the range of numbers that the held frame
    // covers (a gap in the stream's time stamps makes it wider than one).
    int64_t HeldFrame() const;
    int64_t HeldEnd() const;
    const TFrameStats& Stats() const { return m_stats; }
    const std::array<uint16_t, 256>& LumaTable() const { return m_luma; }

private:
    struct TPicture;
    bool DecodeInto(TPicture& picture);
    bool StepTo(int64_t n);
    bool SeekTo(int64_t n);
    bool Prepare(int64_t n);
    bool CopyHeld(TYuvImage& target);

    std::unique_ptr<TStream> m_ownedStream;
    std::unique_ptr<TFFMpegFile> m_file;
    std::u16string m_fileName;
    TMediaFile m_info;
    TRateChoice m_rateChoice;
    TContainerKind m_container = TContainerKind::Other;
    int32_t m_width = 0;
    int32_t m_height = 0;
    double m_rate = 0;
    int64_t m_frameCount = 0;
    int64_t m_startPts = 0;
    std::unique_ptr<TPicture> m_held;
    std::unique_ptr<TPicture> m_ahead;
    bool m_atEnd = false;
    int64_t m_lastNumber = -1;
    TFrameStats m_stats;
    std::array<uint16_t, 256> m_luma{};
    struct TConverter;
    std::unique_ptr<TConverter> m_converter;
};

}  // namespace ql
