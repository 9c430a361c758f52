// TChannelKiller: the one process-wide thread that frees output instances once
// their last mixed sound has been heard.
#pragma once

#include <cstdint>
#include <vector>

#include "QlLib/SysLock.h"
#include "QlLib/qlThreadEventList.h"
#include "QlLib/qpThreads2.h"

namespace ql {

class TMusicChannel;
class TWaveOutDevice;

// The payload of the "add" message.
class TAddChannelData : public TObj {
public:
    explicit TAddChannelData(TMusicChannel* instance) : Instance(instance) {}
    TMusicChannel* Instance;
};

class TChannelKiller : public TThread {
public:
    static constexpr int32_t kQuit = 1025;
    static constexpr int32_t kAdd = 1026;
    static constexpr int32_t kFreeDevice = 1027;

    // Created on first use; its constructor returns once the thread runs.
    static TChannelKiller& Instance();

    TChannelKiller();
    // Instances still dying at the end are an assertion (reported, then left alone).
    ~TChannelKiller() override;

    // Schedules the instance; it is freed once its kill delay has passed.
    void Add(TMusicChannel* instance);
    // Frees at once every dying instance that plays on device; returns when done.
    void FreeAllOf(const TWaveOutDevice* device);
    // Instances waiting to be freed (for tests).
    size_t DyingCount();

protected:
    void Execute() override;

private:
    void Handle(TMessageItem& item);
    void FreeDue(int64_t tick);
    void Free(TMusicChannel* instance);

    TMusicEventList m_events;
    TEvent m_running;
    std::vector<TMusicChannel*> m_dying;  // the killer thread's own
    std::atomic<size_t> m_dyingCount{0};
};

}  // namespace ql
