#include "OrbLib2/OrbViewer/qlOrbEngine2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

#include "EngineTestSupport.h"
#include "GlTestSupport.h"
#include "OrbLib2/OrbViewer/qlOrbSlideWindow.h"
#include "QlLib/Graphics/qlBitmapStore.h"

namespace orb {
namespace {

using test::kSlideColours;
using test::Rgb;
using test::TDriver;

TEST(OrbEngine, Deterministic_PlaysSlidesOnTheVirtualClock) {
    TDriver d(test::SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(d.opened);
    ASSERT_TRUE(d.Start());
    EXPECT_EQ(d.events.Count(kEngineGeometry), 1u);
    EXPECT_EQ(d.events.Count(kEngineFirstFrame), 1u);
    d.Run(500);
    EXPECT_DOUBLE_EQ(d.engine->CurrentTime(), 500);
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[0]));
    d.Run(1000);
    EXPECT_DOUBLE_EQ(d.engine->CurrentTime(), 1500);
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[1]));
}

TEST(OrbEngine, SlideBeginTime_ShowsThatSlide) {
    TDriver d(test::SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(d.Start());
    d.Run(1000, 250);
    ASSERT_DOUBLE_EQ(d.engine->CurrentTime(), 1000);
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[1]));
}

TEST(OrbEngine, PauseEndAction_StopsAtTheSlideEndUntilReleased) {
    TDriver d(test::SolidShow(3, 1000, "stop", "[slide2]\nPers_EndAction=pause\n"));
    ASSERT_TRUE(d.Start());
    d.Run(3000, 30);
    EXPECT_FALSE(d.engine->Active());
    EXPECT_TRUE(d.engine->State().Waiting);
    EXPECT_DOUBLE_EQ(d.engine->CurrentTime(), 2000);
    // The paused slide stays on screen.
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[1]));
    d.engine->PostReleaseWait();
    ASSERT_TRUE(d.Start());
    d.Run(300, 30);
    EXPECT_NEAR(d.engine->CurrentTime(), 2300, 0.001);
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[2]));
}

TEST(OrbEngine, LoopEndAction_PlaysTheRangeAgain) {
    TDriver d(test::SolidShow(3, 1000, "stop", "[slide2]\nPers_EndAction=loop\n"));
    ASSERT_TRUE(d.Start());
    d.Run(2000, 20);
    // Reached 2000: the slide plays again from its begin.
    double highest = 0;
    for (int i = 0; i < 300; ++i) {
        d.Frame(20);
        highest = std::max(highest, d.engine->CurrentTime());
        ASSERT_GE(d.engine->CurrentTime(), 1000) << i;
        ASSERT_LT(d.engine->CurrentTime(), 2000) << i;
    }
    EXPECT_GT(highest, 1900);
    EXPECT_FALSE(d.engine->State().Waiting);
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[1]));
}

TEST(OrbEngine, StopShow_PostsOneEndReport) {
    TDriver d(test::SolidShow(2, 500, "stop"));
    ASSERT_TRUE(d.Start());
    d.Run(3000, 40);
    const auto reports = d.events.Values(kEnginePosition);
    int ends = 0;
    for (const auto& r : reports)
        if (r[3] == 1) {
            ++ends;
            EXPECT_EQ(r[1], 1000);
            EXPECT_EQ(r[2], 1000);
        }
    EXPECT_EQ(ends, 1);
    EXPECT_DOUBLE_EQ(d.engine->CurrentTime(), 1000);
    // A seek opens a new span: one more end report at the end.
    d.engine->PostSeek(d.engine->NewRequestId(), 200);
    d.engine->PostReleaseWait();
    d.Run(3000, 40);
    ends = 0;
    for (const auto& r : d.events.Values(kEnginePosition)) ends += r[3] == 1;
    EXPECT_EQ(ends, 2);
}

