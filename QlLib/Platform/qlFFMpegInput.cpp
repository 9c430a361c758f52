#include "QlLib/Platform/qlFFMpegInput.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstdio>
#include <exception>

#include "QlLib/qpFileStream.h"

namespace ql {
namespace {

constexpr int kIoBufferSize = 32768;

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
    auto* stream = static_cast<TStream*>(opaque);
    size_t got = 0;
    try {
        got = stream->Read(buffer, size_t(std::max(size, 0)));
    } catch (const std::exception&) {
        return AVERROR(EIO);
    }
    return got == 0 ? AVERROR_EOF : int(got);
}

int64_t SeekStream(void* opaque, int64_t offset, int whence) {
    auto* stream = static_cast<TStream*>(opaque);
    try {
        const int64_t size = stream->GetSize();
        if (whence & AVSEEK_SIZE) return size >= 0 ? size : AVERROR(ENOSYS);
        int64_t target = offset;
        switch (whence & ~AVSEEK_FORCE) {
            case SEEK_SET:
                break;
            case SEEK_CUR:
                target += stream->GetPosition();
                break;
            case SEEK_END:
                if (size < 0) return AVERROR(ENOSYS);
                target += size;
                break;
            default:
                return AVERROR(EINVAL);
        }
        if (target < 0) return AVERROR(EINVAL);
        stream->SetPosition(target);
        return stream->GetPosition();
    } catch (const std::exception&) {
        return AVERROR(EIO);
    }
}

// Demuxers that would open a second resource (playlists, references) are refused here.
int RefuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

}  // namespace

bool OpenFFMpegInput(TStream& stream, const char* formats, AVFormatContext*& format,
                     AVIOContext*& io) {
    format = nullptr;
    io = nullptr;
    try {
        stream.SetPosition(0);
    } catch (const std::exception&) {
        return false;
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) return false;
    io = avio_alloc_context(buffer, kIoBufferSize, 0, &stream, ReadPacket, nullptr, SeekStream);
    if (!io) {
        av_free(buffer);
        return false;
    }
    format = avformat_alloc_context();
    if (!format) {
        CloseFFMpegInput(format, io);
        return false;
    }
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->io_open = RefuseOpen;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "format_whitelist", formats, 0);
    av_dict_set(&options, "protocol_whitelist", "", 0);
    const int opened = avformat_open_input(&format, nullptr, nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        format = nullptr;  // freed by a failed open
        CloseFFMpegInput(format, io);
        return false;
    }
    return true;
}

void CloseFFMpegInput(AVFormatContext*& format, AVIOContext*& io) {
    avformat_close_input(&format);
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
}

}  // namespace ql
