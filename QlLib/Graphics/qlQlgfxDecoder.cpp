#include "QlLib/Graphics/qlQlgfxDecoder.h"

#include <algorithm>
#include <cstring>

#include "QlLib/Graphics/qlBmpDecoder.h"
#include "QlLib/Graphics/qlImageBytes.h"
#include "QlLib/qlZStreams.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {
constexpr const char* kGfxDamaged = "Picture container damaged";
constexpr uint32_t kOpaqueGreen = 0xFF00FF00u;

std::optional<int64_t> NumberField(const TGfxHeader& header, const char16_t* name) {
    auto it = header.Fields.find(name);
    if (it == header.Fields.end()) return std::nullopt;
    return TryStrToInt64(it->second);
}
}  // namespace

std::optional<TGfxHeader> ReadGfxHeader(const uint8_t* data, size_t size) {
    if (size < 4 || std::memcmp(data, "QLGF", 4) != 0) return std::nullopt;
    TByteCursor in(data, size, kGfxDamaged);
    in.Skip(4);
    TGfxHeader header;
    const uint16_t count = in.U16();
    for (uint16_t i = 0; i < count; ++i) {
        const uint16_t nameLength = in.U16();
        const uint8_t* name = in.Take(nameLength);
        const uint16_t valueLength = in.U16();
        const uint8_t* value = in.Take(valueLength);
        header.Fields.emplace(
            FromUtf8(std::string_view(reinterpret_cast<const char*>(name), nameLength)),
            FromUtf8(std::string_view(reinterpret_cast<const char*>(value), valueLength)));
    }
    const auto width = NumberField(header, u"Width"), height = NumberField(header, u"Height");
    const auto original = NumberField(header, u"OriginalSize");
    if (!header.Fields.count(u"File") || !width || !height || !original)
        throw EImageError(kGfxDamaged);
    CheckImageSize(*width, *height);
    // The payload is a BMP of the announced size: at most four bytes a pixel
    // plus headers and a palette.
    const int64_t most = std::min(*width * *height * 4 + 65536, TGfxBitmapStore::kMaxOriginalSize);
    if (*original <= 0 || *original > most) throw EImageError(kGfxDamaged);
    header.Width = int32_t(*width);
    header.Height = int32_t(*height);
    header.OriginalSize = *original;
    header.PayloadOffset = in.Position();
    return header;
}

TGfxBitmapStore::TGfxBitmapStore(std::vector<uint8_t> compressed, int64_t originalSize,
                                 std::u16string sourceFile, int32_t width, int32_t height,
                                 std::u16string name, TTransformHook hook, void* hookContext)
    : TSysBitmapStore({std::move(name), width, height, PfARGB32()}, hook, hookContext),
      m_compressed(std::move(compressed)),
      m_originalSize(originalSize),
      m_sourceFile(std::move(sourceFile)),
      m_width(width),
      m_height(height) {
    SetLevelsRemade();
}

std::unique_ptr<TBitmap> TGfxBitmapStore::DecodePayload() const {
    TMemoryStream packed;
    packed.WriteBuffer(m_compressed.data(), m_compressed.size());
    packed.SetPosition(0);
    TMemoryStream inflated;
    TInflator::Inflate(packed, inflated, m_originalSize, kZlibWindowBits);
    std::unique_ptr<TBitmap> bitmap =
        ReadBmpBitmap(static_cast<const uint8_t*>(inflated.Memory()), size_t(inflated.GetSize()));
    if (!bitmap || bitmap->Width() != m_width || bitmap->Height() != m_height) return nullptr;
    if (bitmap->PixelFormat() == PfARGB32()) return bitmap;
    return CreateBitmap(m_width, m_height, PfARGB32(), {}, bitmap.get());
}

TLevelResult TGfxBitmapStore::DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) {
    if (level != 0) return TLevelResult::Done;
    try {
        out = DecodePayload();
    } catch (const Exception&) {
        out = nullptr;
    }
    if (!out) {
        out = CreateBitmap(m_width, m_height, PfARGB32());
        out->FillRect(out->Bounds(), kOpaqueGreen);
    }
    return TLevelResult::Done;
}

TRef<TBitmapStore> DecodeQlgfx(TStream& stream, const std::u16string& name, TTransformHook hook,
                               void* hookContext) {
    const int64_t start = stream.GetPosition();
    char magic[4];
    if (PeekBytes(stream, magic, 4) != 4 || std::memcmp(magic, "QLGF", 4) != 0) return nullptr;
    try {
        std::vector<uint8_t> data = ReadRemaining(stream, kMaxImageFileBytes);
        std::optional<TGfxHeader> header = ReadGfxHeader(data.data(), data.size());
        if (!header) throw EImageError(kGfxDamaged);
        std::vector<uint8_t> payload(data.begin() + std::ptrdiff_t(header->PayloadOffset),
                                     data.end());
        return MakeRef<TGfxBitmapStore>(std::move(payload), header->OriginalSize,
                                        header->Fields[u"File"], header->Width, header->Height,
                                        name, hook, hookContext);
    } catch (const Exception&) {
        stream.SetPosition(start);
        throw;
    }
}

}  // namespace ql
