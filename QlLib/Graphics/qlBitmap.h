// Bitmaps: pixels reachable as rows (top row first), each row holding width
// pixels packed at the format's bytes per pixel. Rows need not be contiguous.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpExceptions.h"

namespace ql {

// Right and bottom are exclusive.
struct TRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

struct TPoint {
    int32_t x = 0, y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

TRect IntersectRect(const TRect& a, const TRect& b);

// Takes the fraction done (0 to 1); answers whether to go on.
using TProgressHandler = std::function<bool(float)>;

// Raised when a bitmap's size is beyond what the player ever allocates.
QL_COMMON_EXCEPTION(EBitmapError, TCommonException);

// Bitmap sides are bounded so that source coordinates fit the drawers' 16.16
// fixed point, and the pixel memory of one bitmap is bounded as a whole.
constexpr int32_t kMaxBitmapSide = 65535;
constexpr int64_t kMaxBitmapBytes = int64_t(1) << 30;

// Bytes of a row of width pixels; raises EBitmapError beyond the bounds.
int64_t CheckedRowBytes(int64_t width, int64_t bytesPerPixel);
// Bytes of width x height pixels; raises EBitmapError beyond the bounds.
int64_t CheckedBitmapBytes(int64_t width, int64_t height, int64_t bytesPerPixel);

// The mip level for a picture shown at wanted size: the smallest level (each
// level halves the one above, rounding up) that is still at least the wanted
// size in both directions; 0 when the picture is not larger than asked.
int32_t ChooseMipLevel(int32_t width, int32_t height, int32_t wantedWidth, int32_t wantedHeight);
// The size of a mip level.
TPoint MipLevelSize(int32_t width, int32_t height, int32_t level);

// The classes the factory can be asked for; Any lets the factory choose.
enum class TBitmapClass { Any, Bitmap, DirectBitmap, SysBitmap, RefBitmap, CropBitmap, SysDirectWrapper, DibBitmap };

// True when wanted is cls itself or one of its ancestors.
bool IsClassOrAncestor(TBitmapClass wanted, TBitmapClass cls);

struct TFColor {
    uint8_t b, g, r;
};

class TBitmap : public TObj {
public:
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    const TPixelFormat* PixelFormat() const { return m_format; }
    int32_t BytesPerPixel() const { return m_format->BytesPerPixel(); }
    TRect Bounds() const { return {0, 0, m_width, m_height}; }

    const TProgressHandler& Progress() const { return m_progress; }
    void SetProgress(TProgressHandler handler) { m_progress = std::move(handler); }

    virtual TBitmapClass BitmapClass() const = 0;

    virtual uint8_t* Row(int32_t y) = 0;
    const uint8_t* Row(int32_t y) const { return const_cast<TBitmap*>(this)->Row(y); }

    // A new bitmap of the same class (or the nearest class the factory makes),
    // size and format with all pixels copied.
    std::unique_ptr<TBitmap> Clone() const;

    // Copies up to n pixels of row y from column x into buffer + offset;
    // returns the number of bytes written.
    virtual int64_t GetPixels(int32_t x, int32_t y, int32_t n, uint8_t* buffer, int64_t bufferSize,
                              int64_t offset) const;
    // The typed forms: buffer holds bufferCount items, written from index on.
    void GetPixels8(int32_t x, int32_t y, int32_t n, uint8_t* buffer, int64_t bufferCount, int64_t index) const;
    void GetPixels16(int32_t x, int32_t y, int32_t n, uint16_t* buffer, int64_t bufferCount, int64_t index) const;
    void GetPixels24(int32_t x, int32_t y, int32_t n, TFColor* buffer, int64_t bufferCount, int64_t index) const;
    void GetPixels32(int32_t x, int32_t y, int32_t n, uint32_t* buffer, int64_t bufferCount, int64_t index) const;

    // Copies a rectangle of source to dst, converting formats. Returns false
    // when the progress handler cancelled the copy part way.
    virtual bool CopyRect(const TRect& srcRect, const TBitmap& source, TPoint dst);

    // Fills the part of rect inside the bitmap with an "A8R8G8B8" colour.
    virtual void FillRect(const TRect& rect, uint32_t colour);

protected:
    TBitmap(int32_t width, int32_t height, const TPixelFormat* format);
    // Calls the progress handler; true (go on) without one.
    bool ReportProgress(float fraction) const { return !m_progress || m_progress(fraction); }
    // Fills with one pixel already in the bitmap's format, by block copies.
    void FillRectWithPixel(const TRect& rect, const uint8_t* pixel);

private:
    void GetPixelsTyped(const char* name, int32_t size, int32_t x, int32_t y, int32_t n, void* buffer,
                        int64_t bufferCount, int64_t index) const;

    int32_t m_width;
    int32_t m_height;
    const TPixelFormat* m_format;
    TProgressHandler m_progress;
};

// Owns one separately allocated row per line.
class TDirectBitmap : public TBitmap {
public:
    TDirectBitmap(int32_t width, int32_t height, const TPixelFormat* format);
    TBitmapClass BitmapClass() const override { return TBitmapClass::DirectBitmap; }
    uint8_t* Row(int32_t y) override { return m_rows[size_t(y)].get(); }
    using TBitmap::Row;
    // One-byte formats take the average of the three colour bytes; all other
    // formats go through the converter, so 16-bit and reversed-order formats
    // keep red and blue where their names put them.
    void FillRect(const TRect& rect, uint32_t colour) override;

private:
    std::vector<std::unique_ptr<uint8_t[]>> m_rows;
};

// Creates a bitmap of the wanted class (Any: the factory's choice), with the
// progress handler and, when source is given, all of source copied in.
// Returns nullptr when no factory makes that class.
std::unique_ptr<TBitmap> CreateBitmap(int32_t width, int32_t height, const TPixelFormat* format,
                                      TProgressHandler progress = {}, const TBitmap* source = nullptr,
                                      TBitmapClass wanted = TBitmapClass::Any);

// One link of the factory chain: returns nullptr to pass the call down.
using TBitmapFactory = std::unique_ptr<TBitmap> (*)(int32_t width, int32_t height, const TPixelFormat* format,
                                                    TBitmapClass wanted);
// Puts a factory in front of the chain, consulted before all others.
void PushBitmapFactory(TBitmapFactory factory);
// Takes a factory out of the chain again (at the end of its user's life).
void RemoveBitmapFactory(TBitmapFactory factory);

// The links of the built-in chain, first consulted first.
std::unique_ptr<TBitmap> FastDibBitmapFactory(int32_t width, int32_t height, const TPixelFormat* format,
                                              TBitmapClass wanted);
std::unique_ptr<TBitmap> SysBitmapFactory(int32_t width, int32_t height, const TPixelFormat* format,
                                          TBitmapClass wanted);
std::unique_ptr<TBitmap> DirectBitmapFactory(int32_t width, int32_t height, const TPixelFormat* format,
                                             TBitmapClass wanted);

}  // namespace ql
