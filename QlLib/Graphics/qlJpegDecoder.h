// JPEG pictures through libjpeg: levels 0 to 3 are decoded at scale 1/1 to
// 1/8 (the library scales inside its inverse DCT, so a small level costs a
// fraction of the whole picture); deeper levels are halved from level 3.
#pragma once

#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpFileStream.h"

namespace ql {

class TJpegBitmapStore : public TSysBitmapStore {
public:
    // Reads the header; raises EImageError ("JPEG error #N") when the library
    // rejects it, or for a picture without pixels.
    TJpegBitmapStore(std::vector<uint8_t> data, std::u16string name, TTransformHook hook, void* hookContext);

    // The deepest level the library decodes directly.
    static constexpr int32_t kMaxScaledLevel = 3;

protected:
    TLevelResult DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) override;
    TLevelResult DecodeLevelAs(int32_t level, const TPixelFormat* wanted, std::unique_ptr<TBitmap>& out) override;

private:
    static TImageParams ReadParams(const std::vector<uint8_t>& data, std::u16string name);
    std::vector<uint8_t> m_data;
};

// The registry's JPEG decoder ("winJpegLoader").
TRef<TBitmapStore> DecodeJpeg(TStream& stream, const std::u16string& name, TTransformHook hook,
                              void* hookContext);

}  // namespace ql
