// Building and uploading one slide of 24-megapixel pictures ahead of the
// clock at 1920 x 1080: the slide producer builds the slide, its time is set
// (which picks the level of detail the screen needs) and it is attached to a
// software-device drawer, which decodes the picture at that level and
// prepares it. The show is the one bench/make_big_show.sh makes, named by
// ORB_BIG_SHOW; without it the benchmark is skipped.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace {

void BM_BuildAndUploadBigSlide(benchmark::State& state) {
    const char* showName = std::getenv("ORB_BIG_SHOW");
    if (!showName) {
        state.SkipWithError("ORB_BIG_SHOW names no show (bench/make_big_show.sh makes one)");
        return;
    }
    orb::TShowOpenResult opened = orb::OpenShow(ql::FromUtf8(showName));
    if (!opened.Locator) {
        state.SkipWithError("the show does not open");
        return;
    }
    orb::TOrbShowLocator& show = *opened.Locator;
    ql::TRef<ql::TRefObj> fileSource(&show.Accessor().Source());
    orb::TOrbSource source(fileSource, show.Project(), u"");
    const int64_t count = int64_t(source.Slides().size());
    orb::TSoftDevice device(orb::TSoftDeviceOptions{1920, 1080});
    orb::T3DDrawer drawer(device);
    orb::TSlideProducer producer(source, show.Accessor());
    producer.SetCurrentTiming(ql::MakeRef<orb::TTiming>());
    producer.Setup(1920, 1080, 1);
    int64_t index = 0;
    for (auto _ : state) {
        // Each slide once: every one has its own picture entry, so nothing
        // is served from an earlier slide.
        ql::TRef<orb::TDrawContainer> container = producer.MakeContainer(index++ % count);
        if (!container || !container->Slide()) {
            state.SkipWithError("a slide was not built");
            return;
        }
        container->SetTime(container->Info().BeginTime);
        std::lock_guard<std::recursive_mutex> lock(drawer.Mutex());
        container->Slide()->AttachDrawer(drawer);
        benchmark::DoNotOptimize(container.Get());
    }
}
BENCHMARK(BM_BuildAndUploadBigSlide)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->MeasureProcessCPUTime();

}  // namespace
