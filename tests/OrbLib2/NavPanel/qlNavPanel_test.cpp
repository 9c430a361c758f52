#include "OrbLib2/NavPanel/qlNavPanel.h"

#include <gtest/gtest.h>

#include "NavPanelFixtures.h"

namespace orb {
namespace {

TEST(NavPanel, Placement_NineCodesAndUnknownNamesInTheCentre) {
    const ql::TRect area = {0, 0, 800, 600};
    struct TCase {
        const char16_t* name;
        int32_t code, left, top;
    } cases[] = {
        {u"Left-Top", 0, 40, 30},
        {u"Top", 1, 292, 30},
        {u"right-top", 2, 544, 30},
        {u"Right", 3, 544, 270},
        {u"Right-Bottom", 4, 544, 510},
        {u"Bottom", 5, 292, 510},
        {u"Left-Bottom", 6, 40, 510},
        {u"Left", 7, 40, 270},
        {u"Center", 8, 292, 270},
        {u"Middle", 8, 292, 270},
        {u"", 8, 292, 270},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(NavPlacementCode(c.name), c.code);
        const ql::TRect r = NavPlace(NavAnchors(NavPlacementCode(c.name), 10), area, 216, 60);
        EXPECT_EQ(r, (ql::TRect{c.left, c.top, c.left + 216, c.top + 60})) << c.code;
    }
}

struct TPanelRig {
    ql::test::TTestFolder folder;
    std::unique_ptr<TNavPanel> panel;
    explicit TPanelRig(const std::u16string& position = u"Center", const std::string& extra = {},
                       const std::u16string& file = u"bar/bar.ini") {
        test::WriteBarFixtures(folder, extra);
        TNavPanelOptions o;
        o.DefinitionFile = file;
        o.Position = position;
        o.ShowBackground = true;
        o.Buttons = {u"pause", u"Forward", u"unknown", u"exit"};
        panel =
            std::make_unique<TNavPanel>(o, ql::TRect{0, 0, 800, 600}, test::FolderOpener(folder));
    }
};

TEST(NavPanel, Mouse_ButtonsGiveTheirActionsAndTheBackgroundIsConsumed) {
    TPanelRig rig(u"No such place");
    ASSERT_TRUE(rig.panel->Load(60000));
    TNavPanel& p = *rig.panel;
    // 10 percent of 600 high, the bar's 106 x 30 keeps its shape: centred.
    EXPECT_EQ(p.Rect(), (ql::TRect{294, 270, 506, 330}));
    EXPECT_EQ(p.Clickable(), p.Rect());
    struct TCase {
        TNavMouseKind kind;
        int32_t x, y;
        TOrbActionInfo action;
        bool over;
    } cases[] = {
        {TNavMouseKind::Move, 10, 10, {}, false},
        {TNavMouseKind::Press, 330, 300, {acNavConsumed}, true},
        {TNavMouseKind::Release, 330, 300, {acPause}, true},
        {TNavMouseKind::Press, 440, 300, {acNavConsumed}, true},
        {TNavMouseKind::Release, 440, 300, {acExit}, true},
        {TNavMouseKind::Press, 380, 300, {acNavConsumed}, true},
        {TNavMouseKind::Release, 380, 300, {acNextSlide}, true},
        // The background between and beside the buttons.
        {TNavMouseKind::Press, 295, 300, {acNavConsumed}, true},
        {TNavMouseKind::Release, 295, 300, {acNavConsumed}, true},
        {TNavMouseKind::DoubleClick, 330, 300, {}, true},
        {TNavMouseKind::Press, 10, 10, {}, false},
        {TNavMouseKind::Release, 10, 10, {}, false},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(p.Mouse(c.kind, c.x, c.y, true), c.action) << c.x << "," << c.y;
        EXPECT_EQ(p.MouseOver(), c.over);
    }
    EXPECT_EQ(p.ActionOfButton(-1), TOrbActionInfo(acPause));
}

TEST(NavPanel, BadDefinitions_LeaveNoPanelWithTheReason) {
    TPanelRig missing(u"Center", {}, u"bar/none.ini");
    EXPECT_FALSE(missing.panel->Load(0));
    EXPECT_FALSE(missing.panel->HasBar());
    EXPECT_EQ(missing.panel->Mouse(TNavMouseKind::Press, 400, 300, true), TOrbActionInfo());
    TPanelRig malformed(u"Center", "[Cell(1:1)]\nBounds=1\n");
    EXPECT_FALSE(malformed.panel->Load(0));
    EXPECT_EQ(malformed.panel->LoadError(),
              u"Incorrect number of parameters in field \"Bounds\" in [Cell(1:1)]");
}

TEST(NavPanel, VideoBar_SpansTheViewportAndMapsItsPlayButtonToPause) {
    ql::test::TTestFolder folder;
    test::WriteBarFixtures(folder);
    TNavPanelOptions o;
    o.DefinitionFile = u"video\\bar.ini";
    o.Position = u"Bottom";
    o.UseVideoScale = true;
    o.ViewScale = 40.0 / 6;  // 40 of 600 pixels: the bar's own size
    o.Buttons = {u"forward"};
    bool playing = true;
    TNavPanel::THooks hooks;
    hooks.IsPlaying = [&] { return playing; };
    TNavPanel panel(o, ql::TRect{0, 0, 800, 600}, test::FolderOpener(folder), hooks);
    ASSERT_TRUE(panel.Load(60000));
    EXPECT_EQ(panel.Rect(), (ql::TRect{0, 560, 800, 600}));
    EXPECT_EQ(panel.Mouse(TNavMouseKind::Press, 20, 580, true), TOrbActionInfo(acPause));
    EXPECT_EQ(panel.Mouse(TNavMouseKind::Release, 20, 580, true), TOrbActionInfo(acNavConsumed));
    EXPECT_EQ(panel.Mouse(TNavMouseKind::Press, 40, 580, true), TOrbActionInfo(acNextSlide));
}

}  // namespace
}  // namespace orb
