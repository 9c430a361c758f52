// orbtool render of a slide that plays a clip with sound: the written video
// shows the clip's frames at their times and carries the clip's sound.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/OrbToolTestSupport.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Video/VideoClipSupport.h"
#include "QlLib/Video/qlWinVideoSource.h"
#include "QlLib/qpFileStream.h"

namespace orb {
namespace {

using ql::test::ShellQuote;
using test::Tool;

TEST(OrbToolRenderVideo, SlideWithAClip_WritesItsFramesAndSound) {
    ql::test::TClipSpec spec{"libx264", "mp4", 96, 64, 50, 25, 1, 25, 3, 0};
    spec.AudioEncoder = "aac";
    const std::vector<uint8_t> clip = ql::test::MakeNumberedClip(spec);
    if (clip.empty()) GTEST_SKIP() << "libx264 or aac missing";
    ql::test::TTestFolder folder;
    // The Main music object puts the video's sound into the slide's comment.
    const std::string project =
        "[Main]\r\nMinorVersion=13\r\nopt_scr_width=96\r\nopt_scr_height=64\r\n"
        "opt_slidescount=1\r\nopt_synchpos1=2000\r\nopt_bstyle=1\r\nopt_bname=0\r\n"
        "object M: music\r\nend\r\n"
        "[slide1]\r\nobject Clip: video\r\n  FileName=clip.mp4\r\n  Duration=2000\r\nend\r\n";
    const std::string package = test::BuildPackage(
        "", {{u"Project.orb", project}, {u"clip.mp4", std::string(clip.begin(), clip.end())}});
    test::WriteBytes(ql::FromUtf8(folder.File("show.exe")), package);
    const auto render =
        Tool(folder, "render " + ShellQuote(folder.File("show.exe")) +
                         " --size 96x64 --fps 25 --quiet -o " + ShellQuote(folder.File("out.mp4")));
    ASSERT_EQ(render.Code, 0) << render.Err;

    ql::TWinVideoSource written;
    auto stream = std::make_unique<ql::TFileStream>(ql::FromUtf8(folder.File("out.mp4")),
                                                    ql::TFileAccess::Read, ql::kShareRead,
                                                    ql::TFileDisposition::OpenExisting);
    ASSERT_EQ(written.Open(stream.release(), true, u"out.mp4"), ql::TVideoFailure::None);
    EXPECT_EQ(written.FrameCount(), 50);
    ql::TYuvImage image;
    for (const int64_t n : {0, 1, 13, 30, 49}) {
        ASSERT_TRUE(written.GetFrame(n, image));
        EXPECT_EQ(ql::test::ReadFrameNumber(image.Y.data(), 96, 64, 96), n) << n;
    }

    const auto sound =
        Tool(folder, "sound " + ShellQuote(folder.File("out.mp4")) + " --from 500 --to 1500 -o " +
                         ShellQuote(folder.File("out.wav")));
    ASSERT_EQ(sound.Code, 0) << sound.Err;
    const std::string wav = ql::test::ReadTextFile(folder.File("out.wav"));
    ASSERT_GT(wav.size(), 44u);
    int peak = 0;
    for (size_t i = 44; i + 1 < wav.size(); i += 2) {
        int16_t sample;
        std::memcpy(&sample, wav.data() + i, 2);
        peak = std::max(peak, std::abs(int(sample)));
    }
    // The clip's tone is at 0.3 of full scale; silence would be 0.
    EXPECT_GT(peak, 3000);
}

}  // namespace
}  // namespace orb
