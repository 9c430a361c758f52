#include "QlLib/Platform/qlSdlHost.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpStringUtils.h"
#include "WindowChild.h"

namespace ql {
namespace {

TEST(SdlHost_Keys, KeysOfTheKeyMapTranslate) {
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_ESCAPE), 27);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_SPACE), 32);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_PAUSE), 19);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_p), 80);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_AUDIOPLAY), 179);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_AUDIOSTOP), 178);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_LEFT), 37);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_PAGEUP), 33);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_AC_BACK), 166);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_AUDIOPREV), 177);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_RIGHT), 39);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_PAGEDOWN), 34);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_AC_FORWARD), 167);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_AUDIONEXT), 176);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_HOME), 36);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_END), 35);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_F1), 112);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_RETURN), 13);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_KP_ENTER), 13);
}

TEST(SdlHost_Keys, LettersDigitsAndFunctionKeys) {
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_a), 'A');
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_z), 'Z');
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_0), '0');
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_F12), 0x7B);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_F13), 0x7C);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_KP_5), 0x65);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_UNKNOWN), 0);
    EXPECT_EQ(VirtualKeyFromSdl(SDLK_APP1), 0);
}

TEST(SdlHost_Keys, ModifiersAsTheKeyMapReadsThem) {
    EXPECT_EQ(ModifiersFromSdl(KMOD_NONE), 0);
    EXPECT_EQ(ModifiersFromSdl(KMOD_LGUI), mods::Win);
    EXPECT_EQ(ModifiersFromSdl(KMOD_RSHIFT), mods::Shift);
    EXPECT_EQ(ModifiersFromSdl(KMOD_LALT), mods::Alt);
    EXPECT_EQ(ModifiersFromSdl(KMOD_RCTRL | KMOD_LSHIFT), mods::Ctrl | mods::Shift);
    // Lock keys do not count.
    EXPECT_EQ(ModifiersFromSdl(KMOD_NUM | KMOD_CAPS), 0);
}

TEST(SdlHost_Launch, WindowTestsPassOnTheDummyDriver) {
    const test::TChildRun run = test::RunChildTests("SdlHost_Window.*", "SDL_VIDEODRIVER=dummy");
    EXPECT_EQ(run.Code, 0) << run.Out << run.Err;
    EXPECT_EQ(run.Results.size(), 3u) << run.Out;
    EXPECT_EQ(run.Count("passed"), 3u) << run.Out;
}

TEST(SdlHost_Launch, WindowTestsPassOnAVirtualXServer) {
    if (FindExecutable(u"xvfb-run").empty())
        GTEST_SKIP() << "xvfb-run is not installed; no X server to test on";
    const test::TChildRun run = test::RunWindowChild("SdlHost_Window.*");
    EXPECT_EQ(run.Code, 0) << run.Out << run.Err;
    EXPECT_EQ(run.Results.size(), 3u) << run.Out;
    EXPECT_EQ(run.Count("passed"), 3u) << run.Out;
}

class SdlHost_Window : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::InWindowChild()) GTEST_SKIP() << "runs in the child of SdlHost_Launch";
        std::string error;
        ASSERT_TRUE(m_host.Init(error)) << error;
        TWindowParams params;
        params.Title = u"host test";
        params.Client = {10, 10, 74, 58};
        params.Border = TWindowBorder::Fixed;
        ASSERT_TRUE(m_host.OpenWindow(params, error)) << error;
    }

    // The next event within a generous bound.
    bool NextEvent(THostEvent& event) {
        for (int i = 0; i < 100; ++i)
            if (m_host.WaitEvent(event, 50) && event.Kind != THostEventKind::FocusGained &&
                event.Kind != THostEventKind::FocusLost && event.Kind != THostEventKind::Resized &&
                event.Kind != THostEventKind::MouseLeave)
                return true;
        return false;
    }

    TSdlHost m_host;
};

