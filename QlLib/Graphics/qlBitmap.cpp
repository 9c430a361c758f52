#include "QlLib/Graphics/qlBitmap.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace ql {

TRect IntersectRect(const TRect& a, const TRect& b) {
    TRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
    if (r.IsEmpty()) return {};
    return r;
}

int64_t CheckedRowBytes(int64_t width, int64_t bytesPerPixel) {
    if (width < 1 || width > kMaxBitmapSide || bytesPerPixel < 1 || bytesPerPixel > 8)
        throw EBitmapError("Bitmap size out of range");
    return width * bytesPerPixel;
}

int64_t CheckedBitmapBytes(int64_t width, int64_t height, int64_t bytesPerPixel) {
    const int64_t row = CheckedRowBytes(width, bytesPerPixel);
    if (height < 1 || height > kMaxBitmapSide || row * height > kMaxBitmapBytes)
        throw EBitmapError("Bitmap size out of range");
    return row * height;
}

int32_t ChooseMipLevel(int32_t width, int32_t height, int32_t wantedWidth, int32_t wantedHeight) {
    if (wantedWidth <= 0 || wantedHeight <= 0) return 0;
    int32_t halvings = 0;
    int64_t w = width, h = height;
    while (w > wantedWidth && h > wantedHeight) {
        w = (w + 1) / 2;
        h = (h + 1) / 2;
        ++halvings;
    }
    return std::max(halvings - 1, 0);
}

