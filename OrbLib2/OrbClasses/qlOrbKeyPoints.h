// Key points: the moments of a slide at which an object's opacity, rotations,
// scales, position, depth, rotation centre and blur are fixed, and the motion
// between them (straight, or shaped by the speed profiles, with an optional
// perspective correction).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbSlideInfo.h"
#include "OrbLib2/OrbClasses/qlOrbSpeedProfile.h"
#include "QlLib/SysObj.h"

namespace ql {
class TIniIdentList;
}

namespace orb {

// The time anchors of a key point, by index.
enum TKeyAnchor : uint8_t {
    kAnchorSlideBegin = 0,
    kAnchorPrevEffectEnd = 1,
    kAnchorNextEffectBegin = 2,
    kAnchorSlideEnd = 3,
};
constexpr int kAnchorCount = 4;

// "SlideBegin", "PrevEffectEnd", "NextEffectBegin", "SlideEnd"; empty for an
// index outside 0 .. 3.
std::u16string_view AnchorName(int anchor);
// The anchor named in any case; -1 for an unknown name.
int AnchorFromName(std::u16string_view name);
// A slide's value of an anchor: its begin, the end of the incoming transition,
// the start of the outgoing one, and the moment it is gone. 0 for an index
// outside 0 .. 3.
double SlideAnchorTime(const TSlideInfo& slide, int anchor);

// Times and animated values enter here once. Times are held within
// +-kTimeLimit ms (about 317 years, exact in a double), values within
// +-kValueLimit; NaN becomes 0. The bounds keep every difference and product
// of the motion finite.
constexpr double kTimeLimit = 1e13;
constexpr float kValueLimit = 1e7f;
double ClampTime(double ms);
float ClampValue(double value);
// A time rounded to whole ms (half to even), as speed-profile keys hold it.
int64_t RoundKeyTime(double ms);

// Degrees in the document, radians in the motion.
constexpr double kDegreesToRadians = 0.017453292519943295769;

// Smallest ScaleX and ScaleY a key point holds.
constexpr float kMinScale = 0.001f;

// The animated values; a new list and a new key point start from these.
struct TKeyValues {
    float Opacity = 100;  // percent
    float Angle = 0;      // radians, in the picture plane
    float ScaleX = 100;   // percent
    float ScaleY = 100;   // percent
    float PosX = 0;
    float PosY = 0;
    float ZPos = 0;
    float CenterX = 0;
    float CenterY = 0;
    float AngleX = 0;  // radians, about the horizontal axis
    float AngleY = 0;  // radians, about the vertical axis
    float Blur = 0;
};

class TKeyPointList;

class TKeyPoint : public ql::TObj {
public:
    TKeyPointList* Owner() const { return m_owner; }

    // Set when a value (or the key point's time) was set to one that differs
    // from the old one by at least 1/10000.
    bool Changed() const { return m_changed; }
    void ClearChanged() { m_changed = false; }

    double Time() const { return m_time; }
    int Anchor() const { return m_anchor; }
    // The owner's anchor value plus Time.
    double AbsoluteTime() const;
    // Both re-sort the owner's list and bring its speed profiles in step.
    void SetTime(double ms);
    // An anchor outside 0 .. 3 becomes "SlideBegin".
    void SetAnchor(int anchor);

    const TKeyValues& Values() const { return m_values; }
    void SetValues(const TKeyValues& values);
    void SetOpacity(float value) { Assign(m_values.Opacity, value); }
    void SetAngle(float value) { Assign(m_values.Angle, value); }
    void SetScaleX(float value);
    void SetScaleY(float value);
    void SetPosition(float x, float y);
    void SetZPos(float value) { Assign(m_values.ZPos, value); }
    void SetCenterPos(float x, float y);
    void SetAngleX(float value) { Assign(m_values.AngleX, value); }
    void SetAngleY(float value) { Assign(m_values.AngleY, value); }
    void SetBlur(float value) { Assign(m_values.Blur, value); }

private:
    friend class TKeyPointList;
    TKeyPoint(TKeyPointList* owner, uint64_t sequence) : m_owner(owner), m_sequence(sequence) {}
    void Assign(float& field, float value);

    TKeyPointList* m_owner;
    uint64_t m_sequence;  // creation order: breaks ties of equal times
    bool m_changed = false;
    double m_time = 0;
    uint8_t m_anchor = kAnchorSlideBegin;
    TKeyValues m_values;
};

// The state of one trapezoid motion: accelerate, hold the peak speed,
// decelerate. Durations in ms.
class TSmoother : public ql::TObj {
public:
    // Splits a duration by the fractions (clamped to 0 <= accel <= decelStart <= 1).
    void SetPhases(double duration, double accel, double decelStart);
    // Sets the values at the start and the end of the motion.
    void SetRange(float from, float to);
    // The value after elapsed ms; from before the start, to at and after the end.
    float ValueAt(double elapsed) const;

protected:
    float m_accelEnd = 0;  // end of the acceleration phase
    float m_constEnd = 0;  // end of the constant phase
    float m_total = 0;
    float m_startValue = 0;
    float m_accelEndValue = 0;
    float m_constEndValue = 0;
    float m_endValue = 0;
    float m_peakSpeed = 0;
    float m_accelDistance = 0;
    float m_decelDistance = 0;
    float m_accelReciprocal = 0;  // 0 when the phase has no duration
    float m_decelReciprocal = 0;
};

enum TProfileKind { kPanProfile = 0, kZoomProfile = 1, kRotateProfile = 2 };

class TKeyPointList : public TSmoother {
public:
    TKeyPointList();
    ~TKeyPointList() override;

