#include "examples/demo/DemoNavBar.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "QlLib/Graphics/qlPixelFormats.h"

namespace orb::demo {

namespace {

// Coverage of a pixel by a shape given as a signed distance (negative
// inside), smoothed over one pixel.
double Cover(double distance) {
    return std::clamp(0.5 - distance, 0.0, 1.0);
}

double RoundRectDistance(double x, double y, double l, double t, double r, double b,
                         double radius) {
    const double cx = std::clamp(x, l + radius, r - radius),
                 cy = std::clamp(y, t + radius, b - radius);
    return std::hypot(x - cx, y - cy) - radius;
}

// Paints a w x h picture, each pixel from its centre's coordinates.
std::unique_ptr<ql::TBitmap> Paint(int32_t w, int32_t h,
                                   const std::function<uint32_t(double, double)>& pixel) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(w, h, ql::PfARGB32());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t p = pixel(x + 0.5, y + 0.5);
            std::memcpy(bitmap->Row(y) + size_t(x) * 4, &p, 4);
        }
    return bitmap;
}

uint32_t Argb(double alpha, double r, double g, double b) {
    auto byte = [](double v) { return uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return byte(alpha) << 24 | byte(r) << 16 | byte(g) << 8 | byte(b);
}

// The dark glass of both bars: a vertical shade from slate to near black.
uint32_t Glass(double y, double h, double alpha) {
    const double k = y / h;
    return Argb(alpha, 0.20 - 0.12 * k, 0.24 - 0.14 * k, 0.30 - 0.16 * k);
}

// A disc of radius r at (cx, cy) in the colour of a state.
uint32_t Disc(double x, double y, double cx, double cy, double r, int32_t state) {
    const double d = std::hypot(x - cx, y - cy);
    const double a = Cover(d - r);
    if (a <= 0) return 0;
    const double rim = Cover(std::fabs(d - r + 1.2) - 0.8);
    const double light = (cy - y) / r;  // brighter towards the top
    static constexpr double colours[4][3] = {
        {0.16, 0.36, 0.62}, {0.22, 0.52, 0.84}, {0.10, 0.24, 0.44}, {0.35, 0.35, 0.38}};
    const double* c = colours[std::clamp(state, 0, 3)];
    const double shine = 0.18 * std::max(light, 0.0);
    return Argb(a, c[0] + shine + 0.3 * rim, c[1] + shine + 0.3 * rim, c[2] + shine + 0.3 * rim);
}

// Icon k as a coverage in 0..1 at (x, y) of a 24 x 24 cell.
double IconCover(int32_t k, double x, double y) {
    auto tri = [&](double ax, double ay, double bx, double by, double cx, double cy) {
        auto edge = [&](double px, double py, double qx, double qy) {
            const double nx = qy - py, ny = px - qx, len = std::hypot(nx, ny);
            return ((x - px) * nx + (y - py) * ny) / len;
        };
        return Cover(std::max({edge(ax, ay, bx, by), edge(bx, by, cx, cy), edge(cx, cy, ax, ay)}));
    };
    auto box = [&](double l, double t, double r, double b) {
        return Cover(std::max({l - x, x - r, t - y, y - b}));
    };
    switch (k) {
        case 0:  // home: a roof over a house
            return std::max(tri(12, 4, 21, 12, 3, 12),
                            box(6, 12, 18, 20) * (1 - box(10.5, 14, 13.5, 20)));
        case 1:  // backward
            return std::max(tri(12, 6, 12, 18, 3, 12), tri(21, 6, 21, 18, 12, 12));
        case 2:  // forward
            return std::max(tri(3, 6, 12, 12, 3, 18), tri(12, 6, 21, 12, 12, 18));
        case 3:  // pause
            return std::max(box(6, 5, 10, 19), box(14, 5, 18, 19));
        case 4:  // play
            return tri(7, 4, 20, 12, 7, 20);
        case 5: {  // help: a ring with a dot
            const double d = std::hypot(x - 12, y - 10);
            return std::max(
                Cover(std::fabs(d - 5) - 1.4) * (y < 13 ? 1.0 : 0.0) + box(11, 13, 13, 16),
                Cover(std::hypot(x - 12, y - 19) - 1.5));
        }
        default: {  // exit: a cross
            const double a = std::fabs((x - 12) - (y - 12)) / std::sqrt(2.0),
                         b = std::fabs((x - 12) + (y - 12)) / std::sqrt(2.0);
            const double inside = std::max(std::fabs(x - 12), std::fabs(y - 12)) - 7;
            return std::min(Cover(std::min(a, b) - 1.8), Cover(inside));
        }
    }
}

}  // namespace

