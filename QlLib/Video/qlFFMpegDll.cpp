#include "QlLib/Video/qlFFMpegDll.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cmath>

#include "QlLib/Platform/qlFFMpegInput.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

const char* const TFFMpegDll::kFormatWhitelist =
    "avi,matroska,webm,mov,mp4,m4a,3gp,3g2,mj2,mpeg,mpegvideo,flv,mpegts,asf,m4v,h264,"
    "wav,mp3,ogg";

namespace {

// Packets of other streams or undecodable packets read while looking for one
// frame before the stream counts as ended: a corrupt file ends, never spins.
constexpr int kMaxPacketsPerFrame = 4096;
// No single allocation of the libraries may exceed this; a hostile header
// cannot make them reserve gigabytes.
constexpr size_t kMaxAlloc = size_t(512) << 20;

TVideoCodec CodecOf(AVCodecID id) {
    switch (id) {
        case AV_CODEC_ID_MPEG2VIDEO:
            return TVideoCodec::Mpeg2;
        // Xvid and DivX streams are MPEG-4 part 2 whatever their tag says.
        case AV_CODEC_ID_MPEG4:
            return TVideoCodec::Mpeg4;
        case AV_CODEC_ID_MSMPEG4V1:
            return TVideoCodec::MsMpeg4v1;
        case AV_CODEC_ID_MSMPEG4V2:
            return TVideoCodec::MsMpeg4v2;
        case AV_CODEC_ID_MSMPEG4V3:
            return TVideoCodec::MsMpeg4v3;
        case AV_CODEC_ID_H264:
            return TVideoCodec::H264;
        case AV_CODEC_ID_MSVIDEO1:
            return TVideoCodec::MsVideo1;
        default:
            return TVideoCodec::Other;
    }
}

// 0 for square or unknown pixels, 1 for a 4:3 display, 2 for 16:9.
int32_t AspectCodeOf(const AVCodecParameters* p, AVRational sar) {
    if (sar.num <= 0 || sar.den <= 0 || p->width <= 0 || p->height <= 0) return 0;
    if (sar.num == sar.den) return 0;
    const double dar = double(p->width) * sar.num / (double(p->height) * sar.den);
    if (std::fabs(dar - 4.0 / 3.0) < 0.02) return 1;
    if (std::fabs(dar - 16.0 / 9.0) < 0.02) return 2;
    return 0;
}

int32_t InterlacingOf(AVFieldOrder order) {
    switch (order) {
        case AV_FIELD_TT:
        case AV_FIELD_TB:
            return 1;
        case AV_FIELD_BB:
        case AV_FIELD_BT:
            return 2;
        default:
            return 0;
    }
}

}  // namespace

TContainerKind ContainerKindOf(const std::string& formatName) {
    if (formatName == "avi") return TContainerKind::Avi;
    if (formatName == "matroska,webm") return TContainerKind::Matroska;
    if (formatName == "mov,mp4,m4a,3gp,3g2,mj2") return TContainerKind::Mov;
    if (formatName == "mpeg" || formatName == "mpegvideo") return TContainerKind::Mpeg;
    if (formatName == "flv") return TContainerKind::Flv;
    if (formatName == "mpegts") return TContainerKind::MpegTs;
    if (formatName == "asf") return TContainerKind::Asf;
    return TContainerKind::Other;
}

struct TFFMpegFile::TState {
    AVFormatContext* Format = nullptr;
    AVIOContext* Io = nullptr;
    AVCodecContext* Codec = nullptr;
    AVPacket* Packet = nullptr;
    bool Draining = false;

    ~TState() {
        av_packet_free(&Packet);
        avcodec_free_context(&Codec);
        CloseFFMpegInput(Format, Io);
    }
};

TFFMpegFile::TFFMpegFile() : m_state(std::make_unique<TState>()) {}

TFFMpegFile::~TFFMpegFile() = default;

bool TFFMpegFile::CanDecode() const {
    return m_state->Codec != nullptr;
}

