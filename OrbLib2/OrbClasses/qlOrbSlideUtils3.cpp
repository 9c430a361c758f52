#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// Screens and frames beyond this are not real displays; the bound keeps the
// products below in the int32 range.
constexpr int32_t kMaxSide = 32768;
// Aspect ratios and scales outside these say nothing sensible about a screen.
constexpr double kMinAspect = 0.01, kMaxAspect = 100;
constexpr float kMinScale = 1, kMaxScale = 10000;

int32_t RoundToInt(double value) {
    if (!(value > -2147483647.0)) return value != value ? 0 : -2147483647;
    if (value > 2147483647.0) return 2147483647;
    return int32_t(std::lround(value));
}

int32_t ClampSide(int32_t side) { return std::clamp(side, 1, kMaxSide); }

float CheckedScale(float percent) {
    if (!(percent > 0)) return 100;  // NaN and non-positive
    return std::clamp(percent, kMinScale, kMaxScale);
}

double CheckedAspect(double aspect) {
    if (!(aspect > 0)) return 4.0 / 3.0;
    return std::clamp(aspect, kMinAspect, kMaxAspect);
}

}  // namespace

TDesignOptions ReadDesignOptions(const ql::TIniSection& main) {
    TDesignOptions design;
    design.MinorVersion = main.ReadInteger(u"MinorVersion", 13);
    design.Width = main.ReadInteger(u"opt_scr_width", 0);
    design.Height = main.ReadInteger(u"opt_scr_height", 0);
    design.FixedSize = main.ReadBool(u"opt_scr_fullfixedsize", false);
    if (main.FindIdent(u"opt_scr_ratio")) {
        const double ratio = main.ReadReal(u"opt_scr_ratio", 0);
        if (ratio > 0) design.Ratio = ratio;
    }
    return design;
}

TFrameGeometry ComputeFrameGeometry(const TDesignOptions& design, int32_t sw, int32_t sh, int32_t mode,
                                    float px, float py) {
    sw = ClampSide(sw);
    sh = ClampSide(sh);
    px = CheckedScale(px);
    py = CheckedScale(py);
    TFrameGeometry g;
    g.ScreenWidth = sw;
    g.ScreenHeight = sh;

    if (design.MinorVersion > 12) {
        // A current project always states its design size; a zero one would
        // divide by zero everywhere below, so the show is refused here.
        if (design.Height <= 0 || design.Width <= 0) throw ESlideProducerError(kZeroSizeText);
        g.Aspect = double(design.Width) / double(design.Height);
    } else {
        g.Aspect = design.Ratio ? *design.Ratio : double(sw) / double(sh);
    }
    g.Aspect = CheckedAspect(g.Aspect);
    g.CenterX = float(sw) / 2;
    g.CenterY = float(sh) / 2;

    int32_t fw = 0, fh = 0;
    const bool fixed = design.FixedSize && design.Width > 0 && design.Height > 0;
    if (fixed) {
        const double w = std::min(design.Width, kMaxSide), h = std::min(design.Height, kMaxSide);
        if (double(sw) / double(sh) >= w / h) {
            fh = std::min(int32_t(h), sh);
            fw = RoundToInt(fh * w / h);
        } else {
            fw = std::min(int32_t(w), sw);
            fh = RoundToInt(fw * h / w);
        }
    } else {
        const int32_t vw = RoundToInt(double(sw) / px * 100), vh = RoundToInt(double(sh) / py * 100);
        if (mode == fmStretch) {
            fw = vw;
            fh = vh;
        } else {
            // Any other mode number fits inside, the safe reading.
            fw = std::max(RoundToInt(vh * g.Aspect), 1);
            fh = vh;
            const double cx = double(vw) / fw, cy = double(vh) / fh;
            const double c = mode == fmCover ? std::max(cx, cy) : std::min(cx, cy);
            if (c != 1) {
                fw = RoundToInt(fw * c);
                fh = RoundToInt(fh * c);
            }
        }
        fw = RoundToInt(fw * double(px) / 100);
        fh = RoundToInt(fh * double(py) / 100);
        // Odd frame sizes put the slide half a pixel off the screen's pixels.
        if (fw % 2 != 0 && fw < sw) ++fw;
        if (fh % 2 != 0 && fh < sh) ++fh;
    }
    g.FrameWidth = std::clamp(fw, 1, kMaxSide * 100);
    g.FrameHeight = std::clamp(fh, 1, kMaxSide * 100);

    const int32_t left = RoundToInt(g.CenterX - g.FrameWidth / 2.0);
    const int32_t top = RoundToInt(g.CenterY - g.FrameHeight / 2.0);
    const ql::TRect frame{left, top, left + g.FrameWidth, top + g.FrameHeight};
    g.SlideRect = ql::IntersectRect(frame, ql::TRect{0, 0, sw, sh});
    if (g.SlideRect.IsEmpty()) g.SlideRect = {};
    g.Camera = {float(sw) / 2, float(sh) / 2, -float(sh)};
    return g;
}

