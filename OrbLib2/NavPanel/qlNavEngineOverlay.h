// The overlay as the engine holds it: the logo, the navigation panel and
// the dialogs of one opened show, with their pictures on the engine's drawer.
#pragma once

#include <memory>

#include "OrbLib2/NavPanel/qlNavDialogs.h"
#include "OrbLib2/NavPanel/qlOverlayScene.h"
#include "OrbLib2/NavPanel/qlThirdSlide.h"
#include "OrbLib2/OrbViewer/qlOrbEngineOverlay.h"

namespace orb {

class TNavEngineOverlay : public TEngineOverlay {
public:
    TNavEngineOverlay(const TEngineOverlayContext& context, TDeviceDrawer& drawer,
                      TNavOpenFile open);
    ~TNavEngineOverlay() override;

    // Neither a logo nor a panel, and no dialog to open.
    bool Empty() const;
    const TThirdSlide& Overlay() const { return m_overlay; }

    TMouseAnswer Mouse(const TMouseData& mouse, int64_t nowMs) override;
    bool Advance(int64_t nowMs, double showTimeMs) override;
    TDrawScene& Scene() override { return m_scene; }
    bool HitTest(int32_t x, int32_t y, std::u16string* name) const override {
        return m_overlay.HitTest(x, y, name);
    }
    int32_t PanelState() const override { return m_overlay.PanelState(); }
    bool OpenDialog(const std::u16string& name) override;
    void CloseDialog() override { m_overlay.CloseDialog(-1); }
    void ClosePausingDialogs() override { m_overlay.ClosePausingDialogs(); }
    bool DialogOpen() const override { return !m_overlay.Dialogs().empty(); }
    bool BlocksShow() const override { return m_overlay.AnyPausingDialog(); }
    void Resize(const ql::TRect& viewport) override;

private:
    static std::unique_ptr<TDialogBuilder> MakeBuilder(const TEngineOverlayContext& context);
    static TThirdSlide::THooks Hooks(const TEngineOverlayContext& context);

    // Declared before the overlay, so that the dialogs it built go first.
    std::unique_ptr<TDialogBuilder> m_builder;
    TThirdSlide m_overlay;
    TOverlayScene m_scene;
};

// The factory the program gives the engine; nullptr when the show has
// neither a logo nor a panel nor a dialog.
std::unique_ptr<TEngineOverlay> MakeNavOverlay(const TEngineOverlayContext& context,
                                               TDeviceDrawer& drawer);

}  // namespace orb
