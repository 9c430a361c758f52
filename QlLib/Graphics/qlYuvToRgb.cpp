#include "QlLib/Graphics/qlYuvToRgb.h"

#include <algorithm>

#include "QlLib/Graphics/qlYuvToRgbKernels.h"
#include "QlLib/qlCpuFeatures.h"

namespace ql {

namespace {

const TYuvCoefficients& CoefficientsOf(TYuvMatrix matrix) {
    return matrix == TYuvMatrix::Bt709 ? kBt709 : kBt601;
}

// Pixel by pixel, straight from the definition: what the row loops must
// give, byte for byte.
void RowScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t cw, int32_t w,
               TYuvMatrix matrix, uint8_t*, uint8_t* bgra) {
    const TYuvCoefficients& c = CoefficientsOf(matrix);
    for (int32_t x = 0; x < w; ++x) {
        const int32_t i = std::min(x / 2, cw - 1);
        YuvPixel(y[x], cw > 0 ? u[i] : 128, cw > 0 ? v[i] : 128, c, bgra + 4 * x);
    }
}

#if defined(__x86_64__)
// The baseline build of the row loops (SSE2 on x86-64).
void RowSSE2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t cw, int32_t w,
             TYuvMatrix matrix, uint8_t* chroma, uint8_t* bgra) {
    SpreadChroma(u, v, cw, w, chroma, chroma + w);
    YuvRow(y, chroma, chroma + w, w, CoefficientsOf(matrix), bgra);
}
#endif

// The loops of `level`, or of the best level below it that this processor
// runs.
TYuvToRgbRowProc RowFor(TSimdLevel level) {
#if defined(__x86_64__)
    if (level == TSimdLevel::AVX2 && CpuHasAvx2()) return YuvToRgbRowAVX2;
    if (level != TSimdLevel::Scalar) return RowSSE2;
#endif
    return RowScalar;
}

}  // namespace

TYuvToRgbConverter::TYuvToRgbConverter(int32_t width, TSimdLevel simd)
    : m_width(std::max(width, 1)), m_simd(simd), m_chroma(2 * size_t(m_width)) {}

void TYuvToRgbConverter::ConvertRow(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                    int32_t chromaWidth, TYuvMatrix matrix, uint8_t* bgra) {
    RowFor(m_simd)(y, u, v, std::max(chromaWidth, 0), m_width, matrix, m_chroma.data(), bgra);
}

}  // namespace ql
