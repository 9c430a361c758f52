#include "Orb/OrbViewer/OrbWindowGeometry.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

const std::vector<TMonitorInfo> kMonitors = {
    {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true},
    {{1920, 0, 3200, 1024}, {1920, 30, 3200, 1024}, false},
};

TEST(OrbWindowGeometry, FramedWindow_CentredOnThePrimaryWithItsFrame) {
    TGeometryOptions options;
    options.FrameWidth = 10;
    options.FrameHeight = 40;
    const auto geometry = PlaceWindow({640, 480, TWindowMode::Framed}, kMonitors, options);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->Border, TBorderStyle::Fixed);
    EXPECT_EQ(geometry->ClientWidth, 640);
    EXPECT_EQ(geometry->Outer, (TScreenRect{635, 280, 1285, 800}));
    options.Resize = true;
    EXPECT_EQ(PlaceWindow({640, 480, TWindowMode::Framed}, kMonitors, options)->Border, TBorderStyle::Resizable);
}

TEST(OrbWindowGeometry, FullScreen_TakesTheChosenMonitor) {
    TGeometryOptions options;
    options.Display = 2;
    const auto geometry = PlaceWindow({640, 480, TWindowMode::FullScreen}, kMonitors, options);
    EXPECT_TRUE(geometry->FullScreen);
    EXPECT_EQ(geometry->Border, TBorderStyle::None);
    EXPECT_EQ(geometry->Outer, (TScreenRect{1920, 0, 3200, 1024}));
    options.Display = 7;  // no such monitor: the primary
    EXPECT_EQ(PlaceWindow({1, 1, TWindowMode::FullScreen}, kMonitors, options)->Outer,
              (TScreenRect{0, 0, 1920, 1080}));
}

TEST(OrbWindowGeometry, OversizedWindow_ScaledIntoTheWorkArea) {
    TGeometryOptions options;
    options.DesktopAlign = true;
    const auto geometry = PlaceWindow({4000, 2000, TWindowMode::Frameless}, kMonitors, options);
    EXPECT_EQ(geometry->ClientWidth, 1920);
    EXPECT_EQ(geometry->ClientHeight, 960);
    EXPECT_EQ(geometry->Outer, (TScreenRect{0, 40, 1920, 1000}));
    const auto absurd = PlaceWindow({2000000000, 3, TWindowMode::Frameless}, kMonitors, {});
    EXPECT_LE(absurd->ClientWidth, 1920);
    EXPECT_GE(absurd->ClientHeight, 1);
}

TEST(OrbWindowGeometry, NoMonitor_NoGeometry) {
    EXPECT_FALSE(PlaceWindow({640, 480, TWindowMode::Framed}, {}, {}));
    EXPECT_EQ(WindowModeFromCode(0), TWindowMode::FullScreen);
    EXPECT_EQ(WindowModeFromCode(2), TWindowMode::Frameless);
    EXPECT_EQ(WindowModeFromCode(99), TWindowMode::Framed);
}

}  // namespace
}  // namespace orb
