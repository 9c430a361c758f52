#include "OrbLib2/MaskGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// Up to 15 significant digits with no trailing zeros: 12.5, 50, 0.
std::string FormatNumber(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

double SmoothStep(double u) {
    return u < 0.5 ? 2 * u * u : 1 - 2 * (1 - u) * (1 - u);
}

// The shape of a mask at its full size, asked point by point.
class TMaskShape {
public:
    explicit TMaskShape(const TMaskParams& p) : m_ellipse(p.Shape == msEllipse) {
        const int32_t w = p.Width, h = p.Height;
        if (m_ellipse) {
            m_r = (w - 1) / 2.0;
            m_cx = m_r;
            m_cy = (h - 1) / 2.0;
            m_s = std::min(w / 2, h / 2) * double(p.Softness) / 100.0;
            m_aspect = double(w) / double(h);
        } else {
            m_c = static_cast<int32_t>(
                std::lround(std::min(w / 2, h / 2) * double(p.Corner) / 100.0));
            m_s = m_c * double(p.Softness) / 100.0 + 1;
            m_ry = (h - 1) / 2.0;
            m_rx = (w - 1) / 2.0;
            m_w = w;
            m_h = h;
        }
    }

    // The grey at (x, y) of the full size's pixel grid (pixel centres are
    // whole numbers).
    uint8_t GreyAt(double x, double y) const {
        if (m_ellipse) return MaskGrey(std::hypot(x - m_cx, (y - m_cy) * m_aspect), m_r, m_s);
        const double my = std::min(y, m_h - 1 - y);  // distance from the nearer of top and bottom
        const double mx = std::min(x, m_w - 1 - x);
        if (mx < m_c && my < m_c) return MaskGrey(std::hypot(m_c - mx, m_c - my), m_c, m_s);
        if (my < m_c) return MaskGrey(std::fabs(y - m_ry), m_ry, m_s);
        if (mx < m_c) return MaskGrey(std::fabs(x - m_rx), m_rx, m_s);
        return 255;
    }

private:
    bool m_ellipse;
    double m_r = 0, m_cx = 0, m_cy = 0, m_s = 0, m_aspect = 1, m_rx = 0, m_ry = 0, m_w = 0, m_h = 0;
    int32_t m_c = 0;
};

// Calls row(y, bytes) for each row of the mask's level (its MipLevelSize);
// false when cancelled. Level 0 samples each pixel's centre. A pixel of a
// finer level stands for the full-size pixels around the one at 2^level times
// its place (where halving centres its 1 2 1 filter) and takes their mean
// under a tent as wide as the repeated halvings reach, sampled on a small
// grid, so that it looks like the full mask halved that often without the
// full mask ever being made.
template <class TPut>
bool WalkMask(const TMaskParams& p, int32_t level, const ql::TProgressHandler& progress, TPut put) {
    const ql::TPoint size = ql::MipLevelSize(p.Width, p.Height, level);
    const TMaskShape shape(p);
    const double block = std::ldexp(1.0, level);
    // One halving is exactly the three points 1 2 1; more take five, or
    // three again for levels too large to be worth the finer grid.
    const int32_t taps = level == 0                                           ? 1
                         : level == 1 || int64_t(size.x) * size.y > (1 << 20) ? 3
                                                                              : 5;
    std::vector<double> offsets(size_t(taps), 0.0), weights(size_t(taps), 1.0);
    double total = 0;
    for (int32_t i = 0; i < taps && taps > 1; ++i) {
        offsets[size_t(i)] = -block + (i + 1) * 2 * block / (taps + 1);
        weights[size_t(i)] = 1 - std::fabs(offsets[size_t(i)]) / block;
    }
    for (int32_t i = 0; i < taps; ++i)
        for (int32_t j = 0; j < taps; ++j) total += weights[size_t(i)] * weights[size_t(j)];
    std::vector<uint8_t> row(static_cast<size_t>(size.x));
    for (int32_t y = 0; y < size.y; ++y) {
        const double fy = y * block;
        for (int32_t x = 0; x < size.x; ++x) {
            const double fx = x * block;
            if (taps == 1) {
                row[size_t(x)] = shape.GreyAt(fx, fy);
                continue;
            }
            double sum = 0;
            for (int32_t i = 0; i < taps; ++i)
                for (int32_t j = 0; j < taps; ++j)
                    sum += weights[size_t(i)] * weights[size_t(j)] *
                           shape.GreyAt(fx + offsets[size_t(j)], fy + offsets[size_t(i)]);
            row[size_t(x)] = uint8_t(std::lround(sum / total));
        }
        put(y, row.data());
        if (progress && !progress(float(y + 1) / float(size.y))) return false;
    }
    return true;
}

}  // namespace

