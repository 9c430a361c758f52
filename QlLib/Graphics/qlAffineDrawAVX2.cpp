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

// Four pixels per step with the weights worked out pixel by pixel: what the
// wide loop leaves over (run ends, pairs that would read past a row).
void RunNarrow(const TBilinearRun& run) {
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

// Byte picks that turn one lane [p00 p10 | p01 p11] (each pair read as
// 8 bytes) into the maddubs operands. First: per channel p10, p00, p01, p00,
// which with (1, -1, 1, -1) gives the words d10, d01. Second: p11, p00, p10,
// p01 with (1, -1, 2, 2): d11 and 2 p10 + 2 p01.
template <int Bpp>
inline __m256i FirstPicks() {
    constexpr int o10 = Bpp, o01 = 8;
    alignas(16) int8_t b[16];
    for (int c = 0; c < 4; ++c) {
        const bool have = c < Bpp;
        b[4 * c + 0] = have ? int8_t(o10 + c) : int8_t(-128);
        b[4 * c + 1] = have ? int8_t(c) : int8_t(-128);
        b[4 * c + 2] = have ? int8_t(o01 + c) : int8_t(-128);
        b[4 * c + 3] = have ? int8_t(c) : int8_t(-128);
    }
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(b)));
}

template <int Bpp>
inline __m256i SecondPicks() {
    constexpr int o10 = Bpp, o01 = 8, o11 = 8 + Bpp;
    alignas(16) int8_t b[16];
    for (int c = 0; c < 4; ++c) {
        const bool have = c < Bpp;
        b[4 * c + 0] = have ? int8_t(o11 + c) : int8_t(-128);
        b[4 * c + 1] = have ? int8_t(c) : int8_t(-128);
        b[4 * c + 2] = have ? int8_t(o10 + c) : int8_t(-128);
        b[4 * c + 3] = have ? int8_t(o01 + c) : int8_t(-128);
    }
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(b)));
}

// The top and bottom pairs of pixel A in the low lane, of pixel B in the high.
inline __m256i LoadQuads(const uint8_t* topA, const uint8_t* botA, const uint8_t* topB, const uint8_t* botB) {
    const __m128i a =
        _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(topA))),
                                      reinterpret_cast<const double*>(botA)));
    const __m128i b =
        _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(topB))),
                                      reinterpret_cast<const double*>(botB)));
    return Halves(a, b);
}

enum TWideBlend { WideCopy, WideConstant, WideAlpha };

