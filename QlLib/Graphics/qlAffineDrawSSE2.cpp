// The bilinear run with SSE2, two pixels per step.
//
// The bilinear sum is taken as p00 + ((w10 d10 + w01 d01 + w11 d11) >> 16)
// with d = neighbour - p00, which equals the four-weight sum exactly. The
// weights reach 65535 and do not fit a signed 16-bit lane, so each product
// w d runs through pmaddwd as (w >> 7) (128 d) + (w & 127) d.
#include <emmintrin.h>

#include "QlLib/Graphics/qlAffineKernels.h"

namespace ql {

namespace {

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Pixel x0 and its right neighbour as two 32-bit lanes. For 3-byte pixels the
// neighbour is read from one byte earlier and shifted, so nothing is read past
// the neighbour's last byte.
inline __m128i LoadPair(const uint8_t* p, int32_t bpp) {
    if (bpp == 4) return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm_unpacklo_epi32(_mm_cvtsi32_si128(int32_t(Load32(p))), _mm_cvtsi32_si128(int32_t(Load32(p + 2) >> 8)));
}

inline int32_t PackedWeight(uint32_t w) { return int32_t((w >> 7) | ((w & 127) << 16)); }

// Two 3-byte pixels as two 32-bit lanes. Read as a 32-bit and a 16-bit load
// straight into registers: a 6-byte copy through memory stalls store
// forwarding and cost a quarter of the loop.
inline __m128i LoadDst2(const uint8_t* d) {
    uint32_t lo;
    uint16_t hi;
    std::memcpy(&lo, d, 4);
    std::memcpy(&hi, d + 4, 2);
    const uint64_t spread = (lo & 0xFFFFFF) | uint64_t((lo >> 24) | (uint32_t(hi) << 8)) << 32;
    return _mm_unpacklo_epi8(_mm_cvtsi64_si128(int64_t(spread)), _mm_setzero_si128());
}

inline void StoreDst2(uint8_t* d, __m128i r16) {
    const uint64_t q = uint64_t(_mm_cvtsi128_si64(_mm_packus_epi16(r16, r16)));
    const uint32_t lo = uint32_t(q & 0xFFFFFF) | (uint32_t(q >> 8) & 0xFF000000u);
    const uint16_t hi = uint16_t(q >> 40);
    std::memcpy(d, &lo, 4);
    std::memcpy(d + 4, &hi, 2);
}

}  // namespace

void BilinearRunSSE2(const TBilinearRun& run) {
    const int32_t bpp = run.srcBytes;
    const TBlendTable& blend = *run.blend;
    const __m128i zero = _mm_setzero_si128();
    const bool perPixelAlpha = bpp == 4 && !blend.copy;
    const __m128i hConst = _mm_set1_epi64x(int64_t(blend.lanes[255]));
    const __m128i mConst = _mm_set1_epi64x(int64_t(blend.masks[255]));
    uint32_t u = run.u, v = run.v;
    uint8_t* d = run.dst;
    int32_t i = 0;
    for (; i + 2 <= run.count; i += 2, d += 6) {
        const uint32_t uA = u, vA = v, uB = u + run.du, vB = v + run.dv;
        u = uB + run.du;
        v = vB + run.dv;
        const uint8_t* rowA = run.rows[vA >> 16] + size_t(uA >> 16) * bpp;
        const uint8_t* rowB = run.rows[vB >> 16] + size_t(uB >> 16) * bpp;
        const uint8_t* nextA = run.rows[(vA >> 16) + 1] + size_t(uA >> 16) * bpp;
        const uint8_t* nextB = run.rows[(vB >> 16) + 1] + size_t(uB >> 16) * bpp;
        const __m128i top = _mm_unpacklo_epi32(LoadPair(rowA, bpp), LoadPair(rowB, bpp));
        const __m128i bottom = _mm_unpacklo_epi32(LoadPair(nextA, bpp), LoadPair(nextB, bpp));
        const __m128i p00 = _mm_unpacklo_epi8(top, zero), p10 = _mm_unpackhi_epi8(top, zero);
        const __m128i p01 = _mm_unpacklo_epi8(bottom, zero), p11 = _mm_unpackhi_epi8(bottom, zero);
        const __m128i d10 = _mm_sub_epi16(p10, p00), d01 = _mm_sub_epi16(p01, p00), d11 = _mm_sub_epi16(p11, p00);
        const __m128i s10 = _mm_slli_epi16(d10, 7), s01 = _mm_slli_epi16(d01, 7), s11 = _mm_slli_epi16(d11, 7);

        const uint32_t fxA = uA & 0xFFFF, fyA = vA & 0xFFFF, fxB = uB & 0xFFFF, fyB = vB & 0xFFFF;
        const uint32_t w11A = (fxA * fyA) >> 16, w11B = (fxB * fyB) >> 16;
        __m128i xA = _mm_madd_epi16(_mm_unpacklo_epi16(s10, d10), _mm_set1_epi32(PackedWeight(fxA - w11A)));
        xA = _mm_add_epi32(xA, _mm_madd_epi16(_mm_unpacklo_epi16(s01, d01), _mm_set1_epi32(PackedWeight(fyA - w11A))));
        xA = _mm_add_epi32(xA, _mm_madd_epi16(_mm_unpacklo_epi16(s11, d11), _mm_set1_epi32(PackedWeight(w11A))));
        __m128i xB = _mm_madd_epi16(_mm_unpackhi_epi16(s10, d10), _mm_set1_epi32(PackedWeight(fxB - w11B)));
        xB = _mm_add_epi32(xB, _mm_madd_epi16(_mm_unpackhi_epi16(s01, d01), _mm_set1_epi32(PackedWeight(fyB - w11B))));
        xB = _mm_add_epi32(xB, _mm_madd_epi16(_mm_unpackhi_epi16(s11, d11), _mm_set1_epi32(PackedWeight(w11B))));
        const __m128i b = _mm_add_epi16(p00, _mm_packs_epi32(_mm_srai_epi32(xA, 16), _mm_srai_epi32(xB, 16)));

        if (blend.copy) {
            StoreDst2(d, b);
            continue;
        }
        __m128i h = hConst, m = mConst;
        if (perPixelAlpha) {
            const int32_t aA = _mm_extract_epi16(b, 3), aB = _mm_extract_epi16(b, 7);
            h = _mm_set_epi64x(int64_t(blend.lanes[aB]), int64_t(blend.lanes[aA]));
            m = _mm_set_epi64x(int64_t(blend.masks[aB]), int64_t(blend.masks[aA]));
        }
        const __m128i e = _mm_sub_epi16(LoadDst2(d), b);
        // mulhi treats h >= 32768 as h - 65536; adding e back where the mask
        // is set restores floor(e * h / 65536).
        const __m128i r = _mm_add_epi16(b, _mm_add_epi16(_mm_mulhi_epi16(e, h), _mm_and_si128(e, m)));
        StoreDst2(d, r);
    }
    if (i < run.count) {
        TBilinearRun rest = run;
        rest.dst = d;
        rest.count = run.count - i;
        rest.u = u;
        rest.v = v;
        BilinearRunScalar(rest);
    }
}

}  // namespace ql
