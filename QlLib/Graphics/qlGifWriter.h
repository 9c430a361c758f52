// Writing animated GIF files, for tools and generated media.
#pragma once

#include <cstdint>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"

namespace ql {

struct TGifWriteFrame {
    const TBitmap* Bitmap = nullptr;  // any format; all frames of one size
    int32_t DelayMs = 100;            // stored in hundredths, at least 1
};

// Encodes the frames as a GIF89a with one global palette: the 6 x 6 x 6
// colour cube, dithered with a 4 x 4 ordered pattern so that gradients do not
// band, and one transparent entry for pixels below half alpha. Every frame
// covers the whole screen and is cleared before the next one, so frames with
// transparency do not show through each other. loopCount 0 loops for ever.
// Raises EImageError for no frames, frames of unequal or empty size, or a
// side beyond 65535.
std::vector<uint8_t> EncodeGif(const std::vector<TGifWriteFrame>& frames, int32_t loopCount = 0);

}  // namespace ql