// Eight pixels per step. The weights of all eight come from the stepped
// coordinates in one register. With w' = w - 32768 (signed 16 bits) the sum
//   65536 p00 + w10 d10 + w01 d01 + w11 d11
// equals w10' d10 + w01' d01 + w11' d11 + 16384 (2 p10 + 2 p01 + 2 d11),
// two pmaddwd per channel on words made by pmaddubsw from the pixel bytes;
// shifted right by 16 it is the scalar sample exactly. Pixel k goes in the
// low lane and pixel k + 4 in the high lane of the k-th register, so the
// packs come out in pixel order per lane.
template <int Bpp, TWideBlend Mode, bool FixedRow>
void RunWide(const TBilinearRun& run) {
    const TBlendTable& blend = *run.blend;
    const uint32_t du = run.du, dv = run.dv;
    const __m256i picks1 = FirstPicks<Bpp>(), picks2 = SecondPicks<Bpp>();
    const __m256i signs1 = _mm256_set1_epi32(int32_t(0xFF01FF01u)), signs2 = _mm256_set1_epi32(0x0202FF01);
    const __m256i low16 = _mm256_set1_epi32(0xFFFF), flip1 = _mm256_set1_epi32(int32_t(0x80008000u)),
                  flip2 = _mm256_set1_epi32(0x40008000);
    const __m256i index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i uu =
        _mm256_add_epi32(_mm256_set1_epi32(int32_t(run.u)), _mm256_mullo_epi32(index, _mm256_set1_epi32(int32_t(du))));
    __m256i vv =
        _mm256_add_epi32(_mm256_set1_epi32(int32_t(run.v)), _mm256_mullo_epi32(index, _mm256_set1_epi32(int32_t(dv))));
    const __m256i uStep = _mm256_set1_epi32(int32_t(du * 8)), vStep = _mm256_set1_epi32(int32_t(dv * 8));
    // Destination: 24 bytes spread to words in the layout of the packs, and back.
    const __m256i spreadOrder = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
    const __m256i spread01 = _mm256_setr_epi8(0, -1, 1, -1, 2, -1, -1, -1, 3, -1, 4, -1, 5, -1, -1, -1, 0, -1, 1, -1, 2,
                                              -1, -1, -1, 3, -1, 4, -1, 5, -1, -1, -1);
    const __m256i spread23 = _mm256_setr_epi8(6, -1, 7, -1, 8, -1, -1, -1, 9, -1, 10, -1, 11, -1, -1, -1, 6, -1, 7, -1,
                                              8, -1, -1, -1, 9, -1, 10, -1, 11, -1, -1, -1);
    const __m256i gather = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8,
                                            9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i gatherOrder = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    const __m256i h255 = _mm256_set1_epi64x(int64_t(blend.lanes[255])),
                  m255 = _mm256_set1_epi64x(int64_t(blend.masks[255]));
    const __m256i factor = _mm256_set1_epi16(int16_t(blend.alphaFactor)), half = _mm256_set1_epi16(int16_t(0x8000)),
                  opaque = _mm256_set1_epi16(255);
    // 3-byte pairs read as 8 bytes need two more bytes in the row.
    const uint32_t lastSafe = Bpp == 3 ? uint32_t(run.srcWidth - 3) : ~uint32_t(0);
    const uint8_t* fixedTop = FixedRow ? run.rows[run.v >> 16] : nullptr;
    const uint8_t* fixedBottom = FixedRow ? run.rows[(run.v >> 16) + 1] : nullptr;

    uint32_t u = run.u, v = run.v;
    uint8_t* d = run.dst;
    int32_t i = 0;
    for (; i + 8 <= run.count; i += 8, d += 24, u += 8 * du, v += 8 * dv, uu = _mm256_add_epi32(uu, uStep),
                                                                          vv = _mm256_add_epi32(vv, vStep)) {
        // The walk is straight, so its ends bound every column in between.
        if (Bpp == 3 && ((u >> 16) > lastSafe || ((u + 7 * du) >> 16) > lastSafe)) {
            TBilinearRun part = run;
            part.dst = d;
            part.count = 8;
            part.u = u;
            part.v = v;
            RunNarrow(part);
            continue;
        }
        const uint8_t* top[8];
        const uint8_t* bottom[8];
        uint32_t pu = u, pv = v;
        for (int k = 0; k < 8; ++k, pu += du, pv += dv) {
            const size_t x = size_t(pu >> 16) * Bpp;
            if (FixedRow) {
                top[k] = fixedTop + x;
                bottom[k] = fixedBottom + x;
            } else {
                const uint8_t* const* r = run.rows + (pv >> 16);
                top[k] = r[0] + x;
                bottom[k] = r[1] + x;
            }
        }
        const __m256i fx = _mm256_and_si256(uu, low16), fy = _mm256_and_si256(vv, low16);
        const __m256i w11 = _mm256_mulhi_epu16(fx, fy);
        const __m256i w1 = _mm256_xor_si256(
            _mm256_add_epi32(_mm256_sub_epi32(fx, w11), _mm256_slli_epi32(_mm256_sub_epi32(fy, w11), 16)), flip1);
        const __m256i w2 = _mm256_xor_si256(w11, flip2);
        __m256i sums[4];
        auto sample = [&](int k, __m256i a1, __m256i a2) {
            const __m256i q = LoadQuads(top[k], bottom[k], top[k + 4], bottom[k + 4]);
            const __m256i x1 = _mm256_maddubs_epi16(_mm256_shuffle_epi8(q, picks1), signs1);
            __m256i x2 = _mm256_maddubs_epi16(_mm256_shuffle_epi8(q, picks2), signs2);
            x2 = _mm256_add_epi16(x2, _mm256_slli_epi32(x2, 17));
            sums[k] = _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(x1, a1), _mm256_madd_epi16(x2, a2)), 16);
        };
        sample(0, _mm256_shuffle_epi32(w1, 0x00), _mm256_shuffle_epi32(w2, 0x00));
        sample(1, _mm256_shuffle_epi32(w1, 0x55), _mm256_shuffle_epi32(w2, 0x55));
        sample(2, _mm256_shuffle_epi32(w1, 0xAA), _mm256_shuffle_epi32(w2, 0xAA));
        sample(3, _mm256_shuffle_epi32(w1, 0xFF), _mm256_shuffle_epi32(w2, 0xFF));
        __m256i b01 = _mm256_packus_epi32(sums[0], sums[1]), b23 = _mm256_packus_epi32(sums[2], sums[3]);
        if (Mode != WideCopy) {
            const __m256i raw =
                _mm256_permutevar8x32_epi32(Halves(_mm_loadu_si128(reinterpret_cast<const __m128i*>(d)),
                                                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(d + 16))),
                                            spreadOrder);
            auto mix = [&](__m256i b, __m256i dst) {
                __m256i h = h255, m = m255;
                if (Mode == WideAlpha) {
                    // h = 65536 - alpha * factor but for alpha 0 (65536) and 255.
                    const __m256i alpha = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(b, 0xFF), 0xFF);
                    const __m256i product = _mm256_mullo_epi16(alpha, factor);
                    const __m256i isOpaque = _mm256_cmpeq_epi16(alpha, opaque);
                    h = _mm256_blendv_epi8(_mm256_sub_epi16(_mm256_setzero_si256(), product), h255, isOpaque);
                    m = _mm256_blendv_epi8(_mm256_cmpeq_epi16(_mm256_min_epu16(product, half), product), m255,
                                           isOpaque);
                }
                const __m256i e = _mm256_sub_epi16(dst, b);
                return _mm256_add_epi16(b, _mm256_add_epi16(_mm256_mulhi_epi16(e, h), _mm256_and_si256(e, m)));
            };
            b01 = mix(b01, _mm256_shuffle_epi8(raw, spread01));
            b23 = mix(b23, _mm256_shuffle_epi8(raw, spread23));
        }
        const __m256i out =
            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(_mm256_packus_epi16(b01, b23), gather), gatherOrder);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(out));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 16), _mm256_extracti128_si256(out, 1));
    }
    if (i < run.count) {
        TBilinearRun rest = run;
        rest.dst = d;
        rest.count = run.count - i;
        rest.u = u;
        rest.v = v;
        RunNarrow(rest);
    }
}

template <int Bpp, TWideBlend Mode>
void RunWideRows(const TBilinearRun& run) {
    if (run.dv == 0) RunWide<Bpp, Mode, true>(run);
    else RunWide<Bpp, Mode, false>(run);
}

}  // namespace

void BilinearRunAVX2(const TBilinearRun& run) {
    const TBlendTable& blend = *run.blend;
    if (run.count < 8 || (run.srcBytes == 3 && run.srcWidth < 3)) {
        RunNarrow(run);
    } else if (run.srcBytes == 4) {
        if (blend.copy) RunWideRows<4, WideCopy>(run);
        else if (blend.alphaFactor == 0) RunWideRows<4, WideConstant>(run);
        else RunWideRows<4, WideAlpha>(run);
    } else {
        if (blend.copy) RunWideRows<3, WideCopy>(run);
        else RunWideRows<3, WideConstant>(run);
    }
}

}  // namespace ql
