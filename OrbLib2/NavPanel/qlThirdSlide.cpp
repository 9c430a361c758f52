#include "OrbLib2/NavPanel/qlThirdSlide.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/NavPanel/qlNavPaint.h"
#include "QlLib/Graphics/qlImageLoader.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr char16_t kMain[] = u"main";

// The logo's position setting to a placement code.
int32_t LogoPlacement(int32_t position) {
    switch (position) {
        case 0:
            return 7;
        case 1:
            return 1;
        case 2:
            return 3;
        case 3:
            return 5;
        case 5:
            return 0;
        case 6:
            return 2;
        case 7:
            return 4;
        case 8:
            return 6;
        default:
            return 8;
    }
}

// A logo never asks for more than this many halvings: a picture of 65535
// pixels reaches one pixel in 16.
constexpr int32_t kMaxLogoHalvings = 20;

}  // namespace

TThirdSlide::TThirdSlide(const ql::TIniStorage& project, const ql::TRect& viewport,
                         TNavOpenFile open, THooks hooks, double volume, double durationMs,
                         int64_t nowMs)
    : m_viewport(viewport),
      m_open(std::move(open)),
      m_hooks(std::move(hooks)),
      m_volume(volume),
      m_durationMs(durationMs) {
    ReadLogo(project);
    PlaceLogo();
    if (!project.ReadBool(kMain, u"opt_fcp", false)) return;
    ReadPanel(project);
    MakePanel();
    if (!m_panel) return;
    const double interval = project.ReadReal(kMain, u"opt_nav_hideinterval", 3);
    const int64_t idleMs = std::isfinite(interval)
                               ? int64_t(std::clamp(interval, 0.0, 86400.0) * 1000)
                               : int64_t(3000);
    m_detector = std::make_unique<TMouseMoveDetector>(idleMs);
    // The idle time counts from the opening, not from the clock's zero.
    m_detector->Hold();
    m_detector->Idle(nowMs);
    m_autoHide = project.ReadBool(kMain, u"opt_hidenavbar", false);
    m_fadeOutMs =
        std::clamp<int64_t>(project.ReadInteger(kMain, u"opt_nav_hidefadeout", 1000), 0, 600000);
    m_fadeInMs = std::clamp<int64_t>(project.ReadInteger(kMain, u"opt_nav_fadein", 500), 0, 600000);
    const bool hideOnStart = project.ReadBool(kMain, u"opt_nav_hideonstartup", false);
    if (m_autoHide && hideOnStart) {
        m_panelOpacity = 0;
        m_hidden = true;
        m_forceIdle = true;
    }
}

TThirdSlide::~TThirdSlide() = default;

void TThirdSlide::Resize(const ql::TRect& viewport) {
    if (viewport == m_viewport) return;
    m_viewport = viewport;
    PlaceLogo();
    // The panel is made again when the show had one at its opening (and so
    // its auto-hide): a size too small for the bar leaves it away until the
    // next change.
    if (m_detector) {
        MakePanel();
        ++m_panelVersion;
    }
    m_changed = true;
    if (m_hooks.PanelChanged) m_hooks.PanelChanged();
}

void TThirdSlide::ReadLogo(const ql::TIniStorage& project) {
    const std::u16string name = project.ReadString(kMain, u"opt_logo_fn", u"");
    if (name.empty() || !project.ReadBool(kMain, u"opt_logo", false)) return;
    TLogoSettings logo;
    logo.Name = name;
    logo.Code = LogoPlacement(project.ReadInteger(kMain, u"opt_logo_pos", 4));
    m_logoOpacity = float(std::clamp(project.ReadInteger(kMain, u"opt_logo_opacity", 100), 0, 100));
    logo.Inset = std::clamp(project.ReadInteger(kMain, u"opt_logo_offset", 0), 0, 100);
    logo.Size = std::clamp(project.ReadReal(kMain, u"opt_logo_size", 10), 0.1, 100.0);
    if (!std::isfinite(logo.Size)) logo.Size = 10;
    m_logoSettings = logo;
}

