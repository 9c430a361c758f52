#include "OrbLib2/3DEngine/Dev3DEffects2.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <vector>

namespace orb {

namespace {

constexpr double kPi = std::numbers::pi;

double Clamp01(double x) { return std::isnan(x) ? 0.0 : std::clamp(x, 0.0, 1.0); }

// A straight-alpha grey of brightness 0..1.
uint32_t Shade(double brightness, uint32_t alpha = 255) {
    const uint32_t c = uint32_t(std::lround(Clamp01(brightness) * 255));
    return alpha << 24 | c << 16 | c << 8 | c;
}

}  // namespace

// ---- TArrow / TClockEffect ----

TArrow::TArrow(const ql::TRect& rect, float softEdge, TPointF centre) : m_rect(rect), m_centre(centre) {
    double far = 0;
    for (double x : {double(rect.left), double(rect.right)})
        for (double y : {double(rect.top), double(rect.bottom)})
            far = std::max(far, std::hypot(x - centre.x, y - centre.y));
    m_radius = far + 2;
    const double half = std::max(1.0, std::min(rect.Width(), rect.Height()) / 2.0);
    m_softAngle = std::clamp(double(softEdge) / half, 0.0, kPi / 2);
}

void TArrow::Emit(TMultiTile& sink, double angle, bool mirrored) const {
    angle = std::clamp(angle, 0.0, 2 * kPi);
    if (angle <= 0) return;
    const double band = std::min(m_softAngle, 2 * kPi - angle);
    const double solidEnd = std::max(0.0, angle - band);
    // Corners along the sweep with the covered opacity at each.
    struct TCorner {
        double angle, opacity;
    };
    TCorner corners[160];
    int32_t n = 0;
    const int32_t solidSteps = int32_t(std::ceil(solidEnd / (2 * kPi / 128)));
    for (int32_t k = 0; k <= solidSteps && solidEnd > 0; ++k) corners[n++] = {solidEnd * k / solidSteps, 255};
    if (band > 0) {
        const double bandStart = angle - band;
        if (n == 0) {
            // The band is cut at twelve o'clock: its opacity there from the curve.
            corners[n++] = {0, 255 - TOpacityCurve::S(255 * (0 - bandStart) / band)};
        }
        for (int32_t i = 1; i < TOpacityCurve::kPoints; ++i) {
            const double a = bandStart + band * TOpacityCurve::X(i) / 255;
            if (a <= corners[n - 1].angle) continue;
            corners[n++] = {a, 255 - TOpacityCurve::Y(i)};
        }
    }
    if (n < 2) return;
    const double grow = 1 / std::cos(kPi / 256);
    auto point = [&](double a, double opacity) {
        float x = float(m_centre.x + m_radius * grow * std::sin(a));
        const float y = float(m_centre.y - m_radius * grow * std::cos(a));
        if (mirrored) x = float(m_rect.left + m_rect.right) - x;
        return TEffVertex{x, y, float(opacity)};
    };
    float cx = m_centre.x;
    if (mirrored) cx = float(m_rect.left + m_rect.right) - cx;
    for (int32_t k = 0; k + 1 < n; ++k) {
        const TEffVertex centre{cx, m_centre.y, float((corners[k].opacity + corners[k + 1].opacity) / 2)};
        const TEffVertex triangle[3] = {centre, point(corners[k].angle, corners[k].opacity),
                                        point(corners[k + 1].angle, corners[k + 1].opacity)};
        sink.AddTriangles(triangle);
    }
}

void TClockEffect::DrawEffect(TEffectTarget& target) {
    if (!m_arrow) {
        const ql::TRect& r = m_filterRect;
        m_arrow = std::make_unique<TArrow>(r, m_softEdge,
                                           TPointF{float(std::lround(r.left + r.Width() * 0.5)),
                                                   float(std::lround(r.top + r.Height() * 0.5))});
    }
    TMultiTile& sink = target.Sink();
    sink.Begin();
    m_arrow->Emit(sink, Progress() * 2 * kPi, m_mirrored);
    sink.End();
}

// ---- TBroom / TBroomEffect ----

TBroom::TBroom(const ql::TRect& rect, int32_t direction, float softEdge, float offset)
    : m_softEdge(std::max(softEdge, 0.0f)), m_offset(std::max(offset, 0.0f)) {
    static constexpr double kDirs[8][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}, {1, -1}, {1, 1}, {-1, 1}, {-1, -1}};
    const int32_t d = std::clamp(direction, 1, 8) - 1;
    const double len = std::hypot(kDirs[d][0], kDirs[d][1]);
    m_nx = kDirs[d][0] / len;
    m_ny = kDirs[d][1] / len;
    m_aMin = m_bMin = 1e30;
    m_aMax = m_bMax = -1e30;
    for (double x : {double(rect.left), double(rect.right)})
        for (double y : {double(rect.top), double(rect.bottom)}) {
            const double a = x * m_nx + y * m_ny, b = -x * m_ny + y * m_nx;
            m_aMin = std::min(m_aMin, a), m_aMax = std::max(m_aMax, a);
            m_bMin = std::min(m_bMin, b), m_bMax = std::max(m_bMax, b);
        }
    m_p0 = m_aMin - m_offset;
    m_p1 = m_aMax + m_softEdge;
}

