// Button faces: a 1200 x 64 face made from a theme with a hue shift (the whole
// producer), and the colour shift alone over that face, plain and fast, and
// over noise, where the fast loop's memo of colours cannot help.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "OrbLib2/ButtonGenerator2.h"
#include "OrbLib2/qlHslShift.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qpFileStream.h"

namespace {

// A 24 x 64 sheet shaded top to bottom, with rounded-looking corners: every
// column of a corner differs, every row of the middle differs.
std::unique_ptr<ql::TBitmap> Sheet() {
    auto sheet = std::make_unique<ql::TDirectBitmap>(24, 64, ql::PfARGB32());
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 24; ++x) {
            const uint32_t edge = uint32_t(std::min(x, 23 - x)) * 9;
            const uint32_t pixel =
                0xFF000000 | (40 + y * 2 + edge) << 16 | (90 + y) << 8 | (200 - y);
            std::memcpy(sheet->Row(y) + x * 4, &pixel, 4);
        }
    return sheet;
}

orb::TButtonThemeFiles Files() {
    orb::TButtonThemeFiles files;
    files.OpenFile = [](const std::u16string&) -> std::unique_ptr<ql::TStream> {
        std::string text;
        for (const char* state : {"NormalState", "HoverState", "ClickState"})
            text +=
                std::string("[") + state +
                "]\nLeftTop=s.png,0,0,8,8\nTop=s.png,8,0,16,8\nRightTop=s.png,16,0,24,8\n"
                "Right=s.png,16,8,24,56\nRightBottom=s.png,16,56,24,64\nBottom=s.png,8,56,16,64\n"
                "LeftBottom=s.png,0,56,8,64\nLeft=s.png,0,8,8,56\nCenter=s.png,8,8,16,56\n";
        return std::make_unique<ql::TStringStream>(text);
    };
    files.OpenPicture = [](const std::u16string&) {
        return ql::MakeRef<ql::TWrapperBitmapStore>(Sheet());
    };
    return files;
}

void BM_ButtonFace1200x64Hue(benchmark::State& state) {
    orb::TButtonProducerHost host(Files());
    orb::TButtonProducer& producer = host.ProducerFor(u"theme");
    for (auto _ : state) {
        const orb::TButtonFace face = producer.MakeFace(orb::bsNormal, 1200, 0, 0, 120);
        benchmark::DoNotOptimize(face.Picture->GetBitmap(0));
    }
}
BENCHMARK(BM_ButtonFace1200x64Hue)->Unit(benchmark::kMicrosecond);

std::unique_ptr<ql::TBitmap> PlainFace() {
    orb::TButtonProducerHost host(Files());
    const orb::TButtonFace face = host.ProducerFor(u"theme").MakeFace(orb::bsNormal, 1200, 0, 0, 0);
    const ql::TBitmap* bitmap = face.Picture->GetBitmap(0);
    return ql::CreateBitmap(bitmap->Width(), bitmap->Height(), ql::PfARGB32(), {}, bitmap);
}

std::unique_ptr<ql::TBitmap> Noise() {
    auto noise = std::make_unique<ql::TDirectBitmap>(1200, 64, ql::PfARGB32());
    std::mt19937 random(7);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 1200; ++x) {
            const uint32_t pixel = random();
            std::memcpy(noise->Row(y) + x * 4, &pixel, 4);
        }
    return noise;
}

// Arguments: fast (0 or 1), noise (0 or 1).
void BM_HslShift1200x64(benchmark::State& state) {
    const bool fast = state.range(0) != 0;
    const std::unique_ptr<ql::TBitmap> source = state.range(1) ? Noise() : PlainFace();
    auto work = ql::CreateBitmap(1200, 64, ql::PfARGB32(), {}, source.get());
    for (auto _ : state) {
        state.PauseTiming();
        work->CopyRect(source->Bounds(), *source, {0, 0});
        state.ResumeTiming();
        orb::HslShiftBitmap(*work, {120, 10, -5}, {}, fast);
        benchmark::DoNotOptimize(work->Row(0));
    }
}
BENCHMARK(BM_HslShift1200x64)
    ->ArgNames({"fast", "noise"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
