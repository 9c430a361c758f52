// The music player: schedules the show's play lists and sound comments
// against the show clock, 5 s ahead, on a thread of its own, and keeps the
// clock that the playback engine takes as the show's master clock.
//
// The engine's side: create it for a show source, StartThreads, Run(true /
// false), Seek(time, barrier), Position, Barrier, Ready, Volume / SetVolume,
// Close. In the deterministic mode no thread runs: the sound goes to the
// offline output, its clock is the frames rendered, and the driver calls Step
// and Render in turn, so every run gives the same samples.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OrbLib2/OrbViewer/qlOrbMusicLoader2.h"
#include "OrbLib2/OrbViewer/qlOrbMusicSource2.h"
#include "QlLib/Music/MusicClasses.h"
#include "QlLib/Music/SoundOutput.h"
#include "QlLib/SysObj.h"
#include "QlLib/qlThreadEventList.h"

namespace ql {
class TStream;
}

namespace orb {

class TOrbMusicPlayer;
class TOrbSource;

// The payload of a seek: each part negative = unchanged.
class TTimeData : public ql::TObj {
public:
    TTimeData(double time, double barrier) : Time(time), Barrier(barrier) {}
    double Time;
    double Barrier;
};

// Something the player schedules.
class TPlayItem : public ql::TObj {
public:
    explicit TPlayItem(TOrbMusicPlayer& player);
    ~TPlayItem() override;

    int32_t Id() const { return m_id; }
    bool Finished() const { return m_finished; }
    // Every channel of the item was loaded (or could not be).
    bool Ready() const;
    virtual void Update(bool running, double t) = 0;
    // Stops and releases every channel.
    virtual void Finish();
    // The loader handed a channel back.
    void ChannelReceived(const ql::TRef<TOrbChannel>& channel);
    size_t ChannelCount() const { return m_channels.size(); }

protected:
    void AddChannel(const std::u16string& name, double offset, double start, double end);
    void StopChannel(TOrbChannel& channel);
    // Starts what may start and ends what has passed its end at time t.
    void UpdateChannels(double t, bool mayStart);

    TOrbMusicPlayer& m_player;
    int32_t m_id;
    bool m_finished = false;
    std::vector<ql::TRef<TOrbChannel>> m_channels;
};

// A sound comment of a slide.
class TPlayComment : public TPlayItem {
public:
    TPlayComment(TOrbMusicPlayer& player, const std::u16string& name, double offset, double endTime,
                 double startTime);
    void Update(bool running, double t) override;

private:
    double m_start;
    double m_end;
};

// A play list started at some show time.
class TPlaySequence : public TPlayItem {
public:
    // Synchronised: the list follows the show clock. Otherwise it runs on its
    // own clock once started and goes on while the show clock stops.
    TPlaySequence(TOrbMusicPlayer& player, const TPlayList& list, double startTime, double offset,
                  bool synchronised, bool showMusic);
    void Update(bool running, double t) override;
    void Finish() override;
    bool Synchronised() const { return m_synchronised; }
    bool ShowMusic() const { return m_showMusic; }
    bool Started() const { return m_started; }

private:
    void Preload(double listTime);

    const TPlayList& m_list;
    double m_start;
    double m_offset;
    bool m_synchronised;
    bool m_showMusic;
    bool m_started = false;
    bool m_everStarted = false;
    double m_clockAtStart = 0;
    int64_t m_next = 0;  // the next entry index to preload
};

struct TMusicPlayerOptions {
    // No threads; the offline output; Step and Render drive it.
    bool Deterministic = false;
    // The output of the real-time mode.
    ql::TSoundOutputOptions Output;
    // Opens a package entry; without it names are files of the disk.
    std::function<std::unique_ptr<ql::TStream>(const std::u16string& name)> OpenEntry;
};

class TOrbMusicPlayer : public ql::TOrbThread {
public:
    static constexpr int32_t kEventRun = 10;
    static constexpr int32_t kEventStop = 11;
    static constexpr int32_t kEventSeek = 12;
    static constexpr double kLookAheadMs = 5000;
    static constexpr uint32_t kStepMs = 5;
    static constexpr double kInitialBarrier = 2147483647;
    // Seek(kBarrierOnly, barrier) moves only the barrier.
    static constexpr double kBarrierOnly = -2147483647;
    static constexpr double kChannelFadeMs = 10;

