// The effect factory and the effects whose pictures move or turn: the clock
// hand, the brooms, the page roll, the flip and the swap, and the hook
// through which the show model supplies effects of the custom class.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "OrbLib2/3DEngine/qlDrawFilter2.h"
#include "OrbLib2/3DEngine/qlDrawManager2.h"

namespace orb {

// The hand of the clock: it sweeps clockwise from twelve o'clock around the
// centre. Design: the covered part is the sector from angle 0 to the hand,
// a fan of thin triangles (at most 2 pi / 128 each) reaching past the
// farthest corner. Behind the hand lies the soft edge, an angular band of
// width delta = soft edge / (half the shorter side), so that it is about the
// soft-edge width at mid-distance; opacity follows the opacity curve across
// it. Near the end the band narrows to 2 pi - angle, so at the full turn the
// whole rectangle is covered without a last-frame jump. Every triangle shares
// the centre and its outer corners with its neighbours: no cracks.
class TArrow {
public:
    TArrow(const ql::TRect& rect, float softEdge, TPointF centre);
    // Emits the covered sector for the hand at angle (radians, 0 to 2 pi).
    void Emit(TMultiTile& sink, double angle, bool mirrored) const;
    double SoftAngle() const { return m_softAngle; }

private:
    ql::TRect m_rect;
    TPointF m_centre;
    double m_radius;
    double m_softAngle;
};

class TClockEffect : public TDrawFilter {
public:
    explicit TClockEffect(bool mirrored) : m_mirrored(mirrored) {}
    void DrawEffect(TEffectTarget& target) override;

private:
    bool m_mirrored;
    std::unique_ptr<TArrow> m_arrow;
};

// A broom: a soft front that sweeps the rectangle in one of eight directions
// (1 up, 2 right, 3 down, 4 left, 5 up-right, 6 down-right, 7 down-left,
// 8 up-left). Design: the front is bowed, its middle leading its ends by the
// offset along a half sine across the rectangle; behind it lies the soft band
// (the opacity curve over the soft-edge width). Start p0 puts the whole front
// before the rectangle, end p1 puts the band's back past it.
class TBroom {
public:
    TBroom(const ql::TRect& rect, int32_t direction, float softEdge, float offset);
    double P0() const { return m_p0; }
    double P1() const { return m_p1; }
    void Emit(TMultiTile& sink, double position) const;

private:
    TEffVertex At(double a, double b, double opacity) const;
    double m_nx, m_ny;  // direction of travel
    double m_aMin, m_aMax, m_bMin, m_bMax;
    float m_softEdge, m_offset;
    double m_p0, m_p1;
};

class TBroomEffect : public TDrawFilter {
public:
    explicit TBroomEffect(int32_t direction) : m_direction(direction) {}
    // Builds the broom for the rectangle (once: the rectangle stays).
    void Start(const ql::TRect& filterRect, float softEdge, float duration) override;
    void DrawEffect(TEffectTarget& target) override;
    double Position() const;

private:
    int32_t m_direction;
    std::unique_ptr<TBroom> m_broom;
};

// The page roll. Design: the slide drawn through the effect unrolls like a
// carpet in the direction of travel (class 14: types 1 to 4 towards the
// right, left, bottom, top; class 15: the four diagonals). Along the travel
// axis a, the carpet lies flat up to the contact line c and is wound beyond
// it on a roll of radius rho whose axis stands over c. Seen from above, the
// roll shows its top half: the material at arc phi (pi/2 to 3 pi/2 from the
// contact) lies at a = c + rho sin phi and shows the slide at c + rho phi,
// limited by the material left. So the flat part meets the roll without a
// seam, the roll thins away to nothing as the material runs out, and c runs
// from one radius before the rectangle (nothing visible) to its far side
// (all flat). The rectangle is split at c (the flat part) and at c + rho (the
// roll's front). Roll3D shades the roll by its normal, RollCurving deepens
// that shading, RollUseBackColor shows the back of the page in RollBackColor,
// RollVariants lets the roll thin as it unwinds.
class TRollEffect2 : public TDrawFilter {
public:
    TRollEffect2(int32_t effectClass, int32_t type);
    void Start(const ql::TRect& filterRect, float softEdge, float duration) override;
    void DrawEffect(TEffectTarget& target) override;
    // The contact line along the travel axis.
    double Contact() const;

private:
    TEffVertex At(double a, double b, double opacity) const;
    double m_nx = 1, m_ny = 0;
    double m_aMin = 0, m_aMax = 0, m_bMin = 0, m_bMax = 0;
    double m_radius = 0;
};

// The flip: the picture turns over about an axis, seen in perspective from
// in front of the output's centre. Design: types 1 and 2 turn about a
// vertical axis, 3 and 4 about a horizontal one; without FlipCenter the axis
// is an edge (1 left, 2 right, 3 top, 4 bottom) and the picture swings away
// like a door, the new one swinging back from behind; with FlipCenter (types
// 5 to 8) the axis is the centre line and the picture turns like a card, the
// new one being its back (2 and 4 turn the other way). The angle runs from 0
// to pi/2 on the old picture in the first half and from -pi/2 to 0 on the new
// one in the second, so both halves meet edge-on. FlipSmooth eases the angle
// in and out, FlipCurving bows the picture away from the viewer (most at the
// half-way point, none at the ends); the picture darkens as it turns.
class TOverturnEffect : public TDrawFilter {
public:
    explicit TOverturnEffect(int32_t type);
    void DrawEffect(TEffectTarget& target) override;
    // The turning angle at the current time (radians, -pi/2 to pi/2).
    double Angle() const;

private:
    bool m_centre;
    bool m_vertical;  // turns about a vertical axis
    int32_t m_side;
};

// The swap: the two pictures pass each other like cards shuffled. Design:
// with e = sin(pi p) and S the larger side, the old picture moves aside by
// 0.55 x SwapWidth x S x e (type 1 left, 2 right, 3 up, 4 down), back to depth
// 1.4 x SwapDepth x S x p,
// and turns about its own centre line by SwapMaxAngle x e; the new picture
// does the mirror of it from depth 1.4 x SwapDepth x S x (1 - p). At p = 0 the
// old picture lies in place in front of the new, at p = 1 the new one.
class TTwoSlidesEffect : public TDrawFilter {
public:
    explicit TTwoSlidesEffect(int32_t type) : m_type4(type) {}
    void DrawEffect(TEffectTarget& target) override { DrawSlide(target, true); }
    // Draws the old or the new picture, which the sink's texture holds.
    void DrawSlide(TEffectTarget& target, bool newSlide);

private:
    int32_t m_type4;
};

// Makes an effect of the custom class (18) for a slide's transition, or
// nullptr; the custom text and the parameters are in params.
using TCustomEffectFactory = std::function<std::unique_ptr<TSlideEffFilter>(
    const TTransitionFilter& slide, const ql::TRect& output, const TEffectParams& params)>;
// Set once by the show model; an empty factory removes it.
void SetCustomEffectFactory(TCustomEffectFactory factory);

// The effect for class and type, started on output with the soft edge and
// duration; nullptr for class 0 and below (no transition). Unknown classes
// and types, and the custom class without a factory, give a cross-fade.
std::unique_ptr<TDrawFilter> CreateEffect(const ql::TRect& output, int32_t effectClass, int32_t effectType,
                                          const TTransitionFilter* slide, const TEffectParams& params,
                                          double duration);

}  // namespace orb
