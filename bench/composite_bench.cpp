// The composite mixer's cost per second of output with 4 and 16 items under
// envelopes, and a seek into the middle of an 8-item composite until its first
// block is ready. The items are tones copied from memory, so the figures are
// the mixer's and not a decoder's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "QlLib/Music/CompositeConverter.h"
#include "QlLib/Music/CompositeParams.h"
#include "QlLib/Music/MusicTypes.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"
#include "bench/ToneSource.h"
#include "tests/QlLib/Music/AudioFixtures.h"

namespace {

using namespace ql;

std::unique_ptr<TPcmSource> OpenTone(const std::u16string& name) {
    return std::make_unique<orb::bench::TToneSource>(50 + int(name.size()));
}

// count items over an hour, every one under a fade-in and fade-out, a level
// and a slow swell that keeps its factor away from unity, so that every frame
// is scaled.
std::u16string Composite(int count, int32_t durationMs) {
    TCompositeParams params;
    params.Duration = durationMs;
    for (int i = 0; i < count; ++i) {
        TCompositeItem& item = params.AddItem(u"tone" + std::u16string(size_t(i), u'x'), 0);
        item.Duration = durationMs;
        item.Volumes.AddEnvelope().Points = {
            {0, 0}, {2000, 700}, {durationMs - 2000, 700}, {durationMs, 0}};
        item.Volumes.AddEnvelope().AddPoint(0, 250);
        TVolumeParams& swell = item.Volumes.AddEnvelope();
        for (int32_t t = 0; t < durationMs; t += 10000)
            swell.AddPoint(t, (t / 10000) % 2 ? 900 : 400);
    }
    params.MainVolume().AddEnvelope().Points = {{0, 900}, {durationMs, 500}};
    return params.WriteText();
}

void BM_CompositeSecond(benchmark::State& state) {
    const int32_t duration = 3600 * 1000;
    const std::u16string text = Composite(int(state.range(0)), duration);
    TCompositeConverter mixer(text, OpenTone);
    if (!mixer.Open(*CompositeMediaInfo(text))) {
        state.SkipWithError("does not open");
        return;
    }
    mixer.Seek(5000);
    double produced = 5000;
    for (auto _ : state) {
        if (produced + 1000 > duration) {
            state.PauseTiming();
            mixer.Seek(5000);
            produced = 5000;
            state.ResumeTiming();
        }
        mixer.FillAvailable(176400);
        benchmark::DoNotOptimize(mixer.Output().Data());
        mixer.Output().Consume(176400);
        produced += 1000;
    }
    state.counters["items"] = double(state.range(0));
    state.SetLabel("one iteration = 1 s of output");
}
BENCHMARK(BM_CompositeSecond)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_CompositeSeekToFirstBlock(benchmark::State& state) {
    // Eight items placed one after another with overlaps, a seek lands inside four.
    TCompositeParams params;
    params.Duration = 600000;
    for (int i = 0; i < 8; ++i) {
        TCompositeItem& item = params.AddItem(u"tone" + std::u16string(size_t(i), u'y'), 60000 * i);
        item.BeginTime = 1000 * i;
        item.Duration = 240000;
        item.Volumes.AddEnvelope().Points = {{0, 0}, {3000, 1000}, {237000, 1000}, {240000, 0}};
    }
    const std::u16string text = params.WriteText();
    TCompositeConverter mixer(text, OpenTone);
    if (!mixer.Open(*CompositeMediaInfo(text))) {
        state.SkipWithError("does not open");
        return;
    }
    double at = 250000;
    for (auto _ : state) {
        mixer.Seek(at);
        mixer.FillAvailable(TCompositeConverter::kBlockBytes);
        benchmark::DoNotOptimize(mixer.Output().Data());
        at = at > 300000 ? 250000 : at + 1234.5;
    }
    state.SetLabel("seek + first 10000-byte block, 8 items");
}
BENCHMARK(BM_CompositeSeekToFirstBlock)->Unit(benchmark::kMicrosecond);

// The refill pass reads a composite 1024 frames at a time; opening an item
// (reading its media information, making its decoder) happens inside one of
// those reads. Eight 192 kbit/s MP3 items (WAV without the encoders), one
// every 4 s, each played for 30 s and decoded for real: the longest read
// against the median says whether an opening could stall the refill.
void BM_CompositeLongestFill(benchmark::State& state) {
#ifdef ORB_HAVE_AUDIOENC
    static const std::string item =
        orbtest::EncodeMp3(orbtest::Sine(44100, 2, 30, 440), 44100, 2, 192);
    const char16_t* kind = u".mp3";
#else
    static const std::string item = orbtest::PcmWav(orbtest::Sine(44100, 2, 30, 440), 44100, 2);
    const char16_t* kind = u".wav";
#endif
    TStreamWrapperClass::Instance().SetCallbacks(
        [](const std::u16string&) -> std::unique_ptr<TStream> {
            return std::make_unique<TStringStream>(item);
        },
        nullptr);
    TCompositeParams params;
    params.Duration = 60000;
    for (int i = 0; i < 8; ++i) {
        TCompositeItem& entry =
            params.AddItem(u"item" + FromUtf8(std::to_string(i)) + kind, 4000 * i);
        entry.Duration = 30000;
        entry.Volumes.AddEnvelope().Points = {{0, 0}, {2000, 1000}, {28000, 1000}, {30000, 0}};
    }
    const std::u16string text = params.WriteText();
    std::vector<int16_t> block(2 * 1024);
    std::vector<double> reads;
    double longest = 0, median = 0;
    for (auto _ : state) {
        std::unique_ptr<TConverterSource> mix = OpenCompositeSource(text);
        if (!mix) {
            state.SkipWithError("does not open");
            break;
        }
        reads.clear();
        for (;;) {
            const auto start = std::chrono::steady_clock::now();
            const size_t got = mix->Read(block.data(), 1024);
            reads.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            if (got < 1024) break;
        }
        std::sort(reads.begin(), reads.end());
        longest = std::max(longest, reads.back());
        median = reads[reads.size() / 2];
    }
    TStreamWrapperClass::Instance().SetCallbacks(nullptr, nullptr);
    state.counters["longest_read_ms"] = longest;
    state.counters["median_read_ms"] = median;
    state.SetLabel("one iteration = 60 s of 8 decoded items, read 1024 frames at a time");
}
BENCHMARK(BM_CompositeLongestFill)->Arg(30)->Arg(300)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