std::unique_ptr<ql::TBitmap> PaintNavStrip() {
    return Paint(48, 48, [](double x, double y) {
        // The strip as one rounded rectangle 48 wide: its left third is the
        // left cap, its right third the right cap.
        const double a = Cover(RoundRectDistance(x, y, 0, 0, 48, 48, 14)) * 0.85;
        return a > 0 ? Glass(y, 48, a) : 0u;
    });
}

std::unique_ptr<ql::TBitmap> PaintNavDiscs() {
    return Paint(160, 40, [](double x, double y) {
        const int32_t state = std::min(int32_t(x / 40), 3);
        return Disc(x, y, state * 40 + 20, 20, 17, state);
    });
}

std::unique_ptr<ql::TBitmap> PaintNavIcons(bool play) {
    return Paint(7 * 24, 24, [play](double x, double y) {
        const int32_t k = std::min(int32_t(x / 24), 6);
        const double a = std::clamp(IconCover(play && k == 3 ? 4 : k, x - k * 24, y), 0.0, 1.0);
        return a > 0 ? Argb(a, 1, 1, 1) : 0u;
    });
}

std::string NavBarDescription() {
    // The buttons' cell is the middle one; the strip's caps are the cells
    // left and right of it. Each button's disc comes from nav-discs.png, its
    // icon from nav-icons.png (the pause button shows "play" while paused).
    std::string text =
        "[Common]\r\nVideoStyle=0\r\nRecommendedScale=8\r\nColsCount=3\r\nRowsCount=1\r\n"
        "[CellWithObjects]\r\nCell=2,1\r\nLeftOffset=4\r\nTopOffset=4\r\nRightOffset="
        "4\r\nBottomOffset=4\r\n"
        "[Cell(1:1)]\r\nTextureType=stretch\r\nBounds=0,0,16,48\r\nflnm_Texture=nav-strip.png\r\n"
        "[Cell(2:1)]\r\nTextureType=repeat\r\nBounds=16,0,16,48\r\nflnm_Texture=nav-strip.png\r\n"
        "[Cell(3:1)]\r\nTextureType=stretch\r\nBounds=32,0,16,48\r\nflnm_Texture=nav-strip.png\r\n"
        "[Objects]\r\nCount=6\r\n";
    for (int32_t k = 1; k <= 6; ++k)
        text +=
            "[Object" + std::to_string(k) + "]\r\nShiftPressed=1\r\nSpace=4\r\nGrayDisabled=1\r\n";
    static const char* const names[6] = {"home", "backward", "pause", "forward", "help", "exit"};
    static const int32_t icons[6] = {0, 1, 3, 2, 5, 6};
    static const char* const states[4] = {"Normal", "Hover", "Pressed", "Disabled"};
    for (int32_t k = 0; k < 6; ++k) {
        const std::string icon = std::to_string(icons[k] * 24) + ",0,24,24";
        text += std::string("[ACTION-") + names[k] + "]\r\nActionType=" + names[k] + "\r\n";
        for (int32_t s = 0; s < 4; ++s) {
            text += std::string("BtnTexture") + states[s] + "Bounds=" + icon + "\r\n";
            text += std::string("BgTexture") + states[s] + "Bounds=" + std::to_string(s * 40) +
                    ",0,40,40\r\n";
        }
        text += "flnm_BtnTextureNormal=nav-icons.png\r\nflnm_BgTextureNormal=nav-discs.png\r\n";
        if (std::string(names[k]) == "pause") text += "flnm_BtnTextureNormalPlay=nav-play.png\r\n";
    }
    return text;
}

