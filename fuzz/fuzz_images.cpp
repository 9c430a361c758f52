// Loads the input through the registry, every decoder asked, and decodes
// levels 0 and 2 of what it gives (for JPEG both are decoded at scale).
#include <cstddef>
#include <cstdint>

#include "QlLib/Graphics/qlGifDecoder.h"
#include "QlLib/Graphics/qlImageLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::SetImagePixelLimit(int64_t(1) << 22);
    ql::SetGifAnimation(true);
    ql::TMemoryStream stream;
    stream.WriteBuffer(data, size);
    stream.SetPosition(0);
    ql::TLoadResult loaded = ql::LoadImageFromStream(stream, u"");
    if (!loaded.Image) return 0;
    try {
        loaded.Image.Store()->GetBitmap(2);
        loaded.Image.Store()->GetBitmap(0);
    } catch (const ql::Exception&) {
    }
    return 0;
}
