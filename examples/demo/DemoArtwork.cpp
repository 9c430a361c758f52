#include "examples/demo/DemoArtwork.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orb::demo {

namespace {

float Smooth(float e0, float e1, float x) {
    const float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

struct TRgba {
    float r = 0, g = 0, b = 0, a = 0;  // colour 0 .. 255, alpha 0 .. 1
};

// Straight-alpha "over".
TRgba Over(const TRgba& top, const TRgba& under) {
    const float a = top.a + under.a * (1 - top.a);
    if (a <= 0) return {};
    auto mix = [&](float t, float u) { return (t * top.a + u * under.a * (1 - top.a)) / a; };
    return {mix(top.r, under.r), mix(top.g, under.g), mix(top.b, under.b), a};
}

void Put(ql::TBitmap& bitmap, int32_t x, int32_t y, const TRgba& c) {
    uint8_t* p = bitmap.Row(y) + x * 4;
    auto byte = [](float v) { return uint8_t(std::clamp(v + 0.5f, 0.0f, 255.0f)); };
    p[0] = byte(c.b);
    p[1] = byte(c.g);
    p[2] = byte(c.r);
    p[3] = byte(c.a * 255.0f);
}

// The ring: an ellipse tilted by 20 degrees; front says which half.
TRgba Ring(float dx, float dy, float radius, bool front) {
    const float angle = -20.0f * std::numbers::pi_v<float> / 180.0f;
    const float rx = dx * std::cos(angle) - dy * std::sin(angle);
    const float ry = dx * std::sin(angle) + dy * std::cos(angle);
    if ((ry > 0) != front) return {};
    const float a = radius * 1.3f, b = radius * 0.38f;
    const float e = std::sqrt(rx * rx / (a * a) + ry * ry / (b * b));
    const float band = std::fabs(e - 1.0f) * b;  // roughly the distance in pixels
    const float alpha = Smooth(radius * 0.05f, radius * 0.02f, band);
    return {255, 214, 120, alpha};
}

}  // namespace

std::unique_ptr<ql::TBitmap> PaintLogo(int32_t size) {
    auto bitmap = ql::CreateBitmap(size, size, ql::PfARGB32());
    const float centre = float(size) * 0.5f, radius = float(size) * 0.3f;
    const float lx = -0.45f, ly = -0.55f, lz = 0.70f;  // light from the upper left
    for (int32_t y = 0; y < size; ++y) {
        for (int32_t x = 0; x < size; ++x) {
            const float dx = float(x) + 0.5f - centre, dy = float(y) + 0.5f - centre;
            const float r = std::sqrt(dx * dx + dy * dy);
            // A glow that fades to nothing well inside the picture's edge.
            TRgba pixel{90, 200, 255, 0.45f * Smooth(radius * 1.6f, radius, r)};
            pixel = Over(Ring(dx, dy, radius, false), pixel);
            if (r < radius + 1.5f) {
                const float nx = dx / radius, ny = dy / radius;
                const float nz = std::sqrt(std::max(0.0f, 1 - nx * nx - ny * ny));
                const float diffuse = std::max(0.0f, nx * lx + ny * ly + nz * lz);
                const float spec = std::pow(std::max(0.0f, 2 * diffuse * nz - lz), 24.0f);
                const float depth = (ny + 1) * 0.5f;  // deeper blue towards the bottom
                TRgba orb{20 + 40 * (1 - depth), 90 + 60 * (1 - depth), 170 + 60 * (1 - depth), 1};
                const float shade = 0.25f + 0.85f * diffuse;
                orb.r = orb.r * shade + 255 * spec;
                orb.g = orb.g * shade + 255 * spec;
                orb.b = orb.b * shade + 255 * spec;
                orb.a = Smooth(radius + 1.5f, radius - 1.5f, r);  // anti-aliased rim
                pixel = Over(orb, pixel);
            }
            pixel = Over(Ring(dx, dy, radius, true), pixel);
            Put(*bitmap, x, y, pixel);
        }
    }
    return bitmap;
}

std::unique_ptr<ql::TBitmap> PaintSpinnerFrame(int32_t size, int32_t frame, int32_t frames) {
    auto bitmap = ql::CreateBitmap(size, size, ql::PfARGB32());
    bitmap->FillRect(bitmap->Bounds(), 0x00000000);
    constexpr int32_t kDots = 12;
    const float centre = float(size) * 0.5f, wheel = float(size) * 0.36f;
    for (int32_t i = 0; i < kDots; ++i) {
        const float angle =
            2 * std::numbers::pi_v<float> * float(i) / kDots - std::numbers::pi_v<float> / 2;
        const float cx = centre + wheel * std::cos(angle), cy = centre + wheel * std::sin(angle);
        // How far behind the leading dot this one is, 0 .. 1.
        const float lead = float(frame) * kDots / float(std::max(1, frames));
        const float behind = std::fmod(lead - float(i) + 2 * kDots, float(kDots)) / kDots;
        const float glow = 1.0f - behind;
        const float dotRadius = float(size) * (0.05f + 0.05f * glow);
        // A hue per dot round the wheel.
        const float hue = float(i) / kDots * 6.0f;
        const float r = std::clamp(std::fabs(hue - 3.0f) - 1.0f, 0.0f, 1.0f);
        const float g = std::clamp(2.0f - std::fabs(hue - 2.0f), 0.0f, 1.0f);
        const float b = std::clamp(2.0f - std::fabs(hue - 4.0f), 0.0f, 1.0f);
        const float light = 0.35f + 0.65f * glow;
        const TRgba colour{255 * r * light, 255 * g * light, 255 * b * light, 1};
        const int32_t x0 = std::max(0, int32_t(cx - dotRadius - 1)),
                      x1 = std::min(size, int32_t(cx + dotRadius + 2));
        const int32_t y0 = std::max(0, int32_t(cy - dotRadius - 1)),
                      y1 = std::min(size, int32_t(cy + dotRadius + 2));
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x)
                if (std::hypot(float(x) + 0.5f - cx, float(y) + 0.5f - cy) <= dotRadius)
                    Put(*bitmap, x, y, colour);
    }
    return bitmap;
}

}  // namespace orb::demo

