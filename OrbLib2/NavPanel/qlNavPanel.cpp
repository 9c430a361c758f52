#include "OrbLib2/NavPanel/qlNavPanel.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/NavPanel/qlNavPaint.h"
#include "OrbLib2/NavPanel/qlVideoNavBar.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

TNavAnchors NavAnchors(int32_t code, int32_t d) {
    switch (code) {
        case 0:
            return {d - 100, d - 100, -100, -100};
        case 1:
            return {0, d - 100, 0, -100};
        case 2:
            return {100 - d, d - 100, 100, -100};
        case 3:
            return {100 - d, 0, 100, 0};
        case 4:
            return {100 - d, 100 - d, 100, 100};
        case 5:
            return {0, 100 - d, 0, 100};
        case 6:
            return {d - 100, 100 - d, -100, 100};
        case 7:
            return {d - 100, 0, -100, 0};
        default:
            return {};
    }
}

int32_t NavPlacementCode(std::u16string_view name) {
    static constexpr const char16_t* kNames[9] = {u"Left-Top",    u"Top",          u"Right-Top",
                                                  u"Right",       u"Right-Bottom", u"Bottom",
                                                  u"Left-Bottom", u"Left",         u"Center"};
    for (int32_t k = 0; k < 9; ++k)
        if (ql::SameTextIgnoringCase(name, kNames[k])) return k;
    return 8;
}

ql::TRect NavPlace(const TNavAnchors& a, const ql::TRect& area, int32_t w, int32_t h) {
    const int64_t left = std::llround((a.AreaX / 100.0 + 1) * area.Width() / 2) + area.left -
                         std::llround(double(w) * (a.ObjectX + 100) / 200);
    const int64_t top = std::llround((a.AreaY / 100.0 + 1) * area.Height() / 2) + area.top -
                        std::llround(double(h) * (a.ObjectY + 100) / 200);
    auto bound = [](int64_t v) {
        return int32_t(std::clamp<int64_t>(v, -(int64_t(1) << 28), int64_t(1) << 28));
    };
    return {bound(left), bound(top), bound(left + w), bound(top + h)};
}

TNavPanel::TNavPanel(TNavPanelOptions options, const ql::TRect& viewport, TNavOpenFile open,
                     THooks hooks)
    : m_options(std::move(options)),
      m_viewport(viewport),
      m_open(std::move(open)),
      m_hooks(std::move(hooks)) {
    // The inset is a share of the half-size the anchors span.
    m_options.Offset = std::clamp(m_options.Offset, 0, 100);
    if (!std::isfinite(m_options.ViewScale) || m_options.ViewScale <= 0) m_options.ViewScale = 10;
    m_options.ViewScale = std::min(m_options.ViewScale, 100.0);
    m_anchors = NavAnchors(NavPlacementCode(m_options.Position), m_options.Offset);
}

bool TNavPanel::Load(double durationMs) {
    m_duration = durationMs;
    m_bar.reset();
    auto fail = [&](const std::string& why) {
        m_error = ql::FromUtf8(why);
        ql::GlobalLog().WriteLine("Navigation panel: " + why);
        m_bar.reset();
        return false;
    };
    std::unique_ptr<ql::TStream> stream = m_open ? m_open(m_options.DefinitionFile) : nullptr;
    if (!stream) return fail("cannot open " + ql::ToUtf8(m_options.DefinitionFile));
    try {
        ql::TIniFile definition;
        definition.LoadFromStream(*stream);
        const std::u16string& name = m_options.DefinitionFile;
        const size_t slash = name.find_last_of(u"\\/");
        const std::u16string folder =
            slash == std::u16string::npos ? std::u16string() : name.substr(0, slash + 1);
        m_pictures = std::make_unique<TNavPictures>(m_open);
        std::unique_ptr<TCustomNavBar> bar;
        if (definition.ReadBool(u"Common", u"VideoStyle", false))
            bar = std::make_unique<TVideoNavBar>();
        else {
            auto buttons = std::make_unique<TNavBar>();
            buttons->SetShowBackground(m_options.ShowBackground);
            buttons->SetHue(m_options.Hue);
            bar = std::move(buttons);
        }
        TCustomNavBar::THooks hooks;
        hooks.ButtonPressed = [this](int32_t index) { m_action = ActionOfButton(index); };
        hooks.IsPlaying = [this] { return !m_hooks.IsPlaying || m_hooks.IsPlaying(); };
        hooks.Duration = [this] { return m_duration; };
        hooks.Seek = [this](double ms) {
            if (m_hooks.Seek) m_hooks.Seek(ms);
        };
        hooks.VolumeChanged = [this](double v) {
            if (m_hooks.VolumeChanged) m_hooks.VolumeChanged(v);
        };
        hooks.PictureChanged = [this] {
            if (m_hooks.PictureChanged) m_hooks.PictureChanged();
        };
        bar->SetHooks(std::move(hooks));
        bar->Load(definition, folder, *m_pictures);
        bar->SetWidth(m_viewport.Width());
        const int32_t vh = std::max(m_viewport.Height(), 1);
        if (m_options.UseVideoScale)
            bar->FitToHeight(int32_t(std::lround(vh * m_options.ViewScale * 0.01)));
        else
            bar->SetScale(double(vh) / kNavReferenceHeight);
        const std::vector<std::u16string> known = bar->KnownButtons();
        std::vector<int32_t> chosen;
        for (const std::u16string& want : m_options.Buttons)
            for (size_t k = 0; k < known.size(); ++k)
                if (ql::SameTextIgnoringCase(known[k], want)) {
                    chosen.push_back(int32_t(k));
                    break;
                }
        bar->SetChosenButtons(chosen);
        bar->Layout();
        m_bar = std::move(bar);
        m_bar->Reset();
    } catch (const ENavBarError& e) {
        return fail(e.Message());
    } catch (const ql::Exception& e) {
        return fail(ql::ToUtf8(m_options.DefinitionFile) + ": " + e.Message());
    }
    if (m_bar->Disabled() || m_bar->Height() <= 0) return fail("the bar is too small to lay out");
    Place();
    return true;
}

