// Writing bitmaps as JPEG files, for tools and generated media.
#pragma once

#include <cstdint>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"

namespace ql {

// Encodes a bitmap as a baseline JPEG of the given quality (clamped to 1 ..
// 100). Formats other than "R8G8B8" are converted first and alpha is dropped.
// Raises EImageError when libjpeg fails.
std::vector<uint8_t> EncodeJpeg(const TBitmap& bitmap, int32_t quality = 90);

}  // namespace ql
