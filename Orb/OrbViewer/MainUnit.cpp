#include "Orb/OrbViewer/MainUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <thread>

#include "Orb/OrbViewer/OrbNavigation.h"
#include "Orb/OrbViewer/OrbShowOpener.h"
#include "Orb/OrbViewer/OrbStartupWindow.h"
#include "Orb/OrbViewer/OrbViewerControl.h"
#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/NavPanel/qlNavEngineOverlay.h"
#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbPrintServices.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlGlApi.h"
#include "QlLib/Platform/qlHeadlessHost.h"
#include "QlLib/Platform/qlInstanceLock.h"
#include "QlLib/Platform/qlSdlHost.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

std::u16string FolderOf(const std::u16string& path) {
    const auto slash = path.find_last_of(u'/');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

std::u16string AbsoluteShowName(const std::u16string& name, const std::u16string& programFileName) {
    if (name.empty() || name[0] == u'/') return name;
    if (ql::TFileAPI::FileExists(name) || ql::TFileAPI::DirectoryExists(name)) return name;
    return FolderOf(programFileName) + name;
}

// The first value after the program's own path, if any: "orbviewer show.exe".
// Screen-saver tokens ("/s", and the other one-letter ones a desktop may
// pass) are not file names.
std::u16string BareFileArgument(const ql::TCommandsStorage& commands) {
    const ql::TCommand* unnamed = commands.Command(u"");
    if (!unnamed) return {};
    for (int32_t i = 1; i < unnamed->Count(); ++i) {
        const std::u16string& value = unnamed->Item(i)->Value();
        if (value.size() == 2 && value[0] == u'/') continue;
        return value;
    }
    return {};
}

}  // namespace

TShowRequest ShowRequestFromCommandLine(const ql::TCommandsStorage& commands,
                                        const std::u16string& programFileName) {
    TShowRequest request;
    if (const std::u16string project = commands.Value(u"filename"); !project.empty()) {
        request = {project, TShowFileKind::ProjectDocument};
    } else if (const std::u16string player = commands.Value(u"exename"); !player.empty()) {
        request = {player, TShowFileKind::PlayerFile};
    } else if (const std::u16string bare = BareFileArgument(commands); !bare.empty()) {
        request = {bare, TShowFileKind::Either};
    } else {
        return {programFileName, TShowFileKind::PlayerFile};
    }
    request.FileName = AbsoluteShowName(request.FileName, programFileName);
    return request;
}

TGeometryRequest GeometryRequestOfShow(const TOrbShowOptions& options, int32_t screenWidth,
                                       int32_t screenHeight) {
    TGeometryRequest request;
    request.Width = screenWidth;
    request.Height = screenHeight;
    if (options.ScreenMode == kFullScreenMode)
        request.Mode = TWindowMode::FullScreen;
    else
        request.Mode = options.WithoutBorder ? TWindowMode::Frameless : TWindowMode::Framed;
    if (options.SizedByDesign()) {
        request.Width = options.WindowWidth();
        request.Height = options.WindowHeight();
    }
    return request;
}

namespace {

// User events the form posts to itself.
constexpr int32_t kWakeViewer = 1, kWakeFrame = 2;
// The form's timer: the cursor poll and, headless, the engine's step.
constexpr int32_t kPassMs = 20;
// How long the window keeps a new size before the device follows it.
constexpr int64_t kResizeSettleMs = 150;

std::vector<TMonitorInfo> MonitorsOf(const std::vector<ql::TMonitorInfo>& hostMonitors) {
    std::vector<TMonitorInfo> monitors;
    for (const ql::TMonitorInfo& m : hostMonitors) {
        monitors.push_back({{m.Bounds.Left, m.Bounds.Top, m.Bounds.Right, m.Bounds.Bottom},
                            {m.WorkArea.Left, m.WorkArea.Top, m.WorkArea.Right, m.WorkArea.Bottom},
                            m.Primary});
    }
    return monitors;
}

ql::TWindowBorder HostBorder(TBorderStyle border) {
    switch (border) {
        case TBorderStyle::Fixed:
            return ql::TWindowBorder::Fixed;
        case TBorderStyle::Resizable:
            return ql::TWindowBorder::Resizable;
        default:
            return ql::TWindowBorder::None;
    }
}

int32_t EngineButton(uint8_t hostButton) {
    switch (hostButton) {
        case ql::mbLeft:
            return 1;
        case ql::mbRight:
            return 2;
        case ql::mbMiddle:
            return 3;
        default:
            return 0;
    }
}

std::unique_ptr<ql::TIniFile> CopyOfDocument(const ql::TIniStorage& document) {
    std::vector<std::u16string> lines;
    document.SaveToLines(lines);
    auto copy = std::make_unique<ql::TIniFile>();
    copy->LoadFromLines(lines);
    return copy;
}

std::string Utf8(const std::u16string& text) {
    return ql::ToUtf8(text);
}

}  // namespace

