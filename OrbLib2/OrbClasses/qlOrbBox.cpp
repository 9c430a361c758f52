#include "OrbLib2/OrbClasses/qlOrbBox.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "QlLib/qlIniStorage.h"

namespace orb {

namespace {

struct TFillModeEntry {
    TBoxFillMode Mode;
    std::u16string_view Name;
    int32_t DrawerType;
};

constexpr std::array<TFillModeEntry, 5> kFillModes{{
    {TBoxFillMode::Solid, u"Solid", kSolidFill},
    {TBoxFillMode::HGradient, u"HGradient", kHorizontalGradientFill},
    {TBoxFillMode::VGradient, u"VGradient", kVerticalGradientFill},
    {TBoxFillMode::TLBRGradient, u"TLBRGradient", kDiagonalFillTLBR},
    {TBoxFillMode::TRBLGradient, u"TRBLGradient", kDiagonalFillTRBL},
}};

const TFillModeEntry& EntryOf(TBoxFillMode mode) {
    for (const TFillModeEntry& entry : kFillModes)
        if (entry.Mode == mode) return entry;
    return kFillModes[0];
}

uint32_t ColourKey(const ql::TIniIdentList& section, std::u16string_view colourKey,
                   std::u16string_view alphaKey) {
    uint8_t rgb[3];
    ReadColour(section, colourKey, rgb);
    // Out-of-range alphas are clamped, never wrapped: 300 is opaque, not 44.
    const uint32_t alpha = uint32_t(std::clamp(section.ReadInteger(alphaKey, 255), 0, 255));
    return alpha << 24 | uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
}

}  // namespace

TBoxFillMode ParseBoxFillMode(std::u16string_view text) {
    for (const TFillModeEntry& entry : kFillModes)
        if (entry.Name == text) return entry.Mode;
    return TBoxFillMode::Solid;
}

std::u16string_view BoxFillModeName(TBoxFillMode mode) {
    return EntryOf(mode).Name;
}

int32_t DrawerFillType(TBoxFillMode mode) {
    return EntryOf(mode).DrawerType;
}

TOrbBox::TOrbBox(TOrbObject* parent, std::u16string guid, std::u16string type)
    : TOrbObject(parent, std::move(guid)), m_type(std::move(type)) {}

TOrbBox::~TOrbBox() {
    m_castShadow.Release(m_drawer);
}

void TOrbBox::LoadFromDocument(const ql::TIniIdentList& section, bool reload) {
    TOrbObject::LoadFromDocument(section, reload);
    const std::optional<ql::TPoint> size = ReadIntegerPair(section, u"Size");
    // Negative sizes become 0: such a box draws nothing and is never hit.
    SetSize(size ? size->x : 0, size ? size->y : 0);
    m_fillMode = ParseBoxFillMode(section.ReadString(u"FillMode", u"Solid"));
    m_colour1 = ColourKey(section, u"Color1", u"Alpha1");
    m_colour2 = ColourKey(section, u"Color2", u"Alpha2");
    m_antialiased = section.ReadBool(u"Antialiased", false);
    m_changed = true;
}

TBoxParams TOrbBox::FillParams() const {
    TBoxParams params;
    params.fillType = DrawerFillType(m_fillMode);
    params.colour1 = m_colour1;
    params.colour2 = m_fillMode == TBoxFillMode::Solid ? m_colour1 : m_colour2;
    const float opacity = EffectiveOpacity();
    params.opacity =
        std::isfinite(opacity) ? int32_t(std::lround(std::clamp(opacity, 0.0f, 100.0f))) : 0;
    params.edgeFlags = m_antialiased ? uint8_t(efLeft | efTop | efRight | efBottom) : uint8_t(0);
    return params;
}

bool TOrbBox::HitTest(float x, float y, TPointF* local) const {
    return Width() > 0 && Height() > 0 && TOrbObject::HitTest(x, y, local);
}

void TOrbBox::Prepare(TDeviceDrawer& drawer) {
    m_drawer = &drawer;
    // The shadow is made again only when the box's size changes: its name
    // holds the size, and an equal name keeps the picture.
    const TCastShadowSource source = BoxShadowSource(Width(), Height());
    const bool casts = m_shadow.Enabled && Width() > 0 && Height() > 0;
    m_castShadow.Prepare(Host(), drawer, m_shadow, casts ? &source : nullptr, ShadowViewOf(*this));
}

void TOrbBox::Draw(TDeviceDrawer& drawer) {
    if (!m_drawer) m_drawer = &drawer;
    if (IsShown() && Width() > 0 && Height() > 0) {
        const TBoxParams params = FillParams();
        if (params.opacity > 0) {
            const TScenePlane plane = Plane();
            const TCamera3D camera = Camera();
            const TPointF size{float(Width()), float(Height())};
            if (m_shadow.Enabled)
                m_castShadow.Draw(drawer, m_shadow, EffectiveOpacity(), {size.x, size.y}, plane,
                                  camera);
            drawer.DrawBox3D(size, params, plane, camera);
        }
    }
    TOrbObject::Draw(drawer);
}

}  // namespace orb
