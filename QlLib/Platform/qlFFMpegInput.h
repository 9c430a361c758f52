// FFmpeg's demuxers reading through one of our streams and nothing else: no
// file names, no protocols, no second resources a playlist or reference file
// would open, and only the container formats the caller names. Sound and
// video clips both open their files this way.
#pragma once

struct AVFormatContext;
struct AVIOContext;

namespace ql {

class TStream;

// Opens a demuxer over STREAM from its start, for the comma-separated FFmpeg
// format names in FORMATS. On success FORMAT and IO are set and the stream
// must outlive them; on failure both are null. The stream's exceptions reach
// FFmpeg as read errors, never unwind through it.
bool OpenFFMpegInput(TStream& stream, const char* formats, AVFormatContext*& format,
                     AVIOContext*& io);

// Closes what OpenFFMpegInput opened (either may be null) and nulls both.
void CloseFFMpegInput(AVFormatContext*& format, AVIOContext*& io);

}  // namespace ql
