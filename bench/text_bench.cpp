// Text rendering and soft shadows: a 40-character line at 120 pixels, and the
// shadow of a full-HD picture at growing blur (it must not grow with the blur).
#include <benchmark/benchmark.h>

#include "OrbLib2/ShadowGenerator2.h"
#include "QlLib/VectorGraphics/qlTextProducer2.h"

namespace {

const std::u16string kLine = u"The quick brown fox jumps over a lazy do";  // 40 characters

void BM_TextLayoutAndRender(benchmark::State& state) {
    const ql::TSimpleVectorText text({kLine}, u"DejaVu Sans", 120);
    ql::TTextProducer producer;
    producer.SetText(&text);
    for (auto _ : state) {
        auto picture = producer.Render(0xFF000000, 0x00000000, {0, 0}, false, false, 1);
        benchmark::DoNotOptimize(picture->Row(0));
    }
}
BENCHMARK(BM_TextLayoutAndRender)->Unit(benchmark::kMillisecond);

// With the outlines fetched from the installed font each time.
void BM_TextFromInstalledFont(benchmark::State& state) {
    for (auto _ : state) {
        ql::TTextProducer producer;
        producer.SetText(std::make_unique<ql::TSimpleVectorText>(std::vector<std::u16string>{kLine},
                                                                 u"DejaVu Sans", 120));
        auto picture = producer.Render(0xFF000000, 0x00000000, {0, 0}, false, false, 1);
        benchmark::DoNotOptimize(picture->Row(0));
    }
}
BENCHMARK(BM_TextFromInstalledFont)->Unit(benchmark::kMillisecond);

void BM_Shadow1920x1080(benchmark::State& state) {
    ql::TDirectBitmap picture(1920, 1080, ql::PfARGB32());
    picture.FillRect(picture.Bounds(), 0);
    picture.FillRect({100, 100, 1820, 980}, 0xFF808080);
    orb::TShadowParams params;
    params.PictureKey = u"picture";
    params.ObjectRect = picture.Bounds();
    params.BlurSize = float(state.range(0));
    params.MarginX = params.MarginY = int32_t(state.range(0)) * 2;
    params.Opacity = 60;
    int32_t halvings = 0;
    for (auto _ : state) {
        const orb::TShadowPicture shadow = orb::TShadowGenerator().Generate(params, &picture);
        halvings = shadow.Halvings;
        benchmark::DoNotOptimize(shadow.Bitmap->Row(0));
    }
    state.counters["halvings"] = halvings;
}
BENCHMARK(BM_Shadow1920x1080)->Arg(5)->Arg(20)->Arg(60)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace
