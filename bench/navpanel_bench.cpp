// The overlay's share of a 1080p frame on the software device: a frame that
// draws nothing (the device's fixed cost; the software device clears lazily,
// so a clear alone costs nothing either), the same frame with the logo and a
// button panel whose pictures did not change, drawn over what the frame holds, and one in which the
// pointer moves from button to button so that the bar redraws, goes to the device again and is
// drawn.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/NavPanel/NavPanelFixtures.h"
#include "OrbLib2/NavPanel/qlOverlayScene.h"
#include "OrbLib2/NavPanel/qlThirdSlide.h"

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

class TEmptyScene : public orb::TDrawScene {
public:
    void Draw(orb::TDeviceDrawer&) override {}
};

struct TRig {
    ql::test::TTestFolder folder;
    std::unique_ptr<ql::TIniFile> project;
    std::unique_ptr<orb::TThirdSlide> overlay;
    orb::TSoftDevice device{orb::TSoftDeviceOptions{kWidth, kHeight}};
    std::unique_ptr<orb::T3DDrawer> drawer;
    std::unique_ptr<orb::TOverlayScene> scene;

    TRig() {
        orb::test::WriteBarFixtures(folder);
        orb::test::WriteBlocksPng(folder.File("logo.png"), 400, 200, {0xC02080F0});
        project = orb::test::Definition(
            "[main]\nopt_fcp=1\nopt_nav_inifile=bar/bar.ini\nopt_nav_showbg=1\nopt_cp=Bottom\n"
            "opt_newnavbuttons_count=3\nopt_newnavbutton1=pause\nopt_newnavbutton2=forward\n"
            "opt_newnavbutton3=exit\nopt_logo=1\nopt_logo_fn=logo.png\nopt_logo_pos=5\n");
        overlay = std::make_unique<orb::TThirdSlide>(*project, ql::TRect{0, 0, kWidth, kHeight},
                                                     orb::test::FolderOpener(folder),
                                                     orb::TThirdSlide::THooks{}, 1, 60000, 0);
        drawer = std::make_unique<orb::T3DDrawer>(device);
        drawer->Init({kWidth, kHeight, false});
        drawer->TextureManager().SetUploadPause(std::chrono::milliseconds(0));
        scene = std::make_unique<orb::TOverlayScene>(*drawer, *overlay);
    }
    ~TRig() { scene.reset(); }
};

void BM_Frame1080pWithoutOverlay(benchmark::State& state) {
    TRig rig;
    TEmptyScene empty;
    for (auto _ : state) benchmark::DoNotOptimize(rig.drawer->DrawScene(empty));
}
BENCHMARK(BM_Frame1080pWithoutOverlay)->Unit(benchmark::kMicrosecond);

void BM_Frame1080pOverlayUnchanged(benchmark::State& state) {
    TRig rig;
    int64_t t = 0;
    for (auto _ : state) {
        t += 16;
        rig.overlay->Advance(t, double(t));
        benchmark::DoNotOptimize(rig.drawer->DrawScene(*rig.scene));
    }
    state.counters["uploads"] = double(rig.scene->Uploads());
}
BENCHMARK(BM_Frame1080pOverlayUnchanged)->Unit(benchmark::kMicrosecond);

void BM_Frame1080pOverlayHoverRedraw(benchmark::State& state) {
    TRig rig;
    const ql::TRect r = rig.overlay->Panel()->Rect();
    // Over the first button, then the second: each move redraws the bar.
    const int32_t y = (r.top + r.bottom) / 2;
    const int32_t xs[2] = {r.left + r.Width() * 20 / 106, r.left + r.Width() * 45 / 106};
    int64_t t = 0, k = 0;
    for (auto _ : state) {
        rig.overlay->Mouse(xs[k++ & 1], y, 0, 0, 0, t);
        t += 16;
        rig.overlay->Advance(t, double(t));
        benchmark::DoNotOptimize(rig.drawer->DrawScene(*rig.scene));
    }
    state.counters["uploads"] = double(rig.scene->Uploads());
}
BENCHMARK(BM_Frame1080pOverlayHoverRedraw)->Unit(benchmark::kMicrosecond);

}  // namespace
