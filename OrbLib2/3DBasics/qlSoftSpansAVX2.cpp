// The software device's bilinear runs with AVX2, four pixels per register in
// 16-bit lanes: pixels 0 and 1 in the low half, 2 and 3 in the high one, so
// that every operation stays within its half as in the SSE2 version. The
// weights come from the coordinates stepped in 64-bit lanes, the addresses
// from the same coordinates stepped in scalar registers. The shaded runs
// work in 32-bit lanes and doubles, four pixels a step, with the scalar
// version's operations in its order, so they round alike.
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
// How many rows below its own the bilinear run asks for texels: those the
// next pixel row reads when a picture is shrunk to half or less.
constexpr int64_t kPrefetchRows = 3;

ORB_AVX2 inline __m256i Lerp(__m256i a, __m256i b, __m256i w, __m256i wInv) {
    const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, wInv), _mm256_mullo_epi16(b, w));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), 8);
}

// The weights (coordinate >> 24) & 255 of four pixels, each spread over its
// pixel's four lanes.
ORB_AVX2 inline __m256i Weights(__m256i coords) {
    const __m256i w =
        _mm256_and_si256(_mm256_srli_epi64(_mm256_add_epi64(coords, _mm256_set1_epi64x(kHalf)), 24),
                         _mm256_set1_epi64x(255));
    return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(w, 0), 0);
}

ORB_AVX2 inline __m128i Pair(const uint32_t* a, const uint32_t* b) {
    return _mm_unpacklo_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                              _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
}

// Four samples (16-bit lanes) blended onto the four pixels at d.
ORB_AVX2 inline __m256i Blend(__m256i s, const __m128i* d, TSpanBlend blend, __m256i k255,
                              __m256i k128) {
    if (blend == TSpanBlend::Replace) return s;
    const __m256i dst = _mm256_cvtepu8_epi16(_mm_loadu_si128(d));
    if (blend == TSpanBlend::Add) return _mm256_min_epi16(_mm256_add_epi16(s, dst), k255);
    if (blend == TSpanBlend::Max) return _mm256_max_epi16(s, dst);
    const __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s, 0xFF), 0xFF);
    const __m256i x = _mm256_add_epi16(_mm256_mullo_epi16(dst, _mm256_sub_epi16(k255, a)), k128);
    const __m256i q = _mm256_srli_epi16(_mm256_add_epi16(x, _mm256_srli_epi16(x, 8)), 8);
    return _mm256_min_epi16(_mm256_add_epi16(s, q), k255);
}

