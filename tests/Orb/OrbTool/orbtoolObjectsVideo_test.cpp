// orbtool objects over a show with video objects: the video columns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Orb/OrbTool/OrbToolTestSupport.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Video/VideoClipSupport.h"

namespace orb {
namespace {

using ql::test::ShellQuote;
using test::Tool;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(OrbToolObjects, Videos_ShowTheirPositionExactFrameAspectAndFailure) {
    const std::vector<uint8_t> clip =
        ql::test::MakeNumberedClip({"libx264", "mp4", 160, 96, 100, 25, 1, 25, 3, 0});
    if (clip.empty()) GTEST_SKIP() << "libx264 missing";
    ql::test::TTestFolder folder;
    const std::string project =
        "[Main]\r\nMinorVersion=13\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n"
        "opt_slidescount=1\r\nopt_synchpos1=10000\r\nopt_bstyle=1\r\nopt_bname=65280\r\n"
        "[slide1]\r\n"
        "object Clip: video\r\n  FileName=clip.mp4\r\n  StartORBTime=1000\r\n"
        "  Duration=3000\r\nend\r\n"
        "object Missing: video\r\n  FileName=missing.mp4\r\nend\r\n";
    const std::string package = test::BuildPackage(
        "", {{u"Project.orb", project}, {u"clip.mp4", std::string(clip.begin(), clip.end())}});
    test::WriteBytes(ql::FromUtf8(folder.File("show.exe")), package);
    const auto run =
        Tool(folder, "objects " + ShellQuote(folder.File("show.exe")) + " --time 2500");
    ASSERT_EQ(run.Code, 0) << run.Err;
    const auto lines = Lines(run.Out);
    // The missing file shows its stand-in.
    ASSERT_EQ(lines.size(), 2u) << run.Out;
    EXPECT_NE(lines[1].find("\"videoframe\":-2,\"exact\":false,\"pixelaspect\":1,\"failure\":2"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[0].find("\"kind\":\"video\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"position\":1500,\"videoframe\":38,\"exact\":true,"
                            "\"pixelaspect\":1,\"failure\":0"),
              std::string::npos)
        << lines[0];
}

TEST(OrbToolObjects, ClipOfTheVideoContainer_PlaysOnAcrossSlides) {
    const std::vector<uint8_t> clip =
        ql::test::MakeNumberedClip({"libx264", "mp4", 160, 96, 200, 25, 1, 25, 3, 0});
    if (clip.empty()) GTEST_SKIP() << "libx264 missing";
    ql::test::TTestFolder folder;
    const std::string video = "  ClipGUID={clip-1}\r\n  Duration=8000\r\n";
    const std::string project =
        "[Main]\r\nMinorVersion=13\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n"
        "opt_slidescount=2\r\nopt_synchpos1=4000\r\nopt_synchpos2=8000\r\nopt_bstyle=1\r\n"
        "opt_bname=65280\r\n"
        "object Boss: VideoBoss\r\n"
        "  object C1: videoclip\r\n    ClipGUID={clip-1}\r\n    FileName=clip.mp4\r\n"
        "  end\r\nend\r\n"
        "[slide1]\r\nobject V1: video\r\n" +
        video +
        "end\r\n"
        "[slide2]\r\nobject V2: video\r\n" +
        video + "end\r\n";
    const std::string package = test::BuildPackage(
        "", {{u"Project.orb", project}, {u"clip.mp4", std::string(clip.begin(), clip.end())}});
    test::WriteBytes(ql::FromUtf8(folder.File("show.exe")), package);
    struct TCase {
        const char* Time;
        const char* Expected;
    };
    // Slide 2 begins at 4000: its video goes on from 4000 in the file.
    const TCase cases[] = {
        {"1000", "\"position\":1000,\"videoframe\":25,\"exact\":true"},
        {"5000", "\"position\":5000,\"videoframe\":125,\"exact\":true"},
        {"7000", "\"position\":7000,\"videoframe\":175,\"exact\":true"},
    };
    for (const TCase& c : cases) {
        const auto run =
            Tool(folder, "objects " + ShellQuote(folder.File("show.exe")) + " --time " + c.Time);
        ASSERT_EQ(run.Code, 0) << run.Err;
        const auto lines = Lines(run.Out);
        ASSERT_EQ(lines.size(), 1u) << c.Time << ": " << run.Out;
        EXPECT_NE(lines[0].find(c.Expected), std::string::npos) << c.Time << ": " << lines[0];
    }
}

}  // namespace
}  // namespace orb
