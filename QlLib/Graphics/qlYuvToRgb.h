// Limited-range planar 4:2:0 (video frames) to 32-bit pixels B, G, R, 255 in
// memory order ("A8R8G8B8" words), by the BT.601 or BT.709 matrix. Each
// chroma sample covers two pixels of two rows; the chroma planes are halved
// toward zero, so at an odd width the last column repeats the last sample.
// Integer 8.8 fixed point; every path gives the same bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "QlLib/Graphics/qlAffineKernels.h"

namespace ql {

enum class TYuvMatrix : uint8_t { Bt601, Bt709 };

class TYuvToRgbConverter {
public:
    // For rows `width` pixels wide (at least 1); Scalar is the per-pixel
    // reference.
    explicit TYuvToRgbConverter(int32_t width, TSimdLevel simd = BestSimdLevel());

    // One row: y has width samples, u and v have chromaWidth (width / 2 for
    // a frame) samples; bgra receives width x 4 bytes.
    void ConvertRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t chromaWidth,
                    TYuvMatrix matrix, uint8_t* bgra);

private:
    int32_t m_width;
    TSimdLevel m_simd;
    std::vector<uint8_t> m_chroma;  // the chroma row spread to one sample per pixel
};

// The loops of one row for a processor level.
using TYuvToRgbRowProc = void (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v,
                                  int32_t chromaWidth, int32_t w, TYuvMatrix matrix,
                                  uint8_t* chroma, uint8_t* bgra);
#if defined(__x86_64__)
void YuvToRgbRowAVX2(const uint8_t* y, const uint8_t* u, const uint8_t* v, int32_t chromaWidth,
                     int32_t w, TYuvMatrix matrix, uint8_t* chroma, uint8_t* bgra);
#endif

}  // namespace ql
