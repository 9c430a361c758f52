#include "OrbLib2/OrbClasses/qlOrbObjects4.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <random>
#include <unordered_map>

#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbClasses/qlOrbVideo.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// --- the factory chain

std::mutex& FactoryLock() {
    static std::mutex lock;
    return lock;
}

std::vector<TObjectFactory>& Factories() {  // under FactoryLock, the front is asked first
    static std::vector<TObjectFactory> factories;
    return factories;
}

// The end of the chain: the kinds every show may hold whatever was
// registered. Video objects need no start-up: they bring their own decoders.
std::unique_ptr<TOrbObject> BuiltInKinds(const std::u16string& type, TOrbObject* parent,
                                         const std::u16string& guid) {
    if (type == u"video" || type == u"mainvideo")
        return std::make_unique<TOrbVideo>(parent, guid, type);
    return nullptr;
}

// --- small vector helpers (doubles: the hit test solves a 3 x 3 system)

struct TVec {
    double x = 0, y = 0, z = 0;
};
TVec Vec(const TPoint3F& p) {
    return {p.x, p.y, p.z};
}
TVec Sub(TVec a, TVec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
double Dot(TVec a, TVec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
TVec Cross(TVec a, TVec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double Length(TVec a) {
    return std::sqrt(Dot(a, a));
}
double Det3(TVec a, TVec b, TVec c) {
    return Dot(a, Cross(b, c));
}

// Tolerance of the edge-on tests, relative to the sizes involved.
constexpr double kEdgeOnEpsilon = 1e-6;

// The projection of a point through the camera (see TCamera3D).
TPointF Project(const TCamera3D& camera, const TPoint3F& point) {
    double d = double(point.z) - camera.z;
    if (std::fabs(d) < 0.000001) d = 0.000001;
    return {float(camera.x + camera.z * (camera.x - point.x) / d),
            float(camera.y + (camera.y - point.y) * camera.z / d)};
}

// A finite number within the value bounds; the default for anything else.
float SafeFloat(double value, float defaultValue) {
    if (!std::isfinite(value)) return defaultValue;
    return ClampValue(value);
}

TFitMode ReadFitMode(const ql::TIniIdentList& section) {
    const std::u16string text = ql::LowerCase(section.ReadString(u"FitMode", u"PlaceInto"));
    if (text == u"none") return fmNone;
    if (text == u"cover") return fmCover;
    return fmPlaceInto;
}

TPosMode ReadPosMode(const ql::TIniIdentList& section, std::u16string_view key) {
    const std::u16string text = ql::LowerCase(section.ReadString(key, u"Percent"));
    return text == u"absolute" ? pmAbsolute : pmPercent;
}

}  // namespace

void ReadColour(const ql::TIniIdentList& section, std::u16string_view key, uint8_t (&colour)[3]) {
    colour[0] = colour[1] = colour[2] = 0;
    const ql::TIniIdent* ident = section.FindIdent(key);
    if (!ident) return;
    const std::u16string text = ident->Value();
    int32_t parts[3];
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(u',', start);
        if ((i < 2) != (comma != std::u16string::npos)) return;
        const std::u16string part = ql::TrimBlanks(
            std::u16string_view(text).substr(start, i < 2 ? comma - start : std::u16string::npos));
        const auto value = ql::TryStrToInt(part);
        if (!value) return;
        parts[i] = std::clamp(*value, 0, 255);
        start = comma + 1;
    }
    for (int i = 0; i < 3; ++i) colour[i] = uint8_t(parts[i]);
}

std::optional<ql::TPoint> ReadIntegerPair(const ql::TIniIdentList& section,
                                          std::u16string_view key) {
    const ql::TIniIdent* ident = section.FindIdent(key);
    if (!ident) return std::nullopt;
    const std::u16string text = ident->Value();
    const size_t comma = text.find(u',');
    if (comma == std::u16string::npos) return std::nullopt;
    const auto first = ql::TryStrToInt(ql::TrimBlanks(std::u16string_view(text).substr(0, comma)));
    const auto second =
        ql::TryStrToInt(ql::TrimBlanks(std::u16string_view(text).substr(comma + 1)));
    if (!first || !second) return std::nullopt;
    return ql::TPoint{*first, *second};
}

void RegisterObjectFactory(TObjectFactory factory) {
    if (!factory) return;
    std::lock_guard<std::mutex> guard(FactoryLock());
    Factories().insert(Factories().begin(), std::move(factory));
}

std::unique_ptr<TOrbObject> CreateObject(const std::u16string& type, TOrbObject* parent,
                                         const std::u16string& guid) {
    std::vector<TObjectFactory> chain;
    {
        std::lock_guard<std::mutex> guard(FactoryLock());
        chain = Factories();
    }
    for (const TObjectFactory& factory : chain)
        if (std::unique_ptr<TOrbObject> object = factory(type, parent, guid)) return object;
    return BuiltInKinds(type, parent, guid);
}

std::u16string NewGuidText() {
    static std::mutex lock;
    static std::mt19937_64 generator{std::random_device{}()};
    uint64_t high, low;
    {
        std::lock_guard<std::mutex> guard(lock);
        high = generator();
        low = generator();
    }
    // Version 4, variant 1, as GUID generators make them.
    high = (high & ~uint64_t(0xF000)) | 0x4000;
    low = (low & ~(uint64_t(0xC) << 60)) | (uint64_t(0x8) << 60);
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    std::u16string text = u"{";
    auto put = [&](uint64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i) text += kHex[(value >> (4 * i)) & 0xF];
    };
    put(high >> 32, 8);
    text += u'-';
    put(high >> 16, 4);
    text += u'-';
    put(high, 4);
    text += u'-';
    put(low >> 48, 4);
    text += u'-';
    put(low, 12);
    text += u'}';
    return text;
}

