// Reads the input as a BMP and halves the result once.
#include <cstddef>
#include <cstdint>

#include "QlLib/Graphics/qlBmpDecoder.h"
#include "QlLib/Graphics/qlImageTransform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Pictures are bounded lower than in the player to keep runs fast.
    ql::SetImagePixelLimit(int64_t(1) << 22);
    try {
        std::unique_ptr<ql::TBitmap> bitmap = ql::ReadBmpBitmap(data, size);
        if (bitmap && bitmap->BytesPerPixel() >= 3) ql::HalveBitmap(*bitmap);
    } catch (const ql::Exception&) {
    }
    return 0;
}
