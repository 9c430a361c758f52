#include "QlLib/Video/qlWinVideoSource.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

constexpr double kNtsc24 = 24000.0 / 1001.0;
constexpr double kNtsc30 = 30000.0 / 1001.0;
constexpr double kNtscTolerance = 0.001;
// Requests this many frames ahead of the held one or more seek instead of
// decoding on.
constexpr int64_t kDecodeOnLimit = 30;
// A request never decodes more than this many frames: a stream whose time
// stamps never reach the wanted number gives up instead of decoding forever.
constexpr int kMaxDecodesPerRequest = 20000;
// Seeks tried, each further back, when the demuxer lands after the wanted frame.
constexpr int kSeekTries = 5;
constexpr int64_t kMaxDurationUs = int64_t(24) * 3600 * 1000000;

bool Near(double a, double b) {
    return std::fabs(a - b) < kNtscTolerance;
}

double RateOf(int32_t num, int32_t den) {
    return num > 0 && den > 0 ? double(num) / double(den) : 0.0;
}

}  // namespace

void TYuvImage::Resize(int32_t width, int32_t height) {
    Width = std::max(width, 0);
    Height = std::max(height, 0);
    const size_t luma = size_t(Width) * size_t(Height);
    const size_t chroma = size_t(ChromaWidth()) * size_t(ChromaHeight());
    if (GreyOnly) {
        Grey.resize(luma);
        Y.clear();
        U.clear();
        V.clear();
    } else {
        Y.resize(luma);
        U.resize(chroma);
        V.resize(chroma);
        Grey.clear();
    }
}

TRateChoice ChooseFrameRate(const TMediaFile& file, TContainerKind kind) {
    TRateChoice choice{file.RateNum, file.RateDen, false};
    const double rate = RateOf(file.RateNum, file.RateDen);
    const int32_t ticks = std::max(file.TicksPerFrame, 1);
    const double streamRate = RateOf(file.StreamRateNum, file.StreamRateDen);
    const TVideoCodec codec = file.Codec;
    if (codec != TVideoCodec::Mpeg2 &&
        (rate > 100 || codec == TVideoCodec::MsMpeg4v1 || codec == TVideoCodec::MsMpeg4v2 ||
         codec == TVideoCodec::MsMpeg4v3 || codec == TVideoCodec::MsVideo1))
        choice.Trusted = true;
    if (kind == TContainerKind::Avi && codec == TVideoCodec::Mpeg4) choice.Trusted = true;
    if (kind == TContainerKind::MpegTs && streamRate >= 50 && codec == TVideoCodec::H264)
        choice.Trusted = true;
    if (choice.Trusted && rate > 0) return choice;
    choice.Trusted = false;
    if (Near(rate, kNtsc24) || Near(rate, kNtsc30)) return choice;
    const double perFrame = streamRate / ticks;
    if (Near(perFrame, kNtsc24)) return {24000, 1001, false};
    if (Near(perFrame, kNtsc30)) return {30000, 1001, false};
    const bool mpegLike = kind == TContainerKind::Mpeg || kind == TContainerKind::Flv ||
                          kind == TContainerKind::MpegTs;
    if (mpegLike && streamRate > 0 && perFrame <= 130 &&
        int64_t(file.StreamRateDen) * ticks <= INT32_MAX)
        return {file.StreamRateNum, file.StreamRateDen * ticks, false};
    if (rate <= 0) return {0, 0, false};
    return choice;
}

int64_t FrameCountOf(int64_t durationUs, int32_t rateNum, int32_t rateDen) {
    if (durationUs == kNoPts || durationUs <= 0 || durationUs > kMaxDurationUs) return -1;
    if (rateNum <= 0 || rateDen <= 0) return -1;
    const long double count = std::roundl((long double)durationUs / rateDen * rateNum / 1000000.0L);
    if (count > INT32_MAX) return -1;
    return int64_t(count);
}

int64_t FrameForTime(double ms, double rate, int64_t count, bool loop) {
    if (!(rate > 0) || count <= 0 || !(ms > 0)) return 0;
    const double frame = std::round(ms * rate / 1000.0);
    // Beyond 2^62 frames the wrap is meaningless; such a time is the last frame.
    if (!(frame < 4.0e18)) return loop ? 0 : count - 1;
    const auto n = int64_t(frame);
    if (n < count) return n;
    return loop ? n % count : count - 1;
}

const char* CodecShortName(TVideoCodec codec) {
    switch (codec) {
        case TVideoCodec::Mpeg2:
            return "MPEG2";
        case TVideoCodec::Mpeg4:
            return "MPEG4";
        case TVideoCodec::H264:
            return "H264";
        case TVideoCodec::Xvid:
            return "XVID";
        default:
            return "OTHER";
    }
}

