#include "QlLib/Music/WavConverters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "LogCapture.h"
#include "QlLib/Music/AdpcmCodec.h"
#include "QlLib/Music/AudioFixtures.h"
#include "QlLib/Music/MediaInfo.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace ql {
namespace {

using orbtest::PcmWav;
using orbtest::Sine;
using orbtest::ZeroCrossingFrequency;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// Every frame the source gives, as 16-bit stereo at 44100 Hz.
std::vector<int16_t> DecodeAll(TPcmSource& source) {
    std::vector<int16_t> all;
    std::vector<int16_t> block(2 * 1000);
    for (int guard = 0; guard < 100000; ++guard) {
        const size_t got = source.Read(block.data(), 1000);
        all.insert(all.end(), block.begin(), block.begin() + std::ptrdiff_t(got * 2));
        if (got < 1000) break;
    }
    return all;
}

class ConverterTest : public ::testing::Test {
protected:
    std::unique_ptr<TConverterSource> Open(const std::string& name, const std::string& bytes) {
        WriteFile(m_folder.File(name), bytes);
        return OpenConverterSource(m_folder.WideFile(name));
    }
    test::TTestFolder m_folder;
};

TEST_F(ConverterTest, Wav48000Mono_PlaysAtTheRightLengthAndPitch) {
    auto source = Open("tone.wav", PcmWav(Sine(48000, 1, 2.0, 1000), 48000, 1));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->Format(), TPcmFormat{});
    const auto pcm = DecodeAll(*source);
    EXPECT_NEAR(double(pcm.size() / 2), 88200, 2);
    EXPECT_NEAR(ZeroCrossingFrequency(pcm, 44100), 1000, 2);
    // Mono feeds both sides.
    EXPECT_EQ(pcm[2000], pcm[2001]);
}

TEST_F(ConverterTest, SixteenBitStereoAt44100_PassesUnchanged) {
    const auto samples = Sine(44100, 2, 0.25, 440);
    auto source = Open("same.wav", PcmWav(samples, 44100, 2));
    ASSERT_TRUE(source);
    EXPECT_EQ(DecodeAll(*source), samples);
}

TEST_F(ConverterTest, ReadingPastTheEnd_PadsWithSilenceAndReportsTheEnd) {
    const std::string file = PcmWav(Sine(44100, 2, 0.01, 440), 44100, 2);
    TStringStream stream(file);
    const auto info = ReadMediaInfo(stream, u"a.wav");
    ASSERT_TRUE(info);
    auto converter = CreateConverter(stream, *info);
    ASSERT_TRUE(converter);
    EXPECT_FALSE(converter->Fill(441 * 4 + 400));
    ASSERT_EQ(converter->Output().Fill(), 441u * 4 + 400);
    for (size_t i = 441 * 4; i < converter->Output().Fill(); ++i)
        EXPECT_EQ(converter->Output().Data()[i], 0);
}

TEST_F(ConverterTest, Seek_StartsAtTheBlockOfTheTime) {
    std::vector<int16_t> ramp(44100 * 2);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = int16_t(i / 2 % 30000);
    auto source = Open("ramp.wav", PcmWav(ramp, 44100, 2));
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->Seek(500));
    int16_t frame[2];
    ASSERT_EQ(source->Read(frame, 1), 1u);
    EXPECT_EQ(frame[0], 22050);
}

TEST_F(ConverterTest, TruncatedHeaderLength_PlaysSilenceForTheRest) {
    // The header promises two seconds, but an MPEG wrapped in nothing: a WAV
    // whose data is cut still plays its own length.
    std::string file = PcmWav(Sine(44100, 2, 1.0, 440), 44100, 2);
    auto source = Open("cut.wav", file.substr(0, file.size() / 2));
    ASSERT_TRUE(source);
    const auto pcm = DecodeAll(*source);
    EXPECT_NEAR(double(pcm.size() / 2), source->LengthMs() * 44.1, 2);
}

