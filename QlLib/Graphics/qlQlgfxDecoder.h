// The authoring tool's picture container (".qlgfx", magic "QLGF"): a few named
// text fields, then a zlib-compressed BMP. Decoding waits for the first request.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpFileStream.h"

namespace ql {

class TGfxBitmapStore : public TSysBitmapStore {
public:
    // A container claiming a larger inflated payload than this is refused: no
    // picture within the size bounds needs more.
    static constexpr int64_t kMaxOriginalSize = kMaxBitmapBytes + 65536;

    TGfxBitmapStore(std::vector<uint8_t> compressed, int64_t originalSize,
                    std::u16string sourceFile, int32_t width, int32_t height, std::u16string name,
                    TTransformHook hook, void* hookContext);

    // The "File" field: the picture the container was made from.
    const std::u16string& SourceFile() const { return m_sourceFile; }

protected:
    // A payload that does not inflate or decode gives an opaque green picture
    // of the announced size instead.
    TLevelResult DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) override;

private:
    std::unique_ptr<TBitmap> DecodePayload() const;
    std::vector<uint8_t> m_compressed;  // kept: the budget may let the picture go and ask again
    int64_t m_originalSize;
    std::u16string m_sourceFile;
    int32_t m_width, m_height;  // as stored, before any turn
};

// The parsed header; nothing when the bytes are not a container, EImageError
// when its fields are missing, non-numeric or out of bounds.
struct TGfxHeader {
    std::unordered_map<std::u16string, std::u16string> Fields;
    int32_t Width = 0, Height = 0;
    int64_t OriginalSize = 0;
    size_t PayloadOffset = 0;
};
std::optional<TGfxHeader> ReadGfxHeader(const uint8_t* data, size_t size);

// The registry's container decoder ("SysGfxLoader").
TRef<TBitmapStore> DecodeQlgfx(TStream& stream, const std::u16string& name, TTransformHook hook,
                               void* hookContext);

}  // namespace ql
