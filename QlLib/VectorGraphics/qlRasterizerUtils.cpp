#include "QlLib/VectorGraphics/qlRasterizerUtils.h"

#include <algorithm>
#include <cmath>

namespace ql {

namespace {

// Curves are split until the middle of each piece strays less than 2/16 of a
// pixel from its chord; the depth bound keeps wild points from splitting forever.
constexpr float kFlatness = 2.0f / 16.0f;
constexpr int kMaxDepth = 10;

uint32_t Lerp8(uint32_t a, uint32_t b, float t) {
    return static_cast<uint32_t>(std::lround(float(a) + (float(b) - float(a)) * t)) & 0xFF;
}

void FlattenQuad(std::vector<TPointF>& out, TPointF p0, TPointF p1, TPointF p2, int depth) {
    const float dx = std::fabs(p0.x - 2 * p1.x + p2.x) / 4, dy = std::fabs(p0.y - 2 * p1.y + p2.y) / 4;
    if (depth >= kMaxDepth || (dx < kFlatness && dy < kFlatness)) {
        out.push_back(p2);
        return;
    }
    const TPointF a{(p0.x + p1.x) / 2, (p0.y + p1.y) / 2}, b{(p1.x + p2.x) / 2, (p1.y + p2.y) / 2};
    const TPointF m{(a.x + b.x) / 2, (a.y + b.y) / 2};
    FlattenQuad(out, p0, a, m, depth + 1);
    FlattenQuad(out, m, b, p2, depth + 1);
}

void FlattenCubic(std::vector<TPointF>& out, TPointF p0, TPointF p1, TPointF p2, TPointF p3, int depth) {
    const float dx = std::max(std::fabs(p0.x - 2 * p1.x + p2.x), std::fabs(p1.x - 2 * p2.x + p3.x)) * 0.75f;
    const float dy = std::max(std::fabs(p0.y - 2 * p1.y + p2.y), std::fabs(p1.y - 2 * p2.y + p3.y)) * 0.75f;
    if (depth >= kMaxDepth || (dx < kFlatness && dy < kFlatness)) {
        out.push_back(p3);
        return;
    }
    auto mid = [](TPointF u, TPointF v) { return TPointF{(u.x + v.x) / 2, (u.y + v.y) / 2}; };
    const TPointF a = mid(p0, p1), b = mid(p1, p2), c = mid(p2, p3);
    const TPointF ab = mid(a, b), bc = mid(b, c), m = mid(ab, bc);
    FlattenCubic(out, p0, a, ab, m, depth + 1);
    FlattenCubic(out, m, bc, c, p3, depth + 1);
}

}  // namespace

uint32_t TLinearGradient::ColourAt(float x, float y) const {
    const float vx = p1.x - p0.x, vy = p1.y - p0.y;
    const float length2 = vx * vx + vy * vy;
    float t = length2 > 0 ? ((x - p0.x) * vx + (y - p0.y) * vy) / length2 : 0;
    if (!(t > 0)) t = 0;
    if (t > 1) t = 1;
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8)
        result |= Lerp8((c0 >> shift) & 0xFF, (c1 >> shift) & 0xFF, t) << shift;
    return result;
}

void BlendPixel(uint8_t* pixel, uint32_t colour) {
    const uint32_t sa = colour >> 24;
    if (sa == 0) return;
    const uint32_t sr = (colour >> 16) & 0xFF, sg = (colour >> 8) & 0xFF, sb = colour & 0xFF;
    if (sa == 255) {
        pixel[0] = uint8_t(sb);
        pixel[1] = uint8_t(sg);
        pixel[2] = uint8_t(sr);
        pixel[3] = 255;
        return;
    }
    // Source over destination with straight (not premultiplied) alpha.
    const uint32_t da = pixel[3];
    const uint32_t dw = (da * (255 - sa) + 127) / 255;  // destination's share
    const uint32_t oa = sa + dw;
    auto mix = [&](uint32_t s, uint32_t d) { return uint8_t((s * sa + d * dw + oa / 2) / oa); };
    pixel[0] = mix(sb, pixel[0]);
    pixel[1] = mix(sg, pixel[1]);
    pixel[2] = mix(sr, pixel[2]);
    pixel[3] = uint8_t(oa);
}

TPath TransformPath(const TPath& path, const std::function<TPointF(TPointF)>& mapping) {
    TPath result = path;
    for (TPathPoint& p : result) {
        const TPointF q = mapping({p.x, p.y});
        p.x = q.x;
        p.y = q.y;
    }
    return result;
}

TRasterHelper::TRasterHelper() {
    m_outline.RowHandler = [this](int32_t y, const uint16_t* coverage, int32_t first, int32_t last) {
        PaintRow(y, coverage, first, last);
    };
}

TRasterHelper::~TRasterHelper() = default;

void TRasterHelper::BeginPaint(int32_t width, int32_t height, uint32_t background) {
    QL_ASSERT(width > 0 && height > 0, "TRasterHelper.BeginPaint: W or H = 0");
    QL_ASSERT(!m_target, "Previous TRasterHelper.BeginPaint not Closed");
    m_target = std::make_unique<TDirectBitmap>(width, height, PfARGB32());
    m_target->FillRect(m_target->Bounds(), background);
}

