// The host without a display: input comes from a script, time from a virtual
// clock the script advances, and what the program did goes to a record of
// JSON lines, so that the player is tested end to end on any machine.
//
// Script: one command per line; blank lines and lines starting with "#" are
// skipped; words are separated by blanks, and a word may be double-quoted.
//   wait MS                 let MS virtual milliseconds pass
//   until KIND [MS]         wait until the program records a line of KIND
//                           (real time, at most MS, default 10000; the
//                           virtual clock follows the program's waits)
//   key NAME [MODS...]      press and release a key (names: VirtualKeyFromName)
//   keydown NAME [MODS...]  press only (NAME may be repeated while down)
//   keyup NAME [MODS...]    release only
//   text "CHARS"            typed characters (one Char event)
//   mouse move X Y [MODS...]
//   mouse down X Y [BUTTON] [MODS...]   BUTTON: left (default), right, middle
//   mouse up X Y [BUTTON] [MODS...]
//   mouse click X Y [BUTTON] [MODS...]  down then up
//   mouse dblclick X Y [BUTTON] [MODS...]
//                           down, up, then press + double click, up
//   mouse leave
//   wheel STEPS [MODS...]   whole steps; positive is away from the user
//   focus in|out
//   resize W H
//   answer ok|cancel|yes|no the reply to the next message box (default: ok,
//                           or yes for a yes/no box); answers queue up
//   childexit CODE          the exit code of the next waited child program
//                           (default 0); codes queue up
//   capture FILE            save the last presented frame through the capture
//                           sink (a PNG writer the program sets)
//   quit                    the user closes the window (a Close event)
// MODS: shift, ctrl, alt, win. Held mouse buttons are added to mouse
// modifiers by the host itself.
//
// Input commands run when the program polls for events; wait, until and
// capture run when it waits. When the script is done the host sends Close;
// if the program is still running 10 virtual seconds later it gets Quit,
// and again every virtual second after that.
//
// Record: one JSON object per line, {"t": virtual ms, "kind": ..., fields}.
// The host itself writes "script" (a script error, then it quits), "message"
// (caption, text, icon, buttons, answer), "open" (url, result),
// "open-document" (path, result), "run" (argv,
// wait, result), "capture" (file, ok), "window" (on window changes), "cursor"
// and "exit" lines; the program adds its own kinds through Record.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "QlLib/Platform/qlHost.h"
#include "QlLib/Platform/qlProcess.h"

namespace ql {

// One parsed script command.
struct THeadlessStep {
    enum class TKind : uint8_t {
        Wait,
        Until,
        Events,  // Events holds the input events to deliver
        Answer,
        ChildExit,
        Capture,
    };
    TKind Kind = TKind::Wait;
    int32_t Line = 0;
    int64_t Ms = 0;    // Wait, Until (bound)
    std::string Name;  // Until: record kind; Capture: file (UTF-8)
    TMessageResult Answer = TMessageResult::Ok;
    int32_t ExitCode = 0;
    std::vector<THostEvent> Events;
};

// Parses a whole script; false with "line N: reason" in error at the first
// bad line. Mouse modifiers do not yet carry held buttons (the host adds them
// as it plays). Numbers are bounded: waits up to 24 hours, coordinates and
// sizes within +-1000000, wheel steps within +-1000.
bool ParseHeadlessScript(std::string_view script, std::vector<THeadlessStep>& steps,
                         std::string& error);

class THeadlessHost : public THost {
public:
    // Saves a captured frame under fileName (UTF-8); false on failure.
    using TCaptureSink = std::function<bool(const std::string& fileName, const TFrameView& frame)>;

    // The record goes to out (not owned; it must outlive the host); null
    // keeps the lines in memory only. Monitors: one primary 1920 x 1080 with
    // a work area 40 pixels shorter at the bottom.
    explicit THeadlessHost(std::ostream* out = nullptr);
    ~THeadlessHost() override;

    // Replaces the script; false with the reason when it does not parse
    // (the host then has no script and closes at once).
    bool LoadScript(std::string_view script, std::string& error);
    // LoadScript with the text of a UTF-8 file of at most 1 MiB.
    bool LoadScriptFile(const std::string& fileName, std::string& error);
    void SetCaptureSink(TCaptureSink sink) { m_captureSink = std::move(sink); }
    void SetMonitors(std::vector<TMonitorInfo> monitors) { m_monitors = std::move(monitors); }
    // Whether wait also lets real time pass (for programs whose other threads
    // run on the real clock); off by default.
    void SetRealTimeWaits(bool on) { m_realTimeWaits = on; }

