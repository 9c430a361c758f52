// Photo-like landscapes painted from fractal noise: a sky gradient with
// clouds and a sun, ranges of hills fading into the distance, optional pines
// and a lake that mirrors what stands above it.
#pragma once

#include <cstdint>
#include <memory>

#include "QlLib/Graphics/qlBitmap.h"

namespace orb::demo {

struct TRgb {
    float r = 0, g = 0, b = 0;  // 0 .. 255
};

struct TLandscapeSpec {
    const char* Name = "";
    int32_t Width = 800;
    int32_t Height = 600;
    uint32_t Seed = 1;
    TRgb SkyTop, SkyHorizon;
    TRgb Sun;
    float SunX = 0.7f, SunY = 0.3f;  // fractions of width and height
    float SunRadius = 0.04f;         // fraction of the height
    float Clouds = 0.4f;             // 0 clear .. 1 overcast
    bool Stars = false;
    float Horizon = 0.5f;            // where the farthest ridge stands, fraction of the height
    int32_t HillLayers = 3;
    TRgb FarHill, NearHill;
    float Water = 1.0f;              // where the lake begins, fraction of the height; 1: none
    TRgb WaterTint;
    int32_t Pines = 0;               // pines along the nearest ridge
};

// Paints the landscape into a new "R8G8B8" bitmap; the same spec always gives
// the same pixels.
std::unique_ptr<ql::TBitmap> PaintLandscape(const TLandscapeSpec& spec);

}  // namespace orb::demo
