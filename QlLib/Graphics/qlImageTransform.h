// The per-pixel work of the bitmap stores: halving a level into the next one
// and turning a picture that was stored sideways.
#pragma once

#include <memory>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlBitmapStore.h"

namespace ql {

// The next mip level of a 24- or 32-bit bitmap: ((w + 1) / 2) x ((h + 1) / 2),
// each pixel the 1 2 1 binomial filter in both directions centred on source
// pixel (2x, 2y), edges clamped, every byte channel (alpha too) alike. The
// progress handler is asked per row; nullptr when it said stop.
std::unique_ptr<TBitmap> HalveBitmap(const TBitmap& source, const TProgressHandler& progress = {});

// The bitmap turned; a quarter turn swaps width and height. Any whole-byte format.
std::unique_ptr<TBitmap> OrientBitmap(const TBitmap& source, TImageOrientation orientation);

}  // namespace ql
