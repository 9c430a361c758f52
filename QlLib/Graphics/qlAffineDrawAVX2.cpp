// The bilinear run with AVX2, four pixels per step: the SSE2 step in both
// 128-bit halves (every operation used stays within its half). Compiled with
// -mavx2 and only called after the processor reported AVX2; it uses nothing
// but intrinsics and plain arithmetic, so no shared inline code is emitted
// here with AVX2 instructions for other files to pick up.
#include <immintrin.h>

#include "QlLib/Graphics/qlAffineKernels.h"

namespace ql {

namespace {

inline uint32_t Load32Avx(const uint8_t* p) {
    uint32_t v;
    __builtin_memcpy(&v, p, 4);
    return v;
}

inline __m128i LoadPairAvx(const uint8_t* p, int32_t bpp) {
    if (bpp == 4) return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm_unpacklo_epi32(_mm_cvtsi32_si128(int32_t(Load32Avx(p))),
                              _mm_cvtsi32_si128(int32_t(Load32Avx(p + 2) >> 8)));
}

inline int32_t PackedWeightAvx(uint32_t w) { return int32_t((w >> 7) | ((w & 127) << 16)); }

// Two 3-byte pixels through registers only (see the SSE2 file).
inline uint64_t LoadDstBits(const uint8_t* d) {
    uint32_t lo;
    uint16_t hi;
    __builtin_memcpy(&lo, d, 4);
    __builtin_memcpy(&hi, d + 4, 2);
    return (lo & 0xFFFFFF) | uint64_t((lo >> 24) | (uint32_t(hi) << 8)) << 32;
}

inline void StoreDstBits(uint8_t* d, uint64_t q) {
    const uint32_t lo = uint32_t(q & 0xFFFFFF) | (uint32_t(q >> 8) & 0xFF000000u);
    const uint16_t hi = uint16_t(q >> 40);
    __builtin_memcpy(d, &lo, 4);
    __builtin_memcpy(d + 4, &hi, 2);
}

inline __m256i Halves(__m128i lo, __m128i hi) { return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1); }

}  // namespace

