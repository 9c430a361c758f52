#include "OrbLib2/OrbClasses/qlOrbCastShadow.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbPackage/qlOrbImageStandIn.h"

namespace orb {

namespace {

// Shadow sizes above this percentage blur no further.
constexpr double kMaxShadowSize = 100;

uint8_t OpacityByte(float percent) {
    if (!std::isfinite(percent)) return 0;
    return uint8_t(std::lround(std::clamp(percent, 0.0f, 100.0f) * 2.55f));
}

}  // namespace

TCastShadowSource BoxShadowSource(int32_t width, int32_t height) {
    TCastShadowSource source;
    source.Params.PictureKey = u"N\\A";
    source.Params.ObjectRect = {0, 0, std::max(width, 0), std::max(height, 0)};
    return source;
}

void TCastShadow::Prepare(TOrbSlideHost* host, TDeviceDrawer& drawer, const TObjectShadow& keys,
                          const TCastShadowSource* given) {
    std::u16string name;
    TCastShadowSource source;
    if (host && keys.Enabled && given) {
        source = *given;
        TShadowParams& p = source.Params;
        const ql::TRect& rect = p.ObjectRect;
        if (rect.Width() > 0 && rect.Height() > 0) {
            // The blur follows the object's size, so that a shadow looks the
            // same whatever resolution its picture has.
            const double size = std::clamp(double(keys.Size), 0.0, kMaxShadowSize);
            p.BlurSize = float(std::sqrt(double(rect.Width()) * rect.Height()) * size / 400 * 1.1);
            p.MarginX = p.MarginY = 0;  // the blur makes room for itself
            p.Colour =
                uint32_t(keys.Colour[0]) << 16 | uint32_t(keys.Colour[1]) << 8 | keys.Colour[2];
            // The shadow's opacity is applied when it is drawn, so that
            // shadows differing only in it share one picture.
            p.Opacity = 100;
            p.SpreadIndex = keys.SpreadIndex;
            name = orb::ShadowPictureName(p);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_drawer = &drawer;
        if (name.empty()) {
            Drop(&drawer);
            return;
        }
        if (m_slot && m_slot->Name == name && m_slot->Is3D == keys.Is3D) {
            m_slot->Source = source;
            m_slot->Shadow->Prepare(drawer);
            return;
        }
    }
    // Made (or found in the image cache) unlocked: the drawing goes on with
    // the shadow before.
    auto slot = std::make_unique<TSlot>();
    slot->Image = host->Accessor().OpenImage(name);
    ql::TRef<ql::TBitmapStore> store = slot->Image ? slot->Image->BitmapStore() : nullptr;
    if (!store || !PlaceholderTextOf(*store).empty()) {
        std::lock_guard<std::mutex> lock(m_lock);
        Drop(&drawer);
        return;
    }
    slot->Source = source;
    slot->Name = name;
    slot->Is3D = keys.Is3D;
    slot->Shadow = std::make_unique<TShadow>(store, source.Params, false, 1.0f, keys.Is3D);
    slot->Shadow->Prepare(drawer);
    std::lock_guard<std::mutex> lock(m_lock);
    Drop(&drawer);
    m_slot = std::move(slot);
}

void TCastShadow::Drop(TDeviceDrawer* drawer) {
    if (!m_slot) return;
    if (drawer && m_slot->Shadow) m_slot->Shadow->Release(*drawer);
    m_slot.reset();
}

void TCastShadow::Release(TDeviceDrawer* drawer) {
    std::lock_guard<std::mutex> lock(m_lock);
    Drop(drawer ? drawer : m_drawer);
}

void TCastShadow::Draw(TDeviceDrawer& drawer, const TObjectShadow& keys, float opacity,
                       ql::TPointF objectSize, const TScenePlane& plane, const TCamera3D& camera) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_slot || !m_slot->Shadow) return;
    const float shadowOpacity =
        std::isfinite(keys.Opacity) ? std::clamp(keys.Opacity, 0.0f, 100.0f) : 0;
    const uint8_t alpha = OpacityByte(opacity * shadowOpacity / 100);
    if (alpha == 0) return;
    const TCastShadowSource& source = m_slot->Source;
    TScenePlane shadowPlane = plane;
    shadowPlane.origin = plane.At(source.Origin.x, source.Origin.y);
    auto scaled = [](const TPoint3F& p, float f) { return TPoint3F{p.x * f, p.y * f, p.z * f}; };
    shadowPlane.axisX = scaled(plane.axisX, source.UnitsPerPixel.x);
    shadowPlane.axisY = scaled(plane.axisY, source.UnitsPerPixel.y);
    const ql::TRect& rect = source.Params.ObjectRect;
    const TPointF size{float(rect.Width()), float(rect.Height())};
    // The offset goes by the object's box, not by the part its picture covers.
    const double covered =
        double(size.x) * source.UnitsPerPixel.x * size.y * source.UnitsPerPixel.y;
    const double scale =
        covered > 0 ? std::sqrt(double(objectSize.x) * objectSize.y / covered) : 1.0;
    const float distance = float(keys.Distance * (std::isfinite(scale) ? scale : 1.0));
    m_slot->Shadow->Draw3D(drawer, size, alpha, float(keys.Angle), distance, shadowPlane, camera);
}

std::u16string TCastShadow::Name() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_slot ? m_slot->Name : std::u16string();
}

ql::TRef<ql::TBitmapStore> TCastShadow::Store() const {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_slot || !m_slot->Shadow) return nullptr;
    return m_slot->Shadow->DrawPicture().store;
}

}  // namespace orb