// --- TOrbObject: the tree

TOrbObject::TOrbObject(TOrbObject* parent, std::u16string guid)
    : m_parent(parent), m_guid(guid.empty() ? NewGuidText() : std::move(guid)) {}

TOrbObject::~TOrbObject() = default;

TOrbObject& TOrbObject::Child(int index) const {
    QL_ASSERT(index >= 0 && index < ChildCount(), "TOrbObject.Child: index out of range");
    return *m_children[size_t(index)];
}

int TOrbObject::IndexInParent() const {
    if (!m_parent) return -1;
    for (int i = 0; i < m_parent->ChildCount(); ++i)
        if (m_parent->m_children[size_t(i)].get() == this) return i;
    return -1;
}

TOrbObject& TOrbObject::AddChild(std::unique_ptr<TOrbObject> child) {
    QL_ASSERT(child != nullptr, "TOrbObject.AddChild: no child");
    child->m_parent = this;
    m_children.push_back(std::move(child));
    return *m_children.back();
}

std::unique_ptr<TOrbObject> TOrbObject::RemoveChild(TOrbObject& child) {
    for (auto it = m_children.begin(); it != m_children.end(); ++it)
        if (it->get() == &child) {
            std::unique_ptr<TOrbObject> result = std::move(*it);
            m_children.erase(it);
            result->m_parent = nullptr;
            return result;
        }
    return nullptr;
}

int TOrbObject::Level() const {
    int level = 0;
    for (const TOrbObject* p = m_parent; p; p = p->m_parent) ++level;
    return level;
}

int TOrbObject::CountTree() const {
    int count = 1;
    for (const auto& child : m_children) count += child->CountTree();
    return count;
}

// --- keys

void TOrbObject::SetSize(int32_t width, int32_t height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width != m_width || height != m_height) m_changed = true;
    m_width = width;
    m_height = height;
}

void TOrbObject::SetHideMode(int32_t mode) {
    if (mode < 0 || mode > 3) mode = 0;
    m_hideFront = (mode & 1) != 0;
    m_hideBack = mode > 1;
}

void TOrbObject::SetDeltaTimes(double delta1, double delta2) {
    m_deltaTime1 = ClampTime(delta1);
    m_deltaTime2 = ClampTime(delta2);
}

bool TOrbObject::IsShown() const {
    return m_active && !m_hiddenByParent && m_shownFromCamera && !m_degenerate;
}