void TThirdSlide::PlaceLogo() {
    m_logo.reset();
    m_logoRect = {};
    m_logoHalvings = 0;
    m_logoResampled = false;
    if (!m_logoSettings) return;
    const TLogoSettings& logo = *m_logoSettings;
    std::unique_ptr<ql::TBitmap> picture;
    try {
        std::unique_ptr<ql::TStream> stream = m_open ? m_open(logo.Name) : nullptr;
        if (!stream) {
            ql::GlobalLog().WriteLine("Logo missing: " + ql::ToUtf8(logo.Name));
            return;
        }
        ql::TLoadResult loaded = ql::LoadImageFromStream(std::move(stream), logo.Name);
        const ql::TBitmap* bitmap =
            loaded.Image ? loaded.Image.Store()->GetBitmap(0, ql::PfARGB32()) : nullptr;
        if (!bitmap || bitmap->Width() < 1 || bitmap->Height() < 1) return;
        picture = bitmap->Clone();
    } catch (const ql::Exception& e) {
        ql::GlobalLog().WriteLine("Logo " + ql::ToUtf8(logo.Name) + ": " + e.Message());
        return;
    }
    const int32_t h =
        std::clamp(int32_t(std::lround(std::max(m_viewport.Height(), 1) * logo.Size / 100)), 1,
                   nav::kMaxBarSide);
    const int32_t w =
        std::clamp(int32_t(std::lround(double(h) * picture->Width() / picture->Height())), 1,
                   nav::kMaxBarSide);
    while (m_logoHalvings < kMaxLogoHalvings && picture->Width() >= 2 * w &&
           picture->Height() >= 2 * h) {
        picture = nav::HalveBar(*picture);
        ++m_logoHalvings;
    }
    if (m_logoHalvings > 0) {
        picture = nav::BoxResample(*picture, w, h);
        m_logoResampled = true;
    }
    m_logo = std::move(picture);
    m_logoRect = NavPlace(NavAnchors(logo.Code, logo.Inset), m_viewport, w, h);
}

void TThirdSlide::ReadPanel(const ql::TIniStorage& project) {
    TNavPanelOptions o;
    o.DefinitionFile = project.ReadString(kMain, u"opt_nav_inifile", u"");
    o.ShowBackground = project.ReadBool(kMain, u"opt_nav_showbg", false);
    o.Hue = project.ReadInteger(kMain, u"opt_nav_hue", 0);
    o.ViewScale = project.ReadReal(kMain, u"opt_nav_viewscale", 10);
    o.UseVideoScale = project.ReadBool(kMain, u"opt_nav_usevideoscale", false);
    o.Offset = project.ReadInteger(kMain, u"opt_nav_offset", 0);
    o.Position = project.ReadString(kMain, u"opt_cp", u"Center");
    const int32_t count =
        std::clamp(project.ReadInteger(kMain, u"opt_newnavbuttons_count", 0), 0, 64);
    for (int32_t k = 1; k <= count; ++k)
        o.Buttons.push_back(project.ReadString(kMain, u"opt_newnavbutton" + ql::IntToStr(k), u""));
    m_panelOptions = std::move(o);
}

void TThirdSlide::MakePanel() {
    m_panel.reset();
    if (!m_panelOptions) return;
    TNavPanel::THooks hooks;
    hooks.IsPlaying = [this] { return !m_hooks.IsPlaying || m_hooks.IsPlaying(); };
    hooks.Seek = [this](double ms) {
        if (m_hooks.Seek) m_hooks.Seek(ms);
    };
    hooks.VolumeChanged = [this](double v) {
        m_volume = v;
        if (m_hooks.VolumeChanged) m_hooks.VolumeChanged(v);
    };
    hooks.PictureChanged = [this] {
        ++m_panelVersion;
        m_changed = true;
    };
    auto panel = std::make_unique<TNavPanel>(*m_panelOptions, m_viewport, m_open, std::move(hooks));
    if (!panel->Load(m_durationMs)) return;  // logged; the show runs without a panel
    panel->SetVolume(m_volume);
    m_panel = std::move(panel);
}

void TThirdSlide::StartAnimation(int32_t index, bool closing) {
    m_animated = index;
    m_closing = closing;
    m_animStart = -1;  // the next advance starts the clock
    m_changed = true;
}

