#include "OrbLib2/OrbClasses/qlOrbShowOptions.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// The number a key states; nothing when it is missing or not a number.
std::optional<int32_t> StatedInteger(const ql::TIniIdentList& main, std::u16string_view key) {
    const ql::TIniIdent* ident = main.FindIdent(key);
    if (!ident) return std::nullopt;
    return ql::TryStrToInt(ident->Value());
}

std::optional<std::u16string> StatedText(const ql::TIniIdentList& main, std::u16string_view key) {
    if (!main.FindIdent(key)) return std::nullopt;
    return main.ReadString(key, u"");
}

// A design side as stated: a negative one counts as 0, which no show can be drawn at.
std::optional<int32_t> CheckedDesignSide(std::optional<int32_t> side) {
    if (!side) return std::nullopt;
    return std::clamp(*side, 0, kMaxWindowSide);
}

int32_t ClampWindowSide(int32_t side) {
    return std::clamp(side, kMinWindowSide, kMaxWindowSide);
}

TRepeatMode RepeatModeOf(const std::u16string& text) {
    const std::u16string mode = ql::LowerCase(text);
    if (mode == u"close") return TRepeatMode::Close;
    if (mode == u"stop") return TRepeatMode::Stop;
    return TRepeatMode::Repeat;
}

// A float cannot hold every double the document may write; such a value is unreadable.
float CheckedFloat(double value, float defaultValue) {
    if (!(std::fabs(value) <= double(std::numeric_limits<float>::max()))) return defaultValue;
    return float(value);
}

}  // namespace

const char* RepeatModeName(TRepeatMode mode) {
    switch (mode) {
        case TRepeatMode::Close:
            return "close";
        case TRepeatMode::Stop:
            return "stop";
        default:
            return "repeat";
    }
}

TBgrColor ColorFromWindowsValue(int32_t value) {
    const auto bits = uint32_t(value);
    return TBgrColor{uint8_t(bits >> 16), uint8_t(bits >> 8), uint8_t(bits)};
}

int32_t TOrbShowOptions::WindowWidth() const {
    return ClampWindowSide(ScreenWidth.value_or(kDefaultWindowWidth));
}

int32_t TOrbShowOptions::WindowHeight() const {
    return ClampWindowSide(ScreenHeight.value_or(kDefaultWindowHeight));
}

TOrbShowOptions ReadShowOptions(const ql::TIniIdentList& main) {
    TOrbShowOptions o;
    o.MinorVersion = main.ReadInteger(u"MinorVersion", 13);
    const int32_t slides = main.ReadInteger(u"opt_slidescount", 0);
    if (slides < 0 || slides > kMaxSlideCount)
        o.RefusedSlideCount = slides;
    else
        o.SlideCount = slides;
    o.Repeat = RepeatModeOf(main.ReadString(u"opt_repeat", u"repeat"));
    o.RandomOrder = main.ReadBool(u"opt_random", false);
    o.ManualShow = main.ReadString(u"opt_manualshow", u"") == u"1";
    o.PauseWhenInactive = main.ReadBool(u"opt_pausewheninactive", true);
    o.ScreenSaver = main.ReadBool(u"opt_ssaver", false);

    o.ScreenMode = main.ReadInteger(u"opt_scr_full", kFullScreenMode);
    o.WithoutBorder = main.ReadBool(u"opt_withoutborder", true);
    o.Caption = StatedText(main, u"opt_scr_caption");
    o.ScreenWidth = CheckedDesignSide(StatedInteger(main, u"opt_scr_width"));
    o.ScreenHeight = CheckedDesignSide(StatedInteger(main, u"opt_scr_height"));
    o.FixedSize = main.ReadBool(u"opt_scr_fullfixedsize", false);
    if (main.FindIdent(u"opt_scr_ratio")) {
        const double ratio = main.ReadReal(u"opt_scr_ratio", 0);
        if (ratio > 0 && std::isfinite(ratio)) o.Ratio = ratio;
    }
    o.HiderColor = ColorFromWindowsValue(main.ReadInteger(u"opt_scr_hidercolor", 0));
    o.UnsharpAmount = CheckedFloat(main.ReadReal(u"opt_scr_unsharpamount", 0), 0);
    o.UnsharpThreshold =
        uint8_t(std::clamp(main.ReadInteger(u"opt_scr_unsharpthreshold", 0), 0, 255));

    o.LeftMouse = main.ReadString(u"opt_leftmouse", u"");
    o.RightMouse = main.ReadString(u"opt_rightmouse", u"");
    o.DoubleClick = main.ReadString(u"opt_dblclick", u"");
    o.ExitOnMove = main.ReadBool(u"opt_exitonmove", false);
    o.PermitControl = main.ReadBool(u"opt_synchpermitcontrol", true);
    if (main.FindIdent(u"opt_lockf1")) {
        // An unreadable value is as good as a missing one.
        const bool locked = main.ReadBool(u"opt_lockf1", false);
        if (locked == main.ReadBool(u"opt_lockf1", true)) o.LockF1 = locked;
    }
    o.LockWheel = main.ReadBool(u"opt_lockwheel", false);
    o.HideCursor = main.ReadInteger(u"opt_hidecursor", 0);
    o.HideIntervalSeconds =
        std::clamp(main.ReadInteger(u"opt_hc2_hideinterval", 0), 0, kMaxHideIntervalSeconds);
    o.HideOnStartup = main.ReadBool(u"opt_hc2_hideonstartup", false);

    o.UseMusic = main.ReadBool(u"opt_usemusic", false);
    o.SyncMode = main.ReadBool(u"opt_syncmode", false);
    o.RepeatMusic = main.ReadBool(u"opt_repeatmusic", true);
    o.RandomMusic = main.ReadBool(u"opt_rndmusic", false);
    o.FullyPlaySound = main.ReadBool(u"opt_fullyplaysound", false);
    o.DisableMusicRandom = main.ReadBool(u"opt_disablemusicrandom", false);

    const int32_t runOnExit = main.ReadInteger(u"opt_runapponexit", 0);
    if (runOnExit == int32_t(TRunOnExit::RunText) || runOnExit == int32_t(TRunOnExit::OpenShow))
        o.RunOnExit = TRunOnExit(runOnExit);
    o.RunOnExitTarget = main.ReadString(u"opt_runapponexitfn", u"");
    o.RunOnExitOnlyAtEnd = main.ReadBool(u"opt_runapponexitiflastslide", true);

    o.ExeFileName = main.ReadString(u"opt_exefn", u"");
    o.StartupWidth = ClampWindowSide(main.ReadInteger(u"opt_startupwidth", kDefaultWindowWidth));
    o.StartupHeight = ClampWindowSide(main.ReadInteger(u"opt_startupheight", kDefaultWindowHeight));
    o.CustomDialogCount =
        std::clamp(main.ReadInteger(u"opt_customdialogscount", 0), 0, kMaxCustomDialogs);
    return o;
}

TOrbShowOptions ReadShowOptions(const ql::TIniStorage& document) {
    const ql::TIniSection* main = document.FindSection(kMainSection);
    return main ? ReadShowOptions(*main) : TOrbShowOptions{};
}

}  // namespace orb
