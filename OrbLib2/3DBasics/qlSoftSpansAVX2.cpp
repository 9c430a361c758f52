// The software device's bilinear runs with AVX2, four pixels per register in
// 16-bit lanes: pixels 0 and 1 in the low half, 2 and 3 in the high one, so
// that every operation stays within its half as in the SSE2 version. The
// weights come from the coordinates stepped in 64-bit lanes, the addresses
// from the same coordinates stepped in scalar registers.
//
// Only these functions carry the AVX2 target, and they are called only after
// the processor reported AVX2; the file includes nothing whose shared inline
// code could be emitted here with AVX2 instructions for other files to use.
#include <immintrin.h>

#include <cstring>

#include "OrbLib2/3DBasics/qlSoftSpans.h"

#define ORB_AVX2 __attribute__((target("avx2")))

namespace orb {

namespace {

constexpr int64_t kHalf = int64_t(1) << 23;

ORB_AVX2 inline __m256i Lerp(__m256i a, __m256i b, __m256i w, __m256i wInv) {
    const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, wInv), _mm256_mullo_epi16(b, w));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), 8);
}

// The weights (coordinate >> 24) & 255 of four pixels, each spread over its
// pixel's four lanes.
ORB_AVX2 inline __m256i Weights(__m256i coords) {
    const __m256i w = _mm256_and_si256(_mm256_srli_epi64(_mm256_add_epi64(coords, _mm256_set1_epi64x(kHalf)), 24),
                                       _mm256_set1_epi64x(255));
    return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(w, 0), 0);
}

ORB_AVX2 inline __m128i Pair(const uint32_t* a, const uint32_t* b) {
    return _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
}

// Four samples (16-bit lanes) blended onto the four pixels at d.
ORB_AVX2 inline __m256i Blend(__m256i s, const __m128i* d, TSpanBlend blend, __m256i k255, __m256i k128) {
    if (blend == TSpanBlend::Replace) return s;
    const __m256i dst = _mm256_cvtepu8_epi16(_mm_loadu_si128(d));
    if (blend == TSpanBlend::Add) return _mm256_min_epi16(_mm256_add_epi16(s, dst), k255);
    const __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s, 0xFF), 0xFF);
    const __m256i x = _mm256_add_epi16(_mm256_mullo_epi16(dst, _mm256_sub_epi16(k255, a)), k128);
    const __m256i q = _mm256_srli_epi16(_mm256_add_epi16(x, _mm256_srli_epi16(x, 8)), 8);
    return _mm256_min_epi16(_mm256_add_epi16(s, q), k255);
}

}  // namespace

// One texel per pixel along a texture row, changed by colour or blend (a
// render target composed at its own size): eight pixels a step. False when
// the run is not of that kind.
ORB_AVX2 bool RowRunAVX2(const TTexSpan& span) {
    const int64_t one = int64_t(1) << 32;
    int64_t u = span.u, v = span.v;
    if (span.bilinear) {
        u += kHalf;
        v += kHalf;
    }
    const int64_t x = u >> 32, y = v >> 32;
    if (span.du != one || span.dv != 0 || y < 0 || y >= span.height || x < 0 || x >= span.width) return false;
    const bool identity =
        span.factor[0] == 256 && span.factor[1] == 256 && span.factor[2] == 256 && span.factor[3] == 256;
    if (identity && span.blend == TSpanBlend::Replace) return false;
    const int64_t inside = int64_t(span.width) - x < span.count ? int64_t(span.width) - x : span.count;
    const uint32_t* src = span.texels + y * int64_t(span.width) + x;
    const __m256i factor = _mm256_set_epi16(
        int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]),
        int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]),
        int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]),
        int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]));
    const __m256i k255 = _mm256_set1_epi16(255), k128 = _mm256_set1_epi16(128), zero = _mm256_setzero_si256();
    int64_t i = 0;
    for (; i + 8 <= inside; i += 8) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        __m256i lo = _mm256_unpacklo_epi8(t, zero), hi = _mm256_unpackhi_epi8(t, zero);
        if (!identity) {
            lo = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(lo, factor), k128), 8);
            hi = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(hi, factor), k128), 8);
        }
        __m256i* d = reinterpret_cast<__m256i*>(span.dst + i);
        __m256i r = _mm256_packus_epi16(lo, hi);
        if (span.blend == TSpanBlend::Add) {
            r = _mm256_adds_epu8(r, _mm256_loadu_si256(d));
        } else if (span.blend == TSpanBlend::Over) {
            const __m256i dst = _mm256_loadu_si256(d);
            const __m256i aLo = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(lo, 0xFF), 0xFF);
            const __m256i aHi = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(hi, 0xFF), 0xFF);
            const __m256i xLo = _mm256_add_epi16(
                _mm256_mullo_epi16(_mm256_unpacklo_epi8(dst, zero), _mm256_sub_epi16(k255, aLo)), k128);
            const __m256i xHi = _mm256_add_epi16(
                _mm256_mullo_epi16(_mm256_unpackhi_epi8(dst, zero), _mm256_sub_epi16(k255, aHi)), k128);
            const __m256i qLo = _mm256_srli_epi16(_mm256_add_epi16(xLo, _mm256_srli_epi16(xLo, 8)), 8);
            const __m256i qHi = _mm256_srli_epi16(_mm256_add_epi16(xHi, _mm256_srli_epi16(xHi, 8)), 8);
            r = _mm256_adds_epu8(r, _mm256_packus_epi16(qLo, qHi));
        }
        _mm256_storeu_si256(d, r);
    }
    if (i < span.count) {
        TTexSpan rest = span;
        rest.dst = span.dst + i;
        rest.count = int32_t(span.count - i);
        rest.u = span.u + span.du * i;
        TexSpanSSE2(rest);
    }
    return true;
}

