#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "IniTestSupport.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using ql::test::DocumentFromText;

std::unique_ptr<TOrbSource> Source(const std::string& text) {
    return std::make_unique<TOrbSource>(ql::MakeRef<ql::TRefObj>(), DocumentFromText(text),
                                        u"/opt/show");
}

TDesignOptions Design(int32_t w, int32_t h, bool fixed = false) {
    TDesignOptions d;
    d.Width = w;
    d.Height = h;
    d.FixedSize = fixed;
    return d;
}

// ---- frame geometry ----

TEST(FrameGeometry, FourThreeOnWideScreen_ModesFitCoverStretch) {
    const TDesignOptions d = Design(1024, 768);
    const TFrameGeometry fit = ComputeFrameGeometry(d, 1920, 1080, ffFitInside);
    EXPECT_EQ(fit.FrameWidth, 1440);
    EXPECT_EQ(fit.FrameHeight, 1080);
    EXPECT_EQ(fit.SlideRect, (ql::TRect{240, 0, 1680, 1080}));
    const TFrameGeometry cover = ComputeFrameGeometry(d, 1920, 1080, ffCover);
    EXPECT_EQ(cover.FrameWidth, 1920);
    EXPECT_EQ(cover.FrameHeight, 1440);
    // The frame runs off the screen above and below; the rectangle is clipped.
    EXPECT_EQ(cover.SlideRect, (ql::TRect{0, 0, 1920, 1080}));
    const TFrameGeometry stretch = ComputeFrameGeometry(d, 1920, 1080, ffStretch);
    EXPECT_EQ(stretch.FrameWidth, 1920);
    EXPECT_EQ(stretch.FrameHeight, 1080);
}

TEST(FrameGeometry, CentreAndCamera_FollowTheScreen) {
    const TFrameGeometry g = ComputeFrameGeometry(Design(800, 600), 1920, 1080, ffFitInside);
    EXPECT_FLOAT_EQ(g.CenterX, 960);
    EXPECT_FLOAT_EQ(g.CenterY, 540);
    EXPECT_FLOAT_EQ(g.Camera.x, 960);
    EXPECT_FLOAT_EQ(g.Camera.y, 540);
    EXPECT_FLOAT_EQ(g.Camera.z, -1080);
    EXPECT_DOUBLE_EQ(g.Aspect, 800.0 / 600.0);
}

TEST(FrameGeometry, FixedSize_KeepsDesignSizeAndOnlyShrinks) {
    const TDesignOptions d = Design(800, 600, true);
    const TFrameGeometry big = ComputeFrameGeometry(d, 1920, 1080, ffCover);
    EXPECT_EQ(big.FrameWidth, 800);
    EXPECT_EQ(big.FrameHeight, 600);
    EXPECT_EQ(big.SlideRect, (ql::TRect{560, 240, 1360, 840}));
    const TFrameGeometry small = ComputeFrameGeometry(d, 640, 480, ffFitInside);
    EXPECT_EQ(small.FrameWidth, 640);
    EXPECT_EQ(small.FrameHeight, 480);
    const TFrameGeometry narrow = ComputeFrameGeometry(d, 600, 1000, ffFitInside);
    EXPECT_EQ(narrow.FrameWidth, 600);
    EXPECT_EQ(narrow.FrameHeight, 450);
}

TEST(FrameGeometry, OddWidthBelowScreen_IsMadeEven) {
    // 1080 x 1439 / 1080 = 1439 wide: one more pixel centres it on whole pixels.
    const TFrameGeometry g = ComputeFrameGeometry(Design(1439, 1080), 1920, 1080, ffFitInside);
    EXPECT_EQ(g.FrameWidth, 1440);
    EXPECT_EQ(g.FrameHeight, 1080);
    // An odd width that fills the screen stays as it is.
    const TFrameGeometry full = ComputeFrameGeometry(Design(1439, 1080), 1439, 1080, ffFitInside);
    EXPECT_EQ(full.FrameWidth, 1439);
}

TEST(FrameGeometry, ScalePercentages_SizeTheFrame) {
    // At 50 % the virtual screen is twice the size; the frame is scaled back.
    const TFrameGeometry g =
        ComputeFrameGeometry(Design(1024, 768), 1920, 1080, ffFitInside, 50, 50);
    EXPECT_EQ(g.FrameWidth, 1440);
    EXPECT_EQ(g.FrameHeight, 1080);
}

