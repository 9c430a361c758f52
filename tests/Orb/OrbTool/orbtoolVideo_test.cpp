#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRunner.h"
#include "QlLib/Video/VideoClipSupport.h"
#include "TestFolder.h"

namespace {

using ql::test::RunProgram;
using ql::test::ShellQuote;
using ql::test::TTestFolder;

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A clip of 100 numbered frames at 25 per second, H.264 with B-frames in MP4.
std::string MakeClip(const TTestFolder& folder) {
    const std::vector<uint8_t> clip =
        ql::test::MakeNumberedClip({"libx264", "mp4", 160, 96, 100, 25, 1, 25, 3, 0});
    if (clip.empty()) return {};
    WriteBytes(folder.File("clip.mp4"), clip);
    return folder.File("clip.mp4");
}

TEST(OrbtoolVideo, Clip_PrintsItsStreamInformation) {
    TTestFolder folder;
    const std::string clip = MakeClip(folder);
    if (clip.empty()) GTEST_SKIP() << "libx264 missing";
    const auto run = RunProgram(folder.Path(), ORBTOOL_PATH, "video " + ShellQuote(clip));
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "160\t96\t25/1\t100\t4000\tH264\t3\t0\t0\n");
}

TEST(OrbtoolVideo, FrameOrTime_PrintsTheFrameAskedAndDelivered) {
    TTestFolder folder;
    const std::string clip = MakeClip(folder);
    if (clip.empty()) GTEST_SKIP() << "libx264 missing";
    struct TCase {
        std::string Args;
        std::string Out;
    };
    const TCase cases[] = {
        {"--frame 37", "37\t37\n"},   {"--time 1000", "25\t25\n"},
        {"--time 5000", "99\t99\n"},  {"--time 5000 --loop", "25\t25\n"},
        {"--frame 500", "500\t99\n"},
    };
    for (const TCase& c : cases) {
        const auto run = RunProgram(folder.Path(), ORBTOOL_PATH,
                                    "video " + ShellQuote(clip) + " " + c.Args + " -o " +
                                        ShellQuote(folder.File("frame.png")));
        ASSERT_EQ(run.Code, 0) << c.Args << ": " << run.Err;
        EXPECT_EQ(run.Out, c.Out) << c.Args;
    }
    const auto decoded =
        RunProgram(folder.Path(), ORBTOOL_PATH, "decode " + ShellQuote(folder.File("frame.png")));
    ASSERT_EQ(decoded.Code, 0) << decoded.Err;
    EXPECT_EQ(decoded.Out.substr(0, 6), "160x96");
}

TEST(OrbtoolVideo, FramesTrace_ShowsDecodesAndSeeksPerRequest) {
    TTestFolder folder;
    const std::string clip = MakeClip(folder);
    if (clip.empty()) GTEST_SKIP() << "libx264 missing";
    const auto run =
        RunProgram(folder.Path(), ORBTOOL_PATH,
                   "video " + ShellQuote(clip) + " --frames 10,11,12,20,80,40 --trace");
    ASSERT_EQ(run.Code, 0) << run.Err;
    std::istringstream lines(run.Out);
    struct TLine {
        long long Asked, Delivered, Decoded;
        int Seeked;
    };
    std::vector<TLine> got;
    TLine line{};
    while (lines >> line.Asked >> line.Delivered >> line.Decoded >> line.Seeked)
        got.push_back(line);
    ASSERT_EQ(got.size(), 6u) << run.Out;
    const int expectedSeeks[] = {1, 0, 0, 0, 1, 1};
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].Delivered, got[i].Asked) << i;
        EXPECT_EQ(got[i].Seeked, expectedSeeks[i]) << i;
    }
    EXPECT_EQ(got[1].Decoded, 1);  // the next frame: one decode
    EXPECT_EQ(got[2].Decoded, 1);
    // Eight ahead: decoded on, the unreferenced frames between skipped.
    EXPECT_GE(got[3].Decoded, 1);
    EXPECT_LE(got[3].Decoded, 8);
}

TEST(OrbtoolVideo, AudioOnlyOrNoise_ExitWithTheFailureCode) {
    TTestFolder folder;
    std::vector<uint8_t> wav(44 + 1600, 0);
    const uint32_t riffSize = uint32_t(wav.size() - 8), fmtSize = 16, rate = 8000, byteRate = 16000,
                   dataSize = 1600;
    const uint16_t pcm = 1, channels = 1, align = 2, bits = 16;
    std::memcpy(&wav[0], "RIFF", 4);
    std::memcpy(&wav[4], &riffSize, 4);
    std::memcpy(&wav[8], "WAVEfmt ", 8);
    std::memcpy(&wav[16], &fmtSize, 4);
    std::memcpy(&wav[20], &pcm, 2);
    std::memcpy(&wav[22], &channels, 2);
    std::memcpy(&wav[24], &rate, 4);
    std::memcpy(&wav[28], &byteRate, 4);
    std::memcpy(&wav[32], &align, 2);
    std::memcpy(&wav[34], &bits, 2);
    std::memcpy(&wav[36], "data", 4);
    std::memcpy(&wav[40], &dataSize, 4);
    WriteBytes(folder.File("sound.wav"), wav);
    WriteBytes(folder.File("noise.bin"), std::vector<uint8_t>(5000, 0x33));
    for (const char* name : {"sound.wav", "noise.bin"}) {
        const auto run =
            RunProgram(folder.Path(), ORBTOOL_PATH, "video " + ShellQuote(folder.File(name)));
        EXPECT_EQ(run.Code, 1) << name;
        EXPECT_NE(run.Err.find("failure code 2"), std::string::npos) << name << ": " << run.Err;
        EXPECT_EQ(run.Out, "") << name;
    }
}

}  // namespace
