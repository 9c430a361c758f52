#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "Orb/OrbTool/OrbToolTestSupport.h"
#include "OrbLib2/OrbViewer/PackageTestSupport.h"
#include "ProgramRunner.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngWriter.h"

namespace orb {
namespace {

using ql::test::ShellQuote;
using test::SolidPng;
using test::Tool;

// One 16:9 slide holding a 4000 x 3000 picture, fitted by `fitMode`, turned
// by `angleY` degrees about the vertical axis, with a child picture.
std::string Project(const std::string& fitMode, double angleY = 0) {
    return "[Main]\r\nMinorVersion=13\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n"
           "opt_slidescount=1\r\nopt_synchpos1=10000\r\nopt_bstyle=1\r\nopt_bname=65280\r\n"
           "[slide1]\r\n"
           "object Big: image\r\n"
           "  ImageName=big.png\r\n"
           "  FitMode=" + fitMode + "\r\n"
           "  object kp1: KeyPoint\r\n"
           "    Time=0\r\n"
           "    AngleY=" + std::to_string(angleY) + "\r\n"
           "  end\r\n"
           "  object Small: image\r\n"
           "    ImageName=small.png\r\n"
           "    object kp1: KeyPoint\r\n"
           "      Time=0\r\n"
           "      ScaleX=20\r\n"
           "      ScaleY=20\r\n"
           "      Position=50,50\r\n"
           "    end\r\n"
           "  end\r\n"
           "end\r\n";
}

std::string WriteShow(const ql::test::TTestFolder& folder, const std::string& project) {
    const std::string package = test::BuildPackage(
        "", {{u"Project.orb", project}, {u"big.png", SolidPng(4000, 3000, 0xFFFF0000u)},
             {u"small.png", SolidPng(200, 100, 0xFF0000FFu)}});
    test::WriteBytes(ql::FromUtf8(folder.File("show.exe")), package);
    return ShellQuote(folder.File("show.exe"));
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The corners of a line as eight numbers.
std::vector<double> Corners(const std::string& line) {
    const size_t at = line.find("\"corners\":[");
    std::vector<double> values;
    if (at == std::string::npos) return values;
    const std::string rest = line.substr(at + 11, line.find("]]", at) - at - 11);
    const std::regex number("-?[0-9]+(\\.[0-9]+)?");
    for (auto it = std::sregex_iterator(rest.begin(), rest.end(), number); it != std::sregex_iterator(); ++it)
        values.push_back(std::stod(it->str()));
    return values;
}

void ExpectCorners(const std::string& line, const std::vector<double>& expected, double tolerance = 0.01) {
    const std::vector<double> got = Corners(line);
    ASSERT_EQ(got.size(), expected.size()) << line;
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], tolerance) << line << " #" << i;
}

TEST(OrbToolObjects, PlaceInto_FitsTheHeightRatio) {
    ql::test::TTestFolder folder;
    const std::string show = WriteShow(folder, Project("PlaceInto"));
    const auto run = Tool(folder, "objects " + show + " --time 5000");
    ASSERT_EQ(run.Code, 0) << run.Err;
    const auto lines = Lines(run.Out);
    ASSERT_EQ(lines.size(), 2u) << run.Out;
    // 1080 / 3000 = 0.36: 1440 x 1080 in the middle of the screen.
    EXPECT_NE(lines[0].find("{\"slide\":0,\"path\":\"0\",\"kind\":\"image\",\"state\":\"normal\",\"opacity\":100,"),
              std::string::npos)
        << lines[0];
    ExpectCorners(lines[0], {240, 0, 1680, 0, 1680, 1080, 240, 1080});
    EXPECT_NE(lines[0].find("\"source\":[0,0,4000,3000]"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"frame\":0"), std::string::npos);
    EXPECT_NE(lines[1].find("\"path\":\"0/0\""), std::string::npos) << lines[1];
}

TEST(OrbToolObjects, Cover_FitsTheWidthRatio) {
    ql::test::TTestFolder folder;
    const std::string show = WriteShow(folder, Project("Cover"));
    const auto run = Tool(folder, "objects " + show + " --time 5000 --seed 3");
    ASSERT_EQ(run.Code, 0) << run.Err;
    const auto lines = Lines(run.Out);
    ASSERT_FALSE(lines.empty());
    // 1920 / 4000 = 0.48: 1920 x 1440, running off above and below.
    ExpectCorners(lines[0], {0, -180, 1920, -180, 1920, 1260, 0, 1260});
}

TEST(OrbToolObjects, SmallerScreen_ScalesTheFrame) {
    ql::test::TTestFolder folder;
    const std::string show = WriteShow(folder, Project("PlaceInto"));
    const auto run = Tool(folder, "objects " + show + " --time 5000 --size 960x540");
    ASSERT_EQ(run.Code, 0) << run.Err;
    ExpectCorners(Lines(run.Out)[0], {120, 0, 840, 0, 840, 540, 120, 540});
}

TEST(OrbToolObjects, AngleY60_CornersFollowThePerspective) {
    ql::test::TTestFolder folder;
    const std::string show = WriteShow(folder, Project("PlaceInto", 60));
    const auto run = Tool(folder, "objects " + show + " --time 5000");
    ASSERT_EQ(run.Code, 0) << run.Err;
    // Worked out here from the placement rules: a 4000 x 3000 object at fit
    // 0.36 centred on (960, 540); its X axis turns to (cos 60, 0, sin 60),
    // the depth halved by the slide's depth factor (camera 1080 in front of
    // a 1080 high slide); the camera at (960, 540, -1080).
    const double f = 0.36, c = std::cos(M_PI / 3), s = std::sin(M_PI / 3), depth = 0.5, cz = -1080;
    std::vector<double> expected;
    const double local[4][2] = {{-2000, -1500}, {2000, -1500}, {2000, 1500}, {-2000, 1500}};
    for (const auto& p : local) {
        const double x = 960 + p[0] * f * c, y = 540 + p[1] * f, z = p[0] * f * s * depth;
        const double d = z - cz;
        expected.push_back(960 + cz * (960 - x) / d);
        expected.push_back(540 + (540 - y) * cz / d);
    }
    ExpectCorners(Lines(run.Out)[0], expected, 0.05);
}

TEST(OrbToolObjects, BadArguments_AreErrors) {
    ql::test::TTestFolder folder;
    const std::string show = WriteShow(folder, Project("PlaceInto"));
    EXPECT_EQ(Tool(folder, "objects " + show).Code, 2);
    EXPECT_EQ(Tool(folder, "objects " + show + " --time abc").Code, 2);
    EXPECT_EQ(Tool(folder, "objects " + show + " --time 1 --size 5x5").Code, 2);
    EXPECT_EQ(Tool(folder, "objects /no/such/show --time 1").Code, 2);
    EXPECT_EQ(Tool(folder, "objects --help").Code, 0);
    EXPECT_EQ(Tool(folder, "hit " + show + " --time 1").Code, 2);
    EXPECT_EQ(Tool(folder, "hit " + show + " --time 1 --at 5").Code, 2);
}

TEST(OrbToolHit, FindsTheTopmostObjectAndNothingOffIt) {
    ql::test::TTestFolder folder;
    const std::string show = WriteShow(folder, Project("PlaceInto"));
    const auto centre = Tool(folder, "hit " + show + " --time 5000 --at 960,540");
    EXPECT_EQ(centre.Code, 0) << centre.Err;
    EXPECT_EQ(centre.Out, "0\n");
    // The child sits at half the parent's half size right and down: (1320, 810).
    const auto child = Tool(folder, "hit " + show + " --time 5000 --at 1320,810");
    EXPECT_EQ(child.Out, "0/0\n");
    const auto off = Tool(folder, "hit " + show + " --time 5000 --at 100,540");
    EXPECT_EQ(off.Code, 1);
    EXPECT_EQ(off.Out, "");
}

}  // namespace
}  // namespace orb
