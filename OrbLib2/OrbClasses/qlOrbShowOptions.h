// The show options of a project's [Main] section ("opt_..." keys), read and
// checked once. The show source builds the record when it opens the show;
// code that holds only the document (the window placement before the show is
// built, tools, tests) reads the same record through ReadShowOptions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "OrbLib2/3DEngine/qlOrbEffectParams.h"

namespace ql {
class TIniStorage;
class TIniIdentList;
}  // namespace ql

namespace orb {

inline constexpr char16_t kMainSection[] = u"Main";

// Shows are untrusted: counts read from them are refused beyond these.
inline constexpr int32_t kMaxSlideCount = 100000;
// Sides of a window or of a design size, in pixels.
inline constexpr int32_t kMinWindowSide = 10;
inline constexpr int32_t kMaxWindowSide = 16384;
inline constexpr int32_t kDefaultWindowWidth = 640;
inline constexpr int32_t kDefaultWindowHeight = 480;
// Cursor hiding waits at most a day.
inline constexpr int32_t kMaxHideIntervalSeconds = 86400;
// More custom dialogs than this are not looked through.
inline constexpr int32_t kMaxCustomDialogs = 10000;

// What follows the last slide ("opt_repeat").
enum class TRepeatMode : int32_t { Repeat = 0, Close = 1, Stop = 2 };
const char* RepeatModeName(TRepeatMode mode);

// A Windows colour value keeps red in the low byte.
TBgrColor ColorFromWindowsValue(int32_t value);

// "opt_scr_full": 1 is full screen; every other value is a window, and 0 and 3
// are sized by the show's design size.
inline constexpr int32_t kFullScreenMode = 1;

// What the show asks for when it is closed ("opt_runapponexit").
enum class TRunOnExit : int32_t { None = 0, RunText = 1, OpenShow = 2 };

struct TOrbShowOptions {
    // ---- the show and its slide list ----
    int32_t MinorVersion = 13;  // "MinorVersion": above 12 a show must state its design size
    int32_t SlideCount = 0;     // "opt_slidescount", 0 .. kMaxSlideCount
    // A stated slide count outside 0 .. kMaxSlideCount, which refuses the show.
    std::optional<int32_t> RefusedSlideCount;
    TRepeatMode Repeat = TRepeatMode::Repeat;  // "opt_repeat"; unknown text repeats
    bool RandomOrder = false;                  // "opt_random"
    bool ManualShow = false;                   // "opt_manualshow" is "1"
    bool PauseWhenInactive = true;             // "opt_pausewheninactive"
    bool ScreenSaver = false;                  // "opt_ssaver"

    // ---- screen and window ----
    int32_t ScreenMode = kFullScreenMode;  // "opt_scr_full"
    bool WithoutBorder = true;             // "opt_withoutborder"
    // "opt_scr_caption"; who shows it decides what stands for a missing one.
    std::optional<std::u16string> Caption;
    // "opt_scr_width", "opt_scr_height" as stated, within 0 .. kMaxWindowSide
    // (0 also for a negative value); nothing when missing or unreadable.
    std::optional<int32_t> ScreenWidth;
    std::optional<int32_t> ScreenHeight;
    bool FixedSize = false;        // "opt_scr_fullfixedsize"
    std::optional<double> Ratio;   // "opt_scr_ratio", positive; older projects only
    TBgrColor HiderColor;          // "opt_scr_hidercolor"
    float UnsharpAmount = 0;       // "opt_scr_unsharpamount"
    uint8_t UnsharpThreshold = 0;  // "opt_scr_unsharpthreshold", clamped to a byte

    // ---- input and cursor ----
    std::u16string LeftMouse;    // "opt_leftmouse": an action name
    std::u16string RightMouse;   // "opt_rightmouse"
    std::u16string DoubleClick;  // "opt_dblclick"
    bool ExitOnMove = false;     // "opt_exitonmove"
    bool PermitControl = true;   // "opt_synchpermitcontrol"
    // "opt_lockf1"; the start-up page locks F1 unless the show unlocked it.
    std::optional<bool> LockF1;
    bool LockWheel = false;           // "opt_lockwheel"
    int32_t HideCursor = 0;           // "opt_hidecursor": 1 at once, 2 after the interval
    int32_t HideIntervalSeconds = 0;  // "opt_hc2_hideinterval", 0 .. kMaxHideIntervalSeconds
    bool HideOnStartup = false;       // "opt_hc2_hideonstartup"

    // ---- music ----
    bool UseMusic = false;            // "opt_usemusic"
    bool SyncMode = false;            // "opt_syncmode"
    bool RepeatMusic = true;          // "opt_repeatmusic"
    bool RandomMusic = false;         // "opt_rndmusic"
    bool FullyPlaySound = false;      // "opt_fullyplaysound"
    bool DisableMusicRandom = false;  // "opt_disablemusicrandom"

    // ---- leaving the show ----
    TRunOnExit RunOnExit = TRunOnExit::None;  // "opt_runapponexit"; other values run nothing
    std::u16string RunOnExitTarget;           // "opt_runapponexitfn"
    bool RunOnExitOnlyAtEnd = true;           // "opt_runapponexitiflastslide"

    // ---- publishing, start-up page, dialogs ----
    std::u16string ExeFileName;  // "opt_exefn"
    int32_t StartupWidth =
        kDefaultWindowWidth;  // "opt_startupwidth", kMinWindowSide .. kMaxWindowSide
    int32_t StartupHeight = kDefaultWindowHeight;  // "opt_startupheight", likewise
    int32_t CustomDialogCount = 0;  // "opt_customdialogscount", 0 .. kMaxCustomDialogs

    // The design size the frame geometry works with; 0 when the show states
    // none, which a current project refuses ("ZeroSize of Presentation!").
    int32_t DesignWidth() const { return ScreenWidth.value_or(0); }
    int32_t DesignHeight() const { return ScreenHeight.value_or(0); }
    // A window of the design size: 640 x 480 when the show states none, and
    // never smaller than kMinWindowSide.
    int32_t WindowWidth() const;
    int32_t WindowHeight() const;
    // Whether the window takes the design size (modes 0 and 3).
    bool SizedByDesign() const { return ScreenMode == 0 || ScreenMode == 3; }
    bool F1Locked() const { return LockF1.value_or(false); }
};

// The options of a [Main] section; a missing or unreadable key gives its
// default, a value out of bounds is brought into them.
TOrbShowOptions ReadShowOptions(const ql::TIniIdentList& main);
// The same from a whole document; all defaults when it has no [Main].
TOrbShowOptions ReadShowOptions(const ql::TIniStorage& document);

}  // namespace orb
