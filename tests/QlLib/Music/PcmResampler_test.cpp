#include "QlLib/Music/PcmResampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace ql {
namespace {

std::vector<int16_t> Resample(TPcmResampler& resampler, const void* input, size_t bytes) {
    const size_t need = resampler.OutputBytesFor(bytes);
    std::vector<int16_t> out(need / 2 + 1);
    const size_t written = resampler.Process(static_cast<const uint8_t*>(input), bytes,
                                             reinterpret_cast<uint8_t*>(out.data()));
    EXPECT_EQ(written, need);
    out.resize(written / 2);
    return out;
}

TEST(PcmResampler, SameRate_ReturnsInputDelayedByOneFrame) {
    TPcmResampler resampler(TWaveFormat::Pcm(44100, 2, 16, false), OutputWaveFormat());
    // A 16-bit stereo source at the output rate still goes through the
    // stepping when it is handed over explicitly.
    const std::vector<int16_t> in = {100, -100, 2000, -2000, 32767, -32768, 5, 6};
    const std::vector<int16_t> out = Resample(resampler, in.data(), in.size() * 2);
    const std::vector<int16_t> expected = {0, 0, 100, -100, 2000, -2000, 32767, -32768};
    EXPECT_EQ(out, expected);
}

TEST(PcmResampler, BlocksJoinWithoutSeam) {
    const TWaveFormat source = TWaveFormat::Pcm(48000, 1, 16);
    std::vector<int16_t> in(4800);
    for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(10000 * std::sin(i * 0.05));
    TPcmResampler whole(source, OutputWaveFormat());
    const std::vector<int16_t> once = Resample(whole, in.data(), in.size() * 2);
    TPcmResampler split(source, OutputWaveFormat());
    std::vector<int16_t> pieces;
    for (size_t at = 0; at < in.size(); at += 777) {
        const size_t count = std::min<size_t>(777, in.size() - at);
        const std::vector<int16_t> part = Resample(split, in.data() + at, count * 2);
        pieces.insert(pieces.end(), part.begin(), part.end());
    }
    EXPECT_EQ(once, pieces);
    EXPECT_NEAR(double(once.size() / 2), 4800.0 * 44100 / 48000, 1.0);
}

// A steady level comes out steady from the first frame on, and again right
// after a seek: the filter's delay holds the first frame, never silence.
TEST(PcmResampler, SteadyLevel_HoldsFromTheFirstFrameAndAfterAReset) {
    for (const uint32_t rate : {8000u, 22050u, 32000u, 48000u, 96000u}) {
        TPcmResampler resampler(TWaveFormat::Pcm(rate, 1, 16), OutputWaveFormat());
        std::vector<int16_t> in(rate / 10, 12000);
        for (int round = 0; round < 2; ++round) {
            std::vector<int16_t> out;
            for (size_t at = 0; at < in.size(); at += 333) {
                const size_t count = std::min<size_t>(333, in.size() - at);
                const std::vector<int16_t> part = Resample(resampler, in.data() + at, count * 2);
                out.insert(out.end(), part.begin(), part.end());
            }
            ASSERT_GT(out.size(), 2000u) << rate;
            for (size_t i = 0; i < out.size(); ++i)
                ASSERT_NEAR(out[i], round == 0 ? 12000 : -7000, 10)
                    << rate << " Hz, round " << round << ", sample " << i;
            resampler.Reset();
            std::fill(in.begin(), in.end(), int16_t(-7000));
        }
    }
}

TEST(PcmResampler, SampleSizes_MapToSixteenBitRange) {
    // 24-bit 7FFFFF keeps its top 16 bits: 32767.
    {
        TPcmResampler r(TWaveFormat::Pcm(44100, 1, 24), OutputWaveFormat());
        const uint8_t in[6] = {0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F};
        const auto out = Resample(r, in, 6);
        ASSERT_EQ(out.size(), 4u);
        EXPECT_EQ(out[2], 32767);
    }
    // Float 1.0 becomes 32767; NaN is silence; out-of-range values clamp.
    {
        TPcmResampler r(TWaveFormat::Pcm(44100, 1, 32, true), OutputWaveFormat());
        const float in[4] = {1.0f, std::numeric_limits<float>::quiet_NaN(), 7.5f, -3.0f};
        const auto out = Resample(r, in, sizeof in);
        ASSERT_EQ(out.size(), 8u);
        EXPECT_EQ(out[2], 32767);
        EXPECT_EQ(out[4], 0);
        EXPECT_EQ(out[6], 32767);
    }
    // 8-bit 0 becomes -32768.
    {
        TPcmResampler r(TWaveFormat::Pcm(44100, 1, 8), OutputWaveFormat());
        const uint8_t in[2] = {0, 0};
        const auto out = Resample(r, in, 2);
        ASSERT_EQ(out.size(), 4u);
        EXPECT_EQ(out[2], -32768);
    }
}

TEST(PcmResampler, FiveOneSource_FoldsByLayoutWithoutClipping) {
    TPcmResampler r(TWaveFormat::Pcm(44100, 6, 16), OutputWaveFormat());
    // Full scale on every channel must not clip; LFE alone is left out.
    std::vector<int16_t> in(6 * 4, 32767);
    for (int c = 0; c < 6; ++c) in[6 * 2 + c] = c == 3 ? 30000 : 0;
    const auto out = Resample(r, in.data(), in.size() * 2);
    ASSERT_EQ(out.size(), 8u);
    EXPECT_LE(out[2], 32767);
    EXPECT_GT(out[2], 32000);  // scaled to fit, not clipped flat by summing
    EXPECT_EQ(out[6], 0);      // the frame with only LFE (one frame later)
    // Centre goes equally to both sides, back left only to the left.
    EXPECT_FLOAT_EQ(r.LeftWeights()[2], r.RightWeights()[2]);
    EXPECT_GT(r.LeftWeights()[4], 0);
    EXPECT_EQ(r.RightWeights()[4], 0);
}

TEST(PcmResampler, VorbisStyleLayout_PutsSecondChannelInTheCentre) {
    TPcmResampler r(TWaveFormat::Pcm(44100, 3, 16), OutputWaveFormat(), TChannelLayout{0, 2, 1});
    EXPECT_FLOAT_EQ(r.LeftWeights()[1], r.RightWeights()[1]);
    EXPECT_EQ(r.LeftWeights()[2], 0);
}

// The tone of frequency f in the left channel by a least-squares fit of a
// sine and a cosine, away from both ends: its gain against the input's
// amplitude and the level of everything else (images, aliases, noise), in dB.
struct TToneFit {
    double GainDb;
    double ResidualDb;
};

TToneFit FitTone(const std::vector<int16_t>& stereo, double f, int rate, double amplitude) {
    const size_t frames = stereo.size() / 2;
    const size_t from = 2000, to = frames - 2000;
    double ss = 0, cc = 0, sc = 0, ys = 0, yc = 0, yy = 0;
    for (size_t i = from; i < to; ++i) {
        const double w = 2 * M_PI * f * double(i) / rate;
        const double sn = std::sin(w), cs = std::cos(w), y = stereo[2 * i];
        ss += sn * sn;
        cc += cs * cs;
        sc += sn * cs;
        ys += y * sn;
        yc += y * cs;
        yy += y * y;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    const double residual = std::max(yy - a * ys - b * yc, 1e-9) / double(to - from);
    const double toneRms = amplitude / std::sqrt(2.0);
    return {20 * std::log10(std::hypot(a, b) / amplitude),
            10 * std::log10(residual) - 20 * std::log10(toneRms)};
}

// Sine sweeps through every rate the player meets: passband tones keep their
// level within 0.5 dB up to 0.9 of the lower Nyquist frequency with images and
// aliases below -60 dB, and tones above the output's Nyquist frequency are
// gone (below -60 dB).
TEST(PcmResampler, SineSweeps_StayFlatWithoutImagesOrAliases) {
    constexpr double kAmplitude = 16000;
    for (const int rate : {8000, 11025, 22050, 32000, 48000, 96000}) {
        const double lowerNyquist = std::min(rate, 44100) / 2.0;
        std::vector<double> tones;
        for (const double part : {0.02, 0.1, 0.3, 0.5, 0.7, 0.8, 0.9})
            tones.push_back(part * lowerNyquist);
        if (rate > 44100)
            for (const double part : {1.0, 1.05, 1.3, 1.7, 1.95})
                if (part * 22050 < rate / 2.0) tones.push_back(part * 22050);
        for (const double f : tones) {
            SCOPED_TRACE(::testing::Message() << rate << " Hz source, tone " << f << " Hz");
            std::vector<int16_t> in(static_cast<size_t>(rate));
            for (size_t i = 0; i < in.size(); ++i)
                in[i] =
                    int16_t(std::lround(kAmplitude * std::sin(2 * M_PI * f * double(i) / rate)));
            TPcmResampler r(TWaveFormat::Pcm(uint32_t(rate), 1, 16), OutputWaveFormat());
            const auto out = Resample(r, in.data(), in.size() * 2);
            const TToneFit fit = FitTone(out, f, 44100, kAmplitude);
            if (f <= 0.9 * lowerNyquist + 1) {
                EXPECT_NEAR(fit.GainDb, 0, 0.5);
                EXPECT_LT(fit.ResidualDb, -60);
            } else {
                // Nothing of the tone may come through: all of it is residue.
                EXPECT_LT(fit.ResidualDb, -60);
            }
        }
    }
}

TEST(PcmResampler, MonoTarget_AveragesSides) {
    TWaveFormat mono = TWaveFormat::Pcm(44100, 1, 16);
    TPcmResampler r(TWaveFormat::Pcm(44100, 2, 16), mono);
    const int16_t in[4] = {1000, 3001, 0, 0};
    const auto out = Resample(r, in, sizeof in);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1], 2000);
}

}  // namespace
}  // namespace ql