std::unique_ptr<TBitmap> TRasterHelper::EndPaint() {
    QL_ASSERT(m_target, "No Previous Call of TRasterHelper.BeginPaint");
    return std::move(m_target);
}

void TRasterHelper::PaintRow(int32_t y, const uint16_t* coverage, int32_t first, int32_t last) {
    uint8_t* row = m_target->Row(y);
    for (int32_t x = first; x <= last; ++x) {
        const uint32_t c = coverage[x];
        if (c == 0) continue;
        uint32_t colour = m_gradient ? m_gradient->ColourAt(float(x) + 0.5f, float(y) + 0.5f) : m_colour;
        if (c < 256) colour = (colour & 0x00FFFFFF) | (((c * (colour >> 24)) >> 8) << 24);
        BlendPixel(row + size_t(x) * 4, colour);
    }
}

void TRasterHelper::FillOutline() {
    QL_ASSERT(m_target, "No Previous Call of TRasterHelper.BeginPaint");
    m_rasterizer.Fill(m_outline, m_target->Width(), m_target->Height());
    m_outline.Reset();
}

void TRasterHelper::StrokePolyline(const std::vector<TPointF>& points, bool closed) {
    const size_t count = points.size();
    const size_t segments = closed ? count : count - 1;
    for (size_t i = 0; count >= 2 && i < segments; ++i) {
        const TPointF a = points[i], b = points[(i + 1) % count];
        const float dx = b.x - a.x, dy = b.y - a.y;
        const float length = std::sqrt(dx * dx + dy * dy);
        if (!(length > 0)) continue;
        // Each segment becomes a band of the stroke width around it; all bands
        // turn the same way, so the non-zero rule joins them.
        const float nx = -dy / length * m_strokeWidth / 2, ny = dx / length * m_strokeWidth / 2;
        m_outline.MoveTo({a.x + nx, a.y + ny});
        m_outline.AddPoint({b.x + nx, b.y + ny});
        m_outline.AddPoint({b.x - nx, b.y - ny});
        m_outline.AddPoint({a.x - nx, a.y - ny});
    }
}

void TRasterHelper::FillPolygon(const TPointF* points, int32_t count, bool evenOdd) {
    if (count < 2) return;
    std::vector<TPointF> mapped(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) mapped[size_t(i)] = Map(points[i]);
    m_outline.Reset();
    m_outline.EvenOdd = m_strokeWidth > 0.0001f ? false : evenOdd;
    if (m_strokeWidth > 0.0001f) {
        StrokePolyline(mapped, false);
    } else {
        m_outline.MoveTo(mapped[0]);
        for (size_t i = 1; i < mapped.size(); ++i) m_outline.AddPoint(mapped[i]);
    }
    FillOutline();
}

void TRasterHelper::AddPathToOutline(const TPath& path) {
    const bool stroking = m_strokeWidth > 0.0001f;
    std::vector<TPointF> contour;
    bool closed = false;
    auto finish = [&] {
        if (contour.size() >= 2) {
            if (stroking) {
                StrokePolyline(contour, closed);
            } else {
                m_outline.MoveTo(contour[0]);
                for (size_t i = 1; i < contour.size(); ++i) m_outline.AddPoint(contour[i]);
                m_outline.Close();
            }
        }
        contour.clear();
        closed = false;
    };
    const size_t n = path.size();
    for (size_t i = 0; i < n; ++i) {
        const TPathPoint& p = path[i];
        const TPointF q = Map({p.x, p.y});
        switch (p.type) {
            case ptMoveTo:
                finish();
                contour.push_back(q);
                break;
            case ptLineTo:
                // A path that starts without a move starts its contour here.
                contour.push_back(q);
                break;
            case ptQuadTo: {
                if (i + 1 >= n) {
                    finish();
                    return;
                }
                if (contour.empty()) contour.push_back(q);
                const TPointF end = Map({path[i + 1].x, path[i + 1].y});
                FlattenQuad(contour, contour.back(), q, end, 0);
                i += 1;
                break;
            }
            case ptCubicTo: {
                if (i + 2 >= n) {
                    finish();
                    return;
                }
                if (contour.empty()) contour.push_back(q);
                const TPointF c2 = Map({path[i + 1].x, path[i + 1].y});
                const TPointF end = Map({path[i + 2].x, path[i + 2].y});
                FlattenCubic(contour, contour.back(), q, c2, end, 0);
                i += 2;
                break;
            }
            case ptClose:
                closed = true;
                finish();
                break;
            default:
                throw EVectorPathError("Unknown Path Command");
        }
    }
    finish();
}

void TRasterHelper::FillPath(const TPath& path, bool evenOdd) {
    QL_ASSERT(m_target, "No Previous Call of TRasterHelper.BeginPaint");
    m_outline.Reset();
    m_outline.EvenOdd = m_strokeWidth > 0.0001f ? false : evenOdd;
    try {
        AddPathToOutline(path);
    } catch (...) {
        m_outline.Reset();
        throw;
    }
    FillOutline();
}

}  // namespace ql
