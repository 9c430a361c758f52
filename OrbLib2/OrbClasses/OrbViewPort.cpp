#include "OrbLib2/OrbClasses/OrbViewPort.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbPackage/qlOrbImageStandIn.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlScopeExit.h"

namespace orb {

namespace {

uint8_t OpacityByte(float percent) {
    if (!std::isfinite(percent)) return 0;
    return uint8_t(std::lround(std::clamp(percent, 0.0f, 100.0f) * 2.55f));
}

// An attachment reaching the same view port again deeper than this is a
// loop, not a tree: it stops there.
constexpr int32_t kMaxAttachDepth = 2;

}  // namespace

// --- TOrbMask --------------------------------------------------------------------

TOrbMask::TOrbMask(TOrbObject* parent, std::u16string guid)
    : TOrbImage(parent, std::move(guid), u"mask") {
    m_antialiased = false;
}

TOrbViewPort* TOrbMask::ViewPort() const {
    return dynamic_cast<TOrbViewPort*>(Parent());
}

float TOrbMask::MaskOpacity() const {
    const TOrbViewPort* viewPort = ViewPort();
    const double own = EffectiveOpacity();
    const double outer = viewPort ? viewPort->EffectiveOpacity() : 100.0;
    const double opacity = own * outer / 100.0;
    return std::isfinite(opacity) ? float(std::clamp(opacity, 0.0, 100.0)) : 0.0f;
}

void TOrbMask::LoadFromDocument(const ql::TIniIdentList& section, bool reload) {
    TOrbImage::LoadFromDocument(section, reload);
    m_antialiased = false;
    m_animation = TImageAnimationParams();
    m_animationFromPicture = false;
    m_shadow.Enabled = false;
}

std::u16string TOrbMask::PictureName() const {
    return m_imageName.empty() ? std::u16string() : MaskPictureName(m_imageName);
}

void TOrbMask::DrawMask(TDeviceDrawer& drawer, uint8_t opacity) {
    if (!m_drawer) m_drawer = &drawer;
    if (!IsShown() || opacity == 0) return;
    std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
    TPictureSlot* slot = m_current ? m_current.get() : m_previous.get();
    // A missing picture's stand-in would show its text: it contributes nothing.
    if (!slot || !slot->Picture.store || !PlaceholderTextOf(*slot->Picture.store).empty()) return;
    const float b = m_geometry.InnerOffset;
    const TScenePlane plane = Plane();
    TScenePlane inner = plane;
    inner.origin = plane.At(b, b);
    DrawPicture(drawer, *slot, inner, Camera(), opacity);
}

// --- TOrbViewPort ----------------------------------------------------------------

TOrbViewPort::TOrbViewPort(TOrbObject* parent, std::u16string guid)
    : TOrbObject(parent, std::move(guid)) {
    SetSize(1, 1);
}

void TOrbViewPort::LoadFromDocument(const ql::TIniIdentList& section, bool reload) {
    TOrbObject::LoadFromDocument(section, reload);
    const std::optional<ql::TPoint> size = ReadIntegerPair(section, u"Size");
    SetSize(size ? size->x : 1, size ? size->y : 1);
    RebuildMasks();
}

void TOrbViewPort::RebuildMasks() {
    m_masks.clear();
    for (int i = 0; i < ChildCount(); ++i)
        if (auto* mask = dynamic_cast<TOrbMask*>(&Child(i))) m_masks.push_back(mask);
}

void TOrbViewPort::AttachDrawer(TDeviceDrawer& drawer) {
    if (m_attachDepth >= kMaxAttachDepth) return;
    // The counter comes back on every path, a failing child's included.
    ql::TScopedValue<int32_t> depth(m_attachDepth, m_attachDepth + 1);
    RebuildMasks();
    if (m_attachDepth == 1) {
        TOrbObject::AttachDrawer(drawer);
        return;
    }
    for (auto& child : m_children)
        if (!dynamic_cast<TOrbMask*>(child.get())) child->AttachDrawer(drawer);
    ClearChanged(false);
}

bool TOrbViewPort::DrawsNow() const {
    if (!Active() || !(EffectiveOpacity() > 0) || !ShownFromCamera() || HiddenByParent())
        return false;
    return std::any_of(m_masks.begin(), m_masks.end(),
                       [](const TOrbMask* mask) { return mask->MaskVisible(); });
}

bool TOrbViewPort::UpdatePlacement(bool recursive) {
    const bool changed = TOrbObject::UpdatePlacement(recursive);
    if (TOrbSlide* slide = Slide(); slide && DrawsNow()) slide->NoteMaskedContent();
    return changed;
}

void TOrbViewPort::Draw(TDeviceDrawer& drawer) {
    // The list is taken afresh from the children: a reload since the last
    // attachment may have replaced them, and a stale entry is skipped, never
    // followed.
    RebuildMasks();
    if (!DrawsNow()) {
        for (auto& child : m_children) child->ClearChanged(true);
        return;
    }
    drawer.DrawMaskedScene(
        [&] {
            for (auto& child : m_children)
                if (!dynamic_cast<TOrbMask*>(child.get())) child->Draw(drawer);
        },
        [&] {
            for (TOrbMask* mask : m_masks)
                if (mask->MaskVisible()) mask->DrawMask(drawer, OpacityByte(mask->MaskOpacity()));
        });
    for (TOrbMask* mask : m_masks) mask->ClearChanged(false);
}

}  // namespace orb