// The executor's view of the viewer, noting every request in the host's
// record, so that a headless run shows where the keys took the show.
class TMainForm::TRecordingControl : public TShowViewerControl {
public:
    TRecordingControl(TOrbShowViewer& viewer, ql::THost& host)
        : TShowViewerControl(viewer), m_host(host) {}
    void Seek(int64_t time) override {
        m_host.Record(ql::THostRecord("seek").Int("time", time));
        TShowViewerControl::Seek(time);
    }
    void SetPaused(bool paused) override {
        m_host.Record(ql::THostRecord("pause").Bool("paused", paused));
        TShowViewerControl::SetPaused(paused);
    }
    void ReleaseWait() override {
        m_host.Record(ql::THostRecord("release"));
        TShowViewerControl::ReleaseWait();
    }
    void PrintFrame() override {
        m_host.Record(ql::THostRecord("snapshot"));
        TShowViewerControl::PrintFrame();
    }

private:
    ql::THost& m_host;
};

TMainForm::TMainForm(ql::THost& host, TMainFormSettings settings)
    : m_host(host), m_settings(std::move(settings)), m_mouse(host.TickMs()), m_dialogs(host) {
    m_startTick = m_host.TickMs();
    int32_t screenWidth = 1920, screenHeight = 1080;
    for (const ql::TMonitorInfo& monitor : m_host.Monitors()) {
        if (!monitor.Primary) continue;
        screenWidth = std::max(monitor.Bounds.Width(), 10);
        screenHeight = std::max(monitor.Bounds.Height(), 10);
    }
    TSoftDeviceOptions deviceOptions;
    deviceOptions.width = screenWidth;
    deviceOptions.height = screenHeight;
    deviceOptions.threads = std::clamp(m_settings.DrawThreads, 1, 16);
    m_device = std::make_unique<TSoftDevice>(deviceOptions);
    m_dialogs.SetPresenter([this](const ql::TFrameView& frame) { ShowFrame(frame); });
    const bool deterministic = m_settings.Deterministic;
    m_device->SetPresentSink(
        [this, deterministic](const uint32_t* pixels, int32_t width, int32_t height) {
            // Headless, the form steps the engine itself and presents after each
            // step; waking it would only spin the loop without time passing.
            if (m_frames.Post(pixels, width, height) && !deterministic)
                m_host.PostUserEvent(kWakeFrame, 0);
        });

    TEngineOptions engineOptions;
    engineOptions.Threaded = !deterministic;
    if (deterministic) engineOptions.Clock = &m_clock;
    engineOptions.SoundOutput = m_settings.Sound;
    engineOptions.ScreenWidth = screenWidth;
    engineOptions.ScreenHeight = screenHeight;
    engineOptions.Cover = m_settings.Options.Cover;
    engineOptions.ProgramFileName = m_settings.ProgramFileName;
    // The logo and the navigation panel over the slides.
    engineOptions.Overlay = MakeNavOverlay;
    std::function<void()> wake;
    if (!deterministic) wake = [this] { m_host.PostUserEvent(kWakeViewer, 0); };
    m_viewer =
        std::make_unique<TOrbShowViewer>(*m_device, std::move(engineOptions), std::move(wake));
    m_viewer->SetSlideActions(true);
    m_viewer->SetCallbacks({
        [this] {
            Record(ql::THostRecord("firstframe"));
            m_host.SetVisible(true);
        },
        [this](double time, bool end) { Position(time, end); },
        [this](const TOrbActionInfo& action) {
            Record(ql::THostRecord("action")
                       .Int("code", action.Code)
                       .Int("param", action.Param)
                       .Str("text", action.Text));
            m_executor->Execute(action);
        },
        [this](std::unique_ptr<ql::TBitmap> frame) { PrintImage(std::move(frame)); },
        [this](int32_t width, int32_t height, int32_t mode) { Geometry(width, height, mode); },
    });
    m_control = std::make_unique<TRecordingControl>(*m_viewer, m_host);
    m_executor = std::make_unique<TActionExecutor>(*m_control, static_cast<TFormHost&>(*this));
    m_executor->SetAllowRun(m_settings.Options.AllowRun);
    m_executor->SetStartupMode(m_settings.Options.StartupMode);
}

