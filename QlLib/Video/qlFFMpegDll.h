// The media library binding: the FFmpeg libraries, linked in, behind the few
// calls the video source needs. A media file is read only through a custom
// I/O context over our own stream: FFmpeg never opens a file, a protocol or a
// second resource, and only the demuxers of the whitelist may probe it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "QlLib/qpFileStream.h"

struct AVFrame;

namespace ql {

// The "none" time stamp (only the top bit set).
constexpr int64_t kNoPts = INT64_MIN;

// Codec identities in the numbering that shows and logs know them by.
enum class TVideoCodec : int32_t {
    Other = 0,
    Mpeg2 = 2,
    Mpeg4 = 13,
    MsMpeg4v1 = 15,
    MsMpeg4v2 = 16,
    MsMpeg4v3 = 17,
    H264 = 28,
    MsVideo1 = 47,
    Xvid = 63,
};

// The container kinds by the demuxer's short name.
enum class TContainerKind : int32_t {
    Other = 0,
    Avi = 1,
    Matroska = 2,
    Mov = 3,
    Mpeg = 4,
    Flv = 5,
    MpegTs = 6,
    Asf = 7,
};

TContainerKind ContainerKindOf(const std::string& formatName);

// What the binding reports of an opened file; the video source derives its
// own rate and frame count from it.
struct TMediaFile {
    int32_t RateNum = 0;  // the stream's average frame rate; 0 when unknown
    int32_t RateDen = 0;
    int64_t StartTimeUs = kNoPts;  // first presentation time, microseconds
    int32_t VideoStream = -1;      // index of the video stream, -1 when none
    int64_t DurationUs = kNoPts;
    TVideoCodec Codec = TVideoCodec::Other;
    std::string CodecName;  // the decoder's own name, for tools and logs
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t PixelFormat = -1;  // the decoder's pixel format
    int32_t TicksPerFrame = 1;
    int32_t TimeBaseNum = 0;  // the video stream's time base
    int32_t TimeBaseDen = 0;
    int32_t StreamRateNum = 0;  // the stream's real (base) frame rate
    int32_t StreamRateDen = 0;
    int64_t StreamStartPts = kNoPts;  // first time stamp in the stream's time base
    bool HasAudio = false;
    int32_t AspectCode = 0;   // 0 square pixels, 1 4:3, 2 16:9 display
    int32_t Interlacing = 0;  // 0 progressive, 1 top field first, 2 bottom first
    std::string FormatName;
};

struct TDecoderLimits {
    int32_t Threads = 2;  // decoder threads per clip, 1 to 8
    int32_t MaxWidth = 8192;
    int32_t MaxHeight = 8192;
};

// One opened media file. Not thread-safe: one user at a time (the extractor's
// worker, or a tool).
class TFFMpegFile {
public:
    ~TFFMpegFile();
    TFFMpegFile(const TFFMpegFile&) = delete;
    TFFMpegFile& operator=(const TFFMpegFile&) = delete;

    const TMediaFile& Info() const { return m_info; }
    // False when the file has no video stream or no decoder opens for it.
    bool CanDecode() const;

    // Decodes the next frame of the video stream into frame and sets pts to its
    // best-effort presentation time stamp (kNoPts when it has none); false
    // when the stream has ended or the decoder fails (LastError says which).
    bool GetNextVideoFrame(AVFrame* frame, int64_t& pts);
    // Positions the demuxer at the key frame at or before the time stamp (in
    // the stream's time base) and drops the decoder's state; false when the
    // demuxer refuses.
    bool SeekFile(int64_t timestamp);
    // Frames that nothing refers to and that show before the time stamp (in
    // the stream's time base) are dropped unseen: on the way from a key frame
    // to a frame far from it only the references need decoding. kNoPts
    // decodes every frame.
    void SkipUnreferencedBefore(int64_t pts) { m_skipBefore = pts; }
    // Positions the demuxer at the file's first frame; for containers without
    // an index (transport and program streams) by bytes, since their time
    // search may land a group of pictures late.
    bool SeekToStart();
    // Drops decoded and queued frames (after a seek).
    void FlushVideo();
    // The error code of the last failed decode, 0 when none.
    int LastError() const { return m_lastError; }

private:
    friend class TFFMpegDll;
    TFFMpegFile();
    struct TState;
    std::unique_ptr<TState> m_state;
    TMediaFile m_info;
    int m_lastError = 0;
    int64_t m_skipBefore = kNoPts;
};

class TFFMpegDll {
public:
    // The process-wide binding.
    static TFFMpegDll& Instance();

    // Opens the stream (from its start) as a media file; nullptr when the
    // libraries find neither a video nor an audio stream in it. Opening runs
    // under one process-wide lock. The stream must outlive the file.
    std::unique_ptr<TFFMpegFile> OpenMediaFile(TStream& stream, const TDecoderLimits& limits = {});

    // A show may carry its own copy of the media library; the linked one is
    // always used, and the copy is only noted in the log.
    static void NoteCarriedLibrary(const std::u16string& name);

    // The demuxers a video may use.
    static const char* const kFormatWhitelist;

private:
    TFFMpegDll();
    std::mutex m_openLock;
};

}  // namespace ql
