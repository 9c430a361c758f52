#include "OrbLib2/OrbViewer/qlOrbEngine2.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbVideo.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/OrbPackage/qlOrbLoadCallback.h"
#include "OrbLib2/OrbViewer/qlOrbSlideWindow.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

TEngineOptions CaptureEngineOptions(TVirtualClock& clock, int32_t width, int32_t height) {
    TEngineOptions options;
    options.Clock = &clock;
    options.Threaded = false;
    options.Capture = true;
    options.AlwaysDraw = true;
    options.ScreenWidth = width;
    options.ScreenHeight = height;
    return options;
}

namespace {

// A slide the loader built, handed to the engine thread.
class TBuiltSlide : public ql::TObj {
public:
    explicit TBuiltSlide(TEngineSlideRef slide) : Slide(std::move(slide)) {}
    TEngineSlideRef Slide;
};

}  // namespace

namespace {

// The overlay's code for a click it took without an action.
constexpr uint8_t kOverlayConsumed = 20;

ql::TLog& Log() {
    return ql::GlobalLog();
}

// Times from requests and the clock are bounded before they become show
// times, so that a bad request cannot push the clock to infinity.
double ClampEngineTime(double t) {
    if (!(t == t)) return 0;
    return std::clamp(t, -1.0e12, 1.0e15);
}

// Far below a whole millisecond, so reports still name the barrier's time.
constexpr double kWaitDrawOffset = 0.01;

int64_t RoundMs(double t) {
    return int64_t(std::llround(ClampEngineTime(t)));
}

}  // namespace

void TCustomOrbEngine::Notify(int32_t code, std::vector<int64_t> values,
                              std::unique_ptr<ql::TObj> object) {
    if (m_listener)
        m_listener->EngineEvent(
            std::make_unique<TOrbEventData>(code, std::move(values), std::move(object)));
}

TOrbEngine::TOrbEngine(TRenderDevice& device, TEngineOptions options, bool paused)
    : m_options(std::move(options)), m_paused(paused ? 1 : 0), m_controller(device) {
    if (!m_options.Clock) {
        m_ownClock = std::make_unique<TSystemClock>();
        m_clock = m_ownClock.get();
    } else {
        m_clock = m_options.Clock;
    }
    if (!m_options.SlideWindows) m_options.SlideWindows = CacheSlideWindows();
    // A deterministic run gives the same frames however fast the decoders
    // are; drawing in real time never waits for a video.
    if (!m_options.Threaded) m_exactVideo = std::make_unique<TExactVideoFrames>();
    m_interpolator.Hold();
    PublishState();
}

TOrbEngine::~TOrbEngine() {
    Stop();
    StopLoader();
    StopMusic();
    m_root.Arrange({}, 0, nullptr);
    m_overlay.reset();
    m_loaded.clear();
    m_source.reset();
}

// ---- opening ----

bool TOrbEngine::Open(std::unique_ptr<TFileAccessor> accessor,
                      std::unique_ptr<ql::TIniStorage> storage, int64_t startTime,
                      bool slideActions) {
    if (!accessor || !storage) return false;
    std::unique_ptr<TOrbSource> source;
    try {
        ql::TRef<ql::TRefObj> fileSource(&accessor->Source());
        source =
            std::make_unique<TOrbSource>(fileSource, std::move(storage), m_options.ProgramFileName);
    } catch (const ql::TCommonException& e) {
        Log().WriteLine("TOrbEngine: the show cannot be opened: " + e.Message());
        return false;
    }
    Open(std::move(source), std::move(accessor), startTime, slideActions);
    return true;
}

void TOrbEngine::Open(std::unique_ptr<TOrbSource> source, std::unique_ptr<TFileAccessor> accessor,
                      int64_t startTime, bool slideActions) {
    // The old loader and music use the old source and accessor: they go first.
    StopLoader();
    StopMusic();
    m_loaded.clear();
    m_root.Arrange({}, 0, nullptr);
    m_overlay.reset();
    m_source = std::move(source);
    m_accessor = std::move(accessor);
    m_overlayPending = bool(m_options.Overlay);
    m_slideActions = slideActions;
    OpenAt(double(startTime), false);
}

