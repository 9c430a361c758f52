// Decoding speed as a multiple of real time: MP3, Ogg Vorbis, and a 48000 Hz
// WAV that goes through the resampler. Each run decodes ten seconds of a
// generated tone from memory to 16-bit stereo 44100 Hz.
#include <benchmark/benchmark.h>

#include <string>

#include "QlLib/Music/MediaInfo.h"
#include "QlLib/Music/PcmResampler.h"
#include "QlLib/Music/WavConverters.h"
#include "QlLib/qpStringUtils.h"
#include "tests/QlLib/Music/AudioFixtures.h"

namespace {

constexpr double kSeconds = 10;

void DecodeAll(benchmark::State& state, const std::string& file, const std::u16string& name) {
    for (auto _ : state) {
        ql::TStringStream stream(file);
        const auto info = ql::ReadMediaInfo(stream, name);
        if (!info) {
            state.SkipWithError("no media information");
            return;
        }
        auto converter = ql::CreateConverter(stream, *info);
        if (!converter) {
            state.SkipWithError("no converter");
            return;
        }
        size_t total = 0;
        while (converter->FillAvailable(65536) > 0) {
            total += converter->Output().Fill();
            converter->Output().Clear();
            if (converter->Ended()) break;
        }
        benchmark::DoNotOptimize(total);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
}

const std::string& Wav48000() {
    static const std::string file =
        orbtest::PcmWav(orbtest::Sine(48000, 2, kSeconds, 440), 48000, 2);
    return file;
}

void BM_Wav48000Resampled(benchmark::State& state) {
    DecodeAll(state, Wav48000(), u"tone.wav");
}
BENCHMARK(BM_Wav48000Resampled)->Unit(benchmark::kMillisecond);

// The resampler alone on ten seconds of 48 kHz stereo, in blocks of the
// converter's input chunk: the cost per second of music.
void BM_Resample48000Stereo(benchmark::State& state) {
    const std::vector<int16_t> samples = orbtest::Sine(48000, 2, kSeconds, 440);
    constexpr size_t kBlock = 4096;
    std::vector<uint8_t> out(kBlock * 2);
    for (auto _ : state) {
        ql::TPcmResampler resampler(ql::TWaveFormat::Pcm(48000, 2, 16), ql::OutputWaveFormat());
        const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
        const size_t total = samples.size() * 2;
        for (size_t at = 0; at < total; at += kBlock) {
            const size_t size = std::min(kBlock, total - at);
            benchmark::DoNotOptimize(resampler.Process(bytes + at, size, out.data()));
        }
    }
    state.counters["ms_per_s"] =
        benchmark::Counter(double(state.iterations()) * kSeconds,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Resample48000Stereo)->Unit(benchmark::kMillisecond);

#ifdef ORB_HAVE_AUDIOENC
void BM_Mp3(benchmark::State& state) {
    static const std::string file =
        orbtest::EncodeMp3(orbtest::Sine(44100, 2, kSeconds, 440), 44100, 2, 192);
    DecodeAll(state, file, u"tone.mp3");
}
BENCHMARK(BM_Mp3)->Unit(benchmark::kMillisecond);

// Opening a ten-minute VBR MP3 without a Xing header: the media information
// walks every frame header to find the exact length (ten seconds of a tone
// and noise, repeated sixty times; the walk only reads headers).
const std::string& LongMp3WithoutHeader() {
    static const std::string file = [] {
        auto samples = orbtest::Sine(44100, 2, kSeconds, 440);
        uint32_t noise = 1;
        for (size_t i = samples.size() / 2; i < samples.size(); ++i) {
            noise = noise * 1664525u + 1013904223u;
            samples[i] = int16_t(samples[i] / 2 + int16_t(noise >> 20) - 2048);
        }
        const std::string piece = orbtest::EncodeMp3(samples, 44100, 2, 128, true, false);
        std::string all;
        for (int i = 0; i < 60; ++i) all += piece;
        return all;
    }();
    return file;
}

void BM_Mp3OpenLongWithoutHeader(benchmark::State& state) {
    const std::string& file = LongMp3WithoutHeader();
    for (auto _ : state) {
        ql::TStringStream stream(file);
        const auto info = ql::ReadMediaInfo(stream, u"long.mp3");
        if (!info) {
            state.SkipWithError("no media information");
            return;
        }
        benchmark::DoNotOptimize(info->LengthMs);
    }
    state.counters["MB"] = double(file.size()) / 1e6;
}
BENCHMARK(BM_Mp3OpenLongWithoutHeader)->Unit(benchmark::kMillisecond);

// The same file opened from disk (the page cache, after the first run).
void BM_Mp3OpenLongWithoutHeaderFromFile(benchmark::State& state) {
    const std::string path = "/tmp/orb_bench_long.mp3";
    {
        ql::TFileStream out(ql::FromUtf8(path), ql::TFileAccess::Write, ql::kShareNone,
                            ql::TFileDisposition::CreateAlways);
        const std::string& file = LongMp3WithoutHeader();
        out.WriteBuffer(file.data(), file.size());
    }
    for (auto _ : state) {
        ql::TFileStream stream(ql::FromUtf8(path), ql::TFileAccess::Read, ql::kShareRead,
                               ql::TFileDisposition::OpenExisting);
        const auto info = ql::ReadMediaInfo(stream, u"long.mp3");
        if (!info) {
            state.SkipWithError("no media information");
            return;
        }
        benchmark::DoNotOptimize(info->LengthMs);
    }
}
BENCHMARK(BM_Mp3OpenLongWithoutHeaderFromFile)->Unit(benchmark::kMillisecond);

void BM_OggVorbis(benchmark::State& state) {
    static const std::string file =
        orbtest::EncodeOgg(orbtest::Sine(44100, 2, kSeconds, 440), 44100, 2);
    DecodeAll(state, file, u"tone.ogg");
}
BENCHMARK(BM_OggVorbis)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
