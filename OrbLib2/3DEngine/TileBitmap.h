// A read-only view of a picture cut into a grid of cells, each shown with a
// one-pixel border of its own outermost pixels, so that every cell can be
// sampled with filtering independently of its neighbours.
#pragma once

#include <cstdint>
#include <memory>

#include "QlLib/Graphics/qlBitmap.h"

namespace orb {

class TTileBitmap {
public:
    // The source must be "A8R8G8B8" and outlive the view unless owned; rect
    // lies inside it and is not empty. With one column and one row the view is
    // the rectangle itself, without borders. The last column and row of cells
    // take what the division leaves over.
    TTileBitmap(const ql::TBitmap* source, std::unique_ptr<ql::TBitmap> owned, int32_t columns, int32_t rows,
                const ql::TRect& rect);

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    int32_t Columns() const { return m_columns; }
    int32_t Rows() const { return m_rows; }
    const ql::TBitmap& Source() const { return *m_source; }

    // Copies n pixels of view row y from column x (all inside the view).
    void CopyRow(int32_t x, int32_t y, int32_t n, uint32_t* out) const;
    // One cell without borders: view pixels are the source's, row by row.
    bool Uncut() const { return m_columns == 1 && m_rows == 1; }
    // The source's memory of view pixel (x, y) of an uncut view (inside it).
    const uint8_t* PixelsAt(int32_t x, int32_t y) const {
        return m_source->Row(m_rect.top + y) + size_t(m_rect.left + x) * 4;
    }

private:
    // The source coordinate shown at view coordinate v along one axis.
    int32_t SourceCoord(int32_t v, int32_t cells, int32_t cellSize, int32_t start, int32_t length) const;

    const ql::TBitmap* m_source;
    std::unique_ptr<ql::TBitmap> m_owned;
    int32_t m_columns, m_rows;
    ql::TRect m_rect;
    int32_t m_cellWidth, m_cellHeight;
    int32_t m_width, m_height;
};

}  // namespace orb
