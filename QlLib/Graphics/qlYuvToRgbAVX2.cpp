// The 4:2:0 to RGB row loops built for AVX2 (compiled with -mavx2, called
// only after the processor reported it).
#include "QlLib/Graphics/qlYuvToRgb.h"
#include "QlLib/Graphics/qlYuvToRgbKernels.h"

namespace ql {

void YuvToRgbRowAVX2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t chromaWidth,
                     int32_t w, TYuvMatrix matrix, uint8_t* chroma, uint8_t* bgra) {
    SpreadChroma(u, v, chromaWidth, w, chroma, chroma + w);
    YuvRow(y, chroma, chroma + w, w, matrix == TYuvMatrix::Bt709 ? kBt709 : kBt601, bgra);
}

}  // namespace ql