std::array<uint16_t, 256> MakeLumaTable() {
    std::array<uint16_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        const int e = int(std::lround(v * 0.8588235294117647 + 16));
        const int red = e / 8, green = e / 4, blue = e / 8;
        table[size_t(v)] = uint16_t((red << 11) | (green << 5) | blue);
    }
    return table;
}

struct TWinVideoSource::TPicture {
    AVFrame* Frame = av_frame_alloc();
    int64_t Number = -1;
    bool Valid = false;
    ~TPicture() { av_frame_free(&Frame); }
    void Clear() {
        av_frame_unref(Frame);
        Number = -1;
        Valid = false;
    }
};

// Brings decoded frames of any pixel format, range or matrix to
// limited-range 4:2:0, and to 32-bit RGB for tools.
struct TWinVideoSource::TConverter {
    SwsContext* Yuv = nullptr;
    SwsContext* Rgb = nullptr;
    uint8_t* Planes[4] = {};
    int Strides[4] = {};
    int PlanesWidth = 0, PlanesHeight = 0;

    ~TConverter() {
        sws_freeContext(Yuv);
        sws_freeContext(Rgb);
        av_freep(&Planes[0]);
    }

    static bool FullRange(const AVFrame* f) {
        const auto format = AVPixelFormat(f->format);
        return f->color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
               format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P;
    }

    static int MatrixOf(const AVFrame* f) {
        switch (f->colorspace) {
            case AVCOL_SPC_BT709:
                return SWS_CS_ITU709;
            case AVCOL_SPC_FCC:
                return SWS_CS_FCC;
            case AVCOL_SPC_SMPTE240M:
                return SWS_CS_SMPTE240M;
            case AVCOL_SPC_BT2020_NCL:
            case AVCOL_SPC_BT2020_CL:
                return SWS_CS_BT2020;
            default:
                return SWS_CS_ITU601;
        }
    }

    // Converts the first `height` rows of the frame into Planes.
    bool ToYuv(const AVFrame* f, int width, int height) {
        Yuv = sws_getCachedContext(Yuv, width, height, AVPixelFormat(f->format), width, height,
                                   AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr,
                                   nullptr, nullptr);
        if (!Yuv) return false;
        if (PlanesWidth != width || PlanesHeight != height) {
            av_freep(&Planes[0]);
            if (av_image_alloc(Planes, Strides, width, height, AV_PIX_FMT_YUV420P, 32) < 0)
                return false;
            PlanesWidth = width;
            PlanesHeight = height;
        }
        // The matrix stays the stream's (the image says which); only the
        // range is squeezed.
        const int* matrix = sws_getCoefficients(MatrixOf(f));
        sws_setColorspaceDetails(Yuv, matrix, FullRange(f) ? 1 : 0, matrix, 0, 0, 1 << 16, 1 << 16);
        return sws_scale(Yuv, f->data, f->linesize, 0, height, Planes, Strides) == height;
    }

