#include "OrbLib2/OrbViewer/qlOrbShowViewer.h"

#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "QlLib/qlIniStorage.h"

namespace orb {

TOrbShowViewer::TOrbShowViewer(TRenderDevice& device, TEngineOptions options,
                               std::function<void()> wake)
    : m_device(&device), m_options(std::move(options)), m_wake(std::move(wake)) {}

TOrbShowViewer::~TOrbShowViewer() {
    Stop();
}

void TOrbShowViewer::SetDevice(TRenderDevice& device) {
    if (!m_engine) m_device = &device;
}

void TOrbShowViewer::Stop() {
    if (!m_engine) return;
    m_engine->Stop();
    // The engine lets its resources go on this thread.
    if (m_options.Threaded) m_device->AttachToThread();
    m_engine.reset();
}

bool TOrbShowViewer::Open(std::unique_ptr<TFileAccessor> accessor,
                          std::unique_ptr<ql::TIniStorage> storage, int64_t startTime) {
    m_time = double(startTime);
    if (!m_engine) {
        m_engine = std::make_unique<TOrbEngine>(*m_device, m_options, m_paused);
        m_engine->SetListener(this);
        if (!m_engine->Open(std::move(accessor), std::move(storage), startTime, m_slideActions)) {
            m_engine.reset();
            return false;
        }
        m_request = 0;
        if (m_options.Threaded) {
            // The engine's thread draws from now on.
            m_device->DetachFromThread();
            m_engine->StartThread();
        }
        return true;
    }
    m_request = m_engine->NewRequestId();
    m_engine->PostOpen(std::move(accessor), std::move(storage), startTime, m_request);
    return true;
}

void TOrbShowViewer::Seek(int64_t time) {
    m_time = double(time);
    if (!m_engine) return;
    m_request = m_engine->NewRequestId();
    m_engine->PostSeek(m_request, time);
}

void TOrbShowViewer::SetPaused(bool paused) {
    if (paused == m_paused) return;
    m_paused = paused;
    if (m_engine) m_engine->PostPause(paused);
}

void TOrbShowViewer::SeekAndSetPaused(int64_t time, bool paused) {
    Seek(time);
    SetPaused(paused);
}

void TOrbShowViewer::ReleaseWait() {
    if (m_engine) m_engine->PostReleaseWait();
}

void TOrbShowViewer::Mouse(std::unique_ptr<TMouseData> mouse) {
    if (m_engine) m_engine->PostMouse(std::move(mouse));
}

void TOrbShowViewer::PrintFrame() {
    if (m_engine) m_engine->PostSnapshot();
}

void TOrbShowViewer::CloseTopDialog() {
    if (m_engine) m_engine->PostCloseDialog();
}

void TOrbShowViewer::OpenHelpDialog() {
    if (m_engine) m_engine->PostHelpDialog();
}

bool TOrbShowViewer::Waiting() const {
    return m_engine && m_engine->State().Waiting;
}

void TOrbShowViewer::EngineEvent(std::unique_ptr<TOrbEventData> event) {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.push_back(std::move(event));
    }
    if (m_wake) m_wake();
}

void TOrbShowViewer::DeliverEvents() {
    for (;;) {
        std::unique_ptr<TOrbEventData> event;
        {
            std::lock_guard<std::mutex> lock(m_queueLock);
            if (m_queue.empty()) return;
            event = std::move(m_queue.front());
            m_queue.pop_front();
        }
        Handle(*event);
    }
}

void TOrbShowViewer::Handle(TOrbEventData& event) {
    switch (event.Code) {
        case kEngineFirstFrame:
            if (m_callbacks.FirstFrame) m_callbacks.FirstFrame();
            break;
        case kEnginePosition:
            // Reports of a request that a newer one replaced are stale.
            if (event.Value(0) != m_request) break;
            m_time = double(event.Value(1));
            if (m_callbacks.Position) m_callbacks.Position(m_time, event.Value(3) != 0);
            break;
        case kEngineAction: {
            if (m_inAction || !m_callbacks.Action) break;
            auto* text = dynamic_cast<TStrValue*>(event.Object.get());
            const TOrbActionInfo action(uint8_t(event.Value(0)), int32_t(event.Value(1)),
                                        text ? text->Value : std::u16string());
            m_inAction = true;
            m_callbacks.Action(action);
            m_inAction = false;
            break;
        }
        case kEngineImage: {
            std::unique_ptr<ql::TBitmap> frame(dynamic_cast<ql::TBitmap*>(event.Object.get()));
            if (frame) event.Object.release();
            if (m_callbacks.PrintImage) m_callbacks.PrintImage(std::move(frame));
            break;
        }
        case kEngineGeometry:
            if (m_callbacks.Geometry)
                m_callbacks.Geometry(int32_t(event.Value(0)), int32_t(event.Value(1)),
                                     int32_t(event.Value(2)));
            break;
        default:
            break;
    }
}

}  // namespace orb
