#include "OrbLib2/OrbViewer/qlOrbMusicPlayer2.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbViewer/qlOrbCompositeParams.h"
#include "QlLib/Music/MusicTypes.h"
#include "QlLib/Music/WavConverters.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// Bounds of one scheduling call, whatever the times say.
constexpr int64_t kMaxRepetitionsPerSchedule = 16;
constexpr int64_t kMaxSlidesPerSchedule = 4096;
constexpr int32_t kMaxPreloadsPerUpdate = 256;
constexpr size_t kMaxChannelsPerSequence = 64;
// Show times beyond this are taken as this: no show plays for 30 000 years.
constexpr double kMaxShowTime = 1e15;

double ClampTime(double ms) {
    return std::clamp(ms, 0.0, kMaxShowTime);
}

// The one player whose callbacks the process-wide stream broker holds.
std::atomic<const void*> g_brokerOwner{nullptr};
// A comment ends this much before its end time, so that its fade-out is heard
// inside its slide.
constexpr double kCommentEndMarginMs = 10;

ql::TLog& Log() {
    return ql::GlobalLog();
}

// Composite texts are long: the log gets their start.
std::string LogName(const std::u16string& name) {
    constexpr size_t kMax = 96;
    if (name.size() <= kMax) return ql::ToUtf8(name);
    return ql::ToUtf8(name.substr(0, kMax)) + "...";
}

std::string Ms(double ms) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", ms);
    return text;
}

void LogIfSlow(const char* what, double startTick) {
    const double took = ql::PreciseTickMs() - startTick;
    if (took > 1) Log().WriteLine(std::string("+++++++++++++++++++ ") + what + Ms(took));
}

}  // namespace

// ---- TPlayItem ----

TPlayItem::TPlayItem(TOrbMusicPlayer& player) : m_player(player), m_id(player.NextId()) {}

TPlayItem::~TPlayItem() {
    for (auto& channel : m_channels) m_player.RequestRelease(std::move(channel));
}

bool TPlayItem::Ready() const {
    return std::all_of(m_channels.begin(), m_channels.end(), [](const ql::TRef<TOrbChannel>& c) {
        return c->Created.load() || c->Failed.load();
    });
}

void TPlayItem::AddChannel(const std::u16string& name, double offset, double start, double end) {
    auto channel = ql::MakeRef<TOrbChannel>(m_id, name, offset, start, end);
    m_channels.push_back(channel);
    m_player.RequestCreate(channel);
}

void TPlayItem::ChannelReceived(const ql::TRef<TOrbChannel>& channel) {
    if (channel->LoadedEnd >= 0 && channel->LoadedEnd < channel->EndTime)
        channel->EndTime = channel->LoadedEnd;
}

void TPlayItem::StopChannel(TOrbChannel& channel) {
    if (!channel.Playing) return;
    channel.Playing = false;
    if (channel.Output) {
        Log().WriteLine("+++++++++++++++++++ Channel " + LogName(channel.Name) + " Stop Time " +
                        Ms(m_player.DeviceClock()));
        channel.Output->Stop(TOrbMusicPlayer::kChannelFadeMs);
    }
}

void TPlayItem::UpdateChannels(double t, bool mayStart) {
    for (auto& channel : m_channels) {
        if (t < channel->EndTime) {
            if (mayStart && channel->Created.load() && !channel->Playing && !channel->Stopped &&
                t >= channel->StartTime) {
                Log().WriteLine("Start Channel: " + LogName(channel->Name) +
                                "   IntTime: " + Ms(t));
                channel->Playing = true;
                m_player.QueueStart(channel);
            }
            continue;
        }
        if (channel->Playing)
            Log().WriteLine("Stop Channel: " + LogName(channel->Name) + "   IntTime: " + Ms(t));
        StopChannel(*channel);
        channel->Stopped = true;
        Log().WriteLine("Release Channel Time " + Ms(m_player.DeviceClock()));
        m_player.RequestRelease(std::move(channel));
    }
    std::erase(m_channels, nullptr);
}