TEST(FrameGeometry, ZeroDesignSizeInCurrentProject_IsALoadError) {
    try {
        ComputeFrameGeometry(Design(1024, 0), 1920, 1080, ffFitInside);
        FAIL() << "no error";
    } catch (const ESlideProducerError& e) {
        EXPECT_EQ(e.Message(), "ZeroSize of Presentation!");
    }
    EXPECT_THROW(ComputeFrameGeometry(Design(0, 768), 1920, 1080, ffFitInside),
                 ESlideProducerError);
}

TEST(FrameGeometry, OlderProject_TakesScreenAspectOrStoredRatio) {
    TDesignOptions d = Design(0, 0);
    d.MinorVersion = 12;
    const TFrameGeometry screen = ComputeFrameGeometry(d, 1920, 1080, ffFitInside);
    EXPECT_EQ(screen.FrameWidth, 1920);
    EXPECT_EQ(screen.FrameHeight, 1080);
    d.Ratio = 4.0 / 3.0;
    const TFrameGeometry ratio = ComputeFrameGeometry(d, 1920, 1080, ffFitInside);
    EXPECT_EQ(ratio.FrameWidth, 1440);
}

TEST(FrameGeometry, AbsurdInputs_GiveBoundedFrames) {
    TDesignOptions d = Design(2000000000, 1);
    const TFrameGeometry wide = ComputeFrameGeometry(d, 0, -5, ffCover, 0, -3);
    EXPECT_GE(wide.FrameWidth, 1);
    EXPECT_GE(wide.FrameHeight, 1);
    EXPECT_LE(wide.FrameWidth, 32768 * 100);
    d = Design(1024, 768);
    const TFrameGeometry nan = ComputeFrameGeometry(d, 1920, 1080, 7, std::nanf(""), 1e30f);
    EXPECT_GE(nan.FrameWidth, 1);
    EXPECT_GE(nan.FrameHeight, 1);
}

TEST(FrameGeometry, ReadsDesignKeysFromMain) {
    auto doc = DocumentFromText(
        "[Main]\nMinorVersion=12\nopt_scr_width=800\nopt_scr_height=600\nopt_scr_fullfixedsize=1\n"
        "opt_scr_ratio=1.5\n");
    const TDesignOptions d = ReadDesignOptions(*doc->FindSection(u"Main"));
    EXPECT_EQ(d.MinorVersion, 12);
    EXPECT_EQ(d.Width, 800);
    EXPECT_EQ(d.Height, 600);
    EXPECT_TRUE(d.FixedSize);
    ASSERT_TRUE(d.Ratio.has_value());
    EXPECT_DOUBLE_EQ(*d.Ratio, 1.5);
    auto bare = DocumentFromText("[Main]\n");
    const TDesignOptions b = ReadDesignOptions(*bare->FindSection(u"Main"));
    EXPECT_EQ(b.MinorVersion, 13);
    EXPECT_FALSE(b.Ratio.has_value());
}

// ---- visible slides ----

// Three slides of 20 s each with 1 s transitions, repeating: 60 s a cycle.
const char kRepeatingShow[] =
    "[Main]\n"
    "opt_slidescount=3\n"
    "opt_synchpos1=20000\n"
    "opt_synchpos2=40000\n"
    "opt_synchpos3=60000\n"
    "opt_fx_enable=1\n"
    "opt_fx_time=1000\n"
    "[slide1]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=2\nEffect_Type=1\nEffectTime=1000\n"
    "[slide2]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=2\nEffect_Type=1\nEffectTime=1000\n"
    "[slide3]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=2\nEffect_Type=1\nEffectTime=1000\n";

TEST(VisibleSlides, AtShowStart_PreShowSlideAndFirstSlideWhileTransitionRuns) {
    auto source = Source(kRepeatingShow);
    TVisibleSlideCursor cursor(*source);
    const TVisibleSlides at0 = cursor.Find(0);
    EXPECT_EQ(at0.First, -1);
    EXPECT_EQ(at0.Last, 0);
    const TVisibleSlides later = cursor.Find(1500);
    EXPECT_EQ(later.First, 0);
    EXPECT_EQ(later.Last, 0);
}

