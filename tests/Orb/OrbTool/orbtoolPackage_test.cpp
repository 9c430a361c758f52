#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <string>

#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"

namespace orb {
namespace {

using test::TTestFolder;
using test::WriteBytes;

ql::test::TProgramRun RunTool(const TTestFolder& folder, const std::string& args) {
    return ql::test::RunProgram(ql::ToUtf8(folder.Path()), ORBTOOL_PATH, args);
}

std::string Q(const std::u16string& path) { return "'" + ql::ToUtf8(path) + "'"; }

TEST(OrbTool, PackLsCat_RoundTrip) {
    TTestFolder folder;
    const std::string project = "[Main]\r\nOrbVersion=4.2\r\n";
    const std::string picture = test::Noise(50000);
    WriteBytes(folder.File("project.orb"), project);
    WriteBytes(folder.File("a.jpg"), picture);
    WriteBytes(folder.File("player"), "#!/bin/sh\nexit 0\n");
    ASSERT_EQ(std::system(("chmod 755 " + Q(folder.File("player"))).c_str()), 0);
    const std::u16string show = folder.File("show.exe");
    for (const char* method : {"0", "1", "2"}) {
        ql::test::TProgramRun pack = RunTool(folder, "pack -o " + Q(show) + " --player " + Q(folder.File("player")) +
                                        " --method " + method + " --orbversion 9.9 " +
                                        Q(folder.File("project.orb")) + " 'C:\\pics\\[a].jpg=" +
                                        ql::ToUtf8(folder.File("a.jpg")) + "'");
        ASSERT_EQ(pack.Code, 0) << pack.Err;
        ql::test::TProgramRun ls = RunTool(folder, "ls " + Q(show));
        EXPECT_EQ(ls.Code, 0);
        const std::string expected = "player\t0\t0\t17\nProject.orb\t1\t17\t";
        EXPECT_EQ(ls.Out.substr(0, expected.size()), expected);
        // Noise does not shrink: asked to deflate, the tool stores it.
        const std::string stored = std::string(method) == "1" ? "0" : method;
        EXPECT_NE(ls.Out.find("C:\\pics\\<a>.jpg\t" + stored + "\t"), std::string::npos);
        EXPECT_NE(ls.Out.find("orbversion\t9.9\n"), std::string::npos);
        ql::test::TProgramRun cat = RunTool(folder, "cat " + Q(show) + " 'C:\\pics\\[a].jpg'");
        EXPECT_EQ(cat.Code, 0);
        EXPECT_EQ(cat.Out, picture);
        EXPECT_EQ(RunTool(folder, "cat " + Q(show) + " Project.orb").Out, project);
    }
    EXPECT_EQ(std::system(Q(show).c_str()), 0);  // the run bit came from the player
}

TEST(OrbTool, Pack_DeflatesWhatShrinksAndStoresTheRest) {
    TTestFolder folder;
    std::string text;
    while (text.size() < 20000) text += "Slide=picture.jpg\r\n";
    const std::string picture = test::Noise(30000, 9);
    WriteBytes(folder.File("project.orb"), "[Main]\r\n");
    WriteBytes(folder.File("notes.txt"), text);
    WriteBytes(folder.File("photo.jpg"), picture);
    const std::u16string show = folder.File("show.dat");
    ql::test::TProgramRun pack =
        RunTool(folder, "pack --player /dev/null --method 1 -o " + Q(show) + " " + Q(folder.File("project.orb")) +
                            " 'notes.txt=" + ql::ToUtf8(folder.File("notes.txt")) + "' 'photo.jpg=" +
                            ql::ToUtf8(folder.File("photo.jpg")) + "'");
    ASSERT_EQ(pack.Code, 0) << pack.Err;
    ql::test::TProgramRun ls = RunTool(folder, "ls " + Q(show));
    // The project stays deflated whatever its size; the photo is stored at
    // its own size.
    EXPECT_NE(ls.Out.find("Project.orb\t1\t"), std::string::npos) << ls.Out;
    EXPECT_NE(ls.Out.find("notes.txt\t1\t"), std::string::npos) << ls.Out;
    const size_t photo = ls.Out.find("photo.jpg\t0\t");
    ASSERT_NE(photo, std::string::npos) << ls.Out;
    const size_t end = ls.Out.find('\n', photo);
    EXPECT_EQ(ls.Out.substr(end - 6, 6), "\t30000");
    EXPECT_EQ(RunTool(folder, "cat " + Q(show) + " photo.jpg").Out, picture);
    EXPECT_EQ(RunTool(folder, "cat " + Q(show) + " notes.txt").Out, text);
}

TEST(OrbTool, Errors_OneLineAndExitCode2) {
    TTestFolder folder;
    WriteBytes(folder.File("plain"), "no package");
    WriteBytes(folder.File("project.orb"), "[Main]\r\n");
    ql::test::TProgramRun missing = RunTool(folder, "ls " + Q(folder.File("none")));
    EXPECT_EQ(missing.Code, 2);
    EXPECT_EQ(missing.Err, "Slideshow File not Found\n");
    ql::test::TProgramRun damaged = RunTool(folder, "ls " + Q(folder.File("plain")));
    EXPECT_EQ(damaged.Code, 2);
    EXPECT_EQ(damaged.Err, "Slide-show File Damaged\n");
    const std::u16string show = folder.File("bare.dat");
    ASSERT_EQ(RunTool(folder, "pack --old-trailer --player /dev/null -o " + Q(show) + " " +
                                  Q(folder.File("project.orb"))).Code, 0);
    ql::test::TProgramRun absent = RunTool(folder, "cat " + Q(show) + " nothing");
    EXPECT_EQ(absent.Code, 2);
    EXPECT_EQ(absent.Err, "entry not found: nothing\n");
    EXPECT_EQ(RunTool(folder, "ls " + Q(show)).Out.substr(0, 16), "Project.orb\t1\t0\t");
    EXPECT_EQ(RunTool(folder, "pack --help").Code, 0);
}

}  // namespace
}  // namespace orb
