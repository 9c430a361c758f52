// The main form's action executor: what the player does with the actions
// that leave the engine (keys, clicks, slides, dialogs), and the exit with its
// run-on-exit and the run stack of shows to come back to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbViewer/qlOrbRunCommand.h"

namespace orb {

inline constexpr char16_t kSlideshowErrorCaption[] = u"Slideshow Error";

// The show viewer as the executor steers it.
class TViewerControl {
public:
    virtual ~TViewerControl() = default;
    virtual double ShowTime() const = 0;
    virtual bool Paused() const = 0;
    // Stopped at a pause barrier until released.
    virtual bool Waiting() const = 0;
    virtual void Seek(int64_t time) = 0;
    virtual void SetPaused(bool paused) = 0;
    virtual void ReleaseWait() = 0;
    // Asks the engine for the frame; the print dialog opens when it comes.
    virtual void PrintFrame() = 0;
};

// Where another show comes from: a command line of a show (action 12, 14,
// run on exit, the run stack).
struct TShowCommand {
    std::u16string FileName;
    std::optional<int32_t> StartSlide;  // 0-based
    std::optional<int64_t> StartTime;
};

// The window system and the process, as the executor needs them.
class TFormHost {
public:
    virtual ~TFormHost() = default;
    // A message box; the caption is "Slideshow Error" or empty.
    virtual void ShowMessage(const std::u16string& text, const std::u16string& caption) = 0;
    // Asks the user whether a show's program may run; shows the exact command.
    virtual bool ConfirmRun(const std::u16string& command) = 0;
    // The same for a document the desktop's opener would open.
    virtual bool ConfirmOpen(const std::u16string& document) = 0;
    virtual bool OpenAddress(const std::u16string& address) = 0;
    virtual bool OpenDocument(const std::u16string& path) = 0;
    virtual bool SpawnProgram(const std::vector<std::u16string>& arguments) = 0;
    // Opens another show interactively (with its messages); false when it
    // did not open.
    virtual bool OpenShow(const TShowCommand& command) = 0;
    // Ends the message loop; the program exits with the executor's exit code.
    virtual void Quit() = 0;
};

// Parses the command line of action 12 and 14: the first plain value is the
// show file, "-slide" and "-time" its start.
TShowCommand ParseShowCommand(const std::u16string& text);

class TActionExecutor {
public:
    TActionExecutor(TViewerControl& viewer, TFormHost& host) : m_viewer(viewer), m_host(host) {}

    // The show now playing. `selfContained`: it came out of the running
    // program's own file, so its programs run as published; others need
    // the user's consent (or "-allowrun").
    void SetShow(const TOrbSource* source, const std::u16string& showFileName, bool selfContained);
    void SetAllowRun(bool allow) { m_allowRun = allow; }
    void SetStartupMode(bool startup) { m_startupMode = startup; }
    // While a child program runs, actions and the exit are ignored.
    void SetChildRunning(bool running) { m_childRunning = running; }

    void Execute(const TOrbActionInfo& action);
    // The wheel: `steps` above 0 turn away from the user.
    void Wheel(int32_t steps, bool ctrl);
    // A position report; the end of a show whose repeat mode is "close"
    // closes the form.
    void Position(double time, bool end);
    // The close query. `byShow`: actions 1 and 16, the end of a closing show,
    // a failed action 12. False when the form stays (another show opened).
    bool Close(bool byShow);

    int32_t ExitCode() const { return m_exitCode; }
    bool Closed() const { return m_closed; }
    const std::vector<TShowCommand>& RunStack() const { return m_runStack; }

    // Runs a run text (actions 8 to 11, run on exit). False when nothing ran.
    bool RunText(const std::u16string& text);

private:
    bool OpenAnother(const TOrbActionInfo& action);
    void SeekKeepingPause(int64_t target);

    TViewerControl& m_viewer;
    TFormHost& m_host;
    const TOrbSource* m_source = nullptr;
    std::u16string m_showFileName;
    bool m_selfContained = false;
    bool m_allowRun = false;
    bool m_startupMode = false;
    bool m_childRunning = false;
    bool m_inAction = false;
    bool m_closing = false;
    bool m_closed = false;
    bool m_atEnd = false;
    int32_t m_exitCode = 0;
    std::vector<TShowCommand> m_runStack;
};

}  // namespace orb
