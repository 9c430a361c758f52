#include "QlLib/Graphics/qlYuvConvert.h"

#include <algorithm>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlYuvKernels.h"
#include "QlLib/qlCpuFeatures.h"
#include "QlLib/qpExceptions.h"

namespace ql {

namespace {

// Pixel by pixel, straight from the definition: what the row loops must
// give, byte for byte.
void RowPairScalar(const uint8_t* row0, const uint8_t* row1, int32_t w, int32_t bpp, uint8_t*,
                   uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v) {
    for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = row0 + bpp * x;
        const uint8_t* q = row1 + bpp * x;
        y0[x] = LumaOf(p[2], p[1], p[0]);
        y1[x] = LumaOf(q[2], q[1], q[0]);
    }
    for (int32_t i = 0; i < (w + 1) / 2; ++i) {
        int32_t rs = 0, gs = 0, bs = 0;
        for (const uint8_t* row : {row0, row1}) {
            for (int32_t dx = 0; dx < 2; ++dx) {
                const uint8_t* p = row + bpp * std::min(2 * i + dx, w - 1);
                bs += p[0];
                gs += p[1];
                rs += p[2];
            }
        }
        u[i] = CbOf(rs, gs, bs);
        v[i] = CrOf(rs, gs, bs);
    }
}

#if defined(__x86_64__)
// The baseline build of the row loops (SSE2 on x86-64).
void RowPairSSE2(const uint8_t* row0, const uint8_t* row1, int32_t w, int32_t bpp, uint8_t* planes,
                 uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v) {
    if (bpp == 4)
        RowPair<4>(row0, row1, w, planes, y0, y1, u, v);
    else
        RowPair<3>(row0, row1, w, planes, y0, y1, u, v);
}
#endif

// The loops of `level`, or of the best level below it that this processor
// runs.
TYuvRowPairProc RowPairFor(TSimdLevel level) {
#if defined(__x86_64__)
    if (level == TSimdLevel::AVX2 && CpuHasAvx2()) return YuvRowPairAVX2;
    if (level != TSimdLevel::Scalar) return RowPairSSE2;
#endif
    return RowPairScalar;
}

}  // namespace

TYuv420Converter::TYuv420Converter(int32_t width, TSimdLevel simd)
    : m_width(std::max(width, 1)), m_simd(simd), m_planes(6 * size_t(m_width + 1)) {}

void TYuv420Converter::Convert(const TBitmap& frame, const TYuv420Planes& planes) {
    ConvertPairs(frame, planes, 0, (frame.Height() + 1) / 2);
}

void TYuv420Converter::ConvertPairs(const TBitmap& frame, const TYuv420Planes& planes,
                                    int32_t first, int32_t end) {
    const bool rgb = frame.PixelFormat() == PfRGB24();
    QL_ASSERT(frame.Width() == m_width && (rgb || frame.PixelFormat() == PfARGB32()),
              "TYuv420Converter: the frame is not R8G8B8 or A8R8G8B8 of the converter's width");
    const int32_t bpp = rgb ? 3 : 4;
    const int32_t w = m_width, h = frame.Height(), cw = (w + 1) / 2;
    first = std::max(first, 0);
    end = std::min(end, (h + 1) / 2);
    const TYuvRowPairProc proc = RowPairFor(m_simd);
    for (int32_t k = first; k < end; ++k) {
        const int32_t top = 2 * k, bottom = std::min(top + 1, h - 1);
        uint8_t* y0 = planes.Y + size_t(top) * size_t(w);
        uint8_t* y1 = planes.Y + size_t(bottom) * size_t(w);
        proc(frame.Row(top), frame.Row(bottom), w, bpp, m_planes.data(), y0, y1,
             planes.U + size_t(k) * size_t(cw), planes.V + size_t(k) * size_t(cw));
    }
}

void TYuv420Converter::ConvertBand(const uint8_t* rows, size_t stride, int32_t height,
                                   int32_t first, int32_t end, const TYuv420Planes& planes) {
    QL_ASSERT(first >= 0 && first % 2 == 0 && end <= height && (end % 2 == 0 || end == height),
              "TYuv420Converter: a band that splits a row pair");
    const int32_t w = m_width, cw = (w + 1) / 2;
    const TYuvRowPairProc proc = RowPairFor(m_simd);
    for (int32_t top = first; top < end; top += 2) {
        const int32_t bottom = std::min(top + 1, height - 1), k = top / 2;
        proc(rows + size_t(top - first) * stride, rows + size_t(bottom - first) * stride, w, 4,
             m_planes.data(), planes.Y + size_t(top) * size_t(w),
             planes.Y + size_t(bottom) * size_t(w), planes.U + size_t(k) * size_t(cw),
             planes.V + size_t(k) * size_t(cw));
    }
}

}  // namespace ql
