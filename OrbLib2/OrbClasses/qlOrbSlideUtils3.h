// Slide timing helpers: the shared show time, the frame geometry of a
// screen, which slides are on screen at a time, dialog sections and the
// choice among a custom transition's entries.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/OrbClasses/qlOrbSlideInfo.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpExceptions.h"

namespace ql {
class TIniStorage;
class TIniSection;
}  // namespace ql

namespace orb {

class TOrbSource;

// A show that cannot be laid out on a screen; the message says why.
QL_COMMON_EXCEPTION(ESlideProducerError, ql::TCommonException);

inline constexpr char kZeroSizeText[] = "ZeroSize of Presentation!";
inline constexpr char kNoSlidesText[] = "No Slides in Presentation";
inline constexpr char kNoTimingText[] = "TSlideProducer.CurrentTiming not Assigned";

// Begin of the pre-show slide (-1) and of everything before it.
inline constexpr double kPreShowBegin = -1073741823;
inline constexpr double kBeforePreShowBegin = -2147483647;

// The displayed show time and the raw clock time (ms), written by the engine
// and read by the loader, the producer and every container.
class TTiming : public ql::TRefObj {
public:
    double ShowTime() const { return m_showTime.load(std::memory_order_relaxed); }
    double ClockTime() const { return m_clockTime.load(std::memory_order_relaxed); }
    void SetShowTime(double t) { m_showTime.store(t, std::memory_order_relaxed); }
    void SetClockTime(double t) { m_clockTime.store(t, std::memory_order_relaxed); }

private:
    std::atomic<double> m_showTime{0};
    std::atomic<double> m_clockTime{0};
};

// ---- frame geometry ----

enum TFitMode : int32_t { fmFitInside = 0, fmCover = 1, fmStretch = 2 };

// What the show's [Main] says about its size on screen.
struct TDesignOptions {
    int32_t MinorVersion = 13;
    int32_t Width = 0;   // "opt_scr_width"
    int32_t Height = 0;  // "opt_scr_height"
    bool FixedSize = false;             // "opt_scr_fullfixedsize"
    std::optional<double> Ratio;        // "opt_scr_ratio", older projects only
};
TDesignOptions ReadDesignOptions(const ql::TIniSection& main);

struct TFrameGeometry {
    int32_t ScreenWidth = 0, ScreenHeight = 0;
    float CenterX = 0, CenterY = 0;  // half the screen size
    double Aspect = 1;
    int32_t FrameWidth = 0, FrameHeight = 0;  // the slide's size on screen
    ql::TRect SlideRect;                      // the frame centred on the screen, clipped to it
    TCamera3D Camera;                         // centred, one screen height in front
};

// The slide frame on a screen of sw x sh for fit mode `mode` and scale
// percentages px, py. Screen sizes, scales and ratios from outside are
// bounded here. Raises ESlideProducerError "ZeroSize of Presentation!" when a
// current project has no design size.
TFrameGeometry ComputeFrameGeometry(const TDesignOptions& design, int32_t sw, int32_t sh, int32_t mode,
                                    float px = 100, float py = 100);

// ---- slides on screen ----

struct TVisibleSlides {
    int64_t First = -1;
    int64_t Last = -1;  // First + 1 while a transition runs, else First
};

// Finds the slides visible at a time from a cursor that stays where the last
// search ended, so a clock moving forward costs a step or two.
class TVisibleSlideCursor {
public:
    explicit TVisibleSlideCursor(const TOrbSource& source) : m_source(source) {}
    TVisibleSlides Find(double t);
    int64_t Cursor() const { return m_cursor; }
    void SetCursor(int64_t index) { m_cursor = index < -1 ? -1 : index; }

private:
    // NextEffectEnd of slide k, rounded to whole ms.
    double EndOf(int64_t k) const;
    // false when the walk ran out of steps.
    bool Walk(double t);

    const TOrbSource& m_source;
    int64_t m_cursor = 0;
};

// ---- dialogs ----

// The section of the dialog named `name`: "dialog_" followed by i and "_"
// when "custom_dialog"+i names it, else by the name itself. nullptr when the
// document has no such section.
ql::TIniSection* DialogSection(const ql::TIniStorage& document, const std::u16string& name);

// ---- custom transitions ----

// The package entry names of a custom transition text: comma-separated,
// blanks and tabs before a name skipped, empty names dropped.
std::vector<std::u16string> CustomEffectNames(std::u16string_view text);
// The entry to play: the only name, or one drawn from the show's generator
// (re-seeded from the clock unless a fixed seed is set). Empty when the text
// names none.
std::u16string ChooseCustomEffectEntry(std::u16string_view text);

}  // namespace orb
