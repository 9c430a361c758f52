// The 4:2:0 row loops built for AVX2 (compiled with -mavx2, called only
// after the processor reported it). The vectoriser turns the three-byte
// pixel loads into shuffles here, which SSE2 has no instruction for.
#include "QlLib/Graphics/qlYuvConvert.h"
#include "QlLib/Graphics/qlYuvKernels.h"

namespace ql {

void YuvRowPairAVX2(const uint8_t* row0, const uint8_t* row1, int32_t w, int32_t bpp, uint8_t* planes, uint8_t* y0,
                    uint8_t* y1, uint8_t* u, uint8_t* v) {
    if (bpp == 4)
        RowPair<4>(row0, row1, w, planes, y0, y1, u, v);
    else
        RowPair<3>(row0, row1, w, planes, y0, y1, u, v);
}

}  // namespace ql
