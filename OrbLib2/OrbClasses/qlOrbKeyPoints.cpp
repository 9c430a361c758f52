#include "OrbLib2/OrbClasses/qlOrbKeyPoints.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "QlLib/qlIniStorage.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr std::u16string_view kAnchorNames[kAnchorCount] = {u"SlideBegin", u"PrevEffectEnd",
                                                            u"NextEffectBegin", u"SlideEnd"};

// Values that agree to 1/10000 count as the same, so that re-reading a
// document does not flag every key point as moved.
bool SameToTenThousandth(double a, double b) {
    return std::nearbyint(a * 10000) == std::nearbyint(b * 10000);
}

float Lerp(float a, float b, float f) { return a + (b - a) * f; }

float ReadValue(const ql::TIniIdentList& block, std::u16string_view key, double defaultValue,
                double factor = 1) {
    return ClampValue(block.ReadReal(key, defaultValue) * factor);
}

// "x,y"; a part that does not read is 0.
void ReadPair(const ql::TIniIdentList& block, std::u16string_view key, float& x, float& y) {
    x = y = 0;
    const ql::TIniIdent* ident = block.FindIdent(key);
    if (!ident) return;
    const std::u16string value = ident->Value();
    const size_t comma = value.find(u',');
    if (comma == std::u16string::npos) return;
    x = ClampValue(ql::TryStrToFloat(ql::TrimBlanks(std::u16string_view(value).substr(0, comma))).value_or(0));
    y = ClampValue(ql::TryStrToFloat(ql::TrimBlanks(std::u16string_view(value).substr(comma + 1))).value_or(0));
}

}  // namespace

std::u16string_view AnchorName(int anchor) {
    if (anchor < 0 || anchor >= kAnchorCount) return {};
    return kAnchorNames[anchor];
}

int AnchorFromName(std::u16string_view name) {
    for (int i = 0; i < kAnchorCount; ++i)
        if (ql::SameTextIgnoringCase(name, kAnchorNames[i])) return i;
    return -1;
}

double SlideAnchorTime(const TSlideInfo& slide, int anchor) {
    switch (anchor) {
        case kAnchorSlideBegin: return slide.BeginTime;
        case kAnchorPrevEffectEnd: return slide.BeginTime + slide.EffectTime;
        case kAnchorNextEffectBegin: return slide.EndTime;
        case kAnchorSlideEnd: return slide.EndTime + slide.NextEffectTime;
        default: return 0;
    }
}

double ClampTime(double ms) {
    if (std::isnan(ms)) return 0;
    return std::clamp(ms, -kTimeLimit, kTimeLimit);
}

float ClampValue(double value) {
    if (std::isnan(value)) return 0;
    return static_cast<float>(std::clamp(value, -double(kValueLimit), double(kValueLimit)));
}

int64_t RoundKeyTime(double ms) {
    // An absolute time is an anchor plus an offset, each within kTimeLimit.
    if (std::isnan(ms)) return 0;
    return static_cast<int64_t>(std::nearbyint(std::clamp(ms, -2 * kTimeLimit, 2 * kTimeLimit)));
}

// ---------------------------------------------------------------- TKeyPoint

double TKeyPoint::AbsoluteTime() const {
    return ClampTime(m_owner->AnchorValue(m_anchor)) + m_time;
}

void TKeyPoint::SetTime(double ms) {
    ms = ClampTime(ms);
    if (!SameToTenThousandth(ms, m_time)) m_changed = true;
    m_time = ms;
    m_owner->Resort();
}

void TKeyPoint::SetAnchor(int anchor) {
    if (anchor < 0 || anchor >= kAnchorCount) anchor = kAnchorSlideBegin;
    if (anchor != m_anchor) m_changed = true;
    m_anchor = static_cast<uint8_t>(anchor);
    m_owner->Resort();
}

void TKeyPoint::Assign(float& field, float value) {
    value = ClampValue(value);
    if (!SameToTenThousandth(value, field)) m_changed = true;
    field = value;
}

void TKeyPoint::SetScaleX(float value) { Assign(m_values.ScaleX, std::max(ClampValue(value), kMinScale)); }

void TKeyPoint::SetScaleY(float value) { Assign(m_values.ScaleY, std::max(ClampValue(value), kMinScale)); }

void TKeyPoint::SetPosition(float x, float y) {
    Assign(m_values.PosX, x);
    Assign(m_values.PosY, y);
}

void TKeyPoint::SetCenterPos(float x, float y) {
    Assign(m_values.CenterX, x);
    Assign(m_values.CenterY, y);
}

