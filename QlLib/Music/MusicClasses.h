// The music device and its channels: TMusicPlayer (the device interface),
// TMusicPlayerClass (the device over our mixer and a sound output), TChannel,
// TCustomChannel and TChannelMusic (the playable channel the music player holds).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QlLib/Music/MusicChannel.h"
#include "QlLib/Music/PcmSource.h"
#include "QlLib/Music/SoundOutput.h"
#include "QlLib/Music/TimerChannel.h"
#include "QlLib/Music/WaveOutDevice.h"
#include "QlLib/SysObj.h"

namespace ql {

class TStream;
class TChannel;

// Gives the bytes of a name (a package entry or a file on disk); null when missing.
using TStreamOpenCallback = std::function<std::unique_ptr<TStream>(const std::u16string& name)>;
// Takes back what the open callback gave.
using TStreamReleaseCallback = std::function<void(std::unique_ptr<TStream> stream)>;

class TMusicPlayer : public TObj {
public:
    virtual bool Available() const = 0;
    virtual float Volume() const = 0;
    virtual void SetVolume(float volume) = 0;
    virtual void SetStreamReleaseCallback(TStreamReleaseCallback callback) = 0;
    virtual void SetStreamOpenCallback(TStreamOpenCallback callback) = 0;
    virtual TStreamOpenCallback StreamOpenCallback() const = 0;
    virtual TStreamReleaseCallback StreamReleaseCallback() const = 0;
    // The device clock in ms.
    virtual double Clock() = 0;
    // startMs -1: from the beginning without a seek. Null when the device is
    // unavailable or the name cannot be played.
    virtual std::unique_ptr<TChannel> CreateChannel(const std::u16string& name, double startMs) = 0;
};

class TChannel : public TObj {
public:
    virtual TMusicPlayer* Owner() const = 0;
    virtual std::u16string Name() const = 0;
    virtual float Volume() const = 0;
    virtual void SetVolume(float volume) = 0;
    // -1 if unknown.
    virtual double MediaLength() const = 0;
    virtual double Position() = 0;
    virtual void Seek(double ms) = 0;
    float DeviceScale() const { return m_deviceScale.load(); }
    virtual void SetDeviceScale(float scale) { m_deviceScale.store(scale); }
    virtual void Start(double fadeMs) = 0;
    virtual void Stop(double fadeMs) = 0;
    virtual bool IsPlaying() = 0;

private:
    std::atomic<float> m_deviceScale{1.0f};
};

class TMusicPlayerClass;

class TCustomChannel : public TChannel {
public:
    TCustomChannel(TMusicPlayerClass* device, std::u16string name);

    TMusicPlayer* Owner() const override;
    std::u16string Name() const override { return m_name; }
    double MediaLength() const override { return m_lengthMs; }
    TPcmFormat Format() const { return m_format; }

protected:
    mutable std::mutex m_lock;           // guards m_device and what descendants say
    TMusicPlayerClass* m_device;         // null once the device went first
    std::u16string m_name;
    TPcmFormat m_format;
    double m_lengthMs = -1;
};

class TChannelMusic : public TCustomChannel, private TInstanceOwner {
public:
    // The wait of a destroy for its fading instances.
    static constexpr uint32_t kDestroyWaitMs = 3000;
    // The fade of a seek and of a destroy.
    static constexpr double kSeekFadeMs = 10;

    TChannelMusic(TMusicPlayerClass& device, const std::u16string& name);
    // Fades out what plays (10 ms) and, on a real-time output, waits until the
    // killer has freed it, with the channel's lock released; on an offline
    // output the fading instances go to the device, which frees them once the
    // fade has been pulled.
    ~TChannelMusic() override;