ORB_AVX2 void TexSpanAVX2(const TTexSpan& span) {
    // Point runs, tiny textures and runs whose weights stay zero are the
    // SSE2 version's business.
    const bool zeroWeights = span.dv == 0 && (span.du & 0xFFFFFFFF) == 0 && ((span.u + kHalf) & 0xFF000000) == 0 &&
                             ((span.v + kHalf) & 0xFF000000) == 0;
    if ((!span.bilinear || zeroWeights) && span.count >= 8 && RowRunAVX2(span)) return;
    if (!span.bilinear || zeroWeights || span.width < 2 || span.height < 2 || span.count < 8) {
        TexSpanSSE2(span);
        return;
    }
    const bool identity =
        span.factor[0] == 256 && span.factor[1] == 256 && span.factor[2] == 256 && span.factor[3] == 256;
    const __m256i factor = _mm256_set_epi16(
        int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]),
        int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]),
        int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]),
        int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]));
    const int64_t w = span.width;
    const uint64_t maxX = uint64_t(span.width - 2), maxY = uint64_t(span.height - 2);
    const int64_t du = span.du, dv = span.dv;
    int64_t u = span.u, v = span.v;
    __m256i us = _mm256_setr_epi64x(u, u + du, u + 2 * du, u + 3 * du);
    __m256i vs = _mm256_setr_epi64x(v, v + dv, v + 2 * dv, v + 3 * dv);
    const __m256i du4 = _mm256_set1_epi64x(4 * du), dv4 = _mm256_set1_epi64x(4 * dv);
    const __m256i k256 = _mm256_set1_epi16(256), k255 = _mm256_set1_epi16(255), k128 = _mm256_set1_epi16(128);
    const __m256i zero = _mm256_setzero_si256();
    int32_t i = 0;
    if (dv == 0 && uint64_t((v + kHalf) >> 32) <= maxY) {
        // Along a texture row (a picture scaled without turning): one pair of
        // rows and one vertical weight serve the whole run.
        const uint32_t* const top0 = span.texels + ((v + kHalf) >> 32) * w;
        const uint32_t* const bottom0 = top0 + w;
        const __m256i wy = Weights(vs), wyInv = _mm256_sub_epi16(k256, wy);
        while (i + 4 <= span.count) {
            const int64_t x0 = (u + kHalf) >> 32, x3 = (u + 3 * du + kHalf) >> 32;
            if (uint64_t(x0) > maxX || uint64_t(x3) > maxX) break;
            const int64_t x1 = (u + du + kHalf) >> 32, x2 = (u + 2 * du + kHalf) >> 32;
            const __m256i t = _mm256_inserti128_si256(_mm256_castsi128_si256(Pair(top0 + x0, top0 + x1)),
                                                      Pair(top0 + x2, top0 + x3), 1);
            const __m256i b = _mm256_inserti128_si256(_mm256_castsi128_si256(Pair(bottom0 + x0, bottom0 + x1)),
                                                      Pair(bottom0 + x2, bottom0 + x3), 1);
            const __m256i wx = Weights(us);
            const __m256i wxInv = _mm256_sub_epi16(k256, wx);
            const __m256i top = Lerp(_mm256_unpacklo_epi8(t, zero), _mm256_unpackhi_epi8(t, zero), wx, wxInv);
            const __m256i bottom = Lerp(_mm256_unpacklo_epi8(b, zero), _mm256_unpackhi_epi8(b, zero), wx, wxInv);
            __m256i s = Lerp(top, bottom, wy, wyInv);
            if (!identity) s = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(s, factor), k128), 8);
            __m128i* d = reinterpret_cast<__m128i*>(span.dst + i);
            const __m256i r = Blend(s, d, span.blend, k255, k128);
            _mm_storeu_si128(d, _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(r, r), 0x08)));
            i += 4;
            u += 4 * du;
            us = _mm256_add_epi64(us, du4);
        }
    }
    while (i + 4 <= span.count) {
        const int64_t x0 = (u + kHalf) >> 32, y0 = (v + kHalf) >> 32;
        const int64_t x3 = (u + 3 * du + kHalf) >> 32, y3 = (v + 3 * dv + kHalf) >> 32;
        // The coordinates are linear: the first and last pixel bound the rest.
        if (uint64_t(x0) > maxX || uint64_t(y0) > maxY || uint64_t(x3) > maxX || uint64_t(y3) > maxY) {
            TTexSpan one = span;
            one.dst = span.dst + i;
            one.count = 1;
            one.u = u;
            one.v = v;
            TexSpanScalar(one);
            ++i;
            u += du;
            v += dv;
            us = _mm256_add_epi64(us, _mm256_set1_epi64x(du));
            vs = _mm256_add_epi64(vs, _mm256_set1_epi64x(dv));
            continue;
        }
        const uint32_t* p[4];
        p[0] = span.texels + y0 * w + x0;
        p[1] = span.texels + ((v + dv + kHalf) >> 32) * w + ((u + du + kHalf) >> 32);
        p[2] = span.texels + ((v + 2 * dv + kHalf) >> 32) * w + ((u + 2 * du + kHalf) >> 32);
        p[3] = span.texels + y3 * w + x3;
        const __m256i t = _mm256_inserti128_si256(_mm256_castsi128_si256(Pair(p[0], p[1])), Pair(p[2], p[3]), 1);
        const __m256i b =
            _mm256_inserti128_si256(_mm256_castsi128_si256(Pair(p[0] + w, p[1] + w)), Pair(p[2] + w, p[3] + w), 1);
        const __m256i wx = Weights(us), wy = Weights(vs);
        const __m256i wxInv = _mm256_sub_epi16(k256, wx);
        const __m256i top = Lerp(_mm256_unpacklo_epi8(t, zero), _mm256_unpackhi_epi8(t, zero), wx, wxInv);
        const __m256i bottom = Lerp(_mm256_unpacklo_epi8(b, zero), _mm256_unpackhi_epi8(b, zero), wx, wxInv);
        __m256i s = Lerp(top, bottom, wy, _mm256_sub_epi16(k256, wy));
        if (!identity) s = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(s, factor), k128), 8);
        __m128i* d = reinterpret_cast<__m128i*>(span.dst + i);
        const __m256i r = Blend(s, d, span.blend, k255, k128);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(r, r), 0x08);
        _mm_storeu_si128(d, _mm256_castsi256_si128(packed));
        i += 4;
        u += 4 * du;
        v += 4 * dv;
        us = _mm256_add_epi64(us, du4);
        vs = _mm256_add_epi64(vs, dv4);
    }
    if (i < span.count) {
        TTexSpan rest = span;
        rest.dst = span.dst + i;
        rest.count = span.count - i;
        rest.u = u;
        rest.v = v;
        TexSpanScalar(rest);
    }
}

}  // namespace orb
