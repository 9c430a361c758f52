#include "QlLib/Music/MpegConverter.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>

#include "QlLib/Music/MediaInfo.h"
#include "QlLib/qlLog.h"

namespace ql {

namespace {

std::mutex g_frontLock;  // guards g_users and the library's set-up
int g_users = 0;

constexpr size_t kPcmStep = 8192;
constexpr double kLeadInMs = 100;

}  // namespace

bool TMpg123::Acquire() {
    std::lock_guard<std::mutex> guard(g_frontLock);
    if (g_users == 0 && mpg123_init() != MPG123_OK) return false;
    ++g_users;
    return true;
}

void TMpg123::ReleaseUser() {
    std::lock_guard<std::mutex> guard(g_frontLock);
    if (g_users > 0) --g_users;
}

std::mutex& TMpg123::Lock() {
    static std::mutex decodeLock;
    return decodeLock;
}

TMpegConverter::TMpegConverter(TStream& stream) : TWavConverter(stream) {}

TMpegConverter::~TMpegConverter() {
    if (m_handle) {
        std::lock_guard<std::mutex> guard(TMpg123::Lock());
        mpg123_delete(m_handle);
    }
    if (m_user) TMpg123::ReleaseUser();
}

bool TMpegConverter::ResetDecoder() {
    std::lock_guard<std::mutex> guard(TMpg123::Lock());
    if (!m_handle) {
        int error = 0;
        m_handle = mpg123_new(nullptr, &error);
        if (!m_handle) return false;
        // Whole frames: the length of the media information counts every
        // frame, so the encoder's delay and padding stay in.
        mpg123_param(m_handle, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
        mpg123_param(m_handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        mpg123_param(m_handle, MPG123_RESYNC_LIMIT, 65536, 0);
        mpg123_format_none(m_handle);
        mpg123_format(m_handle, long(m_info.Format.SamplesPerSec), MPG123_MONO | MPG123_STEREO,
                      MPG123_ENC_SIGNED_16);
    } else {
        mpg123_close(m_handle);
    }
    return mpg123_open_feed(m_handle) == MPG123_OK;
}

bool TMpegConverter::Open(const TMediaInfo& info) {
    m_info = info;
    if (info.Format.SamplesPerSec < 8000 || info.Format.SamplesPerSec > 48000) return false;
    if (!TMpg123::Acquire()) return false;
    m_user = true;
    m_inputChunk = size_t(std::clamp(6 * info.MaxFrameSize, 1024, 4096));
    m_pcm.resize(kPcmStep);
    if (!m_input.EnsureFreeRoom(m_inputChunk)) return false;
    SetPcmFormat(info.Format);
    if (!ResetDecoder()) return false;
    Seek(0);
    return true;
}

void TMpegConverter::Seek(double ms) {
    ClearBuffers();
    ms = std::clamp(ms, 0.0, double(std::max<int64_t>(m_info.LengthMs, 0)));
    // The frame search starts a little early so that the bit reservoir is
    // primed when the wanted time comes; that lead-in is decoded and dropped.
    const double frame = m_info.FrameDurationMs > 0 ? m_info.FrameDurationMs : 26;
    double start = std::max(0.0, ms - std::min(kLeadInMs, ms));
    int64_t offset = 0;
    if (start > 0) {
        if (!m_info.HasToc) start = std::floor(start / frame) * frame;
        offset = MpegSeekOffset(m_info, start);
        if (m_info.HasToc) offset = std::min(offset, m_info.DataSize);
    }
    if (offset == 0) start = 0;
    ResetDecoder();
    m_readPosition = offset;
    m_stream.SetPosition(m_info.DataStart + offset);
    m_position = start;
    m_discard = size_t(std::llround((ms - start) * 44.1)) * kOutputBytesPerFrame;
    // At most ten rounds of a tenth of a second each prime the decoder.
    for (int round = 0; round < 10 && m_discard > 0; ++round) {
        FillAvailable(std::min<size_t>(m_discard, 17640));
        const size_t drop = std::min(m_discard, m_output.Fill());
        m_output.Consume(drop);
        m_discard -= drop;
        if (m_ended) break;
    }
    m_discard = 0;
    m_position = ms;
}

bool TMpegConverter::Decode() {
    bool progress = false;
    std::lock_guard<std::mutex> guard(TMpg123::Lock());
    if (m_input.Fill() > 0) {
        if (mpg123_feed(m_handle, m_input.Data(), m_input.Fill()) != MPG123_OK) {
            m_input.Clear();
            return false;
        }
        m_input.Clear();
        progress = true;
    }
    // Everything the decoder can give without new input, in steps of 8192 bytes.
    for (int rounds = 0; rounds < 4096; ++rounds) {
        size_t done = 0;
        const int result = mpg123_read(m_handle, m_pcm.data(), m_pcm.size(), &done);
        if (result == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(m_handle, &rate, &channels, &encoding);
            if (rate >= long(kMinSampleRate) && rate <= long(kMaxSampleRate) && channels >= 1 && channels <= 2)
                SetPcmFormat(TWaveFormat::Pcm(uint32_t(rate), uint16_t(channels), 16));
        }
        if (done > 0) {
            EmitPcm(m_pcm.data(), done);
            progress = true;
        }
        if (result == MPG123_NEED_MORE || result == MPG123_DONE) break;
        if (result == MPG123_ERR) {
            // A broken stretch: drop what was fed and resume with the next input.
            GlobalLog().WriteLine(std::string("MPEG decoding error: ") + mpg123_strerror(m_handle));
            mpg123_close(m_handle);
            mpg123_open_feed(m_handle);
            break;
        }
    }
    return progress;
}

}  // namespace ql