void TThirdSlide::Advance(int64_t nowMs, double showTimeMs) {
    // 1. The dialog being opened or closed.
    if (m_animated >= 0 && m_animated < int32_t(m_dialogs.size())) {
        if (m_animStart < 0) m_animStart = nowMs;
        const double c =
            std::clamp(double(nowMs - m_animStart) / kDialogAnimationMs * 100, 0.0, 100.0);
        const float opacity = float(m_closing ? 100 - c : c);
        TOverlayDialog& dialog = *m_dialogs[size_t(m_animated)];
        if (std::fabs(opacity - dialog.Opacity()) > 0.001f) {
            dialog.SetOpacity(opacity);
            m_changed = true;
        }
        if (m_closing && opacity < 1) {
            RemoveDialog(m_animated);
        } else if (!m_closing && c >= 100) {
            m_animated = -1;
        }
    }
    // 2. The panel's time (the video bar moves its knob).
    if (m_panel) m_panel->SetTime(showTimeMs);
    // 3. Auto-hide.
    if (!m_panel || !m_autoHide) return;
    const double d =
        m_fadeLength > 0 && nowMs < m_fadeEnd
            ? std::clamp(100 - double(m_fadeEnd - nowMs) / m_fadeLength * 100, 0.0, 100.0)
            : 100.0;
    if (m_panel->MouseOver()) m_detector->Hold();
    const bool idle = m_forceIdle || m_detector->Idle(nowMs);
    if (idle != m_hidden) {
        // A reversed fade ends as far ahead as the last one had come, so the
        // opacity goes back from where it stood.
        m_hidden = idle;
        m_fadeLength = std::max<int64_t>(m_hidden ? m_fadeOutMs : m_fadeInMs, 0);
        m_fadeEnd = nowMs + int64_t(std::llround(d * m_fadeLength / 100));
        return;
    }
    const float opacity = float(m_hidden ? 100 - d : d);
    if (std::fabs(opacity - m_panelOpacity) > 0.001f) {
        m_panelOpacity = opacity;
        m_changed = true;
        if (m_hooks.PanelChanged) m_hooks.PanelChanged();
    }
}

TThirdSlide::TMouseResult TThirdSlide::Mouse(int32_t x, int32_t y, int32_t kind, int32_t button,
                                             uint32_t modifiers, int64_t nowMs) {
    TMouseResult result;
    if (kind < 0 || kind > 3) return result;  // wheel turns and the like are not ours
    const TNavMouseKind navKind = TNavMouseKind(kind);
    bool hit = false;
    for (size_t k = m_dialogs.size(); k-- > 0;) {
        const TOverlayDialog::THit answer = m_dialogs[k]->Mouse(x, y, navKind, button);
        if (answer.Changed) m_changed = true;
        if (answer.Hit) {
            hit = true;
            result.Action = answer.Action;
            result.HitName = answer.ObjectName;
            break;
        }
    }
    if (m_detector && m_detector->Check(x, y, nowMs)) m_forceIdle = false;
    if (m_panel) {
        const TOrbActionInfo action = m_panel->Mouse(navKind, x, y, button == 1);
        if (!action.IsNone()) result.Action = action;
        if (m_panel->MouseOver()) result.HitName = kPanelHoverName;
    }
    result.Handled = hit || (m_panel && m_panel->MouseOver()) || !result.Action.IsNone();
    return result;
}

bool TThirdSlide::HitTest(int32_t x, int32_t y, std::u16string* name) const {
    if (m_panel && m_panel->HasBar() && m_panel->Contains(x, y)) {
        if (name) *name = kPanelHoverName;
        return true;
    }
    // The slides under a dialog's objects do not see the pointer.
    for (size_t k = m_dialogs.size(); k-- > 0;)
        if (m_dialogs[k]->HitTest(x, y, name)) return true;
    return false;
}