// Four bilinear samples (16-bit lanes): the texels at p[k] and p[k] + 1
// over those of the row below (ROW texels on), weighted by the fractions of
// the four pixels' coordinates (wy already spread), scaled by the colour
// factor unless it is one.
ORB_AVX2 inline __m256i BilinearFour(const uint32_t* const (&p)[4], int64_t row, __m256i us,
                                     __m256i wy, bool identity, __m256i factor) {
    const __m256i k256 = _mm256_set1_epi16(256), zero = _mm256_setzero_si256();
    const __m256i t =
        _mm256_inserti128_si256(_mm256_castsi128_si256(Pair(p[0], p[1])), Pair(p[2], p[3]), 1);
    const __m256i b = _mm256_inserti128_si256(_mm256_castsi128_si256(Pair(p[0] + row, p[1] + row)),
                                              Pair(p[2] + row, p[3] + row), 1);
    const __m256i wx = Weights(us);
    const __m256i wxInv = _mm256_sub_epi16(k256, wx);
    const __m256i top =
        Lerp(_mm256_unpacklo_epi8(t, zero), _mm256_unpackhi_epi8(t, zero), wx, wxInv);
    const __m256i bottom =
        Lerp(_mm256_unpacklo_epi8(b, zero), _mm256_unpackhi_epi8(b, zero), wx, wxInv);
    const __m256i s = Lerp(top, bottom, wy, _mm256_sub_epi16(k256, wy));
    if (identity) return s;
    return _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(s, factor), _mm256_set1_epi16(128)), 8);
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
    if (span.du != one || span.dv != 0 || y < 0 || y >= span.height || x < 0 || x >= span.width)
        return false;
    const bool identity = span.factor[0] == 256 && span.factor[1] == 256 && span.factor[2] == 256 &&
                          span.factor[3] == 256;
    if (identity && span.blend == TSpanBlend::Replace) return false;
    const int64_t inside =
        int64_t(span.width) - x < span.count ? int64_t(span.width) - x : span.count;
    const uint32_t* src = span.texels + y * int64_t(span.width) + x;
    const __m256i factor =
        _mm256_set_epi16(int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]),
                         int16_t(span.factor[0]), int16_t(span.factor[3]), int16_t(span.factor[2]),
                         int16_t(span.factor[1]), int16_t(span.factor[0]), int16_t(span.factor[3]),
                         int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]),
                         int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]),
                         int16_t(span.factor[0]));
    const __m256i k255 = _mm256_set1_epi16(255), k128 = _mm256_set1_epi16(128),
                  zero = _mm256_setzero_si256();
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
        } else if (span.blend == TSpanBlend::Max) {
            r = _mm256_max_epu8(r, _mm256_loadu_si256(d));
        } else if (span.blend == TSpanBlend::Over) {
            const __m256i dst = _mm256_loadu_si256(d);
            const __m256i aLo = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(lo, 0xFF), 0xFF);
            const __m256i aHi = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(hi, 0xFF), 0xFF);
            const __m256i xLo = _mm256_add_epi16(
                _mm256_mullo_epi16(_mm256_unpacklo_epi8(dst, zero), _mm256_sub_epi16(k255, aLo)),
                k128);
            const __m256i xHi = _mm256_add_epi16(
                _mm256_mullo_epi16(_mm256_unpackhi_epi8(dst, zero), _mm256_sub_epi16(k255, aHi)),
                k128);
            const __m256i qLo =
                _mm256_srli_epi16(_mm256_add_epi16(xLo, _mm256_srli_epi16(xLo, 8)), 8);
            const __m256i qHi =
                _mm256_srli_epi16(_mm256_add_epi16(xHi, _mm256_srli_epi16(xHi, 8)), 8);
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
    const bool zeroWeights = span.dv == 0 && (span.du & 0xFFFFFFFF) == 0 &&
                             ((span.u + kHalf) & 0xFF000000) == 0 &&
                             ((span.v + kHalf) & 0xFF000000) == 0;
    if ((!span.bilinear || zeroWeights) && span.count >= 8 && RowRunAVX2(span)) return;
    if (!span.bilinear || zeroWeights || span.width < 2 || span.height < 2 || span.count < 8) {
        TexSpanSSE2(span);
        return;
    }
    const bool identity = span.factor[0] == 256 && span.factor[1] == 256 && span.factor[2] == 256 &&
                          span.factor[3] == 256;
    const __m256i factor =
        _mm256_set_epi16(int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]),
                         int16_t(span.factor[0]), int16_t(span.factor[3]), int16_t(span.factor[2]),
                         int16_t(span.factor[1]), int16_t(span.factor[0]), int16_t(span.factor[3]),
                         int16_t(span.factor[2]), int16_t(span.factor[1]), int16_t(span.factor[0]),
                         int16_t(span.factor[3]), int16_t(span.factor[2]), int16_t(span.factor[1]),
                         int16_t(span.factor[0]));
    const int64_t w = span.width;
    const uint64_t maxX = uint64_t(span.width - 2), maxY = uint64_t(span.height - 2);
    const int64_t du = span.du, dv = span.dv;
    int64_t u = span.u, v = span.v;
    __m256i us = _mm256_setr_epi64x(u, u + du, u + 2 * du, u + 3 * du);
    __m256i vs = _mm256_setr_epi64x(v, v + dv, v + 2 * dv, v + 3 * dv);
    const __m256i du4 = _mm256_set1_epi64x(4 * du), dv4 = _mm256_set1_epi64x(4 * dv);
    const __m256i k255 = _mm256_set1_epi16(255), k128 = _mm256_set1_epi16(128);
    // The last four pixels as they were: a run ending between steps of four
    // takes its last four in one step from these (see the end), rather than
    // the odd ones one by one on the scalar path.
    uint32_t last[4];
    std::memcpy(last, span.dst + span.count - 4, sizeof last);
    int32_t i = 0;
    if (dv == 0 && uint64_t((v + kHalf) >> 32) <= maxY) {
        // Along a texture row (a picture scaled without turning): one pair of
        // rows and one vertical weight serve the whole run.
        const uint32_t* const top0 = span.texels + ((v + kHalf) >> 32) * w;
        const __m256i wy = Weights(vs);
        while (i + 4 <= span.count) {
            const int64_t x0 = (u + kHalf) >> 32, x3 = (u + 3 * du + kHalf) >> 32;
            if (uint64_t(x0) > maxX || uint64_t(x3) > maxX) break;
            const int64_t x1 = (u + du + kHalf) >> 32, x2 = (u + 2 * du + kHalf) >> 32;
            const uint32_t* const p[4] = {top0 + x0, top0 + x1, top0 + x2, top0 + x3};
            // A picture shrunk to half streams two texel rows a pixel row
            // through memory, faster than the hardware alone fetches them:
            // the rows the next pixel rows read are asked for meanwhile.
            // Prefetches never fault, past the texture's end included.
            _mm_prefetch(reinterpret_cast<const char*>(p[3] + kPrefetchRows * w), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(p[3] + (kPrefetchRows + 1) * w),
                         _MM_HINT_T0);
            const __m256i s = BilinearFour(p, w, us, wy, identity, factor);
            __m128i* d = reinterpret_cast<__m128i*>(span.dst + i);
            const __m256i r = Blend(s, d, span.blend, k255, k128);
            _mm_storeu_si128(d, _mm256_castsi256_si128(
                                    _mm256_permute4x64_epi64(_mm256_packus_epi16(r, r), 0x08)));
            i += 4;
            u += 4 * du;
            us = _mm256_add_epi64(us, du4);
        }
    }
    while (i + 4 <= span.count) {
        const int64_t x0 = (u + kHalf) >> 32, y0 = (v + kHalf) >> 32;
        const int64_t x3 = (u + 3 * du + kHalf) >> 32, y3 = (v + 3 * dv + kHalf) >> 32;
        // The coordinates are linear: the first and last pixel bound the rest.
        if (uint64_t(x0) > maxX || uint64_t(y0) > maxY || uint64_t(x3) > maxX ||
            uint64_t(y3) > maxY) {
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
        const __m256i s = BilinearFour(p, w, us, Weights(vs), identity, factor);
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
    if (i == span.count) return;
    // The last four pixels in one step, those of them already drawn again
    // from their old values, so they come out as they are.
    const int32_t k = span.count - 4;
    const int64_t uk = span.u + du * k, vk = span.v + dv * k;
    const int64_t x0 = (uk + kHalf) >> 32, y0 = (vk + kHalf) >> 32;
    const int64_t x3 = (uk + 3 * du + kHalf) >> 32, y3 = (vk + 3 * dv + kHalf) >> 32;
    if (uint64_t(x0) <= maxX && uint64_t(y0) <= maxY && uint64_t(x3) <= maxX &&
        uint64_t(y3) <= maxY) {
        const uint32_t* p[4];
        p[0] = span.texels + y0 * w + x0;
        p[1] = span.texels + ((vk + dv + kHalf) >> 32) * w + ((uk + du + kHalf) >> 32);
        p[2] = span.texels + ((vk + 2 * dv + kHalf) >> 32) * w + ((uk + 2 * du + kHalf) >> 32);
        p[3] = span.texels + y3 * w + x3;
        const __m256i uq = _mm256_setr_epi64x(uk, uk + du, uk + 2 * du, uk + 3 * du);
        const __m256i vq = _mm256_setr_epi64x(vk, vk + dv, vk + 2 * dv, vk + 3 * dv);
        const __m256i s = BilinearFour(p, w, uq, Weights(vq), identity, factor);
        const __m256i r = Blend(s, reinterpret_cast<const __m128i*>(last), span.blend, k255, k128);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(r, r), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(span.dst + k), _mm256_castsi256_si128(packed));
        return;
    }
    TTexSpan rest = span;
    rest.dst = span.dst + i;
    rest.count = span.count - i;
    rest.u = u;
    rest.v = v;
    TexSpanScalar(rest);
}

