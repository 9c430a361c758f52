#include "QlLib/Platform/qlVideoEncoder.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ProgramRunner.h"
#include "QlLib/Platform/Mp4TestSupport.h"
#include "QlLib/qpExceptions.h"
#include "TestFolder.h"

namespace ql {
namespace {

// B, G, R, X pixels: a gradient that moves with the frame number, plus noise
// where asked (noise makes big packets).
struct TFrames {
    TFrames(int32_t width, int32_t height)
        : w(width), h(height), pixels(size_t(w) * size_t(h) * 4) {
        for (int32_t y = 0; y < h; ++y) rows.push_back(pixels.data() + size_t(y) * size_t(w) * 4);
    }
    const uint8_t* const* Make(int32_t k, bool noise = false) {
        uint32_t seed = 12345u + uint32_t(k);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                uint8_t* p = pixels.data() + (size_t(y) * size_t(w) + size_t(x)) * 4;
                seed = seed * 1664525u + 1013904223u;
                const uint8_t n = noise ? uint8_t(seed >> 24) : 0;
                p[0] = uint8_t(x * 255 / w + k) ^ n;
                p[1] = uint8_t(y * 255 / h) ^ n;
                p[2] = uint8_t(128 + k * 3) ^ n;
                p[3] = 255;
            }
        return rows.data();
    }
    int32_t w, h;
    std::vector<uint8_t> pixels;
    std::vector<const uint8_t*> rows;
};

size_t FilesIn(const std::string& folder) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        (void)entry;
        ++count;
    }
    return count;
}

struct TWriteCase {
    int32_t width, height;
    bool audio;
    AVColorSpace space;
    AVColorPrimaries primaries;
};

class VideoEncoder_Write : public ::testing::TestWithParam<TWriteCase> {};

