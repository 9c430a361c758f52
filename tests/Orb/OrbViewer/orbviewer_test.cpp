// The player program as a whole, run on the headless host: which show it
// opens, its exit codes, and what keys, dialogs and a show's own actions make
// it do, read from the record of each run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "ProgramRunner.h"

namespace orb {
namespace {

using ql::test::ReadTextFile;
using ql::test::RunProgram;
using ql::test::ShellQuote;
using ql::test::TTestFolder;

// A small windowed show of solid slides of `slideMs` each, no transitions;
// `slideExtra` adds keys to slide k (1-based) and object blocks after them.
std::string Show(int slides, int slideMs, const std::string& mainExtra = {},
                 const std::map<int, std::string>& slideExtra = {}) {
    std::string text = "[Main]\r\nOrbVersion=5.1\r\nopt_exefn=show\r\nopt_scr_full=0\r\nopt_scr_width=160\r\n"
                       "opt_scr_height=120\r\nopt_fx_enable=0\r\nopt_repeat=stop\r\nopt_slidescount=" +
                       std::to_string(slides) + "\r\n";
    for (int k = 1; k <= slides; ++k)
        text += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * slideMs) + "\r\n";
    text += mainExtra;
    const char* colours[] = {"255", "65280", "16711680", "16776960"};
    for (int k = 1; k <= slides; ++k) {
        text += "[slide" + std::to_string(k) + "]\r\nUsePersonal=1\r\nPers_Fon=1\r\nbstyle=1\r\nbname=" +
                std::string(colours[(k - 1) % 4]) + "\r\n";
        if (const auto extra = slideExtra.find(k); extra != slideExtra.end()) text += extra->second;
    }
    return text;
}

struct TPlayed {
    ql::test::TProgramRun Run;
    std::vector<std::string> Lines;

