#include "Orb/OrbViewer/OrbActionExecutor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "IniTestSupport.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace orb {
namespace {

const char kShow[] =
    "[Main]\nOrbVersion=5.1\nopt_slidescount=3\nopt_synchpos1=4000\nopt_synchpos2=8000\nopt_"
    "synchpos3=12000\n"
    "opt_fx_enable=1\nopt_fx_time=1000\n"
    "[slide1]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=2\nEffect_Type=3\nEffectTime=1000\n"
    "[slide2]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=0\n"
    "[slide3]\nUsePersonal=1\nPers_Effect=1\nEffect_Class=5\nEffect_Type=b\nEffectTime=700\n";

std::unique_ptr<TOrbSource> Source(const std::string& extraMain) {
    auto document = ql::test::DocumentFromText(std::string(kShow) + "[Main]\n" + extraMain);
    return std::make_unique<TOrbSource>(ql::MakeRef<ql::TRefObj>(), std::move(document),
                                        u"/opt/show");
}

struct TFakeViewer : TViewerControl {
    double ShowTime() const override { return Time; }
    bool Paused() const override { return IsPaused; }
    bool Waiting() const override { return IsWaiting; }
    void Seek(int64_t time) override { Seeks.push_back(time); }
    void SetPaused(bool paused) override { IsPaused = paused; }
    void ReleaseWait() override {
        ++Releases;
        IsWaiting = false;
    }
    void PrintFrame() override { ++Prints; }

    double Time = 0;
    bool IsPaused = false, IsWaiting = false;
    std::vector<int64_t> Seeks;
    int32_t Releases = 0, Prints = 0;
};

struct TFakeHost : TFormHost {
    void ShowMessage(const std::u16string& text, const std::u16string& caption) override {
        Messages.push_back(caption + u"|" + text);
    }
    bool ConfirmRun(const std::u16string& command) override {
        Confirmations.push_back(command);
        return Consent;
    }
    bool ConfirmOpen(const std::u16string& document) override {
        Confirmations.push_back(document);
        return Consent;
    }
    bool OpenAddress(const std::u16string& address) override {
        Addresses.push_back(address);
        return true;
    }
    bool OpenDocument(const std::u16string& path) override {
        Documents.push_back(path);
        return true;
    }
    bool SpawnProgram(const std::vector<std::u16string>& arguments) override {
        Spawned.push_back(arguments);
        return true;
    }
    bool OpenShow(const TShowCommand& command) override {
        Opened.push_back(command);
        return OpenSucceeds;
    }
    void Quit() override { ++Quits; }

    bool Consent = false, OpenSucceeds = true;
    std::vector<std::u16string> Messages, Confirmations, Addresses, Documents;
    std::vector<std::vector<std::u16string>> Spawned;
    std::vector<TShowCommand> Opened;
    int32_t Quits = 0;
};

class OrbActionExecutor : public ::testing::Test {
protected:
    void Use(const std::string& extraMain, bool selfContained = true) {
        source = Source(extraMain);
        executor.SetShow(source.get(), u"/shows/current", selfContained);
    }
    TFakeViewer viewer;
    TFakeHost host;
    TActionExecutor executor{viewer, host};
    std::unique_ptr<TOrbSource> source;
};

TEST_F(OrbActionExecutor, NextAndPrevious_TargetsWhilePlayingAndPaused) {
    Use("");
    viewer.Time = 5000;
    executor.Execute({acNextSlide});
    viewer.IsPaused = true;
    executor.Execute({acNextSlide});
    viewer.Time = 8900;
    executor.Execute({acPrevSlide});
    EXPECT_EQ(viewer.Seeks, (std::vector<int64_t>{8000, 8700, 4000}));
    EXPECT_TRUE(viewer.IsPaused);  // seeking keeps the pause state
}

TEST_F(OrbActionExecutor, PauseBarrier_NextOrPauseReleasesTheWaitOnly) {
    Use("");
    viewer.IsWaiting = true;
    executor.Execute({acNextSlide});
    EXPECT_EQ(viewer.Releases, 1);
    EXPECT_TRUE(viewer.Seeks.empty());
    viewer.IsWaiting = true;
    executor.Execute({acPause});
    EXPECT_EQ(viewer.Releases, 2);
    EXPECT_FALSE(viewer.IsPaused);
    executor.Execute({acPause});
    EXPECT_TRUE(viewer.IsPaused);
}

TEST_F(OrbActionExecutor, GotoAndStop_ClampedTargets) {
    Use("opt_repeat=stop\n");
    executor.Execute({acGotoSlide, 77});
    executor.Execute({acGotoTime, -5});
    executor.Execute({acGotoTime, 2000000000});
    executor.Execute({acStop});
    EXPECT_EQ(viewer.Seeks, (std::vector<int64_t>{8000, 0, 12000, 0}));
    EXPECT_TRUE(viewer.IsPaused);
}

TEST_F(OrbActionExecutor, WebAndMail_OnlyAddressesReachTheOpener) {
    Use("");
    executor.Execute({acOpenWebsite, 0, u"example.com"});
    executor.Execute({acWriteEmail, 0, u"me@example.com"});
    executor.Execute({acOpenWebsite, 0, u"example.com -x"});  // blanks: not one address
    EXPECT_EQ(host.Addresses,
              (std::vector<std::u16string>{u"http://example.com", u"mailto:me@example.com"}));
}

TEST_F(OrbActionExecutor, RunProgram_ProhibitedRefusedWithTheMessage) {
    Use("");
    executor.Execute({acRunApp, 0, u"viewer a, cmd /c del x"});
    EXPECT_TRUE(host.Spawned.empty());
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0],
              u"|Command line contains prohibited command and will not be performed.");
}

