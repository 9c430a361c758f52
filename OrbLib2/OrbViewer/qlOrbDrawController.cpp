#include "OrbLib2/OrbViewer/qlOrbDrawController.h"

#include <algorithm>

#include "QlLib/qlLog.h"

namespace orb {

TOrbDrawController::TOrbDrawController(TRenderDevice& device) : m_device(device) {}

TOrbDrawController::~TOrbDrawController() {
    if (m_drawer) m_drawer->Close();
}

T3DDrawer& TOrbDrawController::CreateDrawer(bool capture) {
    if (!m_drawer) {
        m_drawer = std::make_unique<T3DDrawer>(m_device);
        m_drawer->SetReadyNotification([this] {
            ql::GlobalLog().WriteLine(u"TOrbDrawController.DeviceRefresh: DrawDevice Refresh!");
            m_repaint.store(true);
            if (m_lossPending.load()) m_rebuilt.store(true);
        });
        m_drawer->SetLostNotification([this] { m_lossPending.store(true); });
        m_drawer->Init({DeviceWidth(), DeviceHeight(), false});
    }
    m_drawer->SetCaptureMode(capture);
    return *m_drawer;
}

int32_t TOrbDrawController::DeviceWidth() const { return std::max(m_device.OutputWidth(), 10); }
int32_t TOrbDrawController::DeviceHeight() const { return std::max(m_device.OutputHeight(), 10); }

uint32_t TOrbDrawController::ReadFlags() {
    uint32_t flags = 0;
    if (m_windowActive.load()) flags |= dfWindowActive;
    if (m_repaint.exchange(false)) flags |= dfRepaint;
    if (m_lossPending.load()) flags |= dfLost;
    if (m_rebuilt.exchange(false)) {
        flags |= dfRebuilt;
        m_lossPending.store(false);
    }
    return flags;
}

bool TOrbDrawController::Render(TDrawScene& scene) { return m_drawer && m_drawer->DrawScene(scene); }

}  // namespace orb
