// Clips made for the video tests: every frame carries its own number as eight
// horizontal bars (bit 7 on top; a set bit is light, a clear one dark), bold
// enough to survive any encoder, so a test reads back which frame it got.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace ql::test {

struct TClipSpec {
    const char* Encoder = "mpeg4";  // "mpeg4", "libx264", "mpeg2video"
    const char* Muxer = "avi";      // "avi", "mp4", "matroska", "mpegts"
    int32_t Width = 160;
    int32_t Height = 96;
    int32_t Frames = 100;
    int32_t RateNum = 25;
    int32_t RateDen = 1;
    int32_t Gop = 25;
    int32_t BFrames = 0;
    int64_t OffsetUs = 0;  // the muxer's time offset: a start time other than 0
    // With an encoder ("mp2", "aac"): a 440 Hz stereo tone at 44100 Hz beside
    // the video, as long as it.
    const char* AudioEncoder = nullptr;
    // Interlaced, top field first: the top field (even rows) carries the
    // frame's number, the bottom field (odd rows) its complement (255 - n).
    bool Interlaced = false;
};

constexpr int kNumberBits = 8;

inline uint8_t BarLevel(int64_t number, int bit) {
    return ((number >> (kNumberBits - 1 - bit)) & 1) ? 200 : 40;
}

// The number the bars of a luma plane spell; -1 when a bar is neither light nor dark.
inline int64_t ReadFrameNumber(const uint8_t* luma, int32_t width, int32_t height,
                               ptrdiff_t stride) {
    const int32_t bar = height / kNumberBits;
    int64_t number = 0;
    for (int bit = 0; bit < kNumberBits; ++bit) {
        int64_t sum = 0, count = 0;
        for (int32_t y = bit * bar + bar / 4; y < (bit + 1) * bar - bar / 4; ++y)
            for (int32_t x = width / 8; x < width - width / 8; ++x) {
                sum += luma[y * stride + x];
                ++count;
            }
        const int64_t mean = count ? sum / count : 0;
        if (mean > 150)
            number |= int64_t(1) << (kNumberBits - 1 - bit);
        else if (mean > 90)
            return -1;
    }
    return number;
}

