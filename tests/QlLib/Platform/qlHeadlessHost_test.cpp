#include "QlLib/Platform/qlHeadlessHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <thread>

namespace ql {
namespace {

std::vector<THostEvent> Drain(THeadlessHost& host, int32_t waitMs = 0) {
    std::vector<THostEvent> events;
    THostEvent event;
    while (waitMs > 0 ? host.WaitEvent(event, waitMs) : host.PollEvent(event)) {
        events.push_back(event);
        if (event.Kind == THostEventKind::Close) break;
    }
    return events;
}

TEST(HeadlessScript_Parse, CommandsBecomeSteps) {
    std::vector<THeadlessStep> steps;
    std::string error;
    ASSERT_TRUE(ParseHeadlessScript("# comment\n\n  wait 250\nkey P ctrl\nmouse dblclick 10 20 right shift\n"
                                    "wheel -2 ctrl\ntext \"pass word\"\nanswer no\nchildexit 1\ncapture \"a b.png\"\n"
                                    "until firstframe 5000\nresize 800 600\nfocus out\nmouse leave\nquit\n",
                                    steps, error))
        << error;
    ASSERT_EQ(steps.size(), 13u);
    EXPECT_EQ(steps[0].Kind, THeadlessStep::TKind::Wait);
    EXPECT_EQ(steps[0].Ms, 250);
    EXPECT_EQ(steps[0].Line, 3);
    ASSERT_EQ(steps[1].Events.size(), 2u);
    EXPECT_EQ(steps[1].Events[0].Key, 'P');
    EXPECT_EQ(steps[1].Events[0].KeyEvent, kePressed);
    EXPECT_EQ(steps[1].Events[0].Modifiers, mods::Ctrl);
    EXPECT_EQ(steps[1].Events[1].KeyEvent, keReleased);
    ASSERT_EQ(steps[2].Events.size(), 5u);
    EXPECT_EQ(steps[2].Events[3].MouseEvent, meDoubleClick);
    EXPECT_EQ(steps[2].Events[3].Button, mbRight);
    EXPECT_EQ(steps[2].Events[3].Modifiers, mods::Shift);
    EXPECT_EQ(steps[3].Events[0].WheelSteps, -2);
    EXPECT_EQ(steps[4].Events[0].Text, u"pass word");
    EXPECT_EQ(steps[5].Answer, TMessageResult::No);
    EXPECT_EQ(steps[6].ExitCode, 1);
    EXPECT_EQ(steps[7].Name, "a b.png");
    EXPECT_EQ(steps[8].Name, "firstframe");
    EXPECT_EQ(steps[8].Ms, 5000);
    EXPECT_EQ(steps[12].Events[0].Kind, THostEventKind::Close);
}

TEST(HeadlessScript_Parse, BadLinesNameTheirNumber) {
    std::vector<THeadlessStep> steps;
    std::string error;
    const std::pair<const char*, const char*> cases[] = {
        {"wait 10\nkey Nope\n", "line 2: unknown key"},
        {"wait -1\n", "line 1: wait"},
        {"wait 999999999999\n", "line 1: wait"},
        {"mouse down 1\n", "line 1: mouse down needs X and Y"},
        {"mouse move 1 2 hyper\n", "line 1: unknown modifier"},
        {"mouse move 1 99999999\n", "line 1: mouse move needs"},
        {"wheel 0\n", "line 1: wheel"},
        {"text \"open\n", "line 1: a quote"},
        {"answer maybe\n", "line 1: answer"},
        {"jump 3\n", "line 1: unknown command"},
        {"resize 0 10\n", "line 1: resize"},
    };
    for (const auto& [script, expected] : cases) {
        EXPECT_FALSE(ParseHeadlessScript(script, steps, error)) << script;
        EXPECT_EQ(error.rfind(expected, 0), 0u) << error;
        EXPECT_TRUE(steps.empty());
    }
}

TEST(HeadlessHost_Events, WaitsAdvanceTheVirtualClockOnly) {
    THeadlessHost host;
    std::string error;
    ASSERT_TRUE(host.LoadScript("wait 1000\nkey Right\nwait 500\nkey Escape\n", error));
    THostEvent event;
    EXPECT_FALSE(host.PollEvent(event));  // polling lets no time pass
    EXPECT_EQ(host.TickMs(), 0);
    EXPECT_FALSE(host.WaitEvent(event, 400));
    EXPECT_EQ(host.TickMs(), 400);
    ASSERT_TRUE(host.WaitEvent(event, 5000));
    EXPECT_EQ(host.TickMs(), 1000);
    EXPECT_EQ(event.Key, vk::Right);
    EXPECT_EQ(event.KeyEvent, kePressed);
    ASSERT_TRUE(host.PollEvent(event));
    EXPECT_EQ(event.KeyEvent, keReleased);
    host.Delay(200);
    EXPECT_EQ(host.TickMs(), 1200);
    ASSERT_TRUE(host.WaitEvent(event, 5000));
    EXPECT_EQ(host.TickMs(), 1500);
    EXPECT_EQ(event.Key, vk::Escape);
}

TEST(HeadlessHost_Events, MouseCarriesHeldButtonsAndThePointer) {
    THeadlessHost host;
    std::string error;
    ASSERT_TRUE(host.LoadScript("mouse move 5 6\nmouse dblclick 10 20\nwheel 3 ctrl\nmouse down 1 1 right\n"
                                "mouse move 2 2\nmouse leave\n",
                                error));
    const std::vector<THostEvent> events = Drain(host);
    ASSERT_EQ(events.size(), 11u);
    EXPECT_EQ(events[0].Modifiers, 0);
    EXPECT_EQ(events[1].MouseEvent, mePressed);
    EXPECT_EQ(events[1].Modifiers, mods::LeftHeld);
    EXPECT_EQ(events[2].MouseEvent, meReleased);
    EXPECT_EQ(events[2].Modifiers, 0);
    EXPECT_EQ(events[3].MouseEvent, mePressed);
    EXPECT_EQ(events[4].MouseEvent, meDoubleClick);
    EXPECT_EQ(events[4].Modifiers, mods::LeftHeld);
    EXPECT_EQ(events[5].MouseEvent, meReleased);
    EXPECT_EQ(events[6].Kind, THostEventKind::Wheel);
    EXPECT_EQ(events[6].WheelSteps, 3);
    EXPECT_EQ(events[6].X, 10);
    EXPECT_EQ(events[6].Y, 20);
    EXPECT_EQ(events[6].Modifiers, mods::Ctrl);
    EXPECT_EQ(events[7].Modifiers, mods::RightHeld);
    EXPECT_EQ(events[8].Modifiers, mods::RightHeld);
    EXPECT_EQ(events[9].Kind, THostEventKind::MouseLeave);
    EXPECT_EQ(events[10].Kind, THostEventKind::Close);
    int32_t x, y;
    EXPECT_FALSE(host.CursorPosition(x, y));
}

TEST(HeadlessHost_End, CloseThenQuitForAProgramThatStays) {
    THeadlessHost host;
    std::string error;
    ASSERT_TRUE(host.LoadScript("", error));
    THostEvent event;
    ASSERT_TRUE(host.WaitEvent(event, 20));
    EXPECT_EQ(event.Kind, THostEventKind::Close);
    EXPECT_TRUE(host.ScriptFinished());
    int waits = 0;
    while (!host.WaitEvent(event, 20)) ASSERT_LT(++waits, 10000);
    EXPECT_EQ(event.Kind, THostEventKind::Quit);
    EXPECT_GE(host.TickMs(), 10000);
}

TEST(HeadlessHost_End, ABadScriptIsRecordedAndClosesAtOnce) {
    std::ostringstream out;
    THeadlessHost host(&out);
    std::string error;
    EXPECT_FALSE(host.LoadScript("key\n", error));
    EXPECT_EQ(out.str(), "{\"t\":0,\"kind\":\"script\",\"error\":\"line 1: key needs a key name\"}\n");
    THostEvent event;
    ASSERT_TRUE(host.PollEvent(event));
    EXPECT_EQ(event.Kind, THostEventKind::Close);
}

TEST(HeadlessHost_Record, MessagesTakeScriptedAnswersThatFit) {
    THeadlessHost host;
    std::string error;
    ASSERT_TRUE(host.LoadScript("answer no\nanswer cancel\nanswer cancel\nwait 5\n", error));
    THostEvent event;
    host.PollEvent(event);  // runs the answers
    EXPECT_EQ(host.MessageBox(u"Run Program", u"Run it?", TMessageIcon::Warning, TMessageButtons::YesNo),
              TMessageResult::No);
    // An answer that does not fit the box gives its default.
    EXPECT_EQ(host.MessageBox(u"Slideshow Error", u"a\rb", TMessageIcon::Warning, TMessageButtons::Ok),
              TMessageResult::Ok);
    EXPECT_EQ(host.MessageBox(u"", u"q", TMessageIcon::None, TMessageButtons::OkCancel), TMessageResult::Cancel);
    EXPECT_EQ(host.MessageBox(u"", u"q", TMessageIcon::None, TMessageButtons::YesNo), TMessageResult::Yes);
    const std::vector<std::string> lines = host.RecordedLines("message");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1],
              "{\"t\":0,\"kind\":\"message\",\"caption\":\"Slideshow Error\",\"text\":\"a\\rb\",\"icon\":\"warning\","
              "\"buttons\":\"ok\",\"answer\":\"ok\"}");
}

