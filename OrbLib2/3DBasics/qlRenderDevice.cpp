#include "OrbLib2/3DBasics/qlRenderDevice.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <vector>

#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlLog.h"

namespace orb {

TDxResult LogDxResult(TDxResult result) {
    if (result != TDxResult::Ok) ql::GlobalLog().WriteInt(u"Dx Error = ", int64_t(result));
    return result;
}

TDxResult TRenderDevice::ReadPixelBands(const ql::TRect& rect, const TBandSink& sink) {
    // One block of rows, as the sink takes them (a bitmap's rows lie apart).
    ql::TDirectBitmap pixels(std::max(rect.Width(), 1), std::max(rect.Height(), 1), ql::PfARGB32());
    const TDxResult result = ReadPixels(rect, pixels);
    if (result != TDxResult::Ok) return result;
    const size_t width = size_t(rect.Width());
    std::vector<uint32_t> block(width * size_t(rect.Height()));
    for (int32_t y = 0; y < rect.Height(); ++y)
        std::memcpy(block.data() + size_t(y) * width, pixels.Row(y), width * 4);
    sink(0, rect.Height(), block.data(), width);
    return result;
}

int64_t CapsValue(const TDeviceCaps& caps, const std::string& name) {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (key == "maxtexwidth") return caps.maxTexWidth;
    if (key == "maxtexheight") return caps.maxTexHeight;
    if (key == "maxanisotropy") return caps.maxAnisotropy;
    if (key == "raster") return caps.raster;
    if (key == "vendor") return caps.vendor;
    if (key == "pixelshaderversion") return caps.pixelShaderVersion;
    return 0;
}

int32_t ShaderLevel(const TDeviceCaps& caps) {
    if (caps.pixelShaderVersion < 0x0200) return 0;
    if (caps.vendor == 0x8086 && caps.pixelShaderVersion < 0x0300) return 1;
    return 2;
}

TSmoothEdges TSmoothEdges::FromQuad(const TVertex (&corners)[4], uint8_t sides, float nearW) {
    TSmoothEdges edges;
    if ((sides & 15) == 0) return edges;
    double x[4], y[4], gx = 0, gy = 0;
    for (int32_t i = 0; i < 4; ++i) {
        const TVertex& v = corners[i];
        if (!(v.w >= std::max(nearW, 1e-6f)) || !std::isfinite(v.x) || !std::isfinite(v.y))
            return edges;
        x[i] = double(v.x) / double(v.w);
        y[i] = double(v.y) / double(v.w);
        gx += x[i] / 4;
        gy += y[i] / 4;
    }
    for (int32_t k = 0; k < 4; ++k) {
        if (!(sides & (1 << k))) continue;
        const int32_t p = (k + 3) % 4, q = k;
        const double dx = x[q] - x[p], dy = y[q] - y[p], length = std::hypot(dx, dy);
        if (!(length > 1e-6)) return TSmoothEdges();
        double a = -dy / length, b = dx / length, c = -(a * x[p] + b * y[p]);
        // Positive towards the quad, whichever way round its corners go.
        if (a * gx + b * gy + c < 0) a = -a, b = -b, c = -c;
        edges.a[edges.count] = a;
        edges.b[edges.count] = b;
        edges.c[edges.count] = c;
        ++edges.count;
    }
    return edges;
}

// Coverage is the exact area of the pixel square on the inner side of each
// line, not a count of sub-samples: the square seen along the line's normal
// is the sum of two uniform spreads of widths |a| and |b|, and the area
// inside is that sum's distribution at the centre's distance d. Where two
// smooth sides meet at a corner their areas multiply, which is exact for
// sides along the pixel grid and close for turned ones. The same formula
// runs in the GL device's fragment shader.
double TSmoothEdges::Coverage(double x, double y) const {
    double coverage = 1;
    for (int32_t k = 0; k < count; ++k) {
        const double hi = std::max(std::fabs(a[k]), std::fabs(b[k])),
                     lo = std::min(std::fabs(a[k]), std::fabs(b[k]));
        const double u = std::clamp(a[k] * x + b[k] * y + c[k] + (hi + lo) / 2, 0.0, hi + lo);
        double inside;
        if (u < lo)
            inside = u * u / (2 * hi * lo);
        else if (u <= hi)
            inside = (u - lo / 2) / hi;
        else
            inside = 1 - (hi + lo - u) * (hi + lo - u) / (2 * hi * lo);
        coverage *= std::clamp(inside, 0.0, 1.0);
    }
    return coverage;
}

void TSmoothEdges::WholeRun(int32_t y, int64_t& first, int64_t& last) const {
    // Bounds a little inside the exact ones: a pixel left out is drawn with
    // its coverage, which comes out whole, so nothing changes but the time.
    constexpr double kMargin = 1e-6;
    constexpr double kFar = 1e15;
    double from = -kFar, to = kFar;
    const double cy = double(y) + 0.5;
    for (int32_t k = 0; k < count; ++k) {
        const double half = (std::fabs(a[k]) + std::fabs(b[k])) / 2;
        // Whole where a (x + 0.5) + b cy + c >= half.
        const double rest = half + kMargin - b[k] * cy - c[k];
        if (std::fabs(a[k]) < 1e-12) {
            if (rest > 0) from = kFar, to = -kFar;
        } else if (a[k] > 0) {
            from = std::max(from, rest / a[k] - 0.5);
        } else {
            to = std::min(to, rest / a[k] - 0.5);
        }
    }
    if (!(from <= to)) {
        first = 0, last = 0;
        return;
    }
    first = int64_t(std::ceil(std::clamp(from, -kFar, kFar)));
    last = int64_t(std::floor(std::clamp(to, -kFar, kFar))) + 1;
}

int64_t TRenderDevice::TextureBytes(const TTextureDesc& desc) {
    const int64_t bpp = desc.format == TTexelFormat::L8 ? 1 : 4;
    int64_t bytes = 0;
    int64_t w = std::max(desc.width, 1), h = std::max(desc.height, 1);
    for (int32_t level = 0; level < std::max(desc.mipLevels, 1); ++level) {
        bytes += w * h * bpp;
        w = std::max<int64_t>(w / 2, 1);
        h = std::max<int64_t>(h / 2, 1);
    }
    return bytes;
}

}  // namespace orb
