#include "QlLib/Music/ChannelKiller.h"

#include <algorithm>

#include "QlLib/Music/MusicChannel.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"

namespace ql {

namespace {
class TFreeDeviceData : public TObj {
public:
    explicit TFreeDeviceData(const TWaveOutDevice* device) : Device(device) {}
    const TWaveOutDevice* Device;
};
}  // namespace

TChannelKiller& TChannelKiller::Instance() {
    // Function-local statics are created once, under the runtime's own lock.
    static TChannelKiller killer;
    return killer;
}

TChannelKiller::TChannelKiller() {
    m_events.SetHandler([this](TMessageItem& item) { Handle(item); });
    Start();
    m_running.Wait(kInfinite);
}

TChannelKiller::~TChannelKiller() {
    m_events.Post(kQuit);
    m_events.Wake();
    Shutdown();
    if (!m_dying.empty())
        ReportAssertion("Channel killer stopped with " + std::to_string(m_dying.size()) +
                            " dying channels",
                        __FILE__, __LINE__);
}

void TChannelKiller::Add(TMusicChannel* instance) {
    m_events.Post(kAdd, std::make_unique<TAddChannelData>(instance));
}

void TChannelKiller::FreeAllOf(const TWaveOutDevice* device) {
    m_events.Send(kFreeDevice, std::make_unique<TFreeDeviceData>(device));
}

size_t TChannelKiller::DyingCount() { return m_dyingCount.load(); }

void TChannelKiller::Handle(TMessageItem& item) {
    switch (item.Code()) {
        case kQuit:
            Terminate();
            item.StopProcessing = true;
            break;
        case kAdd:
            if (auto* data = item.PayloadAs<TAddChannelData>()) {
                if (std::find(m_dying.begin(), m_dying.end(), data->Instance) == m_dying.end())
                    m_dying.push_back(data->Instance);
            }
            break;
        case kFreeDevice:
            if (auto* data = item.PayloadAs<TFreeDeviceData>()) {
                std::vector<TMusicChannel*> keep;
                for (TMusicChannel* instance : m_dying) {
                    if (&instance->Device() == data->Device)
                        Free(instance);
                    else
                        keep.push_back(instance);
                }
                m_dying.swap(keep);
            }
            break;
        default:
            break;
    }
    m_dyingCount.store(m_dying.size());
}

void TChannelKiller::Free(TMusicChannel* instance) {
    // The owner gives the instance up under its lock; it is freed here, with no
    // lock held, which takes it out of the mix.
    TTakenInstance taken = instance->TakeFromOwner();
    taken.Instance.reset();
    if (taken.Then) taken.Then();
}

void TChannelKiller::FreeDue(int64_t tick) {
    std::vector<TMusicChannel*> due;
    std::erase_if(m_dying, [&](TMusicChannel* instance) {
        if (!instance->KillDue(tick)) return false;
        due.push_back(instance);
        return true;
    });
    m_dyingCount.store(m_dying.size());
    for (TMusicChannel* instance : due) Free(instance);
}

void TChannelKiller::Execute() {
    m_running.Set();
    while (!Terminated()) {
        m_events.Process();
        if (Terminated()) break;
        if (!m_dying.empty()) FreeDue(TickCount());
        m_events.WaitForMessages(m_dying.empty() ? 100 : 10);
    }
}

}  // namespace ql
