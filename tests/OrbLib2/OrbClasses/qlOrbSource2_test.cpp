#include "OrbLib2/OrbClasses/qlOrbSource2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using ql::test::DocumentFromText;

ql::TRef<ql::TRefObj> AnySource() {
    return ql::MakeRef<ql::TRefObj>();
}

std::unique_ptr<TOrbSource> Source(const std::string& text,
                                   const std::u16string& program = u"/opt/show") {
    return std::make_unique<TOrbSource>(AnySource(), DocumentFromText(text), program);
}

std::string LoadError(const std::string& text) {
    try {
        Source(text);
    } catch (const EOrbSourceError& e) {
        return e.Message();
    }
    return "(loaded)";
}

class OrbSource : public ::testing::Test {
protected:
    TFixedRandomSeed seed{7};
};

// Three slides whose transitions are fixed by the slides themselves, so that
// no random draw changes the times.
const char kFixedShow[] =
    "[Main]\n"
    "opt_slidescount=3\n"
    "opt_synchpos1=4000\n"
    "opt_synchpos2=8000\n"
    "opt_synchpos3=12000\n"
    "opt_fx_enable=1\n"
    "opt_fx_time=1000\n"
    "opt_fx_eff3=1234\n"
    "[slide1]\n"
    "UsePersonal=1\nPers_Effect=1\nEffect_Class=2\nEffect_Type=3\nEffectTime=5000\n"
    "slideid=First\n"
    "[slide2]\n"
    "UsePersonal=1\nPers_Effect=1\nEffect_Class=0\n"
    "picture=C:\\pics\\holiday.photo.jpg\n"
    "[slide3]\n"
    "UsePersonal=1\nPers_Effect=1\nEffect_Class=5\nEffect_Type=b\nEffectTime=700\n";

std::string WithRepeat(const char* mode) {
    return std::string(kFixedShow) + "[Main]\nopt_repeat=" + mode + "\n";
}

void ExpectSlide(const TSlideInfo& slide, double begin, double end, double effect,
                 double nextEffect, double nextEnd) {
    EXPECT_EQ(slide.BeginTime, begin);
    EXPECT_EQ(slide.EndTime, end);
    EXPECT_EQ(slide.EffectTime, effect);
    EXPECT_EQ(slide.NextEffectTime, nextEffect);
    EXPECT_EQ(slide.NextEffectEnd, nextEnd);
}

// ---- slide list ----

TEST_F(OrbSource, SlideList_RowsFromSynchPointsAndOwnTransitions) {
    auto source = Source(kFixedShow);
    ASSERT_EQ(source->SlideCount(), 3);
    EXPECT_EQ(source->TotalTime(), 12000);
    EXPECT_EQ(source->RepeatMode(), TRepeatMode::Repeat);
    const TSlideInfoList& slides = source->Slides();
    // 5000 ms of transition into a 4000 ms slide is cut to its length; the
    // last slide's next transition is the first one's, uncut, in a repeating show.
    ExpectSlide(slides[0], 0, 4000, 4000, 0, 4000);
    ExpectSlide(slides[1], 4000, 8000, 0, 700, 8700);
    ExpectSlide(slides[2], 8000, 12000, 700, 5000, 17000);
    EXPECT_EQ(slides[0].SlideId, u"First");
    EXPECT_EQ(slides[1].SlideId, u"holiday.photo");
    EXPECT_EQ(slides[2].SlideId, u"");
}

TEST_F(OrbSource, SlideList_CloseAndStopEndWithoutNextTransition) {
    for (const char* mode : {"close", "stop", "CLOSE"}) {
        auto source = Source(WithRepeat(mode));
        EXPECT_NE(source->RepeatMode(), TRepeatMode::Repeat) << mode;
        ExpectSlide(source->Slides()[2], 8000, 12000, 700, 0, 12000);
    }
    EXPECT_EQ(Source(WithRepeat("sometimes"))->RepeatMode(), TRepeatMode::Repeat);
}

