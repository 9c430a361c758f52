#include "QlLib/Platform/qlVideoEncoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "QlLib/qpExceptions.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace ql {

namespace {

constexpr int32_t kSampleRate = 44100;
// x264's output depends on its thread count (frame threads change what the
// rate control sees), so the count is fixed rather than taken from the
// machine: the same show gives the same bytes everywhere.
constexpr int kVideoThreads = 4;
constexpr char kVideoEncoder[] = "libx264";

// The libraries print to stderr by default; their last error line is kept
// instead and added to the one-line message the caller reports.
std::mutex g_logMutex;
std::string g_lastLibraryError;

void LibraryLog(void* avcl, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_lastLibraryError = text;
}

void QuietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(LibraryLog); });
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_lastLibraryError.clear();
}

std::string Reason(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    std::string reason = text;
    std::lock_guard<std::mutex> lock(g_logMutex);
    if (!g_lastLibraryError.empty()) reason += " (" + g_lastLibraryError + ")";
    return reason;
}

[[noreturn]] void Throw(const std::string& what, int code) {
    throw EStreamWriteError(what + ": " + Reason(code));
}

struct TCodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using TCodecPtr = std::unique_ptr<AVCodecContext, TCodecDeleter>;
struct TFrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;
struct TPacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;

bool Bt709(int32_t height) {
    return height >= 720;
}

// x264 prints its own complaint about an unknown preset straight to stderr,
// past the libraries' log, so names it does not know are refused here first,
// in one line that names the good ones. Its list is a static array in its
// header (not exported), and has not changed in years.
const char* const kX264Presets[] = {"ultrafast", "superfast", "veryfast", "faster",   "fast",
                                    "medium",    "slow",      "slower",   "veryslow", "placebo"};

std::string UnknownPreset(const std::string& preset) {
    std::string known;
    for (const char* name : kX264Presets) {
        if (preset == name) return {};
        known += (known.empty() ? "" : ", ") + std::string(name);
    }
    return "the H.264 encoder has no preset '" + preset + "' (" + known + ")";
}

// The video encoder configured for the options; an error text when the
// library refuses them (nothing is opened then).
TCodecPtr OpenVideo(const TVideoEncoderOptions& o, bool globalHeader, std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name(kVideoEncoder);
    if (!codec) {
        error = "this system's libavcodec has no H.264 encoder (libx264)";
        return nullptr;
    }
    TCodecPtr c(avcodec_alloc_context3(codec));
    if (!c) {
        error = "out of memory";
        return nullptr;
    }
    c->width = o.Width;
    c->height = o.Height;
    c->time_base = AVRational{1, o.Fps};
    c->framerate = AVRational{o.Fps, 1};
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->sample_aspect_ratio = AVRational{1, 1};
    c->thread_count = kVideoThreads;
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const bool hd = Bt709(o.Height);
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    c->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    c->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    c->chroma_sample_location = AVCHROMA_LOC_LEFT;
    int code = av_opt_set(c->priv_data, "preset", o.Preset.c_str(), 0);
    if (code >= 0) code = av_opt_set_double(c->priv_data, "crf", double(o.Crf), 0);
    if (code < 0) {
        error = "the H.264 encoder has no preset or crf option: " + Reason(code);
        return nullptr;
    }
    code = avcodec_open2(c.get(), codec, nullptr);
    if (code < 0) {
        error = "the H.264 encoder refuses --preset " + o.Preset + " --crf " +
                std::to_string(o.Crf) + " at " + std::to_string(o.Width) + "x" +
                std::to_string(o.Height) + ": " + Reason(code);
        return nullptr;
    }
    return c;
}

TCodecPtr OpenAudio(const TVideoEncoderOptions& o, bool globalHeader, std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) {
        error = "this system's libavcodec has no AAC encoder";
        return nullptr;
    }
    TCodecPtr c(avcodec_alloc_context3(codec));
    if (!c) {
        error = "out of memory";
        return nullptr;
    }
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = kSampleRate;
    c->time_base = AVRational{1, kSampleRate};
    av_channel_layout_default(&c->ch_layout, 2);
    c->bit_rate = int64_t(o.AudioBitrate) * 1000;
    c->thread_count = 1;
    c->flags |= AV_CODEC_FLAG_BITEXACT;
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int code = avcodec_open2(c.get(), codec, nullptr);
    if (code < 0) {
        error = "the AAC encoder refuses --audio-bitrate " + std::to_string(o.AudioBitrate) + ": " +
                Reason(code);
        return nullptr;
    }
    return c;
}

}  // namespace