TEST(HeadlessHost_Record, ProgramsAreRecordedNotStarted) {
    THeadlessHost host;
    std::string error;
    ASSERT_TRUE(host.LoadScript("childexit 1\n", error));
    THostEvent event;
    host.PollEvent(event);
    EXPECT_EQ(host.Launcher().OpenUrl(u"https://example.com"), TLaunchResult::Started);
    EXPECT_EQ(host.Launcher().OpenUrl(u"file:///etc/passwd"), TLaunchResult::Refused);
    EXPECT_EQ(host.Launcher().Spawn({u"/usr/bin/eog", u"a b.png"}), TLaunchResult::Started);
    EXPECT_EQ(host.Launcher().SpawnAndWait({u"/opt/show", u"-startup"}, nullptr), 1);
    EXPECT_EQ(host.Launcher().SpawnAndWait({u"/opt/show"}, nullptr), 0);
    host.RecordExit(3);
    const std::vector<std::string> lines = host.RecordedLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "{\"t\":0,\"kind\":\"open\",\"url\":\"https://example.com\",\"result\":\"started\"}");
    EXPECT_EQ(lines[1], "{\"t\":0,\"kind\":\"open\",\"url\":\"file:///etc/passwd\",\"result\":\"refused\"}");
    EXPECT_EQ(lines[2],
              "{\"t\":0,\"kind\":\"run\",\"argv\":[\"/usr/bin/eog\",\"a b.png\"],\"wait\":false,\"result\":\"started\"}");
    EXPECT_EQ(lines[3], "{\"t\":0,\"kind\":\"run\",\"argv\":[\"/opt/show\",\"-startup\"],\"wait\":true,\"exitcode\":1}");
    EXPECT_EQ(lines[5], "{\"t\":0,\"kind\":\"exit\",\"code\":3}");
}

