#include "QlLib/VectorGraphics/qlRasterizer.h"

#include <algorithm>
#include <cmath>

namespace ql {

int32_t ToSubPixel(double value) {
    if (std::isnan(value)) return 0;
    const double scaled = std::round(value * 16.0);
    if (scaled >= 2147483647.0) return INT32_MAX;
    if (scaled <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(scaled);
}

// ---- TOutline ----

void TOutline::Reset() {
    m_edges.clear();
    m_open = false;
    m_sorted = true;
}

void TOutline::AddEdge(int32_t xa, int32_t ya, int32_t xb, int32_t yb) {
    if (ya == yb) return;  // horizontal edges cross no sub-scan-line centre
    TOutlineEdge edge;
    const bool down = yb > ya;
    const int64_t xu = down ? xa : xb, yu = down ? ya : yb;
    const int64_t xl = down ? xb : xa, yl = down ? yb : ya;
    edge.x0 = static_cast<int32_t>(xu);
    edge.y0 = static_cast<int32_t>(yu);
    edge.x = edge.x0;
    edge.height = yl - yu;
    edge.slope = static_cast<double>(xl - xu) / static_cast<double>(yl - yu);
    edge.direction = down ? -1 : 1;
    m_edges.push_back(edge);
    m_sorted = false;
}

void TOutline::MoveTo(TPointF p) {
    Close();
    m_startX = m_lastX = ToSubPixel(p.x);
    m_startY = m_lastY = ToSubPixel(p.y);
    m_open = true;
}

void TOutline::AddPoint(TPointF p) {
    QL_ASSERT(m_open, "TOutline.AddPoint Error: No Start Point or Closed Outline");
    const int32_t x = ToSubPixel(p.x), y = ToSubPixel(p.y);
    AddEdge(m_lastX, m_lastY, x, y);
    m_lastX = x;
    m_lastY = y;
}

void TOutline::Close() {
    if (!m_open) return;
    AddEdge(m_lastX, m_lastY, m_startX, m_startY);
    m_open = false;
}

void TOutline::SortEdges() {
    if (m_sorted) return;
    std::stable_sort(m_edges.begin(), m_edges.end(),
                     [](const TOutlineEdge& a, const TOutlineEdge& b) { return a.y0 < b.y0; });
    m_sorted = true;
}

// ---- TRasterizer ----

// Adds the sub-pixels [from, to) of the current sub-scan-line, clipped to
// [0, limit), to the coverage row.
void TRasterizer::AddSpan(int64_t from, int64_t to, int64_t limit) {
    from = std::max<int64_t>(from, 0);
    to = std::min(to, limit);
    if (to <= from) return;
    const int32_t s = static_cast<int32_t>(from), e = static_cast<int32_t>(to - 1);
    const int32_t p0 = s >> 4, p1 = e >> 4;
    uint16_t* row = m_coverage.data();
    if (p0 == p1) {
        row[p0] = static_cast<uint16_t>(row[p0] + (e - s + 1));
    } else {
        row[p0] = static_cast<uint16_t>(row[p0] + (16 - (s & 15)));
        for (int32_t p = p0 + 1; p < p1; ++p) row[p] = static_cast<uint16_t>(row[p] + 16);
        row[p1] = static_cast<uint16_t>(row[p1] + ((e & 15) + 1));
    }
    m_first = std::min(m_first, p0);
    m_last = std::max(m_last, p1);
}

void TRasterizer::Fill(TOutline& outline, int32_t width, int32_t height) {
    outline.Close();
    outline.SortEdges();
    std::vector<TOutlineEdge>& edges = outline.Edges();
    if (edges.empty() || width <= 0 || height <= 0) return;

    m_coverage.assign(size_t(width), 0);
    m_active.clear();
    m_first = width;
    m_last = -1;
    const int64_t limit = int64_t(width) * 16;
    const int64_t end = int64_t(height) * 16;
    size_t next = 0;
    int64_t row = -1;

    auto deliver = [&] {
        if (m_last >= m_first) {
            if (outline.RowHandler)
                outline.RowHandler(static_cast<int32_t>(row), m_coverage.data(), m_first, m_last);
            std::fill(m_coverage.begin() + m_first, m_coverage.begin() + m_last + 1, uint16_t(0));
        }
        m_first = width;
        m_last = -1;
    };

    int64_t j = std::max<int64_t>(0, edges[0].y0);
    while (j < end) {
        // Nothing active: jump to the next edge's first sub-scan-line.
        if (m_active.empty()) {
            if (next >= edges.size()) break;
            j = std::max<int64_t>(j, edges[next].y0);
            if (j >= end) break;
        }
        if ((j >> 4) != row) {
            deliver();
            row = j >> 4;
        }
        size_t added = 0;
        while (next < edges.size() && edges[next].y0 <= j) {
            m_active.push_back(static_cast<int32_t>(next++));
            ++added;
        }
        // Drop the edges that end above this sub-scan-line and move the others.
        size_t kept = 0;
        for (int32_t index : m_active) {
            TOutlineEdge& edge = edges[size_t(index)];
            const int64_t along = j - edge.y0;
            if (along >= edge.height) continue;
            double x = std::round((double(along) + 0.5) * edge.slope) + double(edge.x0);
            x = std::clamp(x, -1073741824.0, 1073741824.0);
            edge.x = static_cast<int32_t>(x);
            m_active[kept++] = index;
        }
        m_active.resize(kept);
        auto byX = [&](int32_t a, int32_t b) { return edges[size_t(a)].x < edges[size_t(b)].x; };
        if (added <= 10) {
            // The list was sorted on the previous line and edges move little:
            // an insertion pass is nearly linear.
            for (size_t i = 1; i < m_active.size(); ++i) {
                const int32_t item = m_active[i];
                size_t k = i;
                while (k > 0 && byX(item, m_active[k - 1])) {
                    m_active[k] = m_active[k - 1];
                    --k;
                }
                m_active[k] = item;
            }
        } else {
            std::stable_sort(m_active.begin(), m_active.end(), byX);
        }

        int32_t winding = 0;
        int64_t previousX = 0;
        for (int32_t index : m_active) {
            const TOutlineEdge& edge = edges[size_t(index)];
            const bool inside = outline.EvenOdd ? (winding & 1) != 0 : winding != 0;
            if (inside) AddSpan(previousX, edge.x, limit);
            winding += edge.direction;
            previousX = edge.x;
        }
        ++j;
    }
    deliver();
}

}  // namespace ql
