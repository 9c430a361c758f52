// Writing bitmaps as PNG files, for tools and snapshots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"

namespace ql {

// Encodes a 24- or 32-bit bitmap (other formats are converted to 32 bits) as
// PNG: RGB without alpha, RGBA with it. Raises EImageError when libpng fails.
std::vector<uint8_t> EncodePng(const TBitmap& bitmap);
// Writes the bitmap as a PNG file (replacing one of that name); raises
// EImageError or the file stream's error on failure.
void SavePng(const TBitmap& bitmap, const std::u16string& fileName);

}  // namespace ql