namespace {

// Exact int64 -> double for |x| < 2^51: the integer lands in the mantissa of
// 1.5 * 2^52.
ORB_AVX2 inline __m256d ToDouble(__m256i x) {
    const __m256i magic = _mm256_set1_epi64x(0x4338000000000000);
    return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(x, magic)),
                         _mm256_castsi256_pd(magic));
}

// max and min return their second operand unless the comparison holds, so
// NaN goes to lo as in the scalar clamp.
ORB_AVX2 inline __m128 ClampPs(__m128 v, __m128 lo, __m128 hi) {
    return _mm_min_ps(_mm_max_ps(v, lo), hi);
}

ORB_AVX2 inline __m128i RoundBytes(__m128 v) {
    return _mm_cvttps_epi32(
        _mm_add_ps(ClampPs(v, _mm_setzero_ps(), _mm_set1_ps(255.0f)), _mm_set1_ps(0.5f)));
}

ORB_AVX2 inline __m256d Interp(__m256d l0, __m256d l1, __m256d l2, const __m256d (*a)[7],
                               int32_t j) {
    return _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(l0, a[0][j]), _mm256_mul_pd(l1, a[1][j])),
                         _mm256_mul_pd(l2, a[2][j]));
}

ORB_AVX2 inline __m128i Channel(__m128i c, int32_t shift) {
    return _mm_and_si128(_mm_srli_epi32(c, shift), _mm_set1_epi32(255));
}

}  // namespace

