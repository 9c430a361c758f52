#include "Orb/OrbViewer/OrbNavigation.h"

#include <algorithm>
#include <cmath>

namespace orb {

namespace {

// A repeating show has no end; its targets still stay within a range that
// converts to milliseconds without overflow.
constexpr double kLongestTarget = 9.0e15;
// Slide indices of a repeating show are bounded the same way.
constexpr int64_t kHighestIndex = int64_t(1) << 40;

int64_t Round(double time) { return int64_t(std::llround(time)); }

}  // namespace

int64_t TNavigation::ClampTarget(double time) const {
    if (!(time > 0)) return 0;  // NaN too
    const double last = Repeats() ? kLongestTarget : m_source.TotalTime();
    return Round(std::min(time, last));
}

int64_t TNavigation::SlideStart(int64_t index) const {
    index = std::clamp<int64_t>(index, 0, Repeats() ? kHighestIndex : EndIndex());
    if (!Repeats() && index == EndIndex()) return ClampTarget(m_source.TotalTime());
    const TSlideInfo info = m_source.SlideInfo(index).Info;
    return ClampTarget(double(Round(info.BeginTime)) + (info.EffectTime == 0 ? 1 : 0));
}

int64_t TNavigation::NextSlide(double time, bool paused) const {
    if (std::isnan(time)) time = 0;
    const int64_t highest = Repeats() ? kHighestIndex : EndIndex();
    int64_t index = std::clamp<int64_t>(m_source.SlideAtTime(time).Index + 1, 0, highest);
    // Slides of no length share their begin with the next; a show's slide
    // count bounds the search.
    for (int32_t steps = 0; steps <= m_source.SlideCount() && index < highest; ++steps, ++index) {
        if (double(Round(m_source.SlideInfo(index).Info.BeginTime)) > time) break;
    }
    if (!Repeats() && index >= EndIndex()) return ClampTarget(m_source.TotalTime());
    const TSlideInfo info = m_source.SlideInfo(index).Info;
    if (info.EffectTime > 0) return ClampTarget(paused ? info.BeginTime + info.EffectTime : info.BeginTime);
    return ClampTarget(info.BeginTime + 1);
}

int64_t TNavigation::PreviousSlide(double time) const {
    if (std::isnan(time)) return 0;
    int64_t index = m_source.SlideAtTime(time).Index;
    if (index < 0) return 0;
    if (!Repeats()) index = std::min(index, EndIndex() - 1);
    TSlideInfo info = m_source.SlideInfo(index).Info;
    int64_t target = Round(info.BeginTime + info.EffectTime);
    if (time < double(target) + kPreviousSlideGraceMs) {
        if (--index < 0) return 0;
        info = m_source.SlideInfo(index).Info;
        target = Round(info.BeginTime + info.EffectTime);
    }
    return ClampTarget(double(target));
}

int64_t TNavigation::GotoSlide(int32_t number, const std::u16string& slideId) const {
    int64_t index = 0;
    if (number == -1) {
        const TSlideInfoList& slides = m_source.Slides();
        const auto found = std::find_if(slides.begin(), slides.end(),
                                        [&](const TSlideInfo& slide) { return slide.SlideId == slideId; });
        if (found != slides.end()) index = found - slides.begin();
    } else if (number >= 1) {
        index = std::min<int64_t>(number, m_source.SlideCount()) - 1;
    }
    return SlideStart(index);
}

int64_t TNavigation::Wheel(double time, int32_t steps, bool ctrl, bool paused) const {
    if (steps == 0) return ClampTarget(time);
    if (ctrl) return steps > 0 ? PreviousSlide(time) : NextSlide(time, paused);
    const int64_t moves = std::clamp(steps, -1000, 1000);
    return ClampTarget(time - double(moves * kWheelStepMs));
}

int32_t TNavigation::SlideIndexAt(double time) const {
    const int64_t index = m_source.SlideAtTime(time).Index;
    if (index < 0) return 0;
    return int32_t(index % m_source.SlideCount());
}

}  // namespace orb
