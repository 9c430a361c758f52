#include "QlLib/Graphics/FastDIB.h"

namespace ql {

TFastDIB::TFastDIB(int32_t width, int32_t height, int32_t bitsPerPixel)
    : m_width(width), m_height(height), m_bitsPerPixel(bitsPerPixel) {
    QL_ASSERT(bitsPerPixel == 8 || bitsPerPixel == 15 || bitsPerPixel == 16 || bitsPerPixel == 24 ||
                  bitsPerPixel == 32,
              "Unsupported DIB depth");
    const int64_t bytesPerPixel = (bitsPerPixel + 7) / 8;
    m_stride = (CheckedRowBytes(width, bytesPerPixel) + 3) & ~int64_t(3);
    CheckedBitmapBytes(m_stride, height, 1);
    m_bits = std::make_unique<uint8_t[]>(size_t(m_stride * height));
}

TScanLines TDibBitmap::RowsOf(TFastDIB& dib) {
    TScanLines rows;
    rows.reserve(size_t(dib.Height()));
    for (int32_t i = 0; i < dib.Height(); ++i) rows.push_back(dib.DibRow(dib.Height() - 1 - i));
    return rows;
}

TDibBitmap::TDibBitmap(TFastDIB* dib)
    : TSysBitmap(dib->Width(), dib->Height(), PixelFormatOfDepth(dib->BitsPerPixel()), RowsOf(*dib)), m_dib(dib) {
    const int32_t bits = PixelFormat()->BitsPerPixel();
    QL_ASSERT(bits == dib->BitsPerPixel() || (bits == 16 && dib->BitsPerPixel() == 15),
              "Pixel Formats Not Compatible");
}

TDibBitmap::TDibBitmap(std::unique_ptr<TFastDIB> dib) : TDibBitmap(dib.get()) { m_owned = std::move(dib); }

std::unique_ptr<TBitmap> FastDibBitmapFactory(int32_t width, int32_t height, const TPixelFormat* format,
                                              TBitmapClass wanted) {
    if (wanted != TBitmapClass::DibBitmap || format == nullptr) return nullptr;
    const int32_t bits = format->BitsPerPixel();
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
    if (PixelFormatOfDepth(bits) != format) return nullptr;
    return std::make_unique<TDibBitmap>(std::make_unique<TFastDIB>(width, height, bits));
}

}  // namespace ql
