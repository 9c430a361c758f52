// Preset soft-edged masks (rounded rectangle, ellipse) as grey pictures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/Graphics/qlBitmap.h"

namespace orb {

enum : int32_t { msRoundedRect = 0, msEllipse = 1 };

struct TMaskParams {
    int32_t Width = 0, Height = 0;
    int32_t Shape = msRoundedRect;
    float Softness = 0;  // percent
    float Corner = 0;    // percent
};

// "PresetedMask: W:H:SHAPE:SOFTNESS:CORNER", also the mask picture's cache key.
std::u16string MaskParamsText(const TMaskParams& params);
// Fields that are not numbers (or missing) read as 0.
TMaskParams ParseMaskParams(const std::u16string& text);

// The grey of a pixel at distance d from the shape's centre measure, edge at
// r, soft over s pixels inside the edge: 255 inside, 0 outside, a smooth step
// between. With no softness the edge is hard (d = r is outside).
uint8_t MaskGrey(double d, double r, double s);

class TMaskGenerator {
public:
    // An "R8G8B8" grey picture (white = opaque) of the mask's size. Nothing
    // for an empty size or when cancelled (asked after every row).
    std::unique_ptr<ql::TBitmap> Generate(const TMaskParams& params,
                                          const ql::TProgressHandler& progress = {}) const;
    // Mip level `level` of that picture (its MipLevelSize), made at that size
    // and looking like the full picture halved `level` times: a mask named
    // far larger than the screen shows it costs only what is shown. Nothing
    // for an empty size, a level outside 0 .. 30 or when cancelled.
    std::unique_ptr<ql::TBitmap> GenerateLevel(const TMaskParams& params, int32_t level,
                                               const ql::TProgressHandler& progress = {}) const;
    // The same shape into one byte per pixel, for callers that want only the
    // coverage (shape shadows). Same rules as Generate.
    std::unique_ptr<ql::TBitmap> GenerateAlpha(const TMaskParams& params,
                                               const ql::TProgressHandler& progress = {}) const;
};

}  // namespace orb
