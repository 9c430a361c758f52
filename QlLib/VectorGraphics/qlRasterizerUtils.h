// Painting filled paths into an "A8R8G8B8" picture through the rasterizer:
// path walking with Bezier flattening, stroked polylines, point transforms and
// a linear gradient.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/VectorGraphics/qlRasterizer.h"

namespace ql {

// Path point types: a quadratic's control point is followed by its end point,
// a cubic's two control points by theirs.
enum : int32_t { ptMoveTo = 0, ptLineTo = 1, ptQuadTo = 2, ptCubicTo = 3, ptClose = 9 };

struct TPathPoint {
    float x = 0, y = 0;
    int32_t type = ptMoveTo;
    friend bool operator==(const TPathPoint&, const TPathPoint&) = default;
};
using TPath = std::vector<TPathPoint>;

// The point transform of a 2 x 3 matrix: (x, y) -> (m11 x + m21 y + dx, m12 x + m22 y + dy).
struct TMatrix2x3 {
    float m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
    TPointF Apply(TPointF p) const { return {m11 * p.x + m21 * p.y + dx, m12 * p.x + m22 * p.y + dy}; }
};

// Colours run from c0 at p0 to c1 at p1 and stay at the end colours beyond.
struct TLinearGradient {
    TPointF p0, p1;
    uint32_t c0 = 0, c1 = 0;
    uint32_t ColourAt(float x, float y) const;
};

// Blends an 0xAARRGGBB colour over one "A8R8G8B8" pixel (bytes B, G, R, A).
void BlendPixel(uint8_t* pixel, uint32_t colour);

class TRasterHelper {
public:
    TRasterHelper();
    ~TRasterHelper();

    // Creates the target filled with the colour; asserts on an empty size or
    // when a painting is still open.
    void BeginPaint(int32_t width, int32_t height, uint32_t background);
    // Hands the picture over; asserts when no painting is open.
    std::unique_ptr<TBitmap> EndPaint();
    bool Painting() const { return m_target != nullptr; }
    TBitmap* Target() const { return m_target.get(); }

    void SetColour(uint32_t colour) { m_colour = colour; }
    uint32_t Colour() const { return m_colour; }
    void SetGradient(std::optional<TLinearGradient> gradient) { m_gradient = gradient; }

    void SetIdentity() { m_transform = nullptr; }
    void SetMatrix(const TMatrix2x3& matrix) {
        m_transform = [matrix](TPointF p) { return matrix.Apply(p); };
    }
    void SetTransform(std::function<TPointF(TPointF)> transform) { m_transform = std::move(transform); }

    // Above 0.0001 paths and polylines are stroked with this width instead of filled.
    void SetStrokeWidth(float width) { m_strokeWidth = width; }

    // Needs at least 2 points (fewer paint nothing). Points go through the transform.
    void FillPolygon(const TPointF* points, int32_t count, bool evenOdd = false);
    // Raises EVectorPathError ("Unknown Path Command") on a type outside the
    // five; a curve that lacks its points ends the contour there.
    void FillPath(const TPath& path, bool evenOdd = false);

private:
    TPointF Map(TPointF p) const { return m_transform ? m_transform(p) : p; }
    void AddPathToOutline(const TPath& path);
    void StrokePolyline(const std::vector<TPointF>& points, bool closed);
    void FillOutline();
    void PaintRow(int32_t y, const uint16_t* coverage, int32_t first, int32_t last);

    std::unique_ptr<TBitmap> m_target;
    uint32_t m_colour = 0xFF000000;
    std::optional<TLinearGradient> m_gradient;
    std::function<TPointF(TPointF)> m_transform;
    float m_strokeWidth = 0;
    TOutline m_outline;
    TRasterizer m_rasterizer;
    std::vector<std::vector<TPointF>> m_polylines;  // flattened contours when stroking
};

QL_COMMON_EXCEPTION(EVectorPathError, TCommonException);

// The path's points moved through a mapping, with their types kept.
TPath TransformPath(const TPath& path, const std::function<TPointF(TPointF)>& mapping);

}  // namespace ql