// The bytes of a show file cut on disk while it plays: reads past `cut`
// throw, as the package's streams do; a negative cut throws on opening.
class TCutStream : public TStringStream {
public:
    TCutStream(std::string bytes, int64_t cut) : TStringStream(std::move(bytes)), m_cut(cut) {}
    size_t Read(void* buffer, size_t count) override {
        if (GetPosition() + int64_t(count) > m_cut)
            throw EStreamReadError("Insufficient Source Size");
        return TStringStream::Read(buffer, count);
    }

private:
    int64_t m_cut;
};

TEST(ConverterSourceFaults, BytesThatGoAway_GiveSilenceForTheRestOfTheLength) {
    const auto samples = Sine(44100, 2, 1.0, 440);
    const std::string file = PcmWav(samples, 44100, 2);
    struct TCase {
        int64_t cut;
        bool opens;
    } const cases[] = {{-1, false}, {20000, true}, {int64_t(file.size()) / 2, true}};
    TStreamWrapperClass& broker = TStreamWrapperClass::Instance();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.cut);
        broker.SetCallbacks(
            [&](const std::u16string&) -> std::unique_ptr<TStream> {
                if (c.cut < 0) throw EStreamError("Insufficient Source Size");
                return std::make_unique<TCutStream>(file, c.cut);
            },
            nullptr);
        test::TCapturedLog log;
        std::unique_ptr<TConverterSource> source;
        ASSERT_NO_THROW(source = OpenConverterSource(u"cut.wav"));
        ASSERT_EQ(bool(source), c.opens);
        if (!source) {
            EXPECT_TRUE(log.Has(u"cannot be opened: Insufficient Source Size"));
            continue;
        }
        std::vector<int16_t> pcm;
        ASSERT_NO_THROW(pcm = DecodeAll(*source));
        // The sound keeps its place on the time line: what was read before
        // the cut plays, silence after it.
        ASSERT_EQ(pcm.size(), samples.size());
        const size_t good = size_t(c.cut - 44) / 2;
        size_t played = 0;
        while (played < pcm.size() && pcm[played] == samples[played]) ++played;
        EXPECT_GT(played, 0u);
        EXPECT_LE(played, good);
        EXPECT_TRUE(std::all_of(pcm.begin() + std::ptrdiff_t(played), pcm.end(),
                                [](int16_t v) { return v == 0; }));
        // Seeking a failed sound stays silent.
        EXPECT_TRUE(source->Seek(100));
        int16_t frame[2] = {1, 1};
        EXPECT_EQ(source->Read(frame, 1), 1u);
        EXPECT_EQ(frame[0], 0);
        // One line says why, and none says the sound ended early.
        EXPECT_EQ(std::count_if(log.Lines().begin(), log.Lines().end(),
                                [](const std::u16string& line) {
                                    return line.find(u"cut.wav\" cannot be read") !=
                                           std::u16string::npos;
                                }),
                  1);
        EXPECT_FALSE(log.Has(u"ended early"));
    }
    broker.SetCallbacks(nullptr, nullptr);
}

TEST_F(ConverterTest, GarbageFile_IsSkipped) {
    EXPECT_FALSE(Open("noise.mp3", std::string(5000, '\x13')));
    EXPECT_FALSE(Open("empty.wav", ""));
}

class AdpcmTest : public ConverterTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(AdpcmTest, EncodedSine_DecodesAtTheRightLengthAndPitch) {
    const auto samples = Sine(22050, 2, 1.0, 500);
    const TAdpcmLayout layout = StandardAdpcmLayout(GetParam(), 2, 1024);
    std::vector<uint8_t> extra;
    const TWaveFormat format = AdpcmWaveFormat(layout, 22050, extra);
    const std::vector<uint8_t> blocks = EncodeAdpcm(layout, samples);
    auto source = Open("adpcm.wav",
                       orbtest::WavFile(format, std::string(blocks.begin(), blocks.end()), extra));
    ASSERT_TRUE(source);
    const auto pcm = DecodeAll(*source);
    const double blocksFrames = double(blocks.size() / 1024 * size_t(layout.SamplesPerBlock));
    EXPECT_NEAR(double(pcm.size() / 2), blocksFrames * 2, 50);  // the length is whole ms
    EXPECT_NEAR(ZeroCrossingFrequency(pcm, 44100), 500, 3);
}

