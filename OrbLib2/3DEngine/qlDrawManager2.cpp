#include "OrbLib2/3DEngine/qlDrawManager2.h"

#include <algorithm>
#include <cmath>

namespace orb {

std::recursive_mutex& GlobalDrawLock() {
    static std::recursive_mutex lock;
    return lock;
}

namespace {

uint32_t MidColour(uint32_t a, uint32_t b) {
    uint32_t out = 0;
    for (int32_t shift = 0; shift < 32; shift += 8)
        out |= ((((a >> shift) & 0xFFu) + ((b >> shift) & 0xFFu)) / 2) << shift;
    return out;
}

uint32_t ScaleAlpha(uint32_t colour, int32_t percent) {
    if (percent >= 100) return colour;
    const uint32_t alpha = uint32_t(std::lround(double(colour >> 24) * percent / 100.0));
    return (colour & 0x00FFFFFFu) | alpha << 24;
}

}  // namespace

void BoxCornerColours(const TBoxParams& params, uint32_t (&corners)[4]) {
    // Show data may say more than 100 percent: the colours' own alpha is the most.
    const int32_t opacity = std::clamp(params.opacity, 0, 100);
    const uint32_t c1 = ScaleAlpha(params.colour1, opacity), c2 = ScaleAlpha(params.colour2, opacity);
    uint32_t base[4];
    int32_t type = params.fillType;
    if (type >= 0 && type <= 3) {
        const uint32_t mid = MidColour(c1, c2);
        base[0] = c1, base[1] = mid, base[2] = c2, base[3] = mid;
    } else if (type >= 4 && type <= 7) {
        base[0] = c1, base[1] = c1, base[2] = c2, base[3] = c2;
        type -= 4;
    } else {
        // An unknown fill type is drawn solid.
        base[0] = base[1] = base[2] = base[3] = c1;
        type = 0;
    }
    for (int32_t i = 0; i < 4; ++i) corners[(i + type) % 4] = base[i];
}

ql::TRect GrowRect(const ql::TRect& rect, int32_t dx, int32_t dy) {
    return {rect.left - dx, rect.top - dy, rect.right + dx + 1, rect.bottom + dy + 1};
}

}  // namespace orb
