#include "QlLib/Video/qlWinVideoSource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "QlLib/Video/VideoClipSupport.h"
#include "QlLib/qpFileStream.h"

namespace ql {
namespace {

std::unique_ptr<TMemoryStream> StreamOf(const std::vector<uint8_t>& bytes) {
    auto stream = std::make_unique<TMemoryStream>();
    if (!bytes.empty()) stream->WriteBuffer(bytes.data(), bytes.size());
    stream->SetPosition(0);
    return stream;
}

// The number the frame's bars spell.
int64_t NumberOf(const TYuvImage& image) {
    return test::ReadFrameNumber(image.Y.data(), image.Width, image.Height, image.Width);
}

struct TClipCase {
    const char* Name;
    test::TClipSpec Spec;
    const char* Codec;
    TContainerKind Container;
};

const TClipCase kClips[] = {
    {"Mpeg4InAvi", {"mpeg4", "avi", 160, 96, 100, 25, 1, 12, 0, 0}, "MPEG4", TContainerKind::Avi},
    {"H264BFramesInMp4",
     {"libx264", "mp4", 160, 96, 100, 25, 1, 25, 3, 0},
     "H264",
     TContainerKind::Mov},
    {"H264BFramesInMkv",
     {"libx264", "matroska", 160, 96, 100, 25, 1, 25, 3, 0},
     "H264",
     TContainerKind::Matroska},
    {"H264BFramesInMkvStartingLate",
     {"libx264", "matroska", 160, 96, 100, 25, 1, 25, 3, 1500000},
     "H264",
     TContainerKind::Matroska},
    {"Mpeg2BFramesInTsStartingLate",
     {"mpeg2video", "mpegts", 160, 96, 100, 25, 1, 12, 2, 1500000},
     "MPEG2",
     TContainerKind::MpegTs},
};

void PrintTo(const TClipCase& c, std::ostream* out) {
    *out << c.Name;
}

class ClipTest : public ::testing::TestWithParam<TClipCase> {};

TEST_P(ClipTest, Open_GeneratedClip_ReportsItsRateCountAndKind) {
    const TClipCase& c = GetParam();
    const std::vector<uint8_t> bytes = test::MakeNumberedClip(c.Spec);
    if (bytes.empty()) GTEST_SKIP() << c.Spec.Encoder << " or " << c.Spec.Muxer << " missing";
    TWinVideoSource source;
    ASSERT_EQ(source.Open(StreamOf(bytes).release(), true, u"clip"), TVideoFailure::None);
    EXPECT_EQ(source.Width(), c.Spec.Width);
    EXPECT_EQ(source.Height(), c.Spec.Height);
    EXPECT_DOUBLE_EQ(source.FrameRate(), 25.0);
    EXPECT_EQ(source.FrameCount(), c.Spec.Frames);
    EXPECT_STREQ(source.CodecName(), c.Codec);
    EXPECT_EQ(source.Container(), c.Container);
    EXPECT_DOUBLE_EQ(source.LengthMs(), 4000.0);
    if (c.Spec.OffsetUs > 0) {
        EXPECT_GE(source.Info().StartTimeUs, c.Spec.OffsetUs);
    }
}

TEST_P(ClipTest, GetFrame_RandomRequests_DeliverExactlyTheFrameAsked) {
    const TClipCase& c = GetParam();
    const std::vector<uint8_t> bytes = test::MakeNumberedClip(c.Spec);
    if (bytes.empty()) GTEST_SKIP() << c.Spec.Encoder << " or " << c.Spec.Muxer << " missing";
    TWinVideoSource source;
    ASSERT_EQ(source.Open(StreamOf(bytes).release(), true, u"clip"), TVideoFailure::None);
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int64_t> pick(0, c.Spec.Frames - 1);
    TYuvImage image;
    for (int request = 0; request < 200; ++request) {
        // Half the requests go a little ahead, as playing does.
        const int64_t n =
            request % 2 ? std::min<int64_t>(source.HeldFrame() + 1 + request % 5, c.Spec.Frames - 1)
                        : pick(random);
        ASSERT_TRUE(source.GetFrame(n, image)) << "frame " << n;
        ASSERT_EQ(NumberOf(image), n) << "request " << request;
        ASSERT_EQ(source.HeldFrame(), n);
    }
}

TEST_P(ClipTest, GetFrame_ByDistance_DecodesOnOrSeeksToTheKeyFrame) {
    const TClipCase& c = GetParam();
    const std::vector<uint8_t> bytes = test::MakeNumberedClip(c.Spec);
    if (bytes.empty()) GTEST_SKIP() << c.Spec.Encoder << " or " << c.Spec.Muxer << " missing";
    TWinVideoSource source;
    ASSERT_EQ(source.Open(StreamOf(bytes).release(), true, u"clip"), TVideoFailure::None);
    struct TStep {
        int64_t Frame;
        int64_t MaxDecoded;  // -1: any
        bool Seeks;
    };
    // The key frames of every clip here lie at most 25 frames apart.
    const TStep steps[] = {
        {40, -1, true},   // the first request seeks
        {40, 0, false},   // the frame held
        {41, 1, false},   // the next frame: one decode
        {45, 4, false},   // a little ahead: decode on (unreferenced frames between skipped)
        {74, -1, false},  // 29 ahead still decodes on
        {60, -1, true},   // any frame behind seeks
        {95, -1, true},   // 30 or more ahead seeks
        {0, -1, true},
    };
    TYuvImage image;
    for (const TStep& step : steps) {
        const TFrameStats before = source.Stats();
        ASSERT_TRUE(source.GetFrame(step.Frame, image));
        EXPECT_EQ(NumberOf(image), step.Frame);
        const int64_t decoded = source.Stats().Decoded - before.Decoded;
        const bool seeked = source.Stats().Seeks != before.Seeks;
        EXPECT_EQ(seeked, step.Seeks) << "frame " << step.Frame;
        if (step.MaxDecoded >= 0) {
            EXPECT_LE(decoded, step.MaxDecoded) << "frame " << step.Frame;
        }
        if (step.Seeks) {
            EXPECT_LE(decoded, 2 * 25 + 16) << "frame " << step.Frame;
        }
    }
}

TEST_P(ClipTest, GetFrame_PastTheEnd_HoldsTheLastFrame) {
    const TClipCase& c = GetParam();
    const std::vector<uint8_t> bytes = test::MakeNumberedClip(c.Spec);
    if (bytes.empty()) GTEST_SKIP() << c.Spec.Encoder << " or " << c.Spec.Muxer << " missing";
    TWinVideoSource source;
    ASSERT_EQ(source.Open(StreamOf(bytes).release(), true, u"clip"), TVideoFailure::None);
    TYuvImage image;
    ASSERT_TRUE(source.GetFrame(c.Spec.Frames + 10, image));
    EXPECT_EQ(NumberOf(image), c.Spec.Frames - 1);
}

INSTANTIATE_TEST_SUITE_P(Clips, ClipTest, ::testing::ValuesIn(kClips),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(WinVideoSource, GreyTarget_MapsLumaThroughTheTable) {
    const std::vector<uint8_t> bytes = test::MakeNumberedClip({});
    if (bytes.empty()) GTEST_SKIP() << "mpeg4 encoder missing";
    TWinVideoSource source;
    ASSERT_EQ(source.Open(StreamOf(bytes).release(), true, u"clip"), TVideoFailure::None);
    TYuvImage colour, grey;
    grey.GreyOnly = true;
    ASSERT_TRUE(source.GetFrame(7, colour));
    ASSERT_TRUE(source.GetFrame(7, grey));
    ASSERT_EQ(grey.Grey.size(), colour.Y.size());
    for (size_t i = 0; i < colour.Y.size(); i += 97)
        ASSERT_EQ(grey.Grey[i], source.LumaTable()[colour.Y[i]]);
}

TEST(WinVideoSource, LumaTable_SqueezesFullRangeIntoGreys) {
    const std::array<uint16_t, 256> table = MakeLumaTable();
    // 0 -> 16: red and blue 2, green 4; 255 -> 235: red and blue 29, green 58.
    EXPECT_EQ(table[0], uint16_t((2 << 11) | (4 << 5) | 2));
    EXPECT_EQ(table[255], uint16_t((29 << 11) | (58 << 5) | 29));
    EXPECT_EQ(table[128], uint16_t((15 << 11) | (31 << 5) | 15));  // 126
}

TEST(WinVideoSource, CodedHeight1088_IsTakenAs1080) {
    test::TClipSpec spec;
    spec.Width = 64;
    spec.Height = 1088;
    spec.Frames = 3;
    const std::vector<uint8_t> bytes = test::MakeNumberedClip(spec);
    if (bytes.empty()) GTEST_SKIP() << "mpeg4 encoder missing";
    TWinVideoSource source;
    ASSERT_EQ(source.Open(StreamOf(bytes).release(), true, u"tall"), TVideoFailure::None);
    EXPECT_EQ(source.Height(), 1080);
    TYuvImage image;
    ASSERT_TRUE(source.GetFrame(1, image));
    EXPECT_EQ(image.Height, 1080);
    EXPECT_EQ(image.Y.size(), size_t(64) * 1080);
}

std::vector<uint8_t> SilentWav() {
    std::vector<uint8_t> wav(44 + 8000, 0);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&wav[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&wav[at], &v, 2); };
    std::memcpy(&wav[0], "RIFF", 4);
    put32(4, uint32_t(wav.size() - 8));
    std::memcpy(&wav[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 1);
    put32(24, 8000);
    put32(28, 16000);
    put16(32, 2);
    put16(34, 16);
    std::memcpy(&wav[36], "data", 4);
    put32(40, 8000);
    return wav;
}

TEST(WinVideoSource, Open_WithoutAPlayableVideo_GivesItsFailureCode) {
    const std::vector<uint8_t> clip = test::MakeNumberedClip({});
    if (clip.empty()) GTEST_SKIP() << "mpeg4 encoder missing";
    const std::vector<uint8_t> headOnly(clip.begin(), clip.begin() + 64);
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Bytes;
        TVideoFailure Expected;
    };
    const TCase cases[] = {
        {"audio only", SilentWav(), TVideoFailure::NoStream},
        {"nothing", {}, TVideoFailure::NoStream},
        {"noise", std::vector<uint8_t>(4096, 0x5a), TVideoFailure::NoStream},
        {"header only", headOnly, TVideoFailure::NoStream},
    };
    for (const TCase& c : cases) {
        TWinVideoSource source;
        EXPECT_EQ(source.Open(StreamOf(c.Bytes).release(), true, u"bad"), c.Expected) << c.Name;
        TYuvImage image;
        EXPECT_FALSE(source.GetFrame(0, image)) << c.Name;
    }
}

TEST(WinVideoSource, TruncatedClip_DeliversTheLastGoodFrame) {
    test::TClipSpec spec;
    spec.Muxer = "matroska";
    const std::vector<uint8_t> clip = test::MakeNumberedClip(spec);
    if (clip.empty()) GTEST_SKIP() << "mpeg4 encoder missing";
    const std::vector<uint8_t> half(clip.begin(), clip.begin() + clip.size() / 2);
    TWinVideoSource source;
    if (source.Open(StreamOf(half).release(), true, u"half") != TVideoFailure::None)
        return;  // no duration left: refused, which is as good
    TYuvImage image;
    ASSERT_TRUE(source.GetFrame(90, image));
    const int64_t last = NumberOf(image);
    EXPECT_GT(last, 0);
    EXPECT_LT(last, 90);
    EXPECT_EQ(source.HeldFrame(), last);
}

TEST(FrameRate, Rules_TrustNormaliseOrFallBack) {
    struct TCase {
        const char* Name;
        TVideoCodec Codec;
        TContainerKind Kind;
        int32_t Num, Den, StreamNum, StreamDen, Ticks;
        TRateChoice Expected;
    };
    const TCase cases[] = {
        {"mpeg4 in avi is trusted",
         TVideoCodec::Mpeg4,
         TContainerKind::Avi,
         25,
         1,
         50,
         1,
         1,
         {25, 1, true}},
        {"ms video 1 is trusted",
         TVideoCodec::MsVideo1,
         TContainerKind::Other,
         15,
         1,
         15,
         1,
         1,
         {15, 1, true}},
        {"over 100 is trusted",
         TVideoCodec::H264,
         TContainerKind::Mov,
         120,
         1,
         240,
         1,
         2,
         {120, 1, true}},
        {"mpeg2 over 100 is not",
         TVideoCodec::Mpeg2,
         TContainerKind::Other,
         120,
         1,
         0,
         0,
         2,
         {120, 1, false}},
        {"h264 in ts at 50 ticks",
         TVideoCodec::H264,
         TContainerKind::MpegTs,
         25,
         1,
         50,
         1,
         2,
         {25, 1, true}},
        {"rough 23.98 becomes ntsc",
         TVideoCodec::H264,
         TContainerKind::Mov,
         2398,
         100,
         48000,
         1001,
         2,
         {24000, 1001, false}},
        {"rough 29.97 becomes ntsc",
         TVideoCodec::H264,
         TContainerKind::Matroska,
         2996,
         100,
         30000,
         1001,
         1,
         {30000, 1001, false}},
        {"near ntsc stays",
         TVideoCodec::H264,
         TContainerKind::Mov,
         2997,
         125,
         24,
         1,
         1,
         {2997, 125, false}},
        {"mpeg falls back on the stream",
         TVideoCodec::Mpeg2,
         TContainerKind::Mpeg,
         0,
         0,
         50,
         1,
         2,
         {50, 2, false}},
        {"mpeg stream over 130 ignored",
         TVideoCodec::Mpeg2,
         TContainerKind::Mpeg,
         25,
         1,
         300,
         1,
         1,
         {25, 1, false}},
        {"no rate at all", TVideoCodec::H264, TContainerKind::Mov, 0, 0, 0, 0, 1, {0, 0, false}},
        {"trusted but zero", TVideoCodec::Mpeg4, TContainerKind::Avi, 0, 1, 0, 0, 1, {0, 0, false}},
    };
    for (const TCase& c : cases) {
        TMediaFile file;
        file.Codec = c.Codec;
        file.RateNum = c.Num;
        file.RateDen = c.Den;
        file.StreamRateNum = c.StreamNum;
        file.StreamRateDen = c.StreamDen;
        file.TicksPerFrame = c.Ticks;
        const TRateChoice got = ChooseFrameRate(file, c.Kind);
        EXPECT_EQ(got.Num, c.Expected.Num) << c.Name;
        EXPECT_EQ(got.Den, c.Expected.Den) << c.Name;
        EXPECT_EQ(got.Trusted, c.Expected.Trusted) << c.Name;
    }
}

TEST(FrameRate, FrameCount_RoundsAndRefusesMissingOrAbsurdValues) {
    EXPECT_EQ(FrameCountOf(4000000, 25, 1), 100);
    EXPECT_EQ(FrameCountOf(10010000, 30000, 1001), 300);
    EXPECT_EQ(FrameCountOf(kNoPts, 25, 1), -1);
    EXPECT_EQ(FrameCountOf(-5, 25, 1), -1);
    EXPECT_EQ(FrameCountOf(4000000, 0, 1), -1);
    EXPECT_EQ(FrameCountOf(4000000, 25, 0), -1);
    EXPECT_EQ(FrameCountOf(int64_t(1) << 60, 25, 1), -1);
}

TEST(FrameRate, FrameForTime_RoundsWrapsOrHoldsTheLast) {
    struct TCase {
        double Ms;
        bool Loop;
        int64_t Expected;
    };
    // 25 frames a second, 100 frames.
    const TCase cases[] = {
        {0, false, 0},     {19.9, false, 0},   {20, false, 1},   {3960, false, 99},
        {4000, false, 99}, {9000, false, 99},  {4000, true, 0},  {4080, true, 2},
        {-50, false, 0},   {1e300, false, 99}, {1e300, true, 0},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(FrameForTime(c.Ms, 25, 100, c.Loop), c.Expected) << c.Ms << " " << c.Loop;
    EXPECT_EQ(FrameForTime(1000, 0, 100, false), 0);
    EXPECT_EQ(FrameForTime(1000, 25, 0, true), 0);
}

}  // namespace
}  // namespace ql
