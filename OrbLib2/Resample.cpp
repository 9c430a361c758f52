#include "OrbLib2/Resample.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace orb {

namespace {

double Sinc(double x) {
    if (x == 0) return 1;
    const double a = x * std::numbers::pi;
    return std::sin(a) / a;
}

// One destination pixel's sources and weights.
struct TContribution {
    int32_t first = 0;  // into the shared index and weight arrays
    int32_t count = 0;
};

struct TContributions {
    std::vector<TContribution> pixels;
    std::vector<int32_t> indexes;
    std::vector<float> weights;
};

// Index j mirrored into 0..size-1: -j below 0, 2 size - 1 - j beyond; far
// outside (a tiny source under a wide filter) it is clamped.
int32_t Mirror(int64_t j, int32_t size) {
    if (j < 0) j = -j;
    if (j >= size) j = 2 * int64_t(size) - 1 - j;
    return static_cast<int32_t>(std::clamp<int64_t>(j, 0, size - 1));
}

TContributions Contributions(int32_t dstSize, int32_t srcSize, TResampleFilter filter, double scale,
                             double support) {
    TContributions result;
    const double widen = scale < 1 ? 1 / scale : 1;
    const double shrink = scale < 1 ? scale : 1;
    const double reach = support * widen;
    result.pixels.resize(size_t(dstSize));
    for (int32_t x = 0; x < dstSize; ++x) {
        const double centre = x / scale;
        const int64_t from = static_cast<int64_t>(std::ceil(centre - reach));
        const int64_t to = static_cast<int64_t>(std::floor(centre + reach));
        TContribution& c = result.pixels[size_t(x)];
        c.first = static_cast<int32_t>(result.indexes.size());
        double total = 0;
        for (int64_t j = from; j <= to; ++j) {
            const double w = FilterValue(filter, (double(j) - centre) * shrink) * shrink;
            if (w == 0) continue;
            result.indexes.push_back(Mirror(j, srcSize));
            result.weights.push_back(static_cast<float>(w));
            total += w;
        }
        c.count = static_cast<int32_t>(result.indexes.size()) - c.first;
        // Weights are brought to a sum of 1, so a flat area stays flat at the
        // edges and under filters whose samples do not add up exactly.
        if (total != 0)
            for (int32_t k = 0; k < c.count; ++k) result.weights[size_t(c.first + k)] /= float(total);
    }
    return result;
}

}  // namespace

double FilterValue(TResampleFilter filter, double x) {
    x = std::fabs(x);
    switch (filter) {
        case TResampleFilter::BSpline:
            if (x < 1) return x * x * x / 2 - x * x + 2.0 / 3.0;
            if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
            return 0;
        case TResampleFilter::Triangle:
            return x < 1 ? 1 - x : 0;
        case TResampleFilter::Mitchell: {
            constexpr double B = 1.0 / 3.0, C = 1.0 / 3.0;
            if (x < 1)
                return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) / 6;
            if (x < 2)
                return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x +
                        (8 * B + 24 * C)) /
                       6;
            return 0;
        }
        case TResampleFilter::Sinc:
            return x < 4 ? Sinc(x) : 0;
        case TResampleFilter::Lanczos3:
            return x < 3 ? Sinc(x) * Sinc(x / 3) : 0;
    }
    return 0;
}

double FilterSupport(TResampleFilter filter) {
    switch (filter) {
        case TResampleFilter::Triangle:
            return 1;
        case TResampleFilter::Sinc:
            return 4;
        case TResampleFilter::Lanczos3:
            return 3;
        default:
            return 2;
    }
}

int32_t ResampleTableIndex(double sum) {
    // Negative sums (filters with negative lobes) must not index below 0.
    if (!(sum > 0)) return 0;
    const double index = std::round(sum * (kResampleTableSize - 1) / 255.0);
    return index >= kResampleTableSize - 1 ? kResampleTableSize - 1 : static_cast<int32_t>(index);
}

bool Resample(const ql::TBitmap& source, ql::TBitmap& destination, TResampleFilter filter,
              const uint8_t* table, const ql::TProgressHandler& progress, double scale, double support) {
    QL_ASSERT(source.BytesPerPixel() == 1 && destination.BytesPerPixel() == 1, "Resample: bitmaps must be A8");
    const int32_t sw = source.Width(), sh = source.Height();
    const int32_t dw = destination.Width(), dh = destination.Height();
    if (sw < 2 || sh < 2 || dw < 1 || dh < 1) return true;
    if (!(scale > 0) || !std::isfinite(scale)) return true;

    const TContributions columns = Contributions(dw, sw, filter, scale, support);
    const TContributions rows = Contributions(dh, sh, filter, scale, support);
    const double totalRows = double(sh) + double(dh);

    // The horizontal pass keeps its sums unrounded for the vertical one.
    std::vector<float> middle(size_t(dw) * size_t(sh));
    for (int32_t y = 0; y < sh; ++y) {
        const uint8_t* src = source.Row(y);
        float* out = middle.data() + size_t(y) * size_t(dw);
        for (int32_t x = 0; x < dw; ++x) {
            const TContribution& c = columns.pixels[size_t(x)];
            float sum = 0;
            for (int32_t k = 0; k < c.count; ++k)
                sum += columns.weights[size_t(c.first + k)] * float(src[columns.indexes[size_t(c.first + k)]]);
            out[x] = sum;
        }
        if (progress && !progress(float((y + 1) / totalRows))) return false;
    }
    std::vector<float> sums(static_cast<size_t>(dw));
    for (int32_t y = 0; y < dh; ++y) {
        const TContribution& c = rows.pixels[size_t(y)];
        std::fill(sums.begin(), sums.end(), 0.0f);
        for (int32_t k = 0; k < c.count; ++k) {
            const float w = rows.weights[size_t(c.first + k)];
            const float* in = middle.data() + size_t(rows.indexes[size_t(c.first + k)]) * size_t(dw);
            for (int32_t x = 0; x < dw; ++x) sums[size_t(x)] += w * in[x];
        }
        uint8_t* out = destination.Row(y);
        for (int32_t x = 0; x < dw; ++x) {
            const float sum = sums[size_t(x)];
            if (table) {
                out[x] = table[ResampleTableIndex(sum)];
            } else {
                const float v = std::round(sum);
                out[x] = static_cast<uint8_t>(!(v > 0) ? 0 : v >= 255 ? 255 : v);
            }
        }
        if (progress && !progress(float((sh + y + 1) / totalRows))) return false;
    }
    return true;
}

}  // namespace orb