TEST_F(OrbSource, SlideEffect_OwnClassTypeAndTime) {
    auto source = Source(kFixedShow);
    const TSlideEffect first = source->SlideEffect(0);
    EXPECT_EQ(first.EffectClass, 2);
    EXPECT_EQ(first.EffectType, 3);
    EXPECT_EQ(first.EffectTime, 5000);  // the slide list cuts it, the effect does not
    const TSlideEffect none = source->SlideEffect(1);
    EXPECT_EQ(none.EffectClass, 0);
    EXPECT_EQ(none.EffectTime, 0);
    const TSlideEffect last = source->SlideEffect(2);
    EXPECT_EQ(last.EffectClass, 5);
    EXPECT_EQ(last.EffectType, 10);  // "b"
    // Later cycles repeat the slides.
    EXPECT_EQ(source->SlideEffect(5).EffectType, 10);
}

// ---- slide at index and at time ----

TEST_F(OrbSource, SlideInfo_BeforeTheShowAndLaterCycles) {
    auto source = Source(kFixedShow);
    const TSlideAtIndex before = source->SlideInfo(-1);
    EXPECT_EQ(before.Cycle, -1);
    ExpectSlide(before.Info, -1073741823, 0, 0, 4000, 4000);
    const TSlideAtIndex earlier = source->SlideInfo(-7);
    EXPECT_EQ(earlier.Cycle, -1);
    ExpectSlide(earlier.Info, -2147483647, -1073741823, 0, 0, -1073741823);
    const TSlideAtIndex later = source->SlideInfo(3 + 2);
    EXPECT_EQ(later.Cycle, 1);
    ExpectSlide(later.Info, 8000 + 12000, 12000 + 12000, 700, 5000, 17000 + 12000);
    EXPECT_EQ(source->SlideInfo(2).Cycle, 0);
}

TEST_F(OrbSource, SlideAtTime_BoundariesBelongToTheEarlierSlide) {
    auto source = Source(kFixedShow);
    struct TCase {
        double Time;
        int64_t Index;
        int64_t Cycle;
    };
    const TCase cases[] = {
        {0, -1, -1},
        {0.001, 0, 0},
        {4000, 0, 0},
        {4000.5, 1, 0},
        {8000, 1, 0},
        {12000, 2, 0},
        {12000.5, 3, 1},
        {16000, 3, 1},
        {16001, 4, 1},
        {24000, 5, 1},
        {24000.25, 6, 2},
        {-5, -1, -1},
        {1e9 * 12000 + 5000, int64_t(1e9) * 3 + 1, int64_t(1e9)},
    };
    for (const TCase& c : cases) {
        const TSlideAtTime at = source->SlideAtTime(c.Time);
        EXPECT_EQ(at.Index, c.Index) << c.Time;
        EXPECT_EQ(at.Cycle, c.Cycle) << c.Time;
    }
}

TEST_F(OrbSource, SlideAtTime_HostileTimesTerminate) {
    auto source = Source(kFixedShow);
    EXPECT_EQ(source->SlideAtTime(std::nan("")).Index, -1);
    EXPECT_EQ(source->SlideAtTime(-1e300).Index, -1);
    EXPECT_EQ(source->SlideAtTime(-std::numeric_limits<double>::infinity()).Index, -1);
    const TSlideAtTime far = source->SlideAtTime(std::numeric_limits<double>::infinity());
    EXPECT_EQ(far.Cycle, kMaxShowCycle);
    EXPECT_EQ(far.Index, kMaxShowCycle * 3 + 2);
    EXPECT_EQ(source->SlideAtTime(1e300).Cycle, kMaxShowCycle);
}

// The first record, counting up from -1, whose range holds the time.
int64_t SteppedSlideAtTime(const TOrbSource& source, double time) {
    for (int64_t i = -1; i < 100000; ++i) {
        const TSlideInfo info = source.SlideInfo(i).Info;
        if (info.BeginTime <= time && time <= info.EndTime) return i;
    }
    return -100;
}

