#include "OrbLib2/OrbClasses/qlOrbVideoTiming.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

bool SameText(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char16_t x = a[i] >= u'A' && a[i] <= u'Z' ? char16_t(a[i] + 32) : a[i];
        const char16_t y = b[i] >= u'A' && b[i] <= u'Z' ? char16_t(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

}  // namespace

TDeinterlaceType ParseDeinterlaceType(std::u16string_view text) {
    if (SameText(text, u"wave")) return TDeinterlaceType::Wave;
    if (SameText(text, u"bobeven")) return TDeinterlaceType::BobEven;
    if (SameText(text, u"bobodd")) return TDeinterlaceType::BobOdd;
    return TDeinterlaceType::Auto;
}

TVideoTiming ClampVideoTiming(double startOrbTime, double duration, double startVideoTime,
                              double lengthMs) {
    TVideoTiming timing;
    timing.StartORBTime = std::isfinite(startOrbTime) ? startOrbTime : 0;
    const double length = std::isfinite(lengthMs) && lengthMs > 0 ? lengthMs : 0;
    timing.Duration = duration >= 0 && duration <= length ? duration : length;
    timing.StartVideoTime = startVideoTime >= 0 && startVideoTime <= length ? startVideoTime : 0;
    return timing;
}

double VideoPositionAt(const TVideoTiming& timing, double slideTime, double deltaTime1,
                       double clipShift) {
    const double start = timing.StartORBTime - clipShift;
    if (slideTime < std::max(deltaTime1, timing.StartORBTime)) return timing.StartVideoTime;
    if (slideTime <= start + timing.Duration) return slideTime - start + timing.StartVideoTime;
    return timing.StartVideoTime + timing.Duration;
}

double ClipBaseTime(int32_t startSlideIdx, const ql::TIniIdentList& main) {
    if (startSlideIdx == 0) return 0;
    return main.ReadInteger(u"opt_synchpos" + ql::IntToStr(startSlideIdx), 0);
}

double PixelAspectOf(int32_t aspectCode, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 1;
    if (aspectCode == 1) return height * 1.333333 / width;
    if (aspectCode == 2) return height * 1.777778 / width;
    return 1;
}

int32_t FieldChoice(TDeinterlaceType type, int32_t interlacing, double positionMs,
                    double spanStartMs, double spanEndMs) {
    const bool firstHalf = positionMs < (spanStartMs + spanEndMs) / 2;
    switch (type) {
        case TDeinterlaceType::Wave:
            return 0;
        case TDeinterlaceType::BobEven:
            return firstHalf ? 1 : 2;
        case TDeinterlaceType::BobOdd:
            return firstHalf ? 2 : 1;
        case TDeinterlaceType::Auto:
            break;
    }
    if (interlacing == 1) return firstHalf ? 1 : 2;
    if (interlacing == 2) return firstHalf ? 2 : 1;
    return 0;
}

TFrameSpan FrameSpanOf(int64_t first, int64_t last, double rate) {
    if (!(rate > 0)) return {};
    return {(double(first) - 0.5) * 1000.0 / rate, (double(last) + 0.5) * 1000.0 / rate};
}

bool HeldSpanMovesObject(int64_t first, int64_t last, double rate) {
    if (!(rate > 0)) return false;
    return last - first + 1 > int64_t(std::ceil(rate / 60.0));
}

}  // namespace orb
