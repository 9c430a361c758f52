#include "QlLib/Music/FFMpegConverter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "QlLib/Platform/qlFFMpegInput.h"
#include "QlLib/qlLog.h"

namespace ql {

const char* const kFFmpegFormatWhitelist =
    "wav,w64,mp3,ogg,asf,flac,mov,mp4,m4a,3gp,3g2,mj2,aac,matroska,webm,aiff,au,ape,wv,tta,ac3,"
    "eac3,"
    "dts,mpc,mpc8,amr,caf,voc,avi,flv,"
    // The sound of video clips in transport and program streams.
    "mpegts,mpeg";

namespace {

// Packets read while looking for one of our stream before the source counts as ended.
constexpr int kMaxForeignPackets = 100000;

struct TInput {
    AVFormatContext* Format = nullptr;
    AVIOContext* Io = nullptr;
    AVCodecContext* Codec = nullptr;
    int StreamIndex = -1;

    ~TInput() {
        avcodec_free_context(&Codec);
        CloseFFMpegInput(Format, Io);
    }

    bool Open(TStream& stream, int audioIndex) {
        if (!OpenFFMpegInput(stream, kFFmpegFormatWhitelist, Format, Io)) return false;
        if (avformat_find_stream_info(Format, nullptr) < 0) return false;
        int seen = 0;
        for (unsigned i = 0; i < Format->nb_streams; ++i) {
            if (Format->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
            if (seen++ == audioIndex) StreamIndex = int(i);
        }
        if (StreamIndex < 0) {
            if (audioIndex != 0)
                GlobalLog().WriteLine("FFmpeg: no audio stream " + std::to_string(audioIndex) +
                                      ", the first is taken");
            StreamIndex = av_find_best_stream(Format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        }
        if (StreamIndex < 0) return false;
        for (unsigned i = 0; i < Format->nb_streams; ++i)
            if (int(i) != StreamIndex) Format->streams[i]->discard = AVDISCARD_ALL;
        const AVCodecParameters* parameters = Format->streams[StreamIndex]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        if (!codec) return false;
        Codec = avcodec_alloc_context3(codec);
        if (!Codec || avcodec_parameters_to_context(Codec, parameters) < 0) return false;
        Codec->thread_count = 1;
        if (avcodec_open2(Codec, codec, nullptr) < 0) return false;
        return Codec->sample_rate >= int(kMinSampleRate) &&
               Codec->sample_rate <= int(kMaxSampleRate) && Codec->ch_layout.nb_channels >= 1 &&
               Codec->ch_layout.nb_channels <= kMaxSourceChannels;
    }

    double DurationMs() const {
        const AVStream* stream = Format->streams[StreamIndex];
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            return double(stream->duration) * av_q2d(stream->time_base) * 1000.0;
        if (Format->duration != AV_NOPTS_VALUE && Format->duration > 0)
            return double(Format->duration) / 1000.0;
        return 0;
    }
};

TChannelLayout LayoutOf(const AVChannelLayout& layout) {
    TChannelLayout speakers;
    for (int i = 0; i < layout.nb_channels; ++i) {
        const AVChannel channel = av_channel_layout_channel_from_index(&layout, unsigned(i));
        // FFmpeg numbers its first speakers as WAV channel-mask bits.
        speakers.push_back(channel >= 0 && channel < 18 ? int8_t(channel) : int8_t(-1));
    }
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC) return LayoutFromMask(0, layout.nb_channels);
    return speakers;
}

}  // namespace

bool ReadFFmpegMediaInfo(TStream& stream, int audioIndex, TMediaInfo& info) {
    TInput input;
    if (!input.Open(stream, audioIndex)) return false;
    TMediaInfo result;
    result.MediaType = TMediaType::FFmpeg;
    // What the file holds, as its decoder gives it: the converter brings it to
    // the output format, but the information (and orbtool) shows the source.
    const AVCodecContext* codec = input.Codec;
    const AVSampleFormat packed = av_get_packed_sample_fmt(codec->sample_fmt);
    const bool isFloat = packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL;
    int bits = av_get_bytes_per_sample(packed) * 8;
    // 24-bit PCM decodes into 32-bit words; the raw size says what is stored.
    const int raw = codec->bits_per_raw_sample;
    if (!isFloat && (raw == 8 || raw == 16 || raw == 24) && raw < bits) bits = raw;
    result.Format =
        TWaveFormat::Pcm(uint32_t(codec->sample_rate), uint16_t(codec->ch_layout.nb_channels),
                         uint16_t(bits > 0 ? bits : 16), isFloat);
    if (codec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        result.ChannelMask = uint32_t(codec->ch_layout.u.mask);
    result.DataStart = 0;
    result.DataSize = std::max<int64_t>(stream.GetSize(), 0);
    result.LengthMs = std::llround(input.DurationMs());
    result.StreamIndex = audioIndex;
    info = result;
    return true;
}

struct TFFMpegConverter::TState {
    TInput Input;
    AVPacket* Packet = nullptr;
    AVFrame* Frame = nullptr;
    SwrContext* Swr = nullptr;
    std::vector<uint8_t> Pcm;
    bool Flushing = false;
    bool Done = false;

    ~TState() {
        swr_free(&Swr);
        av_frame_free(&Frame);
        av_packet_free(&Packet);
    }
};

TFFMpegConverter::TFFMpegConverter(TStream& stream)
    : TWavConverter(stream), m_state(std::make_unique<TState>()) {}

TFFMpegConverter::~TFFMpegConverter() = default;

bool TFFMpegConverter::Open(const TMediaInfo& info) {
    m_info = info;
    TState& s = *m_state;
    if (!s.Input.Open(m_stream, info.StreamIndex)) return false;
    s.Packet = av_packet_alloc();
    s.Frame = av_frame_alloc();
    if (!s.Packet || !s.Frame) return false;
    AVCodecContext* codec = s.Input.Codec;
    // Integer 16-bit sources stay exact; everything else goes through floats.
    const AVSampleFormat packed = av_get_packed_sample_fmt(codec->sample_fmt);
    const bool asShort = packed == AV_SAMPLE_FMT_S16;
    const AVSampleFormat target = asShort ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT;
    if (swr_alloc_set_opts2(&s.Swr, &codec->ch_layout, target, codec->sample_rate,
                            &codec->ch_layout, codec->sample_fmt, codec->sample_rate, 0,
                            nullptr) < 0 ||
        swr_init(s.Swr) < 0)
        return false;
    SetPcmFormat(
        TWaveFormat::Pcm(uint32_t(codec->sample_rate), uint16_t(codec->ch_layout.nb_channels),
                         asShort ? 16 : 32, !asShort),
        LayoutOf(codec->ch_layout));
    m_position = 0;
    return true;
}

void TFFMpegConverter::Seek(double ms) {
    ClearBuffers();
    TState& s = *m_state;
    ms = std::max(ms, 0.0);
    avcodec_flush_buffers(s.Input.Codec);
    const AVStream* stream = s.Input.Format->streams[s.Input.StreamIndex];
    const int64_t timestamp =
        av_rescale_q(int64_t(ms * 1000.0), AVRational{1, 1000000}, stream->time_base);
    av_seek_frame(s.Input.Format, s.Input.StreamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
    s.Flushing = false;
    s.Done = false;
    m_position = ms;
}

bool TFFMpegConverter::Decode() {
    TState& s = *m_state;
    if (s.Done) return false;
    for (int packets = 0; packets < kMaxForeignPackets; ++packets) {
        const int received = avcodec_receive_frame(s.Input.Codec, s.Frame);
        if (received == 0) {
            const int channels = s.Input.Codec->ch_layout.nb_channels;
            const int count = s.Frame->nb_samples;
            const size_t bytes = size_t(count) * size_t(m_pcmFormat.BlockAlign);
            if (s.Pcm.size() < bytes) s.Pcm.resize(bytes);
            uint8_t* out[1] = {s.Pcm.data()};
            const int converted =
                count > 0 && s.Frame->ch_layout.nb_channels == channels
                    ? swr_convert(s.Swr, out, count,
                                  const_cast<const uint8_t**>(s.Frame->extended_data), count)
                    : 0;
            av_frame_unref(s.Frame);
            if (converted > 0) EmitPcm(s.Pcm.data(), size_t(converted) * m_pcmFormat.BlockAlign);
            return true;
        }
        if (received == AVERROR_EOF) {
            s.Done = true;
            return false;
        }
        if (received != AVERROR(EAGAIN)) {
            s.Done = true;
            return false;
        }
        if (s.Flushing) {
            s.Done = true;
            return false;
        }
        const int read = av_read_frame(s.Input.Format, s.Packet);
        if (read < 0) {
            avcodec_send_packet(s.Input.Codec, nullptr);
            s.Flushing = true;
            continue;
        }
        if (s.Packet->stream_index == s.Input.StreamIndex) {
            const int sent = avcodec_send_packet(s.Input.Codec, s.Packet);
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA)
                GlobalLog().WriteLine("FFmpeg: a packet could not be decoded");
        }
        av_packet_unref(s.Packet);
    }
    s.Done = true;
    return false;
}

}  // namespace ql