    // Every line recorded so far (also those written to the stream).
    std::vector<std::string> RecordedLines() const;
    // The recorded lines of one kind.
    std::vector<std::string> RecordedLines(std::string_view kind) const;
    bool ScriptFinished() const;
    int64_t FramesPresented() const { return m_framesPresented; }
    TCursorShape Cursor() const { return m_cursor; }
    const TWindowParams& Window() const { return m_window; }

    std::vector<TMonitorInfo> Monitors() override { return m_monitors; }
    bool OpenWindow(const TWindowParams& params, std::string& error) override;
    bool HasWindow() const override { return m_hasWindow; }
    void SetTitle(const std::u16string& title) override;
    void SetBorder(TWindowBorder border) override;
    void SetClientRect(const THostRect& client) override;
    void SetFullScreen(int32_t monitor) override;
    void SetVisible(bool visible) override;
    void Raise() override {}
    THostRect ClientRect() const override { return m_window.Client; }
    THostRect FrameExtents() const override;

    bool PollEvent(THostEvent& event) override;
    bool WaitEvent(THostEvent& event, int32_t timeoutMs) override;
    void PostUserEvent(int32_t code, int64_t param) override;

    void SetCursor(TCursorShape shape) override;
    bool CursorPosition(int32_t& x, int32_t& y) const override;

    TMessageResult MessageBox(const std::u16string& caption, const std::u16string& text,
                              TMessageIcon icon, TMessageButtons buttons) override;
    bool SetClipboardText(const std::u16string& text) override;
    std::u16string ClipboardText() override { return m_clipboard; }

    void Present(const TFrameView& frame) override;
    bool ReadWindowPixels(TFrameCopy& frame) override;
    // A context without a window (EGL): its frames come back as pixels and
    // are presented like any other.
    std::unique_ptr<TGlContext> CreateGlContext(std::string& error) override;

    int64_t TickMs() const override;
    void Delay(int32_t ms) override;

    TProcessLauncher& Launcher() override { return *m_launcher; }

    void Record(const THostRecord& record) override;

private:
    class TRecordingLauncher;
    friend class TRecordingLauncher;

    // Runs the commands that are due without time passing; input goes to
    // m_pending, and the end of the script sends Close (later Quit).
    void Advance();
    // A user event, else the next due script event.
    bool TakeEvent(THostEvent& event);
    // Fills in what the host tracks itself (held buttons, pointer, size).
    void Deliver(THostEvent& event);
    // Lets at most `most` ms pass for the running wait or until step; the ms
    // that passed.
    int64_t PassTime(int64_t most);
    void FinishStep();
    void MarkRecord();
    bool RecordedKind(const std::string& kind) const;
    void FinishScript();
    THostRect MonitorBounds(int32_t monitor) const;
    void RecordWindow(const char* change);

    std::ostream* m_out;
    mutable std::mutex m_lock;  // guards m_lines, m_recordedKinds, m_markLine and m_userEvents
    std::condition_variable m_wake;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_recordedKinds;
    size_t m_markLine = 0;  // until looks at the lines from here on
    std::deque<THostEvent> m_userEvents;

    std::vector<THeadlessStep> m_steps;
    size_t m_nextStep = 0;
    int64_t m_waitLeft = -1;      // of the current wait step; -1 when none is running
    int64_t m_untilStarted = -1;  // real ms when the current until step began
    std::deque<THostEvent> m_pending;
    std::deque<TMessageResult> m_answers;
    std::deque<int32_t> m_childExits;
    bool m_scriptDone = false;
    bool m_closeSent = false;
    int64_t m_doneAt = 0;
    int64_t m_lastQuitAt = 0;

    std::atomic<int64_t> m_clock{0};  // read by Record on any thread
    bool m_realTimeWaits = false;
    std::vector<TMonitorInfo> m_monitors;
    TWindowParams m_window;
    bool m_hasWindow = false;
    TCursorShape m_cursor = TCursorShape::Arrow;
    int32_t m_mouseX = -1, m_mouseY = -1;
    bool m_mouseInside = false;
    uint8_t m_buttonsHeld = 0;
    std::u16string m_clipboard;
    TFrameCopy m_lastFrame;
    int64_t m_framesPresented = 0;
    TCaptureSink m_captureSink;
    std::unique_ptr<TProcessLauncher> m_launcher;
};

}  // namespace ql
