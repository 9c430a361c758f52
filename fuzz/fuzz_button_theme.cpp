// A button theme from the input: the first line is a face name (parsed and
// written back, which must give the same fields), then a description up to a
// NUL byte, then the bytes every part picture is read from (any decoder; bytes
// that decode as nothing become a small picture of those bytes, so the part
// rectangles meet pictures of many sizes). Faces are made at a few widths and
// states, shifted by the first bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "OrbLib2/ButtonGenerator2.h"
#include "QlLib/Graphics/qlImageLoader.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace {

void CheckNameRoundTrip(const std::string& line) {
    std::u16string name;
    for (unsigned char c : line) name += char16_t(c);
    orb::TButtonFaceRequest first, second;
    if (!orb::ParseButtonFacePictureName(name, first)) return;
    if (!orb::ParseButtonFacePictureName(orb::ButtonFacePictureName(first), second) ||
        first.Theme != second.Theme || first.State != second.State || first.Width != second.Width ||
        first.Hue != second.Hue || first.Saturation != second.Saturation ||
        first.Lightness != second.Lightness)
        std::abort();
}

ql::TRef<ql::TBitmapStore> Picture(const std::string& bytes, const std::u16string& name) {
    if (bytes.empty()) return nullptr;
    ql::TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), bytes.size());
    stream.SetPosition(0);
    const ql::TLoadResult loaded = ql::LoadImageFromStream(stream, u"");
    if (loaded.Image) return loaded.Image.Store();
    const int32_t w = 1 + uint8_t(bytes[0]) % 48,
                  h = 1 + uint8_t(bytes.size() > 1 ? bytes[1] : 0) % 48;
    auto bitmap = std::make_unique<ql::TDirectBitmap>(w, h, ql::PfARGB32());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w * 4; ++x)
            bitmap->Row(y)[x] = uint8_t(bytes[size_t(y * w * 4 + x) % bytes.size()]);
    return ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap), name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::SetImagePixelLimit(int64_t(1) << 20);
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t lineEnd = std::min(input.find('\n'), input.size());
    CheckNameRoundTrip(input.substr(0, lineEnd));
    const std::string rest = lineEnd < input.size() ? input.substr(lineEnd + 1) : std::string();
    const size_t nul = std::min(rest.find('\0'), rest.size());
    const std::string description = rest.substr(0, nul);
    const std::string pictureBytes = nul < rest.size() ? rest.substr(nul + 1) : std::string();

    orb::TButtonThemeFiles files;
    files.OpenFile = [&](const std::u16string& name) -> std::unique_ptr<ql::TStream> {
        if (name != std::u16string(u"T\\") + orb::kButtonThemeDescription) return nullptr;
        return std::make_unique<ql::TStringStream>(description);
    };
    files.OpenPicture = [&](const std::u16string& name) { return Picture(pictureBytes, name); };
    orb::TButtonProducerHost host(files);
    host.Cache()->SetByteLimit(1 << 16);  // small, so that eviction runs too
    orb::TButtonProducer& producer = host.ProducerFor(u"T");
    const int32_t hue = size > 0 ? int8_t(data[0]) * 3 : 0,
                  saturation = size > 1 ? int8_t(data[1]) : 0;
    for (int32_t state : {0, 1, 2, 7})
        for (int32_t width : {-4, 0, 1, 33, 300}) {
            const orb::TButtonFace face =
                producer.MakeFace(state, width, state == 1 ? 20 : 0, saturation, hue);
            if (!face.Picture || !face.Picture->GetBitmap(0)) std::abort();
        }
    return 0;
}