std::string CheckVideoEncoderOptions(const TVideoEncoderOptions& options) {
    QuietLibraries();
    if (options.Width < 16 || options.Height < 16 || options.Width > 8192 ||
        options.Height > 8192 || options.Width % 2 || options.Height % 2)
        return "the size must be even, 16 to 8192 a side";
    if (options.Fps < 1 || options.Fps > 240) return "the frame rate must be 1 to 240";
    if (options.Crf < 0 || options.Crf > 51) return "--crf must be 0 to 51";
    std::string error = UnknownPreset(options.Preset);
    if (!error.empty()) return error;
    if (!OpenVideo(options, true, error)) return error;
    if (options.Audio && !OpenAudio(options, true, error)) return error;
    return {};
}

struct TVideoEncoder::TImpl {
    TVideoEncoderOptions Options;
    std::string FileName, TempName;
    bool TempExists = false;
    AVFormatContext* Format = nullptr;
    TCodecPtr Video, Audio;
    AVStream* VideoStream = nullptr;
    AVStream* AudioStream = nullptr;
    SwsContext* Scaler = nullptr;
    AVBSFContext* VideoFilter = nullptr;
    TFramePtr VideoFrame, AudioFrame;
    TPacketPtr Packet;
    std::vector<uint8_t> Bgra;
    std::vector<float> Pending[2];  // audio samples not yet a whole encoder frame
    int64_t VideoFrames = 0, AudioFrames = 0, AudioSent = 0;
    bool HeaderWritten = false, Finished = false;

    ~TImpl() {
        sws_freeContext(Scaler);
        av_bsf_free(&VideoFilter);
        if (Format) {
            if (Format->pb) avio_closep(&Format->pb);
            avformat_free_context(Format);
        }
        if (TempExists && !Finished) std::remove(TempName.c_str());
    }

    void Write(AVStream* stream, AVRational timeBase) {
        av_packet_rescale_ts(Packet.get(), timeBase, stream->time_base);
        Packet->stream_index = stream->index;
        const int code = av_interleaved_write_frame(Format, Packet.get());
        if (code < 0) Throw("writing " + FileName + " failed", code);
    }

    // The filter's packets so far; all of them once it has been sent the end.
    void DrainFilter() {
        for (;;) {
            const int code = av_bsf_receive_packet(VideoFilter, Packet.get());
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return;
            if (code < 0) Throw("encoding failed", code);
            Write(VideoStream, VideoFilter->time_base_out);
        }
    }

    void Drain(AVCodecContext* codec, AVStream* stream) {
        for (;;) {
            int code = avcodec_receive_packet(codec, Packet.get());
            if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) break;
            if (code < 0) Throw("encoding failed", code);
            if (stream == VideoStream && VideoFilter) {
                code = av_bsf_send_packet(VideoFilter, Packet.get());
                if (code < 0) Throw("encoding failed", code);
                DrainFilter();
            } else {
                Write(stream, codec->time_base);
            }
        }
    }

    void Send(AVCodecContext* codec, AVStream* stream, AVFrame* frame) {
        const int code = avcodec_send_frame(codec, frame);
        if (code < 0) Throw("encoding failed", code);
        Drain(codec, stream);
    }

    // Encodes the pending audio in whole encoder frames; all of it (the last
    // frame short) when `last`.
    void EncodeAudio(bool last) {
        const size_t frameSize = size_t(Audio->frame_size);
        size_t done = 0;
        while (Pending[0].size() - done >= frameSize || (last && done < Pending[0].size())) {
            const size_t n = std::min(frameSize, Pending[0].size() - done);
            AVFrame* f = AudioFrame.get();
            int code = av_frame_make_writable(f);
            if (code < 0) Throw("encoding failed", code);
            f->nb_samples = int(n);
            for (int ch = 0; ch < 2; ++ch)
                std::memcpy(f->data[ch], Pending[ch].data() + done, n * sizeof(float));
            f->pts = AudioSent;
            AudioSent += int64_t(n);
            done += n;
            Send(Audio.get(), AudioStream, f);
        }
        for (auto& p : Pending) p.erase(p.begin(), p.begin() + ptrdiff_t(done));
    }
};

