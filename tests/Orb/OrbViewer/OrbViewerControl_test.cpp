// Actions carried out by the executor against a real engine in deterministic
// mode: the keys' actions reach the engine as seeks, pauses and releases.
#include "Orb/OrbViewer/OrbViewerControl.h"

#include <gtest/gtest.h>

#include <cmath>

#include "OrbLib2/OrbViewer/EngineTestSupport.h"

namespace orb {
namespace {

using test::DocumentOf;
using test::kSlideColours;
using test::Rgb;
using test::SolidShow;
using test::TNoFiles;

struct TNoHost : TFormHost {
    void ShowMessage(const std::u16string&, const std::u16string&) override {}
    bool ConfirmRun(const std::u16string&) override { return false; }
    bool ConfirmOpen(const std::u16string&) override { return false; }
    bool OpenAddress(const std::u16string&) override { return false; }
    bool OpenDocument(const std::u16string&) override { return false; }
    bool SpawnProgram(const std::vector<std::u16string>&) override { return false; }
    bool OpenShow(const TShowCommand&) override { return false; }
    void Quit() override { ++Quits; }
    int32_t Quits = 0;
};

class OrbViewerControl : public ::testing::Test {
protected:
    void Open(const std::string& show) {
        TEngineOptions options = CaptureEngineOptions(clock, 64, 48);
        viewer = std::make_unique<TOrbShowViewer>(device, std::move(options), nullptr);
        ASSERT_TRUE(viewer->Open(std::make_unique<TFileAccessor>(ql::MakeRef<TNoFiles>()),
                                 DocumentOf(show), 0));
        source = std::make_unique<TOrbSource>(ql::MakeRef<ql::TRefObj>(), DocumentOf(show),
                                              u"/opt/show");
        control = std::make_unique<TShowViewerControl>(*viewer);
        executor = std::make_unique<TActionExecutor>(*control, host);
        executor->SetShow(source.get(), u"/opt/show", true);
        viewer->SetPaused(false);
    }
    void Run(double ms, double stepMs = 20) {
        for (double done = 0; done < ms; done += stepMs) {
            test::StepEngine(*viewer->Engine(), clock, musicFrames, stepMs);
            viewer->DeliverEvents();
        }
    }
    int64_t CentreColour() { return test::CentreColourOf(*viewer->Engine()); }

    TVirtualClock clock;
    TSoftDevice device{TSoftDeviceOptions{64, 48}};
    TNoHost host;
    std::unique_ptr<TOrbShowViewer> viewer;
    std::unique_ptr<TOrbSource> source;
    std::unique_ptr<TShowViewerControl> control;
    std::unique_ptr<TActionExecutor> executor;
    int64_t musicFrames = 0;
};

TEST_F(OrbViewerControl, NextAndPrevious_WhilePlayingAndPaused) {
    Open(SolidShow(4, 1000, "stop"));
    Run(300);
    executor->Execute({acNextSlide});
    Run(200);
    EXPECT_EQ(CentreColour(), Rgb(kSlideColours[1]));
    EXPECT_FALSE(viewer->Paused());
    executor->Execute({acPause});
    EXPECT_TRUE(viewer->Paused());
    executor->Execute({acNextSlide});
    Run(200);
    EXPECT_TRUE(viewer->Paused());  // still paused, on the next slide
    EXPECT_EQ(CentreColour(), Rgb(kSlideColours[2]));
    executor->Execute({acPrevSlide});
    Run(200);
    EXPECT_EQ(CentreColour(), Rgb(kSlideColours[1]));
}

TEST_F(OrbViewerControl, PauseBarrier_ReleasedByTheNextKey) {
    Open(SolidShow(3, 1000, "stop", "[slide2]\nPers_EndAction=pause\n"));
    Run(2600, 30);
    ASSERT_TRUE(viewer->Waiting());
    EXPECT_EQ(CentreColour(), Rgb(kSlideColours[1]));
    executor->Execute({acNextSlide});  // releases the wait, no seek
    Run(400, 30);
    EXPECT_FALSE(viewer->Waiting());
    EXPECT_EQ(CentreColour(), Rgb(kSlideColours[2]));
}

TEST_F(OrbViewerControl, ShowEnd_ClosesAShowThatCloses) {
    Open(SolidShow(2, 500, "close"));
    TShowViewerCallbacks callbacks;
    callbacks.Position = [this](double time, bool end) { executor->Position(time, end); };
    viewer->SetCallbacks(std::move(callbacks));
    Run(1500);
    EXPECT_TRUE(executor->Closed());
    EXPECT_EQ(host.Quits, 1);
}

}  // namespace
}  // namespace orb
