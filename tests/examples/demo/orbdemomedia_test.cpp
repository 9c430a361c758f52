// The demo's media generator: its pictures decode with the player's own
// decoders at the sizes the show relies on, and its melody loops cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "ProgramRunner.h"
#include "QlLib/Graphics/qlGifDecoder.h"
#include "QlLib/Graphics/qlImageLoader.h"
#include "QlLib/Video/qlWinVideoSource.h"
#include "QlLib/qpFileStream.h"

namespace {

using ql::test::RunProgram;
using ql::test::TTestFolder;

// Cheap to paint; the large pictures are checked in the build's media folder.
const char kFreshMedia[] =
    "small-lake.jpg tall-pines.jpg square-pond.jpg logo.png spinner.gif melody.wav pad.wav "
    "clip.mp4";

class DemoMedia : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_folder = new TTestFolder;
        s_run = new ql::test::TProgramRun(
            RunProgram(*s_folder, ORBDEMOMEDIA_PATH,
                       ql::test::ShellQuote(s_folder->Path()) + " " + kFreshMedia));
    }
    static void TearDownTestSuite() {
        delete s_run;
        delete s_folder;
    }
    void SetUp() override { ASSERT_EQ(s_run->Code, 0) << s_run->Err; }

    static std::string Fresh(const std::string& name) { return s_folder->File(name); }
    static std::string Built(const std::string& name) {
        return std::string(ORB_DEMO_MEDIA_DIR) + "/" + name;
    }

    static TTestFolder* s_folder;
    static ql::test::TProgramRun* s_run;
};

TTestFolder* DemoMedia::s_folder = nullptr;
ql::test::TProgramRun* DemoMedia::s_run = nullptr;

ql::TLoadResult Load(const std::string& path) {
    return ql::LoadImageFromFile(ql::FromUtf8(path));
}

TEST_F(DemoMedia, Photographs_DecodeAtTheirSizesAndOrientations) {
    const std::map<std::string, std::pair<int32_t, int32_t>> sizes = {
        {"alpine-lake.jpg", {4000, 3000}},   {"sunset-bay.jpg", {3200, 1800}},
        {"green-hills.jpg", {2400, 1600}},   {"misty-morning.jpg", {1600, 1200}},
        {"evening-ridge.jpg", {2048, 1536}}, {"tall-pines.jpg", {1200, 1800}},
        {"square-pond.jpg", {1500, 1500}},   {"desert-dunes.jpg", {1920, 1080}},
        {"night-lake.jpg", {1280, 960}},     {"valley-noon.jpg", {1024, 768}},
        {"small-lake.jpg", {800, 600}},      {"panorama.jpg", {3600, 1200}}};
    for (const auto& [name, size] : sizes) {
        SCOPED_TRACE(name);
        const ql::TLoadResult result = Load(Built(name));
        ASSERT_TRUE(result.Image);
        EXPECT_STREQ(result.DecoderName, "winJpegLoader");
        EXPECT_EQ(result.Image.Params().Width, size.first);
        EXPECT_EQ(result.Image.Params().Height, size.second);
    }
    // The largest needs a level of detail: a 1920 x 1080 screen takes level 1.
    const ql::TLoadResult large = Load(Built("alpine-lake.jpg"));
    ASSERT_TRUE(large.Image);
    EXPECT_EQ(ql::ChooseMipLevel(4000, 3000, 1920, 1080), 1);
    const ql::TBitmap* level = large.Image.Store()->GetBitmap(2);
    ASSERT_TRUE(level);
    EXPECT_EQ(level->Width(), 1000);
    EXPECT_EQ(level->Height(), 750);
}

TEST_F(DemoMedia, Output_IsTheSameOnEveryRun) {
    for (const char* name : {"small-lake.jpg", "tall-pines.jpg", "square-pond.jpg", "logo.png",
                             "spinner.gif", "melody.wav", "pad.wav", "clip.mp4"}) {
        SCOPED_TRACE(name);
        const std::string fresh = ql::test::ReadTextFile(Fresh(name));
        ASSERT_FALSE(fresh.empty());
        EXPECT_TRUE(fresh == ql::test::ReadTextFile(Built(name)));
    }
}

