// Writing bitmaps as PNG files, for tools and snapshots.
#pragma once

#include <cstdint>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"

namespace ql {

// Encodes a 24- or 32-bit bitmap (other formats are converted to 32 bits) as
// PNG: RGB without alpha, RGBA with it. Raises EImageError when libpng fails.
std::vector<uint8_t> EncodePng(const TBitmap& bitmap);

}  // namespace ql
