// Generated sounds for the decoder tests and the audio benchmark: sines, WAV
// files written by hand, and MP3 / Ogg Vorbis files made with the encoders
// (only when they were found at build time).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#ifdef ORB_HAVE_AUDIOENC
#include <lame/lame.h>
#include <vorbis/vorbisenc.h>
#endif

#include "QlLib/Music/MusicTypes.h"

namespace orbtest {

inline std::vector<int16_t> Sine(int rate, int channels, double seconds, double frequency,
                                 double amplitude = 12000) {
    const size_t frames = size_t(std::llround(rate * seconds));
    std::vector<int16_t> samples(frames * size_t(channels));
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[i * size_t(channels) + size_t(c)] =
                int16_t(std::lround(amplitude * std::sin(2 * M_PI * frequency * double(i) / rate)));
    return samples;
}

inline void PutLe(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(char((value >> (8 * i)) & 0xFF));
}

// A WAV file: "fmt " with the format and extension, optional chunks before
// "data", and the data bytes.
inline std::string WavFile(const ql::TWaveFormat& format, const std::string& data,
                           const std::vector<uint8_t>& extra = {},
                           const std::string& chunksBefore = {}) {
    std::string fmt;
    PutLe(fmt, format.FormatTag, 2);
    PutLe(fmt, format.Channels, 2);
    PutLe(fmt, format.SamplesPerSec, 4);
    PutLe(fmt, format.AvgBytesPerSec, 4);
    PutLe(fmt, format.BlockAlign, 2);
    PutLe(fmt, format.BitsPerSample, 2);
    if (!extra.empty() || format.FormatTag != ql::kWaveFormatPcm) {
        PutLe(fmt, uint32_t(extra.size()), 2);
        fmt.append(extra.begin(), extra.end());
    }
    std::string body = "WAVE";
    body += "fmt ";
    PutLe(body, uint32_t(fmt.size()), 4);
    body += fmt;
    if (fmt.size() & 1) body.push_back(0);
    body += chunksBefore;
    body += "data";
    PutLe(body, uint32_t(data.size()), 4);
    body += data;
    std::string file = "RIFF";
    PutLe(file, uint32_t(body.size()), 4);
    return file + body;
}

inline std::string Bytes(const std::vector<int16_t>& samples) {
    return std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
}

inline std::string PcmWav(const std::vector<int16_t>& samples, int rate, int channels) {
    return WavFile(ql::TWaveFormat::Pcm(uint32_t(rate), uint16_t(channels), 16), Bytes(samples));
}

// Frequency of the left channel of interleaved stereo by counting rising zero
// crossings; a crossing counts only after the wave went below -threshold, so
// quiet noise (an encoder's padding) adds none.
inline double ZeroCrossingFrequency(const std::vector<int16_t>& stereo, int rate,
                                    size_t skipFrames = 0, int threshold = 2000) {
    size_t crossings = 0;
    size_t first = 0, last = 0;
    bool armed = false;
    const size_t frames = stereo.size() / 2;
    for (size_t i = skipFrames; i < frames; ++i) {
        const int value = stereo[2 * i];
        if (value < -threshold) armed = true;
        if (armed && value >= 0) {
            armed = false;
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0;
    return double(crossings - 1) * rate / double(last - first);
}

#ifdef ORB_HAVE_AUDIOENC
// tag: write the Xing/Info frame with the encoder's delay and padding; older
// encoders and cut songs have none.
inline std::string EncodeMp3(const std::vector<int16_t>& samples, int rate, int channels,
                             int kbps = 128, bool vbr = false, bool tag = true) {
    lame_t lame = lame_init();
    lame_set_bWriteVbrTag(lame, tag ? 1 : 0);
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    if (vbr) {
        lame_set_VBR(lame, vbr_default);
        lame_set_VBR_quality(lame, 4);
    } else {
        lame_set_brate(lame, kbps);
    }
    lame_set_quality(lame, 5);
    lame_init_params(lame);
    const int frames = int(samples.size() / size_t(channels));
    std::vector<unsigned char> out(size_t(frames) * 5 / 4 + 7200 + 16384);
    std::vector<int16_t> copy(samples);
    int written = channels == 2 ? lame_encode_buffer_interleaved(lame, copy.data(), frames,
                                                                 out.data(), int(out.size()))
                                : lame_encode_buffer(lame, copy.data(), copy.data(), frames,
                                                     out.data(), int(out.size()));
    written += lame_encode_flush(lame, out.data() + written, int(out.size()) - written);
    std::string file(reinterpret_cast<char*>(out.data()), size_t(written));
    // The Xing/Info frame is written at the start of the stream once it is known.
    unsigned char frame[4096];
    const size_t tagSize = tag ? lame_get_lametag_frame(lame, frame, sizeof frame) : 0;
    if (tagSize > 0 && tagSize <= file.size()) std::memcpy(file.data(), frame, tagSize);
    lame_close(lame);
    return file;
}

inline std::string EncodeOgg(const std::vector<int16_t>& samples, int rate, int channels) {
    vorbis_info vi;
    vorbis_info_init(&vi);
    vorbis_encode_init_vbr(&vi, channels, rate, 0.4f);
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block vb;
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 1);
    std::string file;
    auto writePage = [&](const ogg_page& page) {
        file.append(reinterpret_cast<const char*>(page.header), size_t(page.header_len));
        file.append(reinterpret_cast<const char*>(page.body), size_t(page.body_len));
    };
    ogg_packet header, comment, code;
    vorbis_analysis_headerout(&vd, &vc, &header, &comment, &code);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comment);
    ogg_stream_packetin(&os, &code);
    ogg_page page;
    while (ogg_stream_flush(&os, &page)) writePage(page);
    const size_t frames = samples.size() / size_t(channels);
    const size_t chunk = 4096;
    for (size_t start = 0;; start += chunk) {
        const size_t count = start < frames ? std::min(chunk, frames - start) : 0;
        if (count == 0) {
            vorbis_analysis_wrote(&vd, 0);
        } else {
            float** buffer = vorbis_analysis_buffer(&vd, int(count));
            for (size_t i = 0; i < count; ++i)
                for (int c = 0; c < channels; ++c)
                    buffer[c][i] = samples[(start + i) * size_t(channels) + size_t(c)] / 32768.0f;
            vorbis_analysis_wrote(&vd, int(count));
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&vd, &packet)) {
                ogg_stream_packetin(&os, &packet);
                while (ogg_stream_pageout(&os, &page)) writePage(page);
            }
        }
        if (count == 0) break;
    }
    while (ogg_stream_flush(&os, &page)) writePage(page);
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return file;
}
#endif

}  // namespace orbtest
