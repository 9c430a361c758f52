// Bitmaps whose rows live elsewhere: reached through an array of row
// pointers, top row first, that the bitmap does not allocate itself.
#pragma once

#include <memory>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"

namespace ql {

using TScanLines = std::vector<uint8_t*>;

class TSysBitmap : public TBitmap {
public:
    TSysBitmap(int32_t width, int32_t height, const TPixelFormat* format, TScanLines rows);
    TBitmapClass BitmapClass() const override { return TBitmapClass::SysBitmap; }
    uint8_t* Row(int32_t y) override { return m_rows[size_t(y)]; }
    using TBitmap::Row;
    const TScanLines& ScanLines() const { return m_rows; }

    // Clips the count to the row and to the buffer instead of asserting.
    int64_t GetPixels(int32_t x, int32_t y, int32_t n, uint8_t* buffer, int64_t bufferSize,
                      int64_t offset) const override;

private:
    TScanLines m_rows;
};

// Rows pointing into memory of another object, which it frees when given.
class TRefBitmap : public TSysBitmap {
public:
    TRefBitmap(int32_t width, int32_t height, const TPixelFormat* format, TScanLines rows,
               std::unique_ptr<TObj> owned = nullptr);
    TBitmapClass BitmapClass() const override { return TBitmapClass::RefBitmap; }

protected:
    std::unique_ptr<TObj> m_owned;
};

// A rectangle of another bitmap's rows, clipped to that bitmap.
class TCropBitmap : public TRefBitmap {
public:
    // The source must outlive the crop.
    TCropBitmap(TSysBitmap& source, const TRect& rect);
    // The crop owns the source.
    TCropBitmap(std::unique_ptr<TSysBitmap> source, const TRect& rect);
    TBitmapClass BitmapClass() const override { return TBitmapClass::CropBitmap; }

private:
    struct TCrop {
        TRect rect;
        TScanLines rows;
    };
    TCropBitmap(TSysBitmap& source, TCrop crop, std::unique_ptr<TObj> owned);
    static TCrop Clip(TSysBitmap& source, const TRect& rect);
};

// The rows of a TDirectBitmap seen as a TSysBitmap.
class TSysDirectWrapper : public TSysBitmap {
public:
    // The wrapped bitmap must outlive the wrapper.
    explicit TSysDirectWrapper(TDirectBitmap* bitmap);
    // The wrapper owns the bitmap.
    explicit TSysDirectWrapper(std::unique_ptr<TDirectBitmap> bitmap);
    TBitmapClass BitmapClass() const override { return TBitmapClass::SysDirectWrapper; }
    TDirectBitmap& Wrapped() const { return *m_bitmap; }

private:
    static TDirectBitmap& Checked(TDirectBitmap* bitmap);
    static TScanLines RowsOf(TDirectBitmap& bitmap);
    TDirectBitmap* m_bitmap;
    std::unique_ptr<TDirectBitmap> m_owned;
};

}  // namespace ql
