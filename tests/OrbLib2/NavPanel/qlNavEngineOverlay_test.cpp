// The overlay inside the engine, on the deterministic driver: the show's own
// dialogs open from the panel, from keys (events 15 and 16) and from actions,
// take the mouse before the slides, pause the show when they say so, and the
// whole overlay follows the output size.
#include "OrbLib2/NavPanel/qlNavEngineOverlay.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "NavPanelFixtures.h"
#include "OrbLib2/OrbViewer/EngineTestSupport.h"

namespace orb {
namespace {

// The files of the test folder, as a show package would hold them.
class TFolderFiles : public TFileSource {
public:
    explicit TFolderFiles(TNavOpenFile open) : m_open(std::move(open)) {}

protected:
    std::unique_ptr<ql::TStream> DoOpen(const std::u16string& name) override {
        return m_open(name);
    }

private:
    TNavOpenFile m_open;
};

// 160 x 120: a blue slide and a green one; the panel (pause, help, exit) at
// the bottom, 30 pixels high from (27, 90), the help button at x 67 .. 91; a
// logo at the top left. The help dialog has a red background and a green box
// in the middle that goes to the next slide; the custom dialog "About" pauses
// the show, has a yellow background and a box that closes it.
const char kShow[] =
    "[Main]\nopt_slidescount=2\nopt_scr_width=160\nopt_scr_height=120\nopt_fx_enable=0\n"
    "opt_repeat=stop\nopt_synchpos1=5000\nopt_synchpos2=10000\n"
    "opt_fcp=1\nopt_nav_inifile=bar/bar.ini\nopt_nav_showbg=1\nopt_cp=Bottom\n"
    "opt_nav_viewscale=25\nopt_newnavbuttons_count=3\nopt_newnavbutton1=pause\n"
    "opt_newnavbutton2=help\nopt_newnavbutton3=exit\n"
    "opt_logo=1\nopt_logo_fn=logo.png\nopt_logo_pos=5\nopt_logo_offset=4\nopt_logo_size=20\n"
    "opt_customdialogscount=1\ncustom_dialog1=About\n"
    "[slide1]\nUsePersonal=1\nPers_Fon=1\nbstyle=1\nbname=16711680\n"
    "[slide2]\nUsePersonal=1\nPers_Fon=1\nbstyle=1\nbname=65280\n"
    "[dialog_help]\nUsePersonal=1\nPers_Fon=1\nbstyle=1\nbname=255\n"
    "object Next : box\n  FitMode=None\n  Size=40,20\n  Color1=0,255,0\n  Action=nextslide\nend\n"
    "[dialog_1_]\nDialogPause=1\nUsePersonal=1\nPers_Fon=1\nbstyle=1\nbname=65535\n"
    "object Close : box\n  FitMode=None\n  Size=40,20\n  Color1=0,0,255\n  "
    "Action=closedialog\nend\n";

constexpr int64_t kBlue = 0x0000FF, kGreen = 0x00FF00, kRed = 0xFF0000, kYellow = 0xFFFF00;

class TOverlayDriver {
public:
    explicit TOverlayDriver(const ql::test::TTestFolder& folder, bool paused = false)
        : device(TSoftDeviceOptions{160, 120}) {
        TEngineOptions options = CaptureEngineOptions(clock, 160, 120);
        options.Overlay = [this](const TEngineOverlayContext& context, TDeviceDrawer& drawer) {
            std::unique_ptr<TEngineOverlay> made = MakeNavOverlay(context, drawer);
            overlay = dynamic_cast<TNavEngineOverlay*>(made.get());
            return made;
        };
        engine = std::make_unique<TOrbEngine>(device, std::move(options), paused);
        engine->SetListener(&events);
        opened = engine->Open(
            std::make_unique<TFileAccessor>(ql::MakeRef<TFolderFiles>(test::FolderOpener(folder))),
            test::DocumentOf(kShow), 0);
    }

    void Frame(double stepMs) { test::StepEngine(*engine, clock, m_musicFrames, stepMs); }
    bool Start() {
        for (int i = 0; i < 10 && !engine->Active(); ++i) Frame(0);
        return engine->Active();
    }
    void Run(double ms, double stepMs = 10) {
        for (double done = 0; done < ms; done += stepMs) Frame(stepMs);
    }
    void Mouse(TMouseKind kind, int32_t x, int32_t y, const TOrbActionInfo& action = {}) {
        auto mouse = std::make_unique<TMouseData>();
        mouse->X = x;
        mouse->Y = y;
        mouse->Kind = kind;
        mouse->Button = kind == TMouseKind::Move ? 0 : 1;
        mouse->HasAction = !action.IsNone();
        mouse->Action = action;
        engine->PostMouse(std::move(mouse));
        Frame(10);
    }
    void Click(int32_t x, int32_t y, const TOrbActionInfo& action = {}) {
        Mouse(TMouseKind::Move, x, y);
        Mouse(TMouseKind::Down, x, y, action);
        Mouse(TMouseKind::Up, x, y);
    }
    // 0xRRGGBB at (x, y) of the last frame; -1 without one.
    int64_t Colour(int32_t x, int32_t y) {
        auto frame = engine->Drawer() ? engine->Drawer()->CaptureToBitmap() : nullptr;
        if (!frame || x >= frame->Width() || y >= frame->Height()) return -1;
        const uint8_t* p = frame->Row(y) + 3 * x;
        return int64_t(p[2]) << 16 | int64_t(p[1]) << 8 | p[0];
    }
    size_t Actions(int32_t code) const {
        size_t n = 0;
        for (const auto& values : events.Values(kEngineAction)) n += values[0] == code ? 1 : 0;
        return n;
    }
    std::vector<std::u16string> Dialogs() const {
        std::vector<std::u16string> names;
        if (overlay)
            for (const auto& d : overlay->Overlay().Dialogs()) names.push_back(d->Name());
        return names;
    }

