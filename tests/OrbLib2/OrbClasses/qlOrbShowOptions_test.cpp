// The show options of [Main]: every bounded value is checked where it is
// read, so readers get a default for a missing or unreadable key and a value
// within bounds for an absurd one.
#include "OrbLib2/OrbClasses/qlOrbShowOptions.h"

#include <gtest/gtest.h>

#include <string>

#include "IniTestSupport.h"
#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"
#include "QlLib/qlIniStorage.h"

namespace orb {
namespace {

using ql::test::DocumentFromText;

TOrbShowOptions OptionsOf(const std::string& mainKeys) {
    return ReadShowOptions(*DocumentFromText("[Main]\n" + mainKeys));
}

using TField = int64_t (*)(const TOrbShowOptions&);
// What a table field gives for an option the record leaves unset.
constexpr int64_t kUnset = -999999;

struct TBoundCase {
    const char* Name;
    TField Field;
    const char* Keys;  // the [Main] lines; empty for a missing key
    int64_t Expected;
};

const TField kSlideCount = [](const TOrbShowOptions& o) -> int64_t { return o.SlideCount; };
const TField kRefusedCount = [](const TOrbShowOptions& o) -> int64_t {
    return o.RefusedSlideCount.value_or(kUnset);
};
const TField kDesignWidth = [](const TOrbShowOptions& o) -> int64_t { return o.DesignWidth(); };
const TField kDesignHeight = [](const TOrbShowOptions& o) -> int64_t { return o.DesignHeight(); };
const TField kWindowWidth = [](const TOrbShowOptions& o) -> int64_t { return o.WindowWidth(); };
const TField kWindowHeight = [](const TOrbShowOptions& o) -> int64_t { return o.WindowHeight(); };
const TField kThreshold = [](const TOrbShowOptions& o) -> int64_t { return o.UnsharpThreshold; };
const TField kHideInterval = [](const TOrbShowOptions& o) -> int64_t {
    return o.HideIntervalSeconds;
};
const TField kStartupWidth = [](const TOrbShowOptions& o) -> int64_t { return o.StartupWidth; };
const TField kStartupHeight = [](const TOrbShowOptions& o) -> int64_t { return o.StartupHeight; };
const TField kDialogs = [](const TOrbShowOptions& o) -> int64_t { return o.CustomDialogCount; };
const TField kRepeat = [](const TOrbShowOptions& o) -> int64_t { return int64_t(o.Repeat); };
const TField kF1Locked = [](const TOrbShowOptions& o) -> int64_t {
    return o.LockF1 ? int64_t(*o.LockF1) : kUnset;
};
const TField kScreenMode = [](const TOrbShowOptions& o) -> int64_t { return o.ScreenMode; };

const TField kRunOnExit = [](const TOrbShowOptions& o) -> int64_t { return int64_t(o.RunOnExit); };

const TBoundCase kBoundCases[] = {
    {"slide count missing", kSlideCount, "", 0},
    {"slide count stated", kSlideCount, "opt_slidescount=12\n", 12},
    {"slide count garbage", kSlideCount, "opt_slidescount=many\n", 0},
    {"slide count at the bound", kSlideCount, "opt_slidescount=100000\n", 100000},
    {"slide count negative is refused", kRefusedCount, "opt_slidescount=-1\n", -1},
    {"slide count huge is refused", kRefusedCount, "opt_slidescount=2000000000\n", 2000000000},
    {"slide count huge leaves no count", kSlideCount, "opt_slidescount=2000000000\n", 0},
    {"slide count in range refuses nothing", kRefusedCount, "opt_slidescount=3\n", kUnset},
    {"design width missing", kDesignWidth, "", 0},
    {"design width garbage", kDesignWidth, "opt_scr_width=wide\n", 0},
    {"design width zero", kDesignWidth, "opt_scr_width=0\n", 0},
    {"design width negative", kDesignWidth, "opt_scr_width=-5\n", 0},
    {"design width stated", kDesignWidth, "opt_scr_width=800\n", 800},
    {"design width huge", kDesignWidth, "opt_scr_width=2000000000\n", 16384},
    {"design height stated", kDesignHeight, "opt_scr_height=600\n", 600},
    {"window width missing", kWindowWidth, "", 640},
    {"window width garbage", kWindowWidth, "opt_scr_width=wide\n", 640},
    {"window width zero", kWindowWidth, "opt_scr_width=0\n", 10},
    {"window width tiny", kWindowWidth, "opt_scr_width=3\n", 10},
    {"window width huge", kWindowWidth, "opt_scr_width=2000000000\n", 16384},
    {"window height missing", kWindowHeight, "", 480},
    {"window height negative", kWindowHeight, "opt_scr_height=-5\n", 10},
    {"unsharp threshold missing", kThreshold, "", 0},
    {"unsharp threshold above a byte", kThreshold, "opt_scr_unsharpthreshold=999\n", 255},
    {"unsharp threshold negative", kThreshold, "opt_scr_unsharpthreshold=-3\n", 0},
    {"hide interval missing", kHideInterval, "", 0},
    {"hide interval stated", kHideInterval, "opt_hc2_hideinterval=5\n", 5},
    {"hide interval beyond a day", kHideInterval, "opt_hc2_hideinterval=999999999\n", 86400},
    {"hide interval negative", kHideInterval, "opt_hc2_hideinterval=-1\n", 0},
    {"start-up width missing", kStartupWidth, "", 640},
    {"start-up width stated", kStartupWidth, "opt_startupwidth=300\n", 300},
    {"start-up width garbage", kStartupWidth, "opt_startupwidth=x\n", 640},
    {"start-up width huge", kStartupWidth, "opt_startupwidth=99999\n", 16384},
    {"start-up height tiny", kStartupHeight, "opt_startupheight=0\n", 10},
    {"custom dialogs missing", kDialogs, "", 0},
    {"custom dialogs negative", kDialogs, "opt_customdialogscount=-4\n", 0},
    {"custom dialogs huge", kDialogs, "opt_customdialogscount=2000000000\n", 10000},
    {"repeat missing", kRepeat, "", int64_t(TRepeatMode::Repeat)},
    {"repeat close in capitals", kRepeat, "opt_repeat=Close\n", int64_t(TRepeatMode::Close)},
    {"repeat stop", kRepeat, "opt_repeat=stop\n", int64_t(TRepeatMode::Stop)},
    {"repeat unknown text", kRepeat, "opt_repeat=twice\n", int64_t(TRepeatMode::Repeat)},
    {"F1 lock missing", kF1Locked, "", kUnset},
    {"F1 lock garbage", kF1Locked, "opt_lockf1=yes\n", kUnset},
    {"F1 lock off", kF1Locked, "opt_lockf1=0\n", 0},
    {"F1 lock on", kF1Locked, "opt_lockf1=1\n", 1},
    {"screen mode missing", kScreenMode, "", 1},
    {"screen mode garbage", kScreenMode, "opt_scr_full=full\n", 1},
    {"screen mode window", kScreenMode, "opt_scr_full=0\n", 0},
    {"run on exit missing", kRunOnExit, "", int64_t(TRunOnExit::None)},
    {"run on exit opens a show", kRunOnExit, "opt_runapponexit=2\n", int64_t(TRunOnExit::OpenShow)},
    {"run on exit unknown mode", kRunOnExit, "opt_runapponexit=7\n", int64_t(TRunOnExit::None)},
    {"run on exit negative mode", kRunOnExit, "opt_runapponexit=-1\n", int64_t(TRunOnExit::None)},
};

TEST(ShowOptions, BoundedValues_TakeTheirDefaultOrAreBroughtIntoBounds) {
    for (const TBoundCase& c : kBoundCases)
        EXPECT_EQ(c.Field(OptionsOf(c.Keys)), c.Expected) << c.Name;
}

TEST(ShowOptions, MissingMainSection_GivesEveryDefault) {
    const TOrbShowOptions o = ReadShowOptions(*DocumentFromText("[slide1]\nopt_slidescount=4\n"));
    EXPECT_EQ(o.SlideCount, 0);
    EXPECT_EQ(o.ScreenMode, kFullScreenMode);
    EXPECT_TRUE(o.WithoutBorder);
    EXPECT_TRUE(o.PauseWhenInactive);
    EXPECT_TRUE(o.PermitControl);
    EXPECT_TRUE(o.RepeatMusic);
    EXPECT_FALSE(o.Caption.has_value());
    EXPECT_FALSE(o.Ratio.has_value());
    EXPECT_EQ(o.MinorVersion, 13);
}

TEST(ShowOptions, FloatsTheRecordCannotHold_FallBackToTheirDefault) {
    EXPECT_FLOAT_EQ(OptionsOf("opt_scr_unsharpamount=0.75\n").UnsharpAmount, 0.75f);
    EXPECT_EQ(OptionsOf("opt_scr_unsharpamount=1e300\n").UnsharpAmount, 0.0f);
    EXPECT_EQ(OptionsOf("opt_scr_unsharpamount=abc\n").UnsharpAmount, 0.0f);
    // Only a positive ratio describes a shape.
    EXPECT_FALSE(OptionsOf("opt_scr_ratio=0\n").Ratio.has_value());
    EXPECT_FALSE(OptionsOf("opt_scr_ratio=-1.5\n").Ratio.has_value());
    ASSERT_TRUE(OptionsOf("opt_scr_ratio=1.5\n").Ratio.has_value());
}

TEST(ShowOptions, TextAndFlags_AreReadAsTheShowWritesThem) {
    const TOrbShowOptions o = OptionsOf(
        "opt_scr_caption=My show\nopt_leftmouse=Next slide\nopt_manualshow=1\nopt_random=1\n"
        "opt_exefn=show.orb\nopt_scr_hidercolor=255\nopt_usemusic=1\nopt_repeatmusic=0\n");
    EXPECT_EQ(o.Caption.value_or(u"?"), u"My show");
    EXPECT_EQ(o.LeftMouse, u"Next slide");
    EXPECT_TRUE(o.ManualShow);
    EXPECT_TRUE(o.RandomOrder);
    EXPECT_EQ(o.ExeFileName, u"show.orb");
    EXPECT_EQ(o.HiderColor, (TBgrColor{0, 0, 255}));
    EXPECT_TRUE(o.UseMusic);
    EXPECT_FALSE(o.RepeatMusic);
    // "opt_manualshow" counts only as the exact text "1".
    EXPECT_FALSE(OptionsOf("opt_manualshow=01\n").ManualShow);
}

TEST(ShowOptions, ZeroDesignSize_StillRefusesACurrentProject) {
    // The window falls back to a usable size, the frame geometry does not.
    const TOrbShowOptions o = OptionsOf("opt_scr_width=0\nopt_scr_height=600\n");
    EXPECT_EQ(o.WindowWidth(), kMinWindowSide);
    EXPECT_THROW(ComputeFrameGeometry(DesignOptionsOf(o), 1920, 1080, ffFitInside),
                 ESlideProducerError);
    const TOrbShowOptions none = OptionsOf("");
    EXPECT_THROW(ComputeFrameGeometry(DesignOptionsOf(none), 1920, 1080, ffFitInside),
                 ESlideProducerError);
}

}  // namespace
}  // namespace orb
