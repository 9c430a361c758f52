#include "OrbLib2/3DEngine/qlTriangler2.h"

#include "QlLib/qpExceptions.h"

namespace orb {

namespace {

[[noreturn]] void NotSupported() { throw ql::TCommonException("Not Supported Yet"); }

}  // namespace

void TMultiTile::AddStrip(std::span<const TEffVertex>) { NotSupported(); }
void TMultiTile::AddFan(std::span<const TEffVertex>) { NotSupported(); }
void TMultiTile::AddMesh(std::span<const TMeshVertex>) { NotSupported(); }
void TMultiTile::FillMesh(std::span<const TMeshVertex>) { NotSupported(); }

void AddQuad(TMultiTile& sink, const TEffVertex& a, const TEffVertex& b, const TEffVertex& c, const TEffVertex& d) {
    const TEffVertex triangles[6] = {a, b, c, a, c, d};
    sink.AddTriangles(triangles);
}

}  // namespace orb