TEST_F(OrbSource, SlideAtTime_AgreesWithSteppingThroughTheSlides) {
    // Zero-length slides at the start and in the middle put several
    // boundaries at one time.
    auto source = Source(
        "[Main]\nopt_slidescount=6\nopt_synchpos1=0\nopt_synchpos2=0\nopt_synchpos3=333\n"
        "opt_synchpos4=333\nopt_synchpos5=1000\nopt_synchpos6=1001\n");
    for (double t = -10; t < 5200; t += 0.5) {
        ASSERT_EQ(source->SlideAtTime(t).Index, SteppedSlideAtTime(*source, t)) << t;
    }
    for (double t : {1001.0, 2002.0, 2002.0 + 333, 3003.0 + 1000}) {
        EXPECT_EQ(source->SlideAtTime(t).Index, SteppedSlideAtTime(*source, t)) << t;
    }
}

// ---- load errors and defaults ----

TEST_F(OrbSource, Load_CountsAndTimesThatCannotPlayAreErrors) {
    EXPECT_EQ(LoadError("[Other]\nx=1\n"), "The show document has no [Main] section");
    EXPECT_EQ(LoadError("[Main]\n"), "The show has no slides");
    EXPECT_EQ(LoadError("[Main]\nopt_slidescount=many\n"), "The show has no slides");
    EXPECT_EQ(LoadError("[Main]\nopt_slidescount=-1\n"), "Incorrect slide count: -1");
    EXPECT_EQ(LoadError("[Main]\nopt_slidescount=2000000000\n"),
              "Incorrect slide count: 2000000000");
    EXPECT_EQ(LoadError("[Main]\nopt_slidescount=2\nopt_synchpos1=500\nopt_synchpos2=400\n"),
              "Incorrect time");
    EXPECT_EQ(LoadError("[Main]\nopt_slidescount=1\nopt_synchpos1=-3\n"), "Incorrect time");
    EXPECT_EQ(LoadError("[Main]\nopt_slidescount=3\n"), "The show has no duration");
    EXPECT_EQ(LoadError("[Main]\nopt_slidescount=1\nopt_synchpos1=10\nopt_fx_custom_count=-4\n"),
              "Incorrect custom effect count: -4");
}

TEST_F(OrbSource, Load_UnreadableValuesGiveDefaults) {
    auto source = Source(
        "[Main]\nopt_slidescount=1\nopt_synchpos1=10\nopt_pausewheninactive=yes\n"
        "opt_scr_hidercolor=255\nopt_scr_unsharpamount=0.75\nopt_scr_unsharpthreshold=999\n"
        "opt_fx_enable=1\nopt_fx_time=100\nopt_fx_eff2=1\nopt_fx_rollcurving=abc\n"
        "opt_fx_swapdepth=1e300\nopt_fx_center_x=\n");
    EXPECT_TRUE(source->PauseWhenInactive());
    EXPECT_EQ(source->HiderColor(), (TBgrColor{0, 0, 255}));
    EXPECT_FLOAT_EQ(source->UnsharpAmount(), 0.75f);
    EXPECT_EQ(source->UnsharpThreshold(), 255);
    const TEffectParams& params = source->ShowEffectParams();
    EXPECT_FLOAT_EQ(params.RollCurving, 0.125f);
    EXPECT_FLOAT_EQ(params.SwapDepth, 4);  // beyond a float
    EXPECT_EQ(params.CenterX, 50);
    EXPECT_EQ(params.MosaicDX, 1);
    EXPECT_TRUE(params.RollVariants);
    EXPECT_TRUE(params.FlipSmooth);
}

// ---- screen saver ----