TEST_F(SdlHost_Window, PresentedFrameIsWhatTheWindowShows) {
    ASSERT_FALSE(m_host.Monitors().empty());
    std::vector<uint32_t> pixels(64 * 48, 0xFFFF0000u);
    m_host.Present({reinterpret_cast<const uint8_t*>(pixels.data()), 64, 48, 64 * 4});
    TFrameCopy shown;
    ASSERT_TRUE(m_host.ReadWindowPixels(shown));
    ASSERT_EQ(shown.Width, 64);
    ASSERT_EQ(shown.Height, 48);
    uint32_t centre;
    std::memcpy(&centre, shown.Pixels.data() + (24 * 64 + 32) * 4, 4);
    EXPECT_EQ(centre & 0xFFFFFFu, 0xFF0000u);
}

TEST_F(SdlHost_Window, FrameOfAnotherSizeIsStretchedOverTheWindow) {
    // Blue on the left, green on the right, at half the window's size: what
    // the window shows while the device has not yet followed a resize.
    std::vector<uint32_t> pixels(32 * 24);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = (i % 32) < 16 ? 0xFF0000FFu : 0xFF00FF00u;
    for (int pass = 0; pass < 2; ++pass) {
        // The second frame goes the way the first one found.
        m_host.Present({reinterpret_cast<const uint8_t*>(pixels.data()), 32, 24, 32 * 4});
        TFrameCopy shown;
        ASSERT_TRUE(m_host.ReadWindowPixels(shown));
        ASSERT_EQ(shown.Width, 64);
        ASSERT_EQ(shown.Height, 48);
        uint32_t left, right;
        std::memcpy(&left, shown.Pixels.data() + (24 * 64 + 8) * 4, 4);
        std::memcpy(&right, shown.Pixels.data() + (24 * 64 + 56) * 4, 4);
        EXPECT_EQ(left & 0xFFFFFFu, 0x0000FFu) << pass;
        EXPECT_EQ(right & 0xFFFFFFu, 0x00FF00u) << pass;
    }
}

TEST_F(SdlHost_Window, EventsArriveAsTheKeyMapExpects) {
    m_host.PostUserEvent(5, -7);
    THostEvent event;
    ASSERT_TRUE(NextEvent(event));
    EXPECT_EQ(event.Kind, THostEventKind::User);
    EXPECT_EQ(event.Code, 5);
    EXPECT_EQ(event.Param, -7);

    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = SDLK_p;
    e.key.keysym.mod = KMOD_LCTRL;
    SDL_PushEvent(&e);
    ASSERT_TRUE(NextEvent(event));
    EXPECT_EQ(event.Kind, THostEventKind::Key);
    EXPECT_EQ(event.Key, 'P');
    EXPECT_EQ(event.KeyEvent, kePressed);
    EXPECT_EQ(event.Modifiers, mods::Ctrl);

    // The second press of a double click comes with a double-click event.
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = SDL_BUTTON_LEFT;
    e.button.clicks = 2;
    e.button.x = 12;
    e.button.y = 13;
    SDL_PushEvent(&e);
    ASSERT_TRUE(NextEvent(event));
    EXPECT_EQ(event.MouseEvent, mePressed);
    EXPECT_EQ(event.Button, mbLeft);
    ASSERT_TRUE(NextEvent(event));
    EXPECT_EQ(event.MouseEvent, meDoubleClick);
    EXPECT_EQ(event.X, 12);

    // Half steps add up to one whole step; the remainder waits.
    std::memset(&e, 0, sizeof e);
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = 0;
    e.wheel.preciseY = -0.5f;
    SDL_PushEvent(&e);
    SDL_PushEvent(&e);
    SDL_PushEvent(&e);
    ASSERT_TRUE(NextEvent(event));
    EXPECT_EQ(event.Kind, THostEventKind::Wheel);
    EXPECT_EQ(event.WheelSteps, -1);
    EXPECT_FALSE(m_host.PollEvent(event) && event.Kind == THostEventKind::Wheel);

    std::memset(&e, 0, sizeof e);
    e.type = SDL_WINDOWEVENT;
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&e);
    ASSERT_TRUE(NextEvent(event));
    EXPECT_EQ(event.Kind, THostEventKind::Close);
}

}  // namespace
}  // namespace ql