namespace orb::demo {

namespace {

// One tile: a pill of the tile's height with half-circle ends, lit from
// above, with a thin darker rim. tint moves the body's colour; pressed
// turns the light upside down.
void PaintPill(ql::TBitmap& sheet, const TRgba& tint, bool pressed) {
    const float r = float(kPillTileHeight) / 2 - 1;
    const float cy = float(kPillTileHeight) / 2;
    for (int32_t y = 0; y < kPillTileHeight; ++y) {
        for (int32_t x = 0; x < kPillTileWidth; ++x) {
            // Distance to the pill's spine (the middle column stands for any
            // length of straight body).
            const float px = float(x) + 0.5f, py = float(y) + 0.5f;
            float dx = 0;
            if (px < kPillCorner) dx = kPillCorner - px;
            if (px > kPillCorner + 1) dx = px - (kPillCorner + 1);
            const float dy = py - cy;
            const float d =
                std::sqrt(dx * dx * (r * r) / float(kPillCorner * kPillCorner) + dy * dy);
            const float coverage = Smooth(r + 0.8f, r - 0.8f, d);
            float light = 1 - (py / kPillTileHeight);  // brighter at the top
            if (pressed) light = 1 - light;
            const float rim = Smooth(r - 2.5f, r - 1.0f, d);
            const float gloss = py < cy ? 0.35f * Smooth(cy, 2, py) * Smooth(r, r - 6, d) : 0;
            TRgba c{tint.r * (0.55f + 0.6f * light), tint.g * (0.55f + 0.6f * light),
                    tint.b * (0.55f + 0.6f * light), coverage};
            c.r = c.r * (1 - 0.5f * rim) + 255 * gloss;
            c.g = c.g * (1 - 0.5f * rim) + 255 * gloss;
            c.b = c.b * (1 - 0.5f * rim) + 255 * gloss;
            Put(sheet, x, y, c);
        }
    }
}

}  // namespace

std::unique_ptr<ql::TBitmap> PaintPillState(int32_t state) {
    auto tile = ql::CreateBitmap(kPillTileWidth, kPillTileHeight, ql::PfARGB32());
    const TRgba tints[3] = {{40, 110, 200, 1}, {70, 160, 240, 1}, {30, 80, 160, 1}};
    PaintPill(*tile, tints[std::clamp(state, 0, 2)], state == 2);
    return tile;
}

std::string PillThemeDescription() {
    const int32_t c = kPillCorner, w = kPillTileWidth, h = kPillTileHeight;
    // Corners are c x c; the edges between them one pixel wide (top and
    // bottom) or as high as the straight part (left and right).
    auto part = [&](const char* key, int32_t tile, int32_t l, int32_t t, int32_t r, int32_t b) {
        return std::string(key) + "=" + kPillPictures[tile] + "," + std::to_string(l) + "," +
               std::to_string(t) + "," + std::to_string(r) + "," + std::to_string(b) + "\n";
    };
    std::string text;
    const char* sections[] = {"NormalState", "HoverState", "ClickState"};
    for (int32_t tile = 0; tile < 3; ++tile) {
        text += std::string("[") + sections[tile] + "]\n";
        text += part("LeftTop", tile, 0, 0, c, c);
        text += part("Top", tile, c, 0, c + 1, c);
        text += part("RightTop", tile, c + 1, 0, w, c);
        text += part("Right", tile, c + 1, c, w, h - c);
        text += part("RightBottom", tile, c + 1, h - c, w, h);
        text += part("Bottom", tile, c, h - c, c + 1, h);
        text += part("LeftBottom", tile, 0, h - c, c, h);
        text += part("Left", tile, 0, c, c, h - c);
        text += part("Center", tile, c, c, c + 1, h - c);
        text += "\n";
    }
    text += "[TextParams]\nColor=255,255,255\nBtnOffset=0\nBtnMinWidth=160\nFiltering=Bilinear\n";
    return text;
}

}  // namespace orb::demo
