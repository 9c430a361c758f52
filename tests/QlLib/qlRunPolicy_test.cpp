#include "QlLib/qlRunPolicy.h"

#include <gtest/gtest.h>

#include "QlLib/qpStringUtils.h"

namespace ql {
namespace {

using Strings = std::vector<std::u16string>;

TEST(RunPolicy_Commands, SplitAtCommasOutsideQuotes_TrimmedAndEmptiesDropped) {
    EXPECT_EQ(SplitRunCommands(u" notepad a.txt ,  \"x, y.exe\" arg , ,"), (Strings{u"notepad a.txt", u"\"x, y.exe\" arg"}));
    EXPECT_EQ(SplitRunCommands(u"   "), Strings{});
}

TEST(RunPolicy_Verbs, RefusedCommands) {
    EXPECT_TRUE(IsProhibitedCommand(u"cmd.exe /c dir"));
    EXPECT_TRUE(IsProhibitedCommand(u"C:\\WINDOWS\\SYSTEM32\\CMD.EXE /C"));
    EXPECT_TRUE(IsProhibitedCommand(u"\"C:\\My Files\\del.bat\" *.*"));
    EXPECT_TRUE(IsProhibitedCommand(u"notepad > out.txt"));
    EXPECT_TRUE(IsProhibitedCommand(u"  @del x"));
    EXPECT_TRUE(IsProhibitedCommand(u"/usr/bin/format"));
    EXPECT_TRUE(IsProhibitedCommand(u"|start|"));
    EXPECT_EQ(CommandVerb(u"\"C:\\My Files\\del.bat\" *.*"), u"del");
    EXPECT_EQ(CommandVerb(u"\"my prog.exe\""), u"my_prog");
}

TEST(RunPolicy_Verbs, AllowedCommands) {
    EXPECT_FALSE(IsProhibitedCommand(u"notepad readme.txt"));
    EXPECT_FALSE(IsProhibitedCommand(u"delta.exe"));
    EXPECT_FALSE(IsProhibitedCommand(u"\"C:\\Program Files\\viewer.exe\" del"));
    EXPECT_EQ(CommandVerb(u""), u"");
}

TEST(RunPolicy_Interpreters, ShellsAndInterpretersRefusedByName) {
    for (const char16_t* name : {u"sh", u"/bin/bash", u"dash", u"zsh", u"fish", u"csh", u"ksh", u"python",
                                 u"python3", u"/usr/bin/python3.11", u"perl", u"ruby", u"node", u"env",
                                 u"/usr/bin/env", u"xargs", u"BASH.EXE", u"lua5.4", u"C:\\bin\\sh.exe",
                                 u"xdg-open", u"sudo"})
        EXPECT_TRUE(IsRefusedInterpreter(name)) << ToUtf8(name);
    for (const char16_t* name : {u"notepad", u"/usr/bin/eog", u"shotwell", u"bashful", u"vlc", u"", u"123"})
        EXPECT_FALSE(IsRefusedInterpreter(name)) << ToUtf8(name);
}

TEST(RunPolicy_Split, ProgramAndParameters) {
    std::u16string program, parameters;
    SplitProgramAndParameters(u"  \"C:\\My Apps\\viewer.exe\"   -a \"b c\" ", program, parameters);
    EXPECT_EQ(program, u"C:\\My Apps\\viewer.exe");
    EXPECT_EQ(parameters, u"-a \"b c\"");
    SplitProgramAndParameters(u"eog picture.png", program, parameters);
    EXPECT_EQ(program, u"eog");
    EXPECT_EQ(parameters, u"picture.png");
    SplitProgramAndParameters(u"\"unclosed quote", program, parameters);
    EXPECT_EQ(program, u"unclosed quote");
    EXPECT_EQ(parameters, u"");
}

TEST(RunPolicy_Split, ArgumentsKeepQuotedBlanksAndNeverInterpretShellSyntax) {
    EXPECT_EQ(SplitArguments(u"a  \"b c\" 'd e' f\"g h\"i \"\" C:\\x\\y"),
              (Strings{u"a", u"b c", u"d e", u"fg hi", u"", u"C:\\x\\y"}));
    EXPECT_EQ(SplitArguments(u"; rm -rf $HOME `x` | y"),
              (Strings{u";", u"rm", u"-rf", u"$HOME", u"`x`", u"|", u"y"}));
    EXPECT_EQ(SplitArguments(u"\"it's\" 'say \"hi\"'"), (Strings{u"it's", u"say \"hi\""}));
    EXPECT_EQ(SplitArguments(u"   "), Strings{});
}

TEST(RunPolicy_Split, ArgumentCountIsBounded) {
    std::u16string many;
    for (int i = 0; i < 1000; ++i) many += u"x ";
    EXPECT_EQ(SplitArguments(many).size(), 256u);
}

TEST(RunPolicy_Describe, QuotesWhatAUserCouldMisread) {
    EXPECT_EQ(DescribeArguments({u"/usr/bin/eog", u"a b.png", u"", u"plain"}), u"/usr/bin/eog \"a b.png\" \"\" plain");
}

TEST(RunPolicy_SaveName, ReducedToTheLastComponent) {
    EXPECT_EQ(SafeSaveFileName(u"../../etc/passwd", u"snapshot.png"), u"passwd");
    EXPECT_EQ(SafeSaveFileName(u"C:\\Users\\x\\pic.bmp", u"snapshot.png"), u"pic.bmp");
    EXPECT_EQ(SafeSaveFileName(u"dir/..", u"snapshot.png"), u"snapshot.png");
    EXPECT_EQ(SafeSaveFileName(u"/", u"snapshot.png"), u"snapshot.png");
    EXPECT_EQ(SafeSaveFileName(u"a\nb.png", u"s"), u"ab.png");
    EXPECT_EQ(SafeSaveFileName(u"", u"s"), u"s");
}

TEST(RunPolicy_Confirmation, OnlyForShowsFromOtherFilesWithoutTheSwitch) {
    EXPECT_TRUE((TRunPolicy{false, false}.NeedsConfirmation()));
    EXPECT_FALSE((TRunPolicy{true, false}.NeedsConfirmation()));
    EXPECT_FALSE((TRunPolicy{false, true}.NeedsConfirmation()));
}

}  // namespace
}  // namespace ql