    TVirtualClock clock;
    TSoftDevice device;
    test::TEventRecorder events;
    std::unique_ptr<TOrbEngine> engine;
    TNavEngineOverlay* overlay = nullptr;
    bool opened = false;

private:
    int64_t m_musicFrames = 0;
};

bool WriteShowFiles(const ql::test::TTestFolder& folder) {
    test::WriteBarFixtures(folder);
    test::WriteBlocksPng(folder.File("logo.png"), 90, 60, {0xFFFF00FF});
    return true;
}

// The show's files in a fresh folder, and the show playing over them.
class NavEngineOverlay : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(d.opened);
        ASSERT_TRUE(d.Start());
    }

    ql::test::TTestFolder folder;
    bool written = WriteShowFiles(folder);
    TOverlayDriver d{folder};
};

TEST_F(NavEngineOverlay, HelpDialog_ByKeyAndByPanelButton_DrawnAboveTheSlideAndClosedAgain) {
    d.Run(100);
    ASSERT_NE(d.overlay, nullptr);
    EXPECT_EQ(d.Colour(100, 40), kBlue);
    EXPECT_FALSE(d.engine->State().DialogOpen);

    // The key (event 16): the help dialog fades in over 200 ms above the slide.
    d.engine->PostHelpDialog();
    d.Run(100);
    EXPECT_TRUE(d.engine->State().DialogOpen);
    EXPECT_EQ(d.Dialogs(), std::vector<std::u16string>{u"help"});
    const float halfway = d.overlay->Overlay().TopDialog()->Opacity();
    EXPECT_GT(halfway, 20);
    EXPECT_LT(halfway, 80);
    d.Run(200);
    EXPECT_FLOAT_EQ(d.overlay->Overlay().TopDialog()->Opacity(), 100);
    EXPECT_EQ(d.Colour(100, 40), kRed);
    EXPECT_EQ(d.Colour(80, 60), kGreen);  // the dialog's box
    // The panel stays above it, the logo below it.
    EXPECT_NE(d.Colour(28, 92), kRed);
    // Not a pausing dialog: the show plays on.
    EXPECT_TRUE(d.engine->Active());

    // Event 15 closes it.
    d.engine->PostCloseDialog();
    d.Run(300);
    EXPECT_TRUE(d.Dialogs().empty());
    EXPECT_FALSE(d.engine->State().DialogOpen);
    EXPECT_EQ(d.Colour(100, 40), kBlue);

    // The panel's help button opens it (action 4 is the engine's own, the
    // viewer never hears of it); a second click closes it.
    d.Click(79, 105);
    d.Run(300);
    EXPECT_EQ(d.Dialogs(), std::vector<std::u16string>{u"help"});
    EXPECT_EQ(d.Colour(100, 40), kRed);
    d.Click(79, 105);
    d.Run(300);
    EXPECT_TRUE(d.Dialogs().empty());
    EXPECT_EQ(d.Actions(acHelp), 0u);
}

TEST_F(NavEngineOverlay, DialogButton_CarriesOutItsActionAndTheSlidesBelowSeeNothing) {
    d.engine->PostHelpDialog();
    d.Run(300);
    // Over the box the hover is the dialog's; the click goes to the viewer
    // as "next slide" and not to the slide underneath (whose mouse action
    // would have been "exit").
    d.Mouse(TMouseKind::Move, 80, 60);
    EXPECT_TRUE(d.engine->State().Hover);
    d.Mouse(TMouseKind::Down, 80, 60, TOrbActionInfo(acExit));
    d.Mouse(TMouseKind::Up, 80, 60);
    EXPECT_EQ(d.Actions(acNextSlide), 1u);
    EXPECT_EQ(d.Actions(acExit), 0u);
    // The dialog's background is no object: a click there reaches the slides.
    d.Click(10, 10, TOrbActionInfo(acExit));
    EXPECT_EQ(d.Actions(acExit), 1u);
}

