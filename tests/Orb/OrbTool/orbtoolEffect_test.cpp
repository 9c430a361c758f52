#include <gtest/gtest.h>

#include "ProgramRunner.h"

namespace ql {
namespace {

using test::ShellQuote;

test::TProgramRun Tool(const test::TTestFolder& folder, const std::string& arguments) {
    return test::RunProgram(folder, ORBTOOL_PATH, arguments);
}

TEST(OrbToolEffect, Frame_WritesThePngAndGivesTheSameBytesTwice) {
    test::TTestFolder folder;
    const std::string args = "effect --class 1 --type 1 --size 64x36 --progress 0.4 --param MosaicDX=8 "
                             "--param MosaicDY=4 --param MosaicSC=50 --param Seed=5 -o ";
    auto one = Tool(folder, args + ShellQuote(folder.File("a.png")));
    ASSERT_EQ(one.Code, 0) << one.Err;
    EXPECT_EQ(one.Out, "64x36\n");
    ASSERT_EQ(Tool(folder, args + ShellQuote(folder.File("b.png"))).Code, 0);
    const std::string a = test::ReadTextFile(folder.File("a.png"));
    EXPECT_EQ(a.rfind("\x89PNG\r\n\x1a\n", 0), 0u);
    EXPECT_EQ(a, test::ReadTextFile(folder.File("b.png")));
}

TEST(OrbToolEffect, Strip_PutsTheFramesSideBySide) {
    test::TTestFolder folder;
    auto run = Tool(folder, "effect --class 16 --type 1 --size 40x30 --strip 5 --param FlipCenter=1 -o " +
                                ShellQuote(folder.File("s.png")));
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "216x30\n");  // five frames and four 4-pixel gaps
}

TEST(OrbToolEffect, BadArguments_AreErrors) {
    test::TTestFolder folder;
    const std::string out = " -o " + ShellQuote(folder.File("x.png"));
    EXPECT_EQ(Tool(folder, "effect --type 1" + out).Code, 2);
    EXPECT_EQ(Tool(folder, "effect --class 2 --type 1 --progress 1.5" + out).Code, 2);
    EXPECT_EQ(Tool(folder, "effect --class 2 --type 1 --strip 0" + out).Code, 2);
    EXPECT_EQ(Tool(folder, "effect --class 2 --type 1 --param Nonsense=1" + out).Code, 2);
    EXPECT_EQ(Tool(folder, "effect --class 2 --type 1 --param CenterX=abc" + out).Code, 2);
    EXPECT_EQ(Tool(folder, "effect --class 2 --type 1 --device vulkan" + out).Code, 2);
    EXPECT_EQ(Tool(folder, "effect --help").Code, 0);
    // Classes outside the table draw a cross-fade rather than failing.
    EXPECT_EQ(Tool(folder, "effect --class 77 --type 99 --size 32x32" + out).Code, 0);
}

}  // namespace
}  // namespace ql
