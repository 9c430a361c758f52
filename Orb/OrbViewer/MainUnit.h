// The player's top level: which show the command line asks for, the main
// form that plays it in the host's window, and the program's run.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Orb/OrbViewer/OrbActionExecutor.h"
#include "Orb/OrbViewer/OrbDialogLoop.h"
#include "Orb/OrbViewer/OrbFrameMailbox.h"
#include "Orb/OrbViewer/OrbMouseMonitor.h"
#include "Orb/OrbViewer/OrbShowOpener.h"
#include "Orb/OrbViewer/OrbViewerOptions.h"
#include "Orb/OrbViewer/OrbWindowGeometry.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbInputMapping.h"
#include "OrbLib2/OrbViewer/qlOrbPrintDialog.h"
#include "OrbLib2/OrbViewer/qlOrbShowViewer.h"
#include "QlLib/Music/SoundOutput.h"
#include "QlLib/Platform/qlHost.h"
#include "QlLib/qlCommands.h"

namespace orb {

class TOrbShowLocator;

struct TShowRequest {
    std::u16string FileName;
    TShowFileKind Kind = TShowFileKind::PlayerFile;
};

// The show the command line asks for: "-filename" (a project document),
// else "-exename" (another player file), else a bare file argument (either),
// else the program's own file. Relative names are taken from the working
// folder when they exist there, else from the program's folder.
TShowRequest ShowRequestFromCommandLine(const ql::TCommandsStorage& commands,
                                        const std::u16string& programFileName);

// The window a show asks for in its main section: the design size for a
// windowed show, full screen otherwise, framed or not.
TGeometryRequest GeometryRequestOfShow(const TOrbShowOptions& options, int32_t screenWidth,
                                       int32_t screenHeight);

// Which device draws the show: "-device auto|gl|soft".
enum class TDeviceChoice : uint8_t { Auto, Gl, Soft };

struct TMainFormSettings {
    std::u16string ProgramFileName;
    TShowRequest Show;
    TViewerOptions Options;
    // The engine runs on the window's thread, stepped on the host's clock,
    // so that the headless host's virtual time plays a show the same way on
    // every run. Otherwise it runs on its own thread on the system clock.
    bool Deterministic = false;
    // Drawing threads of the software device, the engine's included.
    int32_t DrawThreads = 2;
    // Auto draws with OpenGL where the window can have a context.
    TDeviceChoice Device = TDeviceChoice::Soft;
    // A copy of this program already runs (screen-saver shows refuse then).
    bool AnotherInstanceRunning = false;
    ql::TSoundOutputOptions Sound;
    // Where the print dialog sends pictures; null saves them to files.
    std::unique_ptr<TPrintServices> Printer;
};

// The main form: plays the current show in the host's window, turns the
// host's input into actions, and carries out the actions that leave the
// engine. Everything here runs on the host's thread.
class TMainForm final : private TFormHost {
public:
    TMainForm(ql::THost& host, TMainFormSettings settings);
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // Opens the show of the settings and plays it until the form closes; the
    // process exit code: 0, 1 after action 16, 2 when the first show could
    // not be opened.
    int32_t Run();

private:
    // --- what the action executor asks of the form
    void ShowMessage(const std::u16string& text, const std::u16string& caption) override;
    bool ConfirmRun(const std::u16string& command) override;
    bool ConfirmOpen(const std::u16string& document) override;
    bool OpenAddress(const std::u16string& address) override;
    bool OpenDocument(const std::u16string& path) override;
    bool SpawnProgram(const std::vector<std::u16string>& arguments) override;
    bool OpenShow(const TShowCommand& command) override;
    void Quit() override;

    enum class TOpenOutcome { Opened, Refused, Failed };
    TOpenOutcome OpenInteractive(const std::u16string& fileName, TShowFileKind kind,
                                 std::optional<int32_t> startSlide,
                                 std::optional<int64_t> startTime);
    // Places and opens the window for the show (first show) or moves it.
    void PlaceForShow(const TOrbShowOptions& options);
    void ApplyGeometry(const TGeometryRequest& request);
    // The start-up window: a child copy of the program plays the show's
    // start-up dialog; exit code 1 lets the show start.
    bool StartupWindowAllows(const std::u16string& fileName, bool isPackage);
    void ConfigureForShow(const TOrbShowOptions& options);

    // --- the loop
    void Pass();
    void StepEngine();
    void Handle(const ql::THostEvent& event);
    void Key(const ql::THostEvent& event);
    void Mouse(const ql::THostEvent& event);
    void Wheel(const ql::THostEvent& event);
    void MouseLeft();
    void PollCursor();
    void PresentNewest();
    // Shows a frame made here (a dialog over the last frame) on whichever
    // device draws the window.
    void ShowFrame(const ql::TFrameView& frame);
    // Makes the GL device for the window when the choice allows and GL is
    // there; logs why not otherwise. Before the first show opens only.
    void ChooseDevice(int32_t width, int32_t height);
    // After the window settled at a new size, the device follows it.
    void FollowWindowSize();
    // Client coordinates to the frame's: the window may show it scaled.
    void ToFrame(int32_t& x, int32_t& y) const;

    // --- engine notifications
    void Position(double time, bool end);
    void Geometry(int32_t width, int32_t height, int32_t mode);
    void PrintImage(std::unique_ptr<ql::TBitmap> frame);

    void RunDialog(ql::TDialog& dialog);
    void Record(const ql::THostRecord& record) { m_host.Record(record); }

    class TRecordingControl;

    ql::THost& m_host;
    TMainFormSettings m_settings;
    TVirtualClock m_clock;  // the engine's clock in deterministic mode
    std::unique_ptr<TRenderDevice> m_device;
    bool m_drawsWithGl = false;
    // A resize waits until the window stands still for a moment: every
    // new size reloads the slides.
    bool m_resizePending = false;
    int64_t m_resizeTick = 0;
    TFrameMailbox m_frames;
    ql::TFrameCopy m_shown;  // the frame on the screen now
    TShowStack m_shows;      // the show playing and the ones it was opened from
    std::unique_ptr<TOrbShowViewer> m_viewer;
    std::unique_ptr<TRecordingControl> m_control;
    std::unique_ptr<TActionExecutor> m_executor;
    std::unique_ptr<TInputMappingClass> m_input;
    TMouseMonitor m_mouse;
    TDialogLoop m_dialogs;
    bool m_wheelEnabled = true;
    std::u16string m_showFile;
    std::u16string m_orbVersion;
    bool m_windowPlaced = false;
    bool m_quit = false;
    int32_t m_children = 0;
    int64_t m_startTick = 0;
    int64_t m_musicFrames = 0;
    int32_t m_lastSlide = -1;
    ql::TCursorShape m_cursor = ql::TCursorShape::Arrow;
};

// Runs the player for this command line: chooses the host (a window on the
// display, or the headless host with "-headless SCRIPT"), takes the
// single-instance lock and runs the main form. The process exit code.
int RunViewer(const ql::TCommandsStorage& commands, const std::u16string& programFileName);

}  // namespace orb
