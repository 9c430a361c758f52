// The frame extractor: a worker that keeps a small pool of decoded frames
// near the show's current time, so that drawing takes a frame without waiting
// on the decoder. The drawing side takes a slot for a time, gives it back when
// drawn, and asks for the frame it will want next; rendering that must be
// exact asks for a time and waits until the worker has decoded it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "QlLib/Video/qlMonitor.h"
#include "QlLib/Video/qlWinVideoSource.h"

namespace ql {

struct TVideoParams {
    double Rate = 0;  // frames per second
    int64_t Count = 0;
    bool Loop = false;
};

// One decoded frame of the pool.
struct TFrameSlot {
    TYuvImage Image;
    int64_t Asked = -2;        // the frame asked of the worker; -2 none
    int64_t Frame = -2;        // the frame the image holds; -2 nothing
    bool ContentLost = false;  // the renderer lost the image (device reset)
};

class TOrbVideoExtractor : public TActiveMonitor {
public:
    static constexpr int64_t kNone = -2;
    static constexpr int kDefaultSlots = 4;

    // With ownSource the extractor frees the source. The worker starts at once.
    TOrbVideoExtractor(TFrameSource* source, bool ownSource, const TVideoParams& params,
                       int slots = kDefaultSlots);
    ~TOrbVideoExtractor() override;

    const TVideoParams& Params() const { return m_params; }
    // frame(t) of the clip (see FrameForTime).
    int64_t FrameAt(double ms) const;

    // Asks for the frame at ms unless a slot of the pool holds it; with wait,
    // returns once a slot of the pool holds it, the worker failed on it, no
    // slot is left to decode into, or the extractor stops. True when a slot
    // of the pool holds it.
    bool RequestFrame(double ms, bool wait);

    struct TTaken {
        TFrameSlot* Slot = nullptr;  // nullptr when the pool is empty
        bool Exact = false;          // the slot holds frame(ms) itself
    };
    // Takes the slot nearest frame(ms) out of the pool for drawing and asks the
    // worker for the frame the next drawing wants, drawing `rate` times a
    // second: frame(ms + 1000 / rate), at least one frame on.
    TTaken TakeFrame(double ms, double rate);
    // Returns a taken slot to the pool. A slot whose image content was lost
    // goes back empty, and the frame it held is wanted again.
    void GiveBack(TFrameSlot* slot);

    // Stops the worker and empties the pool; the source stays.
    void StopAndClear();
    int64_t WantedFrame();
    // Frames decoded by the worker (for tools and tests).
    int64_t Served();

protected:
    void Run() override;

private:
    // Inside the monitor: the pool's slot holding frame, or nullptr.
    TFrameSlot* PoolSlotHolding(int64_t frame) const;
    void DropLostContent();

    std::unique_ptr<TFrameSource> m_ownedSource;
    TFrameSource* m_source;
    TVideoParams m_params;
    // Guarded by the monitor: every slot, the pool (slots neither taken nor
    // being decoded), the wanted frame, the last frame the worker failed on.
    std::vector<std::unique_ptr<TFrameSlot>> m_slots;
    std::vector<TFrameSlot*> m_pool;
    int64_t m_wanted = kNone;
    int64_t m_failed = kNone;
    bool m_decoding = false;
    bool m_finished = false;
    int64_t m_served = 0;
};

}  // namespace ql
