// The triangle sink of the transition effects: effects describe what they
// draw as triangles in the coordinates of their output rectangle, and the
// sink draws the rendered slide through them. Shape effects give each vertex
// an opacity and take the texture from the vertex position; effects that move
// the picture give texture positions of their own, and may be homogeneous
// (w) so that turning pictures are seen in perspective.
#pragma once

#include <cstdint>
#include <span>

#include "QlLib/Graphics/qlBitmap.h"

namespace orb {

// A corner of a shape triangle: position in filter-rectangle pixels and the
// opacity of the drawn slide there, 0 to 255.
struct TEffVertex {
    float x = 0, y = 0;
    float opacity = 255;
};

// A corner of a moved picture: the homogeneous position (the point is
// (x / w, y / w)), the slide pixel shown there (filter-rectangle pixels, not
// divided by w) and a straight-alpha 0xAARRGGBB tint.
struct TMeshVertex {
    float x = 0, y = 0, w = 1;
    float s = 0, t = 0;
    uint32_t colour = 0xFFFFFFFFu;
};

// Receives triangles between Begin and End. The base knows only the shape
// triangles; the other operations belong to sinks that can draw them and
// raise "Not Supported Yet" here.
class TMultiTile {
public:
    virtual ~TMultiTile() = default;
    virtual void Begin() = 0;
    // Whole triangles, three vertices each; a partial last one is ignored.
    virtual void AddTriangles(std::span<const TEffVertex> vertices) = 0;
    // Draws what was added since Begin.
    virtual void End() = 0;

    // A strip: every vertex after the second closes a triangle.
    virtual void AddStrip(std::span<const TEffVertex> vertices);
    // A fan around the first vertex.
    virtual void AddFan(std::span<const TEffVertex> vertices);
    // Triangles of the slide picture with their own texture positions.
    virtual void AddMesh(std::span<const TMeshVertex> vertices);
    // Triangles in the vertex colour alone (s and t unused).
    virtual void FillMesh(std::span<const TMeshVertex> vertices);
};

// Adds the quad a, b, c, d (in order around it) as two triangles.
void AddQuad(TMultiTile& sink, const TEffVertex& a, const TEffVertex& b, const TEffVertex& c, const TEffVertex& d);

// What an effect draws on: its sink, and where the rendered slide lies on the
// output (the target rectangle) against the effect's own rectangle.
class TEffectTarget {
public:
    virtual ~TEffectTarget() = default;
    virtual TMultiTile& Sink() = 0;
    virtual ql::TRect TargetRect() const = 0;
};

}  // namespace orb