TEST_P(AdpcmTest, DecodedBlock_FollowsTheInputClosely) {
    const auto samples = Sine(22050, 1, 0.1, 300);
    const TAdpcmLayout layout = StandardAdpcmLayout(GetParam(), 1, 256);
    const std::vector<uint8_t> blocks = EncodeAdpcm(layout, samples);
    std::vector<int16_t> out(size_t(layout.SamplesPerBlock));
    ASSERT_EQ(DecodeAdpcmBlock(layout, blocks.data(), 256, out.data()), layout.SamplesPerBlock);
    double error = 0;
    for (int i = 0; i < layout.SamplesPerBlock; ++i)
        error += std::abs(out[size_t(i)] - samples[size_t(i)]);
    EXPECT_LT(error / layout.SamplesPerBlock, 300);
}

TEST(AdpcmBlock, RunawayMsStep_StaysBoundedAndClipped) {
    const TAdpcmLayout layout = StandardAdpcmLayout(kWaveFormatMsAdpcm, 1, 2048);
    std::vector<uint8_t> block(2048, 0x77);  // every nibble the largest step up
    block[0] = 0;
    block[1] = 0xFF;  // delta 32767
    block[2] = 0x7F;
    std::vector<int16_t> out(size_t(layout.SamplesPerBlock));
    ASSERT_EQ(DecodeAdpcmBlock(layout, block.data(), block.size(), out.data()),
              layout.SamplesPerBlock);
    EXPECT_EQ(out.back(), 32767);
}

INSTANTIATE_TEST_SUITE_P(Formats, AdpcmTest,
                         ::testing::Values(kWaveFormatMsAdpcm, kWaveFormatImaAdpcm));

#ifdef ORB_HAVE_AUDIOENC
TEST_F(ConverterTest, Mp3_PlaysAtTheRightLengthAndPitch) {
    const auto samples = Sine(44100, 2, 3.0, 440);
    auto source = Open("tone.mp3", orbtest::EncodeMp3(samples, 44100, 2));
    ASSERT_TRUE(source);
    EXPECT_NEAR(source->LengthMs(), 3000, 80);
    const auto pcm = DecodeAll(*source);
    EXPECT_NEAR(double(pcm.size() / 2) / 44.1, source->LengthMs(), 30);
    EXPECT_NEAR(ZeroCrossingFrequency(pcm, 44100, 4410), 440, 2);
}

TEST_F(ConverterTest, Mp3At22050Mono_IsResampledToTheOutput) {
    const auto samples = Sine(22050, 1, 2.0, 700);
    auto source = Open("low.mp3", orbtest::EncodeMp3(samples, 22050, 1, 64));
    ASSERT_TRUE(source);
    const auto pcm = DecodeAll(*source);
    EXPECT_NEAR(double(pcm.size() / 2) / 44.1, 2000, 80);
    EXPECT_NEAR(ZeroCrossingFrequency(pcm, 44100, 4410), 700, 3);
}

TEST_F(ConverterTest, Mp3Seek_LandsNearTheTime) {
    // A tone that changes pitch at one second.
    auto first = Sine(44100, 2, 1.0, 300);
    const auto second = Sine(44100, 2, 1.0, 900);
    first.insert(first.end(), second.begin(), second.end());
    auto source = Open("two.mp3", orbtest::EncodeMp3(first, 44100, 2));
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->Seek(1300));
    std::vector<int16_t> block(2 * 8820);
    ASSERT_EQ(source->Read(block.data(), 8820), 8820u);
    EXPECT_NEAR(ZeroCrossingFrequency(block, 44100), 900, 10);
}

