// An endless tone for the mixer benchmarks, copied from one second of frames
// made in advance, so that the figures are the mixer's and not a decoder's.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "QlLib/Music/PcmSource.h"

namespace orb::bench {

class TToneSource : public ql::TPcmSource {
public:
    // A sawtooth of `period` frames; opposite on the right. The second of
    // frames is made once per period and shared, so that opening a source
    // costs what opening a decoder that is ready would.
    explicit TToneSource(int period) : m_table(Table(period)) {}

    ql::TPcmFormat Format() const override { return {}; }
    double LengthMs() const override { return -1; }
    bool Seek(double ms) override {
        m_frame = size_t(ms * 44.1) % kFrames;
        return true;
    }
    size_t Read(int16_t* samples, size_t frames) override {
        size_t done = 0;
        while (done < frames) {
            const size_t n = std::min(frames - done, kFrames - m_frame);
            std::memcpy(samples + 2 * done, m_table->data() + 2 * m_frame, n * 4);
            done += n;
            m_frame = (m_frame + n) % kFrames;
        }
        return frames;
    }

private:
    static constexpr size_t kFrames = size_t(ql::kOutputRate);

    static std::shared_ptr<const std::vector<int16_t>> Table(int period) {
        static std::mutex lock;
        static std::map<int, std::shared_ptr<const std::vector<int16_t>>> tables;
        std::lock_guard<std::mutex> guard(lock);
        auto& table = tables[period];
        if (!table) {
            auto frames = std::make_shared<std::vector<int16_t>>(kFrames * 2);
            for (size_t i = 0; i < kFrames; ++i) {
                const int16_t v = int16_t(int(i % size_t(period)) * 4000 / period - 2000);
                (*frames)[2 * i] = v;
                (*frames)[2 * i + 1] = int16_t(-v);
            }
            table = std::move(frames);
        }
        return table;
    }

    std::shared_ptr<const std::vector<int16_t>> m_table;
    size_t m_frame = 0;
};

}  // namespace orb::bench
