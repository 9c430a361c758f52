// Reads the input as a GIF, animation strips included.
#include <cstddef>
#include <cstdint>

#include "QlLib/Graphics/qlGifDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::SetImagePixelLimit(int64_t(1) << 22);
    try {
        ql::ReadGif(data, size, true);
    } catch (const ql::Exception&) {
    }
    return 0;
}