    // The owner's time of an anchor; 0 without an owner.
    virtual double AnchorValue(int anchor) const;
    // Moves the current values to show time t.
    virtual void SetTime(double t);

    // A key point with the default values at the anchor and time, placed in
    // time order (after key points of equal time).
    TKeyPoint& AddKeyPoint(int anchor, double time);
    // Adds a key point carrying the given values, which also become the list's
    // current values (what reading a key-point block does).
    TKeyPoint& AddKeyPoint(int anchor, double time, const TKeyValues& values);
    // Adds the key point of a "KeyPoint" block: its "Time" and "Origin", and its
    // values, each missing or unreadable one taking its default (not the
    // previous key point's value).
    TKeyPoint& LoadKeyPoint(const ql::TIniIdentList& block);
    // Reads the "PanSpeed", "RotateSpeed" and "ZoomSpeed" texts of an object
    // block; a missing key keeps the list's current profile.
    void LoadProfiles(const ql::TIniIdentList& block);
    int Count() const { return static_cast<int>(m_points.size()); }
    TKeyPoint& KeyPoint(int index) const;
    // Any key point changed since ClearChanged.
    bool IsAnimated() const;
    void ClearChanged();
    // Drops every key point and the three speed profiles.
    void Clear();
    // Re-sorts the key points and brings the profiles in step; call after the
    // owner's anchor times changed.
    void Resort();

    // The profiles, made from the key points on first use.
    TSpeedStorage& PanProfile() { return Profile(kPanProfile); }
    TSpeedStorage& ZoomProfile() { return Profile(kZoomProfile); }
    TSpeedStorage& RotateProfile() { return Profile(kRotateProfile); }
    TSpeedStorage& Profile(TProfileKind kind);
    bool HasProfile(TProfileKind kind) const { return m_profiles[kind] != nullptr; }
    // Reads a profile's document text (an invalid text gives the fallback
    // profile), then keys it to the key points.
    void LoadProfile(TProfileKind kind, std::u16string_view text);

    bool PerspectiveCorrection() const { return m_perspectiveCorrection; }
    void SetPerspectiveCorrection(bool on) { m_perspectiveCorrection = on; }

    double CurrentTime() const { return m_currentTime; }
    // The current time lies between anchors 0 and 3, both included.
    bool Active() const { return m_active; }
    const TKeyValues& Current() const { return m_current; }
    void SetCurrentScale(float x, float y);

private:
    friend class TKeyPoint;
    // An active interval: the key points it runs between.
    struct TSpan {
        const TInterval* interval;
        const TKeyPoint* from;
        const TKeyPoint* to;
    };
    bool FindActiveSpan(TProfileKind kind, double t, TSpan& span) const;
    double CorrectFraction(double f, const TKeyPoint& a, const TKeyPoint& b) const;
    double CorrectTime(double t, const TKeyPoint& p, const TKeyPoint& q) const;
    // Moves a group of values along the span's trapezoid motion, evaluated at t.
    void ApplyShaped(const TSpan& span, double t, std::initializer_list<float TKeyValues::*> fields);
    void SortPoints();
    void SyncProfiles();
    TKeyPoint& Insert(std::unique_ptr<TKeyPoint> point);

    std::vector<std::unique_ptr<TKeyPoint>> m_points;
    std::array<std::unique_ptr<TSpeedStorage>, 3> m_profiles;
    uint64_t m_nextSequence = 0;
    double m_currentTime = 0;
    bool m_active = false;
    bool m_perspectiveCorrection = false;
    TKeyValues m_current;
};

// What a key-point list asks of the object that holds it.
class TKeyPointOwner {
public:
    // The slide's value of an anchor (see SlideAnchorTime).
    virtual double AnchorTime(int anchor) const = 0;

protected:
    ~TKeyPointOwner() = default;
};

// The list of a show object: its anchors come from the object's slide.
class TKeyPoints : public TKeyPointList {
public:
    explicit TKeyPoints(const TKeyPointOwner* owner) : m_owner(owner) {}
    const TKeyPointOwner* OwnerObject() const { return m_owner; }
    double AnchorValue(int anchor) const override;

private:
    const TKeyPointOwner* m_owner;
};

}  // namespace orb
