#include "OrbLib2/NavPanel/qlNavPaint.h"

#include <algorithm>
#include <cstring>

#include "QlLib/Graphics/qlPixelFormats.h"

namespace orb::nav {

namespace {

inline uint32_t Get(const ql::TBitmap& b, int32_t x, int32_t y) {
    uint32_t p;
    std::memcpy(&p, b.Row(y) + size_t(x) * 4, 4);
    return p;
}

inline void Put(ql::TBitmap& b, int32_t x, int32_t y, uint32_t p) {
    std::memcpy(b.Row(y) + size_t(x) * 4, &p, 4);
}

inline uint32_t Gray(uint32_t p) {
    const uint32_t r = (p >> 16) & 255, g = (p >> 8) & 255, bl = p & 255;
    const uint32_t l = (r * 77 + g * 150 + bl * 29 + 128) >> 8;
    return (p & 0xFF000000u) | (l << 16) | (l << 8) | l;
}

// Source-over with straight alpha on both sides.
inline uint32_t Over(uint32_t d, uint32_t s) {
    const uint32_t sa = s >> 24;
    if (sa == 255) return s;
    if (sa == 0) return d;
    const uint32_t da = d >> 24;
    const uint32_t keep = da * (255 - sa);   // destination weight x 255
    const uint32_t oa255 = sa * 255 + keep;  // out alpha x 255
    uint32_t out = ((oa255 + 127) / 255) << 24;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t sc = (s >> shift) & 255, dc = (d >> shift) & 255;
        const uint32_t c = (sc * sa * 255 + dc * keep + oa255 / 2) / oa255;
        out |= std::min<uint32_t>(c, 255) << shift;
    }
    return out;
}

bool Usable(const ql::TBitmap& b) {
    return b.BytesPerPixel() == 4;
}

}  // namespace

std::unique_ptr<ql::TBitmap> NewBarBitmap(int32_t width, int32_t height) {
    width = std::clamp(width, 1, kMaxBarSide);
    height = std::clamp(height, 1, kMaxBarSide);
    auto bitmap = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfARGB32());
    for (int32_t y = 0; y < height; ++y) std::memset(bitmap->Row(y), 0, size_t(width) * 4);
    return bitmap;
}

ql::TRect ClipToPicture(const ql::TRect& rect, const ql::TBitmap& picture) {
    return ql::IntersectRect(rect, picture.Bounds());
}

void DrawStretched(ql::TBitmap& dst, const ql::TRect& dstRect, const ql::TBitmap& src,
                   const ql::TRect& srcRect, bool gray, uint8_t opacity) {
    const ql::TRect s = ClipToPicture(srcRect, src);
    if (s.IsEmpty() || dstRect.IsEmpty() || !Usable(dst) || !Usable(src) || opacity == 0) return;
    const ql::TRect d = ClipToPicture(dstRect, dst);
    const int64_t dw = dstRect.Width(), dh = dstRect.Height();
    for (int32_t y = d.top; y < d.bottom; ++y) {
        const int32_t sy = s.top + int32_t((int64_t(y - dstRect.top) * s.Height()) / dh);
        for (int32_t x = d.left; x < d.right; ++x) {
            const int32_t sx = s.left + int32_t((int64_t(x - dstRect.left) * s.Width()) / dw);
            uint32_t p = Get(src, sx, sy);
            if (gray) p = Gray(p);
            if (opacity != 255) p = (p & 0x00FFFFFFu) | (((p >> 24) * opacity + 127) / 255) << 24;
            Put(dst, x, y, Over(Get(dst, x, y), p));
        }
    }
}