TEST_F(OrbSource, ScreenSaver_ScrProgramForcesItsSettingsIntoTheDocument) {
    auto document =
        DocumentFromText(std::string(kFixedShow) +
                         "[Main]\nopt_fcp=1\nopt_hidecursor=0\nopt_scr_full=0\nopt_repeat=close\n");
    TOrbSource source(AnySource(), *document, u"/usr/games/Holiday.SCR");
    EXPECT_TRUE(source.ScreenSaverMode());
    EXPECT_EQ(source.RepeatMode(), TRepeatMode::Repeat);
    EXPECT_EQ(document->ReadString(u"main", u"opt_ssaver", u""), u"1");
    EXPECT_EQ(document->ReadString(u"main", u"opt_fcp", u""), u"0");
    EXPECT_EQ(document->ReadString(u"main", u"opt_hidecursor", u""), u"1");
    EXPECT_EQ(document->ReadString(u"main", u"opt_scr_full", u""), u"1");
    EXPECT_EQ(document->ReadString(u"main", u"opt_repeat", u""), u"repeat");
}

TEST_F(OrbSource, ScreenSaver_OtherProgramsWriteItOff) {
    for (const char16_t* program : {u"/opt/show", u"/opt/a.scr/show", u"/opt/show.scrx", u""}) {
        auto document =
            DocumentFromText(std::string(kFixedShow) + "[Main]\nopt_ssaver=1\nopt_fcp=1\n");
        TOrbSource source(AnySource(), *document, program);
        EXPECT_FALSE(source.ScreenSaverMode());
        EXPECT_EQ(document->ReadString(u"main", u"opt_ssaver", u""), u"0");
        EXPECT_EQ(document->ReadString(u"main", u"opt_fcp", u""), u"1");
    }
}

// ---- effect options and groups ----

TEST_F(OrbSource, EffGroup_CharactersNameTypes) {
    EXPECT_EQ(TEffGroup(u"1a").Mask(), (1u << 0) | (1u << 8));
    EXPECT_EQ(TEffGroup(u"z").Mask(), 1u);
    EXPECT_EQ(TEffGroup(u"8Hh").Mask(), (1u << 7) | (1u << 15));
    EXPECT_EQ(TEffGroup(u"").Mask(), 0u);
    EXPECT_EQ(TEffGroup(u"1a").CharCount(), 2);
}

const char kRandomShow[] =
    "[Main]\nopt_slidescount=4\nopt_synchpos1=3000\nopt_synchpos2=6000\nopt_synchpos3=9000\n"
    "opt_synchpos4=12000\n";

TEST_F(OrbSource, Effects_ZeroTimeOrNoGroupsMeansNoTransitions) {
    for (const char* options : {"opt_fx_enable=1\nopt_fx_time=0\nopt_fx_eff3=123\n",
                                "opt_fx_enable=1\nopt_fx_time=-50\nopt_fx_eff3=123\n",
                                "opt_fx_enable=1\nopt_fx_time=800\n",
                                "opt_fx_enable=0\nopt_fx_time=800\nopt_fx_eff3=123\n"}) {
        auto source = Source(std::string(kRandomShow) + options);
        EXPECT_FALSE(source->EffectsEnabled()) << options;
        EXPECT_EQ(source->DefaultEffectTime(), 0) << options;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(source->Slides()[size_t(i)].EffectTime, 0);
            EXPECT_EQ(source->SlideEffect(i).EffectClass, 0);
        }
    }
}

TEST_F(OrbSource, Effects_RandomChoiceAlternatesOddAndEvenCharacters) {
    auto source = Source(std::string(kRandomShow) +
                         "opt_fx_enable=1\nopt_fx_time=800\nopt_fx_eff4=12345678\n");
    EXPECT_EQ(source->ActiveGroups(), std::vector<int32_t>{3});
    // Building the list drew eight choices; the parity is back where it began.
    for (int i = 0; i < 6; ++i) {
        const TSlideEffect effect = source->SlideEffect(i);
        EXPECT_EQ(effect.EffectClass, 3);
        EXPECT_EQ(effect.EffectTime, 800);
        // Character b names type b+1: odd characters first.
        EXPECT_EQ(effect.EffectType % 2, i % 2 == 0 ? 0 : 1) << i;
        EXPECT_GE(effect.Params.Seed, 0);
        EXPECT_LT(effect.Params.Seed, 4096 * 4096);
    }
    for (const TSlideInfo& slide : source->Slides()) EXPECT_EQ(slide.EffectTime, 800);
}

