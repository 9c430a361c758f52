// Speed profiles: which stretches of an object's key points move with an
// acceleration, a constant-speed and a deceleration phase instead of a
// straight interpolation, and their text form in the project document.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/SysObj.h"

namespace orb {

// Largest key or interval count a profile text may declare.
constexpr int32_t kMaxProfileCount = 10000;

// Brings a pair of fractions into 0 <= accel <= decelStart <= 1, so that the
// three phases never get a negative duration.
void ClampFractions(double& accel, double& decelStart);

// One shaped stretch, from key FirstKey to key LastKey.
struct TInterval {
    int32_t FirstKey = 0;
    int32_t LastKey = 0;
    double Accel = 0;       // fraction of the stretch spent accelerating
    double DecelStart = 1;  // fraction at which the deceleration starts

    // False for the defaults 0 and 1 (to a hundredth): the stretch then
    // moves in a straight line.
    bool IsShaped() const;
};

class TSpeedStorage : public ql::TObj {
public:
    TSpeedStorage() = default;

    const std::vector<int64_t>& Keys() const { return m_keys; }
    const std::vector<TInterval>& Intervals() const { return m_intervals; }
    double DefaultAccel() const { return m_defaultAccel; }
    double DefaultDecelStart() const { return m_defaultDecelStart; }
    void SetDefaultFractions(double accel, double decelStart);

    // Inserts a key time after the keys of equal value and keeps the intervals
    // on the keys they covered: the second key opens an interval over both, a
    // key added in front or behind widens the first or last interval.
    void AddKey(int64_t time);

    // Replaces the keys (one per key point, ascending); intervals that reach
    // past the new keys are dropped.
    void SetKeys(std::vector<int64_t> keys);

    // Adds an interval with its fractions clamped; returns false (and adds
    // nothing) when its key indices do not name keys first <= last, or name one
    // key of a profile that has several.
    bool AddInterval(int32_t firstKey, int32_t lastKey, double accel, double decelStart);

    // No keys, no intervals, default fractions 0 and 1.
    void Clear();
    // The fallback profile: a single key at 0, no intervals.
    void Reset();

    // "count;key;...;count;first;last;accel;decel;...;defaultAccel;defaultDecel;"
    std::u16string Serialize() const;
    // Rebuilds the profile from its text; returns false, with the profile Reset,
    // when the text is invalid (a count outside 0 .. kMaxProfileCount, a missing
    // ";", a number that does not read, or only one of the two defaults).
    bool Parse(std::u16string_view text);

    // Called after a key was added.
    std::function<void()> OnChange;

private:
    std::vector<int64_t> m_keys;
    std::vector<TInterval> m_intervals;
    double m_defaultAccel = 0;
    double m_defaultDecelStart = 1;
};

// The shortest text that reads back as the same double ("0.25", "1", "1e-05").
std::u16string FloatToText(double value);

}  // namespace orb