void TOrbObject::LoadCommonKeys(const ql::TIniIdentList& section) {
    m_fitMode = ReadFitMode(section);
    m_posMode = ReadPosMode(section, u"PosMode");
    m_centerMode = ReadPosMode(section, u"CenterMode");
    SetDeltaTimes(section.ReadReal(u"DeltaTime1", 0), section.ReadReal(u"DeltaTime2", 0));
    m_transpForClick = section.ReadBool(u"TranspForClick", false);
    m_treeNode = section.ReadBool(u"TreeNode", true);
    m_keyPoints.SetPerspectiveCorrection(section.ReadBool(u"PerspectiveCorrection", false));

    TObjectShadow shadow;
    shadow.Enabled = section.ReadBool(u"ShadowEnable", DefaultShadowEnable());
    shadow.Size = SafeFloat(section.ReadReal(u"ShadowSize", 16), 16);
    ReadColour(section, u"ShadowColor", shadow.Colour);
    shadow.Opacity = SafeFloat(section.ReadReal(u"ShadowOpacity", 59), 59);
    shadow.Distance = SafeFloat(section.ReadReal(u"ShadowDistance", 1.5), 1.5f);
    shadow.Angle = SafeFloat(section.ReadReal(u"ShadowAngle", 45), 45);
    shadow.SpreadIndex = section.ReadInteger(u"ShadowSpreadIndex", 0);
    shadow.Is3D = section.ReadBool(u"3DShadow", false);
    m_shadow = shadow;

    SetHideMode(section.ReadInteger(u"HideMode", 0));
    m_childInvis = section.ReadBool(u"ChildInvis", false);
    m_action = section.ReadString(u"Action", u"");
}

void TOrbObject::LoadFromDocument(const ql::TIniIdentList& section, bool reload) {
    if (const auto* block = dynamic_cast<const ql::TCommonIniSection*>(&section))
        m_name = block->Name();
    LoadCommonKeys(section);
    LoadChildren(section);
    m_keyPoints.LoadProfiles(section);
    m_changed = true;
    (void)reload;
}

void TOrbObject::LoadKeyPointValues(const ql::TIniIdentList& block) {
    m_keyPoints.LoadKeyPoint(block);
}

void TOrbObject::LoadChildren(const ql::TIniIdentList& section) {
    // A reload keeps the children whose GUIDs come back; the rest go.
    std::vector<std::unique_ptr<TOrbObject>> kept = std::move(m_children);
    m_children.clear();
    // GUID to the kept child; a hashed index so that reloading a large slide
    // stays linear.
    std::unordered_map<std::u16string, size_t> keptByGuid;
    for (size_t i = 0; i < kept.size(); ++i) keptByGuid.emplace(kept[i]->m_guid, i);
    TOrbSlide* slide = Slide();
    bool depthLogged = false;
    for (const ql::TIniObject* block = section.FirstObject(); block;
         block = ql::TIniIdentList::NextObject(*block)) {
        const std::u16string type = ql::LowerCase(block->ObjectClass());
        if (type == u"keypoint") {
            LoadKeyPointValues(*block);
            continue;
        }
        if (Level() + 1 > kMaxObjectDepth) {
            if (!depthLogged)
                ql::GlobalLog().WriteInt(u"Objects nested deeper than ", kMaxObjectDepth,
                                         u" levels are skipped");
            depthLogged = true;
            continue;
        }
        if (slide && !slide->CountObject()) continue;
        std::u16string guid = block->ReadString(u"GUID", u"");
        if (guid.empty()) {
            guid = NewGuidText();
        } else {
            auto same = keptByGuid.find(guid);
            if (same != keptByGuid.end() && kept[same->second]) {
                std::unique_ptr<TOrbObject> child = std::move(kept[same->second]);
                keptByGuid.erase(same);
                child->m_keyPoints.Clear();
                TOrbObject& added = AddChild(std::move(child));
                added.LoadFromDocument(*block, true);
                continue;
            }
        }
        if (std::unique_ptr<TOrbObject> child = CreateObject(type, this, guid)) {
            TOrbObject& added = AddChild(std::move(child));
            added.LoadFromDocument(*block, false);
        }
    }
}

