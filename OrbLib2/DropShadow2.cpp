#include "OrbLib2/DropShadow2.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/Resample.h"

namespace orb {

namespace {

struct TBuiltinCurve {
    const char* name;
    std::vector<TCurvePoint> points;
};

const std::vector<TBuiltinCurve>& BuiltinCurves() {
    static const std::vector<TBuiltinCurve> curves = {
        {"Linear", {{0, 0}, {255, 255}}},
        {"Cone", {{0, 0}, {128, 255}, {255, 0}}},
        {"Cone - Inverted", {{0, 255}, {128, 0}, {255, 255}}},
        {"Cove - Deep", {{1, 63}, {148, 110}, {192, 255}}},
        {"Cove - Shallow", {{0, 127}, {83, 174}, {128, 255}}},
        {"Gaussian", {{0, 0}, {63, 11}, {113, 63}, {146, 194}, {191, 241}, {255, 255}}},
        {"Half Round", {{0, 0}, {27, 84}, {81, 178}, {173, 236}, {255, 255}}},
        {"Ring", {{0, 0}, {86, 255}, {172, 0}, {255, 255}}},
        {"Ring - Double", {{0, 0}, {48, 255}, {105, 0}, {158, 253}, {214, 1}, {255, 255}}},
        {"Tooth", {{0, 0}, {64, 127}, {128, 1}, {193, 127}, {255, 0}}},
    };
    return curves;
}

uint8_t ClampByte(double value) {
    if (!(value > 0)) return 0;
    if (value >= 255) return 255;
    return static_cast<uint8_t>(std::lround(value));
}

}  // namespace

// ---- TCurvesData ----

void TCurvesData::BuildTable() {
    Table.fill(0);
    if (Points.empty()) return;
    // Stored curves may overshoot; the table is indexed only with 0..255.
    std::vector<TCurvePoint> p = Points;
    for (TCurvePoint& point : p) {
        point.x = std::clamp(point.x, 0, 255);
        point.y = std::clamp(point.y, 0, 255);
    }
    const size_t n = p.size();
    for (int32_t x = 0; x < p.front().x; ++x) Table[size_t(x)] = uint8_t(p.front().y);
    for (int32_t x = p.back().x + 1; x < 256; ++x) Table[size_t(x)] = uint8_t(p.back().y);
    for (size_t j = 0; j + 1 < n; ++j) {
        const TCurvePoint& p0 = p[j == 0 ? 0 : j - 1];
        const TCurvePoint& p1 = p[j];
        const TCurvePoint& p2 = p[j + 1];
        const TCurvePoint& p3 = p[j + 2 < n ? j + 2 : j + 1];
        // x(t) = a t^3 + b t^2 + c t + d in Catmull-Rom form, walked by
        // forward differences over 1000 equal steps.
        constexpr double h = 1.0 / 1000.0;
        double f[2], d1[2], d2[2], d3[2];
        const double q0[2] = {double(p0.x), double(p0.y)}, q1[2] = {double(p1.x), double(p1.y)};
        const double q2[2] = {double(p2.x), double(p2.y)}, q3[2] = {double(p3.x), double(p3.y)};
        for (int k = 0; k < 2; ++k) {
            const double a = 0.5 * (-q0[k] + 3 * q1[k] - 3 * q2[k] + q3[k]);
            const double b = 0.5 * (2 * q0[k] - 5 * q1[k] + 4 * q2[k] - q3[k]);
            const double c = 0.5 * (-q0[k] + q2[k]);
            f[k] = q1[k];
            d1[k] = a * h * h * h + b * h * h + c * h;
            d2[k] = 6 * a * h * h * h + 2 * b * h * h;
            d3[k] = 6 * a * h * h * h;
        }
        for (int step = 0; step <= 1000; ++step) {
            Table[ClampByte(f[0])] = ClampByte(f[1]);
            for (int k = 0; k < 2; ++k) {
                f[k] += d1[k];
                d1[k] += d2[k];
                d2[k] += d3[k];
            }
        }
    }
    for (const TCurvePoint& point : p) Table[size_t(point.x)] = uint8_t(point.y);
}

void TCurvesData::LoadFromStream(ql::TStream& stream) {
    const uint16_t count = stream.ReadWordBE();
    if (count < 2 || count > 255) throw ql::EStreamReadError("Bad curve point count");
    std::vector<TCurvePoint> points(count);
    for (TCurvePoint& point : points) {
        point.x = stream.ReadWordBE();
        point.y = stream.ReadWordBE();
    }
    Points = std::move(points);
    BuildTable();
}

void TCurvesData::SaveToStream(ql::TStream& stream) const {
    auto word = [&](int32_t value) {
        const uint8_t bytes[2] = {uint8_t(value >> 8), uint8_t(value)};
        stream.WriteBuffer(bytes, 2);
    };
    word(static_cast<int32_t>(Points.size()));
    for (const TCurvePoint& point : Points) {
        word(point.x);
        word(point.y);
    }
}

std::optional<TCurvesData> TCurvesData::Builtin(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(BuiltinCurves().size())) return std::nullopt;
    TCurvesData curve;
    curve.Points = BuiltinCurves()[size_t(index)].points;
    curve.BuildTable();
    return curve;
}

