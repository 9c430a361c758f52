#include "QlLib/Platform/qlProcess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace ql {
namespace {

void WriteFile(const std::string& path, const std::string& text, bool executable) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), executable ? 0755 : 0644);
}

TEST(Process_Url, OnlyPlainWebAndMailAddressesOpen) {
    EXPECT_TRUE(IsOpenableUrl(u"http://example.com/a?b=c,d"));
    EXPECT_TRUE(IsOpenableUrl(u"HTTPS://example.com"));
    EXPECT_TRUE(IsOpenableUrl(u"mailto:someone@example.com"));
    EXPECT_FALSE(IsOpenableUrl(u"file:///etc/passwd"));
    EXPECT_FALSE(IsOpenableUrl(u"javascript:alert(1)"));
    EXPECT_FALSE(IsOpenableUrl(u"/usr/share/applications/x.desktop"));
    EXPECT_FALSE(IsOpenableUrl(u"-http://x"));
    EXPECT_FALSE(IsOpenableUrl(u"http://a b"));
    EXPECT_FALSE(IsOpenableUrl(u"http://a\nb"));
    EXPECT_FALSE(IsOpenableUrl(u"http://"));
    EXPECT_FALSE(IsOpenableUrl(u""));
}

TEST(Process_Url, LauncherRefusesOtherSchemesWithoutStartingAnything) {
    TPosixLauncher launcher;
    EXPECT_EQ(launcher.OpenUrl(u"file:///etc/passwd"), TLaunchResult::Refused);
    EXPECT_EQ(launcher.OpenUrl(u"x.desktop"), TLaunchResult::Refused);
}

TEST(Process_Find, BareNamesComeFromPathAndPathsMustBeRunnable) {
    test::TTestFolder folder;
    EXPECT_FALSE(FindExecutable(u"sh").empty());
    EXPECT_TRUE(FindExecutable(u"no-such-program-here-1234").empty());
    WriteFile(folder.File("plain.txt"), "x", false);
    EXPECT_TRUE(FindExecutable(folder.WideFile("plain.txt")).empty());
    WriteFile(folder.File("tool"), "x", true);
    EXPECT_EQ(FindExecutable(folder.WideFile("tool")), folder.WideFile("tool"));
    EXPECT_TRUE(FindExecutable(FromUtf8(folder.Path())).empty());
    EXPECT_TRUE(FindExecutable(u"").empty());
}

TEST(Process_Spawn, ArgumentsArriveAsGivenAndTheExitCodeComesBack) {
    TPosixLauncher launcher;
    // One argument holding shell syntax stays one argument of the program.
    EXPECT_EQ(launcher.SpawnAndWait({u"sh", u"-c", u"exit 7"}, nullptr), 7);
    EXPECT_EQ(launcher.SpawnAndWait({u"sh", u"-c", u"test \"$1\" = 'a b;c' && exit 3", u"x", u"a b;c"}, nullptr), 3);
    EXPECT_EQ(launcher.SpawnAndWait({u"no-such-program-here-1234"}, nullptr), -1);
    EXPECT_EQ(launcher.SpawnAndWait({}, nullptr), -1);
    EXPECT_EQ(launcher.Spawn({}), TLaunchResult::Refused);
    EXPECT_EQ(launcher.Spawn({u"no-such-program-here-1234"}), TLaunchResult::NotFound);
}

TEST(Process_Spawn, WaitStopsWhenAskedWhileTheChildGoesOn) {
    TPosixLauncher launcher;
    int calls = 0;
    EXPECT_EQ(launcher.SpawnAndWait({u"sleep", u"5"}, [&] { return ++calls < 3; }), -1);
    EXPECT_EQ(calls, 3);
}

TEST(Process_Script, InterpreterOfTheHashBangLine) {
    test::TTestFolder folder;
    WriteFile(folder.File("a"), "#!/bin/sh\necho\n", true);
    WriteFile(folder.File("b"), "#! /usr/bin/env -S python3 -u\n", true);
    WriteFile(folder.File("c"), "\x7f" "ELF....", true);
    WriteFile(folder.File("d"), "#!/usr/bin/env\n", true);
    EXPECT_EQ(ScriptInterpreter(folder.WideFile("a")), u"/bin/sh");
    EXPECT_EQ(ScriptInterpreter(folder.WideFile("b")), u"python3");
    EXPECT_EQ(ScriptInterpreter(folder.WideFile("c")), u"");
    EXPECT_EQ(ScriptInterpreter(folder.WideFile("d")), u"/usr/bin/env");
    EXPECT_EQ(ScriptInterpreter(folder.WideFile("missing")), u"");
}

TEST(Process_Resolve, LinksLeadToTheirTarget) {
    test::TTestFolder folder;
    WriteFile(folder.File("target"), "x", true);
    ASSERT_EQ(::symlink(folder.File("target").c_str(), folder.File("viewer").c_str()), 0);
    const std::string resolved = ToUtf8(ResolvedPath(folder.WideFile("viewer")));
    EXPECT_EQ(resolved.substr(resolved.rfind('/') + 1), "target");
}

}  // namespace
}  // namespace ql
