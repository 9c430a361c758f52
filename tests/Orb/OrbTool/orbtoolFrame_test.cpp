#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "GlTestSupport.h"
#include "Orb/OrbTool/OrbToolTestSupport.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngDecoder.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/qpFileStream.h"

namespace orb {
namespace {

using ql::test::ShellQuote;
using test::SolidPng;
using test::Tool;

// Two 4:3 slides: the first on the show's green with a red picture placed
// into the right half; the second on its own blue, coming in with a 2 s
// transition at 10 s.
const char kProject[] =
    "[Main]\r\nMinorVersion=13\r\nopt_scr_width=1024\r\nopt_scr_height=768\r\n"
    "opt_slidescount=2\r\nopt_synchpos1=10000\r\nopt_synchpos2=20000\r\n"
    "opt_fx_enable=1\r\nopt_fx_time=2000\r\nopt_bstyle=1\r\nopt_bname=65280\r\n"
    "[slide1]\r\n"
    "object Red: image\r\n"
    "  ImageName=red.png\r\n"
    "  object kp1: KeyPoint\r\n"
    "    Time=0\r\n"
    "    ScaleX=50\r\n"
    "    ScaleY=50\r\n"
    "    Position=50,0\r\n"
    "  end\r\n"
    "end\r\n"
    "[slide2]\r\nUsePersonal=1\r\nPers_Effect=1\r\nEffect_Class=2\r\nEffect_Type=1\r\nEffectTime="
    "2000\r\n"
    "Pers_Fon=1\r\nbstyle=1\r\nbname=16711680\r\n";

// A custom transition: the outgoing slide leaves to the left while the
// incoming one comes in from the right, both at full size.
const char kPushShow[] =
    "[Main]\r\nMinorVersion=13\r\nopt_scr_width=1024\r\nopt_scr_height=768\r\n"
    "opt_slidescount=1\r\nopt_synchpos1=2000\r\n"
    "[slide1]\r\nCoverMode=1\r\n"
    "object Old: image\r\n  ReplaceWithEffectBuffer=1\r\n"
    "  object kp1: KeyPoint\r\n    Time=0\r\n    Position=0,0\r\n  end\r\n"
    "  object kp2: KeyPoint\r\n    Time=2000\r\n    Position=-200,0\r\n  end\r\n"
    "end\r\n"
    "object New: image\r\n  ReplaceWithEffectBuffer=2\r\n"
    "  object kp1: KeyPoint\r\n    Time=0\r\n    Position=200,0\r\n  end\r\n"
    "  object kp2: KeyPoint\r\n    Time=2000\r\n    Position=0,0\r\n  end\r\n"
    "end\r\n";

std::string CustomProject(const std::string& entries) {
    std::string text = kProject;
    text.replace(text.find("Effect_Class=2"), 14, "Effect_Class=18");
    text.insert(text.find("[slide1]"), "opt_fx_custom1=" + entries + "\r\n");
    return text;
}

struct TFrame {
    std::unique_ptr<ql::TBitmap> bitmap;
    uint32_t At(int32_t x, int32_t y) const {
        const ql::TBitmap* b = bitmap.get();
        const auto* row = reinterpret_cast<const uint32_t*>(b->Row(y));
        return row[x] & 0xFFFFFFu;
    }
};

class OrbToolFrame : public ::testing::Test {
protected:
    void SetUp() override { Write(kProject); }
    void Write(const std::string& project) {
        const std::string package =
            test::BuildPackage("", {{u"Project.orb", project},
                                    {u"red.png", SolidPng(400, 300, 0xFFFF0000u)},
                                    {u"push.orb", kPushShow}});
        test::WriteBytes(ql::FromUtf8(folder.File("show.exe")), package);
        show = ShellQuote(folder.File("show.exe"));
    }

    // Renders and decodes the frame to "A8R8G8B8".
    TFrame Render(const std::string& arguments) {
        const std::string out = folder.File("frame.png");
        const auto run = Tool(folder, "frame " + show + " " + arguments + " -o " + ShellQuote(out));
        EXPECT_EQ(run.Code, 0) << run.Err;
        TFrame frame;
        if (run.Code != 0) return frame;
        ql::TFileStream stream(ql::FromUtf8(out), ql::TFileAccess::Read, ql::kShareRead,
                               ql::TFileDisposition::OpenExisting);
        auto store = ql::DecodePng(stream, u"frame.png", nullptr, nullptr);
        if (!store) return frame;
        const ql::TBitmap* level = store->GetBitmap(0, ql::PfARGB32());
        if (!level) return frame;
        frame.bitmap =
            std::make_unique<ql::TDirectBitmap>(level->Width(), level->Height(), ql::PfARGB32());
        for (int32_t y = 0; y < level->Height(); ++y)
            std::copy_n(level->Row(y), size_t(level->Width()) * 4, frame.bitmap->Row(y));
        return frame;
    }