const char* TCurvesData::BuiltinName(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(BuiltinCurves().size())) return nullptr;
    return BuiltinCurves()[size_t(index)].name;
}

std::vector<uint8_t> CurveOutputTable(const TCurvesData& curve) {
    std::vector<uint8_t> table(kResampleTableSize);
    for (int32_t i = 0; i < kResampleTableSize; ++i) {
        const double position = double(i) * 255.0 / double(kResampleTableSize - 1);
        const int32_t low = std::min(254, static_cast<int32_t>(position));
        const double t = position - low;
        const double value = curve.Table[size_t(low)] + (curve.Table[size_t(low + 1)] - curve.Table[size_t(low)]) * t;
        table[size_t(i)] = ClampByte(value);
    }
    return table;
}

// ---- TDropShadow ----

void TDropShadow::SetBlur(float softness) {
    m_factor = softness + 1;
    if (!(m_factor > 0)) m_factor = 1;
}

int32_t TDropShadow::Margin() const { return static_cast<int32_t>(std::ceil(m_factor * 2.5)); }

std::unique_ptr<ql::TBitmap> TDropShadow::Make(const ql::TBitmap& source, const ql::TProgressHandler& progress) const {
    const int32_t bpp = source.BytesPerPixel();
    QL_ASSERT(bpp == 1 || source.PixelFormat()->Name() == "A8R8G8B8", "TDropShadow.Make: A8 or A8R8G8B8 expected");
    const ql::TPixelFormat* a8 = ql::FindPixelFormat("A8");
    const int32_t m = Margin();
    const int32_t W = source.Width() + 2 * m, H = source.Height() + 2 * m;
    auto large = std::make_unique<ql::TDirectBitmap>(W, H, a8);
    large->FillRect(large->Bounds(), 0);
    for (int32_t y = 0; y < source.Height(); ++y) {
        const uint8_t* src = source.Row(y);
        uint8_t* dst = large->Row(y + m) + m;
        if (bpp == 1) {
            std::copy(src, src + source.Width(), dst);
        } else {
            for (int32_t x = 0; x < source.Width(); ++x) dst[x] = src[size_t(x) * 4 + 3];
        }
    }
    const double f = m_factor;
    const int32_t sw = static_cast<int32_t>(std::lround(W / f)) + 1;
    const int32_t sh = static_cast<int32_t>(std::lround(H / f)) + 1;
    ql::TDirectBitmap small(sw, sh, a8);
    small.FillRect(small.Bounds(), 0);
    auto half = [&](float base) {
        return ql::TProgressHandler(
            progress ? [&progress, base](float done) { return progress(base + done / 2); } : ql::TProgressHandler());
    };
    if (!Resample(*large, small, TResampleFilter::BSpline, nullptr, half(0), 1 / f, 2)) return nullptr;
    std::vector<uint8_t> table;
    if (m_curve) table = CurveOutputTable(*m_curve);
    if (!Resample(small, *large, TResampleFilter::BSpline, m_curve ? table.data() : nullptr, half(0.5f), f, 2))
        return nullptr;
    return large;
}

// ---- TShadowProducer ----

std::unique_ptr<ql::TBitmap> TShadowProducer::Produce(const ql::TBitmap& picture, uint32_t colour, float blur,
                                                      const TCurvesData* curve,
                                                      const ql::TProgressHandler& progress) const {
    TDropShadow shadow;
    shadow.SetBlur(blur);
    shadow.SetCurve(curve);
    std::unique_ptr<ql::TBitmap> alpha = shadow.Make(picture, progress);
    if (!alpha) return nullptr;
    auto result = std::make_unique<ql::TDirectBitmap>(alpha->Width(), alpha->Height(), ql::PfARGB32());
    const uint32_t colourAlpha = colour >> 24;
    const uint8_t b = uint8_t(colour), g = uint8_t(colour >> 8), r = uint8_t(colour >> 16);
    for (int32_t y = 0; y < alpha->Height(); ++y) {
        const uint8_t* a = alpha->Row(y);
        uint8_t* out = result->Row(y);
        for (int32_t x = 0; x < alpha->Width(); ++x, out += 4) {
            out[0] = b;
            out[1] = g;
            out[2] = r;
            out[3] = a[x] == 255 ? uint8_t(colourAlpha) : uint8_t((a[x] * colourAlpha + 127) / 255);
        }
        if (progress && !progress(1.0f)) return nullptr;
    }
    return result;
}

}  // namespace orb
