// Parses the input as an MPEG audio file: tags, frame sync, VBR and encoder
// headers, the frame walk and seeking; then decodes a little of it, from the
// start and after a seek, through the gapless window.
#include <cstddef>
#include <cstdint>
#include <string>

#include "QlLib/Music/MediaInfo.h"
#include "QlLib/Music/MpegConverter.h"
#include "QlLib/qpExceptions.h"

namespace {

void CheckSeeks(const ql::TMediaInfo& info) {
    for (double ms : {0.0, 1.0, double(info.LengthMs) / 3, double(info.LengthMs), 1e12}) {
        const int64_t offset = ql::MpegSeekOffset(info, ms);
        if (offset < 0 || offset > info.DataSize) __builtin_trap();
        const ql::TMpegSeekPoint point = ql::MpegSeekPoint(info, ms);
        if (point.Offset < 0 || point.Offset > info.DataSize || point.Frame < 0) __builtin_trap();
    }
    if (info.FrameMarks) {
        int64_t last = -1;
        for (int64_t mark : *info.FrameMarks) {
            if (mark <= last || mark > info.DataSize) __builtin_trap();
            last = mark;
        }
    }
    if (info.GaplessFrames < 0 || info.GaplessSkip < 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::TStringStream stream(std::string(reinterpret_cast<const char*>(data), size));
    try {
        ql::TMpegInfo mpeg;
        if (!mpeg.Parse(stream)) return 0;
        ql::TMediaInfo info;
        mpeg.Fill(info);
        CheckSeeks(info);
        // The walk that a seek in a file with a VBR header asks for.
        ql::TMpegInfo walked;
        if (walked.Parse(stream, 0, -1, 0, true)) {
            ql::TMediaInfo full;
            walked.Fill(full);
            CheckSeeks(full);
        }
        ql::TMpegConverter converter(stream);
        if (!converter.Open(info)) return 0;
        converter.FillAvailable(44100 * 4);
        converter.Output().Clear();
        converter.Seek(double(info.LengthMs) / 2);
        converter.FillAvailable(44100 * 4);
    } catch (const ql::Exception&) {
    }
    return 0;
}
