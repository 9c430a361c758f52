#include "QlLib/Music/MusicClasses.h"

#include <algorithm>
#include <chrono>

#include "QlLib/Music/ChannelKiller.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

// TCustomChannel

TCustomChannel::TCustomChannel(TMusicPlayerClass* device, std::u16string name)
    : m_device(device), m_name(std::move(name)) {}

TMusicPlayer* TCustomChannel::Owner() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_device;
}

// TChannelMusic

TChannelMusic::TChannelMusic(TMusicPlayerClass& device, const std::u16string& name)
    : TCustomChannel(&device, name) {
    // The source opened to learn the format plays as the first instance.
    std::unique_ptr<TPcmSource> source = device.OpenSource(name);
    if (!source) return;
    m_format = source->Format();
    m_lengthMs = source->LengthMs();
    std::lock_guard<std::mutex> lock(m_lock);
    m_created = NewInstanceLocked(std::move(source)) != nullptr;
}

TChannelMusic::~TChannelMusic() {
    TMusicPlayerClass* device;
    std::vector<std::unique_ptr<TMusicChannel>> idle;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        device = m_device;
        m_endNotification = nullptr;
        if (!device) return;  // the device went first and freed the instances
        for (auto& instance : m_instances) {
            if (instance->State() == TMusicChannel::Playing)
                instance->Stop(kSeekFadeMs);
            else if (instance->State() == TMusicChannel::Idle)
                idle.push_back(std::move(instance));
        }
        std::erase(m_instances, nullptr);
    }
    idle.clear();
    device->RemoveLive(this);

    TWaveOutDevice& backend = device->Backend();
    if (backend.Available() && backend.Output().RealTime()) {
        // The killer takes the channel's lock to remove an instance, so the wait
        // must not hold it: the condition variable releases it while waiting.
        std::unique_lock<std::mutex> lock(m_lock);
        if (!m_removed.wait_for(lock, std::chrono::milliseconds(kDestroyWaitMs),
                                [this] { return m_instances.empty() && m_notifying == 0; }))
            ReportAssertion("Channel \"" + ToUtf8(m_name) + "\" still sounds after " +
                                std::to_string(kDestroyWaitMs) + " ms",
                            __FILE__, __LINE__);
    }
    {
        // What still sounds (an offline output not pulled yet, or a stalled
        // output) goes on fading as the device's; the killer frees it there.
        std::lock_guard<std::mutex> owners(TMusicChannel::OwnerLock());
        std::vector<std::unique_ptr<TMusicChannel>> rest;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            rest.swap(m_instances);
        }
        if (!rest.empty()) device->AdoptOrphansLocked(std::move(rest));
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_removed.wait(lock, [this] { return m_notifying == 0; });
}

void TChannelMusic::Detach() {
    std::vector<std::unique_ptr<TMusicChannel>> instances;
    {
        std::lock_guard<std::mutex> owners(TMusicChannel::OwnerLock());
        std::lock_guard<std::mutex> lock(m_lock);
        m_device = nullptr;
        instances.swap(m_instances);
        for (auto& instance : instances) instance->SetOwnerLocked(nullptr);
    }
    instances.clear();
}

TMusicChannel* TChannelMusic::NewestLocked() const {
    return m_instances.empty() ? nullptr : m_instances.back().get();
}

TMusicChannel* TChannelMusic::NewInstanceLocked(std::unique_ptr<TPcmSource> source) {
    if (!m_device) return nullptr;
    if (!source) source = m_device->OpenSource(m_name);
    if (!source) return nullptr;
    auto instance = std::make_unique<TMusicChannel>(static_cast<TInstanceOwner*>(this), m_device->Backend(), m_name, std::move(source));
    if (!instance->Usable()) return nullptr;
    m_instances.push_back(std::move(instance));
    ApplyGainLocked();
    return m_instances.back().get();
}

void TChannelMusic::ApplyGainLocked() {
    if (TMusicChannel* newest = NewestLocked()) newest->SetGain(m_volume * DeviceScale());
}

float TChannelMusic::Volume() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_volume;
}

void TChannelMusic::SetVolume(float volume) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_volume = volume;
    ApplyGainLocked();
}

