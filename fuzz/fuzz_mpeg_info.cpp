// Parses the input as an MPEG audio file: tags, frame sync, VBR headers and seeking.
#include <cstddef>
#include <cstdint>
#include <string>

#include "QlLib/Music/MediaInfo.h"
#include "QlLib/qpExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::TStringStream stream(std::string(reinterpret_cast<const char*>(data), size));
    ql::TMpegInfo mpeg;
    try {
        if (!mpeg.Parse(stream)) return 0;
        ql::TMediaInfo info;
        mpeg.Fill(info);
        for (double ms : {0.0, 1.0, double(info.LengthMs) / 3, double(info.LengthMs), 1e12}) {
            const int64_t offset = ql::MpegSeekOffset(info, ms);
            if (offset < 0 || offset > info.DataSize) __builtin_trap();
        }
    } catch (const ql::Exception&) {
    }
    return 0;
}