    bool ToRgb(const AVFrame* f, int width, int height, uint8_t* out) {
        Rgb = sws_getCachedContext(Rgb, width, height, AVPixelFormat(f->format), width, height,
                                   AV_PIX_FMT_BGRA, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr,
                                   nullptr, nullptr);
        if (!Rgb) return false;
        const int* matrix = sws_getCoefficients(MatrixOf(f));
        sws_setColorspaceDetails(Rgb, matrix, FullRange(f) ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        uint8_t* planes[4] = {out, nullptr, nullptr, nullptr};
        int strides[4] = {width * 4, 0, 0, 0};
        return sws_scale(Rgb, f->data, f->linesize, 0, height, planes, strides) == height;
    }
};

TWinVideoSource::TWinVideoSource()
    : m_held(std::make_unique<TPicture>()),
      m_ahead(std::make_unique<TPicture>()),
      m_luma(MakeLumaTable()),
      m_converter(std::make_unique<TConverter>()) {}

TWinVideoSource::~TWinVideoSource() {
    m_held.reset();
    m_ahead.reset();
    m_file.reset();  // before the stream it reads
}

TVideoFailure TWinVideoSource::Open(TStream* stream, bool ownStream, const std::u16string& fileName,
                                    const TDecoderLimits& limits) {
    if (ownStream) m_ownedStream.reset(stream);
    m_fileName = fileName;
    if (!stream) return TVideoFailure::NoStream;
    m_file = TFFMpegDll::Instance().OpenMediaFile(*stream, limits);
    if (!m_file) return TVideoFailure::NoStream;
    m_info = m_file->Info();
    if (m_info.VideoStream < 0) return TVideoFailure::NoStream;
    m_container = ContainerKindOf(m_info.FormatName);
    m_width = m_info.Width;
    // Coded 1080-line video reports the 1088 rows of its macroblocks.
    m_height = m_info.Height == 1088 ? 1080 : m_info.Height;
    m_rateChoice = ChooseFrameRate(m_info, m_container);
    m_rate = RateOf(m_rateChoice.Num, m_rateChoice.Den);
    m_frameCount = FrameCountOf(m_info.DurationUs, m_rateChoice.Num, m_rateChoice.Den);
    m_startPts = m_info.StreamStartPts == kNoPts ? 0 : m_info.StreamStartPts;
    if (!m_file->CanDecode() || m_rate <= 0 || m_frameCount <= 0 || m_info.TimeBaseNum <= 0 ||
        m_info.TimeBaseDen <= 0 || m_width <= 0 || m_height <= 0) {
        m_frameCount = std::max<int64_t>(m_frameCount, 0);
        m_file.reset();
        return TVideoFailure::Undecodable;
    }
    return TVideoFailure::None;
}

double TWinVideoSource::LengthMs() const {
    return m_rate > 0 ? double(m_frameCount) / m_rate * 1000.0 : 0.0;
}

int64_t TWinVideoSource::FrameOfPts(int64_t pts) const {
    if (pts == kNoPts || m_info.TimeBaseDen <= 0 || m_info.TimeBaseNum <= 0 ||
        m_rateChoice.Num <= 0 || m_rateChoice.Den <= 0)
        return -1;
    const long double seconds =
        (long double)(pts - m_startPts) * m_info.TimeBaseNum / m_info.TimeBaseDen;
    const long double frame = std::roundl(seconds * m_rateChoice.Num / m_rateChoice.Den);
    if (frame > INT32_MAX || frame < INT32_MIN) return -1;
    return int64_t(frame);
}

int64_t TWinVideoSource::PtsOfFrame(int64_t frame) const {
    if (m_info.TimeBaseDen <= 0 || m_info.TimeBaseNum <= 0 || m_rateChoice.Num <= 0 ||
        m_rateChoice.Den <= 0)
        return m_startPts;
    const long double seconds = (long double)frame * m_rateChoice.Den / m_rateChoice.Num;
    return m_startPts + int64_t(std::roundl(seconds * m_info.TimeBaseDen / m_info.TimeBaseNum));
}

int64_t TWinVideoSource::HeldFrame() const {
    return m_held->Valid ? m_held->Number : -1;
}

int64_t TWinVideoSource::HeldEnd() const {
    if (!m_held->Valid) return -1;
    if (m_ahead->Valid) return m_ahead->Number;
    return m_atEnd ? std::max(m_frameCount, m_held->Number + 1) : m_held->Number + 1;
}

bool TWinVideoSource::DecodeInto(TPicture& picture) {
    picture.Clear();
    int64_t pts = kNoPts;
    if (!m_file->GetNextVideoFrame(picture.Frame, pts)) return false;
    ++m_stats.Decoded;
    int64_t number = FrameOfPts(pts);
    // A frame without a time stamp follows the one before it.
    if (number < 0) number = m_lastNumber + 1;
    m_lastNumber = number;
    picture.Number = number;
    picture.Valid = true;
    return true;
}

// Decodes on until the held frame is the last one at or before n.
bool TWinVideoSource::StepTo(int64_t n) {
    // Frames showing half a frame before n - 1 or earlier can be neither n
    // nor the frame that stands for n across a one-frame gap in the stamps.
    if (n > 1) {
        const int64_t before = PtsOfFrame(n - 1);
        m_file->SkipUnreferencedBefore(before - (PtsOfFrame(n) - before) / 2);
    } else {
        m_file->SkipUnreferencedBefore(kNoPts);
    }
    for (int decodes = 0; decodes < kMaxDecodesPerRequest; ++decodes) {
        if (!m_ahead->Valid) {
            if (m_atEnd || !DecodeInto(*m_ahead)) {
                m_atEnd = true;
                return m_held->Valid;
            }
        }
        if (m_ahead->Number > n) return m_held->Valid;
        std::swap(m_held, m_ahead);
        m_ahead->Clear();
        if (m_held->Number == n) return true;
    }
    return m_held->Valid;
}

bool TWinVideoSource::SeekTo(int64_t n) {
    int64_t target = n;
    for (int attempt = 0; attempt < kSeekTries; ++attempt) {
        // Each retry starts further back; the last one (or one that would
        // start at 0 anyway) from the file's start.
        const bool fromStart = attempt + 1 == kSeekTries || target <= 0;
        m_held->Clear();
        m_ahead->Clear();
        m_atEnd = false;
        m_lastNumber = fromStart ? -1 : target - 1;
        ++m_stats.Seeks;
        const bool positioned =
            fromStart ? m_file->SeekToStart() : m_file->SeekFile(PtsOfFrame(target));
        if (positioned || fromStart) {
            StepTo(n);
            if (m_held->Valid) return true;
        }
        if (fromStart) {
            // The file's first frame comes after n: that frame stands for n.
            if (!m_ahead->Valid) return false;
            std::swap(m_held, m_ahead);
            m_ahead->Clear();
            return true;
        }
        target = n - (int64_t(std::ceil(m_rate)) << attempt);
    }
    return false;
}

bool TWinVideoSource::Prepare(int64_t n) {
    if (m_held->Valid && m_held->Number <= n) {
        if (m_held->Number == n) return true;
        if (m_ahead->Valid && n < m_ahead->Number) return true;
        if (!m_ahead->Valid && m_atEnd) return true;
        if (n < m_held->Number + kDecodeOnLimit) {
            StepTo(n);
            if (m_held->Number == n || m_atEnd || (m_ahead->Valid && n < m_ahead->Number))
                return true;
        }
    }
    return SeekTo(n);
}

bool TWinVideoSource::CopyHeld(TYuvImage& target) {
    const AVFrame* f = m_held->Frame;
    if (!f->data[0] || f->width < m_width || f->height < m_height) {
        GlobalLog().WriteLine("YUV data not found");
        return false;
    }
    const uint8_t* planes[3] = {f->data[0], f->data[1], f->data[2]};
    int strides[3] = {f->linesize[0], f->linesize[1], f->linesize[2]};
    const bool direct = f->format == AV_PIX_FMT_YUV420P && !TConverter::FullRange(f);
    if (!direct) {
        if (!m_converter->ToYuv(f, m_width, m_height)) {
            GlobalLog().WriteLine("YUV data not found");
            return false;
        }
        for (int i = 0; i < 3; ++i) {
            planes[i] = m_converter->Planes[i];
            strides[i] = m_converter->Strides[i];
        }
    }
    target.Bt709 = f->colorspace == AVCOL_SPC_BT709;
    target.Resize(m_width, m_height);
    if (target.GreyOnly) {
        for (int32_t y = 0; y < m_height; ++y) {
            const uint8_t* row = planes[0] + ptrdiff_t(y) * strides[0];
            uint16_t* out = target.Grey.data() + size_t(y) * size_t(m_width);
            for (int32_t x = 0; x < m_width; ++x) out[x] = m_luma[row[x]];
        }
        return true;
    }
    for (int32_t y = 0; y < m_height; ++y)
        std::memcpy(target.Y.data() + size_t(y) * size_t(m_width),
                    planes[0] + ptrdiff_t(y) * strides[0], size_t(m_width));
    const int32_t cw = target.ChromaWidth(), ch = target.ChromaHeight();
    for (int32_t y = 0; y < ch; ++y) {
        std::memcpy(target.U.data() + size_t(y) * size_t(cw), planes[1] + ptrdiff_t(y) * strides[1],
                    size_t(cw));
        std::memcpy(target.V.data() + size_t(y) * size_t(cw), planes[2] + ptrdiff_t(y) * strides[2],
                    size_t(cw));
    }
    return true;
}

bool TWinVideoSource::GetFrame(int64_t n, TYuvImage& target) {
    if (!m_file) return false;
    n = std::max<int64_t>(n, 0);
    if (!Prepare(n)) {
        GlobalLog().WriteLine("GetFrame " + std::to_string(n) + " of file " + ToUtf8(m_fileName) +
                              " Error= " + std::to_string(m_file->LastError()));
        return false;
    }
    return CopyHeld(target);
}

bool TWinVideoSource::GetRGBFrame(int64_t n, std::vector<uint8_t>& pixels) {
    if (!m_file) return false;
    n = std::max<int64_t>(n, 0);
    if (!Prepare(n)) {
        GlobalLog().WriteLine("GetFrame24 Error");
        return false;
    }
    if (!m_held->Frame->data[0]) {
        GlobalLog().WriteLine("RGB data not found");
        return false;
    }
    std::vector<uint8_t> out(size_t(m_width) * size_t(m_height) * 4);
    if (!m_converter->ToRgb(m_held->Frame, m_width, m_height, out.data())) {
        GlobalLog().WriteLine("GetFrame24 Error");
        return false;
    }
    pixels.swap(out);
    return true;
}

}  // namespace ql
