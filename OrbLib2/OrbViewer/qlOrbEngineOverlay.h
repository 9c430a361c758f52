// The engine's side of the overlay drawn above the slides (logo, navigation
// panel, dialogs). The overlay itself lives in a room above the engine; the
// program hands the engine a factory through its options, and the engine
// makes one overlay per opened show on its own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/OrbViewer/qlOrbEngineEvents.h"
#include "QlLib/qlIniStorage.h"

namespace orb {

// What an overlay is made from; everything lives at least as long as the overlay.
class TOrbSource;

struct TEngineOverlayContext {
    TFileAccessor* Accessor = nullptr;
    const ql::TIniStorage* Project = nullptr;  // the show's project document
    // The show the dialogs are built from, and how its slides fit the
    // viewport (1 cover, 0 fit); without a source there are no dialogs.
    TOrbSource* Source = nullptr;
    int32_t FitMode = 0;
    ql::TRect Viewport;  // where the show is drawn, in device pixels
    double DurationMs = 0;
    int64_t NowMs = 0;                // the engine clock at the opening
    std::function<bool()> IsPlaying;  // on the engine thread
    double Volume = 1;                // 0 .. 1
    // The video-style bar's time track and volume control, on the engine thread.
    std::function<void(double ms)> Seek;
    std::function<void(double volume)> SetVolume;
};

class TEngineOverlay : public ql::TObj {
public:
    struct TMouseAnswer {
        TOrbActionInfo Action;  // 20: consumed, nothing to carry out
        bool Handled = false;   // the slides do not see the event
        std::u16string HoverName;
    };
    // Sees every mouse event before the slides.
    virtual TMouseAnswer Mouse(const TMouseData& mouse, int64_t nowMs) = 0;
    // Fades and animations; true when the overlay's picture changed.
    virtual bool Advance(int64_t nowMs, double showTimeMs) = 0;
    // Drawn after the slides.
    virtual TDrawScene& Scene() = 0;
    // Whether the point is over the panel or a dialog; the hover name goes to name.
    virtual bool HitTest(int32_t x, int32_t y, std::u16string* name) const = 0;
    // For the cursor: 0 no panel; 2 the mouse is over it; 1 otherwise.
    virtual int32_t PanelState() const { return 0; }

    // The show's dialog `name` ("help" or a custom one) opens, or closes
    // when it is open already; false when the show has no such dialog.
    virtual bool OpenDialog(const std::u16string& name) { return false; }
    // The top dialog closes (with its animation).
    virtual void CloseDialog() {}
    // Before navigation: the dialogs that pause the show go.
    virtual void ClosePausingDialogs() {}
    virtual bool DialogOpen() const { return false; }
    // A dialog that pauses the show is on the stack: the clock stands.
    virtual bool BlocksShow() const { return false; }
    // The output changed size: the logo, the panel and the dialogs are laid
    // out again for the new viewport.
    virtual void Resize(const ql::TRect& viewport) {}
};

// nullptr: no overlay for this show.
using TEngineOverlayFactory = std::function<std::unique_ptr<TEngineOverlay>(
    const TEngineOverlayContext& context, TDeviceDrawer& drawer)>;

}  // namespace orb