// ---- slides on screen ----

namespace {
// A walk longer than this re-seats the cursor by a search on the slide list;
// a second one that long stops where it is, so that no show data can keep
// the search going (a show whose cycles last next to nothing).
constexpr int32_t kMaxCursorSteps = 64;
}  // namespace

double TVisibleSlideCursor::EndOf(int64_t k) const {
    return std::round(m_source.SlideInfo(k).Info.NextEffectEnd);
}

bool TVisibleSlideCursor::Walk(double t) {
    const bool repeats = m_source.RepeatMode() == TRepeatMode::Repeat;
    const int64_t last = m_source.SlideCount() - 1;
    for (int32_t steps = 0; steps < kMaxCursorSteps; ++steps) {
        if (m_cursor > -1 && t < EndOf(m_cursor - 1)) {
            --m_cursor;
        } else if (EndOf(m_cursor) < t && (repeats || m_cursor < last)) {
            // A show that does not repeat keeps its last slide on screen.
            ++m_cursor;
        } else {
            return true;
        }
    }
    return false;
}

TVisibleSlides TVisibleSlideCursor::Find(double time) {
    const double t = std::round(time);
    if (!Walk(t)) {
        const TSlideAtTime at = m_source.SlideAtTime(t);
        m_cursor = std::max<int64_t>(at.Index, -1);
        Walk(t);
    }
    TVisibleSlides result{m_cursor, m_cursor};
    const TSlideInfo next = m_source.SlideInfo(m_cursor + 1).Info;
    if (t >= std::round(next.BeginTime) && !(t > std::round(next.NextEffectEnd))) result.Last = m_cursor + 1;
    return result;
}

// ---- dialogs ----

namespace {
// More custom dialogs than this are not looked through.
constexpr int32_t kMaxCustomDialogs = 10000;
}  // namespace

ql::TIniSection* DialogSection(const ql::TIniStorage& document, const std::u16string& name) {
    std::u16string suffix = name;
    if (const ql::TIniSection* main = document.FindSection(kMainSection)) {
        const int32_t count = std::min(main->ReadInteger(u"opt_customdialogscount", 0), kMaxCustomDialogs);
        for (int32_t i = 1; i <= count; ++i) {
            if (main->ReadString(u"custom_dialog" + ql::IntToStr(i), u"") == name) {
                suffix = ql::IntToStr(i) + u"_";
                break;
            }
        }
    }
    return document.FindSection(u"dialog_" + suffix);
}

// ---- custom transitions ----

std::vector<std::u16string> CustomEffectNames(std::u16string_view text) {
    std::vector<std::u16string> names;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u',', start);
        if (end == std::u16string_view::npos) end = text.size();
        size_t first = start;
        while (first < end && (text[first] == u' ' || text[first] == u'\t')) ++first;
        if (first < end) names.emplace_back(text.substr(first, end - first));
        start = end + 1;
    }
    return names;
}

std::u16string ChooseCustomEffectEntry(std::u16string_view text) {
    std::vector<std::u16string> names = CustomEffectNames(text);
    if (names.empty()) return {};
    if (names.size() == 1) return names.front();
    ReseedRandomFromClock();
    const int32_t count = int32_t(std::min<size_t>(names.size(), 2147483647));
    return names[size_t(ShowRandom(count))];
}

}  // namespace orb