TEST(VisibleSlides, DuringTransition_BothSlides) {
    auto source = Source(kRepeatingShow);
    TVisibleSlideCursor cursor(*source);
    const TVisibleSlides v = cursor.Find(20500);
    EXPECT_EQ(v.First, 0);
    EXPECT_EQ(v.Last, 1);
    const TVisibleSlides after = cursor.Find(21001);
    EXPECT_EQ(after.First, 1);
    EXPECT_EQ(after.Last, 1);
}

TEST(VisibleSlides, RepeatingShow_IndexPastCountIsShiftedSlide) {
    auto source = Source(kRepeatingShow);
    ASSERT_DOUBLE_EQ(source->TotalTime(), 60000);
    TVisibleSlideCursor cursor(*source);
    const TVisibleSlides v = cursor.Find(65000);
    EXPECT_EQ(v.First, 3);  // slide 0 of cycle 1
    const TVisibleSlides w = cursor.Find(100500);
    EXPECT_EQ(w.First, 4);
    EXPECT_EQ(w.Last, 5);  // n + 2: slide 2 shifted by one cycle
    const TSlideAtIndex info = source->SlideInfo(5);
    EXPECT_EQ(info.Cycle, 1);
    EXPECT_DOUBLE_EQ(info.Info.BeginTime, 100000);
}

TEST(VisibleSlides, FarJumpsEitherWay_FindTheSameSlidesAsAFreshCursor) {
    auto source = Source(kRepeatingShow);
    TVisibleSlideCursor moving(*source);
    for (double t : {5e7, 3000.0, 1e12, 0.0, 59999.0, 60500.0}) {
        TVisibleSlideCursor fresh(*source);
        const TVisibleSlides a = moving.Find(t), b = fresh.Find(t);
        EXPECT_EQ(a.First, b.First) << t;
        EXPECT_EQ(a.Last, b.Last) << t;
        const TSlideInfo first = source->SlideInfo(a.First).Info;
        EXPECT_LE(std::round(first.BeginTime), t) << t;
        EXPECT_GE(std::round(first.NextEffectEnd), t) << t;
    }
}

TEST(VisibleSlides, NonRepeatingShow_StaysOnLastSlide) {
    std::string text = kRepeatingShow;
    text.insert(text.find("opt_slidescount"), "opt_repeat=stop\n");
    auto source = Source(text);
    TVisibleSlideCursor cursor(*source);
    const TVisibleSlides v = cursor.Find(1e9);
    EXPECT_EQ(v.First, 2);
}

TEST(VisibleSlides, BeforeTheShow_StaysOnPreShowSlide) {
    auto source = Source(kRepeatingShow);
    TVisibleSlideCursor cursor(*source);
    const TVisibleSlides v = cursor.Find(-5e9);
    EXPECT_EQ(v.First, -1);
}

// ---- dialogs ----

TEST(DialogSection, CustomNameMapsToNumberedSection_OtherNamesToTheirOwn) {
    auto doc = DocumentFromText(
        "[Main]\nopt_customdialogscount=2\ncustom_dialog1=Intro\ncustom_dialog2=Credits\n"
        "[dialog_2_]\nDialogPause=1\n[dialog_help]\nx=1\n");
    const ql::TIniSection* credits = DialogSection(*doc, u"Credits");
    ASSERT_NE(credits, nullptr);
    EXPECT_EQ(credits->Name(), u"dialog_2_");
    EXPECT_EQ(DialogSection(*doc, u"Intro"), nullptr);  // dialog_1_ is missing
    const ql::TIniSection* help = DialogSection(*doc, u"help");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->Name(), u"dialog_help");
}

TEST(DialogSection, HugeDialogCount_IsBounded) {
    auto doc = DocumentFromText("[Main]\nopt_customdialogscount=2147483647\n[dialog_x]\n");
    EXPECT_NE(DialogSection(*doc, u"x"), nullptr);
}

// ---- custom transitions ----