ORB_AVX2 void ShadeSpanAVX2(const TShadeSpan& span) {
    // The conversion of the edge values is exact below 2^51; they are linear,
    // so the run's ends bound them.
    constexpr int64_t kLimit = int64_t(1) << 50;
    for (int32_t k = 0; k < 3; ++k) {
        const int64_t first = span.e[k], last = span.e[k] + span.step[k] * int64_t(span.count + 3);
        if (first >= kLimit || first <= -kLimit || last >= kLimit || last <= -kLimit) {
            ShadeSpanScalar(span);
            return;
        }
    }
    const int32_t w = span.width, h = span.height;
    const float fw = float(w), fh = float(h);
    const __m256d invArea = _mm256_set1_pd(span.invArea);
    __m256d a[3][7];
    for (int32_t k = 0; k < 3; ++k)
        for (int32_t j = 0; j < 7; ++j) a[k][j] = _mm256_set1_pd(span.attr[k][j]);
    __m256i e[3], step4[3];
    for (int32_t k = 0; k < 3; ++k) {
        const int64_t e0 = span.e[k], s = span.step[k];
        e[k] = _mm256_setr_epi64x(e0, e0 + s, e0 + 2 * s, e0 + 3 * s);
        step4[k] = _mm256_set1_epi64x(4 * s);
    }
    const __m128 vfw = _mm_set1_ps(fw), vfh = _mm_set1_ps(fh), zeroPs = _mm_setzero_ps();
    const __m128 half = _mm_set1_ps(0.5f), k256f = _mm_set1_ps(256.0f), k255f = _mm_set1_ps(255.0f);
    const __m128 opacity = _mm_set1_ps(span.opacity);
    const __m128i wMax = _mm_set1_epi32(w - 1), hMax = _mm_set1_epi32(h - 1),
                  zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi32(1), k256 = _mm_set1_epi32(256), k255 = _mm_set1_epi32(255);
    const __m128i stride = _mm_set1_epi32(w);
    const int* texels = reinterpret_cast<const int*>(span.texels);
    const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
    // The last step masks the pixels past the run's end: short runs (thin
    // triangles) would otherwise go mostly through the scalar loop. Lanes
    // past the end still compute clamped, valid texel addresses.
    for (int32_t i = 0; i < span.count; i += 4) {
        const __m128i live = _mm_cmpgt_epi32(_mm_set1_epi32(span.count - i), lanes);
        const __m256d l0 = _mm256_mul_pd(ToDouble(e[0]), invArea);
        const __m256d l1 = _mm256_mul_pd(ToDouble(e[1]), invArea);
        const __m256d l2 = _mm256_mul_pd(ToDouble(e[2]), invArea);
        for (int32_t k = 0; k < 3; ++k) e[k] = _mm256_add_epi64(e[k], step4[k]);
        const __m256d iw = _mm256_div_pd(_mm256_set1_pd(1.0), Interp(l0, l1, l2, a, 0));
        __m128 col[4];
        for (int32_t c = 0; c < 4; ++c)
            col[c] = span.flat ? _mm_set1_ps(span.flatColour[c])
                               : _mm256_cvtpd_ps(_mm256_mul_pd(Interp(l0, l1, l2, a, 1 + c), iw));
        const __m128 alpha = _mm_mul_ps(col[3], opacity);
        __m128i s[4];  // a, r, g, b
        if (span.uniform) {
            for (int32_t k = 0; k < 4; ++k)
                s[k] = _mm_set1_epi32(int32_t((span.uniformTexel >> (24 - 8 * k)) & 255));
        } else if (!span.bilinear) {
            const __m128 u = _mm256_cvtpd_ps(_mm256_mul_pd(Interp(l0, l1, l2, a, 5), iw));
            const __m128 v = _mm256_cvtpd_ps(_mm256_mul_pd(Interp(l0, l1, l2, a, 6), iw));
            const __m128i x =
                _mm_min_epi32(_mm_cvttps_epi32(ClampPs(_mm_mul_ps(u, vfw), zeroPs, vfw)), wMax);
            const __m128i y =
                _mm_min_epi32(_mm_cvttps_epi32(ClampPs(_mm_mul_ps(v, vfh), zeroPs, vfh)), hMax);
            const __m128i c =
                _mm_i32gather_epi32(texels, _mm_add_epi32(_mm_mullo_epi32(y, stride), x), 4);
            for (int32_t k = 0; k < 4; ++k) s[k] = Channel(c, 24 - 8 * k);
        } else {
            const __m128 u = _mm256_cvtpd_ps(_mm256_mul_pd(Interp(l0, l1, l2, a, 5), iw));
            const __m128 v = _mm256_cvtpd_ps(_mm256_mul_pd(Interp(l0, l1, l2, a, 6), iw));
            const __m128 cx = ClampPs(_mm_sub_ps(_mm_mul_ps(u, vfw), half), _mm_set1_ps(-2.0f),
                                      _mm_add_ps(vfw, _mm_set1_ps(1.0f)));
            const __m128 cy = ClampPs(_mm_sub_ps(_mm_mul_ps(v, vfh), half), _mm_set1_ps(-2.0f),
                                      _mm_add_ps(vfh, _mm_set1_ps(1.0f)));
            const __m128 fx = _mm_floor_ps(cx), fy = _mm_floor_ps(cy);
            __m128i ix = _mm_cvttps_epi32(fx), iy = _mm_cvttps_epi32(fy);
            __m128i wx = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(cx, fx), k256f), half));
            __m128i wy = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(cy, fy), k256f), half));
            const __m128i fullX = _mm_cmpeq_epi32(wx, k256), fullY = _mm_cmpeq_epi32(wy, k256);
            ix = _mm_sub_epi32(ix, fullX);  // the mask is -1 where the weight reached a whole texel
            iy = _mm_sub_epi32(iy, fullY);
            wx = _mm_andnot_si128(fullX, wx);
            wy = _mm_andnot_si128(fullY, wy);
            const __m128i x0 = _mm_min_epi32(_mm_max_epi32(ix, zero), wMax);
            const __m128i x1 = _mm_min_epi32(_mm_max_epi32(_mm_add_epi32(ix, one), zero), wMax);
            const __m128i r0 =
                _mm_mullo_epi32(_mm_min_epi32(_mm_max_epi32(iy, zero), hMax), stride);
            const __m128i r1 = _mm_mullo_epi32(
                _mm_min_epi32(_mm_max_epi32(_mm_add_epi32(iy, one), zero), hMax), stride);
            const __m128i c00 = _mm_i32gather_epi32(texels, _mm_add_epi32(r0, x0), 4);
            const __m128i c10 = _mm_i32gather_epi32(texels, _mm_add_epi32(r0, x1), 4);
            const __m128i c01 = _mm_i32gather_epi32(texels, _mm_add_epi32(r1, x0), 4);
            const __m128i c11 = _mm_i32gather_epi32(texels, _mm_add_epi32(r1, x1), 4);
            const __m128i wxInv = _mm_sub_epi32(k256, wx), wyInv = _mm_sub_epi32(k256, wy);
            for (int32_t k = 0; k < 4; ++k) {
                const int32_t sh = 24 - 8 * k;
                const __m128i top = _mm_add_epi32(_mm_mullo_epi32(Channel(c00, sh), wxInv),
                                                  _mm_mullo_epi32(Channel(c10, sh), wx));
                const __m128i bottom = _mm_add_epi32(_mm_mullo_epi32(Channel(c01, sh), wxInv),
                                                     _mm_mullo_epi32(Channel(c11, sh), wx));
                s[k] = _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(_mm_mullo_epi32(top, wyInv),
                                                                  _mm_mullo_epi32(bottom, wy)),
                                                    _mm_set1_epi32(32768)),
                                      16);
            }
        }
        const __m128 m = _mm_div_ps(alpha, k255f);
        __m128i src[4];
        src[0] = RoundBytes(_mm_mul_ps(_mm_cvtepi32_ps(s[0]), m));
        for (int32_t c = 0; c < 3; ++c)
            src[1 + c] = RoundBytes(
                _mm_mul_ps(_mm_div_ps(_mm_mul_ps(_mm_cvtepi32_ps(s[1 + c]), col[c]), k255f), m));
        int* d = reinterpret_cast<int*>(span.dst + i);
        const __m128i dst = _mm_maskload_epi32(d, live);
        const __m128i inv = _mm_sub_epi32(k255, src[0]);
        __m128i result = zero;
        for (int32_t c = 0; c < 4; ++c) {
            const int32_t sh = 24 - 8 * c;
            __m128i r = src[c];
            if (span.blend == TSpanBlend::Over) {
                const __m128i x =
                    _mm_add_epi32(_mm_mullo_epi32(Channel(dst, sh), inv), _mm_set1_epi32(128));
                r = _mm_min_epi32(
                    _mm_add_epi32(r, _mm_srli_epi32(_mm_add_epi32(x, _mm_srli_epi32(x, 8)), 8)),
                    k255);
            } else if (span.blend == TSpanBlend::Add) {
                r = _mm_min_epi32(_mm_add_epi32(r, Channel(dst, sh)), k255);
            }
            result = _mm_or_si128(result, _mm_slli_epi32(r, sh));
        }
        _mm_maskstore_epi32(d, live, result);
    }
}

