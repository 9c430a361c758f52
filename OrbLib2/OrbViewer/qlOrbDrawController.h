// The engine's link to the drawing device: it owns the 3D drawer (made on
// first use) and turns the device's refresh and loss notices into flags that
// the engine reads once per pass.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "QlLib/SysObj.h"

namespace orb {

enum TDeviceFlags : uint32_t {
    dfRebuilt = 1,         // the drawer came back after a loss
    dfLost = 2,            // a loss is pending
    dfRepaint = 4,         // a repaint was asked for
    dfWindowActive = 8,    // the show's window is the active one
};

class TOrbDrawController : public ql::TObj {
public:
    // The device must outlive the controller.
    explicit TOrbDrawController(TRenderDevice& device);
    ~TOrbDrawController() override;

    // Creates the drawer on the device (once); capture keeps frames for reading back.
    T3DDrawer& CreateDrawer(bool capture);
    T3DDrawer* Drawer() const { return m_drawer.get(); }
    TRenderDevice& Device() const { return m_device; }
    int32_t DeviceWidth() const;
    int32_t DeviceHeight() const;

    // Reads the flags; the repaint request and a finished rebuild are
    // consumed by the read.
    uint32_t ReadFlags();
    void RequestRepaint() { m_repaint.store(true); }
    // Set by the viewer from its window; a headless show counts as active.
    void SetWindowActive(bool active) { m_windowActive.store(active); }

    // Draws the scene and presents it; false when nothing was presented.
    bool Render(TDrawScene& scene);

private:
    TRenderDevice& m_device;
    std::unique_ptr<T3DDrawer> m_drawer;
    std::atomic<bool> m_repaint{false};
    std::atomic<bool> m_lossPending{false};
    std::atomic<bool> m_rebuilt{false};
    std::atomic<bool> m_windowActive{true};
};

}  // namespace orb