TEffVertex TBroom::At(double a, double b, double opacity) const {
    return {float(a * m_nx - b * m_ny), float(a * m_ny + b * m_nx), float(opacity)};
}

void TBroom::Emit(TMultiTile& sink, double position) const {
    constexpr int32_t kSegments = 32;
    const double back = m_aMin - 1;
    for (int32_t k = 0; k < kSegments; ++k) {
        const double b0 = m_bMin + (m_bMax - m_bMin) * k / kSegments;
        const double b1 = m_bMin + (m_bMax - m_bMin) * (k + 1) / kSegments;
        const double f0 = position + m_offset * std::sin(kPi * k / kSegments);
        const double f1 = position + m_offset * std::sin(kPi * (k + 1) / kSegments);
        // The solid part, from behind the rectangle to the band's back.
        const double s0 = std::max(f0 - m_softEdge, back), s1 = std::max(f1 - m_softEdge, back);
        if (s0 > back || s1 > back)
            AddQuad(sink, At(back, b0, 255), At(s0, b0, 255), At(s1, b1, 255), At(back, b1, 255));
        if (m_softEdge <= 0) continue;
        for (int32_t i = 1; i < TOpacityCurve::kPoints; ++i) {
            const double x0 = TOpacityCurve::X(i - 1) / 255 * m_softEdge, x1 = TOpacityCurve::X(i) / 255 * m_softEdge;
            const double o0 = 255 - TOpacityCurve::Y(i - 1), o1 = 255 - TOpacityCurve::Y(i);
            const double a00 = f0 - m_softEdge + x0, a01 = f0 - m_softEdge + x1;
            const double a10 = f1 - m_softEdge + x0, a11 = f1 - m_softEdge + x1;
            if (std::max(a01, a11) < m_aMin || std::min(a00, a10) > m_aMax) continue;
            AddQuad(sink, At(a00, b0, o0), At(a01, b0, o1), At(a11, b1, o1), At(a10, b1, o0));
        }
    }
}

double TBroomEffect::Position() const {
    if (!m_broom) return 0;
    double q = Progress();
    if (m_reverse) q = 1 - q;
    return m_broom->P0() + (m_broom->P1() - m_broom->P0()) * q;
}

void TBroomEffect::Start(const ql::TRect& filterRect, float softEdge, float duration) {
    TDrawFilter::Start(filterRect, softEdge, duration);
    m_broom = std::make_unique<TBroom>(m_filterRect, m_direction, m_softEdge, m_params.BroomOffset);
}

void TBroomEffect::DrawEffect(TEffectTarget& target) {
    if (!m_broom) return;
    TMultiTile& sink = target.Sink();
    sink.Begin();
    m_broom->Emit(sink, Position());
    sink.End();
}

// ---- TRollEffect2 ----