// --- time

TOrbSlideHost* TOrbObject::Host() const {
    TOrbSlide* slide = Slide();
    return slide ? slide->Host() : nullptr;
}

TOrbSlide* TOrbObject::Slide() const {
    return m_parent ? m_parent->Slide() : nullptr;
}

double TOrbObject::AnchorTime(int anchor) const {
    const TOrbSlide* slide = Slide();
    return slide ? slide->AnchorTime(anchor) : 0;
}

void TOrbObject::ApplyTime(bool recursive, double t) {
    m_keyPoints.SetTime(t);
    const double begin = AnchorTime(kAnchorSlideBegin) + m_deltaTime1;
    const double end = AnchorTime(kAnchorSlideEnd) - m_deltaTime2;
    const bool active = begin <= t && t <= end;
    if (active != m_active) {
        m_active = active;
        m_moved = true;
    }
    if (recursive)
        for (auto& child : m_children) child->ApplyTime(true, t);
}

void TOrbObject::SetTime(bool recursive, double t) {
    ApplyTime(recursive, t);
    UpdatePlacement(recursive);
}

void TOrbObject::SetPreScanFlag(bool on) {
    m_preScan = on;
    for (auto& child : m_children) child->SetPreScanFlag(on);
}

bool TOrbObject::IsAnimated() const {
    if (m_keyPoints.IsAnimated()) return true;
    for (const auto& child : m_children)
        if (child->IsAnimated()) return true;
    return false;
}

bool TOrbObject::IsChanged() const {
    if (m_changed || m_moved) return true;
    for (const auto& child : m_children)
        if (child->IsChanged()) return true;
    return false;
}

void TOrbObject::ClearChanged(bool recursive) {
    m_changed = false;
    m_moved = false;
    if (recursive)
        for (auto& child : m_children) child->ClearChanged(true);
}

void TOrbObject::RefreshChildren(int kind) {
    for (auto& child : m_children) child->RefreshChildren(kind);
}

float TOrbObject::EffectiveOpacity() const {
    const TOrbSlide* slide = Slide();
    const double slideOpacity = slide ? slide->SlideOpacity() : 100.0;
    const double opacity = slideOpacity * m_keyPoints.Current().Opacity / 100.0;
    return float(std::clamp(opacity, 0.0, 100.0));
}

// --- placement

TPointF TOrbObject::ParentSize() const {
    if (m_parent) return {float(m_parent->m_width), float(m_parent->m_height)};
    return {float(m_width), float(m_height)};
}

const TObjectFrame* TOrbObject::ParentFrame() const {
    return m_parent ? &m_parent->m_frame : nullptr;
}

double TOrbObject::ComputeFitFactor(TPointF parentSize) const {
    if (m_fitMode == fmNone) return 1;
    const double w = m_width, h = m_height, pw = parentSize.x, ph = parentSize.y;
    if (w <= 0 || h <= 0 || pw <= 0 || ph <= 0) return 0;
    const double rx = pw / w, ry = ph / h;
    return m_fitMode == fmCover ? std::max(rx, ry) : std::min(rx, ry);
}

float TOrbObject::DepthFactor() const {
    const TOrbSlide* slide = Slide();
    return slide ? slide->SlideDepthFactor() : 0.5f;
}

bool TOrbObject::UpdatePlacement(bool recursive) {
    bool changed;
    if (m_parent) {
        const TPointF parentCentre{m_parent->m_centerOffset.x + m_parent->m_width * 0.5f,
                                   m_parent->m_centerOffset.y + m_parent->m_height * 0.5f};
        changed = PlaceInFrame(m_parent->m_frame, parentCentre, ParentSize(), &m_parent->m_matrix);
    } else {
        // A root sits on the screen: pixel axes, its origin at the root origin.
        TObjectFrame screen;
        const TPointF origin = RootOrigin();
        screen.Plane.origin = {origin.x, origin.y, 0};
        screen.Plane.axisX = {1, 0, 0};
        screen.Plane.axisY = {0, 1, 0};
        screen.AxisZ = {0, 0, DepthFactor()};
        changed = PlaceInFrame(screen, {0, 0}, ParentSize(), nullptr);
    }
    if (recursive)
        for (auto& child : m_children) changed = child->UpdatePlacement(true) || changed;
    return changed;
}

