// Device-independent bitmaps: one block of bottom-up rows padded to four
// bytes, the layout that windows' off-screen pictures and printing use.
#pragma once

#include <memory>

#include "QlLib/Graphics/SysBitmap.h"

namespace ql {

class TFastDIB : public TObj {
public:
    // bitsPerPixel is 8, 15, 16, 24 or 32 (assertion otherwise).
    TFastDIB(int32_t width, int32_t height, int32_t bitsPerPixel);
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    int32_t BitsPerPixel() const { return m_bitsPerPixel; }
    int64_t Stride() const { return m_stride; }
    // Row 0 is the bottom line of the picture.
    uint8_t* DibRow(int32_t i) { return m_bits.get() + int64_t(i) * m_stride; }

private:
    int32_t m_width, m_height, m_bitsPerPixel;
    int64_t m_stride;
    std::unique_ptr<uint8_t[]> m_bits;
};

// A DIB seen top-down: row i is DIB row (height - 1 - i).
class TDibBitmap : public TSysBitmap {
public:
    // The DIB must outlive the bitmap.
    explicit TDibBitmap(TFastDIB* dib);
    // The bitmap owns the DIB.
    explicit TDibBitmap(std::unique_ptr<TFastDIB> dib);
    TBitmapClass BitmapClass() const override { return TBitmapClass::DibBitmap; }
    TFastDIB& Dib() const { return *m_dib; }

private:
    static TScanLines RowsOf(TFastDIB& dib);
    TFastDIB* m_dib;
    std::unique_ptr<TFastDIB> m_owned;
};

}  // namespace ql