TEST(CustomEffect, Names_SkipLeadingBlanksAndEmptyEntries) {
    const std::vector<std::u16string> names = CustomEffectNames(u"one.ini, \ttwo.ini,,  ,three");
    EXPECT_EQ(names, (std::vector<std::u16string>{u"one.ini", u"two.ini", u"three"}));
    EXPECT_TRUE(CustomEffectNames(u"").empty());
    EXPECT_TRUE(CustomEffectNames(u" , \t").empty());
}

TEST(CustomEffect, Choice_OneNameOrASeededPick) {
    EXPECT_EQ(ChooseCustomEffectEntry(u"  only"), u"only");
    EXPECT_EQ(ChooseCustomEffectEntry(u" ,"), u"");
    TFixedRandomSeed seed(11);
    std::map<std::u16string, int> seen;
    for (int i = 0; i < 60; ++i) ++seen[ChooseCustomEffectEntry(u"a,b,c")];
    seed.Restart(11);
    const std::u16string first = ChooseCustomEffectEntry(u"a,b,c");
    seed.Restart(11);
    EXPECT_EQ(ChooseCustomEffectEntry(u"a,b,c"), first);
    for (const auto& [name, count] : seen)
        EXPECT_TRUE(name == u"a" || name == u"b" || name == u"c");
    EXPECT_EQ(seen.size(), 3u);
}

TEST(Timing, HoldsBothTimes) {
    auto timing = ql::MakeRef<TTiming>();
    timing->SetShowTime(1234.5);
    timing->SetClockTime(99);
    EXPECT_DOUBLE_EQ(timing->ShowTime(), 1234.5);
    EXPECT_DOUBLE_EQ(timing->ClockTime(), 99);
}

// ---- production ----

// Slide 3 spans 4 s to 60 s, so that one cycle later 65 s is 5 s into it.
const char kProducedShow[] =
    "[Main]\n"
    "opt_scr_width=1024\nopt_scr_height=768\n"
    "opt_slidescount=3\n"
    "opt_synchpos1=2000\n"
    "opt_synchpos2=4000\n"
    "opt_synchpos3=60000\n"
    "opt_fx_enable=1\n"
    "opt_fx_time=500\n"
    "opt_bstyle=1\nopt_bname=255\n"
    "opt_customdialogscount=1\ncustom_dialog1=About\n"
    "[slide1]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=2\nEffect_Type=1\nEffectTime=400\n"
    "Pers_Fon=1\nbstyle=1\nbname=65280\n"
    "[slide2]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=3\nEffect_Type=2\nEffectTime=300\n"
    "[slide3]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=2\nEffect_Type=1\nEffectTime=200\n"
    "[dialog_1_]\nDialogPause=1\n";

class SlideProduction : public ::testing::Test {
protected:
    void SetUp() override { Make(kProducedShow); }
    void Make(const std::string& text) {
        producer.reset();
        source = Source(text);
        producer = std::make_unique<TSlideProducer>(*source, accessor);
        producer->Setup(1920, 1080, ffFitInside);
    }
    TFileAccessor accessor{ql::MakeRef<TRealFileSource>()};
    std::unique_ptr<TOrbSource> source;
    std::unique_ptr<TSlideProducer> producer;
};

TEST_F(SlideProduction, BuildSlide_TakesSizeTimesBackgroundAndTransition) {
    EXPECT_EQ(producer->SlideRect(), (ql::TRect{240, 0, 1680, 1080}));
    auto slide = producer->BuildSlide(1, 0);
    ASSERT_TRUE(slide);
    EXPECT_EQ(slide->Width(), 1440);
    EXPECT_EQ(slide->Height(), 1080);
    EXPECT_FLOAT_EQ(slide->KeyPoints().Current().ScaleX, 100);
    EXPECT_DOUBLE_EQ(slide->BeginTime(), 2000);
    EXPECT_DOUBLE_EQ(slide->EndTime(), 4000);
    EXPECT_DOUBLE_EQ(slide->EffectTime(), 300);
    EXPECT_DOUBLE_EQ(slide->NextEffectTime(), 200);
    EXPECT_EQ(slide->Filter().EffectClass(), 3);
    EXPECT_EQ(slide->Filter().EffectType(), 2);
    EXPECT_EQ(slide->Background().Colour1[0], 255);  // the show's red
    EXPECT_NE(slide->BackgroundPainter(), nullptr);
    EXPECT_FLOAT_EQ(slide->ScreenCentre().x, 960);
    auto own = producer->BuildSlide(0, 0);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->Background().Colour1[1], 255);  // its own green
}

