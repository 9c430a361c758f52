// Walks the input as a JPEG's markers and reads its EXIF (through libexif)
// and IPTC records.
#include <cstddef>
#include <cstdint>
#include <string>

#include "QlLib/Graphics/qlImageMetadata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::TStringStream stream(std::string(reinterpret_cast<const char*>(data), size));
    const ql::TImageMetadata metadata = ql::ReadImageMetadata(stream);
    // The walk's budget holds whatever the input says.
    if (metadata.BytesRead > ql::kMaxMetadataBytesRead) __builtin_trap();
    if (metadata.ExifComment.size() > ql::kMaxExifTextCount) __builtin_trap();
    return 0;
}
