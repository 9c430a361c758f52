// The mouse-cursor monitor: hides a still cursor after the show's interval,
// shows it again when it really moves, tells when it left the window, and
// picks the cursor's shape from what the engine reports under it.
#pragma once

#include <cstdint>

namespace orb {

enum class TCursorKind { Default, Hidden, Hand };

// Mouse input counts only this long after the form was made, so that the
// click that started the program does not act in the show.
inline constexpr int64_t kMouseQuietMs = 1000;
// Moves of at most this many pixels on both axes leave a hidden cursor hidden.
inline constexpr int32_t kCursorJitter = 4;

class TMouseMonitor {
public:
    explicit TMouseMonitor(int64_t createdTick) : m_created(createdTick), m_lastMove(createdTick) {}

    // "opt_hidecursor": 1 hidden at once for good; 2 hidden after `intervalMs`
    // of stillness (and at once when `hiddenAtStart`); others never.
    void Configure(int32_t hideMode, int64_t intervalMs, bool hiddenAtStart, int64_t tick);

    // A pointer position inside the window (a move event or the 20 ms poll).
    void Position(int32_t x, int32_t y, int64_t tick);
    // The 20 ms poll: true once when the pointer has left the window.
    bool Poll(bool inside, int64_t tick);

    bool Hidden() const { return m_hidden; }
    // Whether mouse events may act now.
    bool AcceptsInput(int64_t tick, bool childRunning) const {
        return !childRunning && tick - m_created >= kMouseQuietMs;
    }
    // The shape: hidden unless over the navigation panel; the hand over an
    // object with an action, except over buttons, which keep the arrow.
    TCursorKind Shape(bool overPanel, bool hoverAction, bool hoverButton) const;

private:
    int64_t m_created;
    int64_t m_lastMove;
    int64_t m_interval = 0;  // 0: never hidden for stillness
    bool m_always = false;
    bool m_hidden = false;
    bool m_known = false;
    bool m_inside = false;
    int32_t m_x = 0, m_y = 0;
};

}  // namespace orb