namespace {

// round(clamp(v, 0, 255)) as the scalar runs take it; NaN gives 0.
ORB_AVX2 inline __m256i ToByteLanes(__m256 v) {
    const __m256 clamped =
        _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(255.0f));
    return _mm256_cvttps_epi32(_mm256_add_ps(clamped, _mm256_set1_ps(0.5f)));
}

}  // namespace

// Eight pixels a step in 32-bit lanes; the float operations are the scalar
// run's, one by one, so they round alike, and the blend divides by 255 as
// Div255 does.
ORB_AVX2 void MaskedSpanAVX2(const TMaskedSpan& span) {
    const __m256i k255 = _mm256_set1_epi32(255), byte = _mm256_set1_epi32(255);
    int32_t i = 0;
    for (; i + 8 <= span.count; i += 8) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(span.texels + i));
        const __m256i mk = _mm256_srli_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(span.mask + i)), 24);
        const __m256 m = _mm256_i32gather_ps(span.maskFactor, mk, 4);
        __m256i src[4];  // a, r, g, b
        src[0] = ToByteLanes(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(c, 24)), m));
        for (int32_t k = 0; k < 3; ++k) {
            const __m256i value = _mm256_and_si256(_mm256_srli_epi32(c, 16 - 8 * k), byte);
            src[1 + k] =
                ToByteLanes(_mm256_mul_ps(_mm256_i32gather_ps(span.channel[k], value, 4), m));
        }
        __m256i* d = reinterpret_cast<__m256i*>(span.dst + i);
        const __m256i dst = _mm256_loadu_si256(d);
        const __m256i inv = _mm256_sub_epi32(k255, src[0]);
        __m256i result = _mm256_setzero_si256();
        for (int32_t k = 0; k < 4; ++k) {
            const int32_t shift = 24 - 8 * k;
            const __m256i dc = _mm256_and_si256(_mm256_srli_epi32(dst, shift), byte);
            const __m256i x = _mm256_add_epi32(_mm256_mullo_epi32(dc, inv), _mm256_set1_epi32(128));
            const __m256i q = _mm256_srli_epi32(_mm256_add_epi32(x, _mm256_srli_epi32(x, 8)), 8);
            const __m256i r = _mm256_min_epi32(_mm256_add_epi32(src[k], q), k255);
            result = _mm256_or_si256(result, _mm256_slli_epi32(r, shift));
        }
        _mm256_storeu_si256(d, result);
    }
    if (i < span.count) {
        TMaskedSpan rest = span;
        rest.texels += i;
        rest.mask += i;
        rest.dst += i;
        rest.count -= i;
        MaskedSpanScalar(rest);
    }
}

}  // namespace orb
