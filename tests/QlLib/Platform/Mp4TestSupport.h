// Reading written MP4 files back through the FFmpeg libraries: stream layout,
// colour tags, timing, and the decoded frames as RGB for comparisons.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "GlTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace ql::test {

struct TMp4Stream {
    bool Present = false;
    std::string Codec;
    int64_t Packets = 0;
    double Start = std::numeric_limits<double>::infinity();  // seconds, first presented
    double End = 0;                                          // seconds, last pts + duration
};

struct TMp4Info {
    std::string Error;  // empty when the file opened and decoded
    TMp4Stream Video, Audio;
    int32_t Width = 0, Height = 0;
    AVColorSpace ColorSpace = AVCOL_SPC_UNSPECIFIED;
    AVColorPrimaries Primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic Transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorRange Range = AVCOL_RANGE_UNSPECIFIED;
    int32_t SampleRate = 0, Channels = 0;
    int64_t DecodedFrames = 0;
    std::vector<std::vector<uint8_t>> Rgb;  // RGB24 of each decoded frame when asked for
};

// 8-bit RGB from 4:2:0 planes: full range BT.601 (JPEG) or the range and
// matrix given; both sides of a comparison go through the same conversion.
inline std::vector<uint8_t> Yuv420ToRgb(const uint8_t* const planes[3], const int strides[3],
                                        int32_t width, int32_t height, bool fullRange601,
                                        bool bt709) {
    SwsContext* sws = sws_getContext(
        width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_RGB24,
        SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    const int* matrix = sws_getCoefficients(bt709 ? SWS_CS_ITU709 : SWS_CS_ITU601);
    sws_setColorspaceDetails(sws, matrix, fullRange601 ? 1 : 0, matrix, 1, 0, 1 << 16, 1 << 16);
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    uint8_t* dst[1] = {rgb.data()};
    const int dstStride[1] = {width * 3};
    sws_scale(sws, planes, strides, 0, height, dst, dstStride);
    sws_freeContext(sws);
    return rgb;
}

inline TMp4Info ReadMp4(const std::string& path, bool keepRgb) {
    TMp4Info info;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        info.Error = "cannot open " + path;
        return info;
    }
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int videoIndex = -1;
    auto fail = [&](const std::string& error) {
        if (info.Error.empty()) info.Error = error;
    };
    if (avformat_find_stream_info(format, nullptr) < 0) fail("no stream info");
    for (unsigned i = 0; i < format->nb_streams && info.Error.empty(); ++i) {
        const AVCodecParameters* par = format->streams[i]->codecpar;
        TMp4Stream& s = par->codec_type == AVMEDIA_TYPE_VIDEO ? info.Video : info.Audio;
        if (s.Present) fail("two streams of one kind");
        s.Present = true;
        s.Codec = avcodec_get_name(par->codec_id);
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            videoIndex = int(i);
            info.Width = par->width;
            info.Height = par->height;
            info.ColorSpace = par->color_space;
            info.Primaries = par->color_primaries;
            info.Transfer = par->color_trc;
            info.Range = par->color_range;
            const AVCodec* codec = avcodec_find_decoder(par->codec_id);
            decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
            if (!decoder || avcodec_parameters_to_context(decoder, par) < 0 ||
                avcodec_open2(decoder, codec, nullptr) < 0)
                fail("no video decoder");
        } else {
            info.SampleRate = par->sample_rate;
            info.Channels = par->ch_layout.nb_channels;
        }
    }
    auto receive = [&] {
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            ++info.DecodedFrames;
            if (keepRgb) {
                const uint8_t* planes[3] = {frame->data[0], frame->data[1], frame->data[2]};
                const int strides[3] = {frame->linesize[0], frame->linesize[1], frame->linesize[2]};
                info.Rgb.push_back(Yuv420ToRgb(planes, strides, frame->width, frame->height, false,
                                               frame->colorspace == AVCOL_SPC_BT709));
            }
            av_frame_unref(frame);
        }
    };
    while (info.Error.empty() && av_read_frame(format, packet) >= 0) {
        const AVStream* stream = format->streams[packet->stream_index];
        TMp4Stream& s = packet->stream_index == videoIndex ? info.Video : info.Audio;
        ++s.Packets;
        // Packets the edit list trims away (the encoder's priming) have
        // times before 0 and are not presented.
        const double tb = av_q2d(stream->time_base);
        if (packet->pts != AV_NOPTS_VALUE) {
            const double start = double(packet->pts) * tb;
            const double end = double(packet->pts + packet->duration) * tb;
            if (end > 0) s.Start = std::min(s.Start, std::max(0.0, start));
            s.End = std::max(s.End, end);
        }
        if (packet->stream_index == videoIndex) {
            if (avcodec_send_packet(decoder, packet) < 0) fail("undecodable video");
            receive();
        }
        av_packet_unref(packet);
    }
    if (decoder && info.Error.empty()) {
        avcodec_send_packet(decoder, nullptr);
        receive();
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return info;
}

}  // namespace ql::test
