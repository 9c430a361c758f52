#include "OrbLib2/3DBasics/qlSoftSpans.h"

#include <algorithm>
#include <cmath>

#include "QlLib/qlCpuFeatures.h"

namespace orb {

namespace {

uint32_t Blend(uint32_t s, uint32_t d, TSpanBlend blend) {
    if (blend == TSpanBlend::Replace) return s;
    const uint32_t inv = 255 - (s >> 24);
    uint32_t result = 0;
    for (int32_t shift = 0; shift < 32; shift += 8) {
        const uint32_t sc = (s >> shift) & 255, dc = (d >> shift) & 255;
        const uint32_t r = blend == TSpanBlend::Over  ? sc + Div255(dc * inv)
                           : blend == TSpanBlend::Max ? std::max(sc, dc)
                                                      : sc + dc;
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
            const int64_t x0 = std::clamp<int64_t>(ix, 0, w - 1),
                          x1 = std::clamp<int64_t>(ix + 1, 0, w - 1);
            const int64_t y0 = std::clamp<int64_t>(iy, 0, h - 1),
                          y1 = std::clamp<int64_t>(iy + 1, 0, h - 1);
            const uint32_t c00 = span.texels[y0 * w + x0], c10 = span.texels[y0 * w + x1];
            const uint32_t c01 = span.texels[y1 * w + x0], c11 = span.texels[y1 * w + x1];
            s = 0;
            for (int32_t shift = 0; shift < 32; shift += 8) {
                const uint32_t top =
                    (((c00 >> shift) & 255) * (256 - wx) + ((c10 >> shift) & 255) * wx + 128) >> 8;
                const uint32_t bottom =
                    (((c01 >> shift) & 255) * (256 - wx) + ((c11 >> shift) & 255) * wx + 128) >> 8;
                s |= ((top * (256 - wy) + bottom * wy + 128) >> 8) << shift;
            }
        } else {
            const int64_t x = std::clamp<int64_t>(u >> 32, 0, w - 1),
                          y = std::clamp<int64_t>(v >> 32, 0, h - 1);
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

namespace {

// NaN goes to lo, as in the device.
float ClampF(float v, float lo, float hi) {
    return v > lo ? (v < hi ? v : hi) : lo;
}

int32_t RoundByte(float v) {
    return int32_t(ClampF(v, 0.0f, 255.0f) + 0.5f);
}

}  // namespace

void ShadeSpanScalar(const TShadeSpan& span) {
    const int32_t w = span.width, h = span.height;
    const float fw = float(w), fh = float(h);
    int64_t e0 = span.e[0], e1 = span.e[1], e2 = span.e[2];
    for (int32_t i = 0; i < span.count;
         ++i, e0 += span.step[0], e1 += span.step[1], e2 += span.step[2]) {
        const double l0 = double(e0) * span.invArea, l1 = double(e1) * span.invArea,
                     l2 = double(e2) * span.invArea;
        auto interp = [&](int32_t k) {
            return l0 * span.attr[0][k] + l1 * span.attr[1][k] + l2 * span.attr[2][k];
        };
        const double iw = 1.0 / interp(0);
        float col[4];  // r, g, b, a straight
        if (span.flat)
            std::copy(span.flatColour, span.flatColour + 4, col);
        else
            for (int32_t c = 0; c < 4; ++c) col[c] = float(interp(1 + c) * iw);
        const float alpha = col[3] * span.opacity;
        const float u = float(interp(5) * iw), v = float(interp(6) * iw);
        int32_t s[4];  // a, r, g, b
        if (!span.bilinear) {
            const int32_t x = std::min(int32_t(ClampF(u * fw, 0.0f, fw)), w - 1);
            const int32_t y = std::min(int32_t(ClampF(v * fh, 0.0f, fh)), h - 1);
            const uint32_t c = span.texels[size_t(y) * size_t(w) + size_t(x)];
            for (int32_t k = 0; k < 4; ++k) s[k] = int32_t((c >> (24 - 8 * k)) & 255);
        } else {
            const float cx = ClampF(u * fw - 0.5f, -2.0f, fw + 1.0f),
                        cy = ClampF(v * fh - 0.5f, -2.0f, fh + 1.0f);
            int32_t ix = int32_t(std::floor(cx)), iy = int32_t(std::floor(cy));
            int32_t wx = int32_t((cx - float(ix)) * 256.0f + 0.5f),
                    wy = int32_t((cy - float(iy)) * 256.0f + 0.5f);
            if (wx == 256) {
                ++ix;
                wx = 0;
            }
            if (wy == 256) {
                ++iy;
                wy = 0;
            }
            const size_t x0 = size_t(std::clamp(ix, 0, w - 1)),
                         x1 = size_t(std::clamp(ix + 1, 0, w - 1));
            const size_t y0 = size_t(std::clamp(iy, 0, h - 1)),
                         y1 = size_t(std::clamp(iy + 1, 0, h - 1));
            const uint32_t c00 = span.texels[y0 * size_t(w) + x0],
                           c10 = span.texels[y0 * size_t(w) + x1];
            const uint32_t c01 = span.texels[y1 * size_t(w) + x0],
                           c11 = span.texels[y1 * size_t(w) + x1];
            for (int32_t k = 0; k < 4; ++k) {
                const int32_t sh = 24 - 8 * k;
                const int32_t top =
                    int32_t((c00 >> sh) & 255) * (256 - wx) + int32_t((c10 >> sh) & 255) * wx;
                const int32_t bottom =
                    int32_t((c01 >> sh) & 255) * (256 - wx) + int32_t((c11 >> sh) & 255) * wx;
                s[k] = (top * (256 - wy) + bottom * wy + 32768) >> 16;
            }
        }
        const float m = alpha / 255.0f;
        int32_t src[4];  // premultiplied a, r, g, b
        src[0] = RoundByte(float(s[0]) * m);
        for (int32_t c = 0; c < 3; ++c)
            src[1 + c] = RoundByte(float(s[1 + c]) * col[c] / 255.0f * m);
        uint32_t result = 0;
        for (int32_t c = 0; c < 4; ++c) {
            const int32_t sh = 24 - 8 * c;
            const int32_t dc = int32_t((span.dst[i] >> sh) & 255);
            int32_t r = src[c];
            if (span.blend == TSpanBlend::Over)
                r = std::min(255, src[c] + (dc * (255 - src[0]) + 127) / 255);
            else if (span.blend == TSpanBlend::Add)
                r = std::min(255, src[c] + dc);
            result |= uint32_t(r) << sh;
        }
        span.dst[i] = result;
    }
}

TShadeSpanProc ShadeSpanFor(ql::TSimdLevel level) {
#if defined(__x86_64__)
    if (level == ql::TSimdLevel::AVX2 && ql::CpuHasAvx2()) return ShadeSpanAVX2;
#endif
    return ShadeSpanScalar;
}

void ColourSpanScalar(uint32_t* dst, int32_t count, uint32_t colour, TSpanBlend blend) {
    for (int32_t i = 0; i < count; ++i) dst[i] = Blend(colour, dst[i], blend);
}

TTexSpanProc TexSpanFor(ql::TSimdLevel level) {
#if defined(__x86_64__)
    if (level == ql::TSimdLevel::AVX2 && ql::CpuHasAvx2()) return TexSpanAVX2;
    if (level != ql::TSimdLevel::Scalar) return TexSpanSSE2;
#endif
    return TexSpanScalar;
}

void MaskedSpanScalar(const TMaskedSpan& span) {
    // NaN goes to 0, as in the device.
    auto toByte = [](float v) {
        return uint32_t((v > 0.0f ? (v < 255.0f ? v : 255.0f) : 0.0f) + 0.5f);
    };
    for (int32_t i = 0; i < span.count; ++i) {
        const uint32_t c = span.texels[i];
        const uint32_t mk = span.mask[i] >> 24;
        // Nothing of the source: blending leaves the pixel as it is.
        if (mk == 0 && span.blend != TSpanBlend::Replace) continue;
        const float m = span.maskFactor[mk];
        uint32_t s = toByte(float(c >> 24) * m) << 24;
        for (int32_t k = 0; k < 3; ++k)
            s |= toByte(span.channel[k][(c >> (16 - 8 * k)) & 255] * m) << (16 - 8 * k);
        span.dst[i] = Blend(s, span.dst[i], span.blend);
    }
}

TMaskedSpanProc MaskedSpanFor(ql::TSimdLevel level, TSpanBlend blend) {
#if defined(__x86_64__)
    if (level == ql::TSimdLevel::AVX2 && blend == TSpanBlend::Over) return MaskedSpanAVX2;
#endif
    return MaskedSpanScalar;
}

TColourSpanProc ColourSpanFor(ql::TSimdLevel level) {
#if defined(__x86_64__)
    if (level != ql::TSimdLevel::Scalar) return ColourSpanSSE2;
#endif
    return ColourSpanScalar;
}

}  // namespace orb
