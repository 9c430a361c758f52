#include "OrbLib2/OrbViewer/qlOrbInputMapping.h"

#include <cstdlib>

#include "QlLib/Platform/qlHost.h"

namespace orb {

namespace {

// Shift, Alt and Ctrl: a Windows key held with a navigation key does not
// change what it does.
constexpr uint8_t kBindingMask = ql::mods::Shift | ql::mods::Alt | ql::mods::Ctrl;
constexpr uint8_t kButtonsHeld = ql::mods::LeftHeld | ql::mods::RightHeld | ql::mods::MiddleHeld;
constexpr int64_t kWheelStepMs = 700;

}  // namespace

TKeyMap::~TKeyMap() {
    std::unique_ptr<TKeyMap> next = std::move(m_next);
    while (next) next = std::move(next->m_next);
}

bool TMouseMoveDetector::Check(int32_t x, int32_t y, int64_t tickMs) {
    if (m_count == 0) {
        m_lastX = x;
        m_lastY = y;
        m_lastMove = tickMs;
        m_count = 1;
        return false;
    }
    const int64_t distance = std::llabs(static_cast<int64_t>(x) - m_lastX) +
                             std::llabs(static_cast<int64_t>(y) - m_lastY);
    if (distance <= 5) return false;
    m_lastX = x;
    m_lastY = y;
    m_lastMove = tickMs;
    if (m_count < INT32_MAX) ++m_count;
    return true;
}

bool TMouseMoveDetector::Idle(int64_t tickMs) {
    if (m_hold) {
        m_hold = false;
        m_lastMove = tickMs;
        return false;
    }
    return tickMs - m_lastMove > m_idleLimit;
}

TWheelCommand MapWheel(int32_t steps, uint8_t modifiers, bool enabled) {
    if (!enabled || steps == 0) return {};
    if (modifiers & ql::mods::Ctrl)
        return {steps < 0 ? TWheelCommand::TKind::NextSlide : TWheelCommand::TKind::PrevSlide, 0};
    return {TWheelCommand::TKind::MoveTime, -static_cast<int64_t>(steps) * kWheelStepMs};
}

TOrbActionInfo TInputMappingClass::MouseActionFromName(std::u16string_view name) {
    if (name == u"Exit") return TOrbActionInfo(acExit);
    if (name == u"Next slide") return TOrbActionInfo(acNextSlide);
    if (name == u"Prev. slide") return TOrbActionInfo(acPrevSlide);
    if (name == u"Help") return TOrbActionInfo(acHelp);
    if (name == u"Pause") return TOrbActionInfo(acPause);
    if (name == u"Go to first") return TOrbActionInfo(acGotoSlide, 0);
    return {};
}

TInputMappingClass::TInputMappingClass(const TOrbShowOptions& options, int64_t idleLimitMs) {
    m_left = MouseActionFromName(options.LeftMouse);
    m_right = MouseActionFromName(options.RightMouse);
    m_doubleClick = MouseActionFromName(options.DoubleClick);
    m_screenSaver = options.ScreenSaver;
    if (m_screenSaver)
        m_anyKey = std::make_unique<TKeyMap>(0, 0, ql::kePressed, TOrbActionInfo(acExit), nullptr);
    if (m_screenSaver || options.ExitOnMove)
        m_moveDetector = std::make_unique<TMouseMoveDetector>(idleLimitMs);
    m_permitControl = options.PermitControl;

    Bind(ql::vk::Escape, 0, TOrbActionInfo(acExit));
    if (m_permitControl) {
        Bind(ql::vk::Space, 0, TOrbActionInfo(acPause));
        Bind(ql::vk::Pause, 0, TOrbActionInfo(acPause));
        Bind('P', ql::mods::Ctrl, TOrbActionInfo(acPause));
        Bind(ql::vk::MediaPlayPause, 0, TOrbActionInfo(acPause));
        Bind(ql::vk::MediaStop, 0, TOrbActionInfo(acStop));
        for (uint32_t key :
             {ql::vk::Left, ql::vk::Prior, ql::vk::BrowserBack, ql::vk::MediaPrevTrack})
            Bind(key, 0, TOrbActionInfo(acPrevSlide));
        for (uint32_t key :
             {ql::vk::Right, ql::vk::Next, ql::vk::BrowserForward, ql::vk::MediaNextTrack})
            Bind(key, 0, TOrbActionInfo(acNextSlide));
        Bind(ql::vk::Home, 0, TOrbActionInfo(acGotoSlide, 0));
        Bind(ql::vk::End, 0, TOrbActionInfo(acGotoSlide, options.SlideCount));
    }
    if (!options.F1Locked()) Bind(ql::vk::F1, 0, TOrbActionInfo(acHelp));
}

TInputMappingClass::~TInputMappingClass() = default;

void TInputMappingClass::Bind(uint32_t key, uint8_t required, TOrbActionInfo action) {
    std::unique_ptr<TKeyMap>& chain = m_keys[key & 0xFF];
    chain = std::make_unique<TKeyMap>(kBindingMask, required, ql::kePressed, std::move(action),
                                      std::move(chain));
}

const TKeyMap* TInputMappingClass::FindKey(uint8_t modifiers, uint32_t key,
                                           uint8_t eventKind) const {
    if (m_screenSaver) return m_anyKey.get();
    if (key >= m_keys.size()) return nullptr;
    for (const TKeyMap* binding = m_keys[key].get(); binding; binding = binding->Next())
        if (binding->Matches(modifiers, eventKind)) return binding;
    return nullptr;
}

TOrbActionInfo TInputMappingClass::KeyAction(uint8_t modifiers, uint32_t key,
                                             uint8_t eventKind) const {
    const TKeyMap* binding = FindKey(modifiers, key, eventKind);
    return binding ? binding->Action() : TOrbActionInfo();
}

TOrbActionInfo TInputMappingClass::MouseAction(uint8_t modifiers, int32_t x, int32_t y,
                                               uint8_t eventKind, uint8_t button, int64_t tickMs) {
    if (m_screenSaver && (modifiers & (kButtonsHeld | kBindingMask | ql::mods::Win)) != 0)
        return TOrbActionInfo(acExit);
    if (m_moveDetector && m_moveDetector->Check(x, y, tickMs)) return TOrbActionInfo(acExit);
    if (eventKind == ql::meReleased && button == ql::mbLeft) return m_left;
    if (eventKind == ql::meReleased && button == ql::mbRight) return m_right;
    if (eventKind == ql::meDoubleClick && button == ql::mbLeft) return m_doubleClick;
    return {};
}

bool TInputMappingClass::ReleasesPauseWait(uint32_t key) {
    switch (key) {
        case ql::vk::Pause:
        case ql::vk::Space:
        case ql::vk::Next:
        case ql::vk::Right:
        case ql::vk::BrowserForward:
        case ql::vk::MediaNextTrack:
        case ql::vk::MediaPlayPause:
            return true;
        default:
            return false;
    }
}

}  // namespace orb