TMainForm::~TMainForm() {
    m_viewer->Disconnect();
    m_viewer->Stop();
    // The frame sink points into this form; the device outlives nothing here.
    m_device->SetPresentSink(nullptr);
    m_shows.SetCurrent(nullptr);
}

int32_t TMainForm::Run() {
    const TShowRequest& request = m_settings.Show;
    const TViewerOptions& options = m_settings.Options;
    const TOpenOutcome outcome =
        OpenInteractive(request.FileName, request.Kind, options.StartSlide, options.StartTime);
    if (outcome == TOpenOutcome::Refused) return 0;
    if (outcome == TOpenOutcome::Failed) return 2;
    m_viewer->SetPaused(false);

    while (!m_quit) {
        ql::THostEvent event;
        if (m_host.WaitEvent(event, kPassMs)) {
            Handle(event);
            while (!m_quit && m_host.PollEvent(event)) Handle(event);
        }
        if (!m_quit) Pass();
    }
    m_viewer->Disconnect();
    m_viewer->Stop();
    if (options.StartupMode) m_host.Raise();
    return m_executor->ExitCode();
}

// ---------------------------------------------------------------- opening

TMainForm::TOpenOutcome TMainForm::OpenInteractive(const std::u16string& fileName,
                                                   TShowFileKind kind,
                                                   std::optional<int32_t> startSlide,
                                                   std::optional<int64_t> startTime) {
    const bool wasPlaying = m_viewer->Engine() && !m_viewer->Paused();
    if (wasPlaying) m_viewer->SetPaused(true);
    auto giveUp = [&](TOpenOutcome outcome) {
        if (wasPlaying) m_viewer->SetPaused(false);
        return outcome;
    };
    ql::GlobalLog().WriteLine(u"Open show: " + fileName);
    Record(ql::THostRecord("open-show").Str("file", fileName));

    TOpenedShow opened = OpenShowFile(fileName, kind);
    if (!opened.Locator) {
        ShowMessage(opened.Error, kSlideshowErrorCaption);
        return giveUp(TOpenOutcome::Failed);
    }
    TOrbShowLocator& show = *opened.Locator;
    // The show source comes after the access checks; the window is placed before them.
    if (!m_windowPlaced) PlaceForShow(ReadShowOptions(show.Project()));

    TShowChecks checks;
    checks.ProgramFileName = m_settings.ProgramFileName;
    checks.ScreenSaverToken = m_settings.Options.ScreenSaverToken;
    checks.AnotherInstanceRunning = m_settings.AnotherInstanceRunning;
    checks.RunDialog = [this](ql::TDialog& dialog) { RunDialog(dialog); };
    const TCheckResult check = CheckShow(show, checks);
    if (check.Outcome == TCheckOutcome::Error) {
        ShowMessage(check.Error, kSlideshowErrorCaption);
        return giveUp(TOpenOutcome::Failed);
    }
    if (check.Outcome == TCheckOutcome::Refused || m_quit) {
        Record(ql::THostRecord("refused").Str("file", fileName));
        return giveUp(TOpenOutcome::Refused);
    }
    const bool isPackage =
        kind == TShowFileKind::PlayerFile ||
        (kind == TShowFileKind::Either && ReadPackageVersion(fileName).has_value());
    if (show.Project().ReadBool(u"Main", u"stw_show", false) && !m_settings.Options.StartupMode &&
        !StartupWindowAllows(fileName, isPackage))
        return giveUp(TOpenOutcome::Refused);

    TOrbSource& source = ShowSource(show, m_settings.ProgramFileName);
    const TNavigation navigation(source);
    int64_t start = 0;
    if (startSlide)
        start = navigation.SlideStart(*startSlide);
    else if (startTime && *startTime > 0)
        start = navigation.ClampTarget(double(*startTime));
    if (!m_viewer->Engine()) {
        // The engine's clock starts with the engine: time spent in the
        // password dialog or the start-up window is not show time.
        m_startTick = m_host.TickMs();
        m_musicFrames = 0;
        m_clock.Set(0);
    }
    if (!m_viewer->Open(show.Accessor().Copy(), CopyOfDocument(show.Project()), start)) {
        ShowMessage(u"Can`t Load Show\r\"" + fileName + u"\"", kSlideshowErrorCaption);
        return giveUp(TOpenOutcome::Failed);
    }
    m_host.SetVisible(true);
    ConfigureForShow(source.Options());

    m_showFile = fileName;
    m_orbVersion = show.OrbVersion();
    const std::u16string publishedName = source.Options().ExeFileName;
    if (!isPackage && !publishedName.empty()) {
        // Later requests for the published file open this project instead.
        SetProjectReplacement(publishedName, fileName);
        m_showFile = publishedName;
    } else if (isPackage && publishedName.empty()) {
        ShowMessage(u"opt_exefn - Empty", kSlideshowErrorCaption);
    }
    ql::GlobalLog().WriteLine(
        u"Show opened: project \"" + show.ProjectName() + u"\", OrbVersion \"" + show.OrbVersion() +
        u"\", " + ql::IntToStr(static_cast<int64_t>(show.Project().SectionNames().size())) +
        u" sections");
    const TOrbSource* playing = &source;
    m_shows.SetCurrent(std::move(opened.Locator));
    m_executor->SetShow(playing, m_showFile, fileName == m_settings.ProgramFileName);
    m_lastSlide = -1;
    Record(ql::THostRecord("show")
               .Str("file", fileName)
               .Int("slides", source.SlideCount())
               .Int("start", start)
               .Real("duration", source.TotalTime()));
    if (wasPlaying) m_viewer->SetPaused(false);
    return TOpenOutcome::Opened;
}

