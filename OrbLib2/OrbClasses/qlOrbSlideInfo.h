// One slide's place on the show clock.
#pragma once

#include <string>

namespace orb {

// Times are milliseconds on the show clock (within cycle 0 unless a holder
// shifts them to a later cycle).
struct TSlideInfo {
    double BeginTime = 0;       // end time of the previous slide; 0 for the first
    double EndTime = 0;         // the slide's synchronisation point
    double EffectTime = 0;      // transition into this slide
    double NextEffectTime = 0;  // transition into the following slide
    double NextEffectEnd = 0;   // EndTime + NextEffectTime: the slide is fully gone
    std::u16string SlideId;
};

}  // namespace orb
