#include "QlLib/Music/MediaInfo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "QlLib/Music/AdpcmCodec.h"
#include "QlLib/Music/AudioFixtures.h"
#include "QlLib/Video/VideoClipSupport.h"

namespace ql {
namespace {

using orbtest::PcmWav;
using orbtest::PutLe;
using orbtest::Sine;
using orbtest::WavFile;

std::optional<TMediaInfo> InfoOf(const std::string& bytes, const std::u16string& name) {
    TStringStream stream(bytes);
    return ReadMediaInfo(stream, name);
}

TEST(RiffInfo, DataAfterOtherChunks_IsFoundByWalkingSizes) {
    std::string junk = "LIST";
    PutLe(junk, 5, 4);
    junk += "abcde";
    junk.push_back(0);  // odd chunks are padded
    const auto samples = Sine(48000, 1, 0.5, 440);
    const std::string file =
        WavFile(TWaveFormat::Pcm(48000, 1, 16), orbtest::Bytes(samples), {}, junk);
    const auto info = InfoOf(file, u"a.wav");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->MediaType, TMediaType::WavPcm);
    EXPECT_EQ(info->DataSize, 48000);
    EXPECT_EQ(info->LengthMs, 500);
    EXPECT_EQ(info->DataStart, int64_t(file.size()) - 48000);
}

TEST(RiffInfo, BadRatesAndBlocks_AreRejected) {
    TWaveFormat zeroRate = TWaveFormat::Pcm(44100, 2, 16);
    zeroRate.SamplesPerSec = 0;
    EXPECT_FALSE(InfoOf(WavFile(zeroRate, std::string(400, '\0')), u"a.wav"));
    TWaveFormat badBlock = TWaveFormat::Pcm(44100, 2, 16);
    badBlock.BlockAlign = 0;
    EXPECT_FALSE(InfoOf(WavFile(badBlock, std::string(400, '\0')), u"a.wav"));
    TWaveFormat huge = TWaveFormat::Pcm(44100, 2, 16);
    huge.Channels = 2000;
    EXPECT_FALSE(InfoOf(WavFile(huge, std::string(400, '\0')), u"a.wav"));
}

TEST(RiffInfo, TruncatedData_CountsWhatTheFileHolds) {
    std::string file = PcmWav(Sine(44100, 2, 1.0, 440), 44100, 2);
    file.resize(file.size() - 88200);
    const auto info = InfoOf(file, u"a.wav");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->LengthMs, 500);
}

TEST(RiffInfo, AdpcmFormats_GetTheirByteRateFromTheBlockLayout) {
    const TAdpcmLayout layout = StandardAdpcmLayout(kWaveFormatMsAdpcm, 2, 1024);
    std::vector<uint8_t> extra;
    TWaveFormat format = AdpcmWaveFormat(layout, 22050, extra);
    format.AvgBytesPerSec = 0;  // a lying header
    const auto info = InfoOf(WavFile(format, std::string(1024 * 10, '\0'), extra), u"a.wav");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->MediaType, TMediaType::WavAdpcm);
    EXPECT_NEAR(double(info->LengthMs), 10.0 * layout.SamplesPerBlock / 22050 * 1000, 1.0);
}

// A CBR MPEG 1 layer 3 stream of silent frames: 128 kbit/s, 44100 Hz, stereo.
std::string MpegFrames(int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        std::string frame(417, '\0');
        frame[0] = char(0xFF);
        frame[1] = char(0xFB);
        frame[2] = char(0x90);
        frame[3] = char(0x00);
        out += frame;
    }
    return out;
}

TEST(MpegInfo, Id3v2AndId3v1_AreNotCountedAsAudio) {
    std::string id3 = "ID3";
    id3 += std::string("\x03\x00\x00", 3);
    id3 += std::string("\x00\x00\x01\x00", 4);  // synchsafe 128
    id3 += std::string(128, 'x');
    std::string v1 = "TAG" + std::string(125, ' ');
    const std::string frames = MpegFrames(100);
    const auto info = InfoOf(id3 + frames + v1, u"song.MP3");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->MediaType, TMediaType::Mpeg);
    EXPECT_EQ(info->DataStart, 138);
    EXPECT_EQ(info->DataSize, int64_t(frames.size()));
    EXPECT_EQ(info->Format.SamplesPerSec, 44100u);
    EXPECT_EQ(info->Format.Channels, 2);
    // Counted frames, not the bytes over the first frame's bitrate.
    EXPECT_EQ(info->LengthMs, std::llround(100 * 1152 / 44100.0 * 1000));
}

TEST(MpegInfo, XingFrameCount_GivesTheLength) {
    std::string frames = MpegFrames(50);
    const size_t at = 4 + 32;
    frames.replace(at, 4, "Xing");
    frames.replace(at + 4, 4, std::string("\x00\x00\x00\x01", 4));
    frames.replace(at + 8, 4, std::string("\x00\x00\x03\xE8", 4));  // 1000 frames
    const auto info = InfoOf(frames, u"a.mp3");
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->Wrapped);
    EXPECT_EQ(info->LengthMs, std::llround(1000.0 * 1152 / 44100 * 1000));
}

