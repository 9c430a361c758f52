// The software device's runs with SSE2, two pixels per register in 16-bit
// lanes. Pixels whose texels all lie inside the texture take this path; the
// ones near the clamped edges go through the scalar code, one at a time.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "OrbLib2/3DBasics/qlSoftSpans.h"

namespace orb {

namespace {

constexpr int64_t kHalf = int64_t(1) << 23;

inline __m128i Load32(const uint32_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

// (a (256 - w) + b w + 128) >> 8 per 16-bit lane; every sum stays below 65536.
inline __m128i Lerp(__m128i a, __m128i b, __m128i w, __m128i wInv) {
    const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(a, wInv), _mm_mullo_epi16(b, w));
    return _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(128)), 8);
}

// Four pixels as bytes over four destination pixels.
inline __m128i BlendFour(__m128i sLo, __m128i sHi, __m128i d, TSpanBlend blend) {
    const __m128i s = _mm_packus_epi16(sLo, sHi);
    if (blend == TSpanBlend::Replace) return s;
    if (blend == TSpanBlend::Add) return _mm_adds_epu8(s, d);
    if (blend == TSpanBlend::Max) return _mm_max_epu8(s, d);
    const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255),
                  k128 = _mm_set1_epi16(128);
    auto half = [&](__m128i sh, __m128i dh) {
        const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sh, 0xFF), 0xFF);
        const __m128i t = _mm_add_epi16(_mm_mullo_epi16(dh, _mm_sub_epi16(k255, a)), k128);
        return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    };
    const __m128i r = _mm_packus_epi16(half(sLo, _mm_unpacklo_epi8(d, zero)),
                                       half(sHi, _mm_unpackhi_epi8(d, zero)));
    return _mm_adds_epu8(s, r);
}

// [a x4, b x4] in 16-bit lanes.
inline __m128i Spread(uint32_t a, uint32_t b) {
    const __m128i x = _mm_cvtsi32_si128(int32_t(a | (b << 16)));
    const __m128i y = _mm_unpacklo_epi16(x, x);
    return _mm_unpacklo_epi32(y, y);
}

struct TSampler {
    const uint32_t* texels;
    int64_t w;
    uint64_t maxX, maxY;  // last integer part with all neighbours inside

    // Two bilinear samples in 16-bit lanes, or false when a neighbour of
    // either lies outside.
    bool Bilinear(int64_t ua, int64_t va, int64_t ub, int64_t vb, __m128i& out) const {
        const int64_t ura = ua + kHalf, vra = va + kHalf, urb = ub + kHalf, vrb = vb + kHalf;
        const int64_t xa = ura >> 32, ya = vra >> 32, xb = urb >> 32, yb = vrb >> 32;
        if (uint64_t(xa) > maxX || uint64_t(ya) > maxY || uint64_t(xb) > maxX ||
            uint64_t(yb) > maxY)
            return false;
        const uint32_t* pa = texels + ya * w + xa;
        const uint32_t* pb = texels + yb * w + xb;
        const __m128i zero = _mm_setzero_si128();
        const __m128i t = _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pa)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pb)));
        const __m128i b =
            _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pa + w)),
                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pb + w)));
        const __m128i wx = Spread(uint32_t(ura >> 24) & 255, uint32_t(urb >> 24) & 255);
        const __m128i wy = Spread(uint32_t(vra >> 24) & 255, uint32_t(vrb >> 24) & 255);
        const __m128i k256 = _mm_set1_epi16(256);
        const __m128i wxInv = _mm_sub_epi16(k256, wx);
        const __m128i top = Lerp(_mm_unpacklo_epi8(t, zero), _mm_unpackhi_epi8(t, zero), wx, wxInv);
        const __m128i bottom =
            Lerp(_mm_unpacklo_epi8(b, zero), _mm_unpackhi_epi8(b, zero), wx, wxInv);
        out = Lerp(top, bottom, wy, _mm_sub_epi16(k256, wy));
        return true;
    }

    bool Point(int64_t ua, int64_t va, int64_t ub, int64_t vb, __m128i& out) const {
        const int64_t xa = ua >> 32, ya = va >> 32, xb = ub >> 32, yb = vb >> 32;
        if (uint64_t(xa) > maxX || uint64_t(ya) > maxY || uint64_t(xb) > maxX ||
            uint64_t(yb) > maxY)
            return false;
        out = _mm_unpacklo_epi8(
            _mm_unpacklo_epi32(Load32(texels + ya * w + xa), Load32(texels + yb * w + xb)),
            _mm_setzero_si128());
        return true;
    }
};

}  // namespace

