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

// The button theme "pill": one picture per state (0 normal, 1 hover, 2
// click), a rounded glass pill squeezed to kPillTileWidth x kPillTileHeight
// whose middle column is the one a face stretches. Faces take the left and
// top parts from where they lie in their picture, so each state has its own.
inline constexpr int32_t kPillCorner = 16;
inline constexpr int32_t kPillTileWidth = 2 * kPillCorner + 1;
inline constexpr int32_t kPillTileHeight = 44;
std::unique_ptr<ql::TBitmap> PaintPillState(int32_t state);
// The pictures of the three states, as the description names them.
inline const char* const kPillPictures[3] = {"pill-normal.png", "pill-hover.png", "pill-click.png"};
// The theme's description: the nine parts of each state and the caption's colour.
std::string PillThemeDescription();

}  // namespace orb::demo