bool TOrbObject::PlaceInFrame(const TObjectFrame& parent, TPointF parentCentre, TPointF parentSize,
                              const std::array<float, 9>* parentMatrix) {
    const TKeyValues& v = m_keyPoints.Current();
    m_fitFactor = parentMatrix ? ComputeFitFactor(parentSize) : 1.0;
    m_scaleX = v.ScaleX * m_fitFactor / 100.0;
    m_scaleY = v.ScaleY * m_fitFactor / 100.0;

    const double angles[3] = {v.AngleX, v.AngleY, v.Angle};
    for (int i = 0; i < 3; ++i) {
        m_sin[i] = std::sin(angles[i]);
        m_cos[i] = std::cos(angles[i]);
    }
    const double sx = m_sin[0], cx = m_cos[0], sy = m_sin[1], cy = m_cos[1], sz = m_sin[2],
                 cz = m_cos[2];
    const double sX = m_scaleX, sY = m_scaleY;
    const double object[9] = {
        sX * cy * cz,
        sX * cy * sz,
        sX * sy,
        sY * (sx * sy * cz - cx * sz),
        sY * (sx * sy * sz + cx * cz),
        sY * -sx * cy,
        sY * -(cx * sy * cz + sx * sz),
        sY * (sx * cz - cx * sy * sz),
        sY * cx * cy,
    };
    std::array<float, 9> world;
    if (parentMatrix) {
        const std::array<float, 9>& p = *parentMatrix;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                world[size_t(r * 3 + c)] =
                    float(object[r * 3] * p[size_t(c)] + object[r * 3 + 1] * p[size_t(3 + c)] +
                          object[r * 3 + 2] * p[size_t(6 + c)]);
    } else {
        for (size_t i = 0; i < 9; ++i) world[i] = float(object[i]);
    }
    m_matrix = world;

    const float depthFactor = DepthFactor();
    TObjectFrame frame;
    frame.Plane.axisX = {world[0], world[1], world[2] * depthFactor};
    frame.Plane.axisY = {world[3], world[4], world[5] * depthFactor};
    frame.AxisZ = {world[6], world[7], world[8] * depthFactor};

    const double pw = parentSize.x, ph = parentSize.y;
    double ox = v.PosX, oy = v.PosY;
    if (m_posMode == pmPercent) {
        ox = v.PosX * pw * 0.005;
        oy = v.PosY * ph * 0.005;
    }
    ox += parentCentre.x;
    oy += parentCentre.y;
    const double depth = v.ZPos * ph / 200.0;
    const TScenePlane& pp = parent.Plane;
    frame.Plane.origin = {
        float(pp.origin.x + ox * pp.axisX.x + oy * pp.axisY.x + depth * parent.AxisZ.x),
        float(pp.origin.y + ox * pp.axisX.y + oy * pp.axisY.y + depth * parent.AxisZ.y),
        float(pp.origin.z + ox * pp.axisX.z + oy * pp.axisY.z + depth * parent.AxisZ.z)};
    frame.Flat = frame.Plane.IsFlat();

    TPointF centerOffset;
    if (m_centerMode == pmPercent) {
        centerOffset = {float(-v.CenterX * m_width * 0.005 - m_width * 0.5),
                        float(-v.CenterY * m_height * 0.005 - m_height * 0.5)};
    } else {
        // Centre positions in the object's own units.
        centerOffset = {float(-v.CenterX - m_width * 0.5), float(-v.CenterY - m_height * 0.5)};
    }

    // The camera-side test, and whether the plane can be seen at all: a plane
    // seen edge-on or of no size is neither drawn nor hit.
    const TCamera3D camera = Camera();
    const TVec ax = Vec(frame.Plane.axisX), ay = Vec(frame.Plane.axisY);
    const TVec normal = Cross(ay, ax);
    const TVec toCamera = Sub(TVec{camera.x, camera.y, camera.z}, Vec(frame.Plane.origin));
    const double side = Dot(normal, toCamera);
    const double scale = Length(normal) * Length(toCamera);
    m_degenerate =
        m_width <= 0 || m_height <= 0 || !(scale > 0) || std::fabs(side) <= kEdgeOnEpsilon * scale;
    m_shownFromCamera = side >= 0 ? !m_hideFront : !m_hideBack;
    m_hiddenByParent =
        (m_childInvis && !m_shownFromCamera) || (m_parent && m_parent->m_hiddenByParent);

    const float opacity = EffectiveOpacity();
    auto same = [](const TPoint3F& a, const TPoint3F& b) {
        return a.x == b.x && a.y == b.y && a.z == b.z;
    };
    const bool moved =
        opacity != m_lastOpacity || !same(frame.Plane.origin, m_frame.Plane.origin) ||
        !same(frame.Plane.axisX, m_frame.Plane.axisX) ||
        !same(frame.Plane.axisY, m_frame.Plane.axisY) || !same(frame.AxisZ, m_frame.AxisZ) ||
        centerOffset.x != m_centerOffset.x || centerOffset.y != m_centerOffset.y;
    m_frame = frame;
    m_centerOffset = centerOffset;
    m_lastOpacity = opacity;
    if (moved) m_moved = true;
    return moved;
}

