// The transition effects that grow a shape over the output with a soft edge,
// the cross-fade, the mosaic, push and slide-in, and the base of effects that
// draw with both slides. Each effect draws from its time alone (seeking may
// move it backwards); only the mosaic's thresholds are fixed at Start.
#pragma once

#include <cstdint>
#include <vector>

#include "OrbLib2/3DEngine/Dev3DExt2.h"
#include "OrbLib2/3DEngine/qlOrbEffectParams.h"
#include "OrbLib2/3DEngine/qlTriangler2.h"
#include "QlLib/Graphics/qlBitmap.h"

namespace orb {

class TDeviceDrawer;

// The opacity curve of soft edges: 15 points x_i = i 255 / 14 and
// y_i = S(x_i), S a smooth step from 0 to 255.
struct TOpacityCurve {
    static constexpr int32_t kPoints = 15;
    static double S(double x);
    static double X(int32_t i);
    static double Y(int32_t i);
};

class TDrawFilter {
public:
    virtual ~TDrawFilter() = default;

    virtual void Start(const ql::TRect& filterRect, float softEdge, float duration);
    // t clamped to [0, duration].
    virtual void SetTime(float t);
    virtual void DrawEffect(TEffectTarget& target) = 0;

    const ql::TRect& FilterRect() const { return m_filterRect; }
    float SoftEdge() const { return m_softEdge; }
    float Duration() const { return m_duration; }
    double InvDuration() const { return m_invDuration; }
    float Time() const { return m_time; }
    // t / d, 0 when d is 0.
    double Progress() const { return m_time * m_invDuration; }
    // The new slide lies underneath and the old one is drawn through the effect.
    bool Reverse() const { return m_reverse; }
    void SetReverse(bool reverse) { m_reverse = reverse; }
    // The rendered slide's last column and row are repeated one pixel outward.
    bool EdgeExtend() const { return m_edgeExtend; }
    int32_t EffectClass() const { return m_class; }
    int32_t EffectType() const { return m_type; }
    void SetIdentity(int32_t effectClass, int32_t effectType) {
        m_class = effectClass;
        m_type = effectType;
    }
    const TEffectParams& Params() const { return m_params; }
    void SetParams(const TEffectParams& params) { m_params = params; }

protected:
    ql::TRect m_filterRect;
    float m_softEdge = 0;
    float m_duration = 0;
    double m_invDuration = 0;
    float m_time = 0;
    bool m_reverse = false;
    bool m_edgeExtend = false;
    int32_t m_class = 0;
    int32_t m_type = 0;
    TEffectParams m_params;
};

// Shapes that grow from a centre; subclasses give the reach and the band
// between two distances from the centre.
class TCommonFilter : public TDrawFilter {
public:
    TCommonFilter(double cx, double cy) : m_cx(cx), m_cy(cy) {}
    void Start(const ql::TRect& filterRect, float softEdge, float duration) override;
    void DrawEffect(TEffectTarget& target) override;
    double Reach() const { return m_reach; }
    double CentreX() const { return m_centreX; }
    double CentreY() const { return m_centreY; }
    // The edge distance at the current time.
    double EdgeDistance() const;

protected:
    // Sets m_reach: the farthest the edge must travel, plus the soft edge.
    virtual void ComputeReach() = 0;
    virtual void DrawBand(TMultiTile& sink, double innerOpacity, double outerOpacity, double inner,
                          double outer) = 0;
    // The solid part and the soft rings for outer distance a and inner b.
    void DrawShape(TMultiTile& sink, double a, double b);

    double m_cx, m_cy;
    double m_centreX = 0, m_centreY = 0;
    double m_reach = 0;
};

class TCircleFilter : public TCommonFilter {
public:
    using TCommonFilter::TCommonFilter;
    // Centre to rectangle distance (0 inside).
    double Gap() const { return m_gap; }
    int32_t Segments() const { return m_gap > 0 ? 256 : 128; }

protected:
    void ComputeReach() override;
    void DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) override;
    double m_gap = 0;
};

class TRhombFilter : public TCommonFilter {
public:
    TRhombFilter() : TCommonFilter(0.5, 0.5) {}

protected:
    void ComputeReach() override;
    void DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) override;
};

