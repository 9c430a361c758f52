#include "QlLib/Music/MpegConverter.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "QlLib/Music/MediaInfo.h"
#include "QlLib/qlLog.h"

namespace ql {

namespace {

std::mutex g_frontLock;  // guards g_users and the library's set-up
int g_users = 0;

constexpr size_t kPcmStep = 8192;
// The bit reservoir of small frames (MPEG 2 at low rates) reaches back over
// many frames; a shorter lead-in came out silent in the tests.
constexpr double kLeadInMs = 400;

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
        // Whole frames: the converter cuts the encoder's delay and padding
        // itself, since the decoder cannot know them after a seek in feed mode.
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
    const double rate = m_info.Format.SamplesPerSec;
    // Times count from the real audio; the stream's own frames start with the
    // encoder's delay.
    const int64_t skip = m_info.GaplessSkip;
    m_firstFrame = std::llround(ms * rate / 1000.0) + skip;
    m_endFrame = m_info.GaplessFrames > 0 ? skip + m_info.GaplessFrames
                                          : std::numeric_limits<int64_t>::max();
    // Decoding starts a little early so that the bit reservoir is primed when
    // the wanted time comes; that lead-in is decoded and dropped.
    const double start = std::max(0.0, double(m_firstFrame) / rate * 1000.0 - kLeadInMs);
    if (start > 0 && !m_info.FrameMarks && (m_info.HasToc || m_info.GaplessFrames > 0)) {
        // A VBR table of contents is too coarse for a time line that must match
        // the sound; the frames are walked once, on the first seek that needs it.
        TMpegInfo mpeg;
        if (mpeg.Parse(m_stream, m_info.DataStart, m_info.DataStart + m_info.DataSize, 0, true) &&
            mpeg.FrameMarks && mpeg.DataStart == m_info.DataStart)
            m_info.FrameMarks = mpeg.FrameMarks;
    }
    const TMpegSeekPoint point = MpegSeekPoint(m_info, start);
    ResetDecoder();
    m_readPosition = point.Offset;
    m_stream.SetPosition(m_info.DataStart + point.Offset);
    m_sourceFrame = point.Frame;
    m_position = ms;
}

bool TMpegConverter::ReadInput() {
    // Past the real audio the rest of the file is padding or tags.
    if (m_sourceFrame >= m_endFrame) return false;
    return TWavConverter::ReadInput();
}

void TMpegConverter::EmitWindow(const uint8_t* data, size_t bytes) {
    const size_t block = std::max<size_t>(m_pcmFormat.BlockAlign, 1);
    const int64_t first = m_sourceFrame;
    const int64_t last = first + int64_t(bytes / block);
    m_sourceFrame = last;
    const int64_t from = std::max(first, m_firstFrame);
    const int64_t to = std::min(last, m_endFrame);
    if (to > from) EmitPcm(data + size_t(from - first) * block, size_t(to - from) * block);
}

bool TMpegConverter::Decode() {
    if (m_sourceFrame >= m_endFrame) {
        m_input.Clear();
        return false;
    }
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
            if (rate >= long(kMinSampleRate) && rate <= long(kMaxSampleRate) && channels >= 1 &&
                channels <= 2)
                SetPcmFormat(TWaveFormat::Pcm(uint32_t(rate), uint16_t(channels), 16));
        }
        if (done > 0) {
            EmitWindow(m_pcm.data(), done);
            progress = true;
        }
        if (m_sourceFrame >= m_endFrame) break;
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
