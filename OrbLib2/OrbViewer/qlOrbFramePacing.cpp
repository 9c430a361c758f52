#include "OrbLib2/OrbViewer/qlOrbFramePacing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace orb {

void TFramePacing::Note(double tickMs) {
    ++m_count;
    if (m_last >= 0 && tickMs >= m_last) {
        const float interval = float(tickMs - m_last);
        if (m_intervals.size() < kKept)
            m_intervals.push_back(interval);
        else
            m_intervals[m_next] = interval;
        m_next = (m_next + 1) % kKept;
    }
    m_last = tickMs;
}

double TFramePacing::Percentile(double percent) const {
    if (m_intervals.empty()) return 0;
    std::vector<float> sorted = m_intervals;
    const size_t rank =
        std::min(sorted.size() - 1, size_t(std::ceil(percent / 100.0 * double(sorted.size()))) -
                                        (percent > 0 ? 1 : 0));
    std::nth_element(sorted.begin(), sorted.begin() + ptrdiff_t(rank), sorted.end());
    return sorted[rank];
}

std::string TFramePacing::Summary() const {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Frame pacing: %zu frames, interval median %.1f ms, 99th percentile %.1f ms",
                  m_count, Median(), Percentile99());
    return text;
}

}  // namespace orb
