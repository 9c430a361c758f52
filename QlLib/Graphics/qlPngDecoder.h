// PNG pictures through libpng, standing in for the optional image library:
// the header is read on load, the rows on the first bitmap request.
#pragma once

#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpFileStream.h"

namespace ql {

class TImageLibStore : public TSysBitmapStore {
public:
    // Reads the header; raises EImageError when libpng rejects it.
    TImageLibStore(std::vector<uint8_t> data, std::u16string name, TTransformHook hook,
                   void* hookContext);

protected:
    TLevelResult DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) override;

private:
    static TImageParams ReadParams(const std::vector<uint8_t>& data, std::u16string name);
    std::vector<uint8_t> m_data;  // kept: the budget may let the rows go and ask again
};

// True when the bytes begin with the PNG signature.
bool IsPngSignature(const uint8_t* data, size_t size);

// The registry's PNG decoder ("qlImageLib").
TRef<TBitmapStore> DecodePng(TStream& stream, const std::u16string& name, TTransformHook hook,
                             void* hookContext);

}  // namespace ql
