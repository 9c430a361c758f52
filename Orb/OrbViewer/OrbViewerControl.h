// The show viewer as the action executor steers it.
#pragma once

#include "Orb/OrbViewer/OrbActionExecutor.h"
#include "OrbLib2/OrbViewer/qlOrbShowViewer.h"

namespace orb {

class TShowViewerControl : public TViewerControl {
public:
    explicit TShowViewerControl(TOrbShowViewer& viewer) : m_viewer(viewer) {}
    double ShowTime() const override { return m_viewer.ShowTime(); }
    bool Paused() const override { return m_viewer.Paused(); }
    bool Waiting() const override { return m_viewer.Waiting(); }
    void Seek(int64_t time) override { m_viewer.Seek(time); }
    void SetPaused(bool paused) override { m_viewer.SetPaused(paused); }
    void ReleaseWait() override { m_viewer.ReleaseWait(); }
    void PrintFrame() override { m_viewer.PrintFrame(); }

private:
    TOrbShowViewer& m_viewer;
};

}  // namespace orb
