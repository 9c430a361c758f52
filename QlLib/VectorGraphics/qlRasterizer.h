// The scan-line rasterizer: polygons in 1/16 pixel, 16 x 16 samples per pixel,
// delivered one pixel row of coverage counters at a time (256 = fully inside).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "QlLib/Graphics/qlAffineDraw.h"

namespace ql {

// Coverage of one pixel row: counters for pixels first..last (inclusive) of
// the row; the counters outside that span are 0.
using TCoverageRowHandler =
    std::function<void(int32_t y, const uint16_t* coverage, int32_t first, int32_t last)>;

struct TOutlineEdge {
    int32_t x0 = 0, y0 = 0;  // the upper end, 1/16 pixel
    int32_t x = 0;           // at the current sub-scan-line
    int64_t height = 0;      // sub-scan-lines covered
    double slope = 0;        // dx / dy
    int32_t direction = 0;   // -1 going down, +1 going up
};

// Pixel coordinate to 1/16 pixel, rounded; NaN gives 0, values beyond the
// 32-bit range saturate.
int32_t ToSubPixel(double value);

// A set of closed contours. Contours are closed implicitly by the next MoveTo
// and by Close.
class TOutline {
public:
    void Reset();
    void MoveTo(TPointF p);
    // Asserts when no contour is open.
    void AddPoint(TPointF p);
    // Adds the closing edge of the open contour (if any).
    void Close();
    // Sorts the edges by their upper y, as the rasterizer needs them.
    void SortEdges();

    bool EvenOdd = false;  // clear: non-zero winding
    TCoverageRowHandler RowHandler;

    const std::vector<TOutlineEdge>& Edges() const { return m_edges; }
    std::vector<TOutlineEdge>& Edges() { return m_edges; }

private:
    void AddEdge(int32_t xa, int32_t ya, int32_t xb, int32_t yb);

    std::vector<TOutlineEdge> m_edges;
    bool m_open = false;
    bool m_sorted = true;
    int32_t m_startX = 0, m_startY = 0, m_lastX = 0, m_lastY = 0;
};

class TRasterizer {
public:
    // Closes and rasterizes the outline over a width x height target, handing
    // every touched pixel row to the outline's row handler, top to bottom.
    void Fill(TOutline& outline, int32_t width, int32_t height);

private:
    void AddSpan(int64_t from, int64_t to, int64_t limit);

    std::vector<int32_t> m_active;  // indexes into the outline's edges
    std::vector<uint16_t> m_coverage;
    int32_t m_first = 0, m_last = -1;
};

}  // namespace ql