TEST(HeadlessHost_Capture, SavesTheLastFrameThroughTheSink) {
    THeadlessHost host;
    std::string error;
    ASSERT_TRUE(host.LoadScript("capture none.png\nwait 10\ncapture one.png\n", error));
    std::string saved;
    uint32_t firstPixel = 0;
    host.SetCaptureSink([&](const std::string& file, const TFrameView& frame) {
        saved = file;
        std::memcpy(&firstPixel, frame.Pixels, 4);
        return frame.Width == 2 && frame.Height == 1;
    });
    THostEvent event;
    host.PollEvent(event);  // nothing presented yet
    const uint32_t pixels[4] = {0xFF112233u, 0xFF445566u, 0u, 0u};
    host.Present({reinterpret_cast<const uint8_t*>(pixels), 2, 1, 16});
    host.WaitEvent(event, 100);
    EXPECT_EQ(saved, "one.png");
    EXPECT_EQ(firstPixel, 0xFF112233u);
    const std::vector<std::string> lines = host.RecordedLines("capture");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("\"ok\":false"), std::string::npos);
    EXPECT_NE(lines[1].find("\"ok\":true"), std::string::npos);
    TFrameCopy copy;
    ASSERT_TRUE(host.ReadWindowPixels(copy));
    EXPECT_EQ(copy.Width, 2);
}