void TOrbEngine::OpenAt(double time, bool reopen) {
    time = ClampEngineTime(time);
    Log().WriteReal(
        reopen ? u"Reopen from new position>>>>>>>> " : u"Open from new position>>>>>>>> ", time);
    m_endReported = false;
    // Opening always starts from a standing clock: the pause state of the
    // request decides afterwards whether it runs.
    SetActive(false);
    StopLoader();
    StopMusic();
    m_loaded.clear();
    m_root.Arrange({}, 0, nullptr);
    if (!m_source) return;

    m_loader =
        std::make_unique<TOrbSlideLoader>(*m_source, 3, m_options.SlideWindows, m_accessor.get(),
                                          m_options.ScreenWidth, m_options.ScreenHeight);
    m_loader->Window().ContainerDecoding = [this](TEngineSlide& slide) {
        // Runs on the loader thread or its helper, without the drawer's lock.
        if (T3DDrawer* drawer = m_controller.Drawer()) slide.Decode(*drawer);
    };
    m_loader->Window().ContainerCreated = [this](TEngineSlide& slide) {
        // A device that only its own thread may call (GL) gets the slide's
        // textures made there; the slide list the loader sends next comes
        // after it in the engine's events.
        if (m_options.Threaded && m_controller.Device().ThreadBound()) {
            Events().Post(kEngineSlideBuilt,
                          std::make_unique<TBuiltSlide>(TEngineSlideRef(&slide)));
            return;
        }
        PrepareBuiltSlide(slide);
    };
    m_loader->SetDelivery(&Events(), kEngineSlideList,
                          m_options.Threaded ? TDeliveryMode::Send : TDeliveryMode::Post);
    m_music = MakeMusic();

    if (!reopen) {
        Notify(kEngineGeometry,
               {m_loader->FrameWidth(), m_loader->FrameHeight(), m_loader->WindowMode()});
        m_controller.CreateDrawer(m_options.Capture);
    }
    m_loader->SetFrameSize(m_controller.DeviceWidth(), m_controller.DeviceHeight());
    m_loader->SetFitMode(m_options.Cover);

    m_timeBase = time;
    m_currentTime = time;
    m_loader->SetCurrentTime(time);
    m_lastReported.reset();
    RecomputeTargets(time);
    m_waiting = false;
    Log().WriteReal(u"Loader Inited To Time : ", m_source->TotalTime());
}

std::unique_ptr<TEngineMusic> TOrbEngine::MakeMusic() {
    std::unique_ptr<TEngineMusic> music;
    try {
        if (m_options.Music) {
            music = m_options.Music(*m_source, m_accessor.get(), *m_clock);
        } else {
            TMusicPlayerOptions options;
            options.Deterministic = !m_options.Threaded;
            options.Output = m_options.SoundOutput;
            if (TFileAccessor* accessor = m_accessor.get())
                options.OpenEntry = [accessor](const std::u16string& name) {
                    return accessor->OpenStream(name);
                };
            music = std::make_unique<TPlayerMusic>(
                std::make_unique<TOrbMusicPlayer>(*m_source, std::move(options)));
        }
    } catch (const ql::TCommonException& e) {
        // The show still plays, on the engine clock alone.
        Log().WriteLine("TOrbEngine: no music player: " + e.Message());
    }
    if (!music) music = std::make_unique<TClockMusic>(*m_clock);
    if (m_options.Threaded) music->Start();
    music->Run(false);
    music->SetVolume(m_volume.load());
    return music;
}

void TOrbEngine::StopLoader() {
    if (!m_loader) return;
    m_loader->Terminate();
    m_loader->Events().Wake();
    // The loader may be waiting for us to take a slide list.
    while (m_loader->Active()) {
        Events().Process();
        m_clock->Sleep(3);
        if (!m_options.Threaded) break;
    }
    m_loader->Stop();
    m_loader.reset();
}

void TOrbEngine::StopMusic() {
    if (!m_music) return;
    m_music->Stop();
    m_music.reset();
}

void TOrbEngine::RecomputeTargets(double time) {
    if (!m_source) return;
    m_runApp = ComputeRunAppTarget(*m_source, time);
    m_barrier = ComputeBarrier(*m_source, time, TStopPoint{}, m_slideActions);
}

// ---- the clock ----

void TOrbEngine::SetActive(bool active) {
    if (active == m_active) return;
    if (active) {
        const double t = m_currentTime;
        if (T3DDrawer* drawer = m_controller.Drawer()) {
            std::lock_guard<std::recursive_mutex> lock(drawer->Mutex());
            for (const TEngineSlideRef& slide : m_loaded) {
                slide->Upload(*drawer);
                slide->SetTime(t);
            }
        }
        Log().WriteReal(u"PreloadEx Time: ", t);
        if (m_music) {
            if (m_music->Barrier() != m_barrier.Time)
                m_music->Seek(kSeekBarrierOnly, m_barrier.Time);
            m_music->Run(true);
        }
        m_active = true;
        m_timeBase = (m_music ? m_music->Position() : t) - t;
        if (m_options.Threaded) SetLoadCallbackMode(kLoadSleep);
        m_interpolator.Release();
    } else {
        m_interpolator.Hold();
        m_active = false;
        if (m_music) m_music->Run(false);
        m_timeBase = m_loader ? m_loader->CurrentTime() : m_currentTime;
        if (m_options.Threaded) SetLoadCallbackMode(kLoadRun);
        if (m_music && m_music->MustRebuild()) {
            Log().WriteLine(u"TOrbEngine: the music player is rebuilt");
            StopMusic();
            if (m_source) m_music = MakeMusic();
        }
    }
}

