// TMusicChannel: one decoding output instance of a channel. A channel makes a
// new instance for every restart after a stop or a seek, so an old instance can
// still fade out while the new one fades in.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QlLib/Music/PcmSource.h"
#include "QlLib/Music/WaveOutDevice.h"
#include "QlLib/SysObj.h"

namespace ql {

class TMusicChannel;

// What an owner gives up: the instance, and work to run once the instance is
// freed and no owner lock is held any more (the channel's end notification).
struct TTakenInstance {
    std::unique_ptr<TMusicChannel> Instance;
    std::function<void()> Then;
};

// Whoever lists an instance: its channel, or the device once the channel is
// gone while the instance still sounds.
class TInstanceOwner {
public:
    virtual ~TInstanceOwner() = default;
    // Removes instance from the list and hands it over; no instance when it is
    // not listed. endedByItself: the instance ran to the end of its source.
    virtual TTakenInstance TakeInstance(TMusicChannel* instance, bool endedByItself) = 0;
};

class TMusicChannel : public TObj {
public:
    enum TState { Idle = 0, Playing = 1, Stopping = 2 };

    TMusicChannel(TInstanceOwner* owner, TWaveOutDevice& device, std::u16string name,
                  std::unique_ptr<TPcmSource> source);
    ~TMusicChannel() override;

    // False when the source's format cannot be played.
    bool Usable() const { return m_usable; }
    const std::u16string& Name() const { return m_name; }
    TWaveOutDevice& Device() { return m_buffer->Device(); }
    TState State() const;
    // Idle only: moves the source and reads its first block; false when the
    // source cannot go there.
    bool Seek(double ms);
    void Start(double fadeMs);
    void Stop(double fadeMs);
    // The source time being heard: the start offset plus what the output played.
    double PositionMs() const;
    void SetGain(float gain) { m_buffer->SetVolume(gain); }
    float Gain() const { return m_buffer->Volume(); }
    bool EndedByItself() const { return m_buffer->EndedByItself(); }

    // Fade frames for a fade of ms: ms × 44100 / 1000, at least 1.
    static int64_t FadeFrames(double ms);

    // The killer's side.
    void ScheduleKill();
    bool KillDue(int64_t tick) const;
    // Hands the instance over from its owner (the killer frees it then).
    TTakenInstance TakeFromOwner();
    // Guards every instance's owner pointer; taken before an owner's own lock.
    // One lock for all: owners change rarely, and a channel must be able to
    // hand all its instances to the device at once.
    static std::mutex& OwnerLock();
    // With OwnerLock held.
    void SetOwnerLocked(TInstanceOwner* owner) { m_owner = owner; }

private:
    size_t Fill(int16_t* out, size_t frames);
    bool NextSourceFrame(int16_t frame[2]);
    void ResetConversion();

    TInstanceOwner* m_owner;  // under OwnerLock

    std::u16string m_name;
    std::unique_ptr<TPcmSource> m_source;
    TPcmFormat m_format;
    bool m_usable = false;
    double m_startOffset = 0;
    std::unique_ptr<TWaveOutBuffer> m_buffer;

    // Conversion to 44100 Hz stereo; used by one thread at a time (the control
    // thread while idle, then the refill pass).
    std::vector<int16_t> m_block;
    size_t m_blockPos = 0;
    size_t m_blockFrames = 0;
    bool m_sourceDone = false;
    bool m_primed = false;
    double m_step = 1;  // source frames per output frame
    double m_frac = 0;
    int16_t m_prev[2] = {0, 0};
    int16_t m_next[2] = {0, 0};

    std::atomic<bool> m_handed{false};
    std::atomic<int64_t> m_killTick{0};
    std::atomic<int64_t> m_killDelay{-1};
};

}  // namespace ql