TEST_F(SlideProduction, ScaledSetup_SlideUnitsAreScreenUnitsOverScale) {
    producer->Setup(1920, 1080, ffFitInside, 50, 50);
    auto slide = producer->BuildSlide(0, 0);
    ASSERT_TRUE(slide);
    EXPECT_EQ(slide->Width(), 2880);
    EXPECT_FLOAT_EQ(slide->KeyPoints().Current().ScaleX, 50);
}

TEST_F(SlideProduction, PreShowSlide_HasFirstBackgroundAndRunsIntoTheFirstTransition) {
    auto slide = producer->BuildSlide(-1, -1);
    ASSERT_TRUE(slide);
    EXPECT_EQ(slide->Index(), -1);
    EXPECT_DOUBLE_EQ(slide->BeginTime(), -1073741823);
    EXPECT_DOUBLE_EQ(slide->EndTime(), 0);
    EXPECT_DOUBLE_EQ(slide->NextEffectTime(), 400);
    EXPECT_EQ(slide->ChildCount(), 0);
    EXPECT_EQ(slide->Background().Colour1[1], 255);
}

TEST_F(SlideProduction, IndexPastCount_IsTheSlideOfItsCycle) {
    auto slide = producer->BuildSlide(4, 1);
    ASSERT_TRUE(slide);
    EXPECT_EQ(slide->Index(), 1);
    EXPECT_EQ(slide->Cycle(), 1);
}

TEST_F(SlideProduction, Container_RepeatingShowShiftsSlideAndObjectsSeeCycleTime) {
    auto timing = ql::MakeRef<TTiming>();
    producer->SetCurrentTiming(timing);
    const TVisibleSlides v = producer->VisibleSlides(65000);
    EXPECT_EQ(v.First, 5);
    ql::TRef<TDrawContainer> c = producer->MakeContainer(5);
    ASSERT_TRUE(c->Slide());
    EXPECT_EQ(c->Index(), 5);
    EXPECT_DOUBLE_EQ(c->CycleOffset(), 60000);
    EXPECT_DOUBLE_EQ(c->Info().BeginTime, 64000);
    EXPECT_EQ(c->Slide()->Index(), 2);
    timing->SetShowTime(65000);
    c->Update();
    EXPECT_DOUBLE_EQ(c->Slide()->LocalTime(),
                     1000);  // 5000 on the slide's own clock, begun at 4000
    EXPECT_DOUBLE_EQ(c->Filter()->Time(), 1000);
}

TEST_F(SlideProduction, Container_MissingSectionHasNoSlideAndIsSkipped) {
    std::string text = kProducedShow;
    text.erase(text.find("[slide2]"), text.find("[slide3]") - text.find("[slide2]"));
    Make(text);
    producer->SetCurrentTiming(ql::MakeRef<TTiming>());
    ql::TRef<TDrawContainer> c = producer->MakeContainer(1);
    EXPECT_EQ(c->Slide(), nullptr);
    EXPECT_EQ(c->Filter(), nullptr);
    c->SetTime(2500);  // nothing to set
}

TEST_F(SlideProduction, Container_WithoutTiming_IsRefused) {
    EXPECT_THROW(producer->MakeContainer(0), ql::EAssertionFailed);
}

TEST_F(SlideProduction, Dialog_ByCustomNameWithPauseAndTimeZero) {
    auto dialog = producer->Dialog(u"About");
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->DialogPause());
    EXPECT_FLOAT_EQ(dialog->Opacity(), 0);
    EXPECT_EQ(dialog->Index(), -1);
    EXPECT_DOUBLE_EQ(dialog->BeginTime(), 0);
    EXPECT_EQ(dialog->DialogName(), u"About");
    EXPECT_EQ(producer->Dialog(u"Missing"), nullptr);
}

