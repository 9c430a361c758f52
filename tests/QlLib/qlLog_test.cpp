#include "QlLib/qlLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "QlLib/qlCommands.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace ql {
namespace {

using test::TLinesLog;

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Puts the discarding log back whatever a test installed.
struct TGlobalLogReset {
    ~TGlobalLogReset() { SetGlobalLog(nullptr); }
};

TEST(Log, LineFormatting_AddsPrefixThreadIdAndTimeStamp) {
    TLinesLog log;
    log.SetPrefix(u"P:");
    log.SetTickSource([] { return int64_t{1234}; });
    log.WriteLine(u"plain");
    log.SetThreadIdOption(true);
    log.SetTimeStampOption(true);
    log.WriteLine(u"hello");
    log.SetThreadIdOption(false);
    log.WriteLine("utf8 \xC3\xA9");

    char id[16];
    std::snprintf(id, sizeof id, "%04X", platform::CurrentThreadId());
    ASSERT_EQ(log.Lines.size(), 3u);
    EXPECT_EQ(log.Lines[0], u"P:plain");
    EXPECT_EQ(log.Lines[1], u"P:#" + Widen(id) + u" [1234] hello");
    EXPECT_EQ(log.Lines[2], u"P:[1234] utf8 \u00E9");
}

TEST(Log, ValueHelpers_FormatTheValue) {
    TLinesLog log;
    log.WriteInt(u"n=", -5, u"!");
    log.WriteReal(u"r=", 1.0 / 3.0);
    log.WriteReal(u"r=", 0.1);
    log.WriteReal(u"r=", 1e20);
    log.WriteBool(u"b=", true);
    log.WriteBool(u"b=", false, u".");
    const double reals[] = {1.5, -2.0};
    log.WriteReals(u"[", reals, u"]");
    const int64_t rect[] = {0, -1, 640, 480};
    log.WriteInts(u"rect ", rect);
    log.WriteElapsed(u"took ", TickCount() + 1000000, u" ms");
    EXPECT_EQ(log.Lines,
              (std::vector<std::u16string>{u"n=-5!", u"r=0.3333333333333333", u"r=0.1", u"r=1E20",
                                           u"b=True", u"b=False.", u"[1.5, -2]",
                                           u"rect 0, -1, 640, 480", log.Lines.back()}));
    // The tick lies in the future, so the elapsed time is negative.
    EXPECT_EQ(log.Lines.back().substr(0, 6), u"took -");
}

TEST(FileLog, NewFile_StartsWithTheByteOrderMarkOnce) {
    test::TTestFolder folder;
    {
        TFileLog log(folder.WideFile("a.log"));
        ASSERT_TRUE(log.HasStream());
        log.WriteLine(u"one");
        log.WriteLine(u"\u00E9");
    }
    EXPECT_EQ(FileBytes(folder.File("a.log")), "\xEF\xBB\xBFone\r\n\xC3\xA9\r\n");
}

TEST(FileLog, AppendingToANonEmptyFile_AddsNoByteOrderMark) {
    test::TTestFolder folder;
    { std::ofstream(folder.File("a.log"), std::ios::binary) << "old\r\n"; }
    {
        TFileLog log(folder.WideFile("a.log"), true);
        log.WriteLine(u"new");
    }
    EXPECT_EQ(FileBytes(folder.File("a.log")), "old\r\nnew\r\n");
    {
        TFileLog log(folder.WideFile("a.log"));  // without append: created anew
        log.WriteLine(u"fresh");
    }
    EXPECT_EQ(FileBytes(folder.File("a.log")),
              "\xEF\xBB\xBF"
              "fresh\r\n");
}

TEST(FileLog, FileThatCannotBeOpened_GivesASilentLog) {
    test::TTestFolder folder;
    TFileLog log(folder.WideFile("missing/dir/a.log"));
    EXPECT_FALSE(log.HasStream());
    EXPECT_NO_THROW(log.WriteLine(u"dropped"));
}

TEST(FileLog, DefaultName_ReplacesTheProgramExtension) {
    EXPECT_EQ(DefaultLogFileName(u"/opt/show/player.exe"), u"/opt/show/player.log");
    EXPECT_EQ(DefaultLogFileName(u"/opt/show.d/player"), u"/opt/show.d/player.log");
}

TEST(StreamLog, LinesFromSeveralThreads_NeverInterleave) {
    test::TTestFolder folder;
    {
        TFileLog log(folder.WideFile("t.log"));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&log, t] {
                const std::u16string line = std::u16string(200, static_cast<char16_t>(u'a' + t));
                for (int i = 0; i < 100; ++i) log.WriteLine(line);
            });
        for (auto& thread : threads) thread.join();
    }
    std::ifstream in(folder.File("t.log"), std::ios::binary);
    std::string line;
    int count = 0;
    in.ignore(3);  // byte-order mark
    while (std::getline(in, line)) {
        ASSERT_EQ(line.size(), 201u);
        EXPECT_EQ(line.back(), '\r');
        EXPECT_EQ(line.find_first_not_of(line[0]), 200u);
        ++count;
    }
    EXPECT_EQ(count, 400);
}