TEST_F(DemoMedia, Logo_IsOpaqueInTheMiddleAndFadesOutAtItsEdges) {
    const ql::TLoadResult result = Load(Fresh("logo.png"));
    ASSERT_TRUE(result.Image);
    EXPECT_EQ(result.Image.Params().Width, 512);
    EXPECT_EQ(result.Image.Params().Height, 512);
    const ql::TBitmap* bitmap = result.Image.Store()->GetBitmap(0, ql::PfARGB32());
    ASSERT_TRUE(bitmap);
    auto alpha = [&](int32_t x, int32_t y) { return bitmap->Row(y)[x * 4 + 3]; };
    EXPECT_EQ(alpha(256, 256), 255);
    EXPECT_EQ(alpha(0, 0), 0);
    EXPECT_EQ(alpha(511, 511), 0);
    // Soft edges: going out from the middle, alpha passes through many levels.
    std::map<uint8_t, int> levels;
    for (int32_t x = 256; x < 512; ++x) ++levels[alpha(x, 256)];
    EXPECT_GT(levels.size(), 20u);
}

TEST_F(DemoMedia, Spinner_IsAnAnimationOfTwelveFrames) {
    ql::TGifAnimationScope animation(true);
    const ql::TLoadResult result = Load(Fresh("spinner.gif"));
    ASSERT_TRUE(result.Image);
    const ql::TTilesTag* tiles = result.Image.Store()->TilesTag();
    ASSERT_TRUE(tiles);
    EXPECT_EQ(tiles->Frames, 12);
    EXPECT_EQ(tiles->CellWidth, 200);
    EXPECT_EQ(tiles->CellHeight, 200);
    EXPECT_EQ(tiles->TotalMs, 12 * 80);
    EXPECT_EQ(tiles->LoopCount, 0);
    // Frames differ: the bright dot walks round.
    const ql::TBitmap* strip = result.Image.Store()->GetBitmap(0, ql::PfARGB32());
    ASSERT_TRUE(strip);
    ASSERT_EQ(strip->Width(), 2400);
    int differing = 0;
    for (int32_t y = 0; y < 200; ++y)
        differing += std::memcmp(strip->Row(y), strip->Row(y) + 200 * 4, 200 * 4) != 0;
    EXPECT_GT(differing, 10);
}

TEST_F(DemoMedia, MelodyAndPad_AreCdAudioSilentAtBothEnds) {
    for (const auto& [name, seconds] :
         {std::pair<const char*, uint32_t>{"melody.wav", 8}, {"pad.wav", 16}}) {
        SCOPED_TRACE(name);
        const std::string wav = ql::test::ReadTextFile(Fresh(name));
        ASSERT_GT(wav.size(), 44u);
        auto u16 = [&](size_t at) {
            return uint32_t(uint8_t(wav[at])) | uint32_t(uint8_t(wav[at + 1])) << 8;
        };
        auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
        EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
        EXPECT_EQ(wav.compare(8, 4, "WAVE"), 0);
        EXPECT_EQ(u16(22), 2u);
        EXPECT_EQ(u32(24), 44100u);
        EXPECT_EQ(u16(34), 16u);
        const uint32_t dataBytes = u32(40);
        EXPECT_EQ(dataBytes, seconds * 44100 * 4);
        ASSERT_EQ(wav.size(), 44u + dataBytes);
        // A loop joins the last sample to the first without a step.
        EXPECT_EQ(u32(44), 0u);
        for (size_t at = wav.size() - 400 * 4; at < wav.size(); at += 4)
            ASSERT_EQ(u32(at), 0u) << at;
        // And there is music in between, loud but never clipped.
        int peak = 0, clipped = 0;
        for (size_t at = 44; at < wav.size(); at += 2) {
            const int sample = std::abs(int(int16_t(u16(at))));
            peak = std::max(peak, sample);
            clipped += sample >= 32767;
        }
        EXPECT_GT(peak, 8000);
        EXPECT_EQ(clipped, 0);
    }
}

TEST_F(DemoMedia, Clip_IsFourSecondsOfMovingPicturesWithSound) {
    ql::TWinVideoSource clip;
    auto stream =
        std::make_unique<ql::TFileStream>(ql::FromUtf8(Fresh("clip.mp4")), ql::TFileAccess::Read,
                                          ql::kShareRead, ql::TFileDisposition::OpenExisting);
    ASSERT_EQ(clip.Open(stream.release(), true, u"clip.mp4"), ql::TVideoFailure::None);
    EXPECT_EQ(clip.Width(), 480);
    EXPECT_EQ(clip.Height(), 270);
    EXPECT_DOUBLE_EQ(clip.FrameRate(), 25.0);
    EXPECT_EQ(clip.FrameCount(), 100);
    EXPECT_TRUE(clip.Info().HasAudio);
    ql::TYuvImage first, last;
    ASSERT_TRUE(clip.GetFrame(0, first));
    ASSERT_TRUE(clip.GetFrame(99, last));
    // The sun has moved.
    EXPECT_NE(first.Y, last.Y);
}

}  // namespace