double TOrbEngine::ComputeShowTime() {
    if (!m_active || !m_music) return m_timeBase;
    const double raw = m_music->Position() - m_timeBase;
    // The virtual clock has no jitter to smooth.
    if (m_clock->IsVirtual()) return raw;
    // The smoothing predicts from the time since the last pass: passes come
    // at uneven times, late ones whenever the thread waited for a core.
    const double now = m_clock->NowMs();
    const double elapsed = m_lastSmoothed ? now - *m_lastSmoothed : -1;
    m_lastSmoothed = now;
    return m_interpolator.Next(raw, elapsed);
}

bool TOrbEngine::MusicReady() {
    if (!m_music) return false;
    if (!m_active) {
        const double t = m_timeBase;
        // The player never passes barrier - 1 ms; that much apart is in step.
        if (std::fabs(m_music->Position() - t) > 1 || m_music->Barrier() != m_barrier.Time)
            m_music->Seek(std::max(t, 0.0), m_barrier.Time);
    }
    const bool ready = m_music->Ready();
    if (m_active && !ready) Log().WriteLine(u"TOrbEngine.IsMusicReady: False");
    return ready;
}

bool TOrbEngine::HoldsSlidesVisibleAt(const TEngineSlideList& slides, double t) const {
    auto holds = [&slides](int64_t index) {
        return std::any_of(slides.begin(), slides.end(),
                           [index](const TEngineSlideRef& s) { return s->Index() == index; });
    };
    // Told from the slides' own times, so that a time on the border of two
    // slides without a transition is served by either.
    for (const TEngineSlideRef& slide : slides) {
        const TSlideInfo& info = slide->Info();
        if (!(info.BeginTime <= t && t <= info.NextEffectEnd)) continue;
        const int64_t k = slide->Index();
        // Within the transition into the slide, the one it leaves shows too
        // (the blank before the first slide needs no building).
        if (t < info.BeginTime + info.EffectTime && k > 0 && !holds(k - 1)) continue;
        // Within the transition out of it, the one that comes.
        if (t > info.EndTime && !holds(k + 1)) continue;
        return true;
    }
    return false;
}

bool TOrbEngine::SlidesReady() const {
    if (m_active) return true;
    if (!m_loader) return false;
    // Ready once the slides on screen at the held time are built: the one
    // playing and, while a transition runs, the one it leaves. Waiting for
    // the whole window would put the neighbours' building between a seek and
    // its first frame; they are built while the show plays.
    return HoldsSlidesVisibleAt(m_loaded, m_timeBase);
}

bool TOrbEngine::PastEnd() const {
    if (!m_source || m_source->RepeatMode() == TRepeatMode::Repeat) return false;
    return m_currentTime >= m_source->TotalTime();
}

bool TOrbEngine::ShouldRun(uint32_t flags) {
    if (!m_source) return false;
    if (m_source->PauseWhenInactive() && !(flags & dfWindowActive)) return false;
    if (m_active && PastEnd()) return false;
    if (m_paused || m_waiting) return false;
    // A dialog that pauses the show holds the clock until it closes.
    if (m_overlay && m_overlay->BlocksShow()) return false;
    // Both readiness tests run every pass: the music one keeps the player sought.
    const bool slides = SlidesReady();
    const bool music = MusicReady();
    return slides && music;
}

// ---- the main loop ----

void TOrbEngine::StartHook() {
    // A device tied to one thread (a GL context) draws from this one now.
    m_controller.Device().AttachToThread();
    m_lastTick = m_clock->NowMs();
}

void TOrbEngine::EndHook() {
    SetLoadCallbackMode(kLoadRun);
    if (m_pacing.Count() > 1) Log().WriteLine(m_pacing.Summary());
    m_controller.Device().DetachFromThread();
}

void TOrbEngine::MainLoopStep() {
    Pass();
    // Pace to the display: a short rest after a quick pass, the least one otherwise.
    const double now = m_clock->NowMs();
    m_clock->Sleep(now - m_lastTick < 17 ? 3 : 1);
    m_lastTick = m_clock->NowMs();
}