TEST_P(VideoEncoder_Write, StreamsTagsAndTimesAsAsked) {
    const TWriteCase c = GetParam();
    test::TTestFolder folder;
    TVideoEncoderOptions options;
    options.Width = c.width;
    options.Height = c.height;
    options.Fps = 25;
    options.Preset = "veryfast";
    options.Audio = c.audio;
    ASSERT_EQ(CheckVideoEncoderOptions(options), "");
    const std::string out = folder.File("out.mp4");
    {
        TVideoEncoder encoder(out, options);
        EXPECT_NE(encoder.TemporaryName().find("out.mp4.partial-"), std::string::npos);
        EXPECT_TRUE(std::filesystem::exists(encoder.TemporaryName()));
        TFrames frames(c.width, c.height);
        // 12 frames at 25 fps: 480 ms; the sound 21168 samples, given in
        // pieces that do not line up with the encoder's frames.
        std::vector<int16_t> tone(2 * 21168);
        for (size_t i = 0; i < tone.size() / 2; ++i)
            tone[2 * i] = tone[2 * i + 1] = int16_t(8000 * std::sin(double(i) * 0.0627));
        for (int32_t k = 0; k < 12; ++k) {
            encoder.AddVideoFrame(frames.Make(k));
            encoder.AddAudio(tone.data() + size_t(k) * 1764 * 2, 1764);
        }
        EXPECT_FALSE(std::filesystem::exists(out));
        encoder.Finish();
        EXPECT_EQ(encoder.VideoFrames(), 12);
    }
    EXPECT_EQ(FilesIn(folder.Path()), 1u);
    const test::TMp4Info info = test::ReadMp4(out, false);
    ASSERT_EQ(info.Error, "");
    EXPECT_EQ(info.Video.Codec, "h264");
    EXPECT_EQ(info.Width, c.width);
    EXPECT_EQ(info.Height, c.height);
    EXPECT_EQ(info.DecodedFrames, 12);
    EXPECT_EQ(info.ColorSpace, c.space);
    EXPECT_EQ(info.Primaries, c.primaries);
    EXPECT_EQ(info.Range, AVCOL_RANGE_MPEG);
    EXPECT_DOUBLE_EQ(info.Video.Start, 0.0);
    EXPECT_NEAR(info.Video.End, 0.48, 1e-6);
    ASSERT_EQ(info.Audio.Present, c.audio);
    if (c.audio) {
        EXPECT_EQ(info.Audio.Codec, "aac");
        EXPECT_EQ(info.SampleRate, 44100);
        EXPECT_EQ(info.Channels, 2);
        EXPECT_DOUBLE_EQ(info.Audio.Start, 0.0);
        EXPECT_GE(info.Audio.End, info.Video.End - 1e-6);
        EXPECT_LE(info.Audio.End, info.Video.End + 1024.0 / 44100);
    }
    // Nothing in the file says when or by which library version it was made.
    const std::string bytes = test::ReadTextFile(out);
    EXPECT_EQ(bytes.find("Lavf"), std::string::npos);
    EXPECT_EQ(bytes.find("Lavc"), std::string::npos);
    EXPECT_EQ(bytes.find("x264 - core"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, VideoEncoder_Write,
    ::testing::Values(TWriteCase{64, 48, true, AVCOL_SPC_SMPTE170M, AVCOL_PRI_SMPTE170M},
                      TWriteCase{64, 48, false, AVCOL_SPC_SMPTE170M, AVCOL_PRI_SMPTE170M},
                      TWriteCase{1280, 720, true, AVCOL_SPC_BT709, AVCOL_PRI_BT709}));

TEST(VideoEncoder_Options, RefusedBeforeAnythingIsWritten) {
    TVideoEncoderOptions good;
    good.Width = 320;
    good.Height = 240;
    EXPECT_EQ(CheckVideoEncoderOptions(good), "");
    struct TCase {
        const char* name;
        void (*change)(TVideoEncoderOptions&);
        const char* says;
    };
    const TCase cases[] = {
        {"odd width", [](TVideoEncoderOptions& o) { o.Width = 321; }, "even"},
        {"too tall", [](TVideoEncoderOptions& o) { o.Height = 8194; }, "8192"},
        {"no fps", [](TVideoEncoderOptions& o) { o.Fps = 0; }, "frame rate"},
        {"crf", [](TVideoEncoderOptions& o) { o.Crf = 52; }, "--crf"},
        {"preset", [](TVideoEncoderOptions& o) { o.Preset = "warp"; },
         "no preset 'warp' (ultrafast,"},
    };
    for (const TCase& c : cases) {
        TVideoEncoderOptions options = good;
        c.change(options);
        const std::string error = CheckVideoEncoderOptions(options);
        EXPECT_NE(error.find(c.says), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.name;
        test::TTestFolder folder;
        EXPECT_THROW(TVideoEncoder(folder.File("x.mp4"), options), EStreamWriteError) << c.name;
        EXPECT_EQ(FilesIn(folder.Path()), 0u) << c.name;
    }
}

TEST(VideoEncoder_Safety, AbandonedOrFailedWritesLeaveNoFile) {
    test::TTestFolder folder;
    TVideoEncoderOptions options;
    options.Width = 64;
    options.Height = 48;
    {
        TVideoEncoder encoder(folder.File("out.mp4"), options);
        TFrames frames(64, 48);
        encoder.AddVideoFrame(frames.Make(0));
    }
    EXPECT_EQ(FilesIn(folder.Path()), 0u);
    {
        TVideoEncoder encoder(folder.File("out.mp4"), options);
        EXPECT_THROW(encoder.Finish(), EStreamWriteError);  // no frame
    }
    EXPECT_EQ(FilesIn(folder.Path()), 0u);
    EXPECT_THROW(TVideoEncoder(folder.File("missing/out.mp4"), options), EStreamWriteError);
}

// A full disk, as a file size limit in a child process: the write fails
// with an error (never a short file announced as finished) and leaves nothing.
TEST(VideoEncoder_Safety, FullDiskIsAnErrorAndLeavesNoFile) {
    test::TTestFolder folder;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{256 * 1024, 256 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        int code = 1;
        try {
            TVideoEncoderOptions options;
            options.Width = 320;
            options.Height = 240;
            options.Crf = 0;
            options.Preset = "ultrafast";
            TVideoEncoder encoder(folder.File("out.mp4"), options);
            TFrames frames(320, 240);
            for (int32_t k = 0; k < 100; ++k) encoder.AddVideoFrame(frames.Make(k, true));
            encoder.Finish();
            code = 3;  // finished: the failure went unseen
        } catch (const EStreamWriteError&) {
            code = 0;
        }
        if (code == 0 && FilesIn(folder.Path()) != 0) code = 4;
        _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: no error reported, 4: a file was left";
    EXPECT_EQ(FilesIn(folder.Path()), 0u);
}

}  // namespace
}  // namespace ql