    bool Created() const { return m_created; }
    float Volume() const override;
    void SetVolume(float volume) override;
    void SetDeviceScale(float scale) override;
    double Position() override;
    void Seek(double ms) override;
    void Start(double fadeMs) override;
    void Stop(double fadeMs) override;
    bool IsPlaying() override;
    // Instances alive (playing, fading or waiting for the killer).
    size_t InstanceCount() const;
    // Called on the killer's thread when an instance ran to the end of its source.
    void SetEndNotification(std::function<void()> notification);

private:
    friend class TMusicPlayerClass;
    TTakenInstance TakeInstance(TMusicChannel* instance, bool endedByItself) override;
    // Under m_lock: a new idle instance, the newest; null when the source fails.
    TMusicChannel* NewInstanceLocked(std::unique_ptr<TPcmSource> source = nullptr);
    TMusicChannel* NewestLocked() const;
    void ApplyGainLocked();
    // The device goes first: free every instance, forget the device.
    void Detach();

    std::vector<std::unique_ptr<TMusicChannel>> m_instances;  // under m_lock, newest last
    std::condition_variable m_removed;  // with m_lock: an instance left m_instances
    int32_t m_notifying = 0;            // under m_lock: instances taken, not yet freed
    std::function<void()> m_endNotification;  // under m_lock
    float m_volume = 1.0f;              // under m_lock
    double m_lastPosition = 0;          // under m_lock
    bool m_created = false;
};

class TMusicPlayerClass : public TMusicPlayer, private TInstanceOwner {
public:
    TMusicPlayerClass(std::unique_ptr<TSoundOutput> output, TPcmSourceFactory factory);
    ~TMusicPlayerClass() override;

    bool Available() const override { return m_backend->Available(); }
    float Volume() const override { return m_volume.load(); }
    // Stored and passed to every live channel as its device scale.
    void SetVolume(float volume) override;
    void SetStreamReleaseCallback(TStreamReleaseCallback callback) override;
    void SetStreamOpenCallback(TStreamOpenCallback callback) override;
    TStreamOpenCallback StreamOpenCallback() const override;
    TStreamReleaseCallback StreamReleaseCallback() const override;
    double Clock() override;
    std::unique_ptr<TChannel> CreateChannel(const std::u16string& name, double startMs) override;

    TWaveOutDevice& Backend() { return *m_backend; }
    // Offline output: renders frames; 0 for the other outputs.
    size_t Pull(int16_t* samples, size_t frames) { return m_backend->Pull(samples, frames); }
    std::unique_ptr<TPcmSource> OpenSource(const std::u16string& name);
    size_t LiveChannelCount() const;
    // Instances of destroyed channels still fading out.
    size_t OrphanCount() const;

private:
    friend class TChannelMusic;
    TTakenInstance TakeInstance(TMusicChannel* instance, bool endedByItself) override;
    // With TMusicChannel::OwnerLock held.
    void AdoptOrphansLocked(std::vector<std::unique_ptr<TMusicChannel>> instances);
    void RemoveLive(TChannelMusic* channel);

    TPcmSourceFactory m_factory;
    std::unique_ptr<TWaveOutDevice> m_backend;
    std::atomic<float> m_volume{1.0f};

    mutable std::mutex m_callbackLock;  // guards the two stream callbacks
    TStreamOpenCallback m_openCallback;
    TStreamReleaseCallback m_releaseCallback;

    std::mutex m_clockLock;  // guards m_clock
    std::unique_ptr<TTimerChannel> m_clock;

    mutable std::mutex m_liveLock;  // guards m_live
    std::vector<TChannelMusic*> m_live;

    mutable std::mutex m_orphanLock;  // guards m_orphans
    std::vector<std::unique_ptr<TMusicChannel>> m_orphans;
};

// The player's device: SDL audio unless options say otherwise (falling back to
// the silent output when no sound device opens). Null when no output runs.
std::unique_ptr<TMusicPlayerClass> CreateMusicDevice(const TSoundOutputOptions& options,
                                                     TPcmSourceFactory factory);

}  // namespace ql
