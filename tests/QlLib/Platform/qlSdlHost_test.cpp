#include "QlLib/Platform/qlSdlHost.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "ProgramRunner.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpStringUtils.h"

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

// The window test runs in a child of this test program on a virtual X server.
TEST(SdlHost_Display, WindowShowsThePresentedFrame) {
    if (!std::getenv("ORB_SDL_DISPLAY_CHILD")) {
        if (FindExecutable(u"xvfb-run").empty()) GTEST_SKIP() << "xvfb-run is not installed; no display to test on";
        test::TTestFolder folder;
        const std::string self = ToUtf8(TFileAPI::ProgramFileName());
        const test::TProgramRun run = test::RunProgram(
            folder.Path(), "xvfb-run",
            "-a env ORB_SDL_DISPLAY_CHILD=1 " + test::ShellQuote(self) + " --gtest_filter=SdlHost_Display.*");
        EXPECT_EQ(run.Code, 0) << run.Out << run.Err;
        return;
    }
    TSdlHost host;
    std::string error;
    ASSERT_TRUE(host.Init(error)) << error;
    ASSERT_FALSE(host.Monitors().empty());
    TWindowParams params;
    params.Title = u"host test";
    params.Client = {10, 10, 74, 58};
    params.Border = TWindowBorder::Fixed;
    ASSERT_TRUE(host.OpenWindow(params, error)) << error;
    std::vector<uint32_t> pixels(64 * 48, 0xFFFF0000u);
    host.Present({reinterpret_cast<const uint8_t*>(pixels.data()), 64, 48, 64 * 4});
    TFrameCopy shown;
    ASSERT_TRUE(host.ReadWindowPixels(shown));
    ASSERT_EQ(shown.Width, 64);
    uint32_t centre;
    std::memcpy(&centre, shown.Pixels.data() + (24 * 64 + 32) * 4, 4);
    EXPECT_EQ(centre & 0xFFFFFFu, 0xFF0000u);

    host.PostUserEvent(5, -7);
    THostEvent event;
    bool gotUser = false;
    for (int i = 0; i < 200 && !gotUser; ++i)
        if (host.WaitEvent(event, 50) && event.Kind == THostEventKind::User) gotUser = true;
    ASSERT_TRUE(gotUser);
    EXPECT_EQ(event.Code, 5);
    EXPECT_EQ(event.Param, -7);
}

}  // namespace
}  // namespace ql
