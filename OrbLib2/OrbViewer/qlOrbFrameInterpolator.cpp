#include "OrbLib2/OrbViewer/qlOrbFrameInterpolator.h"

namespace orb {

void TFrameInterpolator::Reset() {
    m_warmUp = kWarmUp;
    m_steps.fill(0);
    m_sum = 0;
    m_count = 0;
    m_prevInput = 0;
    m_prevOutput = 0;
    m_hasPrev = false;
    m_hold = false;
    m_releasePending = false;
}

double TFrameInterpolator::Next(double input, double elapsedMs) {
    double output = input;
    if (m_hold || m_warmUp > 0) {
        if (!m_hold) --m_warmUp;
    } else {
        const double step = m_hasPrev ? input - m_prevInput : 0;
        ++m_count;
        const size_t slot = size_t((m_count - 1) % kRing);
        // Past a full ring the step written 32 calls ago leaves the sum.
        if (m_count > kRing) m_sum -= m_steps[slot];
        m_sum += step;
        m_steps[slot] = step;
        if (m_count > kRing) {
            const double predicted = m_prevOutput + (elapsedMs >= 0 ? elapsedMs : m_sum / kRing);
            output = predicted + (input - predicted) / 6;
        }
    }
    m_prevInput = input;
    m_prevOutput = output;
    m_hasPrev = true;
    if (m_releasePending) {
        m_releasePending = false;
        m_hold = false;
    }
    return output;
}

}  // namespace orb