void TOrbEngine::Step() {
    Pass();
}

int32_t TOrbEngine::FillSlides() {
    int32_t built = 0;
    // The window holds three slides; a little more covers the drops.
    for (int i = 0; i < 6 && m_loader; ++i) {
        if (!m_loader->CacheStep()) break;
        ++built;
        // While the clock stands for the slides of a new time, the next pass
        // draws as soon as those on screen are there; the neighbours follow
        // in the next calls, as the loader's thread builds them while the
        // engine draws.
        if (!m_active && HoldsSlidesVisibleAt(m_loader->Window().Slides(), m_loader->CurrentTime()))
            break;
    }
    return built;
}

void TOrbEngine::PlayMusicFrames(int64_t frames, std::vector<int16_t>* out) {
    // 5 ms of sound is 220.5 frames: 220 and 221 in turn.
    int16_t block[2 * 221];
    // Without sound to play the player still takes its requests.
    if (frames <= 0 && m_music) m_music->Step();
    for (int64_t done = 0, step = 0; done < frames; ++step) {
        const size_t want = size_t(std::min<int64_t>(step % 2 ? 221 : 220, frames - done));
        size_t got = 0;
        if (m_music) {
            m_music->Step();
            got = m_music->Render(block, want);
        }
        if (got < want) std::fill(block + 2 * got, block + 2 * want, int16_t(0));
        if (out) out->insert(out->end(), block, block + 2 * want);
        done += int64_t(want);
    }
}

void TOrbEngine::Pass() {
    ++m_passes;
    if (m_music && m_music->Volume() != m_volume.load()) m_music->SetVolume(m_volume.load());

    uint32_t flags = 0;
    if (!Events().Closed()) {
        Events().Process();
        ProcessPendingRequest();
        if (m_loader && m_options.Threaded && !m_loader->Active()) m_loader->StartThread();
        flags = m_controller.ReadFlags();
    }

    const bool run = ShouldRun(flags);
    if (!run && m_active) {
        Log().WriteLine(u"TOrbEngine.MainLoop: SetActive(False) - Stop by not NewActive");
        m_controller.RequestRepaint();
        flags |= dfRepaint;
        SetActive(false);
    }
    if ((flags & dfLost) && (flags & dfRebuilt)) {
        m_firstFrameAnnounced = false;
        Log().WriteLine(u"TOrbEngine.MainLoop: SetActive(False) - Stop by Reinited");
        SetActive(false);
        for (const TEngineSlideRef& slide : m_loaded) slide->ReleaseDevice();
        const int32_t w = m_controller.DeviceWidth(), h = m_controller.DeviceHeight();
        if (m_loader && (w != m_loader->FrameWidth() || h != m_loader->FrameHeight())) {
            Log().WriteLine("OpenInt on diff size: " + std::to_string(w) + "x" + std::to_string(h));
            OpenAt(m_currentTime, true);
        } else if (T3DDrawer* drawer = m_controller.Drawer()) {
            std::lock_guard<std::recursive_mutex> lock(drawer->Mutex());
            for (size_t i = 1; i < m_loaded.size(); ++i) m_loaded[i]->Upload(*drawer);
        }
        Log().WriteLine("DrawDevice Reinited (Slides:" + std::to_string(m_loaded.size()) + ")");
    }
    if (run && !m_active && !Terminated()) {
        Log().WriteLine(u"TOrbEngine.MainLoop: SetActive(True) - Start by NewActive");
        SetActive(true);
    }

    if (!Terminated() && m_source) {
        const double target = ClampEngineTime(ComputeShowTime());
        ApplyBarrier(target);
        if (m_loader) m_loader->SetCurrentTime(m_currentTime);

        // A show that closes or stops ends once, at its duration.
        if (PastEnd()) {
            m_currentTime = m_source->TotalTime();
            if (!m_endReported) {
                m_endReported = true;
                Report(m_currentTime, true);
            }
        }

        if (m_active && m_runApp.IsSet() && m_currentTime >= m_runApp.Time) {
            const TRunAppTarget due = m_runApp;
            m_runApp = ComputeRunAppTarget(*m_source, m_currentTime, &due);
            if (!due.Command.empty()) CarryOut(TOrbActionInfo(acRunApp, 0, due.Command));
        }

        m_framePresented = false;
        const bool force = m_options.AlwaysDraw || (flags & (dfRepaint | dfLost)) != 0;
        if (!m_loaded.empty())
            DrawFrame(force);
        else if (flags & dfRepaint)
            DrawFrame(true);

        if (!m_lastReported || std::llabs(RoundMs(m_currentTime) - *m_lastReported) > 20)
            Report(m_currentTime, false);
    }
    PublishState();
}

