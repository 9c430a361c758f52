#include "OrbLib2/3DEngine/qlDrawFilter2.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace orb {

// ---- TOpacityCurve ----

double TOpacityCurve::S(double x) { return x < 127.5 ? x * x / 128.0 : 255.0 - (255.0 - x) * (255.0 - x) / 128.0; }
double TOpacityCurve::X(int32_t i) { return i * 255.0 / 14.0; }
double TOpacityCurve::Y(int32_t i) { return S(X(i)); }

// ---- TDrawFilter ----

void TDrawFilter::Start(const ql::TRect& filterRect, float softEdge, float duration) {
    m_filterRect = filterRect;
    m_softEdge = std::isfinite(softEdge) ? std::max(softEdge, 0.0f) : 0.0f;
    m_duration = std::isfinite(duration) ? std::max(duration, 0.0f) : 0.0f;
    m_invDuration = m_duration > 0 ? 1.0 / m_duration : 0.0;
    m_time = 0;
}

void TDrawFilter::SetTime(float t) { m_time = std::isnan(t) ? 0.0f : std::clamp(t, 0.0f, m_duration); }

// ---- TCommonFilter ----

void TCommonFilter::Start(const ql::TRect& filterRect, float softEdge, float duration) {
    TDrawFilter::Start(filterRect, softEdge, duration);
    m_centreX = filterRect.left + filterRect.Width() * m_cx;
    m_centreY = filterRect.top + filterRect.Height() * m_cy;
    ComputeReach();
}

double TCommonFilter::EdgeDistance() const {
    const double r = m_time * m_invDuration * m_reach;
    return m_reverse ? m_reach - r : r;
}

void TCommonFilter::DrawEffect(TEffectTarget& target) {
    const double r = EdgeDistance();
    TMultiTile& sink = target.Sink();
    sink.Begin();
    DrawShape(sink, r, r - m_softEdge);
    sink.End();
}

void TCommonFilter::DrawShape(TMultiTile& sink, double a, double b) {
    if (a <= 0) return;
    if (b > 0) DrawBand(sink, 255, 255, 0, b);
    double prevDistance, prevOpacity;
    if (b < 0) {
        prevDistance = 0;
        prevOpacity = 255 - TOpacityCurve::S(-255 * b / (a - b));
    } else {
        prevDistance = b;
        prevOpacity = 255;
    }
    for (int32_t i = 1; i < TOpacityCurve::kPoints; ++i) {
        const double f = b + TOpacityCurve::X(i) * (a - b) / 255;
        const double opacity = 255 - TOpacityCurve::Y(i);
        // Thin rings merge into the next one; the last always closes the band.
        if (f > 0 && prevDistance < m_reach && (i == TOpacityCurve::kPoints - 1 || f > prevDistance + 2)) {
            if (f > prevDistance) DrawBand(sink, prevOpacity, opacity, prevDistance, f);
            prevDistance = f;
            prevOpacity = opacity;
        }
    }
}

// ---- shapes ----

void TCircleFilter::ComputeReach() {
    const ql::TRect& r = m_filterRect;
    const double cx = m_centreX, cy = m_centreY;
    double far = 0;
    for (double x : {double(r.left), double(r.right)})
        for (double y : {double(r.top), double(r.bottom)}) far = std::max(far, std::hypot(x - cx, y - cy));
    const double dx = std::max({double(r.left) - cx, 0.0, cx - double(r.right)});
    const double dy = std::max({double(r.top) - cy, 0.0, cy - double(r.bottom)});
    m_gap = std::hypot(dx, dy);
    m_reach = far - m_gap + m_softEdge;
}

void TCircleFilter::DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) {
    const int32_t n = Segments();
    const double r0 = inner + m_gap, r1 = outer + m_gap;
    const double step = 2 * std::numbers::pi / n;
    // A polygon of n corners lies inside its circle: corners go out by the
    // ratio that puts the edges' middles on it, so the disc is covered.
    const double grow = 1 / std::cos(step / 2);
    auto at = [&](double radius, int32_t k, double opacity) {
        const double angle = (k % n) * step;
        return TEffVertex{float(m_centreX + radius * grow * std::cos(angle)),
                          float(m_centreY + radius * grow * std::sin(angle)), float(opacity)};
    };
    if (r0 <= 0 && io == oo) {
        // A uniform disc goes across in a zigzag from its top corner down,
        // each triangle as wide as the disc there: slices from the centre
        // would be thin and cut every row into short runs.
        const int32_t top = 3 * n / 4;
        TEffVertex prev2 = at(r1, top, oo), prev1 = at(r1, top + 1, oo);
        for (int32_t i = 2; i < n; ++i) {
            const int32_t step = i / 2;
            const int32_t k = i % 2 ? top + 1 + step : top - step + n;
            const TEffVertex next = at(r1, k, oo);
            const TEffVertex tri[3] = {prev2, prev1, next};
            sink.AddTriangles(tri);
            prev2 = prev1;
            prev1 = next;
        }
        return;
    }
    for (int32_t k = 0; k < n; ++k)
        AddQuad(sink, at(r0, k, io), at(r1, k, oo), at(r1, k + 1, oo), at(r0, k + 1, io));
}

