// How evenly frames reach the screen: the intervals between presented
// frames, summed up as their median and 99th percentile for the log when a
// show ends. A kiosk runs for weeks: only the latest intervals are kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orb {

class TFramePacing {
public:
    // A frame was presented at this tick (ms of a steady clock).
    void Note(double tickMs);
    size_t Count() const { return m_count; }
    // The median and the 99th percentile of the kept intervals (ms); 0 with
    // fewer than two frames.
    double Median() const { return Percentile(50); }
    double Percentile99() const { return Percentile(99); }
    // "Frame pacing: N frames, interval median M ms, 99th percentile P ms".
    std::string Summary() const;

private:
    double Percentile(double percent) const;

    static constexpr size_t kKept = 1 << 16;
    std::vector<float> m_intervals;  // a ring of the latest kKept
    size_t m_next = 0;
    size_t m_count = 0;
    double m_last = -1;
};

}  // namespace orb