void TNavPanel::Place() {
    if (!m_bar || m_bar->Height() <= 0) return;
    int32_t w, h;
    if (m_bar->VideoStyle()) {
        w = m_bar->Width();
        h = m_bar->Height();
    } else {
        h = int32_t(std::lround(std::max(m_viewport.Height(), 0) * m_options.ViewScale / 100));
        w = int32_t(std::clamp<int64_t>(std::llround(double(h) * m_bar->Width() / m_bar->Height()),
                                        0, 1 << 16));
    }
    h = std::max(h, 1);
    m_rect = NavPlace(m_anchors, m_viewport, w, h);
    // The bar's active area in placed pixels: left and top rounded, right
    // and bottom rounded up, in whole numbers so that a full area gives the
    // placed rectangle exactly.
    const ql::TRect a = m_bar->ActiveArea();
    const int64_t bw = m_bar->Width(), bh = m_bar->Height(), rw = m_rect.Width(),
                  rh = m_rect.Height();
    auto rounded = [](int64_t v, int64_t n, int64_t d) {
        return int32_t((2 * v * n + d) / (2 * d));
    };
    auto up = [](int64_t v, int64_t n, int64_t d) { return int32_t((v * n + d - 1) / d); };
    m_clickable = {m_rect.left + rounded(a.left, rw, bw), m_rect.top + rounded(a.top, rh, bh),
                   m_rect.left + up(a.right, rw, bw), m_rect.top + up(a.bottom, rh, bh)};
}

bool TNavPanel::Contains(int32_t x, int32_t y) const {
    return x >= m_clickable.left && x < m_clickable.right && y >= m_clickable.top &&
           y < m_clickable.bottom;
}

void TNavPanel::SetTime(double ms) {
    if (m_bar) m_bar->SetTime(ms);
}

void TNavPanel::SetVolume(double volume) {
    if (m_bar) m_bar->SetVolume(volume);
}

TOrbActionInfo TNavPanel::ActionOfButton(int32_t index) const {
    if (index == -1) return TOrbActionInfo(acPause);
    if (!m_bar) return {};
    const std::vector<std::u16string> names = m_bar->KnownButtons();
    if (index < 0 || index >= int32_t(names.size())) return {};
    const std::u16string& n = names[size_t(index)];
    if (n == u"home") return TOrbActionInfo(acGotoSlide, 0);
    if (n == u"forward") return TOrbActionInfo(acNextSlide);
    if (n == u"backward") return TOrbActionInfo(acPrevSlide);
    if (n == u"print") return TOrbActionInfo(acPrint);
    if (n == u"pause") return TOrbActionInfo(acPause);
    if (n == u"help") return TOrbActionInfo(acHelp);
    if (n == u"exit") return TOrbActionInfo(acExit);
    return {};
}

TOrbActionInfo TNavPanel::Mouse(TNavMouseKind kind, int32_t x, int32_t y, bool left) {
    m_action = {};
    if (!HasBar() || kind == TNavMouseKind::DoubleClick) return m_action;
    const bool inside = Contains(x, y);
    bool pass = false;
    if (kind == TNavMouseKind::Press)
        pass = left && (inside || m_over);
    else if (kind == TNavMouseKind::Release)
        pass = left && (inside || m_over || m_pressed);
    else
        pass = inside || m_over || m_pressed;
    if (pass && m_rect.Width() > 0 && m_rect.Height() > 0) {
        const int32_t bx =
            int32_t(std::lround(double(x - m_rect.left) / m_rect.Width() * m_bar->Width()));
        const int32_t by =
            int32_t(std::lround(double(y - m_rect.top) / m_rect.Height() * m_bar->Height()));
        m_bar->Mouse(kind, bx, by, left);
    }
    // Only a press the bar took holds the panel; one on the slides does not.
    if (kind == TNavMouseKind::Press && pass) m_pressed = true;
    if (kind == TNavMouseKind::Release) m_pressed = false;
    m_over = inside;
    if (inside && m_action.IsNone()) m_action = TOrbActionInfo(acNavConsumed);
    return m_action;
}

}  // namespace orb