void TRhombFilter::ComputeReach() { m_reach = (m_filterRect.Width() + m_filterRect.Height()) / 2 + m_softEdge; }

void TRhombFilter::DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) {
    const double dx[5] = {0, 1, 0, -1, 0}, dy[5] = {-1, 0, 1, 0, -1};
    auto at = [&](double d, int32_t k, double opacity) {
        return TEffVertex{float(m_centreX + d * dx[k]), float(m_centreY + d * dy[k]), float(opacity)};
    };
    for (int32_t k = 0; k < 4; ++k)
        AddQuad(sink, at(inner, k, io), at(outer, k, oo), at(outer, k + 1, oo), at(inner, k + 1, io));
}

void TSquareFilter::ComputeReach() { m_reach = m_filterRect.Width() / 2.0 + m_softEdge; }

void TSquareFilter::DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) {
    const double k = m_filterRect.Width() > 0 ? double(m_filterRect.Height()) / m_filterRect.Width() : 1.0;
    const double sx[5] = {-1, 1, 1, -1, -1}, sy[5] = {-1, -1, 1, 1, -1};
    auto at = [&](double d, int32_t i, double opacity) {
        return TEffVertex{float(m_centreX + d * sx[i]), float(m_centreY + d * k * sy[i]), float(opacity)};
    };
    for (int32_t i = 0; i < 4; ++i)
        AddQuad(sink, at(inner, i, io), at(outer, i, oo), at(outer, i + 1, oo), at(inner, i + 1, io));
}

void THLines::ComputeReach() {
    m_reach = std::max(m_centreX - m_filterRect.left, m_filterRect.right - m_centreX) + m_softEdge;
}

void THLines::DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) {
    const float top = float(m_filterRect.top), bottom = float(m_filterRect.bottom);
    for (double side : {-1.0, 1.0}) {
        const float xi = float(m_centreX + side * inner), xo = float(m_centreX + side * outer);
        AddQuad(sink, {xi, top, float(io)}, {xo, top, float(oo)}, {xo, bottom, float(oo)}, {xi, bottom, float(io)});
    }
}

void TVLines::ComputeReach() {
    m_reach = std::max(m_centreY - m_filterRect.top, m_filterRect.bottom - m_centreY) + m_softEdge;
}

void TVLines::DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) {
    const float left = float(m_filterRect.left), right = float(m_filterRect.right);
    for (double side : {-1.0, 1.0}) {
        const float yi = float(m_centreY + side * inner), yo = float(m_centreY + side * outer);
        AddQuad(sink, {left, yi, float(io)}, {left, yo, float(oo)}, {right, yo, float(oo)}, {right, yi, float(io)});
    }
}

void TDiagLines::ComputeReach() {
    const int32_t w = m_filterRect.Width(), h = m_filterRect.Height();
    m_reach = (m_mode == 1 ? (w + h) / 2 : w + h) + m_softEdge;
}

void TDiagLines::Strip(TMultiTile& sink, double io, double oo, double inner, double outer, double side) {
    const int32_t w = m_filterRect.Width(), h = m_filterRect.Height();
    const double u = m_mode == 0 ? 0 : m_mode == 1 ? (w + h) / 2 : w + h;
    const double topX = m_filterRect.left + (m_mirrored ? u - h : u);
    const double bottomX = m_filterRect.left + (m_mirrored ? u : u - h);
    const float top = float(m_filterRect.top), bottom = float(m_filterRect.bottom);
    AddQuad(sink, {float(topX + side * inner), top, float(io)}, {float(topX + side * outer), top, float(oo)},
            {float(bottomX + side * outer), bottom, float(oo)}, {float(bottomX + side * inner), bottom, float(io)});
}

