// Per-pixel loops of the affine drawer: a plain scalar version and the SIMD
// versions beside it, which must agree with it bit for bit.
#pragma once

#include <cstdint>
#include <cstring>

namespace ql {

enum class TSimdLevel { Scalar, SSE2, AVX2 };

// The best level this processor runs: AVX2 only when the CPU reports it,
// Scalar off x86-64, where the SIMD builds are left out.
TSimdLevel BestSimdLevel();
bool SimdLevelSupported(TSimdLevel level);

// The blend of one sample b into a destination byte d is
//   d = b + floor((d - b) * h / 65536)
// with h taken from this table by the sample's alpha (255 for 24-bit
// sources). h = 0 copies the sample, h = 65536 leaves d unchanged.
struct TBlendTable {
    uint32_t h[256];
    // Per alpha, the low 16 bits of h in four 16-bit lanes and a mask of four
    // lanes set where h >= 32768: what the 16-bit SIMD multiply needs.
    uint64_t lanes[256];
    uint64_t masks[256];
    bool copy;  // every h is 0: the sample is stored as is
    // For sources with alpha, h = 65536 - alpha * alphaFactor for every alpha
    // but 0 and 255, so wide loops can compute h instead of looking it up.
    // 0 for 24-bit sources, whose h is always h[255].
    int32_t alphaFactor;
};

// opacity 1 to 255; srcHasAlpha false for 24-bit sources.
void BuildBlendTable(TBlendTable& table, int32_t opacity, bool srcHasAlpha);

// One run of bilinear pixels. Coordinates are 16.16 and already moved back by
// half a pixel; the caller guarantees that every pixel of the run has integer
// parts in [0, W - 2] x [0, H - 2], so all four neighbours exist.
struct TBilinearRun {
    const uint8_t* const* rows;  // source rows
    int32_t srcBytes;            // 3 or 4
    uint8_t* dst;                // first destination pixel, 3 bytes each
    int32_t count;
    uint32_t u, v, du, dv;
    const TBlendTable* blend;
    // Pixels in each source row; 0 when unknown. With it the wide loops may
    // read 3-byte pixel pairs as 8 bytes where that stays inside the row.
    int32_t srcWidth = 0;
};

void BilinearRunScalar(const TBilinearRun& run);
#if defined(__x86_64__)
void BilinearRunSSE2(const TBilinearRun& run);
void BilinearRunAVX2(const TBilinearRun& run);
#endif

using TBilinearRunProc = void (*)(const TBilinearRun& run);
// The loop of `level`, or of the best level below it that this processor
// runs.
TBilinearRunProc BilinearRunFor(TSimdLevel level);

}  // namespace ql
