// Where the navigation keys, the wheel and the go-to actions take the show:
// targets on the show clock computed from the slide list. Every target is
// clamped into the show, so a show cannot send the clock before its start or
// past its end with a wild number.
#pragma once

#include <cstdint>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"

namespace orb {

// Steps the wheel moves the clock without Ctrl.
inline constexpr int64_t kWheelStepMs = 700;
// A previous-slide press this soon after a slide completed goes one further back.
inline constexpr double kPreviousSlideGraceMs = 500;

class TNavigation {
public:
    explicit TNavigation(const TOrbSource& source) : m_source(source) {}

    // Into 0 .. the show's total time (a repeating show only from 0 up).
    int64_t ClampTarget(double time) const;
    // The start of slide `index` (below 0 counts as 0): its begin, one
    // millisecond in when it has no transition so that it is the slide shown.
    int64_t SlideStart(int64_t index) const;
    // The next slide after `time`; paused, the slide with its transition done.
    int64_t NextSlide(double time, bool paused) const;
    // The start of the slide shown at `time` after its transition, or the one
    // before when that was less than half a second ago.
    int64_t PreviousSlide(double time) const;
    // Go-to-slide: `number` is 1-based and clamped to the show's slides; -1
    // looks the slide up by its identifier (unknown: the first slide).
    int64_t GotoSlide(int32_t number, const std::u16string& slideId) const;
    // The wheel: `steps` above 0 turn away from the user. With Ctrl a step
    // goes a whole slide, else 700 ms.
    int64_t Wheel(double time, int32_t steps, bool ctrl, bool paused) const;
    // The slide index shown at `time`, within 0 .. count-1 (for the run stack
    // and the print dialog).
    int32_t SlideIndexAt(double time) const;

private:
    bool Repeats() const { return m_source.RepeatMode() == TRepeatMode::Repeat; }
    // The index after the last slide of a show that does not repeat.
    int64_t EndIndex() const { return m_source.SlideCount(); }

    const TOrbSource& m_source;
};

}  // namespace orb
