#include "QlLib/Graphics/SysBitmap.h"

#include <algorithm>
#include <cstring>

namespace ql {

TSysBitmap::TSysBitmap(int32_t width, int32_t height, const TPixelFormat* format, TScanLines rows)
    : TBitmap(std::max(width, 0), std::max(height, 0), format), m_rows(std::move(rows)) {
    QL_ASSERT(width >= 0 && height >= 0 && m_rows.size() == size_t(height), "Assertion failure");
}

int64_t TSysBitmap::GetPixels(int32_t x, int32_t y, int32_t n, uint8_t* buffer, int64_t bufferSize,
                              int64_t offset) const {
    QL_ASSERT(x >= 0 && y >= 0 && x < Width() && y < Height(), ClassName() + ".GetPixels (X,Y) out of Bitmap.Size");
    QL_ASSERT(offset >= 0, ClassName() + ".GetPixels - Offset out of Bounds");
    const int64_t bpp = BytesPerPixel();
    const int64_t count = std::max<int64_t>(0, std::min({int64_t(n), int64_t(Width()) - x, (bufferSize - offset) / bpp}));
    if (count > 0) std::memcpy(buffer + offset, Row(y) + x * bpp, size_t(count * bpp));
    return count * bpp;
}

TRefBitmap::TRefBitmap(int32_t width, int32_t height, const TPixelFormat* format, TScanLines rows,
                       std::unique_ptr<TObj> owned)
    : TSysBitmap(width, height, format, std::move(rows)), m_owned(std::move(owned)) {}

TCropBitmap::TCrop TCropBitmap::Clip(TSysBitmap& source, const TRect& rect) {
    TCrop crop{IntersectRect(rect, source.Bounds()), {}};
    QL_ASSERT(!crop.rect.IsEmpty(), "TCropBitmap.Create - Bitmap is Empty");
    const int64_t skip = int64_t(crop.rect.left) * source.BytesPerPixel();
    for (int32_t y = crop.rect.top; y < crop.rect.bottom; ++y) crop.rows.push_back(source.Row(y) + skip);
    return crop;
}

TCropBitmap::TCropBitmap(TSysBitmap& source, TCrop crop, std::unique_ptr<TObj> owned)
    : TRefBitmap(crop.rect.Width(), crop.rect.Height(), source.PixelFormat(), std::move(crop.rows),
                 std::move(owned)) {}

TCropBitmap::TCropBitmap(TSysBitmap& source, const TRect& rect) : TCropBitmap(source, Clip(source, rect), nullptr) {}

TCropBitmap::TCropBitmap(std::unique_ptr<TSysBitmap> source, const TRect& rect)
    : TCropBitmap(*source, Clip(*source, rect), nullptr) {
    m_owned = std::move(source);
}

TDirectBitmap& TSysDirectWrapper::Checked(TDirectBitmap* bitmap) {
    QL_ASSERT(bitmap != nullptr, "TSysDirectWrapper.Create - Bitmap not Assigned");
    QL_ASSERT(bitmap->Width() > 0 && bitmap->Height() > 0, "TSysDirectWrapper.Create - Bitmap is Empty");
    return *bitmap;
}

TScanLines TSysDirectWrapper::RowsOf(TDirectBitmap& bitmap) {
    TScanLines rows;
    rows.reserve(size_t(bitmap.Height()));
    for (int32_t y = 0; y < bitmap.Height(); ++y) rows.push_back(bitmap.Row(y));
    return rows;
}

TSysDirectWrapper::TSysDirectWrapper(TDirectBitmap* bitmap)
    : TSysBitmap(Checked(bitmap).Width(), Checked(bitmap).Height(), Checked(bitmap).PixelFormat(),
                 RowsOf(Checked(bitmap))),
      m_bitmap(bitmap) {}

TSysDirectWrapper::TSysDirectWrapper(std::unique_ptr<TDirectBitmap> bitmap) : TSysDirectWrapper(bitmap.get()) {
    m_owned = std::move(bitmap);
}

std::unique_ptr<TBitmap> SysBitmapFactory(int32_t width, int32_t height, const TPixelFormat* format,
                                          TBitmapClass wanted) {
    if (wanted != TBitmapClass::Any && !IsClassOrAncestor(wanted, TBitmapClass::SysDirectWrapper)) return nullptr;
    return std::make_unique<TSysDirectWrapper>(std::make_unique<TDirectBitmap>(width, height, format));
}

}  // namespace ql