TEST_F(OrbActionExecutor, RunProgram_SelfContainedRunsOthersAsk) {
    Use("", true);
    executor.Execute({acRunApp, 0, u"ls \"a b.txt\""});
    ASSERT_EQ(host.Spawned.size(), 1u);
    EXPECT_EQ(host.Spawned[0], (std::vector<std::u16string>{host.Spawned[0][0], u"a b.txt"}));
    EXPECT_NE(host.Spawned[0][0].find(u"ls"), std::u16string::npos);
    EXPECT_TRUE(host.Confirmations.empty());

    Use("", false);
    executor.Execute({acRunApp, 0, u"ls \"a b.txt\""});
    ASSERT_EQ(host.Confirmations.size(), 1u);
    EXPECT_NE(host.Confirmations[0].find(u"\"a b.txt\""), std::u16string::npos);
    EXPECT_EQ(host.Spawned.size(), 1u);  // refused
    host.Consent = true;
    executor.Execute({acRunApp, 0, u"ls"});
    EXPECT_EQ(host.Spawned.size(), 2u);
    executor.SetAllowRun(true);
    host.Consent = false;
    executor.Execute({acRunApp, 0, u"ls"});
    EXPECT_EQ(host.Spawned.size(), 3u);
}

TEST_F(OrbActionExecutor, RunProgram_ShellsAndMissingProgramsRefused) {
    Use("");
    executor.Execute({acRunApp, 0, u"/bin/sh -c 'rm -rf ~'"});
    executor.Execute({acRunApp, 0, u"no-such-program-here x"});
    EXPECT_TRUE(host.Spawned.empty());
    ASSERT_EQ(host.Messages.size(), 2u);
    EXPECT_EQ(host.Messages[0],
              u"|Command line contains prohibited command and will not be performed.");
    EXPECT_EQ(host.Messages[1].rfind(u"Slideshow Error|", 0), 0u);
}

TEST_F(OrbActionExecutor, RunProgram_DocumentsOpenAfterTheSameConsent) {
    ql::test::TTestFolder folder;
    const std::string dir = folder.Path();
    std::ofstream(dir + "/brochure.pdf") << "%PDF-1.4";
    std::ofstream(dir + "/launch.desktop") << "[Desktop Entry]\nExec=rm -rf ~\n";
    std::filesystem::create_symlink(dir + "/launch.desktop", dir + "/disguised.pdf");
    const std::u16string brochure = ql::FromUtf8(dir + "/brochure.pdf");
    source = Source("");
    executor.SetShow(source.get(), ql::FromUtf8(dir + "/show.exe"), false);

    struct TCase {
        std::u16string text;
        bool consent;
        std::vector<std::u16string> opened;  // all documents opened so far
        size_t confirmations, errors;        // likewise
    };
    const TCase cases[] = {
        {u"brochure.pdf", false, {}, 1, 0},         // asked, refused
        {u"brochure.pdf", true, {brochure}, 2, 0},  // asked, opened by its full path
        {ql::FromUtf8(dir) + u"/brochure.pdf", true, {brochure, brochure}, 3, 0},
        {u"launch.desktop", true, {brochure, brochure}, 3, 1},   // a launcher is no document
        {u"disguised.pdf", true, {brochure, brochure}, 3, 2},    // nor is a link to one
        {u"brochure.pdf -x", true, {brochure, brochure}, 3, 3},  // documents take no parameters
    };
    for (const TCase& c : cases) {
        host.Consent = c.consent;
        executor.Execute({acRunApp, 0, c.text});
        SCOPED_TRACE(ql::ToUtf8(c.text));
        EXPECT_EQ(host.Documents, c.opened);
        EXPECT_EQ(host.Confirmations.size(), c.confirmations);
        EXPECT_EQ(host.Messages.size(), c.errors);
    }
    EXPECT_TRUE(host.Spawned.empty());
    EXPECT_EQ(host.Confirmations[0], brochure);
}

