#include "OrbLib2/NavPanel/qlNavBar.h"

#include <gtest/gtest.h>

#include "NavPanelFixtures.h"
#include "OrbLib2/qlHslShift.h"

namespace orb {
namespace {

using test::PixelAt;

struct TBarRig {
    ql::test::TTestFolder folder;
    std::unique_ptr<TNavPictures> pictures;
    TNavBar bar;
    std::vector<int32_t> pressed;
    bool playing = true;

    explicit TBarRig(const std::string& extra = {}, std::vector<int32_t> chosen = {0, 1, 2}) {
        test::WriteBarFixtures(folder, extra);
        pictures = std::make_unique<TNavPictures>(test::FolderOpener(folder));
        TCustomNavBar::THooks hooks;
        hooks.ButtonPressed = [this](int32_t index) { pressed.push_back(index); };
        hooks.IsPlaying = [this] { return playing; };
        bar.SetHooks(hooks);
        const auto doc = test::Definition(test::ButtonBarIni(extra));
        bar.Load(*doc, ql::FromUtf8(folder.Path() + "/bar/"), *pictures);
        bar.SetChosenButtons(chosen);
        bar.Layout();
    }
    uint32_t At(int32_t x, int32_t y) const { return PixelAt(*bar.Picture(), x, y); }
};

TEST(NavBar, MalformedDefinitions_RaiseTheUsersMessage) {
    struct TCase {
        std::string extra, message;
    } cases[] = {
        {"[CellWithObjects]\nCell=1,2,3\n", "Incorrect number of parameters in field \"Cell\""},
        {"[CellWithObjects]\nCell=\n", "Incorrect number of parameters in field \"Cell\""},
        {"[Cell(3:1)]\nBounds=0,0,12\n",
         "Incorrect number of parameters in field \"Bounds\" in [Cell(3:1)]"},
        {"[ACTION-exit]\nBgTextureHoverBounds=1,2\n",
         "Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. But ORB "
         "found only 2 "
         "values."},
    };
    for (const TCase& c : cases) {
        ql::test::TTestFolder folder;
        TNavPictures pictures(test::FolderOpener(folder));
        TNavBar bar;
        const auto doc = test::Definition(test::ButtonBarIni(c.extra));
        try {
            bar.Load(*doc, u"bar/", pictures);
            ADD_FAILURE() << "no error for " << c.extra;
        } catch (const ENavBarError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST(NavBar, Layout_ButtonsFillTheObjectCellAndSetItsColumnAndRow) {
    TBarRig rig;
    EXPECT_EQ(rig.bar.KnownButtons(),
              (std::vector<std::u16string>{u"pause", u"forward", u"exit", u"help"}));
    EXPECT_EQ(rig.bar.ColumnWidths(), (std::vector<int32_t>{10, 84, 12}));
    EXPECT_EQ(rig.bar.RowHeights(), (std::vector<int32_t>{30}));
    EXPECT_EQ(rig.bar.Width(), 106);
    EXPECT_EQ(rig.bar.Height(), 30);
    ASSERT_EQ(rig.bar.Slots().size(), 3u);
    EXPECT_EQ(rig.bar.Slots()[0].Rect, (ql::TRect{14, 3, 38, 27}));
    EXPECT_EQ(rig.bar.Slots()[1].Rect, (ql::TRect{40, 3, 64, 27}));
    EXPECT_EQ(rig.bar.Slots()[2].Rect, (ql::TRect{66, 3, 90, 27}));
    // Background cells, the button backgrounds and the centred icons.
    EXPECT_EQ(rig.At(1, 1), test::kCellBg);
    EXPECT_EQ(rig.At(100, 29), test::kCellBg);
    EXPECT_EQ(rig.At(15, 4), test::kBtnNormal);
    EXPECT_EQ(rig.At(26, 15), test::kIcon);
    // The second object grays its normal look.
    const uint32_t gray = rig.At(41, 4);
    EXPECT_EQ((gray >> 16) & 255, gray & 255);
    EXPECT_EQ((gray >> 8) & 255, gray & 255);

    // "Count" limits the buttons, and the slots never outnumber the show's choice.
    TBarRig two({}, {3, 0});
    ASSERT_EQ(two.bar.Slots().size(), 2u);
    EXPECT_EQ(two.bar.Buttons()[size_t(two.bar.Slots()[0].Button)].Name, u"help");
    EXPECT_EQ(two.bar.Width(), 10 + 4 + 26 + 26 + 4 + 12);
}

TEST(NavBar, Mouse_HoverPressReleaseReportTheButtonUnderThePoint) {
    TBarRig rig;
    struct TStep {
        TNavMouseKind kind;
        int32_t x, y;
        bool left;
        std::array<uint8_t, 3> states;
        std::vector<int32_t> pressed;
    } steps[] = {
        {TNavMouseKind::Move, 20, 10, false, {nbsHover, nbsNormal, nbsNormal}, {}},
        {TNavMouseKind::Move, 45, 10, false, {nbsNormal, nbsHover, nbsNormal}, {}},
        {TNavMouseKind::Press, 45, 10, true, {nbsNormal, nbsPressed, nbsNormal}, {}},
        // Sliding off to another button while pressed: that one hovers.
        {TNavMouseKind::Move, 70, 10, true, {nbsNormal, nbsNormal, nbsHover}, {}},
        {TNavMouseKind::Move, 45, 10, true, {nbsNormal, nbsPressed, nbsNormal}, {}},
        {TNavMouseKind::Release, 45, 10, true, {nbsNormal, nbsHover, nbsNormal}, {1}},
        // A release away from the pressed button reports nothing.
        {TNavMouseKind::Press, 70, 10, true, {nbsNormal, nbsNormal, nbsPressed}, {1}},
        {TNavMouseKind::Release, 20, 10, true, {nbsHover, nbsNormal, nbsNormal}, {1}},
        // Leaving the bar after hovering.
        {TNavMouseKind::Move, 200, 10, false, {nbsNormal, nbsNormal, nbsNormal}, {1}},
        // A drag that began elsewhere is ignored.
        {TNavMouseKind::Move, 20, 10, true, {nbsNormal, nbsNormal, nbsNormal}, {1}},
    };
    int32_t k = 0;
    for (const TStep& s : steps) {
        rig.bar.Mouse(s.kind, s.x, s.y, s.left);
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(rig.bar.Slots()[i].State, s.states[i]) << "step " << k << " slot " << i;
        EXPECT_EQ(rig.pressed, s.pressed) << "step " << k;
        ++k;
    }
    // The pressed look moves by "ShiftPressed" and shows the pressed texture.
    rig.bar.Mouse(TNavMouseKind::Press, 20, 10, true);
    EXPECT_EQ(rig.At(15, 4), test::kBtnPressed);
    EXPECT_EQ(rig.At(14, 3), test::kCellBg);
    // A disabled button never changes state.
    rig.bar.Mouse(TNavMouseKind::Release, 20, 10, true);
    rig.bar.SetButtonDisabled(2, true);
    rig.bar.Mouse(TNavMouseKind::Press, 70, 10, true);
    rig.bar.Mouse(TNavMouseKind::Release, 70, 10, true);
    EXPECT_EQ(rig.bar.Slots()[2].State, nbsDisabled);
    EXPECT_EQ(rig.pressed, (std::vector<int32_t>{1, 0}));
}

TEST(NavBar, PauseButton_ShowsThePlayLookWhileThePauseHolds) {
    TBarRig rig;
    const uint64_t version = rig.bar.PictureVersion();
    EXPECT_EQ(rig.At(26, 15), test::kIcon);
    rig.playing = false;
    rig.bar.SetTime(1000);
    EXPECT_EQ(rig.At(26, 15), test::kPlayIcon);
    EXPECT_GT(rig.bar.PictureVersion(), version);
    const uint64_t paused = rig.bar.PictureVersion();
    rig.bar.SetTime(2000);  // nothing changed: no redraw
    EXPECT_EQ(rig.bar.PictureVersion(), paused);
}

TEST(NavBar, Hue_TurnsTheFinishedPictureLikeTheButtonProducer) {
    TBarRig plain;
    TBarRig tinted;
    tinted.bar.SetHue(120);
    tinted.bar.Reset();
    uint32_t expected = HslShiftColour(test::kBtnNormal & 0xFFFFFF, HslSteps({120, 0, 0}));
    EXPECT_EQ(tinted.At(15, 4) & 0xFFFFFF, expected);
    EXPECT_NE(tinted.At(15, 4), plain.At(15, 4));
}

TEST(NavBar, HostileValues_AreBoundedAndClipped) {
    // Huge grids and counts, bounds far outside their pictures, a cell with
    // bounds beyond any size: the bar lays out within its limits and draws.
    TBarRig rig(
        "[Common]\nColsCount=100000\nRowsCount=-5\n[Objects]\nCount=99999\n"
        "[Cell(1:1)]\nBounds=-50,-50,100000000,30\nflnm_Texture=cell.png\n"
        "[ACTION-exit]\nBgTextureNormalBounds=5000,5000,24,24\nflnm_BgTextureNormal=btnbg.png\n"
        "BtnTextureNormalBounds=0,0,16,16\nflnm_BtnTextureNormal=missing.png\n");
    EXPECT_LE(rig.bar.Width(), 8192);
    EXPECT_LE(rig.bar.ColumnWidths().size(), size_t(TNavBar::kMaxGrid));
    EXPECT_EQ(rig.bar.RowHeights().size(), 1u);
}

}  // namespace
}  // namespace orb
