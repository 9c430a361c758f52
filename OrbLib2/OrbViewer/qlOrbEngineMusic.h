// The music as the engine drives it: the master clock of the show. The music
// player stands behind this; a show without a player of its own plays on
// TClockMusic, whose clock is the engine clock alone.
#pragma once

#include <cstdint>
#include <mutex>

#include "OrbLib2/OrbViewer/qlOrbEngineClock.h"
#include "OrbLib2/OrbViewer/qlOrbMusicPlayer2.h"
#include "QlLib/SysObj.h"

namespace orb {

// The seek time that changes only the barrier.
inline constexpr double kSeekBarrierOnly = -2147483647.0;
// No barrier yet.
inline constexpr double kNoMusicBarrier = 2147483647.0;

class TEngineMusic : public ql::TObj {
public:
    // Starts and stops the player's own threads (nothing for a driven player).
    virtual void Start() {}
    virtual void Stop() {}
    // Runs or stops the clock; a request with the state already asked for is
    // ignored.
    virtual void Run(bool running) = 0;
    // A negative value leaves that part unchanged. A time stops the clock there.
    virtual void Seek(double time, double barrier) = 0;
    // The show time of the music; never beyond barrier - 1 ms.
    virtual double Position() const = 0;
    // The last barrier a seek asked for.
    virtual double Barrier() const = 0;
    // True while the clock runs, or once everything scheduled can start.
    virtual bool Ready() const = 0;
    virtual float Volume() const = 0;
    virtual void SetVolume(float volume) = 0;
    // The player cannot go on (its output failed) and must be replaced.
    virtual bool MustRebuild() const { return false; }
    // Deterministic mode: one pass of the player's loop, on the driver's thread.
    virtual void Step() {}
    // Deterministic mode: mixes the next frames (two samples each) into
    // samples and moves the music clock by them; the frames mixed.
    virtual size_t Render(int16_t* samples, size_t frames) { return 0; }
    // Whether Render moves the clock (the offline output).
    virtual bool RendersSound() const { return false; }
};

// The show's music player behind the engine's interface.
class TPlayerMusic : public TEngineMusic {
public:
    explicit TPlayerMusic(std::unique_ptr<TOrbMusicPlayer> player) : m_player(std::move(player)) {}
    ~TPlayerMusic() override;

    void Start() override;
    void Stop() override;
    void Run(bool running) override { m_player->Run(running); }
    void Seek(double time, double barrier) override;
    double Position() const override { return m_player->Position(); }
    double Barrier() const override { return m_player->LastSeekBarrier(); }
    bool Ready() const override { return m_player->Ready(); }
    float Volume() const override { return m_player->Volume(); }
    void SetVolume(float volume) override { m_player->SetVolume(volume); }
    void Step() override;
    size_t Render(int16_t* samples, size_t frames) override;
    bool RendersSound() const override { return m_player->Deterministic(); }
    TOrbMusicPlayer& Player() const { return *m_player; }

private:
    std::unique_ptr<TOrbMusicPlayer> m_player;
    bool m_closed = false;
};

// Music without sound: the position follows the engine clock while running.
class TClockMusic : public TEngineMusic {
public:
    explicit TClockMusic(const TEngineClock& clock) : m_clock(clock) {}

    void Run(bool running) override;
    void Seek(double time, double barrier) override;
    double Position() const override;
    double Barrier() const override;
    bool Ready() const override { return true; }
    float Volume() const override;
    void SetVolume(float volume) override;

private:
    const TEngineClock& m_clock;
    mutable std::mutex m_lock;  // guards the fields below: the engine and a viewer read them
    bool m_running = false;
    double m_timeBase = 0;  // the stopped time, or the clock offset while running
    double m_barrier = kNoMusicBarrier;
    float m_volume = 1.0f;
};

}  // namespace orb
