#include "OrbLib2/qlHslShift.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "QlLib/Graphics/qlPixelFormats.h"

namespace orb {

namespace {

// Shifts beyond a full turn or beyond the whole scale change nothing more.
constexpr int64_t kMaxPercentShift = 1000;

// Half-up rounding of num / den for num >= 0, den > 0.
inline int32_t RoundRatio(int32_t num, int32_t den) {
    return (2 * num + den) / (2 * den);
}

// One channel of the way back, x the channel's hue (0..255 is one turn; 85 a
// third of it). M1 and M2 are m1 and m2 in units of 1/255^2; the result is
// 255 v rounded half up. The breakpoints one sixth (42.5), one half (127.5)
// and two thirds (170) of the turn fall between or on whole hues, so the
// comparisons below are the exact ones.
inline int32_t Channel(int32_t x, int32_t m1, int32_t m2) {
    if (x < 0)
        x += 255;
    else if (x > 255)
        x -= 255;
    if (x <= 42) return RoundRatio(255 * m1 + 6 * x * (m2 - m1), 65025);
    if (x <= 127) return RoundRatio(m2, 255);
    if (x < 170) return RoundRatio(255 * m1 + 6 * (170 - x) * (m2 - m1), 65025);
    return RoundRatio(m1, 255);
}

}  // namespace

THslSteps HslSteps(const THslShift& shift) {
    THslSteps steps;
    // A turn is 256 steps; any multiple of a turn lands where it started, so
    // the step is taken modulo a turn (the same result as adding or
    // subtracting one turn, which is all a shift of at most 360 degrees needs).
    steps.Hue = int32_t((int64_t(shift.Hue) * 256 / 360) % 256);
    steps.Saturation = int32_t(
        std::clamp<int64_t>(shift.Saturation, -kMaxPercentShift, kMaxPercentShift) * 256 / 100);
    steps.Lightness = int32_t(
        std::clamp<int64_t>(shift.Lightness, -kMaxPercentShift, kMaxPercentShift) * 256 / 100);
    return steps;
}

// Rounding, step by step (all half up, all exact in integers):
//   L = (max + min) / 2;
//   S = (max - min) 255 / (max + min), or / (511 - max - min) from L = 128 up;
//   H = 42.5 x the sector's ratio, wrapped into 0..255 before rounding;
//   each channel on the way back = 255 x the channel function, rounded.
// The hue, saturation and lightness steps themselves truncate (HslSteps).
uint32_t HslShiftColour(uint32_t rgb, const THslSteps& steps) {
    const int32_t r = int32_t(rgb >> 16 & 0xFF), g = int32_t(rgb >> 8 & 0xFF),
                  b = int32_t(rgb & 0xFF);
    const int32_t mx = std::max({r, g, b}), mn = std::min({r, g, b});
    const int32_t sum = mx + mn;
    int32_t l = (sum + 1) / 2;
    int32_t h = 0, s = 0;
    if (mx != mn) {
        const int32_t d = mx - mn;
        s = l < 128 ? RoundRatio(255 * d, sum) : RoundRatio(255 * d, 511 - sum);
        // H = 85 k / (2 d): 42.5 times (G - B) / d, (B - R) / d + 2 or (R - G) / d + 4.
        int32_t k = mx == r ? g - b : mx == g ? b - r + 2 * d : r - g + 4 * d;
        int32_t num = 85 * k;
        if (num < 0) num += 510 * d;
        if (num > 510 * d) num -= 510 * d;
        h = (num + d) / (2 * d);
    }
    h += steps.Hue;
    if (h < 0)
        h += 256;
    else if (h > 255)
        h -= 256;
    s = std::clamp(s + steps.Saturation, 0, 255);
    l = std::clamp(l + steps.Lightness, 0, 255);
    if (s == 0) return uint32_t(l) << 16 | uint32_t(l) << 8 | uint32_t(l);
    const int32_t m2 = l < 128 ? l * (s + 255) : (s + l) * 255 - s * l;
    const int32_t m1 = 510 * l - m2;
    return uint32_t(Channel(h + 85, m1, m2)) << 16 | uint32_t(Channel(h, m1, m2)) << 8 |
           uint32_t(Channel(h - 85, m1, m2));
}

void HslShiftRowScalar(uint8_t* row, int32_t count, const THslSteps& steps) {
    for (int32_t x = 0; x < count; ++x) {
        uint8_t* p = row + size_t(x) * 4;
        const uint32_t out =
            HslShiftColour(uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0], steps);
        p[0] = uint8_t(out);
        p[1] = uint8_t(out >> 8);
        p[2] = uint8_t(out >> 16);
    }
}

namespace {

// Colours already shifted: the last one (runs along a row) and a small
// direct-mapped table (the few colours a face's columns repeat). A slot holds
// the colour with bit 24 set, so the zeroed table matches nothing.
class TShiftMemo {
public:
    explicit TShiftMemo(const THslSteps& steps) : m_steps(steps) { m_keys.fill(0); }

    void Row(uint8_t* row, int32_t count) {
        for (int32_t x = 0; x < count; ++x) {
            uint8_t* p = row + size_t(x) * 4;
            uint32_t pixel;
            std::memcpy(&pixel, p, 4);
            const uint32_t rgb = pixel & 0xFFFFFF;
            if (rgb != m_lastIn) {
                m_lastIn = rgb;
                const uint32_t slot = (rgb * 2654435761u) >> (32 - kBits);
                if (m_keys[slot] == (rgb | kValid)) {
                    m_lastOut = m_values[slot];
                } else {
                    m_lastOut = HslShiftColour(rgb, m_steps);
                    m_keys[slot] = rgb | kValid;
                    m_values[slot] = m_lastOut;
                }
            }
            pixel = (pixel & 0xFF000000) | m_lastOut;
            std::memcpy(p, &pixel, 4);
        }
    }

private:
    static constexpr int kBits = 9;
    static constexpr uint32_t kValid = 1u << 24;
    THslSteps m_steps;
    uint32_t m_lastIn = kValid;  // never a colour
    uint32_t m_lastOut = 0;
    std::array<uint32_t, 1u << kBits> m_keys;
    std::array<uint32_t, 1u << kBits> m_values;
};

}  // namespace

void HslShiftRowFast(uint8_t* row, int32_t count, const THslSteps& steps) {
    TShiftMemo(steps).Row(row, count);
}

bool HslShiftBitmap(ql::TBitmap& bitmap, const THslShift& shift,
                    const ql::TProgressHandler& progress, bool fast) {
    if (shift.IsIdentity()) return true;
    if (bitmap.PixelFormat() != ql::PfARGB32()) return false;
    const THslSteps steps = HslSteps(shift);
    TShiftMemo memo(steps);
    const int32_t height = bitmap.Height();
    for (int32_t y = 0; y < height; ++y) {
        if (progress && !progress(float(y) / float(height))) return false;
        if (fast)
            memo.Row(bitmap.Row(y), bitmap.Width());
        else
            HslShiftRowScalar(bitmap.Row(y), bitmap.Width(), steps);
    }
    return true;
}

}  // namespace orb
