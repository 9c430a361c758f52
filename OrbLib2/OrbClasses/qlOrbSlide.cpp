#include "OrbLib2/OrbClasses/qlOrbSlide.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"

namespace orb {

namespace {

// A pre-scan sets the whole slide to every distinct key-point time; a show
// with more than this many is scanned at this many of them, spread evenly.
constexpr size_t kMaxScanTimes = 512;

void CollectTimes(const TOrbObject& object, std::vector<double>& times) {
    const TKeyPoints& list = object.KeyPoints();
    for (int i = 0; i < list.Count(); ++i) times.push_back(list.KeyPoint(i).AbsoluteTime());
    for (int i = 0; i < object.ChildCount(); ++i) CollectTimes(object.Child(i), times);
}

void ClearKeyPointChanges(TOrbObject& object) {
    object.KeyPoints().ClearChanged();
    for (int i = 0; i < object.ChildCount(); ++i) ClearKeyPointChanges(object.Child(i));
}

// Every object but `keep` goes back to its normal look; `keep` gets its new
// look next, so that an unchanged look never counts as a change.
void ResetMouseLooks(TOrbObject& object, const TOrbObject* keep) {
    if (object.UsesMouseLook() && &object != keep) object.SetMouseLook(TMouseLook::Normal);
    for (int i = 0; i < object.ChildCount(); ++i) ResetMouseLooks(object.Child(i), keep);
}

// Key points hang off the anchors: new anchor times re-sort every list.
void ResortKeyPoints(TOrbObject& object) {
    object.KeyPoints().Resort();
    for (int i = 0; i < object.ChildCount(); ++i) ResortKeyPoints(object.Child(i));
}

double FiniteOr(double value, double fallback) {
    return std::isfinite(value) ? ClampTime(value) : fallback;
}

}  // namespace

TOrbSlide::TOrbSlide(TOrbSlideHost* host, int32_t cycle)
    : TOrbObject(nullptr, u""), m_host(host), m_cycle(cycle) {
    m_ownCamera = {0, 0, -1};
}

TOrbSlide::~TOrbSlide() = default;

void TOrbSlide::SetTimes(double beginTime, double endTime, double effectTime,
                         double nextEffectTime) {
    m_beginTime = FiniteOr(beginTime, 0);
    m_endTime = std::max(FiniteOr(endTime, m_beginTime), m_beginTime);
    m_effectTime = std::max(FiniteOr(effectTime, 0), 0.0);
    m_nextEffectTime = std::max(FiniteOr(nextEffectTime, 0), 0.0);
    ResortKeyPoints(*this);
    m_scanPending = true;
}

double TOrbSlide::AnchorTime(int anchor) const {
    switch (anchor) {
        case kAnchorSlideBegin:
            return m_beginTime;
        case kAnchorPrevEffectEnd:
            return m_beginTime + m_effectTime;
        case kAnchorNextEffectBegin:
            return m_endTime;
        case kAnchorSlideEnd:
            return m_endTime + m_nextEffectTime;
        default:
            return 0;
    }
}

TCamera3D TOrbSlide::CameraPosition() const {
    return m_host ? m_host->CameraPosition() : m_ownCamera;
}

TPointF TOrbSlide::ParentSize() const {
    // The slide's frame on the screen, in pixels.
    const TKeyValues& v = m_keyPoints.Current();
    return {float(m_width * double(v.ScaleX) / 100.0), float(m_height * double(v.ScaleY) / 100.0)};
}

float TOrbSlide::EffectiveOpacity() const {
    return float(
        std::clamp(double(SlideOpacity()) * m_keyPoints.Current().Opacity / 100.0, 0.0, 100.0));
}

bool TOrbSlide::CountObject() {
    if (m_objectCount >= kMaxObjectsPerSlide) {
        if (!m_countLogged)
            ql::GlobalLog().WriteInt(u"A slide holds at most ", kMaxObjectsPerSlide,
                                     u" objects; the rest are skipped");
        m_countLogged = true;
        return false;
    }
    ++m_objectCount;
    return true;
}

void TOrbSlide::LoadChildren(const ql::TIniIdentList& section) {
    m_objectCount = 0;
    m_countLogged = false;
    TOrbObject::LoadChildren(section);
    m_scanPending = true;
}

void TOrbSlide::LoadFromDocument(const ql::TIniIdentList& section, bool reload) {
    if (const auto* named = dynamic_cast<const ql::TCommonIniSection*>(&section))
        SetName(named->Name());
    LoadChildren(section);
    m_changed = true;
    (void)reload;
}

void TOrbSlide::SetTime(bool recursive, double t) {
    t = ClampTime(t);
    m_localTime = t - m_beginTime;
    m_lastTime = t;
    TOrbObject::SetTime(recursive, t);
}

bool TOrbSlide::UpdatePlacement(bool recursive) {
    const TCamera3D camera = CameraPosition();
    m_depthFactor = camera.z < 0 && m_height > 0 ? float(-double(camera.z) * 0.5 / m_height) : 0.5f;
    if (!m_scanning && (m_scanPending || IsAnimated())) PreScan();
    m_maskedContent = false;
    return TOrbObject::UpdatePlacement(recursive);
}

bool TOrbSlide::PreScan() {
    if (m_scanning) return false;
    m_scanning = true;
    SetPreScanFlag(true);
    const double previousTime = m_lastTime;

    std::vector<double> times;
    CollectTimes(*this, times);
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    if (times.empty()) times.push_back(previousTime);
    if (times.size() > kMaxScanTimes) {
        ql::GlobalLog().WriteInt(u"Pre-scan: key-point times thinned out from ",
                                 int64_t(times.size()));
        std::vector<double> thinned;
        for (size_t i = 0; i < kMaxScanTimes; ++i)
            thinned.push_back(times[i * (times.size() - 1) / (kMaxScanTimes - 1)]);
        times = std::move(thinned);
    }

    ResetScanAccumulators();
    bool completed = true;
    for (size_t i = 0; i < times.size(); ++i) {
        SetTime(true, times[i]);
        if (m_host && !m_host->Progress(float(i + 1) / float(times.size()))) {
            completed = false;
            break;
        }
        AccumulateScan();
    }
    SetTime(true, previousTime);

    if (completed) {
        FinishScan(CameraPosition().z);
        const TKeyValues& v = m_keyPoints.Current();
        m_requiredWidth = float(double(v.ScaleX) * m_width / 100.0);
        m_requiredHeight = float(double(v.ScaleY) * m_height / 100.0);
        ClearKeyPointChanges(*this);
        m_scanPending = false;
    }
    SetPreScanFlag(false);
    m_scanning = false;
    return completed;
}

TOrbActionInfo TOrbSlide::MouseEvent(TSlideMouseEvent event, int button, int heldButtons, float x,
                                     float y, bool actionsEnabled, TOrbObject** found) {
    if (found) *found = nullptr;
    TOrbActionInfo result;
    // A drag with another button than the left one touches nothing.
    TOrbObject* object =
        actionsEnabled && (heldButtons == kMouseNoButton || heldButtons == kMouseLeftButton)
            ? FindAtSimple(x, y, true, nullptr)
            : nullptr;
    if (found) *found = object;
    const TOrbActionInfo action = object ? ParseAction(object->Action()) : TOrbActionInfo();
    const bool left = button == kMouseLeftButton;
    std::optional<TMouseLook> look;
    if (object && object->UsesMouseLook() && !action.IsNone()) {
        if (event == smMove) {
            look = heldButtons == kMouseLeftButton ? TMouseLook::Click : TMouseLook::Hover;
        } else if (event == smPress && left) {
            look = TMouseLook::Click;
            object->SetPressed(true);
        } else if (event == smRelease && left) {
            look = TMouseLook::Hover;
            if (object->Pressed()) result = action;
            object->SetPressed(false);
        }
    } else if (object && event == smPress && left) {
        object->SetPressed(true);
    } else if (object && event == smRelease && left) {
        if (object->Pressed()) result = action;
        object->SetPressed(false);
    }
    ResetMouseLooks(*this, look ? object : nullptr);
    if (look) object->SetMouseLook(*look);
    return result;
}

void TOrbSlide::Prepare(TDeviceDrawer& drawer) {
    if (m_painter) m_painter->Prepare(drawer, *this);
}

void TOrbSlide::Draw(TDeviceDrawer& drawer) {
    if (m_painter) m_painter->Draw(drawer, *this);
    TOrbObject::Draw(drawer);
}

void TOrbDialog::SetOpacity(float percent) {
    m_opacity = std::isfinite(percent) ? std::clamp(percent, 0.0f, 100.0f) : 0;
}

}  // namespace orb