void TOrbEngine::ApplyBarrier(double target) {
    // The music stops 1 ms before the barrier, so that much short has reached it.
    if (m_active && m_barrier.SlideIndex != TStopPoint::kNoSlide && target >= m_barrier.Time - 1) {
        Log().WriteLine(u"TOrbEngine.MainLoop: SetActive(False) - Stop by Barrier");
        const TStopPoint reached = m_barrier;
        double t = std::max(target, reached.Time);
        if (reached.LoopLength > 0) {
            // The slide range plays again from its start.
            while (t >= reached.Time) t -= reached.LoopLength;
        } else {
            m_waiting = true;
            t = reached.Time;
            m_barrier = ComputeBarrier(*m_source, t, reached, m_slideActions);
        }
        m_currentTime = t;
        if (m_loader) m_loader->SetCurrentTime(t);
        SetActive(false);
        m_timeBase = t;
        if (m_music) m_music->Seek(t, m_barrier.Time);
        return;
    }
    m_currentTime = target;
}

void TOrbEngine::Report(double time, bool end) {
    const int64_t ms = RoundMs(time);
    m_lastReported = ms;
    Notify(kEnginePosition,
           {m_servedRequest, ms, RoundMs(m_source ? m_source->TotalTime() : 0), end ? 1 : 0});
}

double TOrbEngine::DrawTime() const {
    // Waiting at a pause, the clock stands on the slide's end, which is also
    // the next slide's begin: the paused slide stays on screen.
    return m_waiting ? m_currentTime - kWaitDrawOffset : m_currentTime;
}

void TOrbEngine::DrawFrame(bool force) {
    T3DDrawer* drawer = m_controller.Drawer();
    if (!drawer) return;
    try {
        if (m_overlayPending) MakeOverlay();
        // A new output size lays the overlay out again for it.
        if (m_overlay) m_overlay->Resize(OverlayViewport());
        const bool overlayChanged =
            m_overlay && m_overlay->Advance(int64_t(m_clock->NowMs()), DrawTime());
        const bool changed =
            m_root.Arrange(m_loaded, DrawTime(), m_overlay ? &m_overlay->Scene() : nullptr) ||
            overlayChanged;
        if (!changed && !force) return;
        // Objects move under a pointer that stands still: the hover (and the
        // look it gives) is decided again for every frame.
        if (m_mouseKnown) {
            // Over the panel or a dialog the overlay names the hover.
            std::u16string name;
            if (m_overlay && m_overlay->HitTest(m_lastMouse.X, m_lastMouse.Y, &name)) {
                m_hover = !name.empty();
                m_hoverClass = name;
            } else {
                HitSlides(m_lastMouse);
            }
        }
        m_root.BackgroundColour = m_backgroundOverride.value_or(0xFF000000u);
        if (m_source) {
            m_root.UnsharpAmount = m_source->UnsharpAmount();
            m_root.UnsharpThreshold = m_source->UnsharpThreshold();
            m_root.HiderColour = m_hiderOverride.value_or(HiderColour(m_source->HiderColor()));
        }
        m_root.SlideFrame = m_loader ? m_loader->ViewportRect() : ql::TRect();
        std::lock_guard<std::recursive_mutex> lock(drawer->Mutex());
        if (m_controller.Render(m_root)) {
            m_framePresented = true;
            m_pacing.Note(std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count());
            if (!m_firstFrameAnnounced) {
                m_firstFrameAnnounced = true;
                Notify(kEngineFirstFrame, {});
            }
        }
    } catch (const std::exception& e) {
        // The frame is abandoned; the show goes on.
        Log().WriteLine(std::string("TOrbEngine: frame abandoned: ") + e.what());
    }
}

// ---- events ----

void TOrbEngine::PostOpen(std::unique_ptr<TFileAccessor> accessor,
                          std::unique_ptr<ql::TIniStorage> storage, int64_t startTime,
                          int64_t requestId) {
    auto request = std::make_unique<TOpenParams>();
    request->Accessor = std::move(accessor);
    request->Storage = std::move(storage);
    request->StartTime = startTime;
    request->RequestId = requestId;
    Events().Post(kEngineOpen, std::move(request));
}

void TOrbEngine::PostSeek(int64_t requestId, int64_t time) {
    auto request = std::make_unique<TOpenParams>();
    request->StartTime = time;
    request->RequestId = requestId;
    Events().Post(kEngineOpen, std::move(request));
}

