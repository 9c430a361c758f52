// Parses the input as a WAV file and, when it plays, converts its first second.
#include <cstddef>
#include <cstdint>
#include <string>

#include "QlLib/Music/MediaInfo.h"
#include "QlLib/Music/WavConverters.h"
#include "QlLib/qpExceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::TStringStream stream(std::string(reinterpret_cast<const char*>(data), size));
    ql::TMediaInfo info;
    try {
        if (!ql::TRiffInfo::Parse(stream, info)) return 0;
        if (info.MediaType == ql::TMediaType::Mpeg) return 0;  // the MPEG target covers it
        auto converter = ql::CreateConverter(stream, info);
        if (!converter) return 0;
        converter->Fill(176400);
        converter->Seek(double(info.LengthMs) / 2);
        converter->Fill(17640);
    } catch (const ql::Exception&) {
    }
    return 0;
}
