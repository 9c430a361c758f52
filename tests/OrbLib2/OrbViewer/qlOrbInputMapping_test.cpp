#include "OrbLib2/OrbViewer/qlOrbInputMapping.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "QlLib/Platform/qlHost.h"
#include "QlLib/qlIniStorage.h"

namespace orb {
namespace {

using ql::kePressed;
using ql::keReleased;
namespace vk = ql::vk;
namespace mods = ql::mods;

// The mapping of a show with these options in section "main".
std::unique_ptr<TInputMappingClass> Mapping(
    std::initializer_list<std::pair<const char16_t*, const char16_t*>> options) {
    ql::TIniStorage project;
    for (const auto& [key, value] : options) project.WriteString(u"main", key, value);
    return std::make_unique<TInputMappingClass>(ReadShowOptions(project));
}

uint8_t PressedCode(const TInputMappingClass& map, uint32_t key, uint8_t modifiers = 0) {
    return map.KeyAction(modifiers, key, kePressed).Code;
}

TEST(InputMapping_Keys, Defaults_BindTheNavigationTable) {
    auto map = Mapping({{u"opt_slidescount", u"12"}});
    EXPECT_EQ(PressedCode(*map, vk::Escape), acExit);
    for (uint32_t key : {vk::Space, vk::Pause, vk::MediaPlayPause})
        EXPECT_EQ(PressedCode(*map, key), acPause) << key;
    EXPECT_EQ(PressedCode(*map, vk::MediaStop), acStop);
    for (uint32_t key : {vk::Left, vk::Prior, vk::BrowserBack, vk::MediaPrevTrack})
        EXPECT_EQ(PressedCode(*map, key), acPrevSlide) << key;
    for (uint32_t key : {vk::Right, vk::Next, vk::BrowserForward, vk::MediaNextTrack})
        EXPECT_EQ(PressedCode(*map, key), acNextSlide) << key;
    EXPECT_EQ(map->KeyAction(0, vk::Home, kePressed), TOrbActionInfo(acGotoSlide, 0));
    EXPECT_EQ(map->KeyAction(0, vk::End, kePressed), TOrbActionInfo(acGotoSlide, 12));
    EXPECT_EQ(PressedCode(*map, vk::F1), acHelp);
    EXPECT_EQ(PressedCode(*map, 'A'), acNone);
}

TEST(InputMapping_Keys, ReleasedKeys_HaveNoAction) {
    auto map = Mapping({});
    EXPECT_EQ(map->KeyAction(0, vk::Right, keReleased).Code, acNone);
    EXPECT_EQ(map->KeyAction(0, vk::Escape, keReleased).Code, acNone);
}

TEST(InputMapping_Keys, CtrlP_PausesButShiftPAndPlainPDoNot) {
    auto map = Mapping({});
    EXPECT_EQ(PressedCode(*map, 'P', mods::Ctrl), acPause);
    EXPECT_EQ(PressedCode(*map, 'P', mods::Shift), acNone);
    EXPECT_EQ(PressedCode(*map, 'P'), acNone);
    EXPECT_EQ(PressedCode(*map, 'P', mods::Ctrl | mods::Shift), acNone);
}

TEST(InputMapping_Keys, HeldShiftAltOrCtrl_StopsAPlainBinding_WindowsKeyDoesNot) {
    auto map = Mapping({});
    EXPECT_EQ(PressedCode(*map, vk::Space, mods::Shift), acNone);
    EXPECT_EQ(PressedCode(*map, vk::Right, mods::Alt), acNone);
    EXPECT_EQ(PressedCode(*map, vk::Right, mods::Ctrl), acNone);
    EXPECT_EQ(PressedCode(*map, vk::Right, mods::Win), acNextSlide);
    // Mouse button bits never reach key events, but they must not matter.
    EXPECT_EQ(PressedCode(*map, vk::Right, mods::LeftHeld), acNextSlide);
}

TEST(InputMapping_Keys, PermitControlOff_LeavesOnlyEscapeAndF1) {
    auto map = Mapping({{u"opt_synchpermitcontrol", u"0"}});
    EXPECT_FALSE(map->PermitControl());
    EXPECT_EQ(PressedCode(*map, vk::Escape), acExit);
    EXPECT_EQ(PressedCode(*map, vk::F1), acHelp);
    for (uint32_t key :
         {vk::Left, vk::Right, vk::Space, vk::Home, vk::End, vk::Next, vk::MediaStop})
        EXPECT_EQ(PressedCode(*map, key), acNone) << key;
    EXPECT_EQ(PressedCode(*map, 'P', mods::Ctrl), acNone);
    // The pause barrier is still released by the form for these keys.
    EXPECT_TRUE(TInputMappingClass::ReleasesPauseWait(vk::Right));
}

TEST(InputMapping_Keys, ReleasesPauseWait_OnlyForTheForwardKeys) {
    for (uint32_t key : {vk::Pause, vk::Space, vk::Next, vk::Right, vk::BrowserForward,
                         vk::MediaNextTrack, vk::MediaPlayPause})
        EXPECT_TRUE(TInputMappingClass::ReleasesPauseWait(key)) << key;
    for (uint32_t key : {vk::Left, vk::Prior, vk::Escape, vk::Home, vk::MediaStop, uint16_t('P')})
        EXPECT_FALSE(TInputMappingClass::ReleasesPauseWait(key)) << key;
}

TEST(InputMapping_Keys, LockF1_RemovesHelp) {
    auto map = Mapping({{u"opt_lockf1", u"1"}});
    EXPECT_EQ(PressedCode(*map, vk::F1), acNone);
    EXPECT_EQ(PressedCode(*map, vk::Right), acNextSlide);
}

TEST(InputMapping_Keys, KeyCodesOf256AndAbove_HaveNoBindings) {
    auto map = Mapping({});
    EXPECT_EQ(map->FindKey(0, 256 + vk::Escape, kePressed), nullptr);
    EXPECT_EQ(map->FindKey(0, 0xFFFFFFFFu, kePressed), nullptr);
}

TEST(InputMapping_Keys, ScreenSaver_EveryKeyEventExits) {
    auto map = Mapping({{u"opt_ssaver", u"1"}});
    EXPECT_TRUE(map->ScreenSaver());
    EXPECT_EQ(PressedCode(*map, 'A'), acExit);
    EXPECT_EQ(map->KeyAction(mods::Shift, vk::Right, keReleased).Code, acExit);
    EXPECT_EQ(map->KeyAction(0, 1000, kePressed).Code, acExit);
}

TEST(InputMapping_KeyMap, Chain_NewestBindingWinsAndLongChainsFreeWithoutRecursion) {
    auto older = std::make_unique<TKeyMap>(14, 0, kePressed, TOrbActionInfo(acPause), nullptr);
    TKeyMap newest(14, 8, kePressed, TOrbActionInfo(acExit), std::move(older));
    EXPECT_TRUE(newest.Matches(8, kePressed));
    EXPECT_FALSE(newest.Matches(0, kePressed));
    ASSERT_NE(newest.Next(), nullptr);
    EXPECT_TRUE(newest.Next()->Matches(mods::Win, kePressed));

    std::unique_ptr<TKeyMap> chain;
    for (int i = 0; i < 200000; ++i)
        chain =
            std::make_unique<TKeyMap>(0, 0, kePressed, TOrbActionInfo(acNone), std::move(chain));
    chain.reset();
}

TEST(InputMapping_Mouse, ActionNames_MatchExactly) {
    EXPECT_EQ(TInputMappingClass::MouseActionFromName(u"Exit"), TOrbActionInfo(acExit));
    EXPECT_EQ(TInputMappingClass::MouseActionFromName(u"Next slide"), TOrbActionInfo(acNextSlide));
    EXPECT_EQ(TInputMappingClass::MouseActionFromName(u"Prev. slide"), TOrbActionInfo(acPrevSlide));
    EXPECT_EQ(TInputMappingClass::MouseActionFromName(u"Help"), TOrbActionInfo(acHelp));
    EXPECT_EQ(TInputMappingClass::MouseActionFromName(u"Pause"), TOrbActionInfo(acPause));
    EXPECT_EQ(TInputMappingClass::MouseActionFromName(u"Go to first"),
              TOrbActionInfo(acGotoSlide, 0));
    EXPECT_TRUE(TInputMappingClass::MouseActionFromName(u"next slide").IsNone());
    EXPECT_TRUE(TInputMappingClass::MouseActionFromName(u"Exit ").IsNone());
    EXPECT_TRUE(TInputMappingClass::MouseActionFromName(u"").IsNone());
}

TEST(InputMapping_Mouse, LeftButton_ActsOnReleaseNotOnPress) {
    auto map = Mapping({{u"opt_leftmouse", u"Next slide"}, {u"opt_rightmouse", u"Prev. slide"}});
    EXPECT_TRUE(map->MouseAction(mods::LeftHeld, 10, 10, ql::mePressed, ql::mbLeft, 0).IsNone());
    EXPECT_EQ(map->MouseAction(0, 10, 10, ql::meReleased, ql::mbLeft, 0).Code, acNextSlide);
    EXPECT_EQ(map->MouseAction(0, 10, 10, ql::meReleased, ql::mbRight, 0).Code, acPrevSlide);
    EXPECT_TRUE(map->MouseAction(0, 10, 10, ql::meReleased, ql::mbMiddle, 0).IsNone());
    EXPECT_TRUE(map->MouseAction(0, 10, 10, ql::meMove, 0, 0).IsNone());
}

TEST(InputMapping_Mouse, DoubleClick_DeliversThePressThenExits) {
    auto map = Mapping({{u"opt_dblclick", u"Exit"}});
    EXPECT_TRUE(map->MouseAction(mods::LeftHeld, 5, 5, ql::mePressed, ql::mbLeft, 0).IsNone());
    EXPECT_EQ(map->MouseAction(mods::LeftHeld, 5, 5, ql::meDoubleClick, ql::mbLeft, 0).Code,
              acExit);
    EXPECT_TRUE(
        map->MouseAction(mods::RightHeld, 5, 5, ql::meDoubleClick, ql::mbRight, 0).IsNone());
}

TEST(InputMapping_Mouse, NoOptions_NoMouseActions) {
    auto map = Mapping({});
    EXPECT_EQ(map->MoveDetector(), nullptr);
    EXPECT_TRUE(map->MouseAction(0, 1, 1, ql::meReleased, ql::mbLeft, 0).IsNone());
    EXPECT_TRUE(map->MouseAction(0, 900, 900, ql::meMove, 0, 0).IsNone());
}

TEST(InputMapping_Mouse, ExitOnMove_FirstEventNeverExits_SixPixelsDoes_FiveDoNot) {
    auto map = Mapping({{u"opt_exitonmove", u"1"}});
    ASSERT_NE(map->MoveDetector(), nullptr);
    EXPECT_FALSE(map->ScreenSaver());
    EXPECT_TRUE(map->MouseAction(0, 100, 100, ql::meMove, 0, 0).IsNone());
    EXPECT_TRUE(map->MouseAction(0, 103, 102, ql::meMove, 0, 10).IsNone());   // 5 away
    EXPECT_EQ(map->MouseAction(0, 97, 103, ql::meMove, 0, 20).Code, acExit);  // 6 away
}

TEST(InputMapping_Mouse, ScreenSaver_ButtonOrModifierHeldExits) {
    auto map = Mapping({{u"opt_ssaver", u"1"}});
    ASSERT_NE(map->MoveDetector(), nullptr);
    EXPECT_TRUE(map->MouseAction(0, 50, 50, ql::meMove, 0, 0).IsNone());
    EXPECT_EQ(map->MouseAction(mods::LeftHeld, 50, 50, ql::mePressed, ql::mbLeft, 0).Code, acExit);
    EXPECT_EQ(map->MouseAction(mods::Shift, 50, 50, ql::meMove, 0, 0).Code, acExit);
    EXPECT_EQ(map->MouseAction(0, 60, 50, ql::meMove, 0, 0).Code, acExit);
}

TEST(InputMapping_MoveDetector, RecordsOnlyRealMoves) {
    TMouseMoveDetector detector(1000);
    EXPECT_FALSE(detector.Check(0, 0, 0));
    EXPECT_EQ(detector.RecordedCount(), 1);
    EXPECT_FALSE(detector.Check(5, 0, 10));
    EXPECT_FALSE(detector.Check(0, -5, 10));
    EXPECT_EQ(detector.RecordedCount(), 1);
    EXPECT_TRUE(detector.Check(3, 3, 20));
    EXPECT_EQ(detector.RecordedCount(), 2);
    // Measured from the new position now.
    EXPECT_FALSE(detector.Check(6, 5, 30));
    EXPECT_TRUE(detector.Check(INT32_MIN, INT32_MAX, 40));
}

TEST(InputMapping_MoveDetector, Idle_AfterTheLimit_HoldRestartsIt) {
    TMouseMoveDetector detector(1000);
    detector.Check(0, 0, 0);
    EXPECT_FALSE(detector.Idle(1000));
    EXPECT_TRUE(detector.Idle(1001));
    detector.Check(10, 0, 2000);
    EXPECT_FALSE(detector.Idle(2500));
    detector.Hold();
    EXPECT_FALSE(detector.Idle(3500));  // consumed: idle time restarts at 3500
    EXPECT_FALSE(detector.Idle(4400));
    EXPECT_TRUE(detector.Idle(4501));
}

TEST(InputMapping_Wheel, CtrlStepsSlides_PlainMovesTime_LockedDoesNothing) {
    using K = TWheelCommand::TKind;
    EXPECT_EQ(MapWheel(-1, mods::Ctrl, true), (TWheelCommand{K::NextSlide, 0}));
    EXPECT_EQ(MapWheel(2, mods::Ctrl, true), (TWheelCommand{K::PrevSlide, 0}));
    EXPECT_EQ(MapWheel(1, 0, true), (TWheelCommand{K::MoveTime, -700}));
    EXPECT_EQ(MapWheel(-3, mods::Shift, true), (TWheelCommand{K::MoveTime, 2100}));
    EXPECT_EQ(MapWheel(-1, 0, false), TWheelCommand{});
    EXPECT_EQ(MapWheel(0, 0, true), TWheelCommand{});
}

}  // namespace
}  // namespace orb