TEST(MpegInfo, NoSyncInGarbage_IsNoMpeg) {
    TMpegInfo mpeg;
    TStringStream stream(std::string(100000, '\xFF'));
    EXPECT_FALSE(mpeg.Parse(stream));
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An RF64 file: the sizes live in a "ds64" chunk, the RIFF-style fields say -1.
std::string Rf64(const TWaveFormat& format, const std::string& data) {
    std::string fmt;
    PutLe(fmt, format.FormatTag, 2);
    PutLe(fmt, format.Channels, 2);
    PutLe(fmt, format.SamplesPerSec, 4);
    PutLe(fmt, format.AvgBytesPerSec, 4);
    PutLe(fmt, format.BlockAlign, 2);
    PutLe(fmt, format.BitsPerSample, 2);
    std::string file = "RF64";
    PutLe(file, 0xFFFFFFFFu, 4);
    file += "WAVEds64";
    PutLe(file, 28, 4);
    const uint64_t riffSize = 4 + 36 + 8 + fmt.size() + 8 + data.size();
    PutLe(file, uint32_t(riffSize), 4);
    PutLe(file, uint32_t(riffSize >> 32), 4);
    PutLe(file, uint32_t(data.size()), 4);
    PutLe(file, 0, 4);
    PutLe(file, uint32_t(data.size() / format.BlockAlign), 4);
    PutLe(file, 0, 4);
    PutLe(file, 0, 4);  // no table
    file += "fmt ";
    PutLe(file, uint32_t(fmt.size()), 4);
    file += fmt;
    file += "data";
    PutLe(file, 0xFFFFFFFFu, 4);
    return file + data;
}

#ifdef ORB_HAVE_AUDIOENC
TEST(FFmpegInfo, FormatsOfTheFFmpegPath_ReportWhatTheFileHolds) {
    struct TCase {
        const char* what;
        std::string bytes;
        std::u16string name;
        uint32_t rate;
        uint16_t channels;
        uint16_t bits;
        bool isFloat;
        double lengthMs;
    };
    TWaveFormat ulaw = TWaveFormat::Pcm(8000, 1, 8);
    ulaw.FormatTag = 7;
    const TWaveFormat rf64 = TWaveFormat::Pcm(48000, 2, 24);
    const TCase cases[] = {
        {"u-law", orbtest::WavFile(ulaw, std::string(8000, '\x7F')), u"speech.wav", 8000, 1, 16,
         false, 1000},
        {"RF64 of 24 bits", Rf64(rf64, std::string(48000 * 6 / 2, '\0')), u"long.wav", 48000, 2, 24,
         false, 500},
        {"three channels", orbtest::EncodeOgg(orbtest::Sine(32000, 3, 1.0, 500), 32000, 3),
         u"three.bin", 32000, 3, 32, true, 1000},
        {"Opus (tests/data/media)",
         FileBytes(std::string(ORB_SOURCE_DIR) + "/tests/data/media/tone.opus"), u"tone.opus",
         48000, 1, 32, true, 500},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const auto info = InfoOf(c.bytes, c.name);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->MediaType, TMediaType::FFmpeg);
        EXPECT_EQ(info->Format.SamplesPerSec, c.rate);
        EXPECT_EQ(info->Format.Channels, c.channels);
        EXPECT_EQ(info->Format.BitsPerSample, c.bits);
        EXPECT_EQ(info->Format.FormatTag, c.isFloat ? kWaveFormatIeeeFloat : kWaveFormatPcm);
        EXPECT_NEAR(double(info->LengthMs), c.lengthMs, 30);
    }
}
#endif

TEST(FFmpegInfo, SoundOfVideoClips_IsReadFromEveryContainerOfTheVideoPath) {
    struct TCase {
        const char* Encoder;
        const char* Muxer;
        const char16_t* Name;
    };
    const TCase cases[] = {
        {"aac", "mp4", u"clip.mp4"},
        {"mp2", "mpegts", u"clip.ts"},
        {"mp2", "mpeg", u"clip.mpg"},
        {"mp2", "matroska", u"clip.mkv"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Muxer);
        ql::test::TClipSpec spec;
        spec.Encoder = "mpeg2video";
        spec.Muxer = c.Muxer;
        spec.AudioEncoder = c.Encoder;
        const std::vector<uint8_t> clip = ql::test::MakeNumberedClip(spec);
        if (clip.empty()) GTEST_SKIP() << c.Encoder << " or " << c.Muxer << " missing";
        const auto info = InfoOf(std::string(clip.begin(), clip.end()), c.Name);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->MediaType, TMediaType::FFmpeg);
        EXPECT_EQ(info->Format.SamplesPerSec, 44100u);
        EXPECT_EQ(info->Format.Channels, 2);
        EXPECT_NEAR(double(info->LengthMs), 4000, 150);
    }
}

TEST(SourceName, QuestionMarkSuffix_ChoosesTheStream) {
    const TSourceName name = SplitSourceName(u"music/a.wma?1");
    EXPECT_EQ(name.FileName, u"music/a.wma");
    EXPECT_EQ(name.StreamIndex, 1);
    EXPECT_EQ(SplitSourceName(u"plain.mp3").FileName, u"plain.mp3");
}

}  // namespace
}  // namespace ql
