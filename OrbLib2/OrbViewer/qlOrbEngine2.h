// The playback engine: the thread that plays an opened show. It keeps the
// show clock (the music position, smoothed), decides when the show runs and
// when it stands still, keeps the slide loader on the slides around the
// clock, arranges and draws the scene, and carries out the actions that are
// its own. Other threads talk to it only through its event list; it answers
// through its listener.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbViewer/qlOrbDrawController.h"
#include "OrbLib2/OrbViewer/qlOrbEngineClock.h"
#include "OrbLib2/OrbViewer/qlOrbEngineEvents.h"
#include "OrbLib2/OrbViewer/qlOrbEngineMusic.h"
#include "OrbLib2/OrbViewer/qlOrbEngineOverlay.h"
#include "OrbLib2/OrbViewer/qlOrbEngineTargets.h"
#include "OrbLib2/OrbViewer/qlOrbFrameInterpolator.h"
#include "OrbLib2/OrbViewer/qlOrbFramePacing.h"
#include "OrbLib2/OrbViewer/qlOrbRootItem.h"
#include "OrbLib2/OrbViewer/qlOrbSlideLoader2.h"
#include "QlLib/qlThreadEventList.h"

namespace orb {

class TExactVideoFrames;

// Makes the music player of a show; the engine starts it and pauses it.
using TEngineMusicFactory = std::function<std::unique_ptr<TEngineMusic>(
    TOrbSource& source, TFileAccessor* accessor, const TEngineClock& clock)>;

struct TEngineOptions {
    // nullptr: the system clock.
    TEngineClock* Clock = nullptr;
    // False: deterministic mode. No threads are started and nothing sleeps;
    // the driver calls Step, FillSlides and the music's Step itself.
    bool Threaded = true;
    // The loader's slide window; empty: the show model's slide cache.
    TSlideWindowFactory SlideWindows;
    // nullptr: the show's music player (on the offline output in the
    // deterministic mode, else on SoundOutput).
    TEngineMusicFactory Music;
    ql::TSoundOutputOptions SoundOutput;
    // The device's size, the screen for the loader's frame until the device
    // is known.
    int32_t ScreenWidth = 1920, ScreenHeight = 1080;
    // The "cover" command-line switch.
    bool Cover = false;
    // The player's own file (a ".scr" name forces screen-saver settings).
    std::u16string ProgramFileName;
    // Draw every pass, changed or not (frame capture).
    bool AlwaysDraw = false;
    // Keep drawn frames for reading back instead of presenting them.
    bool Capture = false;
    // Makes the overlay (logo, navigation panel) of each opened show; empty: none.
    TEngineOverlayFactory Overlay;
};

// The options of a driver that steps the engine itself on a virtual clock
// and reads every frame back (frame export, tests): no threads, every pass
// draws, and frames are kept for capture.
TEngineOptions CaptureEngineOptions(TVirtualClock& clock, int32_t width, int32_t height);

// What the viewer reads from the engine, published once per pass.
struct TEngineState {
    bool Active = false;
    bool Paused = true;
    bool Waiting = false;     // stopped at a pause barrier until released
    bool DialogOpen = false;  // an overlay dialog is open
    bool Hover = false;       // the mouse is over an object with an action
    std::u16string HoverClass;
    // The navigation panel for the cursor: 0 none; 2 the mouse is over it; 1 otherwise.
    int32_t PanelState = 0;
    bool EndReported = false;
    double ShowTime = 0;
    int64_t ServedRequest = 0;
    int32_t LoadedSlides = 0;
};

class TCustomOrbEngine : public ql::TOrbThread {
public:
    // Tags an open or seek request: the position reports of the request
    // carry it, so that the viewer can drop those of older requests.
    int64_t NewRequestId() { return ++m_requestCounter; }
    // Receives the notifications; set before the thread starts.
    void SetListener(TEngineListener* listener) { m_listener = listener; }

protected:
    void Notify(int32_t code, std::vector<int64_t> values,
                std::unique_ptr<ql::TObj> object = nullptr);

private:
    std::atomic<int64_t> m_requestCounter{0};
    TEngineListener* m_listener = nullptr;
};

class TOrbEngine : public TCustomOrbEngine {
public:
    // The device must outlive the engine.
    TOrbEngine(TRenderDevice& device, TEngineOptions options, bool paused = true);
    ~TOrbEngine() override;