TEST(GlobalLog, SettingTheSameObjectOrNone) {
    TGlobalLogReset reset;
    auto owned = std::make_unique<TLinesLog>();
    TLinesLog* lines = owned.get();
    SetGlobalLog(std::move(owned));
    EXPECT_EQ(&GlobalLog(), lines);
    SetGlobalLog(std::unique_ptr<TLog>(lines));  // the same object: nothing happens
    EXPECT_EQ(&GlobalLog(), lines);
    GlobalLog().WriteLine(u"kept");
    EXPECT_EQ(lines->Lines.size(), 1u);
    SetGlobalLog(nullptr);
    EXPECT_NE(&GlobalLog(), static_cast<TLog*>(lines));
    EXPECT_EQ(GlobalLog().ClassName(), "TLog");
}

TEST(GlobalLog, CommandLineExample_ChoosesTheFileLog) {
    TGlobalLogReset reset;
    test::TTestFolder folder;
    TCommandsStorage commands;
    commands.ParseCommandLine(u"/opt/show/player -log \"a b\" c -filelog");
    EXPECT_TRUE(ChooseLogFromCommandLine(commands, folder.WideFile("player.log")));
    auto* fileLog = dynamic_cast<TFileLog*>(&GlobalLog());
    ASSERT_NE(fileLog, nullptr);
    EXPECT_EQ(fileLog->FileName(), folder.WideFile("player.log"));
    EXPECT_TRUE(fileLog->HasStream());
}

TEST(GlobalLog, LogSwitch_ChoosesTheStandardLogAndNamesAreExact) {
    TGlobalLogReset reset;
    TCommandsStorage upper;
    upper.Parse({"player", "-LOG", "-FileLog"});
    EXPECT_FALSE(ChooseLogFromCommandLine(upper));
    EXPECT_EQ(GlobalLog().ClassName(), "TLog");
    TCommandsStorage lower;
    lower.Parse({"player", "-log"});
    EXPECT_TRUE(ChooseLogFromCommandLine(lower));
    EXPECT_NE(dynamic_cast<TStdLog*>(&GlobalLog()), nullptr);
}

TEST(Banner, DatePattern_ReplacesRunsByLowOrderDigits) {
    platform::TDateTimeParts t;
    t.Year = 2024;
    t.Month = 3;
    t.Day = 5;
    EXPECT_EQ(FormatDatePattern(u"DD.MM.YYYY", t), u"05.03.2024");
    EXPECT_EQ(FormatDatePattern(u"d/m/yy", t), u"5/3/24");
    EXPECT_EQ(FormatDatePattern(u"yyyyy Dx", t), u"02024 5x");
}

TEST(Banner, StartAndStop_ExactLinesWithDecorationsOff) {
    TLinesLog log;
    log.SetThreadIdOption(true);
    log.SetTimeStampOption(true);
    platform::TDateTimeParts start{2024, 3, 5, 7, 8, 9, 45};
    platform::TDateTimeParts stop{2024, 12, 31, 23, 59, 59, 999};
    WriteStartBanner(log, u"/opt/show/player", start);
    WriteStopBanner(log, stop, 86399954);
    const std::u16string equals(64, u'=');
    const std::u16string hyphens(64, u'-');
    EXPECT_EQ(log.Lines,
              (std::vector<std::u16string>{
                  u"", equals, u"Program : /opt/show/player", u"started : 05.03.2024 07:08:09.045",
                  equals, u"", hyphens,
                  u"Program stoped : 31.12.2024 23:59:59.999 (work time : 86399954 ms)", hyphens}));
    EXPECT_TRUE(log.ThreadIdOption());
    EXPECT_TRUE(log.TimeStampOption());
}

}  // namespace
}  // namespace ql
