// Reads the input as a picture container and decodes its payload.
#include <cstddef>
#include <cstdint>

#include "QlLib/Graphics/qlQlgfxDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::SetImagePixelLimit(int64_t(1) << 22);
    ql::TMemoryStream stream;
    stream.WriteBuffer(data, size);
    stream.SetPosition(0);
    try {
        ql::TRef<ql::TBitmapStore> store = ql::DecodeQlgfx(stream, u"fuzz.qlgfx", nullptr, nullptr);
        if (store) store->GetBitmap(1);
    } catch (const ql::Exception&) {
    }
    return 0;
}
