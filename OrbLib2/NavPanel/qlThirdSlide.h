// The overlay, drawn above the slides: the show's logo, the navigation panel
// with its auto-hide fades, and the stack of dialogs with their opening and
// closing animations. It sees every mouse event before the slides do.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/NavPanel/qlNavPanel.h"
#include "OrbLib2/OrbViewer/qlOrbInputMapping.h"
#include "QlLib/qlIniStorage.h"

namespace orb {

// A dialog as the overlay sees it; the engine wraps its dialog slides in one.
class TOverlayDialog : public ql::TObj {
public:
    struct THit {
        bool Hit = false;      // an object of the dialog lies under the point
        bool Changed = false;  // the dialog's look changed (hover, press)
        TOrbActionInfo Action;
        std::u16string ObjectName;
    };
    virtual const std::u16string& Name() const = 0;
    virtual bool PausesShow() const = 0;
    virtual float Opacity() const = 0;
    virtual void SetOpacity(float percent) = 0;
    virtual THit Mouse(int32_t x, int32_t y, TNavMouseKind kind, int32_t button) = 0;
    // Whether an object of the dialog lies under the point; name: the hover
    // name of an object that carries an action, else empty.
    virtual bool HitTest(int32_t x, int32_t y, std::u16string* name) const { return false; }
    // Draws the dialog at its opacity (after the logo, before the panel).
    virtual void Draw(TDeviceDrawer& drawer) {}
};

// The logo or the panel as the drawer shows it: a picture at a rectangle.
struct TOverlayItem {
    const ql::TBitmap* Picture = nullptr;
    ql::TRect Rect;
    float Opacity = 100;   // percent
    uint64_t Version = 0;  // changes with the pixels, so that uploads happen only then
};

class TThirdSlide : public ql::TObj {
public:
    static constexpr int64_t kDialogAnimationMs = 200;
    static constexpr size_t kMaxDialogs = 32;
    // The hover name the cursor logic hears over the panel.
    static constexpr char16_t kPanelHoverName[] = u"NavPanel";

    struct THooks {
        std::function<bool()> IsPlaying;
        std::function<void(double ms)> Seek;
        std::function<void(double volume)> VolumeChanged;
        std::function<void()> PanelChanged;  // opacity or picture
    };
    struct TMouseResult {
        TOrbActionInfo Action;
        bool Handled = false;
        std::u16string HitName;  // the object's, or "NavPanel"
    };

    // main: the project document's main section is read from project.
    TThirdSlide(const ql::TIniStorage& project, const ql::TRect& viewport, TNavOpenFile open,
                THooks hooks, double volume, double durationMs, int64_t nowMs);
    ~TThirdSlide() override;

    // The output size changed: the logo and the panel are laid out again for
    // the new viewport as a fresh overlay would lay them out; the panel keeps
    // its fade. Dialogs are the caller's to rebuild (ReplaceDialog).
    void Resize(const ql::TRect& viewport);
    const ql::TRect& Viewport() const { return m_viewport; }

    // Dialog animation, the panel's time and the auto-hide fade.
    void Advance(int64_t nowMs, double showTimeMs);
    // Mouse kinds other than move, press, release and double click are ignored.
    TMouseResult Mouse(int32_t x, int32_t y, int32_t kind, int32_t button, uint32_t modifiers,
                       int64_t nowMs);
    // Whether the point lies over the panel or a dialog's object; the hover
    // name goes to name.
    bool HitTest(int32_t x, int32_t y, std::u16string* name) const;

    void OpenDialog(std::unique_ptr<TOverlayDialog> dialog);
    // -1 or out of range: the top one.
    void CloseDialog(int32_t index);
    void RemoveDialog(int32_t index);
    // Puts a dialog in the place of another, at its opacity and in its
    // animation; nullptr removes the old one.
    void ReplaceDialog(int32_t index, std::unique_ptr<TOverlayDialog> dialog);
    // Before navigation: pausing dialogs go, the topmost of them with its animation.
    void ClosePausingDialogs();
    TOverlayDialog* TopDialog() const {
        return m_dialogs.empty() ? nullptr : m_dialogs.back().get();
    }
    const std::vector<std::unique_ptr<TOverlayDialog>>& Dialogs() const { return m_dialogs; }
    // The show is blocked while this holds.
    bool AnyPausingDialog() const;

    // 0 no panel; 2 the mouse is over it; 1 otherwise.
    int32_t PanelState() const;
    TNavPanel* Panel() const { return m_panel.get(); }
    float PanelOpacity() const { return m_panelOpacity; }
    bool PanelHidden() const { return m_hidden; }
    TOverlayItem PanelItem() const;
    TOverlayItem LogoItem() const;
    int32_t LogoHalvings() const { return m_logoHalvings; }
    bool LogoResampled() const { return m_logoResampled; }

    // True once after anything the overlay shows changed.
    bool TakeChanged();
    // Draws the logo and the panel over a 32-bit frame (the software path and the tools).
    void Compose(ql::TBitmap& frame) const;

private:
    struct TLogoSettings {
        std::u16string Name;
        int32_t Code = 8;
        int32_t Inset = 0;
        double Size = 10;  // percent of the viewport height
    };
    void ReadLogo(const ql::TIniStorage& project);
    void PlaceLogo();
    void ReadPanel(const ql::TIniStorage& project);
    void MakePanel();
    void StartAnimation(int32_t index, bool closing);

    ql::TRect m_viewport;
    TNavOpenFile m_open;
    THooks m_hooks;
    bool m_changed = true;
    double m_volume = 1, m_durationMs = 0;
    // Logo.
    std::optional<TLogoSettings> m_logoSettings;
    std::unique_ptr<ql::TBitmap> m_logo;
    ql::TRect m_logoRect;
    float m_logoOpacity = 100;
    int32_t m_logoHalvings = 0;
    bool m_logoResampled = false;
    // Panel and auto-hide.
    std::optional<TNavPanelOptions> m_panelOptions;
    std::unique_ptr<TNavPanel> m_panel;
    std::unique_ptr<TMouseMoveDetector> m_detector;
    bool m_autoHide = false, m_hidden = false, m_forceIdle = false;
    int64_t m_fadeOutMs = 1000, m_fadeInMs = 500;
    int64_t m_fadeEnd = 0, m_fadeLength = 0;
    float m_panelOpacity = 100;
    uint64_t m_panelVersion = 0;
    // Dialogs.
    std::vector<std::unique_ptr<TOverlayDialog>> m_dialogs;
    int32_t m_animated = -1;
    bool m_closing = false;
    int64_t m_animStart = -1;
};

}  // namespace orb