namespace detail {

inline bool Drain(AVCodecContext* codec, AVFormatContext* format, AVStream* stream,
                  AVPacket* packet) {
    for (;;) {
        const int got = avcodec_receive_packet(codec, packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
        if (got < 0) return false;
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        if (av_interleaved_write_frame(format, packet) < 0) return false;
    }
}

}  // namespace detail

// The clip's bytes; empty when the encoder or the muxer is missing.
inline std::vector<uint8_t> MakeNumberedClip(const TClipSpec& spec) {
    // The encoders' statistics are of no interest to a test.
    av_log_set_level(AV_LOG_ERROR);
    std::vector<uint8_t> bytes;
    const AVCodec* encoder = avcodec_find_encoder_by_name(spec.Encoder);
    if (!encoder) return bytes;
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, spec.Muxer, nullptr) < 0) return bytes;
    const int bufferSize = 65536;
    auto* buffer = static_cast<uint8_t*>(av_malloc(bufferSize));
    // Seekable, so that MP4 and Matroska write their indexes.
    struct TSink {
        std::vector<uint8_t> Data;
        int64_t Position = 0;
    } sink;
    auto write = [](void* opaque, uint8_t* data, int size) -> int {
        auto* s = static_cast<TSink*>(opaque);
        const size_t end = size_t(s->Position) + size_t(size);
        if (s->Data.size() < end) s->Data.resize(end);
        std::copy(data, data + size, s->Data.begin() + s->Position);
        s->Position = int64_t(end);
        return size;
    };
    auto seek = [](void* opaque, int64_t offset, int whence) -> int64_t {
        auto* s = static_cast<TSink*>(opaque);
        if (whence & AVSEEK_SIZE) return int64_t(s->Data.size());
        switch (whence) {
            case SEEK_SET:
                s->Position = offset;
                break;
            case SEEK_CUR:
                s->Position += offset;
                break;
            case SEEK_END:
                s->Position = int64_t(s->Data.size()) + offset;
                break;
            default:
                return -1;
        }
        return s->Position;
    };
    AVIOContext* io = avio_alloc_context(buffer, bufferSize, 1, &sink, nullptr, write, seek);
    format->pb = io;
    format->output_ts_offset = spec.OffsetUs;
    AVStream* stream = avformat_new_stream(format, nullptr);
    AVCodecContext* codec = avcodec_alloc_context3(encoder);
    codec->width = spec.Width;
    codec->height = spec.Height;
    codec->time_base = AVRational{spec.RateDen, spec.RateNum};
    codec->framerate = AVRational{spec.RateNum, spec.RateDen};
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->gop_size = spec.Gop;
    codec->max_b_frames = spec.BFrames;
    codec->thread_count = 1;
    if (spec.Interlaced) {
        codec->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        codec->field_order = AV_FIELD_TT;
    }
    if (format->oformat->flags & AVFMT_GLOBALHEADER) codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (std::string(spec.Encoder) == "libx264") {
        av_opt_set(codec->priv_data, "preset", "veryfast", 0);
        av_opt_set_int(codec->priv_data, "crf", 23, 0);
        av_opt_set(
            codec->priv_data, "x264-params",
            ("keyint=" + std::to_string(spec.Gop) + ":min-keyint=" + std::to_string(spec.Gop) +
             ":scenecut=0:bframes=" + std::to_string(spec.BFrames))
                .c_str(),
            0);
    } else {
        codec->bit_rate = 800000;
    }
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    bool ok = avcodec_open2(codec, encoder, nullptr) >= 0 &&
              avcodec_parameters_from_context(stream->codecpar, codec) >= 0;
    stream->time_base = codec->time_base;
    stream->avg_frame_rate = codec->framerate;
    AVCodecContext* audio = nullptr;
    AVStream* audioStream = nullptr;
    if (ok && spec.AudioEncoder) {
        const AVCodec* audioEncoder = avcodec_find_encoder_by_name(spec.AudioEncoder);
        ok = audioEncoder != nullptr;
        if (ok) {
            audioStream = avformat_new_stream(format, nullptr);
            audio = avcodec_alloc_context3(audioEncoder);
            audio->sample_rate = 44100;
            audio->sample_fmt =
                audioEncoder->sample_fmts ? audioEncoder->sample_fmts[0] : AV_SAMPLE_FMT_S16;
            av_channel_layout_default(&audio->ch_layout, 2);
            audio->bit_rate = 128000;
            audio->time_base = AVRational{1, 44100};
            if (format->oformat->flags & AVFMT_GLOBALHEADER)
                audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            ok = avcodec_open2(audio, audioEncoder, nullptr) >= 0 &&
                 avcodec_parameters_from_context(audioStream->codecpar, audio) >= 0;
            audioStream->time_base = audio->time_base;
        }
    }
    ok = ok && avformat_write_header(format, nullptr) >= 0;
    if (ok && audio) {
        // The whole tone first: the muxer interleaves it with the video.
        const int64_t total = int64_t(spec.Frames) * spec.RateDen * 44100 / spec.RateNum;
        const int frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
        AVFrame* tone = av_frame_alloc();
        AVPacket* audioPacket = av_packet_alloc();
        for (int64_t at = 0; ok && at < total; at += frameSize) {
            tone->format = audio->sample_fmt;
            tone->sample_rate = 44100;
            tone->nb_samples = frameSize;
            av_channel_layout_copy(&tone->ch_layout, &audio->ch_layout);
            ok = av_frame_get_buffer(tone, 0) >= 0;
            for (int i = 0; ok && i < frameSize; ++i) {
                const double value = 0.3 * std::sin(2 * M_PI * 440.0 * double(at + i) / 44100.0);
                for (int channel = 0; channel < 2; ++channel) {
                    if (audio->sample_fmt == AV_SAMPLE_FMT_S16)
                        reinterpret_cast<int16_t*>(tone->data[0])[2 * i + channel] =
                            int16_t(value * 32767);
                    else if (audio->sample_fmt == AV_SAMPLE_FMT_FLTP)
                        reinterpret_cast<float*>(tone->data[channel])[i] = float(value);
                }
            }
            tone->pts = at;
            ok = ok && avcodec_send_frame(audio, tone) >= 0 &&
                 detail::Drain(audio, format, audioStream, audioPacket);
            av_frame_unref(tone);
        }
        ok = ok && avcodec_send_frame(audio, nullptr) >= 0 &&
             detail::Drain(audio, format, audioStream, audioPacket);
        av_packet_free(&audioPacket);
        av_frame_free(&tone);
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = spec.Width;
    frame->height = spec.Height;
    ok = ok && av_frame_get_buffer(frame, 0) >= 0;
    for (int32_t n = 0; ok && n < spec.Frames; ++n) {
        ok = av_frame_make_writable(frame) >= 0;
        const int32_t bar = spec.Height / kNumberBits;
        for (int32_t y = 0; y < spec.Height; ++y) {
            const int bit = std::min(y / std::max(bar, 1), kNumberBits - 1);
            const int64_t shown = spec.Interlaced && (y & 1) ? 255 - n : n;
            std::fill_n(frame->data[0] + y * frame->linesize[0], spec.Width, BarLevel(shown, bit));
        }
        if (spec.Interlaced) {
            frame->interlaced_frame = 1;
            frame->top_field_first = 1;
        }
        for (int32_t y = 0; y < (spec.Height + 1) / 2; ++y) {
            std::fill_n(frame->data[1] + y * frame->linesize[1], (spec.Width + 1) / 2, 128);
            std::fill_n(frame->data[2] + y * frame->linesize[2], (spec.Width + 1) / 2, 128);
        }
        frame->pts = n;
        ok = ok && avcodec_send_frame(codec, frame) >= 0 &&
             detail::Drain(codec, format, stream, packet);
    }
    ok = ok && avcodec_send_frame(codec, nullptr) >= 0 &&
         detail::Drain(codec, format, stream, packet) && av_write_trailer(format) >= 0;
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avcodec_free_context(&audio);
    avio_flush(io);
    av_freep(&io->buffer);
    avio_context_free(&io);
    avformat_free_context(format);
    if (ok) bytes.swap(sink.Data);
    return bytes;
}

}  // namespace ql::test