TRollEffect2::TRollEffect2(int32_t effectClass, int32_t type) {
    static constexpr double kStraight[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    static constexpr double kDiagonal[4][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};
    const int32_t k = (std::clamp(type, 1, 8) - 1) % 4;
    const double* d = effectClass == 15 ? kDiagonal[k] : kStraight[k];
    const double len = std::hypot(d[0], d[1]);
    m_nx = d[0] / len;
    m_ny = d[1] / len;
    m_reverse = type > 4;
    m_edgeExtend = true;
}

void TRollEffect2::Start(const ql::TRect& filterRect, float softEdge, float duration) {
    TDrawFilter::Start(filterRect, softEdge, duration);
    m_aMin = m_bMin = 1e30;
    m_aMax = m_bMax = -1e30;
    for (double x : {double(filterRect.left), double(filterRect.right)})
        for (double y : {double(filterRect.top), double(filterRect.bottom)}) {
            const double a = x * m_nx + y * m_ny, b = -x * m_ny + y * m_nx;
            m_aMin = std::min(m_aMin, a), m_aMax = std::max(m_aMax, a);
            m_bMin = std::min(m_bMin, b), m_bMax = std::max(m_bMax, b);
        }
    // RollDiameter arrives in pixels; a roll needs some thickness to be seen.
    const double diameter = std::isfinite(m_params.RollDiameter) ? m_params.RollDiameter : 0.0;
    m_radius = std::clamp(diameter / 2, 2.0, std::max(2.0, (m_aMax - m_aMin) / 2));
}

double TRollEffect2::Contact() const {
    double q = Progress();
    if (m_reverse) q = 1 - q;
    const double start = m_aMin - m_radius, end = m_aMax;
    return start + (end - start) * q;
}

TEffVertex TRollEffect2::At(double a, double b, double opacity) const {
    return {float(a * m_nx - b * m_ny), float(a * m_ny + b * m_nx), float(opacity)};
}

void TRollEffect2::DrawEffect(TEffectTarget& target) {
    const double c = Contact();
    TMultiTile& sink = target.Sink();
    sink.Begin();
    const double back = m_aMin - 1;
    if (c > back) AddQuad(sink, At(back, m_bMin, 255), At(c, m_bMin, 255), At(c, m_bMax, 255), At(back, m_bMax, 255));
    const double left = m_aMax - c;  // material still wound
    double radius = m_radius;
    if (m_params.RollVariants)
        radius = m_radius * std::clamp(std::sqrt(std::max(left, 0.0) / std::max(m_aMax - m_aMin, 1.0)), 0.15, 1.0);
    const double phiEnd = std::min(1.5 * kPi, left / radius);
    if (phiEnd > 0.5 * kPi) {
        constexpr int32_t kSegments = 32;
        const double depth = std::clamp(0.45 * (1 + double(m_params.RollCurving)), 0.0, 0.9);
        std::vector<TMeshVertex> mesh;
        mesh.reserve(kSegments * 6);
        const uint32_t back = uint32_t(m_params.RollBackColor.Red) << 16 |
                              uint32_t(m_params.RollBackColor.Green) << 8 | m_params.RollBackColor.Blue;
        auto corner = [&](double phi, double b) {
            const double a = c + radius * std::sin(phi), u = c + radius * phi;
            const TEffVertex p = At(a, b, 255), tex = At(u, b, 255);
            TMeshVertex v;
            v.x = p.x, v.y = p.y, v.s = tex.x, v.t = tex.y;
            // -cos phi is the normal's part towards the viewer.
            const double light = m_params.Roll3D ? 1 - depth * (1 + std::cos(phi)) : 0.85;
            v.colour = Shade(light);
            if (m_params.RollUseBackColor) {
                const uint32_t l = uint32_t(std::lround(Clamp01(light) * 256));
                const uint32_t r = (back >> 16 & 255) * l >> 8, g = (back >> 8 & 255) * l >> 8, bl = (back & 255) * l >> 8;
                v.colour = 0xFF000000u | r << 16 | g << 8 | bl;
            }
            return v;
        };
        for (int32_t k = 0; k < kSegments; ++k) {
            const double p0 = 0.5 * kPi + (phiEnd - 0.5 * kPi) * k / kSegments;
            const double p1 = 0.5 * kPi + (phiEnd - 0.5 * kPi) * (k + 1) / kSegments;
            const TMeshVertex a = corner(p0, m_bMin), b = corner(p1, m_bMin), cc = corner(p1, m_bMax),
                              d = corner(p0, m_bMax);
            for (const TMeshVertex& v : {a, b, cc, a, cc, d}) mesh.push_back(v);
        }
        if (m_params.RollUseBackColor) sink.FillMesh(mesh);
        else sink.AddMesh(mesh);
    }
    sink.End();
}

// ---- TOverturnEffect ----

TOverturnEffect::TOverturnEffect(int32_t type) {
    const int32_t base = (std::clamp(type, 1, 8) - 1) % 4 + 1;
    m_centre = type > 4;
    m_vertical = base <= 2;
    m_side = base;
}

double TOverturnEffect::Angle() const {
    double p = Progress();
    if (m_params.FlipSmooth) p = p * p * (3 - 2 * p);
    // The halves switch where the drawer switches pictures (p = 1/2 is kept).
    return Progress() < 0.5 ? kPi * p : kPi * p - kPi;
}

void TOverturnEffect::DrawEffect(TEffectTarget& target) {
    const ql::TRect& r = m_filterRect;
    const double w = r.Width(), h = r.Height();
    const double theta = Angle();
    const double extent = m_vertical ? w : h;  // across the axis
    // The axis position along the turning direction, and the sense of turn.
    double axis, sense = 1;
    if (m_centre) {
        axis = (m_vertical ? r.left + w / 2 : r.top + h / 2);
        sense = (m_side == 2 || m_side == 4) ? -1 : 1;
    } else {
        const bool far = m_side == 2 || m_side == 4;
        axis = m_vertical ? (far ? r.right : r.left) : (far ? r.bottom : r.top);
    }
    const TCamera3D camera{float(r.left + w / 2), float(r.top + h / 2), float(-2.5 * std::max(w, h))};
    const double bow = double(m_params.FlipCurving) * 0.15 * extent * std::sin(kPi * Progress());
    const double light = 1 - 0.35 * std::abs(std::sin(theta));
    constexpr int32_t kStrips = 24;
    std::vector<TMeshVertex> mesh;
    mesh.reserve(kStrips * 6);
    auto corner = [&](double along, double across) {
        // along: across the axis (moves), across: along the axis (stays).
        const double d = along - axis;
        double z = m_centre ? sense * d * std::sin(theta) : std::abs(d * std::sin(theta));
        const double k = extent > 0 ? (along - (m_vertical ? r.left : r.top)) / extent : 0;
        z += bow * 4 * k * (1 - k);
        const double moved = axis + d * std::cos(theta);
        const TPoint3F point = m_vertical ? TPoint3F{float(moved), float(across), float(z)}
                                          : TPoint3F{float(across), float(moved), float(z)};
        const TProjected p = ProjectHomogeneous(camera, point);
        TMeshVertex v;
        v.x = p.x, v.y = p.y, v.w = p.w;
        v.s = float(m_vertical ? along : across);
        v.t = float(m_vertical ? across : along);
        v.colour = Shade(light);
        return v;
    };
    const double a0 = m_vertical ? r.left : r.top, a1 = m_vertical ? r.right : r.bottom;
    const double c0 = m_vertical ? r.top : r.left, c1 = m_vertical ? r.bottom : r.right;
    for (int32_t k = 0; k < kStrips; ++k) {
        const double p0 = a0 + (a1 - a0) * k / kStrips, p1 = a0 + (a1 - a0) * (k + 1) / kStrips;
        const TMeshVertex a = corner(p0, c0), b = corner(p1, c0), c = corner(p1, c1), d = corner(p0, c1);
        for (const TMeshVertex& v : {a, b, c, a, c, d}) mesh.push_back(v);
    }
    TMultiTile& sink = target.Sink();
    sink.Begin();
    sink.AddMesh(mesh);
    sink.End();
}

// ---- TTwoSlidesEffect ----

void TTwoSlidesEffect::DrawSlide(TEffectTarget& target, bool newSlide) {
    const ql::TRect& r = m_filterRect;
    const double w = r.Width(), h = r.Height(), p = Progress();
    // At depth 4 and width 1 the two pictures stand side by side half-way,
    // clear of each other (the drawing order changes there) and both seen whole.
    const double depthFactor = (m_params.SwapDepth > 0 ? std::min(double(m_params.SwapDepth), 16.0) : 4.0) * 1.4;
    const double widthFactor = (m_params.SwapWidth > 0 ? std::min(double(m_params.SwapWidth), 3.0) : 1.0) * 0.55;
    const double maxAngle = std::isfinite(m_params.SwapMaxAngle) ? std::clamp(double(m_params.SwapMaxAngle), -1.4, 1.4)
                                                                 : 0.0;
    const double e = std::sin(kPi * p);
    static constexpr double kDirs[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    const double* dir = kDirs[std::clamp(m_type4, 1, 4) - 1];
    const double sign = newSlide ? -1 : 1;
    const double shift = sign * widthFactor * std::max(w, h) * e;
    const double depth = depthFactor * std::max(w, h) * (newSlide ? 1 - p : p);
    const double angle = sign * maxAngle * e;
    const bool vertical = dir[0] != 0;  // moves sideways: turns about a vertical line
    const double cx = r.left + w / 2, cy = r.top + h / 2;
    const TCamera3D camera{float(cx), float(cy), float(-2.5 * std::max(w, h))};
    auto corner = [&](double x, double y) {
        const double d = vertical ? x - cx : y - cy;
        const double z = depth + d * std::sin(angle);
        const double turned = d * std::cos(angle);
        TPoint3F point;
        point.x = float(vertical ? cx + turned + dir[0] * shift : x);
        point.y = float(vertical ? y : cy + turned + dir[1] * shift);
        point.z = float(z);
        const TProjected pr = ProjectHomogeneous(camera, point);
        TMeshVertex v;
        v.x = pr.x, v.y = pr.y, v.w = pr.w;
        v.s = float(x), v.t = float(y);
        v.colour = Shade(1 - 0.3 * e);
        return v;
    };
    const TMeshVertex a = corner(r.left, r.top), b = corner(r.right, r.top), c = corner(r.right, r.bottom),
                      d = corner(r.left, r.bottom);
    const TMeshVertex mesh[6] = {a, b, c, a, c, d};
    TMultiTile& sink = target.Sink();
    sink.Begin();
    sink.AddMesh(mesh);
    sink.End();
}

// ---- the factory ----

namespace {

std::mutex& FactoryLock() {
    static std::mutex lock;
    return lock;
}
TCustomEffectFactory& Factory() {
    static TCustomEffectFactory factory;
    return factory;
}

}  // namespace

void SetCustomEffectFactory(TCustomEffectFactory factory) {
    std::lock_guard<std::mutex> lock(FactoryLock());
    Factory() = std::move(factory);
}

namespace {

// The record comes from the show: every number is brought into a range the
// meshes can take (a centre a million widths away would make triangles that
// single-precision cutting cannot place).
TEffectParams Bounded(const TEffectParams& in) {
    TEffectParams p = in;
    auto bound = [](float& value, float lo, float hi) {
        value = std::isfinite(value) ? std::clamp(value, lo, hi) : 0.0f;
    };
    bound(p.Smoothline, 0, 1);
    bound(p.BroomOffset, 0, 10);
    bound(p.RollDiameter, 0, 10);
    bound(p.RollCurving, -1, 1);
    bound(p.FlipCurving, -4, 4);
    bound(p.SwapDepth, 0, 16);
    bound(p.SwapWidth, 0, 3);
    bound(p.SwapMaxAngle, -80, 80);
    p.CenterX = std::clamp(p.CenterX, -1000, 1000);
    p.CenterY = std::clamp(p.CenterY, -1000, 1000);
    return p;
}

}  // namespace

std::unique_ptr<TDrawFilter> CreateEffect(const ql::TRect& output, int32_t effectClass, int32_t effectType,
                                          const TTransitionFilter* slide, const TEffectParams& record,
                                          double duration) {
    if (effectClass <= 0) return nullptr;
    const TEffectParams params = Bounded(record);
    const int32_t type = effectType;
    auto inRange = [type](int32_t lo, int32_t hi) { return type >= lo && type <= hi; };
    std::unique_ptr<TDrawFilter> effect;
    bool reverse = false;
    switch (effectClass) {
        case 1: effect = std::make_unique<TRandomFilter>(); break;
        case 2: break;
        case 3: effect = std::make_unique<TClockEffect>(type == 2); break;
        case 4:
            effect = std::make_unique<TCircleFilter>(params.CenterX / 100.0, params.CenterY / 100.0);
            reverse = type == 1;
            break;
        case 5:
            effect = std::make_unique<TRhombFilter>();
            reverse = type == 1;
            break;
        case 6:
            effect = std::make_unique<TSquareFilter>();
            reverse = type == 1;
            break;
        case 7:
            if (inRange(1, 2)) effect = std::make_unique<THLines>(0.5, 0.5);
            else if (inRange(3, 4)) effect = std::make_unique<TVLines>(0.5, 0.5);
            reverse = type == 1 || type == 3;
            break;
        case 8:
            if (inRange(1, 4)) effect = std::make_unique<TDiagLines>(1, type >= 3);
            reverse = type == 1 || type == 3;
            break;
        case 9:
            if (type == 1) effect = std::make_unique<THLines>(0.0, 0.5);
            else if (type == 2) effect = std::make_unique<THLines>(1.0, 0.5);
            else if (type == 3) effect = std::make_unique<TVLines>(0.5, 0.0);
            else if (type == 4) effect = std::make_unique<TVLines>(0.5, 1.0);
            break;
        case 10:
            if (inRange(1, 4)) effect = std::make_unique<TDiagLines>(type == 1 || type == 3 ? 0 : 2, type >= 3);
            break;
        case 11:
            if (inRange(1, 16)) effect = std::make_unique<TBroomEffect>((type - 1) % 8 + 1);
            reverse = type > 8;
            break;
        case 12:
            if (inRange(1, 4)) effect = std::make_unique<TPushFilter>();
            break;
        case 13:
            if (inRange(1, 4)) effect = std::make_unique<TSlideFilter>();
            break;
        case 14:
        case 15:
            if (inRange(1, 8)) effect = std::make_unique<TRollEffect2>(effectClass, type);
            break;
        case 16: {
            const int32_t flipType = type + (params.FlipCenter ? 4 : 0);
            if (inRange(1, 4)) effect = std::make_unique<TOverturnEffect>(flipType);
            break;
        }
        case 17:
            if (inRange(1, 4)) effect = std::make_unique<TTwoSlidesEffect>(type);
            break;
        case kCustomEffectClass:
            if (slide) {
                TCustomEffectFactory factory;
                {
                    std::lock_guard<std::mutex> lock(FactoryLock());
                    factory = Factory();
                }
                if (factory) effect = factory(*slide, output, params);
            }
            break;
        default: break;
    }
    if (!effect) effect = std::make_unique<TAlphaFilter>();
    else if (reverse) effect->SetReverse(true);
    effect->SetIdentity(effectClass, effectType);
    // The copy carries pixels where the record holds fractions.
    TEffectParams copy = params;
    const float w = float(output.Width()), h = float(output.Height());
    copy.RollDiameter = params.RollDiameter * w;
    copy.BroomOffset = params.BroomOffset * (w + h) / 2;
    copy.SwapMaxAngle = float(double(params.SwapMaxAngle) * kPi / 180);
    effect->SetParams(copy);
    const float soft = float(std::lround(w * params.Smoothline));
    effect->Start(output, soft, float(std::isfinite(duration) ? duration : 0.0));
    return effect;
}

}  // namespace orb