TPoint MipLevelSize(int32_t width, int32_t height, int32_t level) {
    int64_t w = width, h = height;
    for (int32_t i = 0; i < level && (w > 1 || h > 1); ++i) {
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    return {int32_t(w), int32_t(h)};
}

bool IsClassOrAncestor(TBitmapClass wanted, TBitmapClass cls) {
    if (wanted == cls || wanted == TBitmapClass::Bitmap) return true;
    switch (cls) {
        case TBitmapClass::RefBitmap:
        case TBitmapClass::SysDirectWrapper:
        case TBitmapClass::DibBitmap: return wanted == TBitmapClass::SysBitmap;
        case TBitmapClass::CropBitmap:
            return wanted == TBitmapClass::SysBitmap || wanted == TBitmapClass::RefBitmap;
        default: return false;
    }
}

TBitmap::TBitmap(int32_t width, int32_t height, const TPixelFormat* format)
    : m_width(width), m_height(height), m_format(format) {
    QL_ASSERT(format != nullptr && width >= 0 && height >= 0, "Assertion failure");
}

std::unique_ptr<TBitmap> TBitmap::Clone() const {
    TBitmapClass cls = BitmapClass();
    // Borrowed and cropped rows belong to another object; a copy of them gets
    // rows of its own, through the nearest class the factory makes.
    if (cls == TBitmapClass::RefBitmap || cls == TBitmapClass::CropBitmap) cls = TBitmapClass::SysBitmap;
    return CreateBitmap(m_width, m_height, m_format, m_progress, this, cls);
}

int64_t TBitmap::GetPixels(int32_t x, int32_t y, int32_t n, uint8_t* buffer, int64_t bufferSize,
                           int64_t offset) const {
    QL_ASSERT(x >= 0 && y >= 0 && x < m_width && y < m_height, ClassName() + ".GetPixels (X,Y) out of Bitmap.Size");
    QL_ASSERT(offset >= 0, ClassName() + ".GetPixels - Offset out of Bounds");
    const int64_t count = std::clamp<int64_t>(n, 0, m_width - x);
    const int64_t bytes = count * BytesPerPixel();
    QL_ASSERT(bufferSize - offset >= bytes, ClassName() + ".GetPixels - Not Enought Pixel Buffer Space");
    if (bytes > 0) std::memcpy(buffer + offset, Row(y) + int64_t(x) * BytesPerPixel(), size_t(bytes));
    return bytes;
}

void TBitmap::GetPixelsTyped(const char* name, int32_t size, int32_t x, int32_t y, int32_t n, void* buffer,
                             int64_t bufferCount, int64_t index) const {
    QL_ASSERT(BytesPerPixel() == size, "Assertion failure");
    QL_ASSERT(x >= 0 && y >= 0 && n >= 0 && y < m_height && int64_t(x) + n <= m_width,
              ClassName() + "." + name + " out of Bitmap.Size");
    QL_ASSERT(index >= 0 && index + n <= bufferCount, ClassName() + "." + name + " - Out of Pixel Buffer Bounds");
    if (n > 0)
        std::memcpy(static_cast<uint8_t*>(buffer) + index * size, Row(y) + int64_t(x) * size, size_t(n) * size);
}

void TBitmap::GetPixels8(int32_t x, int32_t y, int32_t n, uint8_t* buffer, int64_t bufferCount, int64_t index) const {
    GetPixelsTyped("GetPixels8", 1, x, y, n, buffer, bufferCount, index);
}
void TBitmap::GetPixels16(int32_t x, int32_t y, int32_t n, uint16_t* buffer, int64_t bufferCount,
                          int64_t index) const {
    GetPixelsTyped("GetPixels16", 2, x, y, n, buffer, bufferCount, index);
}
void TBitmap::GetPixels24(int32_t x, int32_t y, int32_t n, TFColor* buffer, int64_t bufferCount,
                          int64_t index) const {
    static_assert(sizeof(TFColor) == 3);
    GetPixelsTyped("GetPixels24", 3, x, y, n, buffer, bufferCount, index);
}
void TBitmap::GetPixels32(int32_t x, int32_t y, int32_t n, uint32_t* buffer, int64_t bufferCount,
                          int64_t index) const {
    GetPixelsTyped("GetPixels32", 4, x, y, n, buffer, bufferCount, index);
}

bool TBitmap::CopyRect(const TRect& srcRect, const TBitmap& source, TPoint dst) {
    // Clip against the source; a left or top moved inward moves the
    // destination point with it, and then the other way round.
    TRect s = srcRect;
    if (s.left < 0) { dst.x -= s.left; s.left = 0; }
    if (s.top < 0) { dst.y -= s.top; s.top = 0; }
    s.right = std::min(s.right, source.Width());
    s.bottom = std::min(s.bottom, source.Height());
    if (dst.x < 0) { s.left -= dst.x; dst.x = 0; }
    if (dst.y < 0) { s.top -= dst.y; dst.y = 0; }
    const int64_t w = std::min<int64_t>(int64_t(s.right) - s.left, int64_t(m_width) - dst.x);
    const int64_t h = std::min<int64_t>(int64_t(s.bottom) - s.top, int64_t(m_height) - dst.y);
    if (w <= 0 || h <= 0) return true;

    const TPixelFormat& sf = *source.PixelFormat();
    TPixelConverter* converter = &sf == m_format ? nullptr : FindConvertor(*m_format, sf);
    const int64_t sbpp = sf.BytesPerPixel(), dbpp = BytesPerPixel();
    // A copy within one bitmap downward walks bottom-up so rows are read before
    // they are overwritten.
    const bool upward = &source == this && dst.y > s.top;
    bool cancelled = false;
    for (int64_t i = 0; i < h; ++i) {
        if (!ReportProgress(float(i) / float(h))) {
            cancelled = true;
            break;
        }
        const int64_t row = upward ? h - 1 - i : i;
        const uint8_t* from = source.Row(int32_t(s.top + row)) + s.left * sbpp;
        uint8_t* to = Row(int32_t(dst.y + row)) + dst.x * dbpp;
        if (converter) converter->Convert(to, from, int32_t(w));
        else std::memmove(to, from, size_t(w * dbpp));
    }
    ReportProgress(1.0f);
    return !cancelled;
}

void TBitmap::FillRect(const TRect& rect, uint32_t colour) {
    const uint8_t argb[4] = {uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16), uint8_t(colour >> 24)};
    uint8_t pixel[8] = {};
    FindConvertor(*m_format, *PfARGB32())->Convert(pixel, argb, 1);
    FillRectWithPixel(rect, pixel);
}