TVideoEncoder::TVideoEncoder(const std::string& fileName, const TVideoEncoderOptions& options)
    : m_impl(std::make_unique<TImpl>()) {
    QuietLibraries();
    TImpl& m = *m_impl;
    m.Options = options;
    m.FileName = fileName;
    const std::string refused = CheckVideoEncoderOptions(options);
    if (!refused.empty()) throw EStreamWriteError(refused);

    // A unique name in the target's folder, so the final rename stays on one
    // file system and replaces the target in one step.
    std::string pattern = fileName + ".partial-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
        throw EStreamWriteError("cannot create a file in the folder of " + fileName + ": " +
                                std::strerror(errno));
    m.TempName = name.data();
    m.TempExists = true;
    // mkstemp makes the file private; the finished video gets the usual
    // permissions a new file has.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);

    int code = avformat_alloc_output_context2(&m.Format, nullptr, "mp4", m.TempName.c_str());
    if (code < 0 || !m.Format) Throw("cannot make an MP4 muxer", code);
    m.Format->flags |= AVFMT_FLAG_BITEXACT;
    const bool globalHeader = (m.Format->oformat->flags & AVFMT_GLOBALHEADER) != 0;

    std::string error;
    m.Video = OpenVideo(options, globalHeader, error);
    if (!m.Video) throw EStreamWriteError(error);
    m.VideoStream = avformat_new_stream(m.Format, nullptr);
    if (!m.VideoStream) throw EStreamWriteError("cannot add a video stream");
    m.VideoStream->time_base = m.Video->time_base;
    m.VideoStream->avg_frame_rate = m.Video->framerate;
    m.VideoStream->sample_aspect_ratio = m.Video->sample_aspect_ratio;
    code = avcodec_parameters_from_context(m.VideoStream->codecpar, m.Video.get());
    if (code < 0) Throw("cannot describe the video stream", code);
    // x264 puts its version and option text into the stream (an SEI
    // message); the filter takes those messages out, so that the file names
    // no library version. Without the filter the file is still correct.
    if (const AVBitStreamFilter* filter = av_bsf_get_by_name("filter_units")) {
        code = av_bsf_alloc(filter, &m.VideoFilter);
        if (code >= 0)
            code = avcodec_parameters_copy(m.VideoFilter->par_in, m.VideoStream->codecpar);
        if (code < 0) Throw("cannot set up the video filter", code);
        m.VideoFilter->time_base_in = m.Video->time_base;
        code = av_opt_set(m.VideoFilter->priv_data, "remove_types", "6", 0);
        if (code >= 0) code = av_bsf_init(m.VideoFilter);
        if (code >= 0)
            code = avcodec_parameters_copy(m.VideoStream->codecpar, m.VideoFilter->par_out);
        if (code < 0) Throw("cannot set up the video filter", code);
    }

    if (options.Audio) {
        m.Audio = OpenAudio(options, globalHeader, error);
        if (!m.Audio) throw EStreamWriteError(error);
        m.AudioStream = avformat_new_stream(m.Format, nullptr);
        if (!m.AudioStream) throw EStreamWriteError("cannot add an audio stream");
        m.AudioStream->time_base = m.Audio->time_base;
        code = avcodec_parameters_from_context(m.AudioStream->codecpar, m.Audio.get());
        if (code < 0) Throw("cannot describe the audio stream", code);
        m.AudioFrame.reset(av_frame_alloc());
        if (!m.AudioFrame) throw EStreamWriteError("out of memory");
        m.AudioFrame->format = m.Audio->sample_fmt;
        m.AudioFrame->sample_rate = kSampleRate;
        av_channel_layout_copy(&m.AudioFrame->ch_layout, &m.Audio->ch_layout);
        m.AudioFrame->nb_samples = m.Audio->frame_size;
        code = av_frame_get_buffer(m.AudioFrame.get(), 0);
        if (code < 0) Throw("out of memory", code);
    }

    m.VideoFrame.reset(av_frame_alloc());
    m.Packet.reset(av_packet_alloc());
    if (!m.VideoFrame || !m.Packet) throw EStreamWriteError("out of memory");
    m.VideoFrame->format = AV_PIX_FMT_YUV420P;
    m.VideoFrame->width = options.Width;
    m.VideoFrame->height = options.Height;
    code = av_frame_get_buffer(m.VideoFrame.get(), 0);
    if (code < 0) Throw("out of memory", code);

    // Bit-exact and accurately rounded scaling: the same bytes on every
    // processor, whichever of the library's loops it takes.
    m.Scaler = sws_getContext(options.Width, options.Height, AV_PIX_FMT_BGRA, options.Width,
                              options.Height, AV_PIX_FMT_YUV420P,
                              SWS_BILINEAR | SWS_ACCURATE_RND | SWS_BITEXACT | SWS_FULL_CHR_H_INP,
                              nullptr, nullptr, nullptr);
    if (!m.Scaler) throw EStreamWriteError("cannot set up the 4:2:0 conversion");
    const int* matrix = sws_getCoefficients(Bt709(options.Height) ? SWS_CS_ITU709 : SWS_CS_ITU601);
    sws_setColorspaceDetails(m.Scaler, matrix, 1, matrix, 0, 0, 1 << 16, 1 << 16);
    m.Bgra.resize(size_t(options.Width) * size_t(options.Height) * 4);

    code = avio_open(&m.Format->pb, m.TempName.c_str(), AVIO_FLAG_WRITE);
    if (code < 0) Throw("cannot write " + m.TempName, code);
    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
    code = avformat_write_header(m.Format, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (code < 0) Throw("cannot write " + m.TempName, code);
    m.HeaderWritten = true;
}

TVideoEncoder::~TVideoEncoder() = default;

void TVideoEncoder::AddVideoFrame(const uint8_t* const* rows) {
    TImpl& m = *m_impl;
    const int32_t w = m.Options.Width, h = m.Options.Height;
    const size_t rowBytes = size_t(w) * 4;
    for (int32_t y = 0; y < h; ++y)
        std::memcpy(m.Bgra.data() + size_t(y) * rowBytes, rows[y], rowBytes);
    AVFrame* f = m.VideoFrame.get();
    int code = av_frame_make_writable(f);
    if (code < 0) Throw("encoding failed", code);
    const uint8_t* src[1] = {m.Bgra.data()};
    const int srcStride[1] = {int(rowBytes)};
    sws_scale(m.Scaler, src, srcStride, 0, h, f->data, f->linesize);
    f->pts = m.VideoFrames++;
    m.Send(m.Video.get(), m.VideoStream, f);
}

void TVideoEncoder::AddAudio(const int16_t* samples, size_t frames) {
    TImpl& m = *m_impl;
    if (!m.Audio) return;
    for (size_t i = 0; i < frames; ++i) {
        m.Pending[0].push_back(float(samples[2 * i]) * (1.0f / 32768.0f));
        m.Pending[1].push_back(float(samples[2 * i + 1]) * (1.0f / 32768.0f));
    }
    m.AudioFrames += int64_t(frames);
    m.EncodeAudio(false);
}

void TVideoEncoder::Finish() {
    TImpl& m = *m_impl;
    if (m.VideoFrames == 0) throw EStreamWriteError("no frame to write");
    if (m.Audio) {
        m.EncodeAudio(true);
        m.Send(m.Audio.get(), m.AudioStream, nullptr);
    }
    m.Send(m.Video.get(), m.VideoStream, nullptr);
    if (m.VideoFilter) {
        const int sent = av_bsf_send_packet(m.VideoFilter, nullptr);
        if (sent < 0) Throw("encoding failed", sent);
        m.DrainFilter();
    }
    int code = av_write_trailer(m.Format);
    if (code < 0) Throw("writing " + m.FileName + " failed", code);
    const int ioError = m.Format->pb->error;
    code = avio_closep(&m.Format->pb);
    if (ioError < 0) Throw("writing " + m.FileName + " failed", ioError);
    if (code < 0) Throw("writing " + m.FileName + " failed", code);
    if (std::rename(m.TempName.c_str(), m.FileName.c_str()) != 0)
        throw EStreamWriteError("cannot rename " + m.TempName + " to " + m.FileName + ": " +
                                std::strerror(errno));
    m.Finished = true;
}

const std::string& TVideoEncoder::TemporaryName() const {
    return m_impl->TempName;
}
int64_t TVideoEncoder::VideoFrames() const {
    return m_impl->VideoFrames;
}
int64_t TVideoEncoder::AudioFrames() const {
    return m_impl->AudioFrames;
}

}  // namespace ql