void TChannelMusic::SetDeviceScale(float scale) {
    TChannel::SetDeviceScale(scale);
    std::lock_guard<std::mutex> lock(m_lock);
    ApplyGainLocked();
}

double TChannelMusic::Position() {
    std::lock_guard<std::mutex> lock(m_lock);
    if (TMusicChannel* newest = NewestLocked()) m_lastPosition = newest->PositionMs();
    return m_lastPosition;
}

void TChannelMusic::Seek(double ms) {
    if (!(ms >= 0)) ms = 0;
    std::lock_guard<std::mutex> lock(m_lock);
    TMusicChannel* newest = NewestLocked();
    if (newest && newest->State() == TMusicChannel::Idle) {
        newest->Seek(ms);
    } else if (newest && newest->State() == TMusicChannel::Playing) {
        // The old sound fades out while the new one fades in over the same frames.
        newest->Stop(kSeekFadeMs);
        if (TMusicChannel* fresh = NewInstanceLocked()) {
            fresh->Seek(ms);
            fresh->Start(kSeekFadeMs);
        }
    } else if (TMusicChannel* fresh = NewInstanceLocked()) {
        fresh->Seek(ms);
    }
    m_lastPosition = ms;
}

void TChannelMusic::Start(double fadeMs) {
    std::lock_guard<std::mutex> lock(m_lock);
    TMusicChannel* newest = NewestLocked();
    if (newest && newest->State() == TMusicChannel::Playing) return;
    if (!newest || newest->State() != TMusicChannel::Idle) {
        newest = NewInstanceLocked();
        if (!newest) return;
        newest->Seek(m_lastPosition);
    }
    newest->Start(fadeMs);
}

void TChannelMusic::Stop(double fadeMs) {
    std::lock_guard<std::mutex> lock(m_lock);
    TMusicChannel* newest = NewestLocked();
    if (!newest || newest->State() != TMusicChannel::Playing) return;
    m_lastPosition = newest->PositionMs();
    newest->Stop(fadeMs);
}

bool TChannelMusic::IsPlaying() {
    std::lock_guard<std::mutex> lock(m_lock);
    TMusicChannel* newest = NewestLocked();
    return newest && newest->State() == TMusicChannel::Playing;
}

size_t TChannelMusic::InstanceCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_instances.size();
}

void TChannelMusic::SetEndNotification(std::function<void()> notification) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_endNotification = std::move(notification);
}

TTakenInstance TChannelMusic::TakeInstance(TMusicChannel* instance, bool endedByItself) {
    TTakenInstance taken;
    std::lock_guard<std::mutex> lock(m_lock);
    auto it = std::find_if(m_instances.begin(), m_instances.end(),
                           [&](const auto& p) { return p.get() == instance; });
    if (it == m_instances.end()) return taken;
    if (instance == NewestLocked()) m_lastPosition = instance->PositionMs();
    taken.Instance = std::move(*it);
    m_instances.erase(it);
    // Runs once the instance is freed and the owner lock released; a destroy
    // waits for it, so that when it returns the instance's source is closed.
    ++m_notifying;
    std::function<void()> notification;
    if (endedByItself) notification = m_endNotification;
    taken.Then = [this, notification = std::move(notification)] {
        if (notification) notification();
        std::lock_guard<std::mutex> relock(m_lock);
        --m_notifying;
        m_removed.notify_all();
    };
    // Notified under the lock: a waiting destructor cannot free the condition
    // variable before this returns.
    m_removed.notify_all();
    return taken;
}

// TMusicPlayerClass

TMusicPlayerClass::TMusicPlayerClass(std::unique_ptr<TSoundOutput> output, TPcmSourceFactory factory)
    : m_factory(std::move(factory)), m_backend(std::make_unique<TWaveOutDevice>(std::move(output))) {}

TMusicPlayerClass::~TMusicPlayerClass() {
    // No mix and no refill from here on, so nothing new reaches the killer.
    m_backend->Shutdown();
    TChannelKiller::Instance().FreeAllOf(m_backend.get());
    std::vector<TChannelMusic*> live;
    {
        std::lock_guard<std::mutex> lock(m_liveLock);
        live.swap(m_live);
    }
    for (TChannelMusic* channel : live) channel->Detach();
    {
        std::lock_guard<std::mutex> lock(m_orphanLock);
        m_orphans.clear();
    }
    m_clock.reset();
    m_backend.reset();
}