TEST_F(OrbSource, Effects_FixedSeedRepeatsTheChoices) {
    const std::string text = std::string(kRandomShow) +
                             "opt_fx_enable=1\nopt_fx_time=800\nopt_fx_eff1=1\nopt_fx_eff2=12\n"
                             "opt_fx_eff5=abc\nopt_fx_eff9=1234\n";
    auto draw = [&] {
        seed.Restart(99);
        auto source = Source(text);
        std::vector<int32_t> seen;
        for (int i = 0; i < 40; ++i) {
            const TSlideEffect effect = source->SlideEffect(i);
            seen.push_back(effect.EffectClass * 100 + effect.EffectType);
            seen.push_back(effect.Params.Seed);
        }
        for (const TSlideInfo& slide : source->Slides()) seen.push_back(int32_t(slide.EffectTime));
        return seen;
    };
    const std::vector<int32_t> first = draw();
    EXPECT_EQ(draw(), first);
    // Every group is visited once per pass over the four.
    seed.Restart(3);
    auto source = Source(text);
    std::set<int32_t> classes;
    for (int i = 0; i < 4; ++i) classes.insert(source->SlideEffect(i).EffectClass);
    EXPECT_EQ(classes, (std::set<int32_t>{0, 1, 4, 8}));
}

TEST_F(OrbSource, Effects_ClassOutsideTheKnownRangeIsNoTransition) {
    for (const char* effectClass : {"19", "-2", "2147483647", "x"}) {
        auto source = Source(std::string(kRandomShow) +
                             "opt_fx_enable=1\nopt_fx_time=800\nopt_fx_eff2=1\n[slide1]\n"
                             "UsePersonal=1\nPers_Effect=1\nEffectTime=500\nEffect_Class=" +
                             effectClass + "\n");
        const TSlideEffect effect = source->SlideEffect(0);
        EXPECT_EQ(effect.EffectClass, 0) << effectClass;
        EXPECT_EQ(effect.EffectTime, 0);
        EXPECT_EQ(source->Slides()[0].EffectTime, 0);
    }
}

TEST_F(OrbSource, Effects_CustomTextsFromTheLastGroup) {
    auto source =
        Source(std::string(kRandomShow) +
               "opt_fx_enable=1\nopt_fx_time=800\nopt_fx_eff19= 2,\t0,x,9,-1,2\n"
               "opt_fx_custom_count=3\nopt_fx_custom0=fx/zero.orb\nopt_fx_custom1=fx/one.orb\n"
               "opt_fx_custom2=fx/two.orb\n"
               "[slide2]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=18\nEffect_Type=1\n"
               "EffectTime=400\n");
    EXPECT_EQ(source->CustomEffectText(), u"fx/zero.orb,fx/two.orb");
    const TSlideEffect own = source->SlideEffect(1);
    EXPECT_EQ(own.EffectClass, 18);
    EXPECT_EQ(own.EffectType, 0);
    EXPECT_EQ(own.EffectTime, 400);
    EXPECT_EQ(own.Params.CustomText, u"fx/one.orb");
    // The only group is the custom one: a drawn slide plays the listed effects.
    const TSlideEffect drawn = source->SlideEffect(0);
    EXPECT_EQ(drawn.EffectClass, 18);
    EXPECT_EQ(drawn.Params.CustomText, u"fx/zero.orb,fx/two.orb");
}

