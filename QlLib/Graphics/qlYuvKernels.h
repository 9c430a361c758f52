// The row loops of the 4:2:0 conversion, shared by the builds of
// qlYuvConvert.cpp (the x86-64 baseline, SSE2) and qlYuvConvertAVX2.cpp
// (-mavx2). They are written for the compiler's vectoriser: plain integer
// arithmetic on separate planes, no branch and no floating point per pixel.
// Everything here has internal linkage, so the AVX2 build of a function can
// never stand in for the baseline one at link time.
#pragma once

#include <algorithm>
#include <cstdint>

namespace ql {
namespace {

// Y = 0.299 R + 0.587 G + 0.114 B in 16.16 fixed point; the weights add up
// to exactly 65536, so grey stays grey and 255 stays 255.
constexpr int32_t kLumaR = 19595, kLumaG = 38470, kLumaB = 7471;
// Cb and Cr from the sums of four pixels: the weights of the mean are
// 65536 / 4 = 16384 times 0.168736, 0.331264, 0.5 and 0.5, 0.418688,
// 0.081312, rounded so that each pair adds up to the 0.5 (8192): a grey
// block gives 128 exactly.
constexpr int32_t kCbR = 2765, kCbG = 5427, kCrG = 6860, kCrB = 1332, kHalf = 8192;
constexpr int32_t kChromaBias = (128 << 16) + 32768;

inline uint8_t LumaOf(int32_t r, int32_t g, int32_t b) {
    return uint8_t((kLumaR * r + kLumaG * g + kLumaB * b + 32768) >> 16);
}
// The numerators are positive for every input (the bias outweighs the
// negative terms), so the shift rounds; only the top end needs a bound
// (pure blue or red is 255.5).
inline uint8_t CbOf(int32_t rs, int32_t gs, int32_t bs) {
    return uint8_t(std::min((kHalf * bs - kCbR * rs - kCbG * gs + kChromaBias) >> 16, 255));
}
inline uint8_t CrOf(int32_t rs, int32_t gs, int32_t bs) {
    return uint8_t(std::min((kHalf * rs - kCrG * gs - kCrB * bs + kChromaBias) >> 16, 255));
}

// One row of `w` pixels of Bpp bytes, (B, G, R) first, into three planes.
template <int32_t Bpp>
inline void SplitRow(const uint8_t* __restrict p, int32_t w, uint8_t* __restrict r, uint8_t* __restrict g,
                     uint8_t* __restrict b) {
    for (int32_t x = 0; x < w; ++x) {
        b[x] = p[Bpp * x];
        g[x] = p[Bpp * x + 1];
        r[x] = p[Bpp * x + 2];
    }
}

inline void LumaRow(const uint8_t* __restrict r, const uint8_t* __restrict g, const uint8_t* __restrict b, int32_t w,
                    uint8_t* __restrict y) {
    for (int32_t x = 0; x < w; ++x) y[x] = LumaOf(r[x], g[x], b[x]);
}

// Cb and Cr of `n` whole 2 x 2 blocks from the planes of two rows.
inline void ChromaRow(const uint8_t* __restrict r0, const uint8_t* __restrict g0, const uint8_t* __restrict b0,
                      const uint8_t* __restrict r1, const uint8_t* __restrict g1, const uint8_t* __restrict b1,
                      int32_t n, uint8_t* __restrict u, uint8_t* __restrict v) {
    for (int32_t i = 0; i < n; ++i) {
        const int32_t rs = r0[2 * i] + r0[2 * i + 1] + r1[2 * i] + r1[2 * i + 1];
        const int32_t gs = g0[2 * i] + g0[2 * i + 1] + g1[2 * i] + g1[2 * i + 1];
        const int32_t bs = b0[2 * i] + b0[2 * i + 1] + b1[2 * i] + b1[2 * i + 1];
        u[i] = CbOf(rs, gs, bs);
        v[i] = CrOf(rs, gs, bs);
    }
}

// Two picture rows of Bpp-byte pixels (the same row twice for the last of an
// odd height) into their Y rows and one row of Cb and Cr. `planes` is scratch
// for six rows of w + 1 bytes. y1 may be y0 when the rows are the same.
template <int32_t Bpp>
inline void RowPair(const uint8_t* row0, const uint8_t* row1, int32_t w, uint8_t* planes, uint8_t* y0, uint8_t* y1,
                    uint8_t* u, uint8_t* v) {
    const int32_t stride = w + 1;
    uint8_t* r0 = planes;
    uint8_t* g0 = r0 + stride;
    uint8_t* b0 = g0 + stride;
    uint8_t* r1 = b0 + stride;
    uint8_t* g1 = r1 + stride;
    uint8_t* b1 = g1 + stride;
    SplitRow<Bpp>(row0, w, r0, g0, b0);
    SplitRow<Bpp>(row1, w, r1, g1, b1);
    // At an odd width the last column stands in for the missing one.
    r0[w] = r0[w - 1];
    g0[w] = g0[w - 1];
    b0[w] = b0[w - 1];
    r1[w] = r1[w - 1];
    g1[w] = g1[w - 1];
    b1[w] = b1[w - 1];
    LumaRow(r0, g0, b0, w, y0);
    if (y1 != y0) LumaRow(r1, g1, b1, w, y1);
    ChromaRow(r0, g0, b0, r1, g1, b1, (w + 1) / 2, u, v);
}

}  // namespace
}  // namespace ql