void TKeyPoint::SetValues(const TKeyValues& values) {
    SetOpacity(values.Opacity);
    SetAngle(values.Angle);
    SetScaleX(values.ScaleX);
    SetScaleY(values.ScaleY);
    SetPosition(values.PosX, values.PosY);
    SetZPos(values.ZPos);
    SetCenterPos(values.CenterX, values.CenterY);
    SetAngleX(values.AngleX);
    SetAngleY(values.AngleY);
    SetBlur(values.Blur);
}

// ---------------------------------------------------------------- TSmoother

void TSmoother::SetPhases(double duration, double accel, double decelStart) {
    ClampFractions(accel, decelStart);
    if (!(duration > 0)) duration = 0;
    const auto accelTime = static_cast<float>(accel * duration);
    const auto constTime = static_cast<float>((decelStart - accel) * duration);
    const auto decelTime = static_cast<float>((1 - decelStart) * duration);
    m_accelEnd = accelTime;
    m_constEnd = accelTime + constTime;
    m_total = accelTime + constTime + decelTime;
    // A phase shorter than a microsecond is passed over rather than divided by.
    m_accelReciprocal = accelTime > 1e-3f ? 1 / accelTime : 0;
    m_decelReciprocal = decelTime > 1e-3f ? 1 / decelTime : 0;
}

void TSmoother::SetRange(float from, float to) {
    const float accelTime = m_accelEnd;
    const float constTime = m_constEnd - m_accelEnd;
    const float decelTime = m_total - m_constEnd;
    // half is half the peak speed: the ramps cover half the distance they would
    // at full speed.
    const float half = m_total > 0 ? (to - from) / (constTime + m_total) : 0;
    m_startValue = from;
    m_endValue = to;
    m_peakSpeed = 2 * half;
    m_accelDistance = half * accelTime;
    m_decelDistance = half * decelTime;
    m_accelEndValue = from + m_accelDistance;
    m_constEndValue = from + half * (accelTime + 2 * constTime);
}

float TSmoother::ValueAt(double elapsed) const {
    if (!(elapsed > 0)) return m_startValue;
    const auto x = static_cast<float>(elapsed);
    if (x < m_accelEnd) {
        const float r = x * m_accelReciprocal;
        return m_startValue + m_accelDistance * r * r;
    }
    if (x <= m_constEnd) return m_accelEndValue + (x - m_accelEnd) * m_peakSpeed;
    if (x >= m_total) return m_endValue;
    const float r = 1 - (x - m_constEnd) * m_decelReciprocal;
    return m_constEndValue + m_decelDistance * (1 - r * r);
}

// ------------------------------------------------------------ TKeyPointList

TKeyPointList::TKeyPointList() = default;
TKeyPointList::~TKeyPointList() = default;

double TKeyPointList::AnchorValue(int anchor) const { return 0; }

TKeyPoint& TKeyPointList::KeyPoint(int index) const {
    QL_ASSERT(index >= 0 && index < Count(), "key point index out of range");
    return *m_points[static_cast<size_t>(index)];
}

bool TKeyPointList::IsAnimated() const {
    return std::any_of(m_points.begin(), m_points.end(), [](const auto& p) { return p->Changed(); });
}

void TKeyPointList::ClearChanged() {
    for (auto& point : m_points) point->ClearChanged();
}

void TKeyPointList::Clear() {
    m_points.clear();
    for (auto& profile : m_profiles) profile.reset();
}

TKeyPoint& TKeyPointList::AddKeyPoint(int anchor, double time) {
    std::unique_ptr<TKeyPoint> point(new TKeyPoint(this, m_nextSequence++));
    if (anchor < 0 || anchor >= kAnchorCount) anchor = kAnchorSlideBegin;
    point->m_anchor = static_cast<uint8_t>(anchor);
    point->m_time = ClampTime(time);
    return Insert(std::move(point));
}

TKeyPoint& TKeyPointList::AddKeyPoint(int anchor, double time, const TKeyValues& values) {
    TKeyPoint& point = AddKeyPoint(anchor, time);
    point.SetValues(values);
    m_current = point.Values();
    return point;
}