void TMusicPlayerClass::SetVolume(float volume) {
    m_volume.store(volume);
    std::lock_guard<std::mutex> lock(m_liveLock);
    for (TChannelMusic* channel : m_live) channel->SetDeviceScale(volume);
}

void TMusicPlayerClass::SetStreamReleaseCallback(TStreamReleaseCallback callback) {
    std::lock_guard<std::mutex> lock(m_callbackLock);
    m_releaseCallback = std::move(callback);
}

void TMusicPlayerClass::SetStreamOpenCallback(TStreamOpenCallback callback) {
    std::lock_guard<std::mutex> lock(m_callbackLock);
    m_openCallback = std::move(callback);
}

TStreamOpenCallback TMusicPlayerClass::StreamOpenCallback() const {
    std::lock_guard<std::mutex> lock(m_callbackLock);
    return m_openCallback;
}

TStreamReleaseCallback TMusicPlayerClass::StreamReleaseCallback() const {
    std::lock_guard<std::mutex> lock(m_callbackLock);
    return m_releaseCallback;
}

double TMusicPlayerClass::Clock() {
    std::lock_guard<std::mutex> lock(m_clockLock);
    if (!m_clock) m_clock = m_backend->CreateClock();
    if (!m_clock->IsRunning()) m_clock->Start();
    return m_clock->Time();
}

std::unique_ptr<TPcmSource> TMusicPlayerClass::OpenSource(const std::u16string& name) {
    if (!m_factory) return nullptr;
    try {
        return m_factory(name);
    } catch (const std::exception& e) {
        GlobalLog().WriteLine("Sound source \"" + ToUtf8(name) + "\" cannot open: " + e.what());
        return nullptr;
    }
}

std::unique_ptr<TChannel> TMusicPlayerClass::CreateChannel(const std::u16string& name, double startMs) {
    if (!Available()) return nullptr;
    auto channel = std::make_unique<TChannelMusic>(*this, name);
    if (!channel->Created()) return nullptr;
    const float volume = m_volume.load();
    if (volume != 1.0f) channel->SetDeviceScale(volume);
    if (startMs != -1) channel->Seek(startMs);
    std::lock_guard<std::mutex> lock(m_liveLock);
    m_live.push_back(channel.get());
    return channel;
}

void TMusicPlayerClass::RemoveLive(TChannelMusic* channel) {
    std::lock_guard<std::mutex> lock(m_liveLock);
    std::erase(m_live, channel);
}

size_t TMusicPlayerClass::LiveChannelCount() const {
    std::lock_guard<std::mutex> lock(m_liveLock);
    return m_live.size();
}

size_t TMusicPlayerClass::OrphanCount() const {
    std::lock_guard<std::mutex> lock(m_orphanLock);
    return m_orphans.size();
}

void TMusicPlayerClass::AdoptOrphansLocked(std::vector<std::unique_ptr<TMusicChannel>> instances) {
    std::lock_guard<std::mutex> lock(m_orphanLock);
    for (auto& instance : instances) {
        instance->SetOwnerLocked(this);
        m_orphans.push_back(std::move(instance));
    }
}

TTakenInstance TMusicPlayerClass::TakeInstance(TMusicChannel* instance, bool) {
    TTakenInstance taken;
    std::lock_guard<std::mutex> lock(m_orphanLock);
    auto it = std::find_if(m_orphans.begin(), m_orphans.end(),
                           [&](const auto& p) { return p.get() == instance; });
    if (it == m_orphans.end()) return taken;
    taken.Instance = std::move(*it);
    m_orphans.erase(it);
    return taken;
}

std::unique_ptr<TMusicPlayerClass> CreateMusicDevice(const TSoundOutputOptions& options,
                                                     TPcmSourceFactory factory) {
    auto device = std::make_unique<TMusicPlayerClass>(CreateSoundOutput(options), std::move(factory));
    if (!device->Available()) return nullptr;
    return device;
}

}  // namespace ql