void TMainForm::ConfigureForShow(const TOrbShowOptions& options) {
    m_input = std::make_unique<TInputMappingClass>(options);
    m_wheelEnabled = !options.LockWheel;
    m_host.SetTitle(options.Caption.value_or(u"OrbViewer v5.6"));
    m_mouse.Configure(options.HideCursor, int64_t(options.HideIntervalSeconds) * 1000,
                      options.HideOnStartup, m_host.TickMs());
}

void TMainForm::PlaceForShow(const TOrbShowOptions& options) {
    const TGeometryRequest request =
        GeometryRequestOfShow(options, m_device->OutputWidth(), m_device->OutputHeight());
    ApplyGeometry(request);
}

void TMainForm::ApplyGeometry(const TGeometryRequest& request) {
    const TViewerOptions& options = m_settings.Options;
    const std::vector<TMonitorInfo> monitors = MonitorsOf(m_host.Monitors());
    TGeometryOptions geometryOptions;
    geometryOptions.Display = options.Display;
    geometryOptions.DesktopAlign = options.DesktopAlign;
    geometryOptions.Resize = options.Resize;
    const ql::THostRect extents = m_host.FrameExtents();
    geometryOptions.FrameWidth = extents.Left + extents.Right;
    geometryOptions.FrameHeight = extents.Top + extents.Bottom;
    const std::optional<TWindowGeometry> geometry = PlaceWindow(request, monitors, geometryOptions);
    if (!geometry) return;
    int32_t monitor = -1;
    if (options.Display && *options.Display >= 1 && size_t(*options.Display) <= monitors.size())
        monitor = *options.Display - 1;
    const ql::THostRect client{geometry->Outer.Left + extents.Left,
                               geometry->Outer.Top + extents.Top,
                               geometry->Outer.Left + extents.Left + geometry->ClientWidth,
                               geometry->Outer.Top + extents.Top + geometry->ClientHeight};
    const ql::TWindowBorder border = HostBorder(geometry->Border);
    if (!m_host.HasWindow()) {
        ql::TWindowParams params;
        params.Title = u"OrbViewer v5.6";
        params.Client = client;
        params.Border = border;
        params.FullScreen = geometry->FullScreen;
        params.FullScreenMonitor = monitor;
        params.Visible = true;
        params.OpenGl = m_settings.Device != TDeviceChoice::Soft;
        std::string error;
        if (!m_host.OpenWindow(params, error)) ql::GlobalLog().WriteLine("Window: " + error);
        // The device takes the window's size in pixels (more than its size
        // in points on a high-density display).
        int32_t width = geometry->ClientWidth, height = geometry->ClientHeight;
        if (m_host.HasWindow()) m_host.DrawableSize(width, height);
        if (width <= 0 || height <= 0)
            width = geometry->ClientWidth, height = geometry->ClientHeight;
        if (!m_viewer->Engine()) {
            m_device->ResizeOutput(width, height);
            ChooseDevice(width, height);
        }
    } else if (geometry->FullScreen) {
        m_host.SetFullScreen(monitor);
    } else {
        m_host.SetBorder(border);
        m_host.SetClientRect(client);
    }
    m_windowPlaced = true;
}