// Silence, then a low tone, then a high one: VBR frames of very different
// sizes, and a pitch that tells where a seek landed.
std::vector<int16_t> SilenceLowHigh(int rate, int channels, double silence, double low,
                                    double high) {
    std::vector<int16_t> samples(size_t(std::llround(rate * silence)) * size_t(channels), 0);
    const auto a = Sine(rate, channels, low, 300, 16000);
    const auto b = Sine(rate, channels, high, 900, 16000);
    samples.insert(samples.end(), a.begin(), a.end());
    samples.insert(samples.end(), b.begin(), b.end());
    return samples;
}

int PeakOf(const std::vector<int16_t>& stereo, size_t fromFrame, size_t toFrame) {
    int peak = 0;
    for (size_t i = 2 * fromFrame; i < std::min(stereo.size(), 2 * toFrame); ++i)
        peak = std::max(peak, std::abs(int(stereo[i])));
    return peak;
}

struct TMp3Case {
    int Rate;
    int Channels;
};

class VbrWithoutHeaderTest : public ConverterTest,
                             public ::testing::WithParamInterface<TMp3Case> {};

TEST_P(VbrWithoutHeaderTest, LengthSeeksAndEnd_FollowTheRealFrames) {
    const TMp3Case c = GetParam();
    const auto samples = SilenceLowHigh(c.Rate, c.Channels, 0.5, 1.0, 1.5);
    const std::string mp3 = orbtest::EncodeMp3(samples, c.Rate, c.Channels, 128, true, false);
    ASSERT_EQ(mp3.find("Xing"), std::string::npos);
    auto source = Open("vbr.mp3", mp3);
    ASSERT_TRUE(source);
    // The frames hold the encoder's delay and padding on top of the 3 s.
    EXPECT_NEAR(source->LengthMs(), 3000, 80);
    const auto pcm = DecodeAll(*source);
    const size_t frames = pcm.size() / 2;
    EXPECT_NEAR(double(frames) / 44.1, source->LengthMs(), 30);
    // The music goes on to the end: no silence was added behind it.
    ASSERT_GT(frames, 4410u);
    EXPECT_GT(PeakOf(pcm, frames - 4410, frames - 1764), 8000);

    ASSERT_TRUE(source->Seek(1200));
    std::vector<int16_t> block(2 * 8820);
    ASSERT_EQ(source->Read(block.data(), 8820), 8820u);
    EXPECT_NEAR(ZeroCrossingFrequency(block, 44100), 300, 10);
    ASSERT_TRUE(source->Seek(2300));
    ASSERT_EQ(source->Read(block.data(), 8820), 8820u);
    EXPECT_NEAR(ZeroCrossingFrequency(block, 44100), 900, 10);
}

INSTANTIATE_TEST_SUITE_P(Rates, VbrWithoutHeaderTest,
                         ::testing::Values(TMp3Case{44100, 2}, TMp3Case{22050, 1},
                                           TMp3Case{48000, 2}));

