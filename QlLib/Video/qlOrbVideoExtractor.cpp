#include "QlLib/Video/qlOrbVideoExtractor.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace ql {

namespace {

// How far a slot's frame lies from frame; an empty slot is farther than any.
int64_t Distance(const TFrameSlot* slot, int64_t frame) {
    if (slot->Frame < 0) return std::numeric_limits<int64_t>::max();
    return std::abs(slot->Frame - frame);
}

}  // namespace

TOrbVideoExtractor::TOrbVideoExtractor(TFrameSource* source, bool ownSource,
                                       const TVideoParams& params, int slots)
    : m_source(source), m_params(params) {
    if (ownSource) m_ownedSource.reset(source);
    slots = std::clamp(slots, 1, 16);
    for (int i = 0; i < slots; ++i) {
        m_slots.push_back(std::make_unique<TFrameSlot>());
        m_pool.push_back(m_slots.back().get());
    }
    if (m_source) StartWorker();
}

TOrbVideoExtractor::~TOrbVideoExtractor() {
    StopWorker();
}

int64_t TOrbVideoExtractor::FrameAt(double ms) const {
    return FrameForTime(ms, m_params.Rate, m_params.Count, m_params.Loop);
}

TFrameSlot* TOrbVideoExtractor::PoolSlotHolding(int64_t frame) const {
    for (TFrameSlot* slot : m_pool)
        if (slot->Frame == frame) return slot;
    return nullptr;
}

void TOrbVideoExtractor::DropLostContent() {
    for (TFrameSlot* slot : m_pool)
        if (slot->ContentLost) {
            slot->Frame = kNone;
            slot->ContentLost = false;
        }
}

bool TOrbVideoExtractor::RequestFrame(double ms, bool wait) {
    const int64_t frame = FrameAt(ms);
    TMonitorLock lock(*this);
    DropLostContent();
    if (PoolSlotHolding(frame)) return true;
    if (m_finished || StopRequested()) return false;
    m_wanted = frame;
    if (m_failed == frame) m_failed = kNone;
    NotifyAll();
    if (!wait) return false;
    Wait([&] {
        if (StopRequested() || m_finished || PoolSlotHolding(frame) || m_failed == frame)
            return true;
        if (m_pool.empty() && !m_decoding) return true;  // every slot is out for drawing
        // Someone asked for another frame meanwhile: ours comes first.
        if (m_wanted != frame) {
            m_wanted = frame;
            NotifyAll();
        }
        return false;
    });
    return PoolSlotHolding(frame) != nullptr;
}

TOrbVideoExtractor::TTaken TOrbVideoExtractor::TakeFrame(double ms, double rate) {
    const int64_t frame = FrameAt(ms);
    TTaken taken;
    TMonitorLock lock(*this);
    DropLostContent();
    auto best = m_pool.end();
    for (auto it = m_pool.begin(); it != m_pool.end(); ++it) {
        const int64_t distance = Distance(*it, frame);
        if (distance == std::numeric_limits<int64_t>::max()) continue;
        if (best == m_pool.end() || distance < Distance(*best, frame) ||
            (distance == Distance(*best, frame) && (*it)->Frame <= frame))
            best = it;
    }
    if (best != m_pool.end()) {
        taken.Slot = *best;
        taken.Exact = taken.Slot->Frame == frame;
        m_pool.erase(best);
    }
    if (m_finished || StopRequested()) return taken;
    int64_t next = frame;
    if (taken.Slot) {
        next = rate > 0 ? FrameAt(ms + 1000.0 / rate) : frame + 1;
        if (next == frame || rate <= 0) next = frame + 1;
        if (m_params.Count > 0 && next >= m_params.Count)
            next = m_params.Loop ? next % m_params.Count : m_params.Count - 1;
    }
    if (!PoolSlotHolding(next) && (!taken.Slot || taken.Slot->Frame != next)) {
        m_wanted = next;
        NotifyAll();
    }
    return taken;
}

void TOrbVideoExtractor::GiveBack(TFrameSlot* slot) {
    if (!slot) return;
    TMonitorLock lock(*this);
    if (slot->ContentLost) {
        if (slot->Frame >= 0 && !m_finished) m_wanted = slot->Frame;
        slot->Frame = kNone;
        slot->ContentLost = false;
    }
    m_pool.push_back(slot);
    NotifyAll();
}

void TOrbVideoExtractor::StopAndClear() {
    StopWorker();
    TMonitorLock lock(*this);
    m_finished = true;
    m_wanted = kNone;
    for (TFrameSlot* slot : m_pool) slot->Frame = kNone;
    NotifyAll();
}

int64_t TOrbVideoExtractor::WantedFrame() {
    TMonitorLock lock(*this);
    return m_wanted;
}

int64_t TOrbVideoExtractor::Served() {
    TMonitorLock lock(*this);
    return m_served;
}

void TOrbVideoExtractor::Run() {
    while (!StopRequested()) {
        TFrameSlot* slot = nullptr;
        int64_t wanted = kNone;
        {
            TMonitorLock lock(*this);
            Wait([&] { return StopRequested() || (m_wanted != kNone && !m_pool.empty()); });
            if (StopRequested()) break;
            wanted = m_wanted;
            if (PoolSlotHolding(wanted)) {
                m_wanted = kNone;
                NotifyAll();
                continue;
            }
            // The slot farthest from the wanted frame is the least likely to
            // be drawn; on a tie, a later one at or after the wanted frame.
            auto pick = m_pool.begin();
            for (auto it = m_pool.begin(); it != m_pool.end(); ++it) {
                const int64_t distance = Distance(*it, wanted);
                const int64_t farthest = Distance(*pick, wanted);
                if (distance > farthest || (distance == farthest && (*it)->Frame >= wanted))
                    pick = it;
            }
            slot = *pick;
            m_pool.erase(pick);
            slot->Asked = wanted;
            m_decoding = true;
        }
        const bool decoded = m_source->GetFrame(wanted, slot->Image);
        {
            TMonitorLock lock(*this);
            m_decoding = false;
            ++m_served;
            // A frame that failed keeps the image and number the slot had:
            // the last good frame stays on screen.
            if (decoded) slot->Frame = wanted;
            slot->ContentLost = false;
            m_pool.push_back(slot);
            if (!decoded) m_failed = wanted;
            if (m_wanted == wanted) m_wanted = kNone;
            NotifyAll();
        }
    }
}

}  // namespace ql