void TBitmap::FillRectWithPixel(const TRect& rect, const uint8_t* pixel) {
    const TRect r = IntersectRect(rect, Bounds());
    if (!r.IsEmpty()) {
        constexpr int64_t kPatternBytes = 3072;
        const int64_t bpp = BytesPerPixel();
        uint8_t pattern[kPatternBytes];
        const int64_t patternPixels = std::min<int64_t>(r.Width(), kPatternBytes / bpp);
        std::memcpy(pattern, pixel, size_t(bpp));
        for (int64_t filled = 1; filled < patternPixels;) {
            const int64_t more = std::min(filled, patternPixels - filled);
            std::memcpy(pattern + filled * bpp, pattern, size_t(more * bpp));
            filled += more;
        }
        const int64_t rowBytes = int64_t(r.Width()) * bpp, patternBytes = patternPixels * bpp;
        for (int32_t y = r.top; y < r.bottom; ++y) {
            uint8_t* to = Row(y) + int64_t(r.left) * bpp;
            for (int64_t done = 0; done < rowBytes; done += patternBytes)
                std::memcpy(to + done, pattern, size_t(std::min(patternBytes, rowBytes - done)));
        }
    }
    ReportProgress(1.0f);
}

TDirectBitmap::TDirectBitmap(int32_t width, int32_t height, const TPixelFormat* format)
    : TBitmap(std::max(width, 0), std::max(height, 0), format) {
    QL_ASSERT(width > 0 && height > 0, "Assertion failure");
    CheckedBitmapBytes(width, height, format->BytesPerPixel());
    const int64_t rowBytes = CheckedRowBytes(width, format->BytesPerPixel());
    m_rows.reserve(size_t(height));
    for (int32_t y = 0; y < height; ++y) m_rows.push_back(std::make_unique<uint8_t[]>(size_t(rowBytes)));
}

void TDirectBitmap::FillRect(const TRect& rect, uint32_t colour) {
    if (BytesPerPixel() == 1) {
        const uint8_t grey = uint8_t(((colour & 0xFF) + ((colour >> 8) & 0xFF) + ((colour >> 16) & 0xFF)) / 3);
        FillRectWithPixel(rect, &grey);
        return;
    }
    TBitmap::FillRect(rect, colour);
}

// --- factory chain --------------------------------------------------------

std::unique_ptr<TBitmap> DirectBitmapFactory(int32_t width, int32_t height, const TPixelFormat* format,
                                             TBitmapClass wanted) {
    if (wanted != TBitmapClass::DirectBitmap && wanted != TBitmapClass::Bitmap) return nullptr;
    return std::make_unique<TDirectBitmap>(width, height, format);
}

namespace {

// The chain is built on first use rather than by static constructors of each
// unit: objects of a static library that nobody references are left out of
// the program, and their constructors with them.
struct TFactoryChain {
    std::mutex lock;  // guards factories
    std::vector<TBitmapFactory> factories{FastDibBitmapFactory, SysBitmapFactory, DirectBitmapFactory};
};

TFactoryChain& Chain() {
    static TFactoryChain chain;
    return chain;
}

}  // namespace

void PushBitmapFactory(TBitmapFactory factory) {
    std::lock_guard lock(Chain().lock);
    Chain().factories.insert(Chain().factories.begin(), factory);
}

void RemoveBitmapFactory(TBitmapFactory factory) {
    std::lock_guard lock(Chain().lock);
    auto& f = Chain().factories;
    const auto it = std::find(f.begin(), f.end(), factory);
    if (it != f.end()) f.erase(it);
}

std::unique_ptr<TBitmap> CreateBitmap(int32_t width, int32_t height, const TPixelFormat* format,
                                      TProgressHandler progress, const TBitmap* source, TBitmapClass wanted) {
    std::vector<TBitmapFactory> factories;
    {
        std::lock_guard lock(Chain().lock);
        factories = Chain().factories;
    }
    std::unique_ptr<TBitmap> result;
    for (TBitmapFactory f : factories)
        if ((result = f(width, height, format, wanted))) break;
    if (!result) return nullptr;
    result->SetProgress(std::move(progress));
    if (source) result->CopyRect(source->Bounds(), *source, {0, 0});
    return result;
}

}  // namespace ql
