// Keys, mouse buttons, mouse movement and the wheel turned into actions. The
// bindings are built once per opened show from its project document, so a
// show can change the mouse buttons, lock the navigation keys, turn F1 off or
// make any input end the show (screen-saver and exit-on-move modes).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"
#include "OrbLib2/OrbClasses/qlOrbShowOptions.h"
#include "QlLib/SysObj.h"

namespace orb {

// One key binding; bindings of the same key form a chain, the newest first.
// A binding matches when the event kind is its kind and (modifiers AND mask)
// equals its required value. The chain is owned: freeing a binding frees the
// rest of it.
class TKeyMap : public ql::TObj {
public:
    TKeyMap(uint8_t mask, uint8_t required, uint8_t eventKind, TOrbActionInfo action,
            std::unique_ptr<TKeyMap> next)
        : m_next(std::move(next)),
          m_mask(mask),
          m_required(required),
          m_eventKind(eventKind),
          m_action(std::move(action)) {}

    bool Matches(uint8_t modifiers, uint8_t eventKind) const {
        return eventKind == m_eventKind && (modifiers & m_mask) == m_required;
    }
    const TKeyMap* Next() const { return m_next.get(); }
    const TOrbActionInfo& Action() const { return m_action; }
    uint8_t Mask() const { return m_mask; }
    uint8_t Required() const { return m_required; }
    uint8_t EventKind() const { return m_eventKind; }

    // Frees the chain one by one, so that a long chain cannot exhaust the stack.
    ~TKeyMap() override;

private:
    std::unique_ptr<TKeyMap> m_next;
    uint8_t m_mask;
    uint8_t m_required;
    uint8_t m_eventKind;
    TOrbActionInfo m_action;
};

// Tells whether the pointer really moved (screen-saver exit on movement), and
// whether it has been still for longer than the idle limit.
class TMouseMoveDetector : public ql::TObj {
public:
    explicit TMouseMoveDetector(int64_t idleLimitMs) : m_idleLimit(idleLimitMs) {}

    // The first position only records; later ones report a move when more
    // than 5 pixels away (Manhattan distance) from the recorded position, and
    // such a move becomes the recorded position.
    bool Check(int32_t x, int32_t y, int64_t tickMs);
    // True when no move was recorded for longer than the idle limit. A pending
    // hold restarts the idle time from this moment instead.
    bool Idle(int64_t tickMs);
    void Hold() { m_hold = true; }
    int32_t RecordedCount() const { return m_count; }

private:
    int32_t m_lastX = 0, m_lastY = 0;
    int32_t m_count = 0;
    int64_t m_lastMove = 0;
    bool m_hold = false;
    int64_t m_idleLimit;
};

// How a wheel turn steers the show.
struct TWheelCommand {
    enum class TKind : uint8_t { None, NextSlide, PrevSlide, MoveTime };
    TKind Kind = TKind::None;
    int64_t DeltaMs = 0;  // MoveTime: negative goes back
    bool operator==(const TWheelCommand&) const = default;
};

// With Ctrl a step toward the user (steps below 0) goes to the next slide and
// one away from the user to the previous; without Ctrl every step moves the
// show time by 700 ms (away from the user is back). None when not enabled
// ("opt_lockwheel") or steps is 0.
TWheelCommand MapWheel(int32_t steps, uint8_t modifiers, bool enabled);

class TInputMappingClass : public ql::TObj {
public:
    // Binds what the show's options ask for. The movement detector gets
    // idleLimitMs.
    explicit TInputMappingClass(const TOrbShowOptions& options, int64_t idleLimitMs = 0);
    ~TInputMappingClass() override;

    // The first binding of the key's chain that matches, or null. Keys of 256
    // and above have none. In screen-saver mode every key gives the any-key
    // binding (exit).
    const TKeyMap* FindKey(uint8_t modifiers, uint32_t key, uint8_t eventKind) const;
    // The action of FindKey, or an empty action.
    TOrbActionInfo KeyAction(uint8_t modifiers, uint32_t key, uint8_t eventKind) const;
    // The action of a mouse event (code 0 when none); feeds the movement
    // detector. button: ql::mbLeft, mbRight, mbMiddle, or 0 for moves.
    TOrbActionInfo MouseAction(uint8_t modifiers, int32_t x, int32_t y, uint8_t eventKind,
                               uint8_t button, int64_t tickMs);

    // Whether pressing this key releases a wait at a pause barrier when
    // navigation is locked (permit-control off).
    static bool ReleasesPauseWait(uint32_t key);
    // The mouse action of an option's text ("Exit", "Next slide", ...);
    // empty for any other text.
    static TOrbActionInfo MouseActionFromName(std::u16string_view name);

    bool ScreenSaver() const { return m_screenSaver; }
    bool PermitControl() const { return m_permitControl; }
    TMouseMoveDetector* MoveDetector() const { return m_moveDetector.get(); }
    const TOrbActionInfo& LeftButtonAction() const { return m_left; }
    const TOrbActionInfo& RightButtonAction() const { return m_right; }
    const TOrbActionInfo& DoubleClickAction() const { return m_doubleClick; }

private:
    void Bind(uint32_t key, uint8_t required, TOrbActionInfo action);

    std::array<std::unique_ptr<TKeyMap>, 256> m_keys;
    TOrbActionInfo m_left, m_right, m_doubleClick;
    std::unique_ptr<TMouseMoveDetector> m_moveDetector;
    int32_t m_moveThreshold = 10;
    bool m_screenSaver = false;
    std::unique_ptr<TKeyMap> m_anyKey;
    bool m_permitControl = true;
};

}  // namespace orb
