#include "Orb/OrbViewer/OrbFrameMailbox.h"

#include <cstring>

namespace orb {

bool TFrameMailbox::Post(const uint32_t* pixels, int32_t width, int32_t height) {
    if (!pixels || width <= 0 || height <= 0) return false;
    std::lock_guard<std::mutex> lock(m_lock);
    const size_t count = size_t(width) * size_t(height);
    m_pending.Pixels.resize(count * 4);
    m_pending.Width = width;
    m_pending.Height = height;
    // Slides may leave alpha below 255 where nothing opaque was drawn; a
    // window shows colours only, and an opaque frame keeps compositors from
    // blending the desktop through.
    auto* out = reinterpret_cast<uint32_t*>(m_pending.Pixels.data());
    for (size_t i = 0; i < count; ++i) out[i] = pixels[i] | 0xFF000000u;
    const bool wasEmpty = !m_fresh;
    m_fresh = true;
    return wasEmpty;
}

bool TFrameMailbox::Take(ql::TFrameCopy& frame) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_fresh) return false;
    std::swap(frame, m_pending);
    m_fresh = false;
    return true;
}

}  // namespace orb