TEST(HeadlessHost_Capture, OversizedOrBrokenFramesAreIgnored) {
    THeadlessHost host;
    const uint32_t pixel = 0;
    host.Present({reinterpret_cast<const uint8_t*>(&pixel), 1, 1, 2});
    host.Present({nullptr, 1, 1, 4});
    host.Present({reinterpret_cast<const uint8_t*>(&pixel), 100000, 1, 400000});
    TFrameCopy copy;
    EXPECT_FALSE(host.ReadWindowPixels(copy));
}

TEST(HeadlessHost_Until, WaitsForALineFromAnotherThread) {
    THeadlessHost host;
    std::string error;
    ASSERT_TRUE(host.LoadScript("until firstframe 20000\nkey Space\n", error));
    std::thread engine([&] { host.Record(THostRecord("firstframe")); });
    THostEvent event;
    int waits = 0;
    while (!host.WaitEvent(event, 20)) ASSERT_LT(++waits, 5000);
    engine.join();
    EXPECT_EQ(event.Key, vk::Space);
    EXPECT_TRUE(host.RecordedLines("script").empty());
}

TEST(HeadlessHost_Until, GivesUpAfterItsBoundAndSaysSo) {
    THeadlessHost host;
    std::string error;
    ASSERT_TRUE(host.LoadScript("until never 30\nkey Space\n", error));
    THostEvent event;
    int waits = 0;
    while (!host.WaitEvent(event, 10)) ASSERT_LT(++waits, 5000);
    EXPECT_EQ(event.Key, vk::Space);
    ASSERT_EQ(host.RecordedLines("script").size(), 1u);
}

TEST(HeadlessHost_User, PostedEventsWakeAWait) {
    THeadlessHost host;
    std::string error;
    ASSERT_TRUE(host.LoadScript("until nothing 60000\n", error));
    std::thread poster([&] { host.PostUserEvent(17, 1234567890123LL); });
    THostEvent event;
    int waits = 0;
    while (!host.WaitEvent(event, 50)) ASSERT_LT(++waits, 2000);
    poster.join();
    EXPECT_EQ(event.Kind, THostEventKind::User);
    EXPECT_EQ(event.Code, 17);
    EXPECT_EQ(event.Param, 1234567890123LL);
}

TEST(HeadlessHost_Window, ChangesAreRecorded) {
    THeadlessHost host;
    std::string error;
    TWindowParams params;
    params.Title = u"OrbViewer v5.6";
    params.FullScreen = true;
    params.FullScreenMonitor = 7;  // out of range: the primary
    ASSERT_TRUE(host.OpenWindow(params, error));
    EXPECT_FALSE(host.OpenWindow(params, error));
    EXPECT_EQ(host.ClientRect(), (THostRect{0, 0, 1920, 1080}));
    EXPECT_EQ(host.FrameExtents(), THostRect{});
    host.SetBorder(TWindowBorder::Fixed);
    host.SetClientRect({100, 50, 740, 530});
    EXPECT_EQ(host.FrameExtents(), (THostRect{4, 30, 4, 4}));
    ASSERT_TRUE(host.LoadScript("resize 320 200\n", error));
    THostEvent event;
    ASSERT_TRUE(host.PollEvent(event));
    EXPECT_EQ(host.ClientRect(), (THostRect{100, 50, 420, 250}));
    host.SetCursor(TCursorShape::Hidden);
    host.SetCursor(TCursorShape::Hidden);
    const std::vector<std::string> windows = host.RecordedLines("window");
    ASSERT_EQ(windows.size(), 3u);
    EXPECT_EQ(windows[0],
              "{\"t\":0,\"kind\":\"window\",\"change\":\"open\",\"title\":\"OrbViewer v5.6\",\"left\":0,\"top\":0,"
              "\"width\":1920,\"height\":1080,\"border\":\"none\",\"fullscreen\":true,\"visible\":true}");
    EXPECT_EQ(host.RecordedLines("cursor").size(), 1u);
}

}  // namespace
}  // namespace ql