bool TFFMpegFile::GetNextVideoFrame(AVFrame* frame, int64_t& pts) {
    TState& s = *m_state;
    if (!s.Codec) return false;
    for (int packets = 0; packets < kMaxPacketsPerFrame; ++packets) {
        const int received = avcodec_receive_frame(s.Codec, frame);
        if (received == 0) {
            pts = frame->best_effort_timestamp == AV_NOPTS_VALUE ? kNoPts
                                                                 : frame->best_effort_timestamp;
            m_lastError = 0;
            return true;
        }
        if (received == AVERROR_EOF) {
            m_lastError = AVERROR_EOF;
            return false;
        }
        if (received != AVERROR(EAGAIN)) {
            m_lastError = received;
            return false;
        }
        if (s.Draining) {
            m_lastError = AVERROR_EOF;
            return false;
        }
        const int read = av_read_frame(s.Format, s.Packet);
        if (read < 0) {
            avcodec_send_packet(s.Codec, nullptr);
            s.Draining = true;
            continue;
        }
        if (s.Packet->stream_index == m_info.VideoStream) {
            const bool early = m_skipBefore != kNoPts && s.Packet->pts != AV_NOPTS_VALUE &&
                               s.Packet->pts < m_skipBefore;
            s.Codec->skip_frame = early ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            // A corrupt packet is skipped; the decoder goes on with the next.
            avcodec_send_packet(s.Codec, s.Packet);
        }
        av_packet_unref(s.Packet);
    }
    m_lastError = AVERROR_INVALIDDATA;
    return false;
}

bool TFFMpegFile::SeekFile(int64_t timestamp) {
    TState& s = *m_state;
    if (!s.Codec) return false;
    const int result = av_seek_frame(s.Format, m_info.VideoStream, timestamp, AVSEEK_FLAG_BACKWARD);
    FlushVideo();
    return result >= 0;
}

bool TFFMpegFile::SeekToStart() {
    TState& s = *m_state;
    if (!s.Codec) return false;
    const TContainerKind kind = ContainerKindOf(m_info.FormatName);
    int result = -1;
    if (kind == TContainerKind::MpegTs || kind == TContainerKind::Mpeg)
        result = av_seek_frame(s.Format, -1, 0, AVSEEK_FLAG_BYTE);
    if (result < 0)
        result = av_seek_frame(s.Format, m_info.VideoStream,
                               m_info.StreamStartPts == kNoPts ? 0 : m_info.StreamStartPts,
                               AVSEEK_FLAG_BACKWARD);
    FlushVideo();
    return result >= 0;
}

void TFFMpegFile::FlushVideo() {
    TState& s = *m_state;
    if (s.Codec) avcodec_flush_buffers(s.Codec);
    s.Draining = false;
}

TFFMpegDll& TFFMpegDll::Instance() {
    static TFFMpegDll instance;
    return instance;
}

TFFMpegDll::TFFMpegDll() {
    av_max_alloc(kMaxAlloc);
    // A damaged clip makes the decoders complain for every packet; the
    // program logs what it needs itself.
    av_log_set_level(AV_LOG_FATAL);
}

void TFFMpegDll::NoteCarriedLibrary(const std::u16string& name) {
    GlobalLog().WriteLine("Video: the show's own media library " + ToUtf8(name) +
                          " is not loaded; the player's decoders are used");
}

