#include "QlLib/Graphics/qlImageTransform.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ql {

std::unique_ptr<TBitmap> HalveBitmap(const TBitmap& source, const TProgressHandler& progress) {
    const int32_t bpp = source.BytesPerPixel();
    QL_ASSERT(bpp == 3 || bpp == 4, "HalveBitmap - 24 or 32 bits expected");
    const int32_t sw = source.Width(), sh = source.Height();
    const int32_t dw = (sw + 1) / 2, dh = (sh + 1) / 2;
    std::unique_ptr<TBitmap> target = CreateBitmap(dw, dh, source.PixelFormat());
    // The vertical 1 2 1 pass of three source rows, per byte; the horizontal
    // pass then reads it with clamped columns.
    std::vector<uint16_t> column(size_t(sw) * size_t(bpp));
    for (int32_t y = 0; y < dh; ++y) {
        const int32_t cy = 2 * y;
        const uint8_t* up = source.Row(std::max(cy - 1, 0));
        const uint8_t* mid = source.Row(cy);
        const uint8_t* down = source.Row(std::min(cy + 1, sh - 1));
        const size_t rowBytes = size_t(sw) * size_t(bpp);
        for (size_t i = 0; i < rowBytes; ++i) column[i] = uint16_t(up[i] + 2 * mid[i] + down[i]);
        uint8_t* out = target->Row(y);
        for (int32_t x = 0; x < dw; ++x) {
            const int32_t cx = 2 * x;
            const uint16_t* left = &column[size_t(std::max(cx - 1, 0)) * size_t(bpp)];
            const uint16_t* centre = &column[size_t(cx) * size_t(bpp)];
            const uint16_t* right = &column[size_t(std::min(cx + 1, sw - 1)) * size_t(bpp)];
            for (int32_t c = 0; c < bpp; ++c)
                out[size_t(x) * size_t(bpp) + size_t(c)] = uint8_t((left[c] + 2 * centre[c] + right[c]) >> 4);
        }
        if (progress && !progress(float(y + 1) / float(dh))) return nullptr;
    }
    return target;
}

std::unique_ptr<TBitmap> OrientBitmap(const TBitmap& source, TImageOrientation orientation) {
    const int32_t w = source.Width(), h = source.Height();
    const size_t bpp = size_t(source.BytesPerPixel());
    const bool quarter = SwapsSides(orientation);
    std::unique_ptr<TBitmap> target =
        CreateBitmap(quarter ? h : w, quarter ? w : h, source.PixelFormat());
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* row = source.Row(y);
        for (int32_t x = 0; x < w; ++x) {
            int32_t tx = x, ty = y;
            switch (orientation) {
                case TImageOrientation::Rotate180: tx = w - 1 - x; ty = h - 1 - y; break;
                // Clockwise: the left column becomes the top row, read bottom up.
                case TImageOrientation::RotateClockwise: tx = h - 1 - y; ty = x; break;
                case TImageOrientation::RotateCounterClockwise: tx = y; ty = w - 1 - x; break;
                case TImageOrientation::None: break;
            }
            std::memcpy(target->Row(ty) + size_t(tx) * bpp, row + size_t(x) * bpp, bpp);
        }
    }
    return target;
}

}  // namespace ql