void TPlayItem::Finish() {
    for (auto& channel : m_channels) {
        StopChannel(*channel);
        channel->Stopped = true;
        m_player.RequestRelease(std::move(channel));
    }
    m_channels.clear();
    m_finished = true;
}

// ---- TPlayComment ----

TPlayComment::TPlayComment(TOrbMusicPlayer& player, const std::u16string& name, double offset,
                           double endTime, double startTime)
    : TPlayItem(player), m_start(startTime), m_end(endTime) {
    AddChannel(name, offset, startTime + offset, endTime);
}

void TPlayComment::Update(bool running, double t) {
    if (m_finished) return;
    if (t >= m_end - kCommentEndMarginMs) {
        Finish();
        return;
    }
    if (running && t >= m_start) {
        for (auto& channel : m_channels)
            if (channel->Created.load() && !channel->Playing && !channel->Stopped)
                m_player.MakeCurrentComment(this);
        UpdateChannels(t, true);
    } else if (!running) {
        for (auto& channel : m_channels) StopChannel(*channel);
    }
}

// ---- TPlaySequence ----

TPlaySequence::TPlaySequence(TOrbMusicPlayer& player, const TPlayList& list, double startTime,
                             double offset, bool synchronised, bool showMusic)
    : TPlayItem(player),
      m_list(list),
      m_start(startTime),
      m_offset(offset),
      m_synchronised(synchronised),
      m_showMusic(showMusic) {}

void TPlaySequence::Preload(double listTime) {
    const int64_t n = m_list.Count();
    const double base = m_start - m_offset;
    if (n > 0 && m_list.Repeats()) {
        // Repetitions that have passed as a whole are skipped, not walked.
        const double passed = std::floor(listTime / m_list.TotalLength());
        if (passed > 0 && passed < double(INT64_MAX / n - 1))
            m_next = std::max(m_next, int64_t(passed) * n);
    }
    for (int32_t made = 0; made < kMaxPreloadsPerUpdate; ++made) {
        if (n == 0 || (!m_list.Repeats() && m_next >= n)) return;
        // A list of very short entries would open a decoder for each.
        if (m_channels.size() >= kMaxChannelsPerSequence) return;
        const TPlayEntry entry = m_list.EntryAt(m_next);
        if (entry.Start >= listTime + TOrbMusicPlayer::kLookAheadMs) return;
        ++m_next;
        if (entry.End() <= listTime) continue;
        Log().WriteLine("Preload " + LogName(entry.Name));
        Log().WriteLine("Preload to time start " + Ms(entry.Start));
        // A channel's start is the show time at which its offset sounds.
        const double offset = std::max(0.0, listTime - entry.Start);
        AddChannel(entry.Name, offset, base + entry.Start + offset, base + entry.End());
    }
}

void TPlaySequence::Update(bool running, double t) {
    if (m_finished) return;
    if (!m_started && running && t >= m_start) {
        m_started = true;
        m_everStarted = true;
        m_clockAtStart = m_player.DeviceClock() - (m_synchronised ? 0 : std::max(0.0, t - m_start));
        Log().WriteLine("Sequence started at abs Time " + Ms(t));
        m_player.MakeCurrentSequence(this);
    }
    if (m_started && m_synchronised && !running) {
        // A synchronised sequence waits for the clock to run again.
        for (auto& channel : m_channels) StopChannel(*channel);
        m_started = false;
    }
    double listTime;
    if (m_synchronised || !m_everStarted)
        listTime = m_offset + std::max(0.0, t - m_start);
    else
        listTime = m_player.DeviceClock() - m_clockAtStart + m_offset;
    Preload(listTime);
    if (m_list.Count() == 0 ||
        (m_everStarted && !m_list.Repeats() && listTime >= m_list.TotalLength())) {
        Finish();
        return;
    }
    UpdateChannels(m_start - m_offset + listTime, m_started);
}