std::unique_ptr<TFFMpegFile> TFFMpegDll::OpenMediaFile(TStream& stream,
                                                       const TDecoderLimits& limits) {
    std::lock_guard<std::mutex> lock(m_openLock);
    std::unique_ptr<TFFMpegFile> file(new TFFMpegFile());
    TFFMpegFile::TState& s = *file->m_state;
    TMediaFile& info = file->m_info;
    if (!OpenFFMpegInput(stream, kFormatWhitelist, s.Format, s.Io)) return nullptr;
    if (avformat_find_stream_info(s.Format, nullptr) < 0) return nullptr;
    info.FormatName = s.Format->iformat && s.Format->iformat->name ? s.Format->iformat->name : "";
    for (unsigned i = 0; i < s.Format->nb_streams; ++i) {
        const AVCodecParameters* p = s.Format->streams[i]->codecpar;
        if (p->codec_type == AVMEDIA_TYPE_AUDIO) info.HasAudio = true;
    }
    info.VideoStream = av_find_best_stream(s.Format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (info.VideoStream < 0) {
        info.VideoStream = -1;
        if (!info.HasAudio) return nullptr;
        return file;  // audio only: the caller reports it
    }
    for (unsigned i = 0; i < s.Format->nb_streams; ++i)
        if (int(i) != info.VideoStream) s.Format->streams[i]->discard = AVDISCARD_ALL;
    AVStream* video = s.Format->streams[info.VideoStream];
    const AVCodecParameters* p = video->codecpar;
    info.Codec = CodecOf(p->codec_id);
    info.Width = p->width;
    info.Height = p->height;
    info.PixelFormat = p->format;
    info.TimeBaseNum = video->time_base.num;
    info.TimeBaseDen = video->time_base.den;
    AVRational rate = video->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = video->r_frame_rate;
    info.RateNum = rate.num > 0 && rate.den > 0 ? rate.num : 0;
    info.RateDen = rate.num > 0 && rate.den > 0 ? rate.den : 0;
    if (video->r_frame_rate.num > 0 && video->r_frame_rate.den > 0) {
        info.StreamRateNum = video->r_frame_rate.num;
        info.StreamRateDen = video->r_frame_rate.den;
    }
    info.StreamStartPts = video->start_time == AV_NOPTS_VALUE ? kNoPts : video->start_time;
    if (video->start_time != AV_NOPTS_VALUE && video->time_base.num > 0 && video->time_base.den > 0)
        info.StartTimeUs =
            av_rescale_q(video->start_time, video->time_base, AVRational{1, 1000000});
    else if (s.Format->start_time != AV_NOPTS_VALUE)
        info.StartTimeUs = s.Format->start_time;
    if (video->duration != AV_NOPTS_VALUE && video->duration > 0 && video->time_base.num > 0 &&
        video->time_base.den > 0)
        info.DurationUs = av_rescale_q(video->duration, video->time_base, AVRational{1, 1000000});
    else if (s.Format->duration != AV_NOPTS_VALUE && s.Format->duration > 0)
        info.DurationUs = s.Format->duration;
    // Matroska's duration runs from the segment's time zero, not from the
    // first frame: a clip starting late is shorter by its start.
    if (ContainerKindOf(info.FormatName) == TContainerKind::Matroska &&
        (video->duration == AV_NOPTS_VALUE || video->duration <= 0) && info.DurationUs != kNoPts &&
        info.StartTimeUs != kNoPts && info.StartTimeUs > 0 && info.StartTimeUs < info.DurationUs)
        info.DurationUs -= info.StartTimeUs;
    info.AspectCode = AspectCodeOf(p, av_guess_sample_aspect_ratio(s.Format, video, nullptr));
    info.Interlacing = InterlacingOf(p->field_order);

    const AVCodec* codec = avcodec_find_decoder(p->codec_id);
    if (!codec || p->width <= 0 || p->height <= 0 || p->width > limits.MaxWidth ||
        p->height > limits.MaxHeight)
        return file;  // a stream that cannot be decoded: no codec context
    info.CodecName = codec->name;
    s.Codec = avcodec_alloc_context3(codec);
    if (!s.Codec || avcodec_parameters_to_context(s.Codec, p) < 0) {
        avcodec_free_context(&s.Codec);
        return file;
    }
    s.Codec->thread_count = std::clamp(limits.Threads, 1, 8);
    s.Codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    s.Codec->max_pixels = int64_t(limits.MaxWidth) * limits.MaxHeight;
    s.Codec->pkt_timebase = video->time_base;
    if (avcodec_open2(s.Codec, codec, nullptr) < 0) {
        avcodec_free_context(&s.Codec);
        return file;
    }
    // The stream's base rate counted in codec ticks, as the rate rules expect
    // it: 50 for 25 frames of H.264 (two ticks a frame).
    info.TicksPerFrame = std::clamp(s.Codec->ticks_per_frame, 1, 1000);
    if (info.StreamRateNum > 0 && info.StreamRateDen > 0 &&
        int64_t(info.StreamRateNum) * info.TicksPerFrame <= INT32_MAX)
        info.StreamRateNum *= info.TicksPerFrame;
    if (s.Codec->pix_fmt != AV_PIX_FMT_NONE) info.PixelFormat = s.Codec->pix_fmt;
    s.Packet = av_packet_alloc();
    if (!s.Packet) avcodec_free_context(&s.Codec);
    return file;
}

}  // namespace ql