void DrawTiled(ql::TBitmap& dst, const ql::TRect& dstRect, const ql::TBitmap& src,
               const ql::TRect& srcRect) {
    const ql::TRect s = ClipToPicture(srcRect, src);
    if (s.IsEmpty() || !Usable(dst) || !Usable(src)) return;
    const ql::TRect d = ClipToPicture(dstRect, dst);
    for (int32_t y = d.top; y < d.bottom; ++y) {
        const int32_t sy = s.top + (y - dstRect.top) % s.Height();
        for (int32_t x = d.left; x < d.right; ++x) {
            const int32_t sx = s.left + (x - dstRect.left) % s.Width();
            Put(dst, x, y, Over(Get(dst, x, y), Get(src, sx, sy)));
        }
    }
}

void DrawThreeSlice(ql::TBitmap& dst, const ql::TRect& dstRect, const ql::TBitmap& src,
                    const ql::TRect& srcRect, int32_t leftMargin, int32_t rightMargin) {
    const ql::TRect s = ClipToPicture(srcRect, src);
    if (s.IsEmpty() || dstRect.IsEmpty()) return;
    const int32_t lm = std::clamp(leftMargin, 0, s.Width());
    const int32_t rm = std::clamp(rightMargin, 0, s.Width() - lm);
    int32_t dl = lm, dr = rm;
    const int32_t w = dstRect.Width();
    if (dl + dr > w) {
        // Too narrow for both margins: they share the width in proportion.
        dl = int32_t(int64_t(lm) * w / (lm + rm));
        dr = w - dl;
    }
    const int32_t t = dstRect.top, b = dstRect.bottom;
    DrawStretched(dst, {dstRect.left, t, dstRect.left + dl, b}, src,
                  {s.left, s.top, s.left + lm, s.bottom});
    DrawStretched(dst, {dstRect.left + dl, t, dstRect.right - dr, b}, src,
                  {s.left + lm, s.top, s.right - rm, s.bottom});
    DrawStretched(dst, {dstRect.right - dr, t, dstRect.right, b}, src,
                  {s.right - rm, s.top, s.right, s.bottom});
}

void ClearRect(ql::TBitmap& dst, const ql::TRect& rect) {
    const ql::TRect d = ClipToPicture(rect, dst);
    if (d.IsEmpty() || !Usable(dst)) return;
    for (int32_t y = d.top; y < d.bottom; ++y)
        std::memset(dst.Row(y) + size_t(d.left) * 4, 0, size_t(d.Width()) * 4);
}

std::unique_ptr<ql::TBitmap> BoxResample(const ql::TBitmap& src, int32_t width, int32_t height) {
    auto out = NewBarBitmap(width, height);
    if (!Usable(src) || src.Width() < 1 || src.Height() < 1) return out;
    const int64_t sw = src.Width(), sh = src.Height(), tw = out->Width(), th = out->Height();
    for (int32_t y = 0; y < th; ++y) {
        const int64_t y0 = y * sh / th, y1 = std::max<int64_t>(y0 + 1, (y + 1) * sh / th);
        for (int32_t x = 0; x < tw; ++x) {
            const int64_t x0 = x * sw / tw, x1 = std::max<int64_t>(x0 + 1, (x + 1) * sw / tw);
            uint64_t a = 0, c[3] = {0, 0, 0}, n = 0;
            for (int64_t yy = y0; yy < y1; ++yy)
                for (int64_t xx = x0; xx < x1; ++xx) {
                    const uint32_t p = Get(src, int32_t(xx), int32_t(yy));
                    const uint32_t pa = p >> 24;
                    a += pa;
                    for (int k = 0; k < 3; ++k) c[k] += uint64_t((p >> (8 * k)) & 255) * pa;
                    ++n;
                }
            uint32_t p = uint32_t((a + n / 2) / n) << 24;
            if (a > 0)
                for (int k = 0; k < 3; ++k)
                    p |= uint32_t(std::min<uint64_t>((c[k] + a / 2) / a, 255)) << (8 * k);
            Put(*out, x, y, p);
        }
    }
    return out;
}

std::unique_ptr<ql::TBitmap> HalveBar(const ql::TBitmap& src) {
    return BoxResample(src, (src.Width() + 1) / 2, (src.Height() + 1) / 2);
}

}  // namespace orb::nav