TScenePlane TOrbObject::Plane() const {
    TScenePlane plane = m_frame.Plane;
    plane.origin = m_frame.Plane.At(m_centerOffset.x, m_centerOffset.y);
    return plane;
}

TCamera3D TOrbObject::Camera() const {
    const TOrbSlide* slide = Slide();
    return slide ? slide->CameraPosition() : TCamera3D{};
}

std::array<TPoint3F, 4> TOrbObject::Corners(float margin) const {
    const TScenePlane plane = Plane();
    const float w = float(m_width), h = float(m_height);
    const float local[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    const float outward[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    TVec ux = Vec(plane.axisX), uy = Vec(plane.axisY);
    const double lx = Length(ux), ly = Length(uy);
    ux = lx > 0 ? TVec{ux.x / lx, ux.y / lx, ux.z / lx} : TVec{};
    uy = ly > 0 ? TVec{uy.x / ly, uy.y / ly, uy.z / ly} : TVec{};
    std::array<TPoint3F, 4> corners;
    for (size_t i = 0; i < 4; ++i) {
        TPoint3F p = plane.At(local[i][0], local[i][1]);
        if (margin != 0) {
            const double mx = margin * outward[i][0], my = margin * outward[i][1];
            p.x = float(p.x + mx * ux.x + my * uy.x);
            p.y = float(p.y + mx * ux.y + my * uy.y);
            p.z = float(p.z + mx * ux.z + my * uy.z);
        }
        corners[i] = p;
    }
    return corners;
}

std::array<TPointF, 4> TOrbObject::ScreenCorners(float margin) const {
    const TCamera3D camera = Camera();
    const std::array<TPoint3F, 4> corners = Corners(margin);
    std::array<TPointF, 4> screen;
    for (size_t i = 0; i < 4; ++i) screen[i] = Project(camera, corners[i]);
    return screen;
}

// --- hit tests

bool TOrbObject::HitTest(float x, float y, TPointF* local) const {
    const TCamera3D camera = Camera();
    // A camera on the picture plane sees no ray; an edge-on or empty plane
    // has no inside. Both are plain misses: this runs on every mouse move.
    if (camera.z == 0 || m_width <= 0 || m_height <= 0) return false;
    const TScenePlane plane = Plane();
    const TVec c{camera.x, camera.y, camera.z};
    const TVec direction{x - c.x, y - c.y, -c.z};  // towards the point on the picture plane
    const TVec ax = Vec(plane.axisX), ay = Vec(plane.axisY);
    const TVec minusD{-direction.x, -direction.y, -direction.z};
    const double det = Det3(ax, ay, minusD);
    const double scale = Length(ax) * Length(ay) * Length(direction);
    if (!(scale > 0) || std::fabs(det) <= kEdgeOnEpsilon * scale) return false;
    const TVec b = Sub(c, Vec(plane.origin));
    // Cramer's rule on u ax + v ay - t D = C - start.
    const double u = Det3(b, ay, minusD) / det;
    const double v = Det3(ax, b, minusD) / det;
    const double t = Det3(ax, ay, b) / det;
    if (!(t > 0)) return false;
    if (!(u >= 0 && u <= m_width && v >= 0 && v <= m_height)) return false;
    if (local) *local = {float(u), float(v)};
    return true;
}

TOrbObject* TOrbObject::FindAt(float x, float y, const TFindFilter& filter, TPointF* local) {
    for (auto it = m_children.rbegin(); it != m_children.rend(); ++it)
        if (TOrbObject* found = (*it)->FindAt(x, y, filter, local)) return found;
    if (!IsShown() || !HostAccepts()) return nullptr;
    if (filter && !filter(*this)) return nullptr;
    return HitTest(x, y, local) ? this : nullptr;
}

TOrbObject* TOrbObject::FindAtSimple(float x, float y, bool useFilter, TPointF* local) {
    if (!useFilter) return FindAt(x, y, nullptr, local);
    return FindAt(
        x, y, [](const TOrbObject& object) { return !object.TranspForClick(); }, local);
}

// --- drawing

void TOrbObject::AttachDrawer(TDeviceDrawer& drawer) {
    try {
        Prepare(drawer);
    } catch (const std::exception& error) {
        ql::GlobalLog().WriteLine(std::string_view(std::string("Prepare failed: ") + error.what()));
    }
    ClearChanged(false);
    for (auto& child : m_children) child->AttachDrawer(drawer);
}

void TOrbObject::DecodePictures(TDeviceDrawer& drawer) {
    for (auto& child : m_children) child->DecodePictures(drawer);
}

void TOrbObject::Draw(TDeviceDrawer& drawer) {
    for (auto& child : m_children) child->Draw(drawer);
}

void TOrbObject::SecondPass(TDeviceDrawer& drawer, double t) {
    for (auto& child : m_children) child->SecondPass(drawer, t);
}

void TOrbObject::CollectDrawItems(std::vector<TOrbObject*>& list) {
    list.push_back(this);
    for (auto& child : m_children) child->CollectDrawItems(list);
}

// --- the required-size pre-scan

void TOrbObject::ResetScanAccumulators() {
    m_scanWidth = 0;
    m_scanHeight = 0;
    m_scanDepth = 1000000;
    for (auto& child : m_children) child->ResetScanAccumulators();
}

void TOrbObject::AccumulateScan() {
    const std::array<TPointF, 4> screen = ScreenCorners();
    const std::array<TPoint3F, 4> corners = Corners();
    float minX = screen[0].x, maxX = minX, minY = screen[0].y, maxY = minY;
    for (size_t i = 0; i < 4; ++i) {
        minX = std::min(minX, screen[i].x);
        maxX = std::max(maxX, screen[i].x);
        minY = std::min(minY, screen[i].y);
        maxY = std::max(maxY, screen[i].y);
        m_scanDepth = std::min(m_scanDepth, corners[i].z);
    }
    if (std::isfinite(maxX - minX)) m_scanWidth = std::max(m_scanWidth, maxX - minX);
    if (std::isfinite(maxY - minY)) m_scanHeight = std::max(m_scanHeight, maxY - minY);
    for (auto& child : m_children) child->AccumulateScan();
}

void TOrbObject::FinishScan(float cameraZ) {
    double factor = 1;
    // The enlargement of what comes nearer to the viewer than the picture
    // plane; a camera not in front of the slide has none.
    if (cameraZ < 0 && m_scanDepth > cameraZ) factor = 1.0 / (1.0 - double(m_scanDepth) / cameraZ);
    m_requiredWidth = float(m_scanWidth * factor);
    m_requiredHeight = float(m_scanHeight * factor);
    for (auto& child : m_children) child->FinishScan(cameraZ);
}

}  // namespace orb