TEST_F(SlideProduction, ZeroDesignSize_SetupRaises) {
    auto bare = Source("[Main]\nopt_slidescount=1\nopt_synchpos1=1000\n[slide1]\n");
    TSlideProducer zero(*bare, accessor);
    EXPECT_THROW(zero.Setup(800, 600, ffCover), ESlideProducerError);
    EXPECT_FALSE(zero.IsSetUp());
    EXPECT_EQ(zero.BuildSlide(0, 0), nullptr);
}

// ---- the cache ----

class SlideCaching : public SlideProduction {
protected:
    void SetUp() override {
        SlideProduction::SetUp();
        timing = ql::MakeRef<TTiming>();
        producer->SetCurrentTiming(timing);
    }
    std::vector<int64_t> Indices(const TSlideCache& cache) {
        std::vector<int64_t> result;
        for (const auto& c : cache.Containers()) result.push_back(c->Index());
        return result;
    }
    ql::TRef<TTiming> timing;
};

TEST_F(SlideCaching, Step_BuildsOneSlidePerStepAcrossTheWindow) {
    TSlideCache cache(*producer, 2);
    int created = 0, changed = 0;
    cache.SetOnContainerCreated([&](const ql::TRef<TDrawContainer>&) { ++created; });
    cache.SetOnCacheChanged([&] { ++changed; });
    EXPECT_TRUE(cache.Step(0));
    EXPECT_EQ(Indices(cache), (std::vector<int64_t>{-1}));
    EXPECT_TRUE(cache.Step(0));
    EXPECT_EQ(Indices(cache), (std::vector<int64_t>{-1, 0}));
    EXPECT_FALSE(cache.Step(0));
    EXPECT_EQ(created, 2);
    EXPECT_EQ(changed, 2);
    // Slide 1 is first at 3000: -1 and 0 go, 1 and 2 come, one per step;
    // one old container stays until a second one is there.
    EXPECT_TRUE(cache.Step(3000));
    EXPECT_EQ(Indices(cache), (std::vector<int64_t>{0, 1}));
    EXPECT_TRUE(cache.Step(3000));
    EXPECT_EQ(Indices(cache), (std::vector<int64_t>{1, 2}));
    EXPECT_FALSE(cache.Step(3000));
}

TEST_F(SlideCaching, DroppedContainer_StaysAliveWhileTheEngineHoldsIt) {
    TSlideCache cache(*producer, 1);
    cache.Step(0);
    ql::TRef<TDrawContainer> held = cache.Find(-1);
    ASSERT_TRUE(held);
    cache.Step(3000);
    cache.Step(3000);
    EXPECT_EQ(cache.Find(-1), nullptr);
    // The engine's reference keeps the slide; drawing it is still safe.
    ASSERT_NE(held->Slide(), nullptr);
    held->SetTime(0);
    EXPECT_EQ(held->Slide()->Index(), -1);
}

TEST_F(SlideCaching, Depth_IsClampedAndTheCacheNeverHoldsMoreThanThree) {
    EXPECT_EQ(TSlideCache(*producer, 0).Depth(), 1);
    EXPECT_EQ(TSlideCache(*producer, 9).Depth(), 3);
    TSlideCache cache(*producer, 3);
    for (double t :
         {0.0, 0.0, 0.0, 3000.0, 3000.0, 3000.0, 3000.0, 65000.0, 65000.0, 65000.0, 65000.0}) {
        cache.Step(t);
        EXPECT_LE(cache.Containers().size(), 3u);
    }
    EXPECT_EQ(Indices(cache), (std::vector<int64_t>{5, 6, 7}));
    cache.Clear();
    EXPECT_TRUE(cache.Containers().empty());
}

// The decoding handler of two slides that only returns once both decodings
// have begun: they must run at the same time.
struct TDecodeMeeting {
    std::mutex lock;
    std::condition_variable arrived;
    int begun = 0;
    bool met = true;
    std::vector<int64_t> decoded;
    std::set<std::thread::id> threads;
    void Decode(const ql::TRef<TDrawContainer>& container) {
        std::unique_lock<std::mutex> guard(lock);
        ++begun;
        decoded.push_back(container->Index());
        threads.insert(std::this_thread::get_id());
        arrived.notify_all();
        if (!arrived.wait_for(guard, std::chrono::seconds(20), [this] { return begun >= 2; }))
            met = false;
    }
};