void TDiagLines::DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) {
    if (m_mode != 2) Strip(sink, io, oo, inner, outer, 1);
    if (m_mode != 0) Strip(sink, io, oo, inner, outer, -1);
}

// ---- TAlphaFilter ----

double TAlphaFilter::Opacity() const { return std::clamp(m_time * 255.0 * m_invDuration, 0.0, 255.0); }

void TAlphaFilter::DrawEffect(TEffectTarget& target) {
    const ql::TRect& r = m_filterRect;
    const float o = float(Opacity());
    TMultiTile& sink = target.Sink();
    sink.Begin();
    AddQuad(sink, {float(r.left), float(r.top), o}, {float(r.right), float(r.top), o},
            {float(r.right), float(r.bottom), o}, {float(r.left), float(r.bottom), o});
    sink.End();
}

// ---- TRandomFilter ----

void TRandomFilter::Start(const ql::TRect& filterRect, float softEdge, float duration) {
    TDrawFilter::Start(filterRect, softEdge, duration);
    m_columns = std::clamp(m_params.MosaicDX, 1, kMaxCells);
    m_rows = std::clamp(m_params.MosaicDY, 1, kMaxCells);
    m_spread = m_params.MosaicSC < 100 ? std::max(m_params.MosaicSC, 0) : 1000;
    const double c = std::round(m_spread * 100);
    // A generator of the effect's own: the same seed gives the same cells
    // whatever other threads do with theirs.
    std::mt19937 random(uint32_t(m_params.Seed));
    m_thresholds.resize(size_t(m_columns) * size_t(m_rows));
    for (int32_t& threshold : m_thresholds) threshold = int32_t(std::lround(random() / 4294967296.0 * c));
}

int32_t TRandomFilter::Level() const {
    return int32_t(std::lround(m_time * m_invDuration * (m_spread * 100 + 256) - 256));
}

void TRandomFilter::DrawEffect(TEffectTarget& target) {
    const ql::TRect& r = m_filterRect;
    const int32_t level = Level();
    TMultiTile& sink = target.Sink();
    sink.Begin();
    for (int32_t i = 0; i < m_rows; ++i) {
        const float y0 = float(r.top + double(i) * r.Height() / m_rows);
        const float y1 = float(r.top + double(i + 1) * r.Height() / m_rows);
        for (int32_t j = 0; j < m_columns; ++j) {
            const int32_t diff = m_thresholds[size_t(i) * size_t(m_columns) + size_t(j)] - level;
            if (diff >= 255) continue;
            const float o = diff < 0 ? 255.0f : float(255 - diff);
            const float x0 = float(r.left + double(j) * r.Width() / m_columns);
            const float x1 = float(r.left + double(j + 1) * r.Width() / m_columns);
            AddQuad(sink, {x0, y0, o}, {x1, y0, o}, {x1, y1, o}, {x0, y1, o});
        }
    }
    sink.End();
}

// ---- slide-in and push ----

TPointF TSlideFilter::EnterShift(const ql::TRect& target) const {
    const float p = float(Progress()), w = float(target.Width()), h = float(target.Height());
    switch (m_type) {
        case 1: return {w * p - w, 0};
        case 2: return {w - w * p, 0};
        case 3: return {0, h * p - h};
        default: return {0, h - h * p};
    }
}

void TSlideFilter::DrawEffect(TEffectTarget& target) {
    // In filter pixels: the sink maps them onto the target.
    const ql::TRect& r = m_filterRect;
    const TPointF shift = EnterShift(r);
    auto corner = [&](int32_t x, int32_t y) {
        TMeshVertex v;
        v.x = float(x) + shift.x, v.y = float(y) + shift.y;
        v.s = float(x), v.t = float(y);
        return v;
    };
    const TMeshVertex a = corner(r.left, r.top), b = corner(r.right, r.top), c = corner(r.right, r.bottom),
                      d = corner(r.left, r.bottom);
    const TMeshVertex triangles[6] = {a, b, c, a, c, d};
    TMultiTile& sink = target.Sink();
    sink.Begin();
    sink.AddMesh(triangles);
    sink.End();
}

TPointF TPushFilter::PushOffset(const ql::TRect& filterRect) const {
    const float p = float(Progress()), w = float(filterRect.Width()), h = float(filterRect.Height());
    switch (m_type) {
        case 1: return {w * p, 0};
        case 2: return {-w * p, 0};
        case 3: return {0, h * p};
        default: return {0, -h * p};
    }
}

}  // namespace orb
