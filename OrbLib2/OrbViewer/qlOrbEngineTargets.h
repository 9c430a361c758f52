// The places ahead of the show clock where the engine acts by itself: the
// barrier where playback stops (a slide that pauses or loops, or the end of
// the show) and the next slide that runs an application.
#pragma once

#include <cstdint>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"

namespace orb {

// The next slide with a run-application command; kNoSlide / kNoTime when none.
struct TRunAppTarget {
    int64_t SlideIndex = TStopPoint::kNoSlide;
    double Time = TStopPoint::kNoTime;  // the slide's begin + 1 ms
    std::u16string Command;
    bool IsSet() const { return SlideIndex != TStopPoint::kNoSlide; }
};

// The barrier from time t. The scan starts at the slide covering t, or at the
// slide of `current` when t is its time (so that a wait released at a barrier
// finds the following one). Without slide actions only the end of a show that
// does not repeat stops it.
TStopPoint ComputeBarrier(const TOrbSource& source, double t, const TStopPoint& current, bool slideActions);

// The run-application target from time t: the first slide, within one round
// of the slide list, with a command and a begin + 1 ms after t. The scan
// starts at the slide covering t, or just after `previous` when given (the
// target that has just been carried out).
TRunAppTarget ComputeRunAppTarget(const TOrbSource& source, double t, const TRunAppTarget* previous = nullptr);

}  // namespace orb
