#include "QlLib/qlCommands.h"

#include <gtest/gtest.h>

namespace ql {
namespace {

TEST(CommandsStorage, CommandLineExample_GroupsParametersBySwitch) {
    TCommandsStorage commands;
    commands.ParseCommandLine(u"/opt/show/player -log \"a b\" c -filelog");
    const TCommand* program = commands.Command(u"");
    ASSERT_NE(program, nullptr);
    ASSERT_EQ(program->Count(), 1);
    EXPECT_EQ(program->Item(0)->Value(), u"/opt/show/player");
    const TCommand* log = commands.Command(u"log");
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(log->Count(), 2);
    EXPECT_EQ(log->Item(0)->Value(), u"a b");
    EXPECT_EQ(log->Item(1)->Value(), u"c");
    const TCommand* fileLog = commands.Command(u"filelog");
    ASSERT_NE(fileLog, nullptr);
    EXPECT_EQ(fileLog->Count(), 0);
    EXPECT_EQ(commands.Count(), 3);
}

TEST(CommandsStorage, Argv_FirstArgumentBelongsToTheEmptySwitch) {
    TCommandsStorage commands;
    commands.Parse({"/opt/player", "-slide", "3", "x", "-slide", "5", "-startup"});
    EXPECT_EQ(commands.Value(u""), u"/opt/player");
    const TCommand* slide = commands.Command(u"slide");
    ASSERT_NE(slide, nullptr);
    ASSERT_EQ(slide->Count(), 3);  // named twice, one entry
    EXPECT_EQ(commands.IntValue(u"slide", 0, -1), 3);
    EXPECT_EQ(slide->Item(1)->AsInteger(7), 7);
    EXPECT_EQ(slide->Item(2)->AsInteger(7), 5);
    EXPECT_EQ(slide->Item(3), nullptr);
    EXPECT_EQ(commands.IntValue(u"time", 0, -1), -1);
    EXPECT_TRUE(commands.HasRawToken(u"-startup"));
    EXPECT_FALSE(commands.HasRawToken(u"/s"));
    EXPECT_EQ(commands.RawTokens().size(), 7u);
}

TEST(CommandsStorage, SwitchNames_IgnoreCaseButRawTokensAreExact) {
    TCommandsStorage commands;
    const char* argv[] = {"player", "-Slide", "3", "/S"};
    commands.Parse(4, argv);
    EXPECT_TRUE(commands.HasSwitch(u"slide"));
    EXPECT_TRUE(commands.HasSwitch(u"SLIDE"));
    EXPECT_EQ(commands.IntValue(u"slide", 0, -1), 3);
    EXPECT_TRUE(commands.HasRawToken(u"/S"));
    EXPECT_FALSE(commands.HasRawToken(u"/s"));
}

TEST(CommandLineSplitter, QuotesToggleAnywhereAndAreDropped) {
    EXPECT_EQ(SplitCommandLine(u"  a\"b c\"d\t\te  "), (std::vector<std::u16string>{u"ab cd", u"e"}));
    EXPECT_EQ(SplitCommandLine(u"x \"\" y"), (std::vector<std::u16string>{u"x", u"", u"y"}));
    EXPECT_EQ(SplitCommandLine(u"\"open"), (std::vector<std::u16string>{u"open"}));
    EXPECT_TRUE(SplitCommandLine(u" \r\n ").empty());
}

TEST(CommandLineSplitter, BuiltLine_ReadsBackToTheSameTokens) {
    const std::vector<std::u16string> tokens = {u"/opt/My Shows/player", u"", u"plain", u"tab\there",
                                                u"-filename", u"caf\u00E9 \u4E16.orb"};
    const std::u16string line = BuildCommandLine(tokens);
    EXPECT_EQ(SplitCommandLine(line), tokens);
    EXPECT_EQ(BuildCommandLine({u"a", u"b c"}), u"a \"b c\"");
}

TEST(CommandLineSplitter, QuotesInsideATokenAreDroppedWhenBuilding) {
    EXPECT_EQ(SplitCommandLine(BuildCommandLine({u"say \"hi\""})), (std::vector<std::u16string>{u"say hi"}));
}

}  // namespace
}  // namespace ql