void TPlaySequence::Finish() {
    if (m_finished) return;
    if (m_everStarted)
        Log().WriteLine("Finally sequence stop " + Ms(m_player.DeviceClock() - m_clockAtStart));
    TPlayItem::Finish();
}

// ---- TOrbMusicPlayer ----

TOrbMusicPlayer::TOrbMusicPlayer(TOrbSource& source, TMusicPlayerOptions options)
    : m_options(std::move(options)), m_source(source) {
    Init();
}

TOrbMusicPlayer::TOrbMusicPlayer(std::unique_ptr<TOrbSource> source, TMusicPlayerOptions options)
    : m_options(std::move(options)), m_ownedSource(std::move(source)), m_source(*m_ownedSource) {
    Init();
}

TOrbMusicPlayer::~TOrbMusicPlayer() {
    Close();
}

void TOrbMusicPlayer::Init() {
    m_music = std::make_unique<TOrbMusicSource>(m_source);
    // The decoder libraries a show may carry are not loaded: the built-in
    // decoders play those formats.
    const ql::TIniSection& main = m_source.MainSection();
    for (const char16_t* key : {u"opt_wmapath", u"opt_oggpath"}) {
        const std::u16string path = main.ReadString(key, u"");
        if (!path.empty()) ql::IgnoreDecoderLibrary(ql::ToUtf8(key), path);
    }
    OpenDevice();
    m_loader = std::make_unique<TMusicLoader>(m_device.get(),
                                              m_options.Deterministic ? nullptr : &Events());
    if (m_options.Deterministic)
        m_loader->SetReceiver(
            [this](ql::TRef<TOrbChannel> channel) { ChannelReceived(std::move(channel)); });

    Schedule(0, kLookAheadMs, true);
    m_horizon = kLookAheadMs;
    if (!m_music->SyncMode() && m_music->ShowPlayList().Count() > 0)
        AddSequence(m_music->ShowPlayList(), 0, 0, true);
}

std::unique_ptr<ql::TStream> TOrbMusicPlayer::OpenStream(const std::u16string& name) {
    const std::u16string_view marker(kDiskMarker);
    if (name.starts_with(marker) || !m_options.OpenEntry) {
        const std::u16string file = name.starts_with(marker) ? name.substr(marker.size()) : name;
        // Only plain files: opening a FIFO would hang the loader.
        if (!ql::platform::IsRegularFile(file)) return nullptr;
        try {
            return std::make_unique<ql::TFileStream>(file, ql::TFileAccess::Read, ql::kShareRead,
                                                     ql::TFileDisposition::OpenExisting);
        } catch (const ql::Exception&) {
            return nullptr;
        }
    }
    return m_options.OpenEntry(name);
}

void TOrbMusicPlayer::OpenDevice() {
    // Composite names open the mixer there, which opens its items the same way.
    ql::TPcmSourceFactory factory = ql::DecoderSourceFactory();
    // Every audio source goes through the process-wide broker; it asks this
    // player for the bytes of a name.
    auto open = [this](const std::u16string& name) { return OpenStream(name); };
    ql::TStreamWrapperClass::Instance().SetCallbacks(open, nullptr);
    g_brokerOwner.store(this);
    if (m_options.Deterministic)
        m_device = std::make_unique<ql::TMusicPlayerClass>(
            std::make_unique<ql::TOfflineSoundOutput>(), factory);
    else
        m_device = ql::CreateMusicDevice(m_options.Output, factory);
    if (m_device) {
        m_device->SetStreamOpenCallback(open);
    } else {
        Log().WriteLine("Music plays without sound: no output device");
    }
}

bool TOrbMusicPlayer::StartThreads() {
    if (m_options.Deterministic) return true;
    return StartThread();
}

void TOrbMusicPlayer::StartHook() {
    m_loader->StartThread();
}

void TOrbMusicPlayer::EndHook() {}

void TOrbMusicPlayer::MainLoopStep() {
    Step();
    if (!Terminated()) Events().WaitForMessages(kStepMs);
}

