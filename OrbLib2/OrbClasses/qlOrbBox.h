// Boxes: filled rectangles, solid or with a two-colour gradient, with smooth
// edges and a soft shadow when asked. A "frame" block is a box under another
// name.
//
// Gradients run between the box's own sides: "HGradient" from Color1 on the
// right to Color2 on the left, "VGradient" from Color1 on top to Color2 at
// the bottom, "TLBRGradient" from Color1 at the top-left corner to Color2 at
// the bottom-right one, "TRBLGradient" from the top-right to the bottom-left.
// The drawer's fill numbers turn by one corner per number, so no choice puts
// Color1 both on the left of a horizontal gradient and on top of a vertical
// one; slide backgrounds use the same two fills.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "OrbLib2/OrbClasses/qlOrbCastShadow.h"
#include "OrbLib2/OrbClasses/qlOrbObjects4.h"

namespace orb {

enum class TBoxFillMode : uint8_t { Solid, HGradient, VGradient, TLBRGradient, TRBLGradient };

// The exact key text ("Solid", "HGradient", ...); anything else is Solid.
TBoxFillMode ParseBoxFillMode(std::u16string_view text);
std::u16string_view BoxFillModeName(TBoxFillMode mode);
// The drawer's fill type for a fill mode (8, 6, 5, 0, 1).
int32_t DrawerFillType(TBoxFillMode mode);

class TOrbBox : public TOrbObject {
public:
    // type: the block type, "box" or "frame".
    TOrbBox(TOrbObject* parent, std::u16string guid, std::u16string type = u"box");
    // Gives the shadow's textures back to the drawer that prepared them.
    ~TOrbBox() override;

    const std::u16string& BlockType() const { return m_type; }
    TBoxFillMode FillMode() const { return m_fillMode; }
    // 0xAARRGGBB: the colour keys with their alphas.
    uint32_t Colour1() const { return m_colour1; }
    uint32_t Colour2() const { return m_colour2; }
    bool Antialiased() const { return m_antialiased; }

    // What the drawer gets now: the fill, the colours, smooth edges on all
    // four sides when antialiased, and the effective opacity.
    TBoxParams FillParams() const;
    // The shadow picture cast now; empty when none.
    std::u16string ShadowPictureName() const { return m_castShadow.Name(); }

    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override;
    void Prepare(TDeviceDrawer& drawer) override;
    void Draw(TDeviceDrawer& drawer) override;
    // A box of no size covers nothing.
    bool HitTest(float x, float y, TPointF* local) const override;

private:
    std::u16string m_type;
    TBoxFillMode m_fillMode = TBoxFillMode::Solid;
    uint32_t m_colour1 = 0xFF000000u, m_colour2 = 0xFF000000u;
    bool m_antialiased = false;
    TCastShadow m_castShadow;
    TDeviceDrawer* m_drawer = nullptr;  // the drawer that holds the shadow's textures
};

class TOrbFrame : public TOrbBox {
public:
    TOrbFrame(TOrbObject* parent, std::u16string guid)
        : TOrbBox(parent, std::move(guid), u"frame") {}
};

}  // namespace orb