    // Opens a show at a time. Used directly before the thread starts (and in
    // deterministic mode); afterwards post an open instead. The accessor is
    // kept for as long as the show is open. False when the document does not
    // describe a playable show (logged).
    bool Open(std::unique_ptr<TFileAccessor> accessor, std::unique_ptr<ql::TIniStorage> storage,
              int64_t startTime, bool slideActions = true);
    // The same with a source made by the caller.
    void Open(std::unique_ptr<TOrbSource> source, std::unique_ptr<TFileAccessor> accessor,
              int64_t startTime, bool slideActions = true);

    // ---- requests, from any thread (event list)
    void PostOpen(std::unique_ptr<TFileAccessor> accessor, std::unique_ptr<ql::TIniStorage> storage,
                  int64_t startTime, int64_t requestId);
    void PostSeek(int64_t requestId, int64_t time);
    void PostPause(bool paused);
    void PostMouse(std::unique_ptr<TMouseData> mouse);
    void PostSnapshot();
    void PostCloseDialog();
    void PostHelpDialog();
    // Lets a wait at a pause barrier go (actions 3 and 5 of the viewer).
    void PostReleaseWait();
    // Stored and passed to the music; any thread.
    void SetVolume(float volume) { m_volume.store(volume); }
    float Volume() const { return m_volume.load(); }
    void SetWindowActive(bool active) { m_controller.SetWindowActive(active); }
    // Viewer overrides of the show's colours; any thread, before the thread starts.
    void SetBackgroundOverride(std::optional<uint32_t> colour) { m_backgroundOverride = colour; }
    void SetHiderOverride(std::optional<uint32_t> colour) { m_hiderOverride = colour; }
    // The window's drawable size changed: the device follows it, the slides
    // are made again for the new size and the show goes on where it was.
    void PostOutputSize(int32_t width, int32_t height);
    // Shows a picture of the viewer's (a dialog over the last frame) through
    // the device, on the thread that draws; rows of B, G, R, A bytes.
    void PostShowPixels(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride);

    // The state as of the last pass.
    TEngineState State() const;
    bool IsDialogOpen() const { return State().DialogOpen; }

