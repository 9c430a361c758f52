#include "QlLib/Graphics/qlAffineKernels.h"

#include "QlLib/qlCpuFeatures.h"

namespace ql {

TSimdLevel BestSimdLevel() {
    if (CpuHasAvx2()) return TSimdLevel::AVX2;
    return CpuHasSse2() ? TSimdLevel::SSE2 : TSimdLevel::Scalar;
}

bool SimdLevelSupported(TSimdLevel level) {
    switch (level) {
        case TSimdLevel::AVX2:
            return CpuHasAvx2();
        case TSimdLevel::SSE2:
            return CpuHasSse2();
        default:
            return true;
    }
}

TBilinearRunProc BilinearRunFor(TSimdLevel level) {
#if defined(__x86_64__)
    if (level == TSimdLevel::AVX2 && CpuHasAvx2()) return BilinearRunAVX2;
    if (level != TSimdLevel::Scalar) return BilinearRunSSE2;
#endif
    return BilinearRunScalar;
}

void BuildBlendTable(TBlendTable& table, int32_t opacity, bool srcHasAlpha) {
    const uint32_t a = uint32_t(opacity);
    table.copy = true;
    table.alphaFactor = srcHasAlpha ? (a == 255 ? 256 : int32_t(a)) : 0;
    for (uint32_t alpha = 0; alpha < 256; ++alpha) {
        const uint32_t al = srcHasAlpha ? alpha : 255;
        uint32_t h;
        if (al == 0)
            h = 65536;
        else if (al == 255)
            h = a == 255 ? 0 : (255 - a) * 256;
        else
            h = a == 255 ? 65536 - al * 256 : 65536 - al * a;
        table.h[alpha] = h;
        table.copy = table.copy && h == 0;
        table.lanes[alpha] = uint64_t(h & 0xFFFF) * 0x0001000100010001ull;
        table.masks[alpha] = h >= 32768 ? ~uint64_t(0) : 0;
    }
}

void BilinearRunScalar(const TBilinearRun& run) {
    const int32_t bpp = run.srcBytes;
    uint32_t u = run.u, v = run.v;
    uint8_t* d = run.dst;
    for (int32_t i = 0; i < run.count; ++i, u += run.du, v += run.dv, d += 3) {
        const uint32_t x0 = u >> 16, y0 = v >> 16, fx = u & 0xFFFF, fy = v & 0xFFFF;
        const int32_t w11 = int32_t((fx * fy) >> 16);
        const int32_t w00 = 65536 - int32_t(fx) - int32_t(fy) + w11, w10 = int32_t(fx) - w11,
                      w01 = int32_t(fy) - w11;
        const uint8_t* p00 = run.rows[y0] + size_t(x0) * bpp;
        const uint8_t* p01 = run.rows[y0 + 1] + size_t(x0) * bpp;
        int32_t b[4];
        for (int32_t c = 0; c < bpp; ++c)
            b[c] = (w00 * p00[c] + w10 * p00[c + bpp] + w01 * p01[c] + w11 * p01[c + bpp]) >> 16;
        const int32_t h = int32_t(run.blend->h[bpp == 4 ? b[3] : 255]);
        for (int32_t c = 0; c < 3; ++c) d[c] = uint8_t(b[c] + (((int32_t(d[c]) - b[c]) * h) >> 16));
    }
}

}  // namespace ql
