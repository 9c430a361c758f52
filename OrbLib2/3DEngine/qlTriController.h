// The sink that draws effect triangles on the screen: it maps them from the
// effect's rectangle to the target rectangle, cuts them along the lines of
// the target's grid of cells (each cell has a texture of its own) and draws
// each cell's pieces with that cell's texture.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "OrbLib2/3DEngine/Dev3DApp2.h"
#include "OrbLib2/3DEngine/qlTriangler2.h"

namespace orb {

// A corner while triangles are cut: homogeneous position, texture position
// and straight-alpha colour channels 0 to 255.
struct TCutVertex {
    float x = 0, y = 0, w = 1;
    float s = 0, t = 0;
    float r = 255, g = 255, b = 255, a = 255;
};

// Cuts convex polygons along one line, x = position or y = position on the
// screen (x / w, y / w), keeping one side. Cutting in homogeneous terms keeps
// texture positions right for pictures seen in perspective, and two
// neighbours cut along the same line get the same new corners: no cracks.
class T2DSeparator {
public:
    static constexpr int32_t kMaxCorners = 16;
    T2DSeparator(bool vertical, float position, bool keepGreater)
        : m_vertical(vertical), m_position(position), m_keepGreater(keepGreater) {}
    // The kept part of in[0, count) into out; its number of corners (0 when
    // nothing is kept). out holds kMaxCorners; count must leave room for one more.
    int32_t Cut(const TCutVertex* in, int32_t count, TCutVertex* out) const;

private:
    float Side(const TCutVertex& v) const;
    bool m_vertical;
    float m_position;
    bool m_keepGreater;
};

// One cell of the grid: its rectangle on the output and the texture that
// holds the slide there (texel (0, 0) shows output point origin).
struct TD3DTriTile {
    ql::TRect rect;
    TCustomTexture* texture = nullptr;
    ql::TPoint origin;
};

class TEffController : public TMultiTile, public TEffectTarget {
public:
    explicit TEffController(T3DScreen& screen) : m_screen(screen) {}

    // Effect coordinates in filter are drawn in target (output pixels).
    void SetMapping(const ql::TRect& filter, const ql::TRect& target);
    // The grid: cut lines inside the target at these x and y (output pixels),
    // cells numbered row by row. One cell, the whole target, without cuts.
    void SetGrid(std::span<const int32_t> xCuts, std::span<const int32_t> yCuts);
    int32_t CellCount() const { return int32_t(m_cells.size()); }
    // Every cell shows texture, whose texel (0, 0) shows output point origin.
    void SetTexture(TCustomTexture* texture, ql::TPoint origin = {0, 0});
    void SetCellTexture(int32_t cell, TCustomTexture* texture, ql::TPoint origin);

    void Begin() override;
    void AddTriangles(std::span<const TEffVertex> vertices) override;
    void End() override;
    void AddStrip(std::span<const TEffVertex> vertices) override;
    void AddFan(std::span<const TEffVertex> vertices) override;
    void AddMesh(std::span<const TMeshVertex> vertices) override;
    void FillMesh(std::span<const TMeshVertex> vertices) override;

    TMultiTile& Sink() override { return *this; }
    ql::TRect TargetRect() const override { return m_target; }
    // Triangles drawn by the last End, after cutting (for tests).
    int32_t DrawnTriangles() const { return m_drawn; }

private:
    enum class TBatchKind : uint8_t { Shape, Mesh, Fill };
    struct TBatch {
        TBatchKind kind;
        size_t first;  // into m_corners, whole triangles
        size_t count;
    };
    void Append(TBatchKind kind, const TCutVertex& v);
    TCutVertex Map(float x, float y, float w, float s, float t) const;
    void DrawCell(const TD3DTriTile& cell);

    T3DScreen& m_screen;
    ql::TRect m_filter;
    ql::TRect m_target;
    float m_scaleX = 1, m_scaleY = 1;
    std::vector<TD3DTriTile> m_cells;
    std::vector<TCutVertex> m_corners;  // kept between frames: no allocation per frame
    std::vector<TBatch> m_batches;
    std::vector<TVertex> m_out;
    bool m_open = false;
    int32_t m_drawn = 0;
};

}  // namespace orb
