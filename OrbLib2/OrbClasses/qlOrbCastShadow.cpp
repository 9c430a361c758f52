#include "OrbLib2/OrbClasses/qlOrbCastShadow.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/OrbClasses/qlOrbImageGeometry.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
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

TShadowView ShadowViewOf(const TOrbObject& object) {
    TShadowView view;
    const TOrbSlideHost* host = object.Host();
    const double scale = host ? host->DisplayScale() : 1.0;
    if (const TOrbSlide* slide = object.Slide())
        view.Screen = {ScaledRequiredSide(slide->Width(), scale),
                       ScaledRequiredSide(slide->Height(), scale)};
    const float width = float(object.Width()), height = float(object.Height());
    const float requiredW = object.RequiredWidth(), requiredH = object.RequiredHeight();
    if (!(width > 0) || !(height > 0) || !(requiredW > 0) || !(requiredH > 0)) return view;
    const ql::TPointF shown{float(requiredW * scale / width), float(requiredH * scale / height)};
    if (std::isfinite(shown.x) && std::isfinite(shown.y)) view.ShownScale = shown;
    return view;
}

int32_t CastShadowLevel(const TCastShadowSource& source, const TShadowView& view) {
    const ql::TRect& rect = source.Params.ObjectRect;
    if (rect.Width() <= 0 || rect.Height() <= 0 || view.Screen.x <= 0 || view.Screen.y <= 0)
        return 0;
    // A shadow of at most eight screens' worth of pixels is drawn from its
    // full size, as it always was; a larger one is halved until it is that
    // small at most.
    const ql::TPoint whole = ShadowPictureSize(source.Params);
    const int64_t most = 8 * int64_t(view.Screen.x) * view.Screen.y;
    int32_t fit = 0;
    for (ql::TPoint size = whole; int64_t(size.x) * size.y > most && (size.x > 1 || size.y > 1);
         ++fit)
        size = ql::MipLevelSize(size.x, size.y, 1);
    if (fit == 0) return 0;
    if (!(view.ShownScale.x > 0) || !(view.ShownScale.y > 0)) return fit;
    // One pixel of the shadow's level 0 spans 2^shadowHalvings pixels of its object
    // rectangle.
    const int32_t shadowHalvings = ShadowHalvingsOf(source.Params);
    const ql::TPoint made{std::max(1, rect.Width() >> shadowHalvings),
                          std::max(1, rect.Height() >> shadowHalvings)};
    const double shownW = double(rect.Width()) * source.UnitsPerPixel.x * view.ShownScale.x;
    const double shownH = double(rect.Height()) * source.UnitsPerPixel.y * view.ShownScale.y;
    if (!std::isfinite(shownW) || !std::isfinite(shownH)) return fit;
    return std::max(fit, LevelOfDetail(made.x, made.y, ScaledRequiredSide(shownW, 1),
                                       ScaledRequiredSide(shownH, 1)));
}

void TCastShadow::Prepare(TOrbSlideHost* host, TDeviceDrawer& drawer, const TObjectShadow& keys,
                          const TCastShadowSource* given, const TShadowView& view) {
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
    const int32_t level = name.empty() ? 0 : CastShadowLevel(source, view);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_drawer = &drawer;
        if (name.empty()) {
            Drop(&drawer);
            return;
        }
        if (m_slot && m_slot->Name == name && m_slot->Is3D == keys.Is3D &&
            m_slot->Shadow->Level() == level) {
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
    // The level is made here, before the drawer's lock is taken: a frame
    // being drawn meanwhile does not wait for it.
    TImageDrawParams params;
    params.level = level;
    drawer.DecodeImage(*store, params);
    slot->Shadow = std::make_unique<TShadow>(store, source.Params, false, 1.0f, keys.Is3D);
    slot->Shadow->SetLevel(level);
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