std::unique_ptr<ql::TBitmap> PaintVideoBack() {
    return Paint(64, 48, [](double x, double y) {
        const double a = Cover(RoundRectDistance(x, y, 0, 0, 64, 48, 10)) * 0.88;
        return a > 0 ? Glass(y, 48, a) : 0u;
    });
}

std::unique_ptr<ql::TBitmap> PaintVideoLine() {
    return Paint(16, 6, [](double x, double y) {
        const double a = Cover(RoundRectDistance(x, y, 0, 0, 16, 6, 3));
        return a > 0 ? Argb(a, 0.55, 0.62, 0.72) : 0u;
    });
}

std::unique_ptr<ql::TBitmap> PaintVideoKnob() {
    return Paint(12, 16, [](double x, double y) {
        const double a = Cover(RoundRectDistance(x, y, 0.5, 0.5, 11.5, 15.5, 4));
        return a > 0 ? Argb(a, 0.92, 0.94, 0.98) : 0u;
    });
}

std::unique_ptr<ql::TBitmap> PaintVideoSheet(int32_t state) {
    // Cells: 0 play (shown while paused), 1 pause, 2 sound, 3 muted,
    // 4 backward, 5 forward.
    static const int32_t icons[6] = {4, 3, -1, -2, 1, 2};
    return Paint(6 * 28, 28, [state](double x, double y) {
        const int32_t k = std::min(int32_t(x / 28), 5);
        const double lx = x - k * 28;
        const uint32_t disc = Disc(lx, y, 14, 14, 13, state);
        double a = 0;
        if (icons[k] >= 0) {
            a = IconCover(icons[k], (lx - 14) * 24 / 20 + 12, (y - 14) * 24 / 20 + 12);
        } else {
            // A speaker, crossed out when muted.
            auto box = [&](double l, double t, double r, double b) {
                return Cover(std::max({l - lx, lx - r, t - y, y - b}));
            };
            a = std::max(box(7, 11, 11, 17),
                         box(11, 8, 14, 20) * Cover((y - 14) * (y - 14) / 4 - (lx - 5)));
            if (icons[k] == -1)
                a = std::max(a, Cover(std::fabs(std::hypot(lx - 14, y - 14) - 5) - 0.8) *
                                    (lx > 16 ? 1.0 : 0.0));
            else
                a = std::max(a, Cover(std::fabs((lx - 19) - (y - 14)) / 1.4 - 0.8) *
                                    Cover(std::fabs(lx - 19) - 3) * Cover(std::fabs(y - 14) - 3));
        }
        a = std::clamp(a, 0.0, 1.0);
        if (a <= 0) return disc;
        // White over the disc.
        const double da = (disc >> 24) / 255.0, oa = a + da * (1 - a);
        auto ch = [&](int shift) {
            const double dc = ((disc >> shift) & 255) / 255.0;
            return (a + dc * da * (1 - a)) / oa;
        };
        return Argb(oa, ch(16), ch(8), ch(0));
    });
}

std::string VideoBarDescription() {
    return "[Common]\r\nVideoStyle=1\r\nDefaultScale=10\r\nBgLeft=12\r\nBgRight=12\r\nflnm_back="
           "video-back.png\r\n"
           "[Pixel "
           "positions]\r\nBarSize=640,48\r\nBtnSize=28,28\r\nDigitSize=8,14\r\nTrackHeight=6\r\n"
           "VolumeControlLength=80\r\nLeftSpace=12\r\nButtonsTrackSpace=12\r\nTrackDigitsSpace="
           "8\r\n"
           "DigitsSoundBtnSpace=8\r\nSoundBtnTrackSpace=6\r\nRightSpace=14\r\n"
           "[Trackbar]\r\nTrackLineLeft=3\r\nTrackLineRight=3\r\nflnm_Line=video-line.png\r\n"
           "flnm_Polzun=video-knob.png\r\n"
           "[Buttons]\r\nflnm_Normal=video-normal.png\r\nflnm_Hover=video-hover.png\r\nflnm_Click="
           "video-click.png\r\n";
}

}  // namespace orb::demo