void TexSpanSSE2(const TTexSpan& in) {
    TTexSpan span = in;
    // Bilinear weights that stay zero along the whole run (a picture drawn
    // one texel per pixel) make it a point run at the rounded coordinates.
    if (span.bilinear && span.dv == 0 && (span.du & 0xFFFFFFFF) == 0 &&
        ((span.u + kHalf) & 0xFF000000) == 0 && ((span.v + kHalf) & 0xFF000000) == 0) {
        span.bilinear = false;
        span.u += kHalf;
        span.v += kHalf;
    }
    const int64_t edge = span.bilinear ? 2 : 1;
    if (span.width < edge || span.height < edge) {
        TexSpanScalar(span);
        return;
    }
    const bool identity = span.factor[0] == 256 && span.factor[1] == 256 && span.factor[2] == 256 &&
                          span.factor[3] == 256;
    const __m128i factor =
        _mm_set_epi16(int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]),
                      int16_t(span.factor[0]), int16_t(span.factor[3]), int16_t(span.factor[2]),
                      int16_t(span.factor[1]), int16_t(span.factor[0]));
    const TSampler sampler{span.texels, span.width, uint64_t(span.width - edge),
                           uint64_t(span.height - edge)};
    int64_t u = span.u, v = span.v;
    const int64_t du = span.du, dv = span.dv;
    int32_t i = 0;
    auto scalar = [&](int32_t n) {
        TTexSpan one = span;
        one.dst = span.dst + i;
        one.count = n;
        one.u = u;
        one.v = v;
        TexSpanScalar(one);
        i += n;
        u += du * n;
        v += dv * n;
    };
    const __m128i k128 = _mm_set1_epi16(128);
    if (!span.bilinear && du == (int64_t(1) << 32) && dv == 0) {
        // One texel per pixel along a texture row: the texels inside are one
        // block, read four at a time (or copied as they are).
        const int64_t y = v >> 32, x = u >> 32;
        if (y >= 0 && y < span.height) {
            const int32_t skip = int32_t(std::clamp<int64_t>(-x, 0, span.count));
            if (skip > 0) scalar(skip);
            const int32_t inside = int32_t(
                std::clamp<int64_t>(int64_t(span.width) - (x + skip), 0, span.count - skip));
            const uint32_t* src = span.texels + y * int64_t(span.width) +
                                  std::clamp<int64_t>(x + skip, 0, span.width);
            if (identity && span.blend == TSpanBlend::Replace) {
                if (inside > 0) std::memcpy(span.dst + i, src, size_t(inside) * 4);
                i += inside;
                u += du * inside;
            } else {
                const __m128i zero = _mm_setzero_si128();
                int32_t k = 0;
                for (; k + 4 <= inside; k += 4) {
                    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + k));
                    __m128i lo = _mm_unpacklo_epi8(t, zero), hi = _mm_unpackhi_epi8(t, zero);
                    if (!identity) {
                        lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(lo, factor), k128), 8);
                        hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(hi, factor), k128), 8);
                    }
                    __m128i* d = reinterpret_cast<__m128i*>(span.dst + i + k);
                    _mm_storeu_si128(d, BlendFour(lo, hi, _mm_loadu_si128(d), span.blend));
                }
                i += k;
                u += du * k;
            }
            if (i < span.count) scalar(span.count - i);
            return;
        }
    }
    while (i + 4 <= span.count) {
        __m128i lo, hi;
        const bool inside =
            span.bilinear ? sampler.Bilinear(u, v, u + du, v + dv, lo) &&
                                sampler.Bilinear(u + 2 * du, v + 2 * dv, u + 3 * du, v + 3 * dv, hi)
                          : sampler.Point(u, v, u + du, v + dv, lo) &&
                                sampler.Point(u + 2 * du, v + 2 * dv, u + 3 * du, v + 3 * dv, hi);
        if (!inside) {
            scalar(1);
            continue;
        }
        if (!identity) {
            lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(lo, factor), k128), 8);
            hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(hi, factor), k128), 8);
        }
        __m128i* d = reinterpret_cast<__m128i*>(span.dst + i);
        _mm_storeu_si128(
            d, BlendFour(lo, hi, span.blend == TSpanBlend::Replace ? lo : _mm_loadu_si128(d),
                         span.blend));
        i += 4;
        u += 4 * du;
        v += 4 * dv;
    }
    if (i < span.count) scalar(span.count - i);
}

void ColourSpanSSE2(uint32_t* dst, int32_t count, uint32_t colour, TSpanBlend blend) {
    const __m128i c = _mm_set1_epi32(int32_t(colour));
    const __m128i cw = _mm_unpacklo_epi8(c, _mm_setzero_si128());
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128i* d = reinterpret_cast<__m128i*>(dst + i);
        if (blend == TSpanBlend::Replace)
            _mm_storeu_si128(d, c);
        else
            _mm_storeu_si128(d, BlendFour(cw, cw, _mm_loadu_si128(d), blend));
    }
    ColourSpanScalar(dst + i, count - i, colour, blend);
}

}  // namespace orb