bool TMainForm::StartupWindowAllows(const std::u16string& fileName, bool isPackage) {
    const std::vector<std::u16string> arguments = StartupChildArguments(
        m_settings.ProgramFileName, fileName, isPackage, m_settings.Options.Display);
    ++m_children;
    m_executor->SetChildRunning(true);
    const int32_t code = m_host.Launcher().SpawnAndWait(arguments, [this] {
        // Input is not for us while the child runs; only the end counts.
        ql::THostEvent event;
        while (m_host.PollEvent(event)) {
            if (event.Kind == ql::THostEventKind::Quit) m_quit = true;
        }
        return !m_quit;
    });
    --m_children;
    m_executor->SetChildRunning(m_children > 0);
    m_host.Raise();
    Record(ql::THostRecord("startup-window").Int("code", code));
    return code == 1;
}

// ---------------------------------------------------------------- the loop

void TMainForm::Pass() {
    FollowWindowSize();
    if (m_settings.Deterministic) StepEngine();
    m_viewer->DeliverEvents();
    PresentNewest();
    PollCursor();
}

void TMainForm::ChooseDevice(int32_t width, int32_t height) {
    if (m_settings.Device == TDeviceChoice::Soft || m_drawsWithGl || m_viewer->Engine()) return;
    std::string error;
    std::unique_ptr<ql::TGlApi> api = ql::TGlApi::Create(m_host.CreateGlContext(error), error);
    const bool noticesResets = api && api->NoticesResets();
    std::unique_ptr<TGlDevice> gl = TGlDevice::Create(std::move(api), width, height, error);
    if (!gl) {
        ql::GlobalLog().WriteLine("Drawing on the software device: no OpenGL (" + error + ")");
        if (m_settings.Device == TDeviceChoice::Gl)
            std::fprintf(stderr, "OpenGL is not available (%s); drawing on the software device\n",
                         error.c_str());
        return;
    }
    ql::GlobalLog().WriteLine(
        "Drawing with OpenGL: " + gl->Renderer() +
        (noticesResets ? "; driver resets are noticed" : "; the driver does not report resets"));
    // A lost context is made again on the same window, on the drawing thread.
    ql::THost* host = &m_host;
    gl->SetContextFactory([host](std::string& reason) { return host->CreateGlContext(reason); });
    const bool deterministic = m_settings.Deterministic;
    gl->SetPresentSink([this, deterministic](const uint32_t* pixels, int32_t w, int32_t h) {
        if (m_frames.Post(pixels, w, h) && !deterministic) m_host.PostUserEvent(kWakeFrame, 0);
    });
    m_viewer->SetDevice(*gl);
    m_device->SetPresentSink(nullptr);
    m_device = std::move(gl);
    m_drawsWithGl = true;
}

void TMainForm::FollowWindowSize() {
    if (!m_resizePending || m_host.TickMs() - m_resizeTick < kResizeSettleMs) return;
    m_resizePending = false;
    TOrbEngine* engine = m_viewer->Engine();
    int32_t width = 0, height = 0;
    m_host.DrawableSize(width, height);
    if (!engine || width <= 0 || height <= 0) return;
    if (width == m_device->OutputWidth() && height == m_device->OutputHeight()) return;
    Record(ql::THostRecord("output").Int("width", width).Int("height", height));
    engine->PostOutputSize(width, height);
}

void TMainForm::ShowFrame(const ql::TFrameView& frame) {
    if (!m_drawsWithGl) {
        m_host.Present(frame);
        return;
    }
    const auto* pixels = frame.Pixels;
    if (TOrbEngine* engine = m_viewer->Engine(); engine && !m_settings.Deterministic)
        engine->PostShowPixels(pixels, frame.Width, frame.Height, frame.Stride);
    else
        m_device->ShowPixels(pixels, frame.Width, frame.Height, frame.Stride);
}

void TMainForm::StepEngine() {
    TOrbEngine* engine = m_viewer->Engine();
    if (!engine) return;
    const int64_t now = m_host.TickMs() - m_startTick;
    m_clock.Set(double(now));
    const int64_t frames = now * 441 / 10;
    engine->PlayMusicFrames(std::max<int64_t>(frames - m_musicFrames, 0));
    m_musicFrames = std::max(frames, m_musicFrames);
    engine->FillSlides();
    engine->Step();
}

void TMainForm::PresentNewest() {
    if (!m_frames.Take(m_shown)) return;
    m_host.Present(m_shown.View());
}

