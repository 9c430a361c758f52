// The engine over a show file on disk that changes under it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "EngineTestSupport.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbEngine2.h"
#include "PackageTestSupport.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Music/AudioFixtures.h"

namespace orb {
namespace {

std::string NoisePng(uint32_t seed) {
    ql::TDirectBitmap bitmap(64, 48, ql::PfARGB32());
    const std::string noise = test::Noise(size_t(64 * 48 * 4), seed);
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64 * 4; ++x)
            bitmap.Row(y)[x] = uint8_t(noise[size_t(y * 64 * 4 + x)]) | (x % 4 == 3 ? 0xFF : 0);
    const std::vector<uint8_t> png = ql::EncodePng(bitmap);
    return std::string(png.begin(), png.end());
}

// Three slides of 2 s, each with its own picture, over a music object of
// two pieces (8 s and 3 s), played again and again. The mixer opens each
// piece a little before it sounds, the second one after the cut below; an
// entry that lies past the end of the file throws on opening.
std::string ThreeSlidesOverMusic() {
    std::string project =
        "[Main]\r\nMinorVersion=13\r\nopt_scr_width=640\r\nopt_scr_height=480\r\n"
        "opt_slidescount=3\r\nopt_synchpos1=2000\r\nopt_synchpos2=4000\r\nopt_synchpos3=6000\r\n"
        "opt_repeat=repeat\r\nopt_syncmode=0\r\n"
        "object music: music\r\n"
        "  object options: TMusicOptions\r\n    IsRepeat=1\r\n  end\r\n"
        "  object track: TMusicTrack\r\n"
        "    object a: TMusicItem\r\n      FileName=music/tone.wav\r\n      Duration=8000\r\n"
        "    end\r\n"
        "    object b: TMusicItem\r\n      FileName=music/end.wav\r\n      Duration=3000\r\n"
        "    end\r\n"
        "  end\r\n"
        "end\r\n";
    for (int k = 1; k <= 3; ++k)
        project += "[slide" + std::to_string(k) + "]\r\nobject P: image\r\n  ImageName=p" +
                   std::to_string(k) + ".png\r\nend\r\n";
    const std::string tone = orbtest::PcmWav(orbtest::Sine(44100, 2, 8.0, 440), 44100, 2);
    const std::string end = orbtest::PcmWav(orbtest::Sine(44100, 2, 3.0, 880), 44100, 2);
    return test::BuildPackage("player", {{u"Project.orb", project, 1},
                                         {u"music/tone.wav", tone, 0},
                                         {u"music/end.wav", end, 0},
                                         {u"p1.png", NoisePng(1), 0},
                                         {u"p2.png", NoisePng(2), 0},
                                         {u"p3.png", NoisePng(3), 0}});
}

// A kiosk's show file is replaced or cut while it plays: what can no longer
// be read is silent or missing, and the show plays on.
TEST(OrbEngineShowFile, CutWhilePlaying_PlaysOnSilently) {
    test::TTestFolder folder;
    const std::u16string file = folder.File("show.exe");
    const std::string package = ThreeSlidesOverMusic();
    test::WriteBytes(file, package);
    TShowOpenResult opened = OpenShow(file);
    ASSERT_TRUE(opened.Locator) << ql::ToUtf8(opened.Error);
    auto source =
        std::make_unique<TOrbSource>(ql::TRef<ql::TRefObj>(&opened.Locator->Accessor().Source()),
                                     opened.Locator->Project(), u"");

    TSoftDevice device(TSoftDeviceOptions{64, 48, 1});
    TVirtualClock clock;
    TOrbEngine engine(device, CaptureEngineOptions(clock, 64, 48), false);
    engine.Open(std::move(source), opened.Locator->Accessor().Copy(), 0);
    int64_t musicFrames = 0;
    for (int i = 0; i < 10 && !engine.Active(); ++i)
        test::StepEngine(engine, clock, musicFrames, 0);
    ASSERT_TRUE(engine.Active());

    // Cut down to the player program: no entry can be read any more.
    std::filesystem::resize_file(ql::ToUtf8(file), std::string("player").size());
    ASSERT_NO_THROW({
        for (int i = 0; i < 300; ++i) test::StepEngine(engine, clock, musicFrames, 40);
    });
    EXPECT_TRUE(engine.Active());
    EXPECT_GE(engine.CurrentTime(), 11900);
}

}  // namespace
}  // namespace orb
