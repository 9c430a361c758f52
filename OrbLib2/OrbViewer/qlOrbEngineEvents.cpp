#include "OrbLib2/OrbViewer/qlOrbEngineEvents.h"

#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "QlLib/qlIniStorage.h"

namespace orb {

TOpenParams::TOpenParams() = default;
TOpenParams::~TOpenParams() = default;

TRequestSlots::TRequestSlots() = default;
TRequestSlots::~TRequestSlots() = default;

bool TRequestSlots::Post(std::unique_ptr<TOpenParams> request, uint8_t currentPause) {
    if (!request) return false;
    // A pause stored in the request being processed is the state the engine
    // will have when this one is served.
    const uint8_t paused = m_pending      ? m_pending->Paused
                           : m_processing ? m_processing->Paused
                                          : currentPause;
    const bool open = request->IsOpen();
    if (!open && m_pending && m_pending->IsOpen()) {
        // The show still has to be opened; the seek only moves where.
        m_pending->RequestId = request->RequestId;
        m_pending->StartTime = request->StartTime;
        return false;
    }
    m_pending = std::move(request);
    m_pending->Paused = paused;
    return open;
}

bool TRequestSlots::StorePause(uint8_t paused) {
    if (m_pending) {
        m_pending->Paused = paused;
        return true;
    }
    if (m_processing) {
        m_processing->Paused = paused;
        return true;
    }
    return false;
}

TOpenParams* TRequestSlots::BeginProcessing() {
    m_processing = std::move(m_pending);
    return m_processing.get();
}

std::unique_ptr<TOpenParams> TRequestSlots::EndProcessing() {
    return std::move(m_processing);
}

}  // namespace orb
