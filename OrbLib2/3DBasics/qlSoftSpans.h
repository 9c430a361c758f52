// Per-pixel loops of the software device: one horizontal run of a triangle
// whose texture coordinates are linear on the screen (w equal at every
// corner) and whose colour is flat. A plain scalar version and the SIMD
// versions beside it must agree bit for bit; the scalar one defines the
// result.
#pragma once

#include <cstdint>

#include "QlLib/Graphics/qlAffineKernels.h"

namespace orb {

// Max keeps the larger of source and destination per channel (the shaded
// runs do not take it).
enum class TSpanBlend : uint8_t { Replace, Over, Add, Max };

// A textured run. Coordinates are texels in 32.32 fixed point, for bilinear
// already moved back by half a texel. The texture is clamped at its edges.
// Channel values, in the order of a pixel's bytes (b, g, r, a): the sample
// times factor / 256, rounded, where 256 leaves it as it is.
//   bilinear: weights are the coordinate fractions rounded to 1/256;
//     top = (t00 (256 - wx) + t10 wx + 128) >> 8, likewise bottom, and
//     sample = (top (256 - wy) + bottom wy + 128) >> 8
//   Over:     d = min(255, s + div255(d (255 - sa))), div255 rounding
//   Add:      d = min(255, s + d)
struct TTexSpan {
    const uint32_t* texels;  // premultiplied 0xAARRGGBB, rows of width
    int32_t width;
    int32_t height;
    uint32_t* dst;
    int32_t count;
    int64_t u, v, du, dv;
    uint16_t factor[4];  // b, g, r, a; 0..256
    bool bilinear;
    TSpanBlend blend;
};

void TexSpanScalar(const TTexSpan& span);
#if defined(__x86_64__)
void TexSpanSSE2(const TTexSpan& span);
// Only after the processor reported AVX2.
void TexSpanAVX2(const TTexSpan& span);
#endif

// A textured run whose colour or w varies across its triangle, drawn with
// the very arithmetic of the device's per-pixel path so that both give the
// same bytes: barycentric weights and attributes in double, the colour, the
// coordinates and the sample's scaling in float, bytes rounded at the end.
//   l_k = e_k / area; attribute = l0 a0 + l1 a1 + l2 a2 (in that order),
//   w = 1 / (1/w interpolated), colour and u, v = float(attribute w)
// Texture coordinates are 0..1 across the texture, which is clamped at its
// edges; samples come back as a, r, g, b.
struct TShadeSpan {
    const uint32_t* texels;  // premultiplied 0xAARRGGBB, rows of width
    int32_t width;
    int32_t height;
    uint32_t* dst;
    int32_t count;
    int64_t e[3];     // edge values at the first pixel's centre
    int64_t step[3];  // and their change from one pixel to the next
    double invArea;
    double attr[3][7];    // per corner: 1/w, r, g, b, a, u, v, all times 1/w
    bool flat;            // colour is flatColour instead of interpolated
    float flatColour[4];  // r, g, b, a straight
    float opacity;        // 0..1
    bool bilinear;
    TSpanBlend blend;
    // Every texel is uniformTexel: samples need no coordinates.
    bool uniform = false;
    uint32_t uniformTexel = 0;
};

void ShadeSpanScalar(const TShadeSpan& span);
#if defined(__x86_64__)
// Only after the processor reported AVX2.
void ShadeSpanAVX2(const TShadeSpan& span);
#endif
using TShadeSpanProc = void (*)(const TShadeSpan& span);
// The *SpanFor functions give the run of `level`, or of the best level below
// it that this processor runs (the shaded run has no SSE2 version).
TShadeSpanProc ShadeSpanFor(ql::TSimdLevel level);

// A texture copied one texel per pixel through a mask (a masked scene's
// content composed onto the frame), with the device's per-pixel arithmetic
// on floats: per pixel m = mask[mask texel's alpha]; source alpha =
// round(texel alpha x m), each colour channel = round(channel[c][texel's
// channel] x m), clamped to 0..255; then blended as the device blends
// (Over: d = min(255, s + (d (255 - sa) + 127) / 255)). The tables hold the
// factors the device works out once per triangle.
struct TMaskedSpan {
    const uint32_t* texels;  // premultiplied 0xAARRGGBB, the run's first texel
    const uint32_t* mask;    // the mask texel under the run's first pixel
    uint32_t* dst;
    int32_t count;
    const float* maskFactor;  // 256 entries
    const float* channel[3];  // r, g, b: 256 entries each
    TSpanBlend blend;
};

void MaskedSpanScalar(const TMaskedSpan& span);
#if defined(__x86_64__)
// Only after the processor reported AVX2; Over only (others go to the scalar run).
void MaskedSpanAVX2(const TMaskedSpan& span);
#endif
using TMaskedSpanProc = void (*)(const TMaskedSpan& span);
TMaskedSpanProc MaskedSpanFor(ql::TSimdLevel level, TSpanBlend blend);

// A run of one premultiplied colour.
void ColourSpanScalar(uint32_t* dst, int32_t count, uint32_t colour, TSpanBlend blend);
#if defined(__x86_64__)
void ColourSpanSSE2(uint32_t* dst, int32_t count, uint32_t colour, TSpanBlend blend);
#endif

using TTexSpanProc = void (*)(const TTexSpan& span);
using TColourSpanProc = void (*)(uint32_t* dst, int32_t count, uint32_t colour, TSpanBlend blend);
TTexSpanProc TexSpanFor(ql::TSimdLevel level);
TColourSpanProc ColourSpanFor(ql::TSimdLevel level);

// Rounded x / 255 for x in [0, 65025].
inline uint32_t Div255(uint32_t x) {
    const uint32_t t = x + 128;
    return (t + (t >> 8)) >> 8;
}

}  // namespace orb
