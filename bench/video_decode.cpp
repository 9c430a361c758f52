// Video source figures for a clip: sequential decoding (with the copy into
// 4:2:0 planes) in frames per second at 1 and 2 decoder threads, and random
// frame requests (median and 95th percentile in ms), and the conversion of a
// decoded frame to 32-bit pixels at each processor level; then the clip
// plays in real time through the extractor with 2 decoder threads, drawn
// (taken and given back, nothing shown) at its own rate, and the share of
// drawings that got exactly the frame of their time is printed.
// Usage: orbvideodecode CLIP [FRAMES] [REQUESTS]
// Make the 1080p clip with bench/make_video_clip.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "QlLib/Graphics/qlYuvToRgb.h"
#include "QlLib/Video/qlOrbVideoExtractor.h"
#include "QlLib/Video/qlWinVideoSource.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace {

using TClock = std::chrono::steady_clock;

std::unique_ptr<ql::TWinVideoSource> Open(const std::string& file, int threads) {
    auto stream =
        std::make_unique<ql::TFileStream>(ql::FromUtf8(file), ql::TFileAccess::Read, ql::kShareRead,
                                          ql::TFileDisposition::OpenExisting);
    auto source = std::make_unique<ql::TWinVideoSource>();
    ql::TDecoderLimits limits;
    limits.Threads = threads;
    if (source->Open(stream.release(), true, ql::FromUtf8(file), limits) != ql::TVideoFailure::None)
        return nullptr;
    return source;
}

double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orbvideodecode CLIP [FRAMES] [REQUESTS]\n");
        return 2;
    }
    const std::string clip = argv[1];
    const int64_t frames = argc > 2 ? std::atoll(argv[2]) : 300;
    const int requests = argc > 3 ? std::atoi(argv[3]) : 100;
    ql::TYuvImage image;
    for (const int threads : {1, 2}) {
        std::unique_ptr<ql::TWinVideoSource> source = Open(clip, threads);
        if (!source) {
            std::fprintf(stderr, "cannot open %s\n", clip.c_str());
            return 1;
        }
        const int64_t count = std::min(frames, source->FrameCount());
        source->GetFrame(0, image);
        const auto start = TClock::now();
        for (int64_t n = 1; n < count; ++n) source->GetFrame(n, image);
        const double ms = Ms(TClock::now() - start);
        std::printf("sequential\t%dx%d\tthreads %d\t%.1f frames/s\n", source->Width(),
                    source->Height(), threads, double(count - 1) * 1000.0 / ms);
    }
    for (const int threads : {1, 2}) {
        std::unique_ptr<ql::TWinVideoSource> source = Open(clip, threads);
        std::mt19937 random(42);
        std::uniform_int_distribution<int64_t> pick(0, source->FrameCount() - 1);
        std::vector<double> times, cpu;
        for (int i = 0; i < requests; ++i) {
            const int64_t n = pick(random);
            const auto start = TClock::now();
            const double cpuStart = ThreadCpuMs();
            source->GetFrame(n, image);
            cpu.push_back(ThreadCpuMs() - cpuStart);
            times.push_back(Ms(TClock::now() - start));
        }
        std::sort(times.begin(), times.end());
        std::sort(cpu.begin(), cpu.end());
        // With one thread the decoder runs on this thread: its processor
        // time is the request's cost even on a busy machine.
        std::printf(
            "random\tthreads %d\tmedian %.1f ms\tp95 %.1f ms\tcpu of this thread: median %.1f "
            "ms\tp95 %.1f ms\n",
            threads, times[times.size() / 2], times[times.size() * 95 / 100], cpu[cpu.size() / 2],
            cpu[cpu.size() * 95 / 100]);
    }
    std::unique_ptr<ql::TWinVideoSource> source = Open(clip, 1);
    if (!source || !source->GetFrame(source->FrameCount() / 2, image)) return 1;
    std::vector<uint8_t> bgra(size_t(image.Width) * 4);
    for (const ql::TSimdLevel level :
         {ql::TSimdLevel::Scalar, ql::TSimdLevel::SSE2, ql::TSimdLevel::AVX2}) {
        if (!ql::SimdLevelSupported(level)) continue;
        ql::TYuvToRgbConverter converter(image.Width, level);
        const ql::TYuvMatrix matrix = image.Bt709 ? ql::TYuvMatrix::Bt709 : ql::TYuvMatrix::Bt601;
        const int rounds = 30;
        const auto start = TClock::now();
        for (int round = 0; round < rounds; ++round)
            for (int32_t y = 0; y < image.Height; ++y) {
                const size_t chroma = size_t(y / 2) * size_t(image.ChromaWidth());
                converter.ConvertRow(image.Y.data() + size_t(y) * size_t(image.Width),
                                     image.U.data() + chroma, image.V.data() + chroma,
                                     image.ChromaWidth(), matrix, bgra.data());
            }
        std::printf("to rgb\tlevel %d\t%.1f frames/s\n", int(level),
                    rounds * 1000.0 / Ms(TClock::now() - start));
    }
    {
        std::unique_ptr<ql::TWinVideoSource> player = Open(clip, 2);
        const double rate = player->FrameRate();
        const int64_t count = player->FrameCount();
        ql::TOrbVideoExtractor extractor(player.release(), true, {rate, count, false});
        extractor.RequestFrame(0, true);
        const auto start = TClock::now();
        int64_t exact = 0;
        for (int64_t n = 0; n < count; ++n) {
            std::this_thread::sleep_until(
                start + std::chrono::microseconds(int64_t(double(n) * 1e6 / rate)));
            const double t = Ms(TClock::now() - start);
            const ql::TOrbVideoExtractor::TTaken taken = extractor.TakeFrame(t, rate);
            if (taken.Exact) ++exact;
            extractor.GiveBack(taken.Slot);
        }
        std::printf("play\t%lld frames at %.2f/s\t%.1f %% exact\n", static_cast<long long>(count),
                    rate, 100.0 * double(exact) / double(std::max<int64_t>(count, 1)));
    }
    return 0;
}