void BilinearRunAVX2(const TBilinearRun& run) {
    const int32_t bpp = run.srcBytes;
    const TBlendTable& blend = *run.blend;
    const __m256i zero = _mm256_setzero_si256();
    const bool perPixelAlpha = bpp == 4 && !blend.copy;
    const __m256i hConst = _mm256_set1_epi64x(int64_t(blend.lanes[255]));
    const __m256i mConst = _mm256_set1_epi64x(int64_t(blend.masks[255]));
    uint32_t u = run.u, v = run.v;
    uint8_t* d = run.dst;
    int32_t i = 0;
    for (; i + 4 <= run.count; i += 4, d += 12) {
        uint32_t us[4], vs[4];
        const uint8_t* top[4];
        const uint8_t* bottom[4];
        int32_t w10[4], w01[4], w11[4];
        for (int32_t k = 0; k < 4; ++k) {
            us[k] = u;
            vs[k] = v;
            u += run.du;
            v += run.dv;
            top[k] = run.rows[vs[k] >> 16] + size_t(us[k] >> 16) * bpp;
            bottom[k] = run.rows[(vs[k] >> 16) + 1] + size_t(us[k] >> 16) * bpp;
            const uint32_t fx = us[k] & 0xFFFF, fy = vs[k] & 0xFFFF, c = (fx * fy) >> 16;
            w10[k] = PackedWeightAvx(fx - c);
            w01[k] = PackedWeightAvx(fy - c);
            w11[k] = PackedWeightAvx(c);
        }
        // Low half: pixels 0 and 1; high half: pixels 2 and 3.
        const __m256i t = Halves(_mm_unpacklo_epi32(LoadPairAvx(top[0], bpp), LoadPairAvx(top[1], bpp)),
                                 _mm_unpacklo_epi32(LoadPairAvx(top[2], bpp), LoadPairAvx(top[3], bpp)));
        const __m256i bt = Halves(_mm_unpacklo_epi32(LoadPairAvx(bottom[0], bpp), LoadPairAvx(bottom[1], bpp)),
                                  _mm_unpacklo_epi32(LoadPairAvx(bottom[2], bpp), LoadPairAvx(bottom[3], bpp)));
        const __m256i p00 = _mm256_unpacklo_epi8(t, zero), p10 = _mm256_unpackhi_epi8(t, zero);
        const __m256i p01 = _mm256_unpacklo_epi8(bt, zero), p11 = _mm256_unpackhi_epi8(bt, zero);
        const __m256i d10 = _mm256_sub_epi16(p10, p00), d01 = _mm256_sub_epi16(p01, p00),
                      d11 = _mm256_sub_epi16(p11, p00);
        const __m256i s10 = _mm256_slli_epi16(d10, 7), s01 = _mm256_slli_epi16(d01, 7),
                      s11 = _mm256_slli_epi16(d11, 7);
        auto weights = [](int32_t lo, int32_t hi) { return _mm256_setr_epi32(lo, lo, lo, lo, hi, hi, hi, hi); };
        __m256i xL = _mm256_madd_epi16(_mm256_unpacklo_epi16(s10, d10), weights(w10[0], w10[2]));
        xL = _mm256_add_epi32(xL, _mm256_madd_epi16(_mm256_unpacklo_epi16(s01, d01), weights(w01[0], w01[2])));
        xL = _mm256_add_epi32(xL, _mm256_madd_epi16(_mm256_unpacklo_epi16(s11, d11), weights(w11[0], w11[2])));
        __m256i xH = _mm256_madd_epi16(_mm256_unpackhi_epi16(s10, d10), weights(w10[1], w10[3]));
        xH = _mm256_add_epi32(xH, _mm256_madd_epi16(_mm256_unpackhi_epi16(s01, d01), weights(w01[1], w01[3])));
        xH = _mm256_add_epi32(xH, _mm256_madd_epi16(_mm256_unpackhi_epi16(s11, d11), weights(w11[1], w11[3])));
        const __m256i b =
            _mm256_add_epi16(p00, _mm256_packs_epi32(_mm256_srai_epi32(xL, 16), _mm256_srai_epi32(xH, 16)));

        __m256i r = b;
        if (!blend.copy) {
            __m256i h = hConst, m = mConst;
            if (perPixelAlpha) {
                const int32_t a0 = _mm256_extract_epi16(b, 3), a1 = _mm256_extract_epi16(b, 7),
                              a2 = _mm256_extract_epi16(b, 11), a3 = _mm256_extract_epi16(b, 15);
                h = _mm256_setr_epi64x(int64_t(blend.lanes[a0]), int64_t(blend.lanes[a1]),
                                       int64_t(blend.lanes[a2]), int64_t(blend.lanes[a3]));
                m = _mm256_setr_epi64x(int64_t(blend.masks[a0]), int64_t(blend.masks[a1]),
                                       int64_t(blend.masks[a2]), int64_t(blend.masks[a3]));
            }
            const __m256i dst = _mm256_unpacklo_epi8(
                _mm256_setr_epi64x(int64_t(LoadDstBits(d)), 0, int64_t(LoadDstBits(d + 6)), 0), zero);
            const __m256i e = _mm256_sub_epi16(dst, b);
            r = _mm256_add_epi16(b, _mm256_add_epi16(_mm256_mulhi_epi16(e, h), _mm256_and_si256(e, m)));
        }
        const __m256i packed = _mm256_packus_epi16(r, r);
        StoreDstBits(d, uint64_t(_mm256_extract_epi64(packed, 0)));
        StoreDstBits(d + 6, uint64_t(_mm256_extract_epi64(packed, 2)));
    }
    if (i < run.count) {
        TBilinearRun rest = run;
        rest.dst = d;
        rest.count = run.count - i;
        rest.u = u;
        rest.v = v;
        BilinearRunSSE2(rest);
    }
}

}  // namespace ql
