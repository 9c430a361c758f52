// The demo's drawn artwork: a logo with soft, transparent edges and the
// frames of a small looping animation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"

namespace orb::demo {

// A shaded orb circled by a ring, on a transparent ground, as "A8R8G8B8"
// with straight alpha: opaque in the middle, fading out through a glow.
std::unique_ptr<ql::TBitmap> PaintLogo(int32_t size);

// Frame `frame` of `frames` of a spinner: a wheel of coloured dots whose
// brightest dot walks round once per loop; transparent around the dots.
std::unique_ptr<ql::TBitmap> PaintSpinnerFrame(int32_t size, int32_t frame, int32_t frames);

// The button theme "pill": a sheet of three tiles side by side (normal, hover,
// click), each a rounded glass pill squeezed to kPillTileWidth x
// kPillTileHeight whose middle column is the one a face stretches.
inline constexpr int32_t kPillCorner = 16;
inline constexpr int32_t kPillTileWidth = 2 * kPillCorner + 1;
inline constexpr int32_t kPillTileHeight = 44;
std::unique_ptr<ql::TBitmap> PaintPillTheme();
// The theme's description naming the sheet `picture`: the nine parts of each
// state and the caption's colour.
std::string PillThemeDescription(const std::string& picture);

}  // namespace orb::demo
