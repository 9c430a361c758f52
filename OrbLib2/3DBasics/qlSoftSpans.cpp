#include "OrbLib2/3DBasics/qlSoftSpans.h"

#include <algorithm>

namespace orb {

namespace {

uint32_t Blend(uint32_t s, uint32_t d, TSpanBlend blend) {
    if (blend == TSpanBlend::Replace) return s;
    const uint32_t inv = 255 - (s >> 24);
    uint32_t result = 0;
    for (int32_t shift = 0; shift < 32; shift += 8) {
        const uint32_t sc = (s >> shift) & 255, dc = (d >> shift) & 255;
        const uint32_t r = blend == TSpanBlend::Over ? sc + Div255(dc * inv) : sc + dc;
        result |= std::min(r, 255u) << shift;
    }
    return result;
}

}  // namespace

void TexSpanScalar(const TTexSpan& span) {
    const int32_t w = span.width, h = span.height;
    int64_t u = span.u, v = span.v;
    const bool identity = span.factor[0] == 256 && span.factor[1] == 256 && span.factor[2] == 256 &&
                          span.factor[3] == 256;
    for (int32_t i = 0; i < span.count; ++i, u += span.du, v += span.dv) {
        uint32_t s;
        if (span.bilinear) {
            const int64_t ur = u + (int64_t(1) << 23), vr = v + (int64_t(1) << 23);
            const int64_t ix = ur >> 32, iy = vr >> 32;
            const uint32_t wx = uint32_t(ur >> 24) & 255, wy = uint32_t(vr >> 24) & 255;
            const int64_t x0 = std::clamp<int64_t>(ix, 0, w - 1), x1 = std::clamp<int64_t>(ix + 1, 0, w - 1);
            const int64_t y0 = std::clamp<int64_t>(iy, 0, h - 1), y1 = std::clamp<int64_t>(iy + 1, 0, h - 1);
            const uint32_t c00 = span.texels[y0 * w + x0], c10 = span.texels[y0 * w + x1];
            const uint32_t c01 = span.texels[y1 * w + x0], c11 = span.texels[y1 * w + x1];
            s = 0;
            for (int32_t shift = 0; shift < 32; shift += 8) {
                const uint32_t top = (((c00 >> shift) & 255) * (256 - wx) + ((c10 >> shift) & 255) * wx + 128) >> 8;
                const uint32_t bottom =
                    (((c01 >> shift) & 255) * (256 - wx) + ((c11 >> shift) & 255) * wx + 128) >> 8;
                s |= ((top * (256 - wy) + bottom * wy + 128) >> 8) << shift;
            }
        } else {
            const int64_t x = std::clamp<int64_t>(u >> 32, 0, w - 1), y = std::clamp<int64_t>(v >> 32, 0, h - 1);
            s = span.texels[y * w + x];
        }
        if (!identity) {
            uint32_t scaled = 0;
            for (int32_t c = 0; c < 4; ++c)
                scaled |= ((((s >> (8 * c)) & 255) * span.factor[c] + 128) >> 8) << (8 * c);
            s = scaled;
        }
        span.dst[i] = Blend(s, span.dst[i], span.blend);
    }
}

void ColourSpanScalar(uint32_t* dst, int32_t count, uint32_t colour, TSpanBlend blend) {
    for (int32_t i = 0; i < count; ++i) dst[i] = Blend(colour, dst[i], blend);
}

TTexSpanProc TexSpanFor(ql::TSimdLevel level) {
    switch (level) {
        case ql::TSimdLevel::AVX2: return ql::SimdLevelSupported(level) ? TexSpanAVX2 : TexSpanSSE2;
        case ql::TSimdLevel::SSE2: return TexSpanSSE2;
        default: return TexSpanScalar;
    }
}

TColourSpanProc ColourSpanFor(ql::TSimdLevel level) {
    return level == ql::TSimdLevel::Scalar ? ColourSpanScalar : ColourSpanSSE2;
}

}  // namespace orb
