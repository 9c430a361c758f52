// The row loops of the 4:2:0 to RGB conversion, shared by the builds of
// qlYuvToRgb.cpp (the x86-64 baseline, SSE2) and qlYuvToRgbAVX2.cpp
// (-mavx2). Written for the compiler's vectoriser: the chroma row is first
// spread to one sample per pixel, then every pixel is the same integer
// arithmetic on separate planes, with no branch and no floating point.
// Everything here has internal linkage, so the AVX2 build of a function can
// never stand in for the baseline one at link time.
#pragma once

#include <algorithm>
#include <cstdint>

namespace ql {
namespace {

// The matrix in 8.8 fixed point, for limited-range input (Y 16..235, Cb and
// Cr 16..240): 298 = 255 / 219 x 256, the chroma weights scaled by 255 / 224.
struct TYuvCoefficients {
    int32_t Y, Rv, Gu, Gv, Bu;
};
constexpr TYuvCoefficients kBt601{298, 409, -100, -208, 516};
constexpr TYuvCoefficients kBt709{298, 459, -55, -136, 541};

inline uint8_t Clamp255(int32_t value) {
    return uint8_t(std::clamp(value, 0, 255));
}

// One pixel: what every loop must give, byte for byte.
inline void YuvPixel(int32_t y, int32_t u, int32_t v, const TYuvCoefficients& c, uint8_t* bgra) {
    const int32_t luma = c.Y * (y - 16) + 128;
    const int32_t d = u - 128, e = v - 128;
    bgra[0] = Clamp255((luma + c.Bu * d) >> 8);
    bgra[1] = Clamp255((luma + c.Gu * d + c.Gv * e) >> 8);
    bgra[2] = Clamp255((luma + c.Rv * e) >> 8);
    bgra[3] = 255;
}

// Spreads a chroma row of cw samples over w pixels (sample x / 2; past the
// last sample, the last; none at all, the neutral 128).
inline void SpreadChroma(const uint8_t* __restrict u, const uint8_t* __restrict v, int32_t cw,
                         int32_t w, uint8_t* __restrict u2, uint8_t* __restrict v2) {
    const int32_t pairs = std::min(cw, w / 2);
    for (int32_t i = 0; i < pairs; ++i) {
        u2[2 * i] = u[i];
        u2[2 * i + 1] = u[i];
        v2[2 * i] = v[i];
        v2[2 * i + 1] = v[i];
    }
    for (int32_t x = 2 * pairs; x < w; ++x) {
        u2[x] = cw > 0 ? u[std::min(x / 2, cw - 1)] : 128;
        v2[x] = cw > 0 ? v[std::min(x / 2, cw - 1)] : 128;
    }
}

// One row of w pixels from planes of one sample per pixel into B, G, R, 255.
inline void YuvRow(const uint8_t* __restrict y, const uint8_t* __restrict u2,
                   const uint8_t* __restrict v2, int32_t w, const TYuvCoefficients c,
                   uint8_t* __restrict bgra) {
    for (int32_t x = 0; x < w; ++x) {
        const int32_t luma = c.Y * (int32_t(y[x]) - 16) + 128;
        const int32_t d = int32_t(u2[x]) - 128, e = int32_t(v2[x]) - 128;
        bgra[4 * x] = Clamp255((luma + c.Bu * d) >> 8);
        bgra[4 * x + 1] = Clamp255((luma + c.Gu * d + c.Gv * e) >> 8);
        bgra[4 * x + 2] = Clamp255((luma + c.Rv * e) >> 8);
        bgra[4 * x + 3] = 255;
    }
}

}  // namespace
}  // namespace ql