TKeyPoint& TKeyPointList::LoadKeyPoint(const ql::TIniIdentList& block) {
    const double time = block.ReadReal(u"Time", 0);
    const int anchor = AnchorFromName(block.ReadString(u"Origin", AnchorName(kAnchorSlideBegin)));
    TKeyValues values;
    values.Opacity = ReadValue(block, u"Opacity", 100);
    values.Angle = ReadValue(block, u"Angle", 0, kDegreesToRadians);
    values.ScaleX = ReadValue(block, u"ScaleX", 100);
    values.ScaleY = ReadValue(block, u"ScaleY", 100);
    ReadPair(block, u"Position", values.PosX, values.PosY);
    ReadPair(block, u"CenterPos", values.CenterX, values.CenterY);
    values.AngleX = ReadValue(block, u"AngleX", 0, kDegreesToRadians);
    values.AngleY = ReadValue(block, u"AngleY", 0, kDegreesToRadians);
    values.ZPos = ReadValue(block, u"ZPos", 0);
    values.Blur = ReadValue(block, u"Blur", 0);
    // An unknown origin counts from the slide's begin.
    return AddKeyPoint(anchor < 0 ? kAnchorSlideBegin : anchor, time, values);
}

void TKeyPointList::LoadProfiles(const ql::TIniIdentList& block) {
    static constexpr std::pair<std::u16string_view, TProfileKind> kKeys[] = {
        {u"PanSpeed", kPanProfile}, {u"RotateSpeed", kRotateProfile}, {u"ZoomSpeed", kZoomProfile}};
    for (const auto& [key, kind] : kKeys)
        if (const ql::TIniIdent* ident = block.FindIdent(key)) LoadProfile(kind, ident->Value());
}

TKeyPoint& TKeyPointList::Insert(std::unique_ptr<TKeyPoint> point) {
    // The profiles learn the new key where it falls in time, so that their
    // intervals keep covering the key points they covered.
    const double time = point->AbsoluteTime();
    for (auto& profile : m_profiles)
        if (profile) profile->AddKey(RoundKeyTime(time));
    auto at = std::find_if(m_points.begin(), m_points.end(),
                           [time](const auto& p) { return p->AbsoluteTime() > time; });
    TKeyPoint& added = **m_points.insert(at, std::move(point));
    SyncProfiles();
    return added;
}

void TKeyPointList::Resort() {
    SortPoints();
    SyncProfiles();
}

void TKeyPointList::SortPoints() {
    std::vector<std::pair<double, std::unique_ptr<TKeyPoint>>> timed;
    timed.reserve(m_points.size());
    for (auto& point : m_points) {
        const double time = point->AbsoluteTime();
        timed.emplace_back(time, std::move(point));
    }
    std::sort(timed.begin(), timed.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return a.second->m_sequence < b.second->m_sequence;
    });
    for (size_t i = 0; i < timed.size(); ++i) m_points[i] = std::move(timed[i].second);
}

void TKeyPointList::SyncProfiles() {
    if (std::none_of(m_profiles.begin(), m_profiles.end(), [](const auto& p) { return p != nullptr; }))
        return;
    std::vector<int64_t> times;
    times.reserve(m_points.size());
    for (const auto& point : m_points) times.push_back(RoundKeyTime(point->AbsoluteTime()));
    for (auto& profile : m_profiles)
        if (profile && profile->Keys() != times) profile->SetKeys(times);
}

TSpeedStorage& TKeyPointList::Profile(TProfileKind kind) {
    auto& profile = m_profiles[kind];
    if (!profile) {
        profile = std::make_unique<TSpeedStorage>();
        for (const auto& point : m_points) profile->AddKey(RoundKeyTime(point->AbsoluteTime()));
    }
    return *profile;
}

void TKeyPointList::LoadProfile(TProfileKind kind, std::u16string_view text) {
    Profile(kind).Parse(text);
    SyncProfiles();
}

void TKeyPointList::SetCurrentScale(float x, float y) {
    m_current.ScaleX = ClampValue(x);
    m_current.ScaleY = ClampValue(y);
}

bool TKeyPointList::FindActiveSpan(TProfileKind kind, double t, TSpan& span) const {
    const TSpeedStorage* profile = m_profiles[kind].get();
    if (!profile) return false;
    const int count = Count();
    for (const TInterval& interval : profile->Intervals()) {
        // A profile read from a document may name key points that are not there.
        if (interval.FirstKey < 0 || interval.LastKey < interval.FirstKey || interval.LastKey >= count)
            continue;
        const TKeyPoint& from = *m_points[static_cast<size_t>(interval.FirstKey)];
        const TKeyPoint& to = *m_points[static_cast<size_t>(interval.LastKey)];
        if (t < from.AbsoluteTime()) return false;
        if (t <= to.AbsoluteTime()) {
            if (!interval.IsShaped()) return false;
            span = TSpan{&interval, &from, &to};
            return true;
        }
    }
    return false;
}