void TMainForm::Handle(const ql::THostEvent& event) {
    switch (event.Kind) {
        case ql::THostEventKind::Key:
            Key(event);
            break;
        case ql::THostEventKind::Mouse:
            Mouse(event);
            break;
        case ql::THostEventKind::Wheel:
            Wheel(event);
            break;
        case ql::THostEventKind::MouseLeave:
            MouseLeft();
            break;
        case ql::THostEventKind::FocusGained:
        case ql::THostEventKind::FocusLost:
            if (TOrbEngine* engine = m_viewer->Engine())
                engine->SetWindowActive(event.Kind == ql::THostEventKind::FocusGained);
            break;
        case ql::THostEventKind::Resized:
            // Until the device follows, the last frame is shown scaled.
            if (!m_shown.Pixels.empty() && !m_drawsWithGl) m_host.Present(m_shown.View());
            m_resizePending = true;
            m_resizeTick = m_host.TickMs();
            break;
        case ql::THostEventKind::Close:
            m_executor->Close(false);
            break;
        case ql::THostEventKind::Quit:
            m_quit = true;
            break;
        default:
            break;
    }
}

void TMainForm::Key(const ql::THostEvent& event) {
    if (m_children > 0 || !m_input) return;
    const bool pressed = event.KeyEvent == ql::kePressed;
    if (m_settings.Options.StartupMode && pressed && event.Key == ql::vk::Return) {
        m_executor->Execute(TOrbActionInfo(acCloseDialog));
        return;
    }
    TOrbEngine* engine = m_viewer->Engine();
    if (engine && engine->IsDialogOpen()) {
        if (pressed && event.Key == ql::vk::Escape) m_viewer->CloseTopDialog();
        if (event.Key != ql::vk::F1) return;
    }
    const TOrbActionInfo action = m_input->KeyAction(event.Modifiers, event.Key, event.KeyEvent);
    if (!action.IsNone())
        Record(ql::THostRecord("key-action")
                   .Str("key", ql::VirtualKeyName(event.Key))
                   .Int("code", action.Code));
    if (action.Code == acHelp && engine)
        m_viewer->OpenHelpDialog();
    else if (!action.IsNone())
        m_executor->Execute(action);
    if (!m_input->PermitControl() && pressed && TInputMappingClass::ReleasesPauseWait(event.Key) &&
        m_viewer->Waiting())
        m_control->ReleaseWait();
}

void TMainForm::ToFrame(int32_t& x, int32_t& y) const {
    const ql::THostRect client = m_host.ClientRect();
    const int32_t width = m_device->OutputWidth(), height = m_device->OutputHeight();
    if (client.Width() <= 0 || client.Height() <= 0) return;
    if (client.Width() != width) x = int32_t(int64_t(x) * width / client.Width());
    if (client.Height() != height) y = int32_t(int64_t(y) * height / client.Height());
}

void TMainForm::Mouse(const ql::THostEvent& event) {
    const int64_t tick = m_host.TickMs();
    if (event.MouseEvent == ql::meMove) m_mouse.Position(event.X, event.Y, tick);
    if (!m_input || !m_mouse.AcceptsInput(tick, m_children > 0)) return;
    int32_t x = event.X, y = event.Y;
    ToFrame(x, y);
    const TOrbActionInfo action =
        m_input->MouseAction(event.Modifiers, x, y, event.MouseEvent, event.Button, tick);
    if (!m_mouse.Hidden() || action.Code == acHelp) {
        auto mouse = std::make_unique<TMouseData>();
        mouse->X = x;
        mouse->Y = y;
        mouse->Button = EngineButton(event.Button);
        mouse->Kind = TMouseKind(std::min<int32_t>(event.MouseEvent, 3));
        mouse->Modifiers = event.Modifiers;
        mouse->HasAction = !action.IsNone();
        mouse->Action = action;
        m_viewer->Mouse(std::move(mouse));
    } else if (!action.IsNone()) {
        m_executor->Execute(action);
    }
}

void TMainForm::MouseLeft() {
    // A move far outside the frame clears whatever the pointer hovered.
    auto mouse = std::make_unique<TMouseData>();
    mouse->X = mouse->Y = -100000;
    m_viewer->Mouse(std::move(mouse));
}

void TMainForm::Wheel(const ql::THostEvent& event) {
    if (m_children > 0 || !m_wheelEnabled || event.WheelSteps == 0) return;
    m_executor->Wheel(event.WheelSteps, (event.Modifiers & ql::mods::Ctrl) != 0);
}

