// Reads a glyph cache and a cached vector text from the input (the first two
// bytes give the cache's length), rasterises every glyph of the cache, then
// lays out and renders the text when its picture is small. Damaged input must
// end in an exception of the library or in no text, never in a fault.
#include <cstddef>
#include <algorithm>
#include <cstdint>

#include "QlLib/VectorGraphics/qlGlyphCache.h"

namespace {

std::unique_ptr<ql::TMemoryStream> StreamOf(const uint8_t* data, size_t size) {
    auto stream = std::make_unique<ql::TMemoryStream>();
    if (size) stream->WriteBuffer(data, size);
    stream->SetPosition(0);
    return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const size_t cacheSize = std::min(size - 3, size_t(data[1]) | size_t(data[2]) << 8);
    const uint8_t scaleByte = data[0];
    const uint8_t* cacheBytes = data + 3;
    const uint8_t* textBytes = cacheBytes + cacheSize;
    const size_t textSize = size - 3 - cacheSize;

    ql::TFontCache fonts;
    auto cache = ql::MakeRef<ql::TGlyphCache>();
    try {
        auto stream = StreamOf(cacheBytes, cacheSize);
        cache->LoadFromStream(*stream);
    } catch (const ql::EStreamReadError&) {
        return 0;
    }
    fonts.Add(cache);

    ql::TRasterHelper helper;
    helper.BeginPaint(64, 64, 0);
    helper.SetColour(0xFF000000);
    for (int32_t i = 0; i < cache->Count(); ++i) {
        const ql::TGlyphData& glyph = cache->Glyph(i);
        const float k = 48.0f / glyph.Info.DesignSize;
        helper.SetMatrix({k, 0, 0, k, 8, 48});
        helper.FillPath(glyph.Path, (i & 1) != 0);  // stored paths are checked: no unknown types
    }
    helper.EndPaint();

    auto stream = StreamOf(textBytes, textSize);
    std::unique_ptr<ql::TCachedVectorText> text = ql::LoadCachedVectorText(*stream, fonts);
    if (!text) return 0;
    ql::TTextProducer producer;
    producer.SetText(text.get());
    producer.LineSpacing = scaleByte & 0x7F;
    producer.Alignment = scaleByte % 3;
    const float scale = 0.05f + float(scaleByte) / 64.0f;
    try {
        const ql::TTextLayout layout = producer.Layout(scale);
        if (int64_t(layout.PictureWidth) * layout.PictureHeight > (1 << 20)) return 0;
        producer.Render(0xFF204080, 0xFFFFFFFF, {0, 0}, scaleByte & 1, scaleByte & 2, scale);
    } catch (const ql::EVectorTextError&) {
    }
    return 0;
}