void TOrbMusicPlayer::Close() {
    if (m_closed.exchange(true)) return;
    auto guarded = [](const char* what, auto&& step) {
        try {
            step();
        } catch (const std::exception& e) {
            Log().WriteLine(std::string("Music player close (") + what + "): " + e.what());
        }
    };
    guarded("player", [&] { Stop(); });
    guarded("loader", [&] {
        if (m_loader) m_loader->Stop();
    });
    m_closing = true;
    // Channels the loader handed back but the player never took go now,
    // while the device they belong to still exists.
    guarded("events", [&] { Events().Close(); });
    guarded("items", [&] {
        m_currentSequence = nullptr;
        m_currentComment = nullptr;
        m_starter.clear();
        for (auto& item : m_items) item->Finish();
        m_items.clear();
    });
    guarded("loader events", [&] {
        if (m_loader) m_loader->Events().Close();
        m_loader.reset();
    });
    guarded("device", [&] {
        // The channels' last fades get their 15 ms on a real output.
        if (m_device && !m_options.Deterministic)
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
        m_device.reset();
    });
    // A player opened after this one keeps its callbacks.
    const void* self = this;
    if (g_brokerOwner.compare_exchange_strong(self, nullptr))
        ql::TStreamWrapperClass::Instance().SetCallbacks(nullptr, nullptr);
}

// ---- requests from the engine ----

void TOrbMusicPlayer::Run(bool running) {
    const int32_t request = running ? 1 : 0;
    if (m_lastRequest.exchange(request) == request) return;
    Events().Post(running ? kEventRun : kEventStop);
}

void TOrbMusicPlayer::Seek(double time, double barrier) {
    m_pendingSeeks.fetch_add(1);
    m_ready.store(false);
    if (time >= 0) m_lastRequest.store(-1);
    if (barrier >= 0) m_lastSeekBarrier.store(barrier);
    Events().Post(kEventSeek, std::make_unique<TTimeData>(time, barrier));
}

bool TOrbMusicPlayer::Running() const {
    std::lock_guard<std::mutex> lock(m_clockLock);
    return m_running;
}

double TOrbMusicPlayer::DeviceClock() {
    if (m_device) return m_device->Clock();
    return ql::PreciseTickMs();
}

double TOrbMusicPlayer::Position() {
    const double clock = DeviceClock();
    double position;
    {
        std::lock_guard<std::mutex> lock(m_clockLock);
        position = m_running ? clock - m_timeBase : m_timeBase;
    }
    return std::min(position, m_barrier.load() - 1);
}

float TOrbMusicPlayer::Volume() const {
    return m_device ? m_device->Volume() : 1.0f;
}

void TOrbMusicPlayer::SetVolume(float volume) {
    if (m_device) m_device->SetVolume(volume);
}

size_t TOrbMusicPlayer::Render(int16_t* samples, size_t frames) {
    if (!m_device || !m_options.Deterministic) return 0;
    return m_device->Pull(samples, frames);
}

// ---- the player thread ----

void TOrbMusicPlayer::HandleEvent(ql::TMessageItem& item) {
    item.Handled = true;
    switch (item.Code()) {
        case kEventRun:
            SetRunning(true);
            break;
        case kEventStop:
            SetRunning(false);
            break;
        case kEventSeek:
            if (auto* data = item.PayloadAs<TTimeData>()) HandleSeek(data->Time, data->Barrier);
            m_pendingSeeks.fetch_sub(1);
            break;
        case TMusicLoader::kEventReceived:
            if (auto* container = item.PayloadAs<TChannelContainer>())
                ChannelReceived(std::move(container->Channel));
            break;
        default:
            Log().WriteLine("Unknown EventID " + std::to_string(item.Code()));
            break;
    }
}

