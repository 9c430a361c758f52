// The 4:2:0 row loops built for AVX2 (compiled with -mavx2, called only
// after the processor reported it). Three-byte pixels go through the shared
// loops, which the vectoriser turns into shuffles here (SSE2 has no
// instruction for them). Four-byte pixels, the frames a render hands over,
// have loops of their own that take eight pixels a step straight from the
// rows, with no split into planes: the same integer formulas, so the same
// bytes.
#include <immintrin.h>

#include <cstring>

#include "QlLib/Graphics/qlYuvConvert.h"
#include "QlLib/Graphics/qlYuvKernels.h"

namespace ql {

namespace {

// Luma of eight (B, G, R, A) pixels as 32-bit lanes in pixel order. The
// green weight is above what a 16-bit multiply takes: 38470 g is worked out
// as 5702 g + (g << 15).
inline __m256i LumaEight(__m256i pixels) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i weights =
        _mm256_setr_epi16(kLumaB, kLumaG - 32768, kLumaR, 0, kLumaB, kLumaG - 32768, kLumaR, 0,
                          kLumaB, kLumaG - 32768, kLumaR, 0, kLumaB, kLumaG - 32768, kLumaR, 0);
    // Pixels 0, 1 | 4, 5 and 2, 3 | 6, 7; hadd puts them back in order.
    const __m256i low = _mm256_madd_epi16(_mm256_unpacklo_epi8(pixels, zero), weights);
    const __m256i high = _mm256_madd_epi16(_mm256_unpackhi_epi8(pixels, zero), weights);
    const __m256i sums = _mm256_hadd_epi32(low, high);
    const __m256i green = _mm256_and_si256(_mm256_srli_epi32(pixels, 8), _mm256_set1_epi32(255));
    return _mm256_srli_epi32(_mm256_add_epi32(_mm256_add_epi32(sums, _mm256_slli_epi32(green, 15)),
                                              _mm256_set1_epi32(32768)),
                             16);
}

// Eight 32-bit lanes of bytes' values as eight bytes.
inline void StoreEightBytes(__m256i lanes, uint8_t* out) {
    const __m256i words = _mm256_packus_epi32(lanes, lanes);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    const __m256i ordered =
        _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(ordered));
}

// Cb and Cr of the four 2 x 2 blocks of eight pixels of two rows.
inline void ChromaFour(__m256i top, __m256i bottom, uint8_t* u, uint8_t* v) {
    const __m256i zero = _mm256_setzero_si256();
    // Column sums of pixels 0, 1 | 4, 5 and 2, 3 | 6, 7, then of the pairs:
    // blocks 0 | 2 and 1 | 3 in the low halves.
    const __m256i low =
        _mm256_add_epi16(_mm256_unpacklo_epi8(top, zero), _mm256_unpacklo_epi8(bottom, zero));
    const __m256i high =
        _mm256_add_epi16(_mm256_unpackhi_epi8(top, zero), _mm256_unpackhi_epi8(bottom, zero));
    const __m256i pairsLow = _mm256_add_epi16(low, _mm256_shuffle_epi32(low, 0x4E));
    const __m256i pairsHigh = _mm256_add_epi16(high, _mm256_shuffle_epi32(high, 0x4E));
    // Blocks 0, 1 | 2, 3 as (bs, gs, rs, as).
    const __m256i blocks = _mm256_unpacklo_epi64(pairsLow, pairsHigh);
    const __m256i cbWeights = _mm256_setr_epi16(kHalf, -kCbG, -kCbR, 0, kHalf, -kCbG, -kCbR, 0,
                                                kHalf, -kCbG, -kCbR, 0, kHalf, -kCbG, -kCbR, 0);
    const __m256i crWeights = _mm256_setr_epi16(-kCrB, -kCrG, kHalf, 0, -kCrB, -kCrG, kHalf, 0,
                                                -kCrB, -kCrG, kHalf, 0, -kCrB, -kCrG, kHalf, 0);
    // Cb of blocks 0, 1 and Cr of blocks 0, 1 | the same of blocks 2, 3.
    const __m256i sums = _mm256_hadd_epi32(_mm256_madd_epi16(blocks, cbWeights),
                                           _mm256_madd_epi16(blocks, crWeights));
    const __m256i values = _mm256_min_epi32(
        _mm256_srai_epi32(_mm256_add_epi32(sums, _mm256_set1_epi32(kChromaBias)), 16),
        _mm256_set1_epi32(255));
    const __m256i ordered =
        _mm256_permutevar8x32_epi32(values, _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
    const __m256i words = _mm256_packus_epi32(ordered, ordered);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    const uint32_t cb = uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(bytes)));
    const uint32_t cr = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
    std::memcpy(u, &cb, 4);
    std::memcpy(v, &cr, 4);
}

void RowPairBgra(const uint8_t* row0, const uint8_t* row1, int32_t w, uint8_t* planes, uint8_t* y0,
                 uint8_t* y1, uint8_t* u, uint8_t* v) {
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
        const __m256i top = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row0 + 4 * x));
        const __m256i bottom = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row1 + 4 * x));
        StoreEightBytes(LumaEight(top), y0 + x);
        if (y1 != y0) StoreEightBytes(LumaEight(bottom), y1 + x);
        ChromaFour(top, bottom, u + x / 2, v + x / 2);
    }
    // The last few pixels (an even count of them done, so the blocks line
    // up) through the shared loops, which also cover an odd width.
    if (x < w)
        RowPair<4>(row0 + 4 * x, row1 + 4 * x, w - x, planes, y0 + x, y1 + x, u + x / 2, v + x / 2);
}

}  // namespace

void YuvRowPairAVX2(const uint8_t* row0, const uint8_t* row1, int32_t w, int32_t bpp,
                    uint8_t* planes, uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v) {
    if (bpp == 4)
        RowPairBgra(row0, row1, w, planes, y0, y1, u, v);
    else
        RowPair<3>(row0, row1, w, planes, y0, y1, u, v);
}

}  // namespace ql
