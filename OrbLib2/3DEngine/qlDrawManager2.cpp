#include "OrbLib2/3DEngine/qlDrawManager2.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/3DEngine/qlDrawFilter2.h"

namespace orb {

TTransitionFilter::TTransitionFilter() = default;
TTransitionFilter::~TTransitionFilter() = default;
TTransitionFilter::TTransitionFilter(const TTransitionFilter&) {}
TTransitionFilter& TTransitionFilter::operator=(const TTransitionFilter& other) {
    if (this != &other) m_effectObject.reset();
    return *this;
}

const TEffectParams& TTransitionFilter::Params() const {
    static const TEffectParams none;
    return none;
}

void TTransitionFilter::SetEffectObject(std::unique_ptr<TDrawFilter> effect) {
    m_effectObject = std::move(effect);
}

namespace {

uint32_t MidColour(uint32_t a, uint32_t b) {
    uint32_t out = 0;
    for (int32_t shift = 0; shift < 32; shift += 8)
        out |= ((((a >> shift) & 0xFFu) + ((b >> shift) & 0xFFu)) / 2) << shift;
    return out;
}

uint32_t ScaleAlpha(uint32_t colour, int32_t percent) {
    if (percent >= 100) return colour;
    const uint32_t alpha = uint32_t(std::lround(double(colour >> 24) * percent / 100.0));
    return (colour & 0x00FFFFFFu) | alpha << 24;
}

}  // namespace

void BoxCornerColours(const TBoxParams& params, uint32_t (&corners)[4]) {
    // Show data may say more than 100 percent: the colours' own alpha is the most.
    const int32_t opacity = std::clamp(params.opacity, 0, 100);
    const uint32_t c1 = ScaleAlpha(params.colour1, opacity),
                   c2 = ScaleAlpha(params.colour2, opacity);
    uint32_t base[4];
    int32_t type = params.fillType;
    if (type >= 0 && type <= 3) {
        const uint32_t mid = MidColour(c1, c2);
        base[0] = c1, base[1] = mid, base[2] = c2, base[3] = mid;
    } else if (type >= 4 && type <= 7) {
        base[0] = c1, base[1] = c1, base[2] = c2, base[3] = c2;
        // Type 4 starts at the bottom-left corner, so that type 5 (a box's
        // "VGradient") has colour 1 along the top and type 6 ("HGradient")
        // along the right: the turn between the types leaves no start that
        // puts colour 1 both on top and on the left.
        type = (type - 4 + 3) % 4;
    } else {
        // An unknown fill type is drawn solid.
        base[0] = base[1] = base[2] = base[3] = c1;
        type = 0;
    }
    for (int32_t i = 0; i < 4; ++i) corners[(i + type) % 4] = base[i];
}

TProjected ProjectHomogeneous(const TCamera3D& camera, const TPoint3F& p) {
    // With d = z - cz the screen point is (x cz - cx z) / (cz - z) for x; the
    // common factor 1 / -cz makes w = 1 on the picture plane.
    const float inv = camera.z < 0 ? -1.0f / camera.z : 1.0f;
    return {p.x + camera.x * p.z * inv, p.y + camera.y * p.z * inv, 1.0f + p.z * inv};
}

namespace {

// The parallelogram through the projected origin and the ends of the two
// axes scaled by (width, height); false when any of them is not in front.
bool FlattenPlane(const TScenePlane& plane, const TCamera3D& camera, float width, float height,
                  TPointF& origin, TPointF& axisX, TPointF& axisY) {
    if (plane.IsFlat()) {
        origin = {plane.origin.x, plane.origin.y};
        axisX = {plane.axisX.x, plane.axisX.y};
        axisY = {plane.axisY.x, plane.axisY.y};
        return true;
    }
    const TProjected o = ProjectHomogeneous(camera, plane.origin);
    const TProjected x = ProjectHomogeneous(camera, plane.At(width, 0));
    const TProjected y = ProjectHomogeneous(camera, plane.At(0, height));
    constexpr float kNear = 1e-3f;
    if (o.w < kNear || x.w < kNear || y.w < kNear || !(width > 0) || !(height > 0)) return false;
    origin = {o.x / o.w, o.y / o.w};
    axisX = {(x.x / x.w - origin.x) / width, (x.y / x.w - origin.y) / width};
    axisY = {(y.x / y.w - origin.x) / height, (y.y / y.w - origin.y) / height};
    return true;
}

}  // namespace

void TDeviceDrawer::DrawImage3D(TDrawPicture& picture, const TImageDrawParams& params,
                                const TScenePlane& plane, const TCamera3D& camera) {
    float width = float(params.source.Width()), height = float(params.source.Height());
    if (params.source.IsEmpty() && picture.store) {
        width = float(picture.store->Width()) / float(std::max(params.columns, 1));
        height = float(picture.store->Height()) / float(std::max(params.rows, 1));
    }
    TPointF origin, axisX, axisY;
    if (!FlattenPlane(plane, camera, width, height, origin, axisX, axisY)) return;
    DrawImage(picture, origin, params, axisX, axisY, {0, 0});
}

void TDeviceDrawer::DrawBox3D(TPointF size, const TBoxParams& params, const TScenePlane& plane,
                              const TCamera3D& camera) {
    TPointF origin, axisX, axisY;
    if (!FlattenPlane(plane, camera, size.x, size.y, origin, axisX, axisY)) return;
    DrawBox(origin, size, params, axisX, axisY);
}

ql::TRect GrowRect(const ql::TRect& rect, int32_t dx, int32_t dy) {
    return {rect.left - dx, rect.top - dy, rect.right + dx + 1, rect.bottom + dy + 1};
}

}  // namespace orb
