// The newest frame the engine presented, handed from the engine's thread to
// the window's. Only the newest counts: a frame the window had no time to
// show is replaced, never queued, so a slow desktop cannot make the show lag.
#pragma once

#include <cstdint>
#include <mutex>

#include "QlLib/Platform/qlHost.h"

namespace orb {

class TFrameMailbox {
public:
    // Engine thread: copies the frame (premultiplied 0xAARRGGBB rows of
    // `width` pixels, made opaque). True when the mailbox was empty before,
    // that is when the window has to be woken.
    bool Post(const uint32_t* pixels, int32_t width, int32_t height);
    // Window thread: swaps the newest frame into `frame` if one came since
    // the last Take; the buffer `frame` held is reused for later posts.
    bool Take(ql::TFrameCopy& frame);

private:
    std::mutex m_lock;  // guards m_pending and m_fresh
    ql::TFrameCopy m_pending;
    bool m_fresh = false;
};

}  // namespace orb