    // ---- deterministic mode (engine thread or driver only)
    // One pass of the main loop.
    void Step();
    // Lets the loader build the slides it misses now (a few cache steps);
    // returns how many were built.
    int32_t FillSlides();
    // Plays the music on by `frames` sample frames (44100 a second), the
    // player stepping every 5 ms of sound; the samples (two a frame) are
    // appended to `out` when given. Silence when the music renders none.
    void PlayMusicFrames(int64_t frames, std::vector<int16_t>* out = nullptr);
    TEngineMusic* Music() const { return m_music.get(); }
    TOrbSlideLoader* Loader() const { return m_loader.get(); }
    TOrbSource* Source() const { return m_source.get(); }
    T3DDrawer* Drawer() const { return m_controller.Drawer(); }
    TOrbDrawController& Controller() { return m_controller; }
    double CurrentTime() const { return m_currentTime; }
    bool Active() const { return m_active.load(); }
    const TStopPoint& Barrier() const { return m_barrier; }
    const TEngineSlideList& LoadedSlides() const { return m_loaded; }
    const TRootItem& Root() const { return m_root; }
    // Whether the last pass presented a frame.
    bool FramePresented() const { return m_framePresented; }

protected:
    void StartHook() override;
    void MainLoopStep() override;
    void EndHook() override;
    void HandleEvent(ql::TMessageItem& item) override;

private:
    void Pass();
    void ProcessPendingRequest();
    void OpenAt(double time, bool reopen);
    void StopLoader();
    void StopMusic();
    void SetActive(bool active);
    double ComputeShowTime();
    bool MusicReady();
    bool SlidesReady() const;
    // Whether the slides on screen at show time t are among `slides`.
    bool HoldsSlidesVisibleAt(const TEngineSlideList& slides, double t) const;
    bool ShouldRun(uint32_t flags);
    bool PastEnd() const;
    void ApplyBarrier(double target);
    void RecomputeTargets(double time);
    void DrawFrame(bool force);
    // The time the scene is arranged for.
    double DrawTime() const;
    void Report(double time, bool end);
    void CarryOut(const TOrbActionInfo& action);
    void HandleMouse(TMouseData& mouse);
    // Hands the event to the loaded slides, newest first, and sets the hover
    // state from the object under the point; the action it gives.
    TOrbActionInfo HitSlides(const TMouseData& mouse);
    // The overlay of the show just opened (the drawer must exist).
    void MakeOverlay();
    // The overlay, made first when it is due; nullptr when the show has none.
    TEngineOverlay* Overlay();
    // Where the overlay lies: the whole output.
    ql::TRect OverlayViewport();
    // Opens the show's dialog `name` on the overlay (or closes it when open).
    void OpenDialog(const std::u16string& name);
    void HandleSnapshot();
    void FollowOutputSize(const TSizeData& size);
    // Makes the textures of a slide the loader built (uploads it too while
    // the clock runs).
    void PrepareBuiltSlide(TEngineSlide& slide);
    void PublishState();
    std::unique_ptr<TEngineMusic> MakeMusic();

    TEngineOptions m_options;
    // Held in deterministic mode: the videos wait for the frame of their position.
    std::unique_ptr<TExactVideoFrames> m_exactVideo;
    std::unique_ptr<TSystemClock> m_ownClock;
    TEngineClock* m_clock;

    std::unique_ptr<TFileAccessor> m_accessor;
    std::unique_ptr<TOrbSource> m_source;
    // Made per opening after the source and accessor it reads; freed before them.
    std::unique_ptr<TEngineOverlay> m_overlay;
    bool m_overlayPending = false;
    uint8_t m_paused;
    TFrameInterpolator m_interpolator;
    TRequestSlots m_requests;
    TOrbDrawController m_controller;
    TRootItem m_root;
    std::atomic<bool> m_active{false};  // also read by the loader's preload callback
    double m_timeBase = 0;  // the frozen time while inactive, the clock offset while active
    double m_currentTime = 0;
    std::optional<double> m_lastSmoothed;  // the clock at the last smoothed pass
    std::unique_ptr<TEngineMusic> m_music;
    std::unique_ptr<TOrbSlideLoader> m_loader;
    TEngineSlideList m_loaded;
    bool m_firstFrameAnnounced = false;
    std::optional<int64_t> m_lastReported;  // none: the next pass reports
    TRunAppTarget m_runApp;
    TStopPoint m_barrier;
    bool m_waiting = false;
    bool m_endReported = false;
    std::atomic<float> m_volume{1.0f};
    bool m_framePresented = false;
    TFramePacing m_pacing;  // presented frames on the steady clock, for the log
    int64_t m_passes = 0;
    std::optional<uint32_t> m_backgroundOverride;
    std::optional<uint32_t> m_hiderOverride;
    bool m_slideActions = true;
    double m_lastTick = 0;
    int64_t m_servedRequest = 0;
    TMouseData m_lastMouse;
    bool m_mouseKnown = false;
    bool m_hover = false;
    std::u16string m_hoverClass;

    mutable std::mutex m_stateLock;  // guards m_state: written by the engine, read by the viewer
    TEngineState m_state;
};

}  // namespace orb