void TMainForm::PollCursor() {
    const int64_t tick = m_host.TickMs();
    int32_t x = 0, y = 0;
    const bool inside = m_host.CursorPosition(x, y);
    if (inside) m_mouse.Position(x, y, tick);
    if (m_mouse.Poll(inside, tick)) MouseLeft();
    const TOrbEngine* engine = m_viewer->Engine();
    const TEngineState state = engine ? engine->State() : TEngineState();
    const bool overButton = state.HoverClass.find(u"Button") != std::u16string::npos;
    // Over the navigation panel a hidden cursor shows again.
    const TCursorKind kind = m_mouse.Shape(state.PanelState == 2, state.Hover, overButton);
    const ql::TCursorShape shape = kind == TCursorKind::Hidden ? ql::TCursorShape::Hidden
                                   : kind == TCursorKind::Hand ? ql::TCursorShape::Hand
                                                               : ql::TCursorShape::Arrow;
    if (shape != m_cursor) {
        m_cursor = shape;
        m_host.SetCursor(shape);
    }
}

// ---------------------------------------------------------------- engine notifications

void TMainForm::Position(double time, bool end) {
    if (TOrbShowLocator* show = m_shows.Current()) {
        const int32_t slide = TNavigation(ShowSource(*show)).SlideIndexAt(time);
        if (slide != m_lastSlide) {
            m_lastSlide = slide;
            Record(ql::THostRecord("slide").Int("index", slide).Int("time", std::llround(time)));
        }
    }
    if (end) Record(ql::THostRecord("end").Int("time", std::llround(time)));
    m_executor->Position(time, end);
}

void TMainForm::Geometry(int32_t width, int32_t height, int32_t mode) {
    TGeometryRequest request;
    request.Width = width;
    request.Height = height;
    request.Mode = WindowModeFromCode(mode);
    ApplyGeometry(request);
}

void TMainForm::PrintImage(std::unique_ptr<ql::TBitmap> frame) {
    TOrbShowLocator* show = m_shows.Current();
    if (!frame || !show) return;
    const bool wasPlaying = !m_viewer->Paused();
    if (wasPlaying) m_viewer->SetPaused(true);
    const int32_t slide = TNavigation(ShowSource(*show)).SlideIndexAt(m_viewer->ShowTime());
    const TCallBackClass pictures(show, std::shared_ptr<const ql::TBitmap>(std::move(frame)),
                                  slide);
    TOrbPrintDialog dialog(
        show->Project(), pictures, m_settings.Printer.get(),
        [this](ql::TDialog& inner) { RunDialog(inner); }, ql::platform::UserFolder());
    RunDialog(dialog);
    Record(ql::THostRecord("print")
               .Bool("printed", dialog.Printed())
               .Str("saved", dialog.SavedFile()));
    if (!m_shown.Pixels.empty()) ShowFrame(m_shown.View());
    if (TOrbEngine* engine = m_viewer->Engine()) engine->Controller().RequestRepaint();
    if (wasPlaying) m_viewer->SetPaused(false);
}

void TMainForm::RunDialog(ql::TDialog& dialog) {
    Record(ql::THostRecord("dialog").Str("caption", dialog.Text));
    m_dialogs.Run(dialog, m_shown);
    if (m_dialogs.QuitRequested()) m_quit = true;
    Record(ql::THostRecord("dialog-end").Str("caption", dialog.Text).Int("result", dialog.Result));
}

// ---------------------------------------------------------------- the executor's host

