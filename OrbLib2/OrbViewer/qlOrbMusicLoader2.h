// The music loader: the thread that opens and releases output channels, so
// that file access and decoder set-up never hold up the player's scheduling.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/Music/MusicClasses.h"
#include "QlLib/SysObj.h"
#include "QlLib/qlThreadEventList.h"

namespace orb {

// One playing entry of a play item. The output channel is set on the loader
// thread before the channel is handed back; the player reads it only after
// that hand-over (the event list orders the two).
class TOrbChannel : public ql::TRefObj {
public:
    TOrbChannel(int32_t itemId, std::u16string name, double offset, double startTime, double endTime)
        : ItemId(itemId), Name(std::move(name)), Offset(offset), StartTime(startTime), EndTime(endTime) {}
    ~TOrbChannel() override;

    const int32_t ItemId;
    const std::u16string Name;
    const double Offset;     // ms inside the entry
    const double StartTime;  // show ms
    double EndTime;          // show ms; player thread only
    // Written by the loader before the hand-over: where the file's sound ends
    // on the show clock (-1 when unknown); the player cuts EndTime to it.
    double LoadedEnd = -1;
    std::unique_ptr<ql::TChannel> Output;

    std::atomic<bool> Created{false};
    // The device could not make it: counts as loaded, never plays.
    std::atomic<bool> Failed{false};
    bool Playing = false;  // player thread only
    bool Stopped = false;  // player thread only
};

// Carries one channel reference through an event list.
class TChannelContainer : public ql::TObj {
public:
    explicit TChannelContainer(ql::TRef<TOrbChannel> channel) : Channel(std::move(channel)) {}
    ql::TRef<TOrbChannel> Channel;
};

class TMusicLoader : public ql::TOrbThread {
public:
    static constexpr int32_t kEventCreate = 1;
    static constexpr int32_t kEventRelease = 3;
    // Posted back to the player with the created channel.
    static constexpr int32_t kEventReceived = 2;

    // Created channels go back to `player` (event 2); a null player gets them
    // through the callback instead (the player's deterministic mode).
    TMusicLoader(ql::TMusicPlayer* device, ql::TThreadEventList* player);
    ~TMusicLoader() override;

    using TReceiver = std::function<void(ql::TRef<TOrbChannel>)>;
    void SetReceiver(TReceiver receiver) { m_receiver = std::move(receiver); }

    // Handles one request on the calling thread.
    void Handle(int32_t code, ql::TRef<TOrbChannel> channel);

protected:
    void HandleEvent(ql::TMessageItem& item) override;

private:
    void Create(ql::TRef<TOrbChannel> channel);

    ql::TMusicPlayer* m_device;
    ql::TThreadEventList* m_player;
    TReceiver m_receiver;
};

}  // namespace orb