void TOrbEngine::PrepareBuiltSlide(TEngineSlide& slide) {
    // On the loader thread only the drawer's own lock makes this safe.
    T3DDrawer* drawer = m_controller.Drawer();
    if (!drawer) return;
    std::lock_guard<std::recursive_mutex> lock(drawer->Mutex());
    if (m_active) {
        Log().WriteLine(u"preload from callback.............");
        slide.Upload(*drawer);
        slide.Prepare(*drawer);
        return;
    }
    // The clock stands until this slide is there: the pause after each
    // tile, which leaves the drawing thread its turn while the show
    // plays, would only hold back the first frame of the new time (a
    // 24-megapixel picture has a hundred tiles).
    struct TPauseLifted {
        TTextureManager6& textures;
        const std::chrono::milliseconds pause = textures.UploadPause();
        explicit TPauseLifted(TTextureManager6& t) : textures(t) { textures.SetUploadPause({}); }
        ~TPauseLifted() { textures.SetUploadPause(pause); }
    } lifted(drawer->TextureManager());
    slide.Prepare(*drawer);
}

void TOrbEngine::PostOutputSize(int32_t width, int32_t height) {
    Events().Post(kEngineOutputSize, std::make_unique<TSizeData>(width, height));
}

void TOrbEngine::PostShowPixels(const uint8_t* pixels, int32_t width, int32_t height,
                                int32_t stride) {
    if (!pixels || width <= 0 || height <= 0 || stride < width * 4) return;
    auto picture = std::make_unique<TPixelsData>();
    picture->Width = width;
    picture->Height = height;
    picture->Pixels.resize(size_t(width) * size_t(height) * 4);
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(picture->Pixels.data() + size_t(y) * size_t(width) * 4,
                    pixels + size_t(y) * size_t(stride), size_t(width) * 4);
    Events().Post(kEngineShowPixels, std::move(picture));
}

void TOrbEngine::FollowOutputSize(const TSizeData& size) {
    const int32_t width = std::clamp(size.Width, 1, 16384),
                  height = std::clamp(size.Height, 1, 16384);
    T3DDrawer* drawer = m_controller.Drawer();
    if (!drawer) return;
    Log().WriteLine("TOrbEngine: output " + std::to_string(width) + "x" + std::to_string(height));
    // The next scene begins on the new size; the loss and rebuild that
    // follow reopen the show where it stands, made for that size.
    drawer->SetOutputDevice({width, height, false});
    m_controller.RequestRepaint();
}

void TOrbEngine::PostPause(bool paused) {
    Events().Post(kEnginePause, std::make_unique<TModeData>(paused ? 1 : 0));
}
void TOrbEngine::PostMouse(std::unique_ptr<TMouseData> mouse) {
    Events().Post(kEngineMouse, std::move(mouse));
}
void TOrbEngine::PostSnapshot() {
    Events().Post(kEngineSnapshot);
}
void TOrbEngine::PostCloseDialog() {
    Events().Post(kEngineCloseDialog);
}
void TOrbEngine::PostHelpDialog() {
    Events().Post(kEngineHelpDialog);
}
void TOrbEngine::PostReleaseWait() {
    Events().Post(kEngineReleaseWait);
}