TEST_F(SlideCaching, TransitionWithNeitherSlide_BuildsBothWhileDecodingThemSideBySide) {
    TSlideCache cache(*producer, 3);
    TDecodeMeeting meeting;
    std::vector<int64_t> created;
    cache.SetOnContainerDecoding([&](const ql::TRef<TDrawContainer>& c) { meeting.Decode(c); });
    cache.SetOnContainerCreated([&](const ql::TRef<TDrawContainer>& c) {
        // Created after both decodings, in slide order, on the calling thread.
        EXPECT_EQ(meeting.begun, 2);
        EXPECT_NE(meeting.threads.count(std::this_thread::get_id()), 0u);
        created.push_back(c->Index());
    });
    // At 0 the pre-show slide and slide 0 both show.
    EXPECT_TRUE(cache.Step(0));
    EXPECT_TRUE(meeting.met);
    EXPECT_EQ(meeting.threads.size(), 2u);
    std::sort(meeting.decoded.begin(), meeting.decoded.end());
    EXPECT_EQ(meeting.decoded, (std::vector<int64_t>{-1, 0}));
    EXPECT_EQ(created, (std::vector<int64_t>{-1, 0}));
    EXPECT_EQ(Indices(cache), (std::vector<int64_t>{-1, 0}));
    // The neighbour that follows is not on screen: one slide, on this thread.
    meeting.begun = 1;
    EXPECT_TRUE(cache.Step(0));
    EXPECT_EQ(Indices(cache), (std::vector<int64_t>{-1, 0, 1}));
    EXPECT_EQ(created.back(), 1);
}

TEST_F(SlideCaching, BothSlidesInOneStep_AreTheSlidesOfTwoSerialSteps) {
    TSlideCache serial(*producer, 3);
    EXPECT_TRUE(serial.Step(0));
    EXPECT_TRUE(serial.Step(0));
    TSlideCache paired(*producer, 3);
    int decodings = 0;
    std::mutex lock;
    paired.SetOnContainerDecoding([&](const ql::TRef<TDrawContainer>&) {
        std::lock_guard<std::mutex> guard(lock);
        ++decodings;
    });
    EXPECT_TRUE(paired.Step(0));
    EXPECT_EQ(decodings, 2);
    const auto a = serial.Containers(), b = paired.Containers();
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i]->Index(), b[i]->Index());
        EXPECT_EQ(a[i]->Info().BeginTime, b[i]->Info().BeginTime);
        EXPECT_EQ(a[i]->Info().EffectTime, b[i]->Info().EffectTime);
        ASSERT_TRUE(a[i]->Slide() && b[i]->Slide());
        EXPECT_EQ(a[i]->Slide()->Index(), b[i]->Slide()->Index());
        EXPECT_EQ(a[i]->Slide()->Width(), b[i]->Slide()->Width());
    }
}

TEST_F(SlideCaching, FailingDecoding_StillGivesTheSlides) {
    TSlideCache cache(*producer, 3);
    cache.SetOnContainerDecoding(
        [](const ql::TRef<TDrawContainer>&) { throw std::runtime_error("damaged"); });
    int created = 0;
    cache.SetOnContainerCreated([&](const ql::TRef<TDrawContainer>&) { ++created; });
    EXPECT_TRUE(cache.Step(0));
    EXPECT_EQ(created, 2);
    EXPECT_EQ(Indices(cache), (std::vector<int64_t>{-1, 0}));
}

TEST_F(SlideCaching, OwnedProducer_GoesWithTheCache) {
    auto owned = std::make_unique<TSlideProducer>(*source, accessor);
    owned->Setup(640, 480, ffCover);
    owned->SetCurrentTiming(timing);
    TSlideCache cache(std::move(owned), 1);
    EXPECT_TRUE(cache.Step(1000));
}

TEST_F(SlideCaching, MissingOwnedParts_AreAssertions) {
    EXPECT_THROW(TSlideCache(std::unique_ptr<TSlideProducer>(), 1), ql::EAssertionFailed);
    EXPECT_THROW(TSlideProducer(std::unique_ptr<TOrbSource>(), accessor), ql::EAssertionFailed);
}

}  // namespace
}  // namespace orb