TEST_F(ConverterTest, Mp3WithEncoderTag_PlaysWithoutDelayOrPadding) {
    // 0.5 s of silence, then a second of tone: the tone must start at 0.5 s and
    // the sound end with it, whatever the encoder put around it.
    std::vector<int16_t> samples(22050 * 2, 0);
    const auto tone = Sine(44100, 2, 1.0, 440, 16000);
    samples.insert(samples.end(), tone.begin(), tone.end());
    for (const bool vbr : {false, true}) {
        SCOPED_TRACE(vbr ? "VBR" : "CBR");
        auto source = Open(vbr ? "gapless-vbr.mp3" : "gapless.mp3",
                           orbtest::EncodeMp3(samples, 44100, 2, 128, vbr));
        ASSERT_TRUE(source);
        EXPECT_EQ(source->LengthMs(), 1500);
        const auto pcm = DecodeAll(*source);
        EXPECT_NEAR(double(pcm.size() / 2), 66150, 1);
        size_t onset = 0;
        while (onset < pcm.size() / 2 && std::abs(int(pcm[2 * onset])) < 8000) ++onset;
        EXPECT_NEAR(double(onset), 22050, 100);
        // A seek keeps the same time line.
        ASSERT_TRUE(source->Seek(400));
        std::vector<int16_t> block(2 * 8820);
        ASSERT_EQ(source->Read(block.data(), 8820), 8820u);
        onset = 0;
        while (onset < 8820 && std::abs(int(block[2 * onset])) < 8000) ++onset;
        EXPECT_NEAR(double(onset), 4410, 100);
    }
}

// Files made once by the lame command line (tests/data/media/README.md): half
// a second of silence, then tones.
TEST(CommittedMp3, EncoderFiles_PlayTheirRealLength) {
    const std::string folder = std::string(ORB_SOURCE_DIR) + "/tests/data/media/";
    {
        // VBR without any header: 3 s of audio in frames that hold the
        // encoder's delay and padding on top.
        auto source = OpenConverterSource(FromUtf8(folder + "vbr-noxing.mp3"));
        ASSERT_TRUE(source);
        EXPECT_GE(source->LengthMs(), 3000);
        EXPECT_LE(source->LengthMs(), 3060);
        const auto pcm = DecodeAll(*source);
        const size_t frames = pcm.size() / 2;
        EXPECT_NEAR(double(frames) / 44.1, source->LengthMs(), 2);
        ASSERT_GT(frames, 4410u);
        EXPECT_GT(PeakOf(pcm, frames - 4410, frames - 2205), 8000);
    }
    {
        // CBR with the encoder's tag: exactly the 1.5 s that went in.
        auto source = OpenConverterSource(FromUtf8(folder + "gapless.mp3"));
        ASSERT_TRUE(source);
        EXPECT_EQ(source->LengthMs(), 1500);
        const auto pcm = DecodeAll(*source);
        EXPECT_NEAR(double(pcm.size() / 2), 66150, 1);
        size_t onset = 0;
        while (onset < pcm.size() / 2 && std::abs(int(pcm[2 * onset])) < 8000) ++onset;
        EXPECT_NEAR(double(onset), 22050, 100);
    }
}

TEST_F(ConverterTest, OggVorbis_PlaysAtTheRightLengthAndPitch) {
    const auto samples = Sine(48000, 2, 2.0, 550);
    auto source = Open("tone.ogg", orbtest::EncodeOgg(samples, 48000, 2));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->Info().MediaType, TMediaType::Ogg);
    EXPECT_NEAR(source->LengthMs(), 2000, 5);
    const auto pcm = DecodeAll(*source);
    EXPECT_NEAR(double(pcm.size() / 2), 88200, 100);
    EXPECT_NEAR(ZeroCrossingFrequency(pcm, 44100, 2000), 550, 2);
}

TEST_F(ConverterTest, UnknownExtension_IsOpenedByFFmpegWithItsStreamSuffix) {
    const auto samples = Sine(32000, 1, 1.5, 800);
    WriteFile(m_folder.File("tone.bin"), orbtest::EncodeOgg(samples, 32000, 1));
    auto source = OpenConverterSource(m_folder.WideFile("tone.bin") + u"?0");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->Info().MediaType, TMediaType::FFmpeg);
    EXPECT_NEAR(source->LengthMs(), 1500, 30);
    const auto pcm = DecodeAll(*source);
    EXPECT_NEAR(double(pcm.size() / 2), 1.5 * 44100, 2000);
    EXPECT_NEAR(ZeroCrossingFrequency(pcm, 44100, 2000), 800, 3);
}
#endif

}  // namespace
}  // namespace ql