TEST_F(OrbSource, EffectParams_ShowWideOnlyWhenEnabled) {
    const std::string keys =
        "opt_fx_smoothline=250\nopt_fx_broomoffset=150\nopt_fx_rolldiameter=300\n"
        "opt_fx_rollusebackcolor=1\nopt_fx_rollbackcolor=65280\nopt_fx_roll3d=1\n"
        "opt_fx_center_x=20\nopt_fx_eff2=1\nopt_fx_time=900\n";
    auto off = Source(std::string(kRandomShow) + keys);
    EXPECT_FLOAT_EQ(off->ShowEffectParams().Smoothline, 0.25f);
    EXPECT_FLOAT_EQ(off->ShowEffectParams().BroomOffset, 0);
    EXPECT_EQ(off->ShowEffectParams().CenterX, 0);
    EXPECT_FALSE(off->ShowEffectParams().FlipSmooth);
    auto on = Source(std::string(kRandomShow) + keys + "opt_fx_enable=1\n");
    const TEffectParams& p = on->ShowEffectParams();
    EXPECT_FLOAT_EQ(p.BroomOffset, 1.5f);
    EXPECT_FLOAT_EQ(p.RollDiameter, 0.3f);
    EXPECT_TRUE(p.RollUseBackColor);
    EXPECT_EQ(p.RollBackColor, (TBgrColor{0, 255, 0}));
    EXPECT_TRUE(p.Roll3D);
    EXPECT_EQ(p.CenterX, 20);
}

TEST_F(OrbSource, EffectParams_SlideKeysOverrideWithAnExplicitClass) {
    auto source =
        Source(std::string(kRandomShow) +
               "opt_fx_enable=1\nopt_fx_time=900\nopt_fx_eff2=1\nopt_fx_broomoffset=150\n"
               "opt_fx_rolldiameter=300\nopt_fx_smoothline=100\nopt_fx_center_y=30\n"
               "[slide1]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=7\nEffectTime=300\n"
               "EffectUseSmoothline=1\nEffectSmoothline=40\nEffectCenterX=10\n"
               "EffectRollUseBackColor=1\nEffectRollBackColor=16711680\nEffectFlipSmooth=0\n"
               "[slide2]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=7\nEffectTime=300\n"
               "EffectSmoothline=40\n");
    const TEffectParams own = source->SlideEffect(0).Params;
    EXPECT_FLOAT_EQ(own.Smoothline, 0.04f);
    EXPECT_EQ(own.CenterX, 10);
    EXPECT_EQ(own.CenterY, 30);              // missing: the show's value
    EXPECT_FLOAT_EQ(own.BroomOffset, 1.5f);  // missing: the show's value
    EXPECT_FLOAT_EQ(own.RollDiameter, 0);    // missing: 0, not the show's
    EXPECT_EQ(own.RollBackColor, (TBgrColor{255, 0, 0}));
    EXPECT_FALSE(own.FlipSmooth);
    const TEffectParams plain = source->SlideEffect(1).Params;
    EXPECT_FLOAT_EQ(plain.Smoothline, 0.1f);  // without EffectUseSmoothline
}

// ---- end actions and stop points ----

const char kStopShow[] =
    "[Main]\nopt_slidescount=4\nopt_synchpos1=1000\nopt_synchpos2=2000\nopt_synchpos3=3000\n"
    "opt_synchpos4=4000\nopt_repeat=close\n"
    "[slide2]\nUsePersonal=1\nPers_EndAction=loop\n"
    "[slide3]\nUsePersonal=1\nPers_EndAction=pause\n";

TEST_F(OrbSource, EndAction_PersonalPauseLoopAndManualShow) {
    auto source = Source(kStopShow);
    EXPECT_FALSE(source->SlideEndAction(0).Stops);
    const TSlideEndAction loop = source->SlideEndAction(1);
    EXPECT_TRUE(loop.Stops);
    EXPECT_TRUE(loop.Loops);
    EXPECT_EQ(loop.LoopLength, 1000);
    EXPECT_TRUE(source->SlideEndAction(2).Stops);
    EXPECT_FALSE(source->SlideEndAction(2).Loops);
    EXPECT_FALSE(source->SlideEndAction(7).Stops);

    auto manual = Source(std::string(kStopShow) +
                         "[Main]\nopt_manualshow=1\n[slide4]\nUsePersonal=1\nPers_EndAction=\n"
                         "[slide1]\nUsePersonal=1\n");
    EXPECT_FALSE(manual->SlideEndAction(0).Stops);  // its own settings, no end action
    EXPECT_TRUE(manual->SlideEndAction(3).Stops);   // "" defers to the show
}

