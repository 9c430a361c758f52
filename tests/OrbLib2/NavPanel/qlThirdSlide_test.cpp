#include "OrbLib2/NavPanel/qlThirdSlide.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "NavPanelFixtures.h"
#include "QlLib/Platform/qlHeadlessHost.h"

namespace orb {
namespace {

std::unique_ptr<ql::TIniFile> Project(const std::string& main) {
    return test::Definition("[main]\n" + main);
}

const char kPanelMain[] =
    "opt_fcp=1\nopt_nav_inifile=bar/"
    "bar.ini\nopt_nav_showbg=1\nopt_cp=Bottom\nopt_newnavbuttons_count=3\n"
    "opt_newnavbutton1=pause\nopt_newnavbutton2=forward\nopt_newnavbutton3=exit\n";

struct TSample {
    int64_t t;
    float opacity;
    TThirdSlide::TMouseResult mouse;
    bool hadMouse = false;
};

// Plays a host script against the overlay: input from the script reaches
// the overlay as the engine passes it on, and the overlay advances every 10
// virtual milliseconds. One sample per step and one per mouse event.
std::vector<TSample> Play(TThirdSlide& overlay, const std::string& script) {
    ql::THeadlessHost host;
    std::string error;
    EXPECT_TRUE(host.LoadScript(script, error)) << error;
    std::vector<TSample> samples;
    for (int32_t step = 0; step < 100000; ++step) {
        ql::THostEvent event;
        bool closed = false;
        while (host.PollEvent(event)) {
            if (event.Kind == ql::THostEventKind::Close || event.Kind == ql::THostEventKind::Quit)
                closed = true;
            if (event.Kind != ql::THostEventKind::Mouse) continue;
            TSample s{host.TickMs(), overlay.PanelOpacity(), {}, true};
            s.mouse = overlay.Mouse(event.X, event.Y, event.MouseEvent, event.Button,
                                    event.Modifiers, host.TickMs());
            samples.push_back(s);
        }
        if (closed) break;
        host.Delay(10);
        overlay.Advance(host.TickMs(), double(host.TickMs()));
        samples.push_back({host.TickMs(), overlay.PanelOpacity(), {}, false});
    }
    return samples;
}

TEST(ThirdSlide, HideOnStart_FadesInOnMoveOutWhenIdleAndReversesFromTheOpacityReached) {
    ql::test::TTestFolder folder;
    test::WriteBarFixtures(folder);
    const auto project =
        Project(std::string(kPanelMain) +
                "opt_hidenavbar=1\nopt_nav_hideonstartup=1\nopt_nav_hideinterval=2\n"
                "opt_nav_hidefadeout=1000\nopt_nav_fadein=500\n");
    TThirdSlide overlay(*project, {0, 0, 800, 600}, test::FolderOpener(folder), {}, 1, 60000, 0);
    ASSERT_NE(overlay.Panel(), nullptr);
    EXPECT_EQ(overlay.PanelOpacity(), 0);
    // Moves at 500 (recorded only) and 600; idle from 600, so the fade-out
    // starts near 2600 and is half way near 3100, where the mouse moves again.
    const std::vector<TSample> samples =
        Play(overlay,
             "wait 500\nmouse move 100 100\nwait 100\nmouse move 200 200\nwait 2500\n"
             "mouse move 300 300\nwait 1000\n");
    int64_t shown = -1, hideStart = -1, reversed = -1;
    float lowest = 100, biggestStep = 0;
    for (size_t k = 0; k < samples.size(); ++k) {
        const TSample& s = samples[k];
        if (s.t <= 600) {
            EXPECT_EQ(s.opacity, 0) << s.t;
        }
        if (shown < 0 && s.opacity == 100) shown = s.t;
        if (shown >= 0 && hideStart < 0 && s.opacity < 100) hideStart = s.t;
        if (s.hadMouse && s.t > 3000) reversed = s.t;
        if (reversed >= 0) lowest = std::min(lowest, s.opacity);
        if (k > 0)
            biggestStep = std::max(biggestStep, std::fabs(s.opacity - samples[k - 1].opacity));
    }
    EXPECT_GE(shown, 1000);
    EXPECT_LE(shown, 1150);
    EXPECT_GE(hideStart, 2600);
    EXPECT_LE(hideStart, 2650);
    ASSERT_GE(reversed, 0);
    // No jump anywhere: 10 ms steps move a 500 ms fade by 2 percent at most.
    EXPECT_LE(biggestStep, 2.01f);
    EXPECT_GT(lowest, 40);
    EXPECT_EQ(samples.back().opacity, 100);
}

TEST(ThirdSlide, Mouse_PanelClicksBecomeActionsAndTheBackgroundIsConsumed) {
    ql::test::TTestFolder folder;
    test::WriteBarFixtures(folder);
    const auto project = Project(kPanelMain);
    TThirdSlide overlay(*project, {0, 0, 800, 600}, test::FolderOpener(folder), {}, 1, 60000, 0);
    ASSERT_NE(overlay.Panel(), nullptr);
    EXPECT_EQ(overlay.Panel()->Rect(), (ql::TRect{294, 540, 506, 600}));
    const std::vector<TSample> samples =
        Play(overlay,
             "mouse move 400 100\nmouse click 330 570\nmouse click 295 570\nmouse click 400 100\n"
             "mouse move 440 570\nwheel 1\n");
    std::vector<std::pair<uint8_t, bool>> got;
    for (const TSample& s : samples)
        if (s.hadMouse) got.push_back({s.mouse.Action.Code, s.mouse.Handled});
    const std::vector<std::pair<uint8_t, bool>> want = {
        {acNone, false},                               // move on the slide
        {acNavConsumed, true}, {acPause, true},        // a click on the pause button
        {acNavConsumed, true}, {acNavConsumed, true},  // on the background: consumed
        {acNone, false},       {acNone, false},        // on the slide
        {acNavConsumed, true},                         // hovering the exit button
    };
    EXPECT_EQ(got, want);
    EXPECT_EQ(overlay.PanelState(), 2);
    std::u16string name;
    EXPECT_TRUE(overlay.HitTest(440, 570, &name));
    EXPECT_EQ(name, u"NavPanel");
    EXPECT_FALSE(overlay.HitTest(10, 10, &name));
    // Kinds beyond the four are not the overlay's.
    EXPECT_FALSE(overlay.Mouse(440, 570, 4, 0, 0, 0).Handled);
    EXPECT_FALSE(overlay.Mouse(440, 570, -1, 0, 0, 0).Handled);
}

TEST(ThirdSlide, VideoBar_ADragSeeksAndPausesTheShowAroundIt) {
    ql::test::TTestFolder folder;
    test::WriteBarFixtures(folder);
    // 40 of 600 pixels high: the bar at its own size, across the viewport.
    const auto project = Project(
        "opt_fcp=1\nopt_nav_inifile=video/bar.ini\nopt_cp=Bottom\nopt_nav_usevideoscale=1\n"
        "opt_nav_viewscale=6.6666667\nopt_newnavbuttons_count=1\nopt_newnavbutton1=forward\n");
    bool playing = true;
    std::vector<double> seeks, volumes;
    TThirdSlide::THooks hooks;
    hooks.IsPlaying = [&] { return playing; };
    hooks.Seek = [&](double ms) { seeks.push_back(ms); };
    hooks.VolumeChanged = [&](double v) { volumes.push_back(v); };
    TThirdSlide overlay(*project, {0, 0, 800, 600}, test::FolderOpener(folder), hooks, 0.5, 60000,
                        0);
    ASSERT_NE(overlay.Panel(), nullptr);
    EXPECT_EQ(overlay.Panel()->Rect(), (ql::TRect{0, 560, 800, 600}));
    overlay.Advance(10, 0);
    // The knob at the start of the track (68 + 5); the middle is 260 further.
    std::vector<uint8_t> codes;
    for (auto [kind, x] : {std::pair{1, 73}, std::pair{0, 333}, std::pair{2, 333}}) {
        const TThirdSlide::TMouseResult r = overlay.Mouse(x, 580, kind, kind == 0 ? 0 : 1, 0, 20);
        codes.push_back(r.Action.Code);
        EXPECT_TRUE(r.Handled);
        if (r.Action.Code == acPause) playing = !playing;  // as the engine would
    }
    EXPECT_EQ(codes, (std::vector<uint8_t>{acPause, acNavConsumed, acPause}));
    EXPECT_TRUE(playing);
    EXPECT_EQ(seeks, (std::vector<double>{30000, 30000}));
    // The sound button twice: muted, then the volume the show had.
    for (int k = 0; k < 2; ++k) {
        overlay.Mouse(712, 580, 1, 1, 0, 30);
        overlay.Mouse(712, 580, 2, 1, 0, 30);
    }
    EXPECT_EQ(volumes, (std::vector<double>{0, 0.5}));
}

class TFakeDialog : public TOverlayDialog {
public:
    TFakeDialog(std::u16string name, bool pauses, ql::TRect hit = {}, int32_t* asked = nullptr)
        : m_name(std::move(name)), m_pauses(pauses), m_hit(hit), m_asked(asked) {}
    const std::u16string& Name() const override { return m_name; }
    bool PausesShow() const override { return m_pauses; }
    float Opacity() const override { return m_opacity; }
    void SetOpacity(float percent) override { m_opacity = percent; }
    THit Mouse(int32_t x, int32_t y, TNavMouseKind, int32_t) override {
        if (m_asked) ++*m_asked;
        THit hit;
        hit.Hit = x >= m_hit.left && x < m_hit.right && y >= m_hit.top && y < m_hit.bottom;
        if (hit.Hit) {
            hit.Action = TOrbActionInfo(acCloseDialog);
            hit.ObjectName = m_name + u".button";
        }
        return hit;
    }

private:
    std::u16string m_name;
    bool m_pauses;
    float m_opacity = 0;
    ql::TRect m_hit;
    int32_t* m_asked;
};

std::vector<std::u16string> Names(const TThirdSlide& overlay) {
    std::vector<std::u16string> names;
    for (const auto& d : overlay.Dialogs())
        names.push_back(d->Name() + u":" + ql::IntToStr(int64_t(d->Opacity())));
    return names;
}

TEST(ThirdSlide, Dialogs_AnimateOpenAndCloseAndTheSameNameTwiceCloses) {
    const auto project = Project("");
    TThirdSlide overlay(*project, {0, 0, 800, 600}, {}, {}, 1, 0, 0);
    EXPECT_EQ(overlay.Panel(), nullptr);
    EXPECT_EQ(overlay.PanelState(), 0);
    overlay.OpenDialog(std::make_unique<TFakeDialog>(u"help", true));
    overlay.Advance(1000, 0);  // the animation's clock starts here
    overlay.Advance(1100, 0);
    EXPECT_EQ(Names(overlay), (std::vector<std::u16string>{u"help:50"}));
    EXPECT_TRUE(overlay.AnyPausingDialog());
    overlay.Advance(1250, 0);
    EXPECT_EQ(Names(overlay), (std::vector<std::u16string>{u"help:100"}));
    overlay.OpenDialog(std::make_unique<TFakeDialog>(u"help", true));
    overlay.Advance(2000, 0);
    overlay.Advance(2150, 0);
    EXPECT_EQ(Names(overlay), (std::vector<std::u16string>{u"help:25"}));
    // While it closes, another dialog is not opened.
    overlay.OpenDialog(std::make_unique<TFakeDialog>(u"other", false));
    overlay.Advance(2199, 0);
    overlay.Advance(2200, 0);
    EXPECT_TRUE(overlay.Dialogs().empty());
    EXPECT_FALSE(overlay.AnyPausingDialog());
}

TEST(ThirdSlide, Dialogs_PausingOnesCloseBeforeNavigationAndTheTopOneAnswersTheMouse) {
    const auto project = Project("");
    TThirdSlide overlay(*project, {0, 0, 800, 600}, {}, {}, 1, 0, 0);
    int32_t askedLow = 0, askedHigh = 0;
    int64_t t = 0;
    for (auto* name : {u"a", u"b", u"c"}) {
        const bool high = std::u16string(name) == u"c";
        overlay.OpenDialog(std::make_unique<TFakeDialog>(name, name != std::u16string(u"b"),
                                                         ql::TRect{0, 0, 100, 100},
                                                         high ? &askedHigh : &askedLow));
        overlay.Advance(t, 0);
        overlay.Advance(t += 300, 0);
    }
    const TThirdSlide::TMouseResult hit = overlay.Mouse(50, 50, 1, 1, 0, t);
    EXPECT_TRUE(hit.Handled);
    EXPECT_EQ(hit.Action, TOrbActionInfo(acCloseDialog));
    EXPECT_EQ(hit.HitName, u"c.button");
    EXPECT_EQ(askedHigh, 1);
    EXPECT_EQ(askedLow, 0);
    overlay.ClosePausingDialogs();
    EXPECT_EQ(Names(overlay), (std::vector<std::u16string>{u"b:100", u"c:100"}));
    overlay.Advance(t, 0);
    overlay.Advance(t += 300, 0);
    EXPECT_EQ(Names(overlay), (std::vector<std::u16string>{u"b:100"}));
    EXPECT_FALSE(overlay.AnyPausingDialog());
    // The stack is bounded.
    for (int32_t k = 0; k < 100; ++k) {
        overlay.OpenDialog(std::make_unique<TFakeDialog>(u"d" + ql::IntToStr(k), false));
        overlay.Advance(t, 0);
        overlay.Advance(t += 300, 0);
    }
    EXPECT_EQ(overlay.Dialogs().size(), TThirdSlide::kMaxDialogs);
}

TEST(ThirdSlide, Logo_FourAndAHalfTimesItsTargetIsHalvedTwiceThenResampled) {
    ql::test::TTestFolder folder;
    test::WriteBlocksPng(folder.File("logo.png"), 270, 270, {0xFF2080F0});
    const auto project =
        Project("opt_logo=1\nopt_logo_fn=logo.png\nopt_logo_pos=7\nopt_logo_opacity=50\n");
    TThirdSlide overlay(*project, {0, 0, 800, 600}, test::FolderOpener(folder), {}, 1, 0, 0);
    const TOverlayItem logo = overlay.LogoItem();
    ASSERT_NE(logo.Picture, nullptr);
    EXPECT_EQ(overlay.LogoHalvings(), 2);
    EXPECT_TRUE(overlay.LogoResampled());
    EXPECT_EQ(logo.Picture->Width(), 60);
    EXPECT_EQ(logo.Picture->Height(), 60);
    EXPECT_EQ(logo.Rect, (ql::TRect{740, 540, 800, 600}));
    // Drawn over a black frame at half opacity.
    auto frame = std::make_unique<ql::TDirectBitmap>(800, 600, ql::PfARGB32());
    frame->FillRect(frame->Bounds(), 0xFF000000);
    overlay.Compose(*frame);
    const uint32_t p = test::PixelAt(*frame, 770, 570);
    EXPECT_NEAR(int32_t(p & 255), 0xF0 / 2, 1);
    EXPECT_EQ(test::PixelAt(*frame, 700, 570), 0xFF000000u);
}

TEST(ThirdSlide, Resize_LaysOutAsAFreshOverlayAndKeepsThePanelsFade) {
    ql::test::TTestFolder folder;
    test::WriteBarFixtures(folder);
    test::WriteBlocksPng(folder.File("logo.png"), 270, 180, {0xFF2080F0});
    const auto project = Project(std::string(kPanelMain) +
                                 "opt_hidenavbar=1\nopt_nav_hideonstartup=1\nopt_logo=1\n"
                                 "opt_logo_fn=logo.png\nopt_logo_pos=2\nopt_logo_offset=5\n");
    const TNavOpenFile open = test::FolderOpener(folder);
    TThirdSlide overlay(*project, {0, 0, 800, 600}, open, {}, 1, 60000, 0);
    ASSERT_NE(overlay.Panel(), nullptr);
    const ql::TRect panel = overlay.Panel()->Rect(), logo = overlay.LogoItem().Rect;
    overlay.TakeChanged();
    for (const ql::TRect viewport :
         {ql::TRect{0, 0, 1920, 1080}, ql::TRect{0, 0, 12, 8}, ql::TRect{0, 0, 800, 600}}) {
        overlay.Resize(viewport);
        EXPECT_TRUE(overlay.TakeChanged());
        TThirdSlide fresh(*project, viewport, open, {}, 1, 60000, 0);
        ASSERT_EQ(overlay.Panel() != nullptr, fresh.Panel() != nullptr) << viewport.right;
        if (fresh.Panel()) {
            EXPECT_EQ(overlay.Panel()->Rect(), fresh.Panel()->Rect());
            EXPECT_EQ(overlay.Panel()->Clickable(), fresh.Panel()->Clickable());
        }
        EXPECT_EQ(overlay.LogoItem().Rect, fresh.LogoItem().Rect);
        EXPECT_EQ(overlay.LogoHalvings(), fresh.LogoHalvings());
        // Still hidden since the start: no move came.
        EXPECT_EQ(overlay.PanelOpacity(), 0);
        EXPECT_TRUE(overlay.PanelHidden());
    }
    EXPECT_EQ(overlay.Panel()->Rect(), panel);
    EXPECT_EQ(overlay.LogoItem().Rect, logo);
}

}  // namespace
}  // namespace orb
