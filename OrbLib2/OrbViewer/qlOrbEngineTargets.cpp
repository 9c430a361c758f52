#include "OrbLib2/OrbViewer/qlOrbEngineTargets.h"

#include <algorithm>

namespace orb {

TStopPoint ComputeBarrier(const TOrbSource& source, double t, const TStopPoint& current, bool slideActions) {
    const bool repeat = source.RepeatMode() == TRepeatMode::Repeat;
    if (!slideActions) {
        if (repeat) return TStopPoint{};
        return TStopPoint{source.SlideCount() - 1, source.TotalTime(), 0};
    }
    if (current.SlideIndex != TStopPoint::kNoSlide && t == current.Time)
        return source.NextStopPoint(t, current.SlideIndex);
    return source.NextStopPoint(t);
}

TRunAppTarget ComputeRunAppTarget(const TOrbSource& source, double t, const TRunAppTarget* previous) {
    const int64_t count = source.SlideCount();
    if (count <= 0) return {};
    const bool repeat = source.RepeatMode() == TRepeatMode::Repeat;
    int64_t index = previous && previous->IsSet() ? previous->SlideIndex + 1 : source.SlideAtTime(t).Index;
    index = std::max<int64_t>(index, 0);
    // One round of the list at most: a show without commands costs one pass.
    for (int64_t n = 0; n < count; ++n, ++index) {
        if (!repeat && index >= count) break;
        // Beyond the cycles a time can address there is nothing to find.
        if (index / count >= kMaxShowCycle) break;
        const TSlideRunApp app = source.SlideRunApp(index % count);
        if (!app.Runs) continue;
        const double time = source.SlideInfo(index).Info.BeginTime + 1;
        if (time > t) return TRunAppTarget{index, time, app.FileName};
    }
    return {};
}

}  // namespace orb