void TOrbEngine::HandleEvent(ql::TMessageItem& item) {
    item.Handled = true;
    switch (item.Code()) {
        case kEngineMouse:
            if (auto* mouse = item.PayloadAs<TMouseData>()) HandleMouse(*mouse);
            break;
        case kEngineSnapshot:
            HandleSnapshot();
            break;
        case kEngineCloseDialog:
            if (TEngineOverlay* overlay = Overlay()) overlay->CloseDialog();
            break;
        case kEngineHelpDialog:
            OpenDialog(u"help");
            break;
        case kEngineSlideList:
            if (auto* data = item.PayloadAs<TSlideData>()) {
                m_loaded = data->Slides();
                std::u16string ids;
                for (const TEngineSlideRef& slide : m_loaded) ids += slide->Info().SlideId + u" ";
                Log().WriteLine(u">>>>>>>>>>>>> slide list synched : " + ids);
            }
            break;
        case kEngineOpen: {
            std::unique_ptr<ql::TObj> payload = item.TakePayload();
            auto* request = dynamic_cast<TOpenParams*>(payload.get());
            if (!request) break;
            payload.release();
            const bool open = m_requests.Post(std::unique_ptr<TOpenParams>(request), m_paused);
            Log().WriteLine(open ? u"TOrbEngine: OpenShow Async"
                                 : u"TOrbEngine: SetPosition Async");
            break;
        }
        case kEnginePause:
            if (auto* mode = item.PayloadAs<TModeData>()) {
                if (m_requests.StorePause(mode->Paused)) {
                    Log().WriteInt(u"TOrbEngine: SetPauseEvent Async: ", mode->Paused);
                } else {
                    Log().WriteInt(u"TOrbEngine: SetPauseEvent Direct: ", mode->Paused);
                    m_paused = mode->Paused;
                }
            }
            break;
        case kEngineReleaseWait:
            if (m_waiting) Log().WriteLine(u"TOrbEngine: wait released");
            m_waiting = false;
            break;
        case kEngineSlideBuilt:
            if (auto* built = item.PayloadAs<TBuiltSlide>()) PrepareBuiltSlide(*built->Slide);
            break;
        case kEngineOutputSize:
            if (auto* size = item.PayloadAs<TSizeData>()) FollowOutputSize(*size);
            break;
        case kEngineShowPixels:
            if (auto* picture = item.PayloadAs<TPixelsData>()) {
                T3DDrawer* drawer = m_controller.Drawer();
                std::unique_lock<std::recursive_mutex> lock;
                if (drawer) lock = std::unique_lock<std::recursive_mutex>(drawer->Mutex());
                m_controller.Device().ShowPixels(picture->Pixels.data(), picture->Width,
                                                 picture->Height, picture->Width * 4);
            }
            break;
        default:
            QL_ASSERT(false, "TOrbEngine: unknown event " + std::to_string(item.Code()));
    }
}

void TOrbEngine::ProcessPendingRequest() {
    if (!m_requests.HasPending()) return;
    TOpenParams* request = m_requests.BeginProcessing();
    if (request->IsOpen()) {
        Log().WriteLine(u"TOrbEngine: Process AsyncEvent Open");
        Open(std::move(request->Accessor), std::move(request->Storage), request->StartTime,
             m_slideActions);
    } else {
        Log().WriteLine(u"TOrbEngine: Process AsyncEvent SetPosition");
        const double t = ClampEngineTime(double(request->StartTime));
        SetActive(false);
        m_timeBase = t;
        m_currentTime = t;
        if (m_loader) m_loader->SetCurrentTime(t);
        m_lastReported.reset();
        RecomputeTargets(t);
        m_waiting = false;
        m_endReported = false;
    }
    std::unique_ptr<TOpenParams> served = m_requests.EndProcessing();
    m_servedRequest = served->RequestId;
    m_paused = served->Paused;
}

void TOrbEngine::CarryOut(const TOrbActionInfo& action) {
    switch (action.Code) {
        case acNone:
            return;
        case acHelp:
            OpenDialog(u"help");
            return;
        case acOpenDialog:
            OpenDialog(action.Text);
            return;
        case acCloseDialog:
            // Without a dialog open it goes to the viewer (the start-up
            // window exits with it).
            if (m_overlay && m_overlay->DialogOpen()) {
                m_overlay->CloseDialog();
                return;
            }
            break;
        case acPrevSlide:
        case acNextSlide:
        case acGotoSlide:
        case acRunPresentation:
            // Navigation does not wait behind a dialog that pauses the show.
            if (m_overlay) m_overlay->ClosePausingDialogs();
            break;
        default:
            break;
    }
    std::unique_ptr<ql::TObj> text;
    if (!action.Text.empty()) text = std::make_unique<TStrValue>(action.Text);
    Notify(kEngineAction, {action.Code, action.Param}, std::move(text));
}

ql::TRect TOrbEngine::OverlayViewport() {
    return {0, 0, m_controller.DeviceWidth(), m_controller.DeviceHeight()};
}

TEngineOverlay* TOrbEngine::Overlay() {
    // A dialog may be asked for before the first frame made the overlay (but
    // not before the drawer it draws with).
    if (m_overlayPending && m_controller.Drawer()) MakeOverlay();
    return m_overlay.get();
}

void TOrbEngine::OpenDialog(const std::u16string& name) {
    TEngineOverlay* overlay = Overlay();
    if (!overlay) {
        Log().WriteLine(u"TOrbEngine: no overlay for dialogs");
        return;
    }
    if (!overlay->OpenDialog(name)) Log().WriteLine(u"TOrbEngine: no dialog " + name);
}

