#include "examples/demo/DemoNoise.h"

#include <cmath>

namespace orb::demo {

uint32_t Hash(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

float ValueNoise(float x, float y, uint32_t seed) {
    const float fx = std::floor(x), fy = std::floor(y);
    const int32_t ix = int32_t(fx), iy = int32_t(fy);
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    auto at = [&](int32_t dx, int32_t dy) { return float(Hash(ix + dx, iy + dy, seed) & 0xFFFFFF) / 16777215.0f; };
    const float top = at(0, 0) + (at(1, 0) - at(0, 0)) * tx;
    const float bottom = at(0, 1) + (at(1, 1) - at(0, 1)) * tx;
    return top + (bottom - top) * ty;
}

float Fbm(float x, float y, int32_t octaves, uint32_t seed) {
    float sum = 0, weight = 0.5f, total = 0;
    for (int32_t i = 0; i < octaves; ++i) {
        sum += ValueNoise(x, y, seed + uint32_t(i) * 101) * weight;
        total += weight;
        x *= 2.0f;
        y *= 2.0f;
        weight *= 0.5f;
    }
    return total > 0 ? sum / total : 0;
}

float TRandom::Next() {
    m_state = m_state * 1664525u + 1013904223u;
    return float(m_state >> 8) / 16777216.0f;
}

}  // namespace orb::demo
