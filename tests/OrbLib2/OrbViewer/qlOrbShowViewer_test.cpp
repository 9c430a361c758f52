#include "OrbLib2/OrbViewer/qlOrbShowViewer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "OrbLib2/OrbViewer/EngineTestSupport.h"

namespace orb {
namespace {

using test::DocumentOf;
using test::SolidShow;
using test::TNoFiles;

// The viewer over a deterministic engine on a small software device.
class TViewerDriver {
public:
    explicit TViewerDriver(const std::string& show) : device(TSoftDeviceOptions{64, 48}) {
        TEngineOptions options;
        options.Clock = &clock;
        options.Threaded = false;
        options.ScreenWidth = 64;
        options.ScreenHeight = 48;
        viewer = std::make_unique<TOrbShowViewer>(device, std::move(options), [this] { ++wakes; });
        TShowViewerCallbacks callbacks;
        callbacks.FirstFrame = [this] { ++firstFrames; };
        callbacks.Position = [this](double time, bool end) {
            positions.push_back(time);
            ended = ended || end;
        };
        callbacks.Action = [this](const TOrbActionInfo& action) { actions.push_back(action); };
        callbacks.Geometry = [this](int32_t w, int32_t h, int32_t mode) {
            geometry = {w, h, mode};
        };
        viewer->SetCallbacks(std::move(callbacks));
        opened = viewer->Open(std::make_unique<TFileAccessor>(ql::MakeRef<TNoFiles>()),
                              DocumentOf(show), 0);
    }
    void Frame(double stepMs) {
        test::StepEngine(*viewer->Engine(), clock, musicFrames, stepMs);
        viewer->DeliverEvents();
    }
    void Run(double ms, double stepMs = 20) {
        for (double done = 0; done < ms; done += stepMs) Frame(stepMs);
    }
    bool Start() {
        for (int i = 0; i < 10 && !viewer->Engine()->Active(); ++i) Frame(0);
        return viewer->Engine()->Active();
    }

    TVirtualClock clock;
    TSoftDevice device;
    std::unique_ptr<TOrbShowViewer> viewer;
    bool opened = false;
    int32_t wakes = 0, firstFrames = 0;
    bool ended = false;
    std::vector<double> positions;
    std::vector<TOrbActionInfo> actions;
    std::vector<int32_t> geometry;
    int64_t musicFrames = 0;
};

TEST(OrbShowViewer, Play_ReportsFirstFramePositionsAndGeometry) {
    TViewerDriver d(SolidShow(3, 1000, "stop"));
    ASSERT_TRUE(d.opened);
    d.viewer->SetPaused(false);
    ASSERT_TRUE(d.Start());
    d.Run(500);
    EXPECT_GT(d.wakes, 0);
    EXPECT_EQ(d.firstFrames, 1);
    ASSERT_FALSE(d.positions.empty());
    EXPECT_NEAR(d.viewer->ShowTime(), 500, 40);
    EXPECT_EQ(d.geometry,
              (std::vector<int32_t>{64, 48, 0}));  // full screen unless the show says otherwise
}

TEST(OrbShowViewer, Seek_ReportsOfTheOlderRequestAreDropped) {
    TViewerDriver d(SolidShow(3, 1000, "stop"));
    d.viewer->SetPaused(false);
    ASSERT_TRUE(d.Start());
    d.Run(200);
    d.viewer->Seek(2500);
    EXPECT_EQ(d.viewer->ShowTime(), 2500);
    d.positions.clear();
    d.Run(200);
    for (double time : d.positions) EXPECT_GE(time, 2500);
}

TEST(OrbShowViewer, Pause_OnlyChangesArePosted) {
    TViewerDriver d(SolidShow(3, 1000, "stop"));
    EXPECT_TRUE(d.viewer->Paused());
    d.viewer->SetPaused(false);
    EXPECT_FALSE(d.viewer->Paused());
    ASSERT_TRUE(d.Start());
    d.Run(300);
    d.viewer->SetPaused(true);
    d.Run(100);
    const double stopped = d.viewer->Engine()->CurrentTime();
    d.Run(300);
    EXPECT_DOUBLE_EQ(d.viewer->Engine()->CurrentTime(), stopped);
}

TEST(OrbShowViewer, Stop_WithoutShowIsHarmless) {
    TViewerDriver d("[Main]\nopt_slidescount=2\n");  // no duration: the engine refuses it
    EXPECT_FALSE(d.opened);
    EXPECT_EQ(d.viewer->Engine(), nullptr);
    d.viewer->Seek(100);
    d.viewer->ReleaseWait();
    d.viewer->DeliverEvents();
    d.viewer->Stop();
}

}  // namespace
}  // namespace orb