    TOrbMusicPlayer(TOrbSource& source, TMusicPlayerOptions options);
    // The player owns the source and frees it with itself.
    TOrbMusicPlayer(std::unique_ptr<TOrbSource> source, TMusicPlayerOptions options);
    ~TOrbMusicPlayer() override;

    bool OwnsSource() const { return m_ownedSource != nullptr; }
    TOrbSource& Source() const { return m_source; }
    const TOrbMusicSource& MusicSource() const { return *m_music; }
    bool Deterministic() const { return m_options.Deterministic; }

    // Starts the player thread, which starts the loader thread. Nothing in the
    // deterministic mode.
    bool StartThreads();
    // Stops the threads, frees the play items with their channels, then the
    // output. Called by the destructor.
    void Close();

    // Posts run or stop; a request repeating the last one is ignored.
    void Run(bool running);
    // Posts a seek. The time stops the clock there; the barrier is the time
    // the clock never passes. Negative parts stay unchanged.
    void Seek(double time, double barrier = -1);
    // The show time: the clock, never beyond barrier - 1.
    double Position();
    double Barrier() const { return m_barrier.load(); }
    // The barrier of the last seek that carried one; -1 before any.
    double LastSeekBarrier() const { return m_lastSeekBarrier.load(); }
    // True while the clock runs, or when every scheduled item has its channels.
    bool Ready() const { return m_ready.load(); }
    bool Running() const;
    float Volume() const;
    void SetVolume(float volume);

    // One scheduling pass: events, scheduling up to position + 5 s, item
    // updates, channel starts, freeing. The thread runs it every 5 ms; in the
    // deterministic mode the driver calls it.
    void Step();
    // Deterministic mode: renders the next frames of the mix (2 samples per
    // frame); returns the frames rendered.
    size_t Render(int16_t* samples, size_t frames);

    ql::TMusicPlayerClass* Device() const { return m_device.get(); }
    // Player thread (or driver) only: the items scheduled now.
    size_t ItemCount() const { return m_items.size(); }
    const std::vector<std::unique_ptr<TPlayItem>>& Items() const { return m_items; }
    // The device clock, ms: the output's, or the steady clock without one.
    double DeviceClock();

protected:
    void StartHook() override;
    void MainLoopStep() override;
    void EndHook() override;
    void HandleEvent(ql::TMessageItem& item) override;

private:
    friend class TPlayItem;
    friend class TPlaySequence;
    friend class TPlayComment;

    void Init();
    void OpenDevice();
    std::unique_ptr<ql::TStream> OpenStream(const std::u16string& name);
    void HandleSeek(double time, double barrier);
    void SetRunning(bool running);
    void Schedule(double from, double to, bool first);
    void AddSequence(const TPlayList& list, double start, double from, bool showMusic);
    void StartQueued();
    void FreeFinished();

    int32_t NextId();
    void RequestCreate(const ql::TRef<TOrbChannel>& channel);
    void RequestRelease(ql::TRef<TOrbChannel> channel);
    void QueueStart(const ql::TRef<TOrbChannel>& channel);
    void MakeCurrentSequence(TPlaySequence* sequence);
    void MakeCurrentComment(TPlayComment* comment);
    void ChannelReceived(ql::TRef<TOrbChannel> channel);

    TMusicPlayerOptions m_options;
    std::unique_ptr<TOrbSource> m_ownedSource;
    TOrbSource& m_source;
    std::unique_ptr<TOrbMusicSource> m_music;
    std::unique_ptr<ql::TMusicPlayerClass> m_device;
    std::unique_ptr<TMusicLoader> m_loader;

    // Player thread (or driver) only.
    std::vector<std::unique_ptr<TPlayItem>> m_items;
    std::vector<ql::TRef<TOrbChannel>> m_starter;  // the channel starter queue
    TPlaySequence* m_currentSequence = nullptr;
    TPlayComment* m_currentComment = nullptr;
    double m_horizon = 0;
    int32_t m_idCounter = 0;
    bool m_closing = false;

    mutable std::mutex m_clockLock;  // guards m_running and m_timeBase
    bool m_running = false;
    // Frozen time while stopped, clock offset while running.
    double m_timeBase = 0;

    std::atomic<double> m_barrier{kInitialBarrier};
    std::atomic<double> m_lastSeekBarrier{-1};
    std::atomic<bool> m_ready{false};
    std::atomic<int32_t> m_pendingSeeks{0};  // posted, not yet handled
    std::atomic<int32_t> m_lastRequest{-1};  // -1 none, 0 stop, 1 run
    std::atomic<bool> m_closed{false};
};

}  // namespace orb