    // The recorded lines of one kind.
    std::vector<std::string> Of(const std::string& kind) const {
        std::vector<std::string> found;
        for (const std::string& line : Lines)
            if (line.find("\"kind\":\"" + kind + "\"") != std::string::npos) found.push_back(line);
        return found;
    }
    // The integer field of each line of a kind.
    std::vector<int64_t> Ints(const std::string& kind, const std::string& field) const {
        std::vector<int64_t> values;
        for (const std::string& line : Of(kind)) {
            const size_t at = line.find("\"" + field + "\":");
            if (at != std::string::npos) values.push_back(std::stoll(line.substr(at + field.size() + 3)));
        }
        return values;
    }
    bool Has(const std::string& text) const {
        for (const std::string& line : Lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
    std::string All() const {
        std::string all;
        for (const std::string& line : Lines) all += line + "\n";
        return all + Run.Err;
    }
};

class OrbViewerProgram : public ::testing::Test {
protected:
    // Packs the project into a player file of that name in the folder.
    std::string Pack(const std::string& project, const std::string& name = "show") {
        std::ofstream(folder.File("Project.orb"), std::ios::binary | std::ios::trunc) << project;
        const std::string player = folder.File(name);
        const auto pack =
            RunProgram(folder, ORBTOOL_PATH, "pack -o " + ShellQuote(player) + " " + ShellQuote(folder.File("Project.orb")));
        EXPECT_EQ(pack.Code, 0) << pack.Err;
        return player;
    }
    // Runs `program` with `arguments` on the headless host with the script.
    TPlayed Play(const std::string& program, const std::string& arguments, const std::string& script) {
        std::ofstream(folder.File("script.txt"), std::ios::binary | std::ios::trunc) << script;
        const std::string record = folder.File("record.jsonl");
        std::filesystem::remove(record);
        TPlayed played;
        played.Run = RunProgram(folder, "env",
                                "HOME=" + ShellQuote(folder.Path()) + " " + ShellQuote(program) + " " + arguments +
                                    " -headless " + ShellQuote(folder.File("script.txt")) + " -record " +
                                    ShellQuote(record));
        std::istringstream lines(ReadTextFile(record));
        for (std::string line; std::getline(lines, line);) played.Lines.push_back(line);
        return played;
    }
    TPlayed PlayShow(const std::string& project, const std::string& script, const std::string& arguments = {}) {
        const std::string player = Pack(project);
        return Play(ORBVIEWER_PATH, "-exename " + ShellQuote(player) + " " + arguments, script);
    }

    TTestFolder folder;
};

TEST_F(OrbViewerProgram, PublishedShow_OpensItsOwnPackageAndLogs) {
    const std::string show = Pack(Show(2, 1000));
    const TPlayed played = Play(show, "-filelog", "wait 100\n");
    EXPECT_EQ(played.Run.Code, 0) << played.All();
    const std::string log = ReadTextFile(std::filesystem::path(show).replace_extension(".log").string());
    EXPECT_EQ(log.substr(0, 5), "\xEF\xBB\xBF\r\n");  // the mark, then the banner's empty line
    EXPECT_NE(log.find("Program : " + show + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("Open show: " + show + "\r\n"), std::string::npos);
    EXPECT_NE(log.find("OrbVersion \"5.1\""), std::string::npos);
    EXPECT_NE(log.find("Program stoped : "), std::string::npos);
    // The window has the show's size, centred on the work area; the first
    // frame arrives; the end of the script closes the window.
    EXPECT_TRUE(played.Has("\"change\":\"open\"")) << played.All();
    EXPECT_TRUE(played.Has("\"width\":160,\"height\":120")) << played.All();
    EXPECT_EQ(played.Of("firstframe").size(), 1u) << played.All();
    EXPECT_TRUE(played.Has("\"kind\":\"exit\",\"code\":0")) << played.All();
}

TEST_F(OrbViewerProgram, ShowFile_ChosenFromTheSwitchesOrABareArgument) {
    const std::string show = Pack(Show(2, 1000));
    // -exename: another player file.
    TPlayed played = Play(ORBVIEWER_PATH, "-log -exename " + ShellQuote(show), "wait 50\n");
    EXPECT_EQ(played.Run.Code, 0) << played.All();
    EXPECT_NE(played.Run.Err.find("Open show: " + show), std::string::npos);
    // -filename: a project document on disk.
    played = Play(ORBVIEWER_PATH, "-log -FileName " + ShellQuote(folder.File("Project.orb")), "wait 50\n");
    EXPECT_EQ(played.Run.Code, 0) << played.All();
    EXPECT_NE(played.Run.Err.find("Show opened: project \"" + folder.File("Project.orb")), std::string::npos);
    // A bare argument is either, by whether it holds a package.
    EXPECT_EQ(Play(ORBVIEWER_PATH, ShellQuote(show), "wait 50\n").Of("show").size(), 1u);
    EXPECT_EQ(Play(ORBVIEWER_PATH, ShellQuote(folder.File("Project.orb")), "wait 50\n").Of("show").size(), 1u);
}

TEST_F(OrbViewerProgram, FailedOpen_ShowsTheErrorAndExitsWith2) {
    TPlayed played = Play(ORBVIEWER_PATH, ShellQuote(folder.File("missing.exe")), "");
    EXPECT_EQ(played.Run.Code, 2);
    // Both names tried are in the message, which also goes to standard error.
    EXPECT_EQ(played.Run.Err, "Slideshow File not Found \"" + folder.File("missing.exe") + "\" or \"" +
                                  folder.File("missing.Kelvo") + "\"\n");
    ASSERT_EQ(played.Of("message").size(), 1u) << played.All();
    EXPECT_TRUE(played.Has("\"caption\":\"Slideshow Error\"")) << played.All();

    std::ofstream(folder.File("plain.exe"), std::ios::binary) << std::string(100, 'x') << ".dne";
    played = Play(ORBVIEWER_PATH, "-exename " + ShellQuote(folder.File("plain.exe")), "");
    EXPECT_EQ(played.Run.Code, 2);
    EXPECT_EQ(played.Run.Err.rfind("Slide-show File Damaged \"", 0), 0u) << played.Run.Err;

    played = Play(ORBVIEWER_PATH, "-filename " + ShellQuote(folder.File("none.orb")), "");
    EXPECT_EQ(played.Run.Code, 2);
    EXPECT_NE(played.Run.Err.find("Can`t Load .orb File"), std::string::npos);
    EXPECT_EQ(played.Run.Err.find('\r'), std::string::npos);

    // The player program alone holds no package.
    played = Play(ORBVIEWER_PATH, "", "");
    EXPECT_EQ(played.Run.Code, 2);
    EXPECT_FALSE(played.Run.Err.empty());
    // A script that does not parse is refused before anything opens.
    played = Play(ORBVIEWER_PATH, "-exename " + ShellQuote(Pack(Show(2, 1000))), "fly 3\n");
    EXPECT_EQ(played.Run.Code, 2);
    EXPECT_NE(played.Run.Err.find("line 1"), std::string::npos) << played.Run.Err;
}

TEST_F(OrbViewerProgram, PackageWithoutPublishedName_WarnsAndStillPlays) {
    std::string project = Show(2, 1000);
    project.erase(project.find("opt_exefn=show\r\n"), 16);
    const TPlayed played = PlayShow(project, "wait 100\n");
    EXPECT_EQ(played.Run.Code, 0);
    EXPECT_TRUE(played.Has("opt_exefn - Empty")) << played.All();
    EXPECT_EQ(played.Of("show").size(), 1u);
}

TEST_F(OrbViewerProgram, Keys_StepSlidesWhilePlayingAndPaused) {
    const TPlayed played = PlayShow(Show(4, 1000),
                                    "wait 500\n"
                                    "key Right\n"     // playing: the next slide's start
                                    "wait 300\n"
                                    "key Space\n"     // pause
                                    "key Right\n"     // paused: the next slide, complete
                                    "key Left\n"      // just after a start: one more back
                                    "wait 600\n"
                                    "key Left\n"
                                    "key End\n"
                                    "key Home\n"
                                    "key Space\n"     // play on
                                    "wait 1500\n"
                                    "key F1 ctrl\n"   // bound without modifiers only
                                    "key Escape\n");
    EXPECT_EQ(played.Run.Code, 0) << played.All();
    EXPECT_EQ(played.Ints("seek", "time"), (std::vector<int64_t>{1001, 2001, 1000, 0, 3001, 1})) << played.All();
    EXPECT_TRUE(played.Has("\"kind\":\"pause\",\"paused\":true")) << played.All();
    EXPECT_TRUE(played.Has("\"kind\":\"pause\",\"paused\":false")) << played.All();
    // Playing on from slide 1 reaches slide 2 by itself.
    EXPECT_TRUE(played.Has("\"kind\":\"slide\",\"index\":1")) << played.All();
    EXPECT_EQ(played.Of("key-action").size(), 9u) << played.All();
    EXPECT_TRUE(played.Has("\"kind\":\"exit\",\"code\":0")) << played.All();
}

TEST_F(OrbViewerProgram, PauseBarrier_ReleasedByKeys) {
    const std::map<int, std::string> barrier{{2, "Pers_EndAction=pause\r\n"}};
    // With navigation allowed, Right at the barrier lets the show go on
    // instead of skipping a slide.
    TPlayed played = PlayShow(Show(4, 1000, {}, barrier), "wait 3000\nkey Right\nwait 500\n");
    EXPECT_EQ(played.Of("release").size(), 1u) << played.All();
    EXPECT_TRUE(played.Of("seek").empty()) << played.All();
    EXPECT_EQ(played.Ints("slide", "index").back(), 2) << played.All();
    const std::vector<int64_t> times = played.Ints("slide", "time");
    EXPECT_GT(times.back(), 2000) << played.All();

    // Navigation locked: the keys do not step, but the listed ones release.
    played = PlayShow(Show(4, 1000, "opt_synchpermitcontrol=0\r\n", barrier),
                      "wait 2500\nkey Left\nkey A\nwait 500\nkey Space\nwait 500\n");
    EXPECT_TRUE(played.Of("key-action").empty()) << played.All();
    EXPECT_EQ(played.Of("release").size(), 1u) << played.All();
    EXPECT_TRUE(played.Of("seek").empty()) << played.All();
    EXPECT_GT(played.Ints("slide", "time").back(), 2000) << played.All();
}

TEST_F(OrbViewerProgram, Password_AcceptedRefusedOrCancelled) {
    const std::string guarded = Show(2, 1000, "opt_usepass=1\r\nopt_pass=abc\r\n");
    // The user takes 700 ms to answer; the show still starts at its beginning.
    TPlayed played = PlayShow(guarded, "text \"abc\"\nwait 700\nkey Return\nwait 1300\n");
    EXPECT_EQ(played.Of("dialog").size(), 1u) << played.All();
    EXPECT_EQ(played.Of("show").size(), 1u) << played.All();
    EXPECT_EQ(played.Of("firstframe").size(), 1u) << played.All();
    EXPECT_EQ(played.Ints("slide", "time").front(), 0) << played.All();
    EXPECT_TRUE(played.Has("\"kind\":\"slide\",\"index\":1")) << played.All();

    played = PlayShow(guarded, "text \"abd\"\nkey Return\nwait 200\n");
    EXPECT_EQ(played.Run.Code, 0);
    EXPECT_EQ(played.Of("refused").size(), 1u) << played.All();
    EXPECT_TRUE(played.Of("firstframe").empty()) << played.All();

    played = PlayShow(guarded, "text \"abc\"\nkey Escape\nwait 200\n");
    EXPECT_EQ(played.Run.Code, 0);
    EXPECT_TRUE(played.Has("\"kind\":\"dialog-end\",\"caption\":\"Password required\",\"result\":2"))
        << played.All();
    EXPECT_TRUE(played.Of("show").empty()) << played.All();
}

TEST_F(OrbViewerProgram, PrintDialog_SavesTheFrameAndAsksBeforeReplacing) {
    // The picture carries the print action; the first second ignores the mouse.
    const std::string project =
        Show(2, 5000, {}, {{1, "object A : image\r\n  ImageName=missing.png\r\n  Action=print\r\nend\r\n"}});
    const std::string save = "wait 1200\nmouse click 80 60\nwait 100\nkey Tab\ntext \" \"\nwait 50\n";
    TPlayed played = PlayShow(project, save + "key Return\nwait 200\n");
    const std::string saved = folder.File("Slide1.png");
    EXPECT_TRUE(played.Has("\"kind\":\"print\",\"printed\":false,\"saved\":\"" + saved + "\"")) << played.All();
    ASSERT_TRUE(std::filesystem::exists(saved));
    EXPECT_EQ(ReadTextFile(saved).substr(1, 3), "PNG");

    // The second time the file exists: "No" asks for the name again, and
    // Escape there saves nothing; the file stays as it was.
    std::ofstream(saved, std::ios::binary | std::ios::trunc) << "mine";
    played = PlayShow(project, save + "key Return\nwait 50\nkey Tab\ntext \" \"\nwait 50\nkey Escape\nwait 200\n");
    EXPECT_TRUE(played.Has("\"caption\":\"Confirm Save As\"")) << played.All();
    EXPECT_TRUE(played.Has("\"kind\":\"print\",\"printed\":false,\"saved\":\"\"")) << played.All();
    EXPECT_EQ(ReadTextFile(saved), "mine");

    // "Yes" replaces it.
    played = PlayShow(project, save + "key Return\nwait 50\nkey Return\nwait 200\n");
    EXPECT_TRUE(played.Has("\"saved\":\"" + saved + "\"")) << played.All();
    EXPECT_EQ(ReadTextFile(saved).substr(1, 3), "PNG");
}

TEST_F(OrbViewerProgram, ScreenSaver_NeedsTheSwitchAndAnyKeyEndsIt) {
    const std::string saver = Pack(Show(2, 1000), "Holiday.scr");
    TPlayed played = Play(saver, "", "wait 300\n");
    EXPECT_EQ(played.Run.Code, 0);
    EXPECT_EQ(played.Of("refused").size(), 1u) << played.All();
    EXPECT_TRUE(played.Of("firstframe").empty()) << played.All();

    played = Play(saver, "/s", "wait 300\nkey A\nwait 5000\n");
    EXPECT_EQ(played.Run.Code, 0);
    EXPECT_EQ(played.Of("firstframe").size(), 1u) << played.All();
    EXPECT_TRUE(played.Has("\"kind\":\"key-action\",\"key\":\"A\",\"code\":1")) << played.All();
    // It ended on the key, long before the script did.
    EXPECT_TRUE(played.Has("{\"t\":300,\"kind\":\"exit\",\"code\":0}")) << played.All();
}

TEST_F(OrbViewerProgram, ShowPrograms_RunOnlyWithConsentUnlessPublishedInThePlayer) {
    const std::string project = Show(3, 1000, {}, {{2, "Pers_RunApp=1\r\nRunAppFN=/bin/echo hello\r\n"}});
    const std::string ran = "\"kind\":\"run\",\"argv\":[\"/bin/echo\",\"hello\"]";
    // Opened from another file: the user sees the command and says no.
    TPlayed played = PlayShow(project, "answer no\nwait 1500\n");
    ASSERT_EQ(played.Of("message").size(), 1u) << played.All();
    EXPECT_TRUE(played.Has("/bin/echo hello")) << played.All();
    EXPECT_TRUE(played.Has("\"buttons\":\"yesno\",\"answer\":\"no\"")) << played.All();
    EXPECT_FALSE(played.Has(ran)) << played.All();
    // ... or yes.
    played = PlayShow(project, "answer yes\nwait 1500\n");
    EXPECT_TRUE(played.Has(ran)) << played.All();
    // "-allowrun" runs it without asking, and so does the player that
    // carries the show itself.
    played = PlayShow(project, "wait 1500\n", "-allowrun");
    EXPECT_TRUE(played.Of("message").empty()) << played.All();
    EXPECT_TRUE(played.Has(ran)) << played.All();
    played = Play(Pack(project), "", "wait 1500\n");
    EXPECT_TRUE(played.Of("message").empty()) << played.All();
    EXPECT_TRUE(played.Has(ran)) << played.All();
    // A command with a prohibited verb never runs, consent or not.
    played = Play(Pack(Show(3, 1000, {}, {{2, "Pers_RunApp=1\r\nRunAppFN=cmd.exe /c del x\r\n"}})), "", "wait 1500\n");
    EXPECT_TRUE(played.Has("Command line contains prohibited command and will not be performed.")) << played.All();
    EXPECT_TRUE(played.Of("run").empty()) << played.All();
}

TEST_F(OrbViewerProgram, StartupWindow_ChildDecidesWhetherTheShowStarts) {
    const std::string project = Show(2, 1000, "stw_show=1\r\n");
    // The child ends with 0 (closed): the show does not start.
    TPlayed played = PlayShow(project, "childexit 0\nwait 200\n");
    ASSERT_EQ(played.Of("run").size(), 1u) << played.All();
    EXPECT_TRUE(played.Has("\"-startup\"],\"wait\":true")) << played.All();
    EXPECT_TRUE(played.Of("show").empty()) << played.All();
    EXPECT_EQ(played.Run.Code, 0);
    // Exit code 1 (Enter in the child): it starts.
    played = PlayShow(project, "childexit 1\nwait 200\n");
    EXPECT_EQ(played.Of("show").size(), 1u) << played.All();
    // The child itself plays the start-up page, and Enter ends it with 1,
    // the way the parent reads it.
    played = PlayShow(Show(2, 1000, "stw_show=1\r\n[FileMap]\r\n[dialog_startup]\r\nbname=255\r\n"),
                      "wait 100\nkey Return\nwait 1000\n", "-startup");
    EXPECT_TRUE(played.Has("\"slides\":1,\"start\":0,\"duration\":1000")) << played.All();
    EXPECT_TRUE(played.Of("run").empty()) << played.All();
    EXPECT_EQ(played.Run.Code, 1) << played.All();
    EXPECT_TRUE(played.Has("{\"t\":100,\"kind\":\"exit\",\"code\":1}")) << played.All();
}

TEST_F(OrbViewerProgram, MouseAndWheel_ActAfterTheFirstSecond) {
    const TPlayed played = PlayShow(Show(4, 1000, "opt_leftmouse=Next slide\r\n"),
                                    "wait 500\n"
                                    "mouse click 80 60\n"  // the click that started the program
                                    "wait 700\n"
                                    "mouse click 80 60\n"  // 1200: on to slide 3
                                    "wait 100\n"
                                    "wheel 1\n"            // away from the user: 700 ms back
                                    "wheel -1 ctrl\n"      // toward the user with Ctrl: the next slide
                                    "wait 100\n");
    const std::vector<int64_t> seeks = played.Ints("seek", "time");
    ASSERT_EQ(seeks.size(), 3u) << played.All();
    EXPECT_EQ(seeks[0], 2001);
    // The show played on for up to 100 ms after the seek before the wheel.
    EXPECT_GE(seeks[1], 2001 - 700);
    EXPECT_LE(seeks[1], 2101 - 700);
    EXPECT_EQ(seeks[2], 2001);
}

TEST_F(OrbViewerProgram, Cursor_HiddenWhenStillAndBackOnARealMove) {
    const TPlayed played = PlayShow(Show(2, 5000, "opt_hidecursor=2\r\nopt_hc2_hideinterval=1\r\n"),
                                    "mouse move 50 50\n"
                                    "wait 1500\n"
                                    "mouse move 52 51\n"  // a tremble leaves it hidden
                                    "wait 100\n"
                                    "mouse move 70 60\n"
                                    "wait 100\n");
    const std::vector<std::string> cursor = played.Of("cursor");
    ASSERT_EQ(cursor.size(), 2u) << played.All();
    EXPECT_NE(cursor[0].find("\"shape\":\"hidden\""), std::string::npos) << cursor[0];
    EXPECT_NE(cursor[1].find("\"shape\":\"arrow\""), std::string::npos) << cursor[1];
    EXPECT_LT(std::stoll(cursor[1].substr(5)), 1800) << cursor[1];
    EXPECT_GE(std::stoll(cursor[1].substr(5)), 1600) << cursor[1];
}

}  // namespace
}  // namespace orb
