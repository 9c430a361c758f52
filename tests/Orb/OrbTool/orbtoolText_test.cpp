#include <gtest/gtest.h>

#include <cstdio>

#include "ProgramRunner.h"

namespace ql {
namespace {

using test::ShellQuote;

test::TProgramRun Tool(const test::TTestFolder& folder, const std::string& arguments) {
    return test::RunProgram(folder, ORBTOOL_PATH, arguments);
}

bool IsPng(const std::string& path) { return test::ReadTextFile(path).rfind("\x89PNG\r\n\x1a\n", 0) == 0; }

TEST(OrbToolText, TwoLines_PrintsTheSizeAndWritesPng) {
    test::TTestFolder folder;
    auto one = Tool(folder, "text Hello --size 40 -o " + ShellQuote(folder.File("one.png")));
    ASSERT_EQ(one.Code, 0) << one.Err;
    auto two = Tool(folder, "text 'Hello\\nWorld' --size 40 --bold -o " + ShellQuote(folder.File("two.png")));
    ASSERT_EQ(two.Code, 0) << two.Err;
    EXPECT_TRUE(IsPng(folder.File("two.png")));
    int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    ASSERT_EQ(std::sscanf(one.Out.c_str(), "%dx%d", &w1, &h1), 2);
    ASSERT_EQ(std::sscanf(two.Out.c_str(), "%dx%d", &w2, &h2), 2);
    EXPECT_GT(h2, 2 * h1 - 4);
}

TEST(OrbToolText, Shadow_GrowsThePicture) {
    test::TTestFolder folder;
    auto plain = Tool(folder, "text Hi --size 40 -o " + ShellQuote(folder.File("a.png")));
    auto shadow = Tool(folder, "text Hi --size 40 --color FFFF0000 --shadow 8,5,5,60 -o " +
                                   ShellQuote(folder.File("b.png")));
    ASSERT_EQ(shadow.Code, 0) << shadow.Err;
    EXPECT_NE(plain.Out, shadow.Out);
    EXPECT_EQ(Tool(folder, "text Hi --shadow 8,5 -o " + ShellQuote(folder.File("c.png"))).Code, 2);
    EXPECT_EQ(Tool(folder, "text Hi --color red -o " + ShellQuote(folder.File("c.png"))).Code, 2);
    EXPECT_EQ(Tool(folder, "text Hi").Code, 2);
}

TEST(OrbToolMask, PresetMask_PrintsItsKey) {
    test::TTestFolder folder;
    auto run = Tool(folder, "mask ellipse --size 64x32 --softness 50 -o " + ShellQuote(folder.File("m.png")));
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "PresetedMask: 64:32:1:50:20\n");
    EXPECT_TRUE(IsPng(folder.File("m.png")));
    EXPECT_EQ(Tool(folder, "mask star --size 4x4 -o " + ShellQuote(folder.File("m.png"))).Code, 2);
    EXPECT_EQ(Tool(folder, "mask ellipse --size 0x4 -o " + ShellQuote(folder.File("m.png"))).Code, 2);
}

}  // namespace
}  // namespace ql
