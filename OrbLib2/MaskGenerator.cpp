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

double SmoothStep(double u) { return u < 0.5 ? 2 * u * u : 1 - 2 * (1 - u) * (1 - u); }

// Calls row(y, bytes) for each row of the mask; false when cancelled.
template <class TPut>
bool WalkMask(const TMaskParams& p, const ql::TProgressHandler& progress, TPut put) {
    const int32_t w = p.Width, h = p.Height;
    std::vector<uint8_t> row(static_cast<size_t>(w));
    if (p.Shape == msEllipse) {
        const double r = (w - 1) / 2.0, cx = r, cy = (h - 1) / 2.0;
        const double s = std::min(w / 2, h / 2) * double(p.Softness) / 100.0;
        const double aspect = double(w) / double(h);
        for (int32_t y = 0; y < h; ++y) {
            const double dy = (y - cy) * aspect;
            for (int32_t x = 0; x < w; ++x) row[size_t(x)] = MaskGrey(std::hypot(x - cx, dy), r, s);
            put(y, row.data());
            if (progress && !progress(float(y + 1) / float(h))) return false;
        }
        return true;
    }
    const int32_t c = static_cast<int32_t>(std::lround(std::min(w / 2, h / 2) * double(p.Corner) / 100.0));
    const double s = c * double(p.Softness) / 100.0 + 1;
    const double ry = (h - 1) / 2.0, rx = (w - 1) / 2.0;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t my = std::min(y, h - 1 - y);  // distance from the nearer of top and bottom
        for (int32_t x = 0; x < w; ++x) {
            const int32_t mx = std::min(x, w - 1 - x);
            uint8_t g = 255;
            if (mx < c && my < c)
                g = MaskGrey(std::hypot(double(c - mx), double(c - my)), c, s);
            else if (my < c)
                g = MaskGrey(std::fabs(y - ry), ry, s);
            else if (mx < c)
                g = MaskGrey(std::fabs(x - rx), rx, s);
            row[size_t(x)] = g;
        }
        put(y, row.data());
        if (progress && !progress(float(y + 1) / float(h))) return false;
    }
    return true;
}

}  // namespace

std::u16string MaskParamsText(const TMaskParams& p) {
    return ql::FromUtf8("PresetedMask: " + std::to_string(p.Width) + ":" + std::to_string(p.Height) + ":" +
                        std::to_string(p.Shape) + ":" + FormatNumber(p.Softness) + ":" + FormatNumber(p.Corner));
}

TMaskParams ParseMaskParams(const std::u16string& text) {
    std::u16string body = text;
    const std::u16string prefix = u"PresetedMask: ";
    if (body.compare(0, prefix.size(), prefix) == 0) body = body.substr(prefix.size());
    std::vector<std::u16string> fields;
    size_t start = 0;
    while (true) {
        const size_t colon = body.find(u':', start);
        fields.push_back(body.substr(start, colon == std::u16string::npos ? std::u16string::npos : colon - start));
        if (colon == std::u16string::npos) break;
        start = colon + 1;
    }
    auto integer = [&](size_t i) { return i < fields.size() ? ql::TryStrToInt(fields[i]).value_or(0) : 0; };
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
    if (params.Width < 1 || params.Height < 1) return nullptr;
    ql::CheckedBitmapBytes(params.Width, params.Height, 3);
    auto mask = std::make_unique<ql::TDirectBitmap>(params.Width, params.Height, ql::PfRGB24());
    const bool done = WalkMask(params, progress, [&](int32_t y, const uint8_t* grey) {
        uint8_t* out = mask->Row(y);
        for (int32_t x = 0; x < params.Width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = grey[x];
    });
    return done ? std::move(mask) : nullptr;
}

std::unique_ptr<ql::TBitmap> TMaskGenerator::GenerateAlpha(const TMaskParams& params,
                                                           const ql::TProgressHandler& progress) const {
    if (params.Width < 1 || params.Height < 1) return nullptr;
    ql::CheckedBitmapBytes(params.Width, params.Height, 1);
    auto mask = std::make_unique<ql::TDirectBitmap>(params.Width, params.Height, ql::FindPixelFormat("A8"));
    const bool done = WalkMask(params, progress, [&](int32_t y, const uint8_t* grey) {
        std::copy(grey, grey + params.Width, mask->Row(y));
    });
    return done ? std::move(mask) : nullptr;
}

}  // namespace orb