void TOrbEngine::MakeOverlay() {
    m_overlayPending = false;
    T3DDrawer* drawer = m_controller.Drawer();
    if (!drawer || !m_source || !m_options.Overlay) return;
    TEngineOverlayContext context;
    context.Accessor = m_accessor.get();
    context.Project = &m_source->Document();
    context.Source = m_source.get();
    context.FitMode = m_options.Cover ? 1 : 0;
    context.Viewport = OverlayViewport();
    context.DurationMs = m_source->TotalTime();
    context.NowMs = int64_t(m_clock->NowMs());
    context.IsPlaying = [this] { return !m_paused; };
    context.Volume = Volume();
    // A seek from the time track goes the way of a "go to time" action.
    context.Seek = [this](double ms) {
        CarryOut(TOrbActionInfo(acGotoTime, int32_t(std::clamp(ms, 0.0, 2e9))));
    };
    context.SetVolume = [this](double volume) { SetVolume(float(volume)); };
    try {
        m_overlay = m_options.Overlay(context, *drawer);
    } catch (const std::exception& e) {
        Log().WriteLine(std::string("TOrbEngine: no overlay: ") + e.what());
    }
}

void TOrbEngine::HandleMouse(TMouseData& mouse) {
    // The last position (with its held buttons, without its click) is what
    // each frame's hover test looks at.
    m_lastMouse.X = mouse.X;
    m_lastMouse.Y = mouse.Y;
    m_lastMouse.Modifiers = mouse.Modifiers;
    m_lastMouse.Button = 0;
    m_lastMouse.Kind = TMouseKind::Move;
    m_mouseKnown = true;
    // The overlay sees the event first; what it takes, the slides do not see.
    if (m_overlay) {
        const TEngineOverlay::TMouseAnswer answer =
            m_overlay->Mouse(mouse, int64_t(m_clock->NowMs()));
        if (answer.Handled) {
            m_hover = !answer.HoverName.empty();
            m_hoverClass = answer.HoverName;
            if (answer.Action.Code < kOverlayConsumed) CarryOut(answer.Action);
            return;
        }
    }
    TOrbActionInfo action = HitSlides(mouse);
    if (action.IsNone() && mouse.HasAction) action = mouse.Action;
    CarryOut(action);
}

TOrbActionInfo TOrbEngine::HitSlides(const TMouseData& mouse) {
    TOrbActionInfo action;
    std::u16string hoverClass;
    const double t = m_currentTime == 0 ? 0.1 : m_currentTime;
    for (auto it = m_loaded.rbegin(); it != m_loaded.rend() && action.IsNone(); ++it) {
        const TSlideInfo& info = (*it)->Info();
        if (!(info.BeginTime < t) || info.NextEffectEnd < t) continue;
        std::u16string hit;
        action = (*it)->MouseEvent(mouse, m_slideActions, &hit);
        if (hoverClass.empty()) hoverClass = hit;
    }
    // The viewer shows the hand cursor over objects that carry an action.
    m_hover = !hoverClass.empty();
    m_hoverClass = hoverClass;
    return action;
}

void TOrbEngine::HandleSnapshot() {
    T3DDrawer* drawer = m_controller.Drawer();
    std::unique_ptr<ql::TBitmap> image;
    if (drawer) {
        try {
            std::lock_guard<std::recursive_mutex> lock(drawer->Mutex());
            drawer->SetCaptureMode(true);
            m_root.Arrange(m_loaded, DrawTime(), nullptr);
            if (m_controller.Render(m_root)) image = drawer->CaptureToBitmap();
        } catch (const std::exception& e) {
            Log().WriteLine(std::string("TOrbEngine: snapshot abandoned: ") + e.what());
        }
        drawer->SetCaptureMode(m_options.Capture);
    }
    if (image) {
        Log().WriteLine(u"********************* Image ");
        Notify(kEngineImage, {}, std::move(image));
    } else {
        Log().WriteLine(u"********************* Image not Assigned");
    }
}

void TOrbEngine::PublishState() {
    std::lock_guard<std::mutex> lock(m_stateLock);
    m_state.Active = m_active;
    m_state.Paused = m_paused != 0;
    m_state.Waiting = m_waiting;
    m_state.DialogOpen = m_overlay && m_overlay->DialogOpen();
    m_state.Hover = m_hover;
    m_state.HoverClass = m_hoverClass;
    m_state.PanelState = m_overlay ? m_overlay->PanelState() : 0;
    m_state.EndReported = m_endReported;
    m_state.ShowTime = m_currentTime;
    m_state.ServedRequest = m_servedRequest;
    m_state.LoadedSlides = int32_t(m_loaded.size());
}

TEngineState TOrbEngine::State() const {
    std::lock_guard<std::mutex> lock(m_stateLock);
    return m_state;
}

}  // namespace orb
