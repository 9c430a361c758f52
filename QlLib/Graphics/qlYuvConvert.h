// Full-range BT.601 Y'CbCr, as JPEG uses it, from "R8G8B8" or "A8R8G8B8"
// pictures (alpha is ignored), in
// planar 4:2:0: Y of every pixel, Cb and Cr of every 2 x 2 block from its
// mean (at an odd size the last column or row stands in for the missing
// one). Integer fixed point, within 1 of the exact formula; every path
// gives the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "QlLib/Graphics/qlAffineKernels.h"

namespace ql {

class TBitmap;

struct TYuv420Planes {
    uint8_t* Y = nullptr;  // width x height
    uint8_t* U = nullptr;  // Cb, (width + 1) / 2 x (height + 1) / 2
    uint8_t* V = nullptr;  // Cr, the same
};

class TYuv420Converter {
public:
    // For frames `width` pixels wide (at least 1); Scalar is the per-pixel
    // reference.
    explicit TYuv420Converter(int32_t width, TSimdLevel simd = BestSimdLevel());

    // The whole frame, which must be "R8G8B8" or "A8R8G8B8" and as wide as
    // the converter.
    void Convert(const TBitmap& frame, const TYuv420Planes& planes);
    // Only the row pairs [first, end) (pair k: rows 2k and 2k + 1), into the
    // same places as a whole conversion: bands of one frame can go to
    // different converters on different threads.
    void ConvertPairs(const TBitmap& frame, const TYuv420Planes& planes, int32_t first,
                      int32_t end);

    // The rows [first, end) of a frame `height` rows tall, "A8R8G8B8",
    // `stride` bytes apart from `rows`: first is even, and end is even or
    // the height, so the band holds whole row pairs.
    void ConvertBand(const uint8_t* rows, size_t stride, int32_t height, int32_t first, int32_t end,
                     const TYuv420Planes& planes);

private:
    int32_t m_width;
    TSimdLevel m_simd;
    std::vector<uint8_t> m_planes;  // the row pair split into six planes
};

// The loops of one row pair of `bpp`-byte pixels (3 or 4) for a processor
// level; y1 may be y0.
using TYuvRowPairProc = void (*)(const uint8_t* row0, const uint8_t* row1, int32_t w, int32_t bpp,
                                 uint8_t* planes, uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v);
#if defined(__x86_64__)
void YuvRowPairAVX2(const uint8_t* row0, const uint8_t* row1, int32_t w, int32_t bpp,
                    uint8_t* planes, uint8_t* y0, uint8_t* y1, uint8_t* u, uint8_t* v);
#endif

}  // namespace ql