void TThirdSlide::OpenDialog(std::unique_ptr<TOverlayDialog> dialog) {
    if (!dialog) return;
    if (m_closing && m_animated >= 0) return;  // freed: one animation at a time
    for (size_t k = 0; k < m_dialogs.size(); ++k)
        if (m_dialogs[k]->Name() == dialog->Name()) {
            CloseDialog(int32_t(k));
            return;
        }
    if (m_dialogs.size() >= kMaxDialogs) {
        ql::GlobalLog().WriteLine("Too many dialogs open; " + ql::ToUtf8(dialog->Name()) +
                                  " is not opened");
        return;
    }
    dialog->SetOpacity(0);
    m_dialogs.push_back(std::move(dialog));
    StartAnimation(int32_t(m_dialogs.size()) - 1, false);
}

void TThirdSlide::CloseDialog(int32_t index) {
    if (m_dialogs.empty() || (m_closing && m_animated >= 0)) return;
    if (index < 0 || index >= int32_t(m_dialogs.size())) index = int32_t(m_dialogs.size()) - 1;
    StartAnimation(index, true);
}

void TThirdSlide::RemoveDialog(int32_t index) {
    if (index < 0 || index >= int32_t(m_dialogs.size())) return;
    m_dialogs.erase(m_dialogs.begin() + index);
    if (m_animated == index) {
        m_animated = -1;
    } else if (m_animated > index) {
        --m_animated;
    }
    m_closing = false;
    m_changed = true;
}

void TThirdSlide::ReplaceDialog(int32_t index, std::unique_ptr<TOverlayDialog> dialog) {
    if (index < 0 || index >= int32_t(m_dialogs.size())) return;
    if (!dialog) {
        RemoveDialog(index);
        return;
    }
    dialog->SetOpacity(m_dialogs[size_t(index)]->Opacity());
    m_dialogs[size_t(index)] = std::move(dialog);
    m_changed = true;
}

void TThirdSlide::ClosePausingDialogs() {
    int32_t top = int32_t(m_dialogs.size()) - 1;
    while (top >= 0 && !m_dialogs[size_t(top)]->PausesShow()) --top;
    if (top < 0) return;
    for (int32_t k = top - 1; k >= 0; --k)
        if (m_dialogs[size_t(k)]->PausesShow()) {
            RemoveDialog(k);
            --top;
        }
    if (m_closing && m_animated == top) return;  // already on its way out
    if (m_closing && m_animated >= 0) {
        // Another dialog's closing gives way: it goes at once.
        const int32_t other = m_animated;
        RemoveDialog(other);
        if (other < top) --top;
    }
    CloseDialog(top);
}

bool TThirdSlide::AnyPausingDialog() const {
    for (const auto& d : m_dialogs)
        if (d->PausesShow()) return true;
    return false;
}

int32_t TThirdSlide::PanelState() const {
    if (!m_panel) return 0;
    return m_panel->MouseOver() ? 2 : 1;
}

TOverlayItem TThirdSlide::PanelItem() const {
    TOverlayItem item;
    if (!m_panel || !m_panel->Bar()) return item;
    item.Picture = m_panel->Bar()->Picture();
    item.Rect = m_panel->Rect();
    item.Opacity = m_panelOpacity;
    item.Version = m_panelVersion;
    return item;
}

TOverlayItem TThirdSlide::LogoItem() const {
    TOverlayItem item;
    item.Picture = m_logo.get();
    item.Rect = m_logoRect;
    item.Opacity = m_logoOpacity;
    return item;
}

bool TThirdSlide::TakeChanged() {
    const bool changed = m_changed;
    m_changed = false;
    return changed;
}

void TThirdSlide::Compose(ql::TBitmap& frame) const {
    for (const TOverlayItem& item : {LogoItem(), PanelItem()}) {
        if (!item.Picture || item.Opacity <= 0) continue;
        const uint8_t alpha = uint8_t(std::lround(std::clamp(item.Opacity, 0.0f, 100.0f) * 2.55f));
        const ql::TRect dst = {item.Rect.left - m_viewport.left, item.Rect.top - m_viewport.top,
                               item.Rect.right - m_viewport.left,
                               item.Rect.bottom - m_viewport.top};
        nav::DrawStretched(frame, dst, *item.Picture, item.Picture->Bounds(), false, alpha);
    }
}

}  // namespace orb