class TSquareFilter : public TCommonFilter {
public:
    TSquareFilter() : TCommonFilter(0.5, 0.5) {}

protected:
    void ComputeReach() override;
    void DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) override;
};

// Vertical strips opening sideways from the line x = centre.
class THLines : public TCommonFilter {
public:
    using TCommonFilter::TCommonFilter;

protected:
    void ComputeReach() override;
    void DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) override;
};

// Horizontal strips opening up and down from the line y = centre.
class TVLines : public TCommonFilter {
public:
    using TCommonFilter::TCommonFilter;

protected:
    void ComputeReach() override;
    void DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) override;
};

// Strips beside a 45-degree base line; mode 0 right of it (line through the
// top-left corner), 1 both sides (the middle diagonal), 2 left of it (line
// through the opposite corner). Distances are horizontal.
class TDiagLines : public TCommonFilter {
public:
    TDiagLines(int32_t mode, bool mirrored)
        : TCommonFilter(0.5, 0.5), m_mode(mode), m_mirrored(mirrored) {}

protected:
    void ComputeReach() override;
    void DrawBand(TMultiTile& sink, double io, double oo, double inner, double outer) override;
    void Strip(TMultiTile& sink, double io, double oo, double inner, double outer, double side);
    int32_t m_mode;
    bool m_mirrored;
};

class TAlphaFilter : public TDrawFilter {
public:
    void DrawEffect(TEffectTarget& target) override;
    // clamp(t 255 / d, 0, 255).
    double Opacity() const;
};

// Cells of a grid fade in, each at its own random moment.
class TRandomFilter : public TDrawFilter {
public:
    static constexpr int32_t kMaxCells = 256;  // per axis
    void Start(const ql::TRect& filterRect, float softEdge, float duration) override;
    void DrawEffect(TEffectTarget& target) override;
    int32_t Columns() const { return m_columns; }
    int32_t Rows() const { return m_rows; }
    double Spread() const { return m_spread; }
    const std::vector<int32_t>& Thresholds() const { return m_thresholds; }
    int32_t Level() const;

private:
    int32_t m_columns = 1, m_rows = 1;
    double m_spread = 0;
    std::vector<int32_t> m_thresholds;  // row by row
};

// The new slide enters from a side (type 1 left, 2 right, 3 top, 4 bottom)
// at full opacity; the old one stays.
class TSlideFilter : public TDrawFilter {
public:
    TSlideFilter() { m_edgeExtend = true; }
    void DrawEffect(TEffectTarget& target) override;
    // How far the entering slide is moved from its place, in target pixels.
    TPointF EnterShift(const ql::TRect& target) const;
};

// As the slide-in, and the old slide leaves on the other side.
class TPushFilter : public TSlideFilter {
public:
    // Where the old slide is drawn, relative to its place.
    TPointF PushOffset(const ql::TRect& filterRect) const;
};

// Effects that draw from both slides rendered into textures: the base of the
// custom class, whose effects come from the show model through the factory
// hook (Dev3DEffects2.h). Each frame the drawer renders the old slide into one
// texture and the new one into another, clears the output to black, sets the
// progress and the output's top-left, and calls DrawTargets, then
// DrawOwnForeground. The effect may draw through the target's sink (effect
// rectangle = the output, origin at its top-left) or with the drawer itself,
// inside the frame; texel (0, 0) of both textures shows the output's top-left
// and either may be nullptr when its slide drew nothing.
class TSlideEffFilter : public TDrawFilter {
public:
    void DrawEffect(TEffectTarget&) override {}
    virtual void DrawTargets(TDeviceDrawer& drawer, TEffectTarget& target, TCustomTexture* first,
                             TCustomTexture* second) = 0;
    // The transition is over (the filter drops the effect after this).
    virtual void Finish() {}
    virtual void DrawOwnForeground(TDeviceDrawer&, TEffectTarget&) {}
    virtual void SetProgress(double progress) { m_progress = progress; }
    virtual void SetCentreOffset(TPointF offset) { m_centreOffset = offset; }

protected:
    double m_progress = 0;
    TPointF m_centreOffset;
};

}  // namespace orb