    ql::test::TTestFolder folder;
    std::string show;
};

TEST_F(OrbToolFrame, Slide_BackgroundAndPictureWhereTheyBelong) {
    const TFrame frame = Render("--time 5000 --size 640x360");
    ASSERT_TRUE(frame.bitmap);
    ASSERT_EQ(frame.bitmap->Width(), 640);
    ASSERT_EQ(frame.bitmap->Height(), 360);
    // The 4:3 frame is 480 x 360 from x = 80; the picture is placed into it
    // at half size (240 x 180), its centre moved to the right edge: x 440 .. 680
    // clipped to the screen, y 90 .. 270.
    EXPECT_EQ(frame.At(100, 20), 0x00FF00u);   // slide background
    EXPECT_EQ(frame.At(300, 180), 0x00FF00u);  // left of the picture
    EXPECT_EQ(frame.At(500, 180), 0xFF0000u);  // the picture
    EXPECT_EQ(frame.At(500, 60), 0x00FF00u);   // above it
    EXPECT_EQ(frame.At(20, 180), 0x000000u);   // outside the frame: black
    EXPECT_EQ(frame.At(600, 180), 0x000000u);  // the picture ends with the frame
}

TEST_F(OrbToolFrame, Hider_FillsTheScreenOutsideTheFrame) {
    std::string project = kProject;
    // Windows colour value: red in the low byte; this is yellow.
    project.insert(project.find("[slide1]"), "opt_scr_hidercolor=65535\r\n");
    Write(project);
    std::string noGl;
    const bool haveGl = test::HeadlessGlDevice(8, 8, noGl) != nullptr;
    for (const char* device : {"soft", "gl"}) {
        SCOPED_TRACE(device);
        if (!haveGl && std::string(device) == "gl") continue;
        const TFrame frame = Render(std::string("--time 5000 --size 640x360 --device ") + device);
        ASSERT_TRUE(frame.bitmap);
        EXPECT_EQ(frame.At(20, 180), 0xFFFF00u);   // left of the 4:3 frame
        EXPECT_EQ(frame.At(630, 20), 0xFFFF00u);   // right of it
        EXPECT_EQ(frame.At(600, 180), 0xFFFF00u);  // the picture goes under the hider
        EXPECT_EQ(frame.At(100, 20), 0x00FF00u);   // the slide itself
        EXPECT_EQ(frame.At(500, 180), 0xFF0000u);
    }
}

TEST_F(OrbToolFrame, AfterTheTransition_TheNextSlide) {
    const TFrame frame = Render("--time 15000 --size 320x240");
    ASSERT_TRUE(frame.bitmap);
    EXPECT_EQ(frame.At(160, 120), 0x0000FFu);
    EXPECT_EQ(frame.At(5, 5), 0x0000FFu);
}

TEST_F(OrbToolFrame, BeforeTheFirstTransitionEnds_ThePreShowBackgroundOrTheFirstSlide) {
    const TFrame frame = Render("--time 0 --size 320x240 --seed 1");
    ASSERT_TRUE(frame.bitmap);
    // Whatever the effect draws, the pre-show slide has the first slide's
    // background, so the corner is green.
    EXPECT_EQ(frame.At(5, 5), 0x00FF00u);
}

TEST_F(OrbToolFrame, CustomTransition_PlaysItsShowWithBothSlides) {
    Write(CustomProject(" \tpush.orb"));
    // A quarter of the way: the old slide is 80 pixels to the left, the new
    // one begins at 240.
    const TFrame frame = Render("--time 10500 --size 320x240");
    ASSERT_TRUE(frame.bitmap);
    EXPECT_EQ(frame.At(5, 120), 0x00FF00u);    // old background, shifted
    EXPECT_EQ(frame.At(150, 120), 0xFF0000u);  // the old picture (220 .. 340 on the slide)
    EXPECT_EQ(frame.At(250, 30), 0x0000FFu);   // the new slide
}

TEST_F(OrbToolFrame, CustomTransitionWithMissingEntry_IsACrossFade) {
    Write(CustomProject("missing.orb"));
    const TFrame frame = Render("--time 11000 --size 320x240");
    ASSERT_TRUE(frame.bitmap);
    // Half-way: green and blue mixed everywhere on the background.
    const uint32_t c = frame.At(5, 5);
    EXPECT_GT(c >> 8 & 0xFF, 90u);
    EXPECT_GT(c & 0xFF, 90u);
    EXPECT_EQ(frame.At(5, 5), frame.At(314, 234));
}

TEST_F(OrbToolFrame, BadArguments_AreErrors) {
    EXPECT_EQ(Tool(folder, "frame " + show + " --time 1").Code, 2);
    EXPECT_EQ(Tool(folder, "frame " + show + " --time 1 --device vulkan -o x.png").Code, 2);
    EXPECT_EQ(Tool(folder, "frame " + show + " -o x.png").Code, 2);
    EXPECT_EQ(Tool(folder, "frame --help").Code, 0);
}

}  // namespace
}  // namespace orb