std::u16string MaskParamsText(const TMaskParams& p) {
    return ql::FromUtf8("PresetedMask: " + std::to_string(p.Width) + ":" +
                        std::to_string(p.Height) + ":" + std::to_string(p.Shape) + ":" +
                        FormatNumber(p.Softness) + ":" + FormatNumber(p.Corner));
}

TMaskParams ParseMaskParams(const std::u16string& text) {
    std::u16string body = text;
    const std::u16string prefix = u"PresetedMask: ";
    if (body.compare(0, prefix.size(), prefix) == 0) body = body.substr(prefix.size());
    std::vector<std::u16string> fields;
    size_t start = 0;
    while (true) {
        const size_t colon = body.find(u':', start);
        fields.push_back(body.substr(
            start, colon == std::u16string::npos ? std::u16string::npos : colon - start));
        if (colon == std::u16string::npos) break;
        start = colon + 1;
    }
    auto integer = [&](size_t i) {
        return i < fields.size() ? ql::TryStrToInt(fields[i]).value_or(0) : 0;
    };
    auto number = [&](size_t i) {
        const double v = i < fields.size() ? ql::TryStrToFloat(fields[i]).value_or(0) : 0;
        return std::isfinite(v) ? float(v) : 0.0f;
    };
    return {integer(0), integer(1), integer(2), number(3), number(4)};
}

uint8_t MaskGrey(double d, double r, double s) {
    if (d < r - s) return 255;
    if (d > r) return 0;
    // A hard edge (no softness) would divide 0 by 0 on the edge itself.
    if (!(s > 0)) return d < r ? 255 : 0;
    const double u = std::clamp((s + d - r) / s, 0.0, 1.0);
    return static_cast<uint8_t>(255 - std::lround(SmoothStep(u) * 255));
}

std::unique_ptr<ql::TBitmap> TMaskGenerator::Generate(const TMaskParams& params,
                                                      const ql::TProgressHandler& progress) const {
    return GenerateLevel(params, 0, progress);
}

std::unique_ptr<ql::TBitmap> TMaskGenerator::GenerateLevel(
    const TMaskParams& params, int32_t level, const ql::TProgressHandler& progress) const {
    if (params.Width < 1 || params.Height < 1 || level < 0 || level > 30) return nullptr;
    const ql::TPoint size = ql::MipLevelSize(params.Width, params.Height, level);
    ql::CheckedBitmapBytes(size.x, size.y, 3);
    auto mask = std::make_unique<ql::TDirectBitmap>(size.x, size.y, ql::PfRGB24());
    const bool done = WalkMask(params, level, progress, [&](int32_t y, const uint8_t* grey) {
        uint8_t* out = mask->Row(y);
        for (int32_t x = 0; x < size.x; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = grey[x];
    });
    return done ? std::move(mask) : nullptr;
}

std::unique_ptr<ql::TBitmap> TMaskGenerator::GenerateAlpha(
    const TMaskParams& params, const ql::TProgressHandler& progress) const {
    if (params.Width < 1 || params.Height < 1) return nullptr;
    ql::CheckedBitmapBytes(params.Width, params.Height, 1);
    auto mask =
        std::make_unique<ql::TDirectBitmap>(params.Width, params.Height, ql::FindPixelFormat("A8"));
    const bool done = WalkMask(params, 0, progress, [&](int32_t y, const uint8_t* grey) {
        std::copy(grey, grey + params.Width, mask->Row(y));
    });
    return done ? std::move(mask) : nullptr;
}

}  // namespace orb
