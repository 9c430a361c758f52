// Loads the input through the registry under a name chosen by the input's
// size (none, one of the picture extensions, or another), so that the
// signature and the extension disagree in every way; then decodes levels 0
// and 2 of what it gives (for JPEG both are decoded at scale).
#include <cstddef>
#include <cstdint>

#include "QlLib/Graphics/qlGifDecoder.h"
#include "QlLib/Graphics/qlImageLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char16_t* const kNames[] = {u"",      u"a.jpg",   u"a.png", u"a.bmp",
                                             u"a.gif", u"a.qlgfx", u"a.txt"};
    ql::SetImagePixelLimit(int64_t(1) << 22);
    ql::SetGifAnimation(true);
    ql::TMemoryStream stream;
    stream.WriteBuffer(data, size);
    stream.SetPosition(0);
    ql::TLoadResult loaded = ql::LoadImageFromStream(stream, kNames[size % 7]);
    if (!loaded.Image) {
        // Nothing decoded: the stream is where it was.
        if (stream.GetPosition() != 0) __builtin_trap();
        return 0;
    }
    try {
        loaded.Image.Store()->GetBitmap(2);
        loaded.Image.Store()->GetBitmap(0);
    } catch (const ql::Exception&) {
    }
    return 0;
}
