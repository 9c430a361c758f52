// Drawing the bar pictures: every bitmap here is "A8R8G8B8" with straight
// (not premultiplied) alpha, as pictures come from their files. The bars are
// small and redraw only on a state change, so plain loops do.
#pragma once

#include <cstdint>
#include <memory>

#include "QlLib/Graphics/qlBitmap.h"

namespace orb::nav {

// A cleared (transparent black) 32-bit bitmap; sides are brought into 1..kMaxBarSide.
constexpr int32_t kMaxBarSide = 8192;
std::unique_ptr<ql::TBitmap> NewBarBitmap(int32_t width, int32_t height);

// The part of rect that lies inside the picture.
ql::TRect ClipToPicture(const ql::TRect& rect, const ql::TBitmap& picture);

// Draws srcRect of src over dstRect of dst, stretched (nearest pixel), blended
// source-over; gray turns the source to its luminance first, and opacity
// (0..255) scales its alpha. Empty or off-picture rectangles draw nothing.
void DrawStretched(ql::TBitmap& dst, const ql::TRect& dstRect, const ql::TBitmap& src,
                   const ql::TRect& srcRect, bool gray = false, uint8_t opacity = 255);
// Repeats srcRect of src over dstRect from its top left corner, unscaled.
void DrawTiled(ql::TBitmap& dst, const ql::TRect& dstRect, const ql::TBitmap& src,
               const ql::TRect& srcRect);
// Stretches srcRect over dstRect horizontally while its left and right
// margins keep their width (a narrow target shares its width between them).
void DrawThreeSlice(ql::TBitmap& dst, const ql::TRect& dstRect, const ql::TBitmap& src,
                    const ql::TRect& srcRect, int32_t leftMargin, int32_t rightMargin);
// Clears rect (inside the bitmap) to transparent.
void ClearRect(ql::TBitmap& dst, const ql::TRect& rect);

// A bitmap shrunk to width x height with the box filter: each target pixel is
// the alpha-weighted mean of the source pixels its area covers.
std::unique_ptr<ql::TBitmap> BoxResample(const ql::TBitmap& src, int32_t width, int32_t height);
// The next halving of a 32-bit bitmap: ((w + 1) / 2) x ((h + 1) / 2), each pixel
// the mean of its 2 x 2 block (edges repeated).
std::unique_ptr<ql::TBitmap> HalveBar(const ql::TBitmap& src);

}  // namespace orb::nav
