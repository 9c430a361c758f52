#include "OrbLib2/3DEngine/TileBitmap.h"

#include <algorithm>
#include <cstring>

#include "QlLib/qpExceptions.h"

namespace orb {

TTileBitmap::TTileBitmap(const ql::TBitmap* source, std::unique_ptr<ql::TBitmap> owned, int32_t columns,
                         int32_t rows, const ql::TRect& rect)
    : m_source(owned ? owned.get() : source), m_owned(std::move(owned)), m_rect(rect) {
    QL_ASSERT(m_source != nullptr, "Tile bitmap without source");
    QL_ASSERT(m_source->PixelFormat() == ql::PfARGB32(), "Tile bitmap source must be A8R8G8B8");
    QL_ASSERT(!rect.IsEmpty() && rect.left >= 0 && rect.top >= 0 && rect.right <= m_source->Width() &&
                  rect.bottom <= m_source->Height(),
              "Tile bitmap rectangle outside its source");
    // More cells than pixels would leave empty cells.
    m_columns = std::clamp(columns, 1, rect.Width());
    m_rows = std::clamp(rows, 1, rect.Height());
    m_cellWidth = rect.Width() / m_columns;
    m_cellHeight = rect.Height() / m_rows;
    const bool single = m_columns == 1 && m_rows == 1;
    m_width = rect.Width() + (single ? 0 : 2 * m_columns);
    m_height = rect.Height() + (single ? 0 : 2 * m_rows);
}

int32_t TTileBitmap::SourceCoord(int32_t v, int32_t cells, int32_t cellSize, int32_t start, int32_t length) const {
    if (m_columns == 1 && m_rows == 1) return start + v;
    const int32_t stride = cellSize + 2;
    const int32_t cell = std::min(v / stride, cells - 1);
    const int32_t size = cell == cells - 1 ? length - cell * cellSize : cellSize;
    const int32_t inside = std::clamp(v - cell * stride - 1, 0, size - 1);
    return start + cell * cellSize + inside;
}

void TTileBitmap::CopyRow(int32_t x, int32_t y, int32_t n, uint32_t* out) const {
    const int32_t sy = SourceCoord(y, m_rows, m_cellHeight, m_rect.top, m_rect.Height());
    const uint8_t* row = m_source->Row(sy);
    if (m_columns == 1 && m_rows == 1) {
        std::memcpy(out, row + size_t(m_rect.left + x) * 4, size_t(n) * 4);
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        const int32_t sx = SourceCoord(x + i, m_columns, m_cellWidth, m_rect.left, m_rect.Width());
        std::memcpy(out + i, row + size_t(sx) * 4, 4);
    }
}

}  // namespace orb
