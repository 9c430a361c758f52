#include "Orb/OrbViewer/OrbMouseMonitor.h"

#include <algorithm>
#include <cstdlib>

namespace orb {

void TMouseMonitor::Configure(int32_t hideMode, int64_t intervalMs, bool hiddenAtStart, int64_t tick) {
    m_always = hideMode == 1;
    m_interval = hideMode == 2 ? std::max<int64_t>(intervalMs, 0) : 0;
    m_hidden = m_always || (hideMode == 2 && hiddenAtStart);
    m_lastMove = tick;
}

void TMouseMonitor::Position(int32_t x, int32_t y, int64_t tick) {
    m_inside = true;
    if (!m_known) {
        m_known = true;
        m_x = x;
        m_y = y;
        return;
    }
    if (std::abs(int64_t(x) - m_x) > kCursorJitter || std::abs(int64_t(y) - m_y) > kCursorJitter) {
        m_x = x;
        m_y = y;
        m_lastMove = tick;
        if (!m_always) m_hidden = false;
    }
}

bool TMouseMonitor::Poll(bool inside, int64_t tick) {
    if (m_interval > 0 && !m_hidden && tick - m_lastMove > m_interval) m_hidden = true;
    const bool left = m_inside && !inside;
    m_inside = inside;
    return left;
}

TCursorKind TMouseMonitor::Shape(bool overPanel, bool hoverAction, bool hoverButton) const {
    if (m_hidden && !overPanel) return TCursorKind::Hidden;
    if (hoverAction && !hoverButton) return TCursorKind::Hand;
    return TCursorKind::Default;
}

}  // namespace orb
