#include "Orb/OrbViewer/OrbViewerOptions.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

TViewerOptions Options(const std::u16string& line) {
    ql::TCommandsStorage commands;
    commands.ParseCommandLine(line);
    return ReadViewerOptions(commands);
}

TEST(OrbViewerOptions, StartPosition_SlideWinsAndBadValuesAreIgnored) {
    EXPECT_EQ(Options(u"p -slide 3 -time 500").StartSlide, 2);
    EXPECT_FALSE(Options(u"p -slide 3 -time 500").StartTime);
    EXPECT_EQ(Options(u"p -slide 0 -time 500").StartTime, 500);
    EXPECT_FALSE(Options(u"p -slide x").StartSlide);
    EXPECT_FALSE(Options(u"p -time -4").StartTime);
    EXPECT_EQ(Options(u"p -slide 99999999999").StartSlide, INT32_MAX - 1);
}

TEST(OrbViewerOptions, SwitchesAndRawTokens) {
    const TViewerOptions options = Options(u"p -Display 2 -desktopalign -RESIZE -cover /S -startup -allowrun");
    EXPECT_EQ(options.Display, 2);
    EXPECT_TRUE(options.DesktopAlign && options.Resize && options.Cover && options.AllowRun);
    EXPECT_TRUE(options.ScreenSaverToken);
    EXPECT_TRUE(options.StartupMode);
    EXPECT_FALSE(Options(u"p -s").ScreenSaverToken);
    EXPECT_EQ(Options(u"p -startup -ownerwnd 77").OwnerWindow, 77);
}

TEST(OrbViewerOptions, ScreenSaverProgram_ByItsExtension) {
    EXPECT_TRUE(IsScreenSaverProgram(u"/usr/games/Holiday.SCR"));
    EXPECT_FALSE(IsScreenSaverProgram(u"/usr/games/scr"));
    EXPECT_FALSE(IsScreenSaverProgram(u"/opt/a.scr/show"));
}

TEST(OrbViewerOptions, StartupChild_ArgumentsKeepQuotesInNames) {
    const auto arguments = StartupChildArguments(u"/opt/show", u"/tmp/a\" -filelog \".orb", false, 2);
    EXPECT_EQ(arguments, (std::vector<std::u16string>{u"/opt/show", u"-filename", u"/tmp/a\" -filelog \".orb",
                                                       u"-startup", u"-display", u"2"}));
}

}  // namespace
}  // namespace orb
