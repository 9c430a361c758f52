#include <gtest/gtest.h>

#include "ProgramRunner.h"

namespace ql {
namespace {

using test::ShellQuote;

test::TProgramRun Tool(const test::TTestFolder& folder, const std::string& arguments) {
    return test::RunProgram(folder, ORBTOOL_PATH, arguments);
}

TEST(OrbToolDrawTest, SoftDevice_WritesThePngAndGivesTheSameBytesTwice) {
    test::TTestFolder folder;
    auto one = Tool(folder, "draw-test --device soft --size 160x100 -o " + ShellQuote(folder.File("a.png")));
    ASSERT_EQ(one.Code, 0) << one.Err;
    EXPECT_EQ(one.Out, "160x100\n");
    auto two = Tool(folder, "draw-test --device soft --size 160x100 -o " + ShellQuote(folder.File("b.png")));
    ASSERT_EQ(two.Code, 0) << two.Err;
    const std::string a = test::ReadTextFile(folder.File("a.png"));
    EXPECT_EQ(a.rfind("\x89PNG\r\n\x1a\n", 0), 0u);
    EXPECT_EQ(a, test::ReadTextFile(folder.File("b.png")));
}

TEST(OrbToolDrawTest, GlDevice_WritesTheSceneOrSaysItIsNotAvailable) {
    test::TTestFolder folder;
    auto gl = Tool(folder, "draw-test --device gl --size 64x64 -o " + ShellQuote(folder.File("g.png")));
    if (gl.Code == 2 && gl.Err.find("device not available") != std::string::npos)
        GTEST_SKIP() << "no OpenGL here: " << gl.Err;
    ASSERT_EQ(gl.Code, 0) << gl.Err;
    EXPECT_EQ(gl.Out, "64x64\n");
    EXPECT_EQ(test::ReadTextFile(folder.File("g.png")).rfind("\x89PNG\r\n\x1a\n", 0), 0u);
}

TEST(OrbToolDrawTest, BadArguments_AreErrors) {
    test::TTestFolder folder;
    EXPECT_EQ(Tool(folder, "draw-test --device soft --size 8x8 -o " + ShellQuote(folder.File("s.png"))).Code, 2);
    EXPECT_EQ(Tool(folder, "draw-test --device soft --size 100000x64 -o x.png").Code, 2);
    EXPECT_EQ(Tool(folder, "draw-test --device soft --size 64x64").Code, 2);
    EXPECT_EQ(Tool(folder, "draw-test --device vulkan --size 64x64 -o x.png").Code, 2);
    EXPECT_EQ(Tool(folder, "draw-test --help").Code, 0);
}

}  // namespace
}  // namespace ql