void TOrbMusicPlayer::SetRunning(bool running) {
    const double clock = DeviceClock();
    std::lock_guard<std::mutex> lock(m_clockLock);
    if (running == m_running) return;
    if (!running) {
        // The clock stops where it was reported, not beyond the barrier.
        m_timeBase = std::min(clock - m_timeBase, m_barrier.load() - 1);
    } else {
        m_timeBase = clock - m_timeBase;
    }
    m_running = running;
}

void TOrbMusicPlayer::HandleSeek(double time, double barrier) {
    Log().WriteLine("Set Time " + Ms(time));
    if (barrier >= 0) m_barrier.store(std::min(barrier, kInitialBarrier));
    if (!(time >= 0)) return;
    time = ClampTime(time);
    {
        std::lock_guard<std::mutex> lock(m_clockLock);
        m_running = false;
        m_timeBase = time;
    }
    for (auto& item : m_items) {
        // The show's free-running music does not follow the show clock, so a
        // seek leaves it playing.
        auto* sequence = dynamic_cast<TPlaySequence*>(item.get());
        if (sequence && sequence->ShowMusic() && !sequence->Synchronised()) continue;
        item->Finish();
    }
    m_starter.clear();
    Schedule(time, time + kLookAheadMs, true);
    m_horizon = time + kLookAheadMs;
}

void TOrbMusicPlayer::AddSequence(const TPlayList& list, double start, double from,
                                  bool showMusic) {
    // A sequence whose start has passed starts at once, that far into its list.
    double offset = 0;
    if (from > start) {
        offset = from - start;
        start = from;
    }
    m_items.push_back(std::make_unique<TPlaySequence>(*this, list, start, offset,
                                                      m_music->SyncMode(), showMusic));
}

void TOrbMusicPlayer::Schedule(double from, double to, bool first) {
    from = ClampTime(from);
    to = ClampTime(to);
    if (!(from <= to)) return;
    const TOrbMusicSource& music = *m_music;
    const double showLength = m_source.TotalTime();
    const bool repeats = m_source.RepeatMode() == TRepeatMode::Repeat;
    if (music.SyncMode() && music.ShowPlayList().Count() > 0 && showLength > 0) {
        int64_t r0 = int64_t(std::floor(std::max(0.0, from) / showLength)) + (first ? 0 : 1);
        int64_t r1 = int64_t(std::floor(std::max(0.0, to) / showLength));
        if (!repeats) r1 = std::min<int64_t>(r1, 0);
        r1 = std::min(r1, r0 + kMaxRepetitionsPerSchedule);
        for (int64_t r = r0; r <= r1; ++r) {
            const double start = double(r) * showLength;
            if (start + showLength <= from) continue;
            AddSequence(music.ShowPlayList(), start, from, true);
        }
    }
    const int64_t count = m_source.SlideCount();
    if (count <= 0 || music.Slides().empty()) return;
    const int64_t atFrom = m_source.SlideAtTime(from).Index;
    int64_t atTo = m_source.SlideAtTime(to).Index;
    if (!repeats) atTo = std::min(atTo, count - 1);
    int64_t i = first ? std::max<int64_t>(0, atFrom - count) : atFrom + 1;
    i = std::max<int64_t>(i, 0);
    atTo = std::min(atTo, i + kMaxSlidesPerSchedule);
    for (; i <= atTo; ++i) {
        const TSlideAtIndex at = m_source.SlideInfo(i);
        const TSlideMusicInfo& slide = music.Slides()[size_t(i % count)];
        const double begin = at.Info.BeginTime;
        if (!slide.Comment.empty()) {
            const double end = begin + slide.CommentLength;
            if (end - std::max(from, begin) > 0) {
                Log().WriteLine("New Comment begin " + LogName(slide.Comment));
                m_items.push_back(std::make_unique<TPlayComment>(
                    *this, slide.Comment, std::max(0.0, from - begin), end, begin));
            }
        }
        if (i >= atFrom && slide.Personal)
            AddSequence(*slide.Personal, begin, first ? from : begin, false);
    }
}

