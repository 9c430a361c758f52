// A corpus of hostile shows, made here: each asks for far more picture memory
// than a small player has. Each plays for three seconds of show time through
// the playback engine (orbtool render, two frames a second) in a child
// process under an address-space limit; every frame must come out, and the
// peak resident memory stays well inside the limit. The exact figures go to
// the test's output and properties.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Orb/OrbTool/OrbToolTestSupport.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "QlLib/Graphics/qlGifWriter.h"

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace orb {
namespace {

using test::SolidPng;
using test::TTestEntry;

// The limit a child runs under: a kiosk's memory, less room for the rest.
constexpr int64_t kAddressSpaceLimit = int64_t(3) << 30;
// What one frame of a hostile show may keep resident: half the limit, loose
// on purpose (the pictures' budget is a quarter of it, and the drawer's
// textures come on top); the exact figure is reported.
constexpr int64_t kPeakResidentBound = kAddressSpaceLimit / 2;

std::string Main(int slides) {
    std::string text =
        "[Main]\r\nMinorVersion=13\r\nopt_scr_width=640\r\nopt_scr_height=360\r\n"
        "opt_fx_enable=0\r\nopt_bstyle=1\r\nopt_slidescount=" +
        std::to_string(slides) + "\r\n";
    for (int i = 1; i <= slides; ++i)
        text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 2000) + "\r\n";
    return text;
}

std::string ImageObject(const std::string& name, const std::string& image, int scale) {
    return "object " + name + ": image\r\n  ImageName=" + image +
           "\r\n  object kp: KeyPoint\r\n    Time=0\r\n    Origin=SlideBegin\r\n    ScaleX=" +
           std::to_string(scale) + "\r\n    ScaleY=" + std::to_string(scale) +
           "\r\n  end\r\nend\r\n";
}

struct THostileShow {
    std::string Name;
    std::vector<TTestEntry> Entries;
    int From = 0;  // show milliseconds; three seconds are played from here
};

// Show `index` of the corpus; each test makes only its own, so that no test
// pays for the others' huge pictures.
THostileShow CorpusShow(size_t index) {
    switch (index) {
        case 0: {
            // Eight preset masks of a quarter of a billion pixels each.
            std::string project = Main(1) + "[slide1]\r\n";
            for (int i = 0; i < 8; ++i)
                project += ImageObject(
                    "M" + std::to_string(i),
                    "PresetedMask: " + std::to_string(16384 - i) + ":16384:1:0:0", 20 + 10 * i);
            return THostileShow{"eight-huge-masks", {{u"Project.orb", project}}};
        }
        case 1: {
            // Two thousand objects, each with a mask of its own.
            std::string project = Main(1) + "[slide1]\r\n";
            for (int i = 0; i < 2000; ++i)
                project += ImageObject(
                    "M" + std::to_string(i),
                    "PresetedMask: " + std::to_string(6000 + i) + ":5000:0:20:30", 2 + i % 20);
            return THostileShow{"two-thousand-masks", {{u"Project.orb", project}}};
        }
        case 2: {
            // A text of 100,000 characters blown up five times.
            std::string text(100000, 'W');
            for (size_t i = 97; i < text.size(); i += 98) text[i] = ' ';
            const std::string project =
                Main(1) +
                "[slide1]\r\nobject T: text\r\n  FontName=DejaVu Sans\r\n"
                "  Text=\"" +
                text +
                "\"\r\n  object kp: KeyPoint\r\n    Time=0\r\n"
                "    Origin=SlideBegin\r\n    ScaleX=500\r\n    ScaleY=500\r\n"
                "  end\r\nend\r\n";
            return THostileShow{"long-text", {{u"Project.orb", project}}};
        }
        case 3: {
            // An animation of 5,000 frames.
            ql::TDirectBitmap a(64, 48, ql::PfARGB32()), b(64, 48, ql::PfARGB32());
            a.FillRect(a.Bounds(), 0xFFFF0000u);
            b.FillRect(b.Bounds(), 0xFF0000FFu);
            std::vector<ql::TGifWriteFrame> frames;
            for (int i = 0; i < 5000; ++i) frames.push_back({i % 2 ? &a : &b, 20});
            const std::vector<uint8_t> gif = ql::EncodeGif(frames);
            const std::string project =
                Main(1) + "[slide1]\r\n" + ImageObject("G", "anim.gif", 100);
            return THostileShow{
                "gif-5000-frames",
                {{u"Project.orb", project}, {u"anim.gif", std::string(gif.begin(), gif.end())}}};
        }
        case 4: {
            // Many slides naming the same huge pictures, played across two
            // transitions so that the engine builds the slides ahead.
            std::string project = Main(12);
            project.replace(project.find("opt_fx_enable=0"), 15,
                            "opt_fx_enable=1\r\nopt_fx_time=1000");
            for (int s = 1; s <= 12; ++s)
                project += "[slide" + std::to_string(s) + "]\r\n" +
                           ImageObject("P", "big.png", 100) +
                           ImageObject("M", "PresetedMask: 16384:16384:0:0:0", 60);
            return THostileShow{
                "same-huge-pictures",
                {{u"Project.orb", project}, {u"big.png", SolidPng(8000, 8000, 0xFF336699u)}},
                3000};
        }
        case 5: {
            // Shadows of huge pictures and button faces 16384 x 4096: each would
            // be made from, or at, a quarter of a billion pixels.
            std::string project = Main(1);
            project.insert(project.find("opt_slidescount"), "PathToButtons=btn\r\n");
            project += "[slide1]\r\n";
            for (int i = 0; i < 4; ++i)
                project +=
                    "object S" + std::to_string(i) +
                    ": image\r\n  ImageName=PresetedMask: " + std::to_string(16384 - i) +
                    ":16384:1:0:0\r\n  ShadowEnable=1\r\n  ShadowSize=" +
                    std::to_string(20 + 20 * i) +
                    "\r\n  ShadowDistance=5\r\n  object kp: KeyPoint\r\n    Time=0\r\n"
                    "    Origin=SlideBegin\r\n    ScaleX=50\r\n    ScaleY=50\r\n  end\r\nend\r\n";
            for (int i = 0; i < 4; ++i)
                project +=
                    "object B" + std::to_string(i) +
                    ": button\r\n  Theme=huge\r\n  Text=Go\r\n  BtnMinWidth=16384\r\n  Hue=" +
                    std::to_string(30 * i) +
                    "\r\n  object kp: KeyPoint\r\n    Time=0\r\n    Origin=SlideBegin\r\n"
                    "    ScaleX=40\r\n    ScaleY=40\r\n  end\r\nend\r\n";
            std::string theme = "[NormalState]\r\n";
            const char* parts[] = {
                "LeftTop=p.png,0,0,20,100",          "Top=p.png,20,0,21,100",
                "RightTop=p.png,40,0,60,100",        "Right=p.png,40,100,60,3996",
                "RightBottom=p.png,40,3996,60,4096", "Bottom=p.png,20,3996,21,4096",
                "LeftBottom=p.png,0,3996,20,4096",   "Left=p.png,0,100,20,3996",
                "Center=p.png,20,100,21,3996"};
            for (const char* part : parts) theme += std::string(part) + "\r\n";
            return THostileShow{"huge-shadows-buttons",
                                {{u"Project.orb", project},
                                 {u"btn\\huge\\btn.ini", theme},
                                 {u"btn\\huge\\p.png", SolidPng(64, 4096, 0xFF40A060u)}}};
        }
    }
    return {};
}

struct TChildRun {
    int Code = -1;
    int64_t PeakResidentBytes = 0;
    double Seconds = 0;
};

// Runs orbtool with the arguments under the address-space limit; the child's
// own peak resident size comes from wait4.
TChildRun RunLimited(const std::vector<std::string>& arguments, const std::string& log) {
    const auto start = std::chrono::steady_clock::now();
    // The child must not write out what this process has buffered.
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = fork();
    if (child == 0) {
        // AddressSanitizer reserves terabytes of shadow address space: under
        // it the limit would stop the program before it starts, so the
        // sanitizer build measures without it.
        if (!kAddressSanitizer) {
            const rlimit limit{rlim_t(kAddressSpaceLimit), rlim_t(kAddressSpaceLimit)};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (!std::freopen(log.c_str(), "w", stdout) || !std::freopen(log.c_str(), "a", stderr))
            _exit(125);
        std::vector<char*> argv{const_cast<char*>(ORBTOOL_PATH)};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(ORBTOOL_PATH, argv.data());
        _exit(126);
    }
    TChildRun run;
    if (child < 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return run;
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.PeakResidentBytes = int64_t(usage.ru_maxrss) * 1024;
    return run;
}

constexpr size_t kCorpusShows = 6;

class HostileShow : public ::testing::TestWithParam<size_t> {};

TEST_P(HostileShow, IsDrawnWithinTheMemoryLimit) {
    // Each show is its own test, so that one slow show under a sanitizer
    // does not take the others' time.
    const THostileShow show = CorpusShow(GetParam());
    ASSERT_FALSE(show.Name.empty());
    ql::test::TTestFolder folder;
    {
        const std::string package = folder.File(show.Name + ".exe");
        test::WriteBytes(ql::FromUtf8(package), test::BuildPackage("", show.Entries));
        const std::string out = folder.File(show.Name + ".y4m");
        const TChildRun run = RunLimited(
            {"render", package, "--size", "640x360", "--fps", "2", "--from",
             std::to_string(show.From), "--to", std::to_string(show.From + 3000), "-o", out},
            folder.File(show.Name + ".log"));
        std::printf("[ hostile ] %-20s exit %d, peak resident %.1f MiB, %.2f s\n",
                    show.Name.c_str(), run.Code, double(run.PeakResidentBytes) / (1 << 20),
                    run.Seconds);
        ::testing::Test::RecordProperty(show.Name + "_peak_rss_bytes",
                                        std::to_string(run.PeakResidentBytes));
        EXPECT_EQ(run.Code, 0) << show.Name << ": "
                               << ql::test::ReadTextFile(folder.File(show.Name + ".log"));
        // Three seconds at two frames a second.
        const std::string frames = ql::test::ReadTextFile(out);
        size_t count = 0;
        for (size_t at = frames.find("FRAME"); at != std::string::npos;
             at = frames.find("FRAME", at + 5))
            ++count;
        EXPECT_EQ(count, 6u) << show.Name;
        // The sanitizer's shadow and redzones multiply what a program holds.
        if (!kAddressSanitizer) {
            EXPECT_LT(run.PeakResidentBytes, kPeakResidentBound) << show.Name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, HostileShow, ::testing::Range(size_t(0), kCorpusShows));

// Slides whose pictures each fit in the picture memory but three together do
// not: the loader holds the slide before, the one on screen and the one after,
// so the budget must let go of what is not on screen for each slide to show
// its own picture when its turn comes. With a budget one picture alone passes,
// the same frames show no picture: the pictures really weigh what the budget
// is set against.
TEST(HostileShows, SlidesTogetherPastTheBudget_EachShowsItsPictureInTurn) {
    ql::test::TTestFolder folder;
    constexpr int kSlides = 6;
    // 1200 x 1200 pixels drawn at full size: 5.5 MiB of 32-bit pixels each.
    constexpr int kSide = 1200;
    std::vector<TTestEntry> entries;
    std::string project = Main(kSlides);
    auto grey = [](int slide) { return 0x30 + 0x20 * (slide - 1); };
    for (int s = 1; s <= kSlides; ++s) {
        const std::string name = "p" + std::to_string(s) + ".png";
        const uint32_t g = uint32_t(grey(s));
        entries.push_back(
            {ql::FromUtf8(name), SolidPng(kSide, kSide, 0xFF000000u | g << 16 | g << 8 | g)});
        project += "[slide" + std::to_string(s) + "]\r\n" + ImageObject("P", name, 100);
    }
    entries.push_back({u"Project.orb", project});
    const std::string package = folder.File("slides.exe");
    test::WriteBytes(ql::FromUtf8(package), test::BuildPackage("", entries));

    struct TCase {
        int budgetMiB;
        bool pictures;  // each slide's centre shows its picture
    };
    for (const TCase& c : {TCase{14, true}, TCase{4, false}}) {
        const std::string label = std::to_string(c.budgetMiB) + " MiB";
        const std::string out = folder.File("slides-" + std::to_string(c.budgetMiB) + ".y4m");
        const std::string log = folder.File("slides.log");
        const TChildRun run =
            RunLimited({"render", package, "--size", "640x360", "--fps", "2", "--to",
                        std::to_string(kSlides * 2000), "--picture-memory",
                        std::to_string(c.budgetMiB), "-o", out},
                       log);
        std::printf("[ hostile ] slides past a %d MiB budget: exit %d, peak resident %.1f MiB\n",
                    c.budgetMiB, run.Code, double(run.PeakResidentBytes) / (1 << 20));
        ASSERT_EQ(run.Code, 0) << label << ": " << ql::test::ReadTextFile(log);
        const std::string y4m = ql::test::ReadTextFile(out);
        const std::string header = "YUV4MPEG2 W640 H360 F2:1 Ip A1:1 C420jpeg\n";
        constexpr size_t kFrameBytes = 6 + 640 * 360 + 2 * 320 * 180;
        ASSERT_EQ(y4m.size(), header.size() + size_t(kSlides) * 4 * kFrameBytes) << label;
        for (int s = 1; s <= kSlides; ++s) {
            // Half a second a frame: the middle of slide s is frame 4s - 2.
            const size_t frame = size_t(4 * s - 2);
            const int luma =
                uint8_t(y4m[header.size() + frame * kFrameBytes + 6 + 180 * 640 + 320]);
            EXPECT_EQ(std::abs(luma - grey(s)) <= 2, c.pictures)
                << label << ", slide " << s << ": luma " << luma;
        }
        if (!kAddressSanitizer) {
            EXPECT_LT(run.PeakResidentBytes, kPeakResidentBound) << label;
        }
    }
}

}  // namespace
}  // namespace orb