TEST_F(OrbActionExecutor, ChildRunning_ActionsIgnored) {
    Use("");
    executor.SetChildRunning(true);
    executor.Execute({acNextSlide});
    executor.Execute({acExit});
    EXPECT_TRUE(viewer.Seeks.empty());
    EXPECT_EQ(host.Quits, 0);
}

TEST_F(OrbActionExecutor, Exit_RunOnExitOnlyAtTheEndAndWhenTheShowAsks) {
    Use("opt_runapponexit=1\nopt_runapponexitfn=ls end.txt\n");
    EXPECT_TRUE(executor.Close(true));  // the show did not reach its end
    EXPECT_TRUE(host.Spawned.empty());
    EXPECT_EQ(host.Quits, 1);

    TActionExecutor atEnd(viewer, host);
    atEnd.SetShow(source.get(), u"/shows/current", true);
    atEnd.Position(12000, true);
    EXPECT_TRUE(atEnd.Close(false));  // the user closed: nothing runs
    EXPECT_TRUE(host.Spawned.empty());

    TActionExecutor asked(viewer, host);
    asked.SetShow(source.get(), u"/shows/current", true);
    asked.Position(12000, true);
    asked.Execute({acExit});
    EXPECT_EQ(host.Spawned.size(), 1u);
    EXPECT_TRUE(asked.Closed());
}

TEST_F(OrbActionExecutor, CloseAtEnd_WhenTheShowCloses) {
    Use("opt_repeat=close\n");
    executor.Position(5000, false);
    EXPECT_FALSE(executor.Closed());
    executor.Position(12000, true);
    EXPECT_TRUE(executor.Closed());
    EXPECT_EQ(executor.ExitCode(), 0);
}

TEST_F(OrbActionExecutor, StartupChild_Action16ExitsWithOne) {
    Use("");
    executor.Execute({acCloseDialog});
    EXPECT_TRUE(executor.Closed());
    EXPECT_EQ(executor.ExitCode(), 1);
}

TEST_F(OrbActionExecutor, OtherShow_MissingOrNotAShowStaysWithAMessage) {
    ql::test::TTestFolder folder;
    Use("");
    executor.Execute({acRunPresentation, 0, ql::FromUtf8(folder.File("none"))});
    std::ofstream(folder.File("plain")) << "not a show";
    executor.Execute({acRunPresentationAndReturn, 0, ql::FromUtf8(folder.File("plain"))});
    ASSERT_EQ(host.Messages.size(), 2u);
    EXPECT_EQ(host.Messages[0],
              u"Slideshow Error|OrbShow File not Found:\r" + ql::FromUtf8(folder.File("none")));
    EXPECT_EQ(host.Messages[1],
              u"Slideshow Error|Not OrbShow Executable File or File Corrupted:\r" +
                  ql::FromUtf8(folder.File("plain")));
    EXPECT_TRUE(host.Opened.empty());
    EXPECT_FALSE(executor.Closed());
}

TEST(OrbShowCommand, FileAndStartFromTheText) {
    const TShowCommand command = ParseShowCommand(u"\"C:\\shows\\my show\" -slide 3");
    EXPECT_EQ(command.FileName, u"C:/shows/my show");
    EXPECT_EQ(command.StartSlide, 2);
    EXPECT_EQ(ParseShowCommand(u"a -time 900").StartTime, 900);
    EXPECT_FALSE(ParseShowCommand(u"a -slide 0").StartSlide);
}

}  // namespace
}  // namespace orb