void TOrbMusicPlayer::Step() {
    double tick = ql::PreciseTickMs();
    Events().Process();
    const double position = Position();
    const bool running = Running();
    if (running && position + kLookAheadMs > m_horizon) {
        Schedule(m_horizon, position + kLookAheadMs, false);
        m_horizon = position + kLookAheadMs;
    }
    LogIfSlow("Main Synch Time ", tick);
    tick = ql::PreciseTickMs();
    for (size_t i = 0; i < m_items.size(); ++i) m_items[i]->Update(running, position);
    StartQueued();
    LogIfSlow("Total Synch Time ", tick);
    tick = ql::PreciseTickMs();
    FreeFinished();
    LogIfSlow("Total Free and Pack Time ", tick);
    const bool allReady =
        std::all_of(m_items.begin(), m_items.end(), [](const auto& item) { return item->Ready(); });
    // A seek posted meanwhile cleared the flag; it stays clear until handled.
    if (m_pendingSeeks.load() == 0) m_ready.store(running || allReady);
}

void TOrbMusicPlayer::StartQueued() {
    for (auto& channel : m_starter) {
        if (!channel->Playing || channel->Stopped || !channel->Output) continue;
        channel->Output->Start(kChannelFadeMs);
        Log().WriteLine("+++++++++++++++++++ Play Channel " + LogName(channel->Name) + " Time " +
                        Ms(DeviceClock()));
    }
    m_starter.clear();
}

void TOrbMusicPlayer::FreeFinished() {
    for (auto& item : m_items) {
        if (!item->Finished()) continue;
        if (item.get() == m_currentSequence) {
            Log().WriteLine("Clear CurSequence");
            m_currentSequence = nullptr;
        }
        if (item.get() == m_currentComment) {
            Log().WriteLine("Clear CurComment !!!!!!!!!!!");
            m_currentComment = nullptr;
        } else if (dynamic_cast<TPlayComment*>(item.get())) {
            Log().WriteLine("Dispose noncurrent channel !!!!!!!!!!!");
        } else {
            Log().WriteLine("TPlaySequence.Disposed");
        }
        item.reset();
    }
    std::erase(m_items, nullptr);
}

int32_t TOrbMusicPlayer::NextId() {
    if (m_idCounter < 0 || m_idCounter == INT32_MAX) m_idCounter = 0;
    return m_idCounter++;
}

void TOrbMusicPlayer::RequestCreate(const ql::TRef<TOrbChannel>& channel) {
    if (m_options.Deterministic) {
        m_loader->Handle(TMusicLoader::kEventCreate, channel);
        return;
    }
    m_loader->Events().Post(TMusicLoader::kEventCreate,
                            std::make_unique<TChannelContainer>(channel));
}

void TOrbMusicPlayer::RequestRelease(ql::TRef<TOrbChannel> channel) {
    if (!channel) return;
    // Closing, or without a loader thread, the channel goes here.
    if (m_options.Deterministic || m_closing || !m_loader) return;
    m_loader->Events().Post(TMusicLoader::kEventRelease,
                            std::make_unique<TChannelContainer>(std::move(channel)));
}

void TOrbMusicPlayer::QueueStart(const ql::TRef<TOrbChannel>& channel) {
    m_starter.push_back(channel);
}

void TOrbMusicPlayer::MakeCurrentSequence(TPlaySequence* sequence) {
    if (m_currentSequence == sequence) return;
    if (m_currentSequence && !m_currentSequence->Finished()) m_currentSequence->Finish();
    m_currentSequence = sequence;
}

void TOrbMusicPlayer::MakeCurrentComment(TPlayComment* comment) {
    m_currentComment = comment;
}

void TOrbMusicPlayer::ChannelReceived(ql::TRef<TOrbChannel> channel) {
    Log().WriteLine("Receive Channel: " + LogName(channel->Name));
    for (auto& item : m_items) {
        if (item->Id() != channel->ItemId || item->Finished()) continue;
        item->ChannelReceived(channel);
        return;
    }
    RequestRelease(std::move(channel));
}

}  // namespace orb
