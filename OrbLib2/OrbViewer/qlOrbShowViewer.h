// The show viewer: owns the playback engine, turns the viewer's requests into
// engine events and hands the engine's notifications to the user-interface
// thread, dropping position reports of requests that a newer one replaced.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "OrbLib2/OrbViewer/qlOrbEngine2.h"

namespace orb {

struct TShowViewerCallbacks {
    std::function<void()> FirstFrame;
    // The show time and whether the show reached its end.
    std::function<void(double time, bool end)> Position;
    std::function<void(const TOrbActionInfo& action)> Action;
    std::function<void(std::unique_ptr<ql::TBitmap> frame)> PrintImage;
    std::function<void(int32_t width, int32_t height, int32_t mode)> Geometry;
};

class TOrbShowViewer : public ql::TObj, private TEngineListener {
public:
    // `wake` is called on the engine's thread after a notification was
    // queued, so that the user-interface thread calls DeliverEvents.
    TOrbShowViewer(TRenderDevice& device, TEngineOptions options, std::function<void()> wake);
    ~TOrbShowViewer() override;

    void SetCallbacks(TShowViewerCallbacks callbacks) { m_callbacks = std::move(callbacks); }
    // Draws on another device from the first open on; only before it.
    void SetDevice(TRenderDevice& device);
    // Forgets the callbacks (the form is closing).
    void Disconnect() { m_callbacks = {}; }
    void SetSlideActions(bool on) { m_slideActions = on; }

    // Creates the engine on the first open (and starts its thread); later
    // opens are posted. False when the first show does not play.
    bool Open(std::unique_ptr<TFileAccessor> accessor, std::unique_ptr<ql::TIniStorage> storage,
              int64_t startTime);
    void Seek(int64_t time);
    void SetPaused(bool paused);
    void SeekAndSetPaused(int64_t time, bool paused);
    void ReleaseWait();
    void Mouse(std::unique_ptr<TMouseData> mouse);
    void PrintFrame();
    void CloseTopDialog();
    void OpenHelpDialog();

    bool Paused() const { return m_paused; }
    // Stopped at a pause barrier.
    bool Waiting() const;
    // The last reported time, or the target of the latest seek.
    double ShowTime() const { return m_time; }
    TOrbEngine* Engine() const { return m_engine.get(); }

    // Hands the queued notifications to the callbacks; user-interface thread.
    void DeliverEvents();
    // Stops the engine's thread.
    void Stop();

private:
    void EngineEvent(std::unique_ptr<TOrbEventData> event) override;
    void Handle(TOrbEventData& event);

    TRenderDevice* m_device;
    TEngineOptions m_options;
    std::function<void()> m_wake;
    TShowViewerCallbacks m_callbacks;
    std::unique_ptr<TOrbEngine> m_engine;
    bool m_paused = true;
    bool m_slideActions = true;
    double m_time = 0;
    int64_t m_request = 0;
    bool m_inAction = false;

    std::mutex
        m_queueLock;  // guards m_queue: filled by the engine, emptied by the user-interface thread
    std::deque<std::unique_ptr<TOrbEventData>> m_queue;
};

}  // namespace orb