void TMainForm::ShowMessage(const std::u16string& text, const std::u16string& caption) {
    ql::GlobalLog().WriteLine(caption + u": " + text);
    if (caption == kSlideshowErrorCaption) {
        // Standard error gets one line; the box text may hold CR.
        std::string line = Utf8(text);
        for (char& c : line)
            if (c == '\r' || c == '\n') c = ' ';
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    m_host.MessageBox(caption, text,
                      caption.empty() ? ql::TMessageIcon::Information : ql::TMessageIcon::Warning,
                      ql::TMessageButtons::Ok);
}

bool TMainForm::ConfirmRun(const std::u16string& command) {
    const ql::TMessageResult answer = m_host.MessageBox(
        u"OrbViewer", u"This show wants to run a program:\r\r" + command + u"\r\rAllow it?",
        ql::TMessageIcon::Warning, ql::TMessageButtons::YesNo);
    return answer == ql::TMessageResult::Yes;
}

bool TMainForm::ConfirmOpen(const std::u16string& document) {
    const ql::TMessageResult answer = m_host.MessageBox(
        u"OrbViewer", u"This show wants to open a document:\r\r" + document + u"\r\rAllow it?",
        ql::TMessageIcon::Warning, ql::TMessageButtons::YesNo);
    return answer == ql::TMessageResult::Yes;
}

bool TMainForm::OpenDocument(const std::u16string& path) {
    return m_host.Launcher().OpenDocument(path) == ql::TLaunchResult::Started;
}

bool TMainForm::OpenAddress(const std::u16string& address) {
    return m_host.Launcher().OpenUrl(address) == ql::TLaunchResult::Started;
}

bool TMainForm::SpawnProgram(const std::vector<std::u16string>& arguments) {
    return m_host.Launcher().Spawn(arguments) == ql::TLaunchResult::Started;
}

bool TMainForm::OpenShow(const TShowCommand& command) {
    return OpenInteractive(command.FileName, TShowFileKind::Either, command.StartSlide,
                           command.StartTime) == TOpenOutcome::Opened;
}

void TMainForm::Quit() {
    m_quit = true;
}

// ---------------------------------------------------------------- the program

namespace {

int ReportStartError(const std::string& text) {
    ql::GlobalLog().WriteLine("Slideshow Error: " + text);
    std::fprintf(stderr, "%s\n", text.c_str());
    return 2;
}

// Captured frames of a headless run go to PNG files.
bool SaveFramePng(const std::string& fileName, const ql::TFrameView& frame) {
    if (!frame.Pixels || frame.Width <= 0 || frame.Height <= 0) return false;
    auto bitmap = ql::CreateBitmap(frame.Width, frame.Height, ql::PfARGB32());
    for (int32_t y = 0; y < frame.Height; ++y)
        std::memcpy(bitmap->Row(y), frame.Pixels + size_t(y) * size_t(frame.Stride),
                    size_t(frame.Width) * 4);
    try {
        ql::SavePng(*bitmap, ql::FromUtf8(fileName));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

int RunViewer(const ql::TCommandsStorage& commands, const std::u16string& programFileName) {
    TMainFormSettings settings;
    settings.ProgramFileName = programFileName;
    settings.Show = ShowRequestFromCommandLine(commands, programFileName);
    settings.Options = ReadViewerOptions(commands);
    settings.DrawThreads = int32_t(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    // The start-up child plays the show's start-up page instead of the show.
    SetStartupFilter(settings.Options.StartupMode, InstallStartupWindowFilter);

    // One copy of a program holds its lock; a screen-saver show refuses to
    // run beside another.
    const std::unique_ptr<ql::TInstanceLock> lock =
        ql::TInstanceLock::TryAcquire(ql::InstanceLockName(programFileName));
    settings.AnotherInstanceRunning = lock == nullptr;

    // Headless runs draw on the software device, the reference, unless asked.
    const std::u16string device = commands.Value(u"device");
    if (!device.empty() && device != u"auto" && device != u"gl" && device != u"soft")
        return ReportStartError("-device takes auto, gl or soft");
    const bool headless = commands.HasSwitch(u"headless");
    settings.Device = device == u"gl"                  ? TDeviceChoice::Gl
                      : device == u"soft"              ? TDeviceChoice::Soft
                      : device == u"auto" || !headless ? TDeviceChoice::Auto
                                                       : TDeviceChoice::Soft;

    const std::u16string script = commands.Value(u"headless");
    if (headless) {
        if (script.empty()) return ReportStartError("-headless needs a script file");
        const std::u16string recordName = commands.Value(u"record");
        std::ofstream recordFile;
        if (!recordName.empty()) {
            recordFile.open(ql::ToUtf8(recordName), std::ios::binary | std::ios::trunc);
            if (!recordFile)
                return ReportStartError("cannot write the record " + ql::ToUtf8(recordName));
        }
        ql::THeadlessHost host(recordName.empty() ? &std::cout : &recordFile);
        std::string error;
        if (!host.LoadScriptFile(ql::ToUtf8(script), error))
            return ReportStartError("script: " + error);
        host.SetCaptureSink(SaveFramePng);
        settings.Deterministic = true;
        settings.Sound.Kind = ql::TSoundOutputKind::Offline;
        int32_t exitCode = 2;
        {
            TMainForm form(host, std::move(settings));
            exitCode = form.Run();
        }
        host.RecordExit(exitCode);
        return exitCode;
    }

    settings.Printer = std::make_unique<TCupsPrintServices>();
    ql::TSdlHost host;
    std::string error;
    if (!host.Init(error)) return ReportStartError("No display to show the slideshow on: " + error);
    TMainForm form(host, std::move(settings));
    return form.Run();
}

}  // namespace orb