double TKeyPointList::CorrectFraction(double f, const TKeyPoint& a, const TKeyPoint& b) const {
    // Zooming in, equal steps of the fraction look faster and faster on screen;
    // spending the fraction in proportion to the scale evens that out.
    if (!m_perspectiveCorrection || b.Values().ScaleX == 0) return f;
    const float c = a.Values().ScaleX / b.Values().ScaleX;
    const float ff = static_cast<float>(f);
    const float denominator = 1 - ff * (1 - c);
    if (!(denominator > 0)) return f;
    return ff * c / denominator;
}

double TKeyPointList::CorrectTime(double t, const TKeyPoint& p, const TKeyPoint& q) const {
    if (!m_perspectiveCorrection || q.Values().ScaleX == 0) return t;
    const double from = p.AbsoluteTime();
    const double span = q.AbsoluteTime() - from;
    if (span == 0) return t;
    const double u = (t - from) / span;
    if (!(u > 0 && u < 1)) return t;
    const double c = double(p.Values().ScaleX) / q.Values().ScaleX;
    return from + span * u * c / (1 - u * (1 - c));
}

void TKeyPointList::ApplyShaped(const TSpan& span, double t,
                                std::initializer_list<float TKeyValues::*> fields) {
    const double start = std::nearbyint(span.from->AbsoluteTime());
    const double duration = std::nearbyint(span.to->AbsoluteTime()) - start;
    SetPhases(duration, span.interval->Accel, span.interval->DecelStart);
    for (auto field : fields) {
        SetRange(span.from->Values().*field, span.to->Values().*field);
        m_current.*field = ValueAt(t - start);
    }
}

void TKeyPointList::SetTime(double t) {
    t = ClampTime(t);
    m_currentTime = t;
    m_active = ClampTime(AnchorValue(kAnchorSlideBegin)) <= t && t <= ClampTime(AnchorValue(kAnchorSlideEnd));
    if (m_points.empty()) return;

    size_t i = 0;
    while (i < m_points.size() && !(m_points[i]->AbsoluteTime() > t)) ++i;
    if (i == 0) {
        m_current = m_points.front()->Values();
        return;
    }
    if (i == m_points.size()) {
        m_current = m_points.back()->Values();
        return;
    }
    const TKeyPoint& a = *m_points[i - 1];
    const TKeyPoint& b = *m_points[i];
    const double timeA = a.AbsoluteTime();
    const float width = static_cast<float>(b.AbsoluteTime() - timeA);
    const float f = width > 0 ? std::min(static_cast<float>(t - timeA) / width, 1.0f) : 0;
    const auto& va = a.Values();
    const auto& vb = b.Values();

    m_current.Opacity = Lerp(va.Opacity, vb.Opacity, f);
    m_current.Blur = Lerp(va.Blur, vb.Blur, f);

    TSpan span{};
    if (FindActiveSpan(kRotateProfile, t, span)) {
        ApplyShaped(span, t, {&TKeyValues::Angle, &TKeyValues::AngleX, &TKeyValues::AngleY});
    } else {
        m_current.Angle = Lerp(va.Angle, vb.Angle, f);
        m_current.AngleX = Lerp(va.AngleX, vb.AngleX, f);
        m_current.AngleY = Lerp(va.AngleY, vb.AngleY, f);
    }

    // The corrected fraction is the same for A and B as for the first pair of
    // neighbours around t: where they differ, t lies on a key point and f is 0.
    const auto corrected = static_cast<float>(CorrectFraction(f, a, b));
    if (FindActiveSpan(kZoomProfile, t, span)) {
        ApplyShaped(span, CorrectTime(t, *span.from, *span.to), {&TKeyValues::ScaleX, &TKeyValues::ScaleY});
    } else {
        m_current.ScaleX = Lerp(va.ScaleX, vb.ScaleX, corrected);
        m_current.ScaleY = Lerp(va.ScaleY, vb.ScaleY, corrected);
    }

    m_current.CenterX = Lerp(va.CenterX, vb.CenterX, f);
    m_current.CenterY = Lerp(va.CenterY, vb.CenterY, f);

    if (FindActiveSpan(kPanProfile, t, span)) {
        ApplyShaped(span, CorrectTime(t, *span.from, *span.to),
                    {&TKeyValues::PosX, &TKeyValues::PosY, &TKeyValues::ZPos});
    } else {
        m_current.PosX = Lerp(va.PosX, vb.PosX, corrected);
        m_current.PosY = Lerp(va.PosY, vb.PosY, corrected);
        m_current.ZPos = Lerp(va.ZPos, vb.ZPos, corrected);
    }
}

// --------------------------------------------------------------- TKeyPoints

double TKeyPoints::AnchorValue(int anchor) const { return m_owner ? m_owner->AnchorTime(anchor) : 0; }

}  // namespace orb