TEST_F(NavEngineOverlay, CustomDialog_ByName_PausesTheShowAndTheSameNameAgainClosesIt) {
    d.Run(500);
    // Action 15 "About" from a mouse binding: the show stands while it is open.
    d.Click(10, 10, TOrbActionInfo(acOpenDialog, 0, u"About"));
    d.Run(300);
    EXPECT_EQ(d.Dialogs(), std::vector<std::u16string>{u"About"});
    EXPECT_FALSE(d.engine->Active());
    const double stood = d.engine->State().ShowTime;
    d.Run(1000);
    EXPECT_EQ(d.engine->State().ShowTime, stood);
    EXPECT_EQ(d.Colour(100, 40), kYellow);
    EXPECT_EQ(d.Actions(acOpenDialog), 0u);
    // The same name again closes it, and the show goes on from where it stood.
    d.Click(10, 10, TOrbActionInfo(acOpenDialog, 0, u"About"));
    d.Run(300);
    EXPECT_TRUE(d.Dialogs().empty());
    EXPECT_TRUE(d.engine->Active());
    d.Run(500);
    EXPECT_GT(d.engine->State().ShowTime, stood + 300);
    EXPECT_EQ(d.Colour(100, 40), kBlue);

    // Its own button closes it (action 16 while a dialog is open is the
    // engine's, not the viewer's).
    d.Click(10, 10, TOrbActionInfo(acOpenDialog, 0, u"About"));
    d.Run(300);
    EXPECT_FALSE(d.engine->Active());
    d.Click(80, 60);
    d.Run(300);
    EXPECT_TRUE(d.Dialogs().empty());
    EXPECT_TRUE(d.engine->Active());
    EXPECT_EQ(d.Actions(acCloseDialog), 0u);
    // Without a dialog, action 16 goes to the viewer; an unknown dialog opens nothing.
    d.Click(10, 10, TOrbActionInfo(acCloseDialog));
    EXPECT_EQ(d.Actions(acCloseDialog), 1u);
    d.Click(10, 10, TOrbActionInfo(acOpenDialog, 0, u"Nowhere"));
    d.Run(300);
    EXPECT_TRUE(d.Dialogs().empty());
}

TEST_F(NavEngineOverlay, Navigation_ClosesThePausingDialogsFirst) {
    d.engine->PostHelpDialog();
    d.Click(10, 10, TOrbActionInfo(acOpenDialog, 0, u"About"));
    d.Run(300);
    EXPECT_EQ(d.Dialogs(), (std::vector<std::u16string>{u"help", u"About"}));
    EXPECT_FALSE(d.engine->Active());
    // "Next slide" from a key: the pausing dialog closes with its animation,
    // the other stays, and the viewer carries the action out.
    d.Click(10, 10, TOrbActionInfo(acNextSlide));
    d.Run(300);
    EXPECT_EQ(d.Dialogs(), std::vector<std::u16string>{u"help"});
    EXPECT_EQ(d.Actions(acNextSlide), 1u);
    EXPECT_TRUE(d.engine->Active());
}

TEST_F(NavEngineOverlay, OutputSize_LaysTheOverlayOutAsAFreshOneAtTheNewSize) {
    d.engine->PostHelpDialog();
    d.Run(300);
    ASSERT_NE(d.overlay, nullptr);
    const ql::TRect before = d.overlay->Overlay().Panel()->Rect();

    d.engine->PostOutputSize(320, 240);
    d.Run(300);
    ASSERT_EQ(d.engine->Drawer()->CaptureToBitmap()->Width(), 320);
    const TThirdSlide& overlay = d.overlay->Overlay();
    EXPECT_EQ(overlay.Viewport(), (ql::TRect{0, 0, 320, 240}));
    auto project = test::DocumentOf(kShow);
    TThirdSlide fresh(*project, {0, 0, 320, 240}, test::FolderOpener(folder), {}, 1, 10000, 0);
    ASSERT_NE(overlay.Panel(), nullptr);
    ASSERT_NE(fresh.Panel(), nullptr);
    EXPECT_NE(overlay.Panel()->Rect(), before);
    EXPECT_EQ(overlay.Panel()->Rect(), fresh.Panel()->Rect());
    EXPECT_EQ(overlay.Panel()->Clickable(), fresh.Panel()->Clickable());
    EXPECT_EQ(overlay.Panel()->Bar()->Width(), fresh.Panel()->Bar()->Width());
    EXPECT_EQ(overlay.LogoItem().Rect, fresh.LogoItem().Rect);
    EXPECT_EQ(overlay.LogoItem().Picture->Width(), fresh.LogoItem().Picture->Width());
    // The help dialog was built again for the new size: it still covers the
    // frame, and its box is in the middle of it.
    EXPECT_EQ(d.Dialogs(), std::vector<std::u16string>{u"help"});
    EXPECT_EQ(d.Colour(300, 20), kRed);
    EXPECT_EQ(d.Colour(160, 120), kGreen);
    // The panel takes clicks at its new place: its help button closes the dialog.
    const ql::TRect panel = overlay.Panel()->Rect();
    d.Click(panel.left + (79 - 27) * panel.Width() / 106, panel.top + panel.Height() / 2);
    d.Run(300);
    EXPECT_TRUE(d.Dialogs().empty());
}

}  // namespace
}  // namespace orb
