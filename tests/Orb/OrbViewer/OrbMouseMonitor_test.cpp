#include "Orb/OrbViewer/OrbMouseMonitor.h"

#include <gtest/gtest.h>

namespace orb {
namespace {

TEST(OrbMouseMonitor, StillCursor_HiddenAfterTheIntervalShownByARealMove) {
    TMouseMonitor monitor(0);
    monitor.Configure(2, 3000, false, 0);
    monitor.Position(100, 100, 0);
    monitor.Poll(true, 2900);
    EXPECT_FALSE(monitor.Hidden());
    monitor.Position(103, 96, 3000);  // jitter: not a move
    monitor.Poll(true, 3020);
    EXPECT_TRUE(monitor.Hidden());
    monitor.Position(105, 100, 3040);
    EXPECT_FALSE(monitor.Hidden());
    monitor.Poll(true, 5000);
    EXPECT_FALSE(monitor.Hidden());  // the interval restarted at the move
}

TEST(OrbMouseMonitor, HideModes_AtOnceOnStartOrNever) {
    TMouseMonitor always(0);
    always.Configure(1, 0, false, 0);
    always.Position(0, 0, 0);
    always.Position(500, 500, 10);
    EXPECT_TRUE(always.Hidden());
    TMouseMonitor atStart(0);
    atStart.Configure(2, 1000, true, 0);
    EXPECT_TRUE(atStart.Hidden());
    TMouseMonitor never(0);
    never.Configure(0, 1000, true, 0);
    never.Poll(true, 100000);
    EXPECT_FALSE(never.Hidden());
}

TEST(OrbMouseMonitor, Leave_ReportedOnceWhenThePointerGoes) {
    TMouseMonitor monitor(0);
    monitor.Position(1, 1, 0);
    EXPECT_FALSE(monitor.Poll(true, 20));
    EXPECT_TRUE(monitor.Poll(false, 40));
    EXPECT_FALSE(monitor.Poll(false, 60));
}

TEST(OrbMouseMonitor, Input_QuietAtFirstAndWhileAChildRuns) {
    TMouseMonitor monitor(5000);
    EXPECT_FALSE(monitor.AcceptsInput(5999, false));
    EXPECT_TRUE(monitor.AcceptsInput(6000, false));
    EXPECT_FALSE(monitor.AcceptsInput(9000, true));
}

TEST(OrbMouseMonitor, Shape_HandOverActionsArrowOverButtons) {
    TMouseMonitor monitor(0);
    EXPECT_EQ(monitor.Shape(false, true, false), TCursorKind::Hand);
    EXPECT_EQ(monitor.Shape(false, true, true), TCursorKind::Default);
    monitor.Configure(1, 0, false, 0);
    EXPECT_EQ(monitor.Shape(false, true, false), TCursorKind::Hidden);
    EXPECT_EQ(monitor.Shape(true, false, false), TCursorKind::Default);
}

}  // namespace
}  // namespace orb
