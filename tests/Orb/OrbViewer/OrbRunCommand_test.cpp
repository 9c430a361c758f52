#include "Orb/OrbViewer/OrbRunCommand.h"

#include <gtest/gtest.h>

#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

TEST(OrbRunCommand, Prohibited_VerbsFromPathsQuotesAndRedirection) {
    EXPECT_TRUE(RunTextIsProhibited(u"cmd.exe /c dir"));
    EXPECT_TRUE(RunTextIsProhibited(u"C:\\WINDOWS\\SYSTEM32\\CMD.EXE"));
    EXPECT_TRUE(RunTextIsProhibited(u"\"C:\\my tools\\del.bat\" x"));
    EXPECT_TRUE(RunTextIsProhibited(u"notepad x > y"));
    EXPECT_TRUE(RunTextIsProhibited(u"viewer a.txt, @format c:"));
    EXPECT_FALSE(RunTextIsProhibited(u"notepad readme.txt"));
    EXPECT_EQ(CommandVerb(u"  \"C:\\my tools\\del.bat\" x"), u"del");
    EXPECT_EQ(CommandVerb(u"/usr/bin/Notepad.exe a"), u"notepad");
}

TEST(OrbRunCommand, Prohibited_ShellsAndInterpreters) {
    for (const char16_t* text : {u"/bin/sh -c 'rm -rf ~'", u"bash x", u"python3.11 evil.py", u"perl -e 1",
                                 u"env rm x", u"xdg-open /tmp/a.desktop", u"/usr/bin/rm -rf /"})
        EXPECT_TRUE(RunTextIsProhibited(text)) << ql::ToUtf8(text);
}

TEST(OrbRunCommand, Addresses_PrefixedAndOnlyWebOrMail) {
    EXPECT_EQ(WebAddress(u"example.com"), u"http://example.com");
    EXPECT_EQ(WebAddress(u"HTTPS://example.com"), u"HTTPS://example.com");
    EXPECT_EQ(MailAddress(u"me@example.com"), u"mailto:me@example.com");
    EXPECT_EQ(MailAddress(u"mailto:me@example.com"), u"mailto:me@example.com");
    EXPECT_TRUE(IsOpenableAddress(u"https://example.com/a?b=c"));
    EXPECT_FALSE(IsOpenableAddress(u"file:///etc/passwd"));
    EXPECT_FALSE(IsOpenableAddress(u"/usr/share/applications/x.desktop"));
    EXPECT_FALSE(IsOpenableAddress(u"http://a b"));
}

TEST(OrbRunCommand, Plan_SplitsCommandsAndArgumentsWithoutAShell) {
    const auto steps = PlanRun(u"\"/opt/my viewer\" \"a b.txt\" c;d, https://example.com");
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_FALSE(steps[0].IsAddress);
    EXPECT_EQ(steps[0].Arguments, (std::vector<std::u16string>{u"/opt/my viewer", u"a b.txt", u"c;d"}));
    EXPECT_TRUE(steps[1].IsAddress);
    EXPECT_EQ(steps[1].Arguments.front(), u"https://example.com");
    EXPECT_EQ(DescribeStep(steps[0]), u"\"/opt/my viewer\" \"a b.txt\" c;d");
    EXPECT_TRUE(PlanRun(u" , ,").empty());
}

}  // namespace
}  // namespace orb