TEST(OrbEngine, PositionReports_EveryChangeAbove20MsWithTheServedRequest) {
    TDriver d(test::SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(d.Start());
    d.Run(200, 5);
    const auto reports = d.events.Values(kEnginePosition);
    ASSERT_GE(reports.size(), 2u);
    for (size_t i = 1; i < reports.size(); ++i) EXPECT_GT(reports[i][1] - reports[i - 1][1], 20);
    const int64_t id = d.engine->NewRequestId();
    d.engine->PostSeek(id, 2500);
    d.Frame(5);
    const auto after = d.events.Values(kEnginePosition);
    EXPECT_EQ(after.back()[0], id);
    EXPECT_EQ(after.back()[1], 2500);
}

TEST(OrbEngine, Paused_ClockStandsStillUntilResumed) {
    TDriver d(test::SolidShow(3, 1000, "stop"), true);
    d.Run(500);
    EXPECT_FALSE(d.engine->Active());
    EXPECT_DOUBLE_EQ(d.engine->CurrentTime(), 0);
    d.engine->PostPause(false);
    d.Run(500);
    EXPECT_TRUE(d.engine->Active());
    // The player takes a pass or two to seek before the clock runs.
    EXPECT_NEAR(d.engine->CurrentTime(), 480, 20);
}

TEST(OrbEngine, PauseWhileSeekPending_IsAppliedWithTheSeek) {
    TDriver d(test::SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(d.Start());
    d.Run(100);
    d.engine->PostSeek(d.engine->NewRequestId(), 1500);
    d.engine->PostPause(true);
    d.Frame(10);
    EXPECT_TRUE(d.engine->State().Paused);
    EXPECT_DOUBLE_EQ(d.engine->CurrentTime(), 1500);
    d.Run(200);
    EXPECT_DOUBLE_EQ(d.engine->CurrentTime(), 1500);
}

TEST(OrbEngine, RunAppSlide_ForwardsAction10Once) {
    TDriver d(test::SolidShow(3, 1000, "stop", "[slide2]\nPers_RunApp=1\nRunAppFN=notes.txt\n"));
    ASSERT_TRUE(d.Start());
    d.Run(2500, 20);
    EXPECT_EQ(d.events.Texts(kEngineAction), std::vector<std::u16string>{u"notes.txt"});
    EXPECT_EQ(d.events.Values(kEngineAction).front()[0], acRunApp);
}

TEST(OrbEngine, MouseActions_HelpIsTheEnginesOwnOthersGoToTheViewer) {
    TDriver d(test::SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(d.Start());
    auto mouse = std::make_unique<TMouseData>();
    mouse->Kind = TMouseKind::Down;
    mouse->HasAction = true;
    mouse->Action = TOrbActionInfo(acHelp);
    d.engine->PostMouse(std::move(mouse));
    auto next = std::make_unique<TMouseData>();
    next->Kind = TMouseKind::Down;
    next->HasAction = true;
    next->Action = TOrbActionInfo(acGotoSlide, -1, u"Intro");
    d.engine->PostMouse(std::move(next));
    d.Frame(10);
    // The help dialog is the engine's own; go-to-slide goes to the viewer.
    EXPECT_EQ(d.events.Texts(kEngineAction), std::vector<std::u16string>{u"Intro"});
    EXPECT_EQ(d.events.Values(kEngineAction).front()[0], acGotoSlide);
    EXPECT_EQ(d.events.Values(kEngineAction).front()[1], -1);
}

TEST(OrbEngine, Hover_FollowsAnObjectMovingUnderAStillPointer) {
    // A slide-sized box with an action comes in from the left over 2 s.
    TDriver d(
        test::SolidShow(1, 5000, "stop",
                        "object B : box\n  Size=64,48\n  Action=exit\n"
                        "  object kp1 : KeyPoint\n    Time=0\n    Position=-300,0\n  end\n"
                        "  object kp2 : KeyPoint\n    Time=2000\n    Position=0,0\n  end\nend\n"));
    ASSERT_TRUE(d.Start());
    auto mouse = std::make_unique<TMouseData>();
    mouse->X = 32;
    mouse->Y = 24;
    d.engine->PostMouse(std::move(mouse));
    d.Run(300);
    EXPECT_FALSE(d.engine->State().Hover);
    d.Run(2000);  // no mouse event since
    EXPECT_TRUE(d.engine->State().Hover);
    EXPECT_FALSE(d.engine->State().HoverClass.empty());
    // The pointer leaves the window: nothing is hovered.
    auto away = std::make_unique<TMouseData>();
    away->X = away->Y = -100000;
    d.engine->PostMouse(std::move(away));
    d.Run(50);
    EXPECT_FALSE(d.engine->State().Hover);
}

TEST(OrbEngine, Snapshot_PostsTheFrame) {
    TDriver d(test::SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(d.Start());
    d.engine->PostSnapshot();
    d.Frame(10);
    EXPECT_EQ(d.events.Count(kEngineImage), 1u);
}

TEST(OrbEngine, BadShow_DoesNotOpen) {
    TDriver d("[Main]\nopt_slidescount=0\n");
    EXPECT_FALSE(d.opened);
    d.Run(100);
    EXPECT_FALSE(d.engine->Active());
}

TEST(OrbEngine, Volume_ReachesTheMusicPlayer) {
    TDriver d(test::SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(d.Start());
    d.engine->SetVolume(0.25f);
    d.Frame(10);
    EXPECT_FLOAT_EQ(d.engine->Music()->Volume(), 0.25f);
}

TEST(OrbEngine, DeviceLoss_SameSize_ContinuesFromTheSameTime) {
    TDriver d(test::SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(d.Start());
    d.Run(500);
    const double before = d.engine->CurrentTime();
    d.device.SimulateLoss(2);
    for (int i = 0; i < 30 && d.events.Count(kEngineFirstFrame) < 2; ++i) d.Frame(10);
    // The rebuilt drawer announces its first frame again; the show was not reopened.
    EXPECT_EQ(d.events.Count(kEngineFirstFrame), 2u);
    EXPECT_EQ(d.events.Count(kEngineGeometry), 1u);
    d.Start();
    EXPECT_TRUE(d.engine->Active());
    EXPECT_GE(d.engine->CurrentTime(), before);
    EXPECT_LT(d.engine->CurrentTime(), before + 400);
    d.Run(100);
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[0]));
}

// A context lost as the device is told to, or reset by the driver and
// noticed through the context's own report.
struct TContextLossCase {
    const char* Name;
    bool DriverReset;
};

class OrbEngineGlLoss : public ::testing::TestWithParam<TContextLossCase> {};

TEST_P(OrbEngineGlLoss, ContextLostMidTransition_TheShowGoesOnFromItsPlace) {
    const bool driverReset = GetParam().DriverReset;
    std::string error;
    ql::test::TResettableContext::ResetStatus = 0;
    auto api = ql::TGlApi::Create(ql::test::TResettableContext::Create(error), error);
    std::unique_ptr<TGlDevice> gl =
        api ? TGlDevice::Create(std::move(api), 64, 48, error) : nullptr;
    if (!gl) GTEST_SKIP() << "no OpenGL 3.3 core context here: " << error;
    // A new context after a reset is a sound one.
    gl->SetContextFactory([](std::string& reason) {
        ql::test::TResettableContext::ResetStatus = 0;
        return ql::test::TResettableContext::Create(reason);
    });
    TDriver d(test::SolidShow(3, 1000, "stop", "[Main]\nopt_fx_enable=1\nopt_fx_time=600\n"), false,
              64, 48, {}, gl.get());
    ASSERT_TRUE(d.Start());
    d.Run(1200);  // inside the cross-fade from the first slide to the second
    const double before = d.engine->CurrentTime();
    if (driverReset)
        ql::test::TResettableContext::ResetStatus = 0x8253;
    else
        gl->SimulateLoss();
    for (int i = 0; i < 30 && d.events.Count(kEngineFirstFrame) < 2; ++i) d.Frame(10);
    EXPECT_FALSE(gl->Lost());
    EXPECT_EQ(d.events.Count(kEngineFirstFrame), 2u);
    EXPECT_EQ(d.events.Count(kEngineGeometry), 1u);  // not reopened
    d.Start();
    EXPECT_GE(d.engine->CurrentTime(), before);
    EXPECT_LT(d.engine->CurrentTime(), before + 400);
    // The second slide, alone after its fade (1600 to 2000 ms), drawn on the
    // new context.
    for (int i = 0; i < 100 && d.engine->CurrentTime() < 1750; ++i) d.Frame(10);
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[1]));
}

INSTANTIATE_TEST_SUITE_P(Losses, OrbEngineGlLoss,
                         ::testing::Values(TContextLossCase{"Simulated", false},
                                           TContextLossCase{"DriverReset", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(OrbEngine, RenderingTwice_GivesIdenticalFrames) {
    auto play = [] {
        TDriver d(test::SolidShow(4, 700, "stop", "[Main]\nopt_fx_enable=1\nopt_fx_time=300\n"));
        std::vector<int64_t> colours;
        d.Start();
        for (int i = 0; i < 100; ++i) {
            d.Frame(1000.0 / 30);
            colours.push_back(d.CentreColour());
        }
        return colours;
    };
    const std::vector<int64_t> first = play();
    EXPECT_EQ(first, play());
    // Every slide appears.
    EXPECT_GE(std::set<int64_t>(first.begin(), first.end()).size(), 4u);
}

// The show model's slide window with its building metered out: while the
// budget is not negative, each slide built spends one, and at zero none is.
class TBuildGate {
public:
    TSlideWindowFactory Factory() {
        return [this](TOrbSource& source, TFileAccessor* accessor, TTiming& timing, int32_t depth) {
            return std::make_unique<TGatedWindow>(
                CacheSlideWindows()(source, accessor, timing, depth), *this);
        };
    }

    int32_t Budget = -1;
    std::vector<int64_t> Built;  // indexes, in building order

private:
    class TGatedWindow : public TSlideWindow {
    public:
        TGatedWindow(std::unique_ptr<TSlideWindow> inner, TBuildGate& gate)
            : m_inner(std::move(inner)), m_gate(gate) {
            m_inner->ContainerDecoding = [this](TEngineSlide& slide) {
                if (ContainerDecoding) ContainerDecoding(slide);
            };
            m_inner->ContainerCreated = [this](TEngineSlide& slide) {
                m_gate.Built.push_back(slide.Index());
                if (ContainerCreated) ContainerCreated(slide);
            };
            m_inner->CacheChanged = [this] {
                if (CacheChanged) CacheChanged();
            };
        }
        bool Step(double t) override {
            if (m_gate.Budget == 0) return false;
            const bool built = m_inner->Step(t);
            if (built && m_gate.Budget > 0) --m_gate.Budget;
            return built;
        }
        TEngineSlideList Slides() const override { return m_inner->Slides(); }
        int32_t Depth() const override { return m_inner->Depth(); }
        void Clear() override { m_inner->Clear(); }
        void Setup(int32_t width, int32_t height, int32_t fitMode) override {
            m_inner->Setup(width, height, fitMode);
        }
        ql::TRect SlideRect() const override { return m_inner->SlideRect(); }

    private:
        std::unique_ptr<TSlideWindow> m_inner;
        TBuildGate& m_gate;
    };
};

// Passes with the clock standing until a frame of the running show is out;
// false when none comes.
bool SettleAfterSeek(TDriver& d) {
    for (int i = 0; i < 20; ++i) {
        d.Frame(0);
        if (d.engine->Active() && d.engine->FramePresented()) return true;
    }
    return false;
}

TEST(OrbEngineSeek, FirstFrame_ComesBeforeTheNeighboursAreBuilt) {
    TBuildGate gate;
    TDriver d(test::SolidShow(8, 1000, "stop"), false, 64, 48, gate.Factory());
    ASSERT_TRUE(d.Start());
    d.Run(200);
    gate.Built.clear();
    gate.Budget = 1;
    d.engine->PostSeek(d.engine->NewRequestId(), 4500);
    ASSERT_TRUE(SettleAfterSeek(d));
    EXPECT_DOUBLE_EQ(d.engine->CurrentTime(), 4500);
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[4]));
    EXPECT_EQ(gate.Built, std::vector<int64_t>{4});
    // Once building goes on, the neighbours come while the show plays.
    gate.Budget = -1;
    d.Run(100);
    EXPECT_EQ(gate.Built, (std::vector<int64_t>{4, 5, 6}));
    EXPECT_EQ(d.engine->LoadedSlides().size(), 3u);
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[4]));
}

TEST(OrbEngineSeek, IntoATransition_WaitsForBothSlidesOnScreen) {
    TBuildGate gate;
    // Every slide comes in with a 300 ms cross-fade.
    std::string fades;
    for (int k = 1; k <= 8; ++k)
        fades +=
            "[slide" + std::to_string(k) + "]\nPers_Effect=1\nEffect_Class=2\nEffectTime=300\n";
    TDriver d(test::SolidShow(8, 1000, "stop", fades), false, 64, 48, gate.Factory());
    ASSERT_TRUE(d.Start());
    d.Run(200);
    gate.Built.clear();
    gate.Budget = 0;
    d.engine->PostSeek(d.engine->NewRequestId(), 5100);
    for (int i = 0; i < 10; ++i) d.Frame(0);
    EXPECT_FALSE(d.engine->Active());
    // One building step makes both slides on screen, the one the transition
    // leaves and the one it enters, and the first frame follows.
    gate.Budget = 1;
    ASSERT_TRUE(SettleAfterSeek(d));
    EXPECT_DOUBLE_EQ(d.engine->CurrentTime(), 5100);
    EXPECT_EQ(gate.Built, (std::vector<int64_t>{4, 5}));
}

TEST(OrbEngineSeek, SeekWithinTheWindow_NeedsNoBuilding) {
    TBuildGate gate;
    TDriver d(test::SolidShow(8, 1000, "stop"), false, 64, 48, gate.Factory());
    ASSERT_TRUE(d.Start());
    d.Run(200);
    gate.Built.clear();
    gate.Budget = 0;
    d.engine->PostSeek(d.engine->NewRequestId(), 1500);
    ASSERT_TRUE(SettleAfterSeek(d));
    EXPECT_TRUE(gate.Built.empty());
    EXPECT_EQ(d.CentreColour(), Rgb(kSlideColours[1]));
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// The engine on its own thread with the null sound output, as the player
// runs it.
struct TThreadedEngine {
    explicit TThreadedEngine(const std::string& show) : device(TSoftDeviceOptions{64, 48}) {
        TEngineOptions options;
        options.ScreenWidth = 64;
        options.ScreenHeight = 48;
        options.SoundOutput.Kind = ql::TSoundOutputKind::Null;
        engine = std::make_unique<TOrbEngine>(device, std::move(options), false);
        engine->SetListener(&events);
        engine->Open(std::make_unique<TFileAccessor>(ql::MakeRef<test::TNoFiles>()),
                     test::DocumentOf(show), 0);
    }
    // Waits until the state satisfies the test, looking again as the
    // engine's events arrive.
    template <class F>
    bool WaitFor(F test) {
        return events.Arrivals().WaitFor([&] { return test(engine->State()); });
    }

    TSoftDevice device;
    test::TEventRecorder events;
    std::unique_ptr<TOrbEngine> engine;
};

TEST(OrbEngineThread, PlaysOnItsOwnThread) {
    TThreadedEngine t(test::SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(t.engine->StartThread());
    EXPECT_TRUE(t.WaitFor([](const TEngineState& s) { return s.Active && s.ShowTime > 100; }));
    EXPECT_GE(t.events.Count(kEngineFirstFrame), 1u);
}

TEST(OrbEngineThread, SeekStorm_EndsServingTheLastRequest) {
    TThreadedEngine t(test::SolidShow(5, 700, "repeat"));
    ASSERT_TRUE(t.engine->StartThread());
    int64_t last = 0;
    std::thread storm([&] {
        uint32_t seed = 5;
        for (int i = 0; i < 3000; ++i) {
            seed = seed * 1664525u + 1013904223u;
            if (seed % 4 == 0) {
                t.engine->PostPause((seed >> 8) % 2 == 0);
            } else {
                last = t.engine->NewRequestId();
                t.engine->PostSeek(last, int64_t(seed >> 12) % 20000);
            }
        }
        t.engine->PostPause(false);
        last = t.engine->NewRequestId();
        t.engine->PostSeek(last, 1234);
    });
    storm.join();
    EXPECT_TRUE(
        t.WaitFor([&](const TEngineState& s) { return s.ServedRequest == last && s.Active; }));
    EXPECT_TRUE(t.WaitFor([&](const TEngineState& s) { return s.ShowTime > 1300; }));
    // The reports of the last request start at its time.
    bool found = false;
    for (const auto& r : t.events.Values(kEnginePosition))
        if (r[0] == last && r[1] == 1234) found = true;
    EXPECT_TRUE(found);
    t.engine.reset();
}

// A seek storm over slides that together ask for far more picture memory than
// the budget: each slide has two generated masks drawn at full size (up to
// 7.5 MiB each), ten slides, a budget of 12 MiB. Random seeks,
// each followed by a few frames; every seek brings a frame, and the pictures
// never hold more than the budget (loosely: a level made on another thread may
// be admitted beside one of this thread). The exact peak is reported.
TEST(OrbEngineSeek, StormOverSlidesPastThePictureBudget_StaysWithinIt) {
    constexpr int64_t kBudget = int64_t(12) << 20;
    const int64_t before = ql::PictureMemoryHeld();
    ql::TPictureMemoryBudgetScope budget(before + kBudget);
    constexpr int32_t kSlides = 10, kSlideMs = 1000;
    std::string show =
        "[Main]\nopt_slidescount=" + std::to_string(kSlides) +
        "\nopt_scr_width=320\nopt_scr_height=180\nopt_fx_enable=0\nopt_repeat=stop\n";
    for (int32_t k = 1; k <= kSlides; ++k)
        show += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * kSlideMs) + "\n";
    for (int32_t k = 1; k <= kSlides; ++k) {
        show += "[slide" + std::to_string(k) + "]\n";
        for (int32_t m = 0; m < 2; ++m)
            show += "object M" + std::to_string(m) +
                    ": image\n  ImageName=PresetedMask: " + std::to_string(1400 - 8 * k - m) +
                    ":1400:" + std::to_string(m) +
                    ":10:20\n  object kp: KeyPoint\n    Time=0\n    Origin=SlideBegin\n"
                    "    ScaleX=200\n    ScaleY=200\n  end\nend\n";
    }
    TDriver d(show, false, 320, 180);
    ASSERT_TRUE(d.opened);
    ASSERT_TRUE(d.Start());
    const uint64_t refusals = ql::PictureBudgetRefusals();
    int64_t peak = 0;
    auto note = [&] { peak = std::max(peak, ql::PictureMemoryHeld() - before); };
    uint32_t seed = 11;
    // Sixteen seeks visit most slides more than once and keep the test
    // within its time under the sanitizers.
    constexpr int kSeeks = 16;
    for (int i = 0; i < kSeeks; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int64_t to = int64_t(seed >> 8) % (kSlides * kSlideMs);
        d.engine->PostSeek(d.engine->NewRequestId(), to);
        ASSERT_TRUE(SettleAfterSeek(d)) << "seek " << i << " to " << to;
        note();
        for (int f = 0; f < 4; ++f) {
            d.Frame(40);
            note();
        }
    }
    std::printf(
        "[ storm    ] %d seeks: picture memory peak %.1f MiB of a %.1f MiB budget, %llu "
        "levels refused\n",
        kSeeks, double(peak) / (1 << 20), double(kBudget) / (1 << 20),
        static_cast<unsigned long long>(ql::PictureBudgetRefusals() - refusals));
    ::testing::Test::RecordProperty("picture_memory_peak_bytes", std::to_string(peak));
    EXPECT_LE(peak, 2 * kBudget);
    // Pictures were really made: the storm met the budget, not empty slides.
    EXPECT_GT(peak, kBudget / 2);
}

}  // namespace
}  // namespace orb