TEST_F(OrbSource, StopPoint_NextPauseOrLoopOrTheEnd) {
    auto source = Source(kStopShow);
    const TStopPoint loop = source->NextStopPoint(500);
    EXPECT_EQ(loop.SlideIndex, 1);
    EXPECT_EQ(loop.Time, 2000);
    EXPECT_EQ(loop.LoopLength, 1000);
    const TStopPoint pause = source->NextStopPoint(2000);  // the loop slide has ended
    EXPECT_EQ(pause.SlideIndex, 2);
    EXPECT_EQ(pause.Time, 3000);
    EXPECT_EQ(pause.LoopLength, 0);
    const TStopPoint end = source->NextStopPoint(3500);
    EXPECT_EQ(end.SlideIndex, 3);
    EXPECT_EQ(end.Time, 4000);

    auto repeating = Source(std::string(kStopShow) + "[Main]\nopt_repeat=repeat\n");
    const TStopPoint next = repeating->NextStopPoint(3500);
    EXPECT_EQ(next.SlideIndex, 5);  // the loop slide of the second cycle
    EXPECT_EQ(next.Time, 6000);
    auto endless = Source("[Main]\nopt_slidescount=2\nopt_synchpos1=10\nopt_synchpos2=20\n");
    EXPECT_EQ(endless->NextStopPoint(15).SlideIndex, TStopPoint::kNoSlide);
    EXPECT_EQ(endless->NextStopPoint(1e300).Time, TStopPoint::kNoTime);
}

TEST_F(OrbSource, RunApp_FromTheSlide) {
    auto source = Source(std::string(kStopShow) + "[slide4]\nPers_RunApp=1\nRunAppFN=notes.txt\n");
    EXPECT_FALSE(source->SlideRunApp(0).Runs);
    const TSlideRunApp app = source->SlideRunApp(3);
    EXPECT_TRUE(app.Runs);
    EXPECT_EQ(app.FileName, u"notes.txt");
}

// ---- random slide order ----

TEST_F(OrbSource, RandomOrder_NotAppliedWithoutProjectPath) {
    auto document = DocumentFromText(std::string(kRandomShow) + "opt_random=1\n");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(SlideSectionNumber(*document, i), i);
    EXPECT_EQ(SlideSectionNumber(*document, -1), -1);
    EXPECT_EQ(SlideSectionNumber(*document, kMaxSlideCount), -1);
}

TEST_F(OrbSource, RandomOrder_OnePermutationPerProjectForTheWholeRun) {
    const std::string text =
        "[Main]\nProjectFilePath=C:\\shows\\trip.orb\nopt_random=1\n"
        "opt_slidescount=40\n";
    auto document = DocumentFromText(text);
    std::vector<int32_t> order;
    for (int i = 0; i < 40; ++i) order.push_back(SlideSectionNumber(*document, i));
    std::vector<int32_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < 40; ++i) EXPECT_EQ(sorted[size_t(i)], i);
    std::vector<int32_t> identity(sorted);
    EXPECT_NE(order, identity);
    // Another document of the same project sees the same order; the list
    // grows with slides that map to themselves.
    auto again = DocumentFromText(text);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(SlideSectionNumber(*again, i), order[size_t(i)]);
    EXPECT_EQ(SlideSectionNumber(*again, 45), 45);

    auto show = DocumentFromText(
        "[Main]\nProjectFilePath=p\nopt_random=1\nopt_slidescount=2\n"
        "[slide1]\nslideid=one\n[slide2]\nslideid=two\n");
    const ql::TIniSection* first = SlideSection(*show, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(SlideSection(*show, 2), nullptr);  // no such section
}

}  // namespace
}  // namespace orb
