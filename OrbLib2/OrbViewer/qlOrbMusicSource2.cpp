#include "OrbLib2/OrbViewer/qlOrbMusicSource2.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr int32_t kRandomSlots = 256;
constexpr int32_t kMaxRandomKey = 16776960;
constexpr int32_t kShuffleRounds = 7;
constexpr int32_t kMaxVideoDepth = 64;

std::u16string Lower(std::u16string_view text) {
    return ql::LowerCase(text);
}

std::u16string Num(int64_t value) {
    return ql::FromUtf8(std::to_string(value));
}

void LogSkipped(const std::string& what, const std::u16string& where) {
    ql::GlobalLog().WriteLine("Music settings skipped (" + what + "): " + ql::ToUtf8(where));
}

// A comment file name; "error" in any case means none.
std::u16string CommentFileName(const ql::TIniIdentList& comment) {
    std::u16string name = comment.ReadString(u"FileName", u"");
    if (Lower(name) == u"error") name.clear();
    return name;
}

bool HasNamedComment(const ql::TIniIdentList* music) {
    if (!music) return false;
    const ql::TIniObject* comment = FindObjectOfClass(*music, u"tsoundcomment");
    return comment && !CommentFileName(*comment).empty();
}

// Level envelope of fades and volume over an item of the given duration.
void AddLevelEnvelope(TCompositeItem& item, int32_t duration, int32_t fadeIn, int32_t fadeOut,
                      int32_t volume) {
    TVolumeParams envelope;
    if (fadeIn > 0) {
        envelope.AddPoint(0, 0);
        envelope.AddPoint(fadeIn, volume);
    }
    if (fadeOut > 0) {
        envelope.AddPoint(duration - fadeOut, volume);
        envelope.AddPoint(duration, 0);
    }
    if (volume != 1000 && envelope.Points.empty()) {
        envelope.AddPoint(0, volume);
        envelope.AddPoint(duration, volume);
    }
    if (!envelope.Points.empty()) item.Volumes.Envelopes.push_back(std::move(envelope));
}

int32_t ClampToInt(int64_t value) {
    return int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

const ql::TIniObject* FindObjectOfClass(const ql::TIniIdentList& list,
                                        std::u16string_view lowerClass) {
    int32_t seen = 0;
    for (const ql::TIniObject* object = list.FirstObject();
         object && seen < kMaxMusicObjectChildren;
         object = ql::TIniIdentList::NextObject(*object), ++seen)
        if (Lower(object->ObjectClass()) == lowerClass) return object;
    return nullptr;
}

// ---- TPlayList ----

void TPlayList::Add(const std::u16string& name, double length) {
    if (m_entries.size() == m_entries.capacity()) {
        const size_t capacity = m_entries.capacity();
        m_entries.reserve(capacity == 0 ? 1 : capacity == 1 ? 8 : capacity * 2);
    }
    if (!(length >= 0)) length = 0;
    m_entries.push_back({name, m_total, length});
    m_total = std::max(m_total, m_entries.back().End());
}

TPlayEntry TPlayList::EntryAt(int64_t k) const {
    const int64_t n = Count();
    if (n == 0 || k < 0) return {};
    TPlayEntry entry = m_entries[size_t(k % n)];
    entry.Start += double(k / n) * m_total;
    return entry;
}

std::unique_ptr<TPlayList> TPlayList::ShuffledCopy() const {
    auto copy = std::make_unique<TPlayList>();
    copy->Repeat = Repeat;
    const int32_t rounds = Repeat ? kShuffleRounds : 1;
    ReseedRandomFromClock();
    for (int32_t round = 0; round < rounds; ++round) {
        std::vector<int32_t> order(m_entries.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = int32_t(i);
        for (size_t i = order.size(); i > 1; --i)
            std::swap(order[i - 1], order[size_t(ShowRandom(int32_t(i)))]);
        for (int32_t index : order)
            copy->Add(m_entries[size_t(index)].Name, m_entries[size_t(index)].Length);
    }
    return copy;
}

// ---- volume curves ----

std::optional<std::vector<TVolumeItem>> ParseVolumeCurve(const std::u16string& text,
                                                         int32_t startTime) {
    std::vector<TVolumeItem> points;
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(u',', start);
        if (comma == std::u16string::npos) comma = text.size();
        const std::u16string_view pair(text.data() + start, comma - start);
        start = comma + 1;
        if (pair.empty()) continue;
        const size_t colon = pair.find(u':');
        if (colon == std::u16string_view::npos) return std::nullopt;
        const auto frame = ql::TryStrToInt64(pair.substr(0, colon));
        const auto level = ql::TryStrToInt64(pair.substr(colon + 1));
        if (!frame || !level) return std::nullopt;
        if (int32_t(points.size()) >= kMaxVolumeCurvePairs) return std::nullopt;
        const int64_t time = std::llround(double(*frame) / 44100.0 * 1000.0) - startTime;
        const int64_t volume = std::llround(double(*level) / 65536.0 * 1000.0);
        points.push_back({ClampToInt(time), ClampToInt(volume)});
    }
    return points;
}

// ---- TMusicOptionsReader ----

TMusicOptionsReader::TMusicOptionsReader(const ql::TIniStorage& document, bool randomDisabled)
    : m_document(document), m_randomDisabled(randomDisabled), m_keys(kRandomSlots, 0) {
    ReseedRandomFromClock();
}

int32_t TMusicOptionsReader::RandomKey(int64_t k) {
    int32_t& key = m_keys[size_t(((k % kRandomSlots) + kRandomSlots) % kRandomSlots)];
    if (key == 0) key = 1 + ShowRandom(kMaxRandomKey);
    return key;
}

void TMusicOptionsReader::AddItem(TCompositeParams& composite, const ql::TIniIdentList& item,
                                  const ql::TIniIdentList* next, bool firstOfTrack,
                                  int64_t& position) {
    const std::u16string fileName = item.ReadString(u"FileName", u"");
    const int32_t startTime = item.ReadInteger(u"StartTime", 0);
    const int32_t duration = item.ReadInteger(u"Duration", 0);
    const int32_t crossMode = item.ReadInteger(u"CrossMode", 0);
    const int32_t cross = item.ReadInteger(u"Cross", 0);
    const int32_t pause = item.ReadInteger(u"Pause", 0);
    const int32_t fadeIn = item.ReadInteger(u"FadeIn", 0);
    const int32_t fadeOut = item.ReadInteger(u"FadeOut", 0);
    const int64_t volume = int64_t(item.ReadInteger(u"Volume", 100)) * 10;
    if (fileName.empty()) {
        LogSkipped("unknown name", u"music item");
        return;
    }
    if (duration < 0 || startTime < 0) {
        LogSkipped("incorrect time", fileName);
        return;
    }
    std::optional<std::vector<TVolumeItem>> curve;
    if (const ql::TIniIdent* params = item.FindIdent(u"VolumeParams")) {
        curve = ParseVolumeCurve(params->Value(), startTime);
        if (!curve) {
            LogSkipped("volume curve", fileName);
            return;
        }
    }

    if (crossMode == 1 && pause > 0) position += pause;
    int64_t place = position;
    TCompositeItem entry;
    entry.FileName = fileName;
    entry.BeginTime = startTime;
    entry.Duration = duration;
    AddLevelEnvelope(entry, duration, fadeIn, fadeOut, ClampToInt(volume));

    TVolumeParams crossEnvelope;
    if (crossMode == 0 && cross > 0) {
        crossEnvelope.AddPoint(0, 0);
        crossEnvelope.AddPoint(cross, 1000);
        if (!firstOfTrack) place = std::max<int64_t>(0, place - cross);
    }
    if (next && next->ReadInteger(u"CrossMode", 0) == 0) {
        const int32_t nextCross = next->ReadInteger(u"Cross", 0);
        if (nextCross > 0) {
            crossEnvelope.AddPoint(duration - nextCross, 1000);
            crossEnvelope.AddPoint(duration, 0);
        }
    }
    if (!crossEnvelope.Points.empty()) entry.Volumes.Envelopes.push_back(std::move(crossEnvelope));
    if (curve && !curve->empty())
        entry.Volumes.Envelopes.push_back(TVolumeParams(std::move(*curve)));

    entry.TimeLine = ClampToInt(place);
    position = place + duration;
    if (volume == 0) return;  // silent items are left out, their time stays
    if (int32_t(composite.Items.size()) >= kMaxCompositeItems) return;
    composite.Items.push_back(std::move(entry));
}

TCompiledMusic TMusicOptionsReader::CompileMusic(const ql::TIniIdentList& music) {
    TCompiledMusic result;
    // Walk the tree into one list: a track marks the start of a parallel time
    // line, the items after it up to the next track are its own.
    struct TEntry {
        const ql::TIniObject* Object;
        bool Track;
        int32_t SortKey;
    };
    std::vector<TEntry> entries;
    int64_t asked = 0;
    std::function<void(const ql::TIniIdentList&, int32_t)> walk = [&](const ql::TIniIdentList& list,
                                                                      int32_t depth) {
        int32_t seen = 0;
        for (const ql::TIniObject* child = list.FirstObject(); child;
             child = ql::TIniIdentList::NextObject(*child)) {
            if (++seen > kMaxMusicObjectChildren || int32_t(entries.size()) >= kMaxCompositeItems)
                return;
            const std::u16string kind = Lower(child->ObjectClass());
            if (kind == u"tmusictrack") {
                if (child->ReadString(u"IsMute", u"") == u"1") continue;
                entries.push_back({child, true, 0});
                if (depth < kMaxVideoDepth) walk(*child, depth + 1);
            } else if (kind == u"tmusicitem") {
                entries.push_back({child, false, 0});
            } else if (kind == u"tmusicoptions") {
                result.Repeat = child->ReadInteger(u"IsRepeat", 0) > 0;
            }
        }
    };
    walk(music, 0);

    // Random order of the items of a random track.
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].Track || m_randomDisabled ||
            entries[i].Object->ReadInteger(u"IsRandom", 0) <= 0)
            continue;
        size_t end = i + 1;
        while (end < entries.size() && !entries[end].Track) ++end;
        for (size_t j = i + 1; j < end; ++j) entries[j].SortKey = RandomKey(asked++);
        std::stable_sort(entries.begin() + std::ptrdiff_t(i + 1),
                         entries.begin() + std::ptrdiff_t(end),
                         [](const TEntry& a, const TEntry& b) { return a.SortKey < b.SortKey; });
    }

    TCompositeParams composite;
    int64_t position = 0, longest = 0;
    bool firstOfTrack = true;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Track) {
            position = 0;
            firstOfTrack = true;
            continue;
        }
        const ql::TIniIdentList* next =
            i + 1 < entries.size() && !entries[i + 1].Track ? entries[i + 1].Object : nullptr;
        AddItem(composite, *entries[i].Object, next, firstOfTrack, position);
        firstOfTrack = false;
        longest = std::max(longest, position);
    }
    composite.Duration = ClampToInt(longest);
    result.Duration = double(composite.Duration);
    if (!composite.Items.empty() && composite.Duration > 0) result.Text = composite.WriteText();
    return result;
}

const ql::TIniIdentList* TMusicOptionsReader::FindClip(const std::u16string& guid) const {
    if (guid.empty()) return nullptr;
    const ql::TIniSection* main = m_document.FindSection(kMainSection);
    if (!main) return nullptr;
    int32_t seen = 0;
    for (const ql::TIniObject* object = main->FirstObject();
         object && ++seen <= kMaxMusicObjectChildren;
         object = ql::TIniIdentList::NextObject(*object)) {
        if (object->ObjectClass() != u"VideoBoss") continue;
        int32_t clips = 0;
        for (const ql::TIniObject* clip = object->FirstObject();
             clip && ++clips <= kMaxMusicObjectChildren;
             clip = ql::TIniIdentList::NextObject(*clip))
            if (Lower(clip->ObjectClass()) == u"videoclip" &&
                clip->ReadString(u"ClipGUID", u"") == guid)
                return clip;
    }
    return nullptr;
}

void TMusicOptionsReader::AddVideoSounds(TCompositeParams& composite,
                                         const ql::TIniIdentList& slide, int64_t slideIndex,
                                         double window) {
    std::vector<std::u16string> takenHere;
    int32_t visited = 0;
    std::function<void(const ql::TIniIdentList&, int32_t)> walk = [&](const ql::TIniIdentList& list,
                                                                      int32_t depth) {
        for (const ql::TIniObject* object = list.FirstObject(); object;
             object = ql::TIniIdentList::NextObject(*object)) {
            if (++visited > kMaxMusicObjectChildren ||
                int32_t(composite.Items.size()) >= kMaxCompositeItems)
                return;
            const std::u16string kind = Lower(object->ObjectClass());
            if (kind == u"keypoint") continue;
            if (depth < kMaxVideoDepth) walk(*object, depth + 1);
            if (kind != u"video" && kind != u"mainvideo") continue;
            const std::u16string guid = object->ReadString(u"ClipGUID", u"");
            const ql::TIniIdentList* clip = FindClip(guid);
            const ql::TIniIdentList& keys = clip ? *clip : *object;
            if (keys.ReadBool(u"Mute", false)) continue;
            std::u16string fileName = keys.ReadString(u"FileName", u"");
            if (fileName.empty()) continue;
            double duration = keys.ReadReal(u"Duration", 0);
            const double startVideo = keys.ReadReal(u"StartVideoTime", 0);
            const double startOrb = keys.ReadReal(u"StartORBTime", 0);
            if (clip) {
                // A clip sounds once, from the first slide that shows it, and
                // plays on across the slides after it.
                if (std::find(m_clipsTaken.begin(), m_clipsTaken.end(), guid) != m_clipsTaken.end())
                    continue;
                m_clipsTaken.push_back(guid);
                takenHere.push_back(guid);
            } else if (window >= 0) {
                duration = std::min(duration, window - startOrb);
            }
            if (!(duration > 0) || !(startOrb >= 0) || !(startVideo >= 0)) continue;
            if (keys.ReadBool(u"LoadFromDisk", false)) fileName = kDiskMarker + fileName;
            TCompositeItem& item = composite.AddItem(fileName, ClampToInt(std::llround(startOrb)));
            item.BeginTime = ClampToInt(std::llround(startVideo));
            item.Duration = ClampToInt(std::llround(duration));
        }
    };
    (void)slideIndex;
    walk(slide, 0);
}

TCompiledMusic TMusicOptionsReader::CompileComment(const ql::TIniIdentList* music,
                                                   const ql::TIniIdentList& slide,
                                                   int64_t slideIndex, double window,
                                                   double videoWindow) {
    TCompiledMusic result;
    TCompositeParams composite;
    const ql::TIniObject* comment = music ? FindObjectOfClass(*music, u"tsoundcomment") : nullptr;
    if (comment) {
        const std::u16string fileName = CommentFileName(*comment);
        const int32_t startTime = comment->ReadInteger(u"StartTime", 0);
        const int32_t duration = comment->ReadInteger(u"Duration", 0);
        const int32_t pause = std::max(0, comment->ReadInteger(u"Pause", 0));
        const int32_t fadeIn = comment->ReadInteger(u"FadeIn", 0);
        const int32_t fadeOut = comment->ReadInteger(u"FadeOut", 0);
        const int64_t volume = int64_t(comment->ReadInteger(u"Volume", 100)) * 10;
        int64_t length = int64_t(duration) + pause;
        if (window >= 0 && double(length) > window) length = int64_t(std::floor(window));
        std::optional<std::vector<TVolumeItem>> curve;
        if (const ql::TIniIdent* params = comment->FindIdent(u"VolumeParams"))
            curve = ParseVolumeCurve(params->Value(), startTime);
        if (fileName.empty()) {
            // No comment of its own: only the video sounds.
        } else if (duration < 0 || startTime < 0 || length < 0) {
            LogSkipped("incorrect time", fileName);
        } else if (comment->FindIdent(u"VolumeParams") && !curve) {
            LogSkipped("volume curve", fileName);
        } else if (length > pause && volume != 0) {
            result.HasComment = true;
            TCompositeItem& item = composite.AddItem(fileName, pause);
            item.BeginTime = startTime;
            item.Duration = ClampToInt(length - pause);
            AddLevelEnvelope(item, item.Duration, fadeIn, fadeOut, ClampToInt(volume));
            if (curve && !curve->empty())
                item.Volumes.Envelopes.push_back(TVolumeParams(std::move(*curve)));
        }
    }
    AddVideoSounds(composite, slide, slideIndex, videoWindow);
    int64_t longest = 0;
    for (const TCompositeItem& item : composite.Items)
        longest = std::max<int64_t>(longest, int64_t(item.TimeLine) + item.Duration);
    composite.Duration = ClampToInt(longest);
    result.Duration = double(composite.Duration);
    if (!composite.Items.empty() && composite.Duration > 0) result.Text = composite.WriteText();
    return result;
}

// ---- TOrbMusicSource ----

TOrbMusicSource::TOrbMusicSource(TOrbSource& source)
    : m_source(source), m_playList(std::make_unique<TPlayList>()) {
    const ql::TIniSection& main = source.MainSection();
    const ql::TIniObject* music = FindObjectOfClass(main, u"music");
    if (music) {
        m_randomDisabled = source.Options().DisableMusicRandom;
        m_reader = std::make_unique<TMusicOptionsReader>(source.Document(), m_randomDisabled);
        ReadObjectForm(*music);
    } else {
        m_reader = std::make_unique<TMusicOptionsReader>(source.Document(), false);
        ReadPlainForm();
    }
    m_playList->Repeat = m_repeat;
}

const ql::TIniStorage& TOrbMusicSource::Document() const {
    return m_source.Document();
}

void TOrbMusicSource::ReadObjectForm(const ql::TIniObject& music) {
    const TOrbShowOptions& options = m_source.Options();
    m_musicUsed = true;
    const TCompiledMusic compiled = m_reader->CompileMusic(music);
    if (compiled.Duration > 0 && !compiled.Text.empty())
        m_playList->Add(compiled.Text, compiled.Duration);
    m_repeat = compiled.Repeat;
    m_syncMode = options.SyncMode;
    m_commentsLimited = !options.FullyPlaySound;
    ReadSlides(true);
}

void TOrbMusicSource::ReadPlainForm() {
    const ql::TIniSection& main = m_source.MainSection();
    const TOrbShowOptions& options = m_source.Options();
    m_musicUsed = options.UseMusic;
    m_syncMode = options.SyncMode;
    m_repeat = options.RepeatMusic;
    m_random = options.RandomMusic;
    m_commentsLimited = !options.FullyPlaySound;
    ReadSlides(false);
    const int32_t count = main.ReadInteger(u"opt_music_count", 0);
    if (count > kMaxPlayListEntries) LogSkipped("too many entries", u"opt_music_count");
    for (int32_t n = 1; n <= std::min(count, kMaxPlayListEntries); ++n) {
        const std::u16string name = main.ReadString(u"opt_music" + Num(n), u"");
        const int32_t length = main.ReadInteger(u"opt_lengthlist" + Num(n), 0);
        if (name.empty()) {
            LogSkipped("unknown name", u"opt_music" + Num(n));
            continue;
        }
        if (length < 0) {
            LogSkipped("incorrect time", name);
            continue;
        }
        m_playList->Add(name, length);
    }
    if (m_random && m_playList->Count() > 1) {
        m_playList->Repeat = m_repeat;
        m_playList = m_playList->ShuffledCopy();
    }
}

void TOrbMusicSource::ReadPersonalPlain(const ql::TIniIdentList& slide, TSlideMusicInfo& info) {
    auto list = std::make_unique<TPlayList>();
    const int32_t count = slide.ReadInteger(u"MusicCount", 0);
    for (int32_t n = 1; n <= std::min(count, kMaxPlayListEntries); ++n) {
        const std::u16string name = slide.ReadString(u"SubMusic" + Num(n), u"");
        const int32_t length = slide.ReadInteger(u"SubMusicLength" + Num(n), 0);
        if (name.empty()) {
            LogSkipped("unknown name", u"SubMusic" + Num(n));
            continue;
        }
        if (length < 0) {
            LogSkipped("incorrect time", name);
            continue;
        }
        list->Add(name, length);
    }
    list->Repeat = m_repeat;
    if (list->Count() > 0) info.Personal = std::move(list);
}

void TOrbMusicSource::ReadSlides(bool objectForm) {
    const int32_t count = m_source.SlideCount();
    const ql::TIniStorage& document = m_source.Document();
    std::vector<const ql::TIniSection*> sections(size_t(std::max(count, 0)), nullptr);
    std::vector<bool> named(sections.size(), false);
    for (int32_t i = 0; i < count; ++i) {
        sections[size_t(i)] = SlideSection(document, i);
        if (sections[size_t(i)] && objectForm)
            named[size_t(i)] = HasNamedComment(FindObjectOfClass(*sections[size_t(i)], u"music"));
    }
    m_slides.resize(sections.size());
    for (int32_t i = 0; i < count; ++i) {
        TSlideMusicInfo& info = m_slides[size_t(i)];
        info.Timing = m_source.Slides()[size_t(i)];
        info.NextSlide = i + 1 < count ? i + 1 : 0;
        const ql::TIniSection* slide = sections[size_t(i)];
        if (!slide) {
            LogSkipped("Slide not Found", u"slide" + Num(i + 1));
            continue;
        }
        const double own = info.Timing.EndTime - info.Timing.BeginTime;
        if (objectForm) {
            const ql::TIniObject* music = FindObjectOfClass(*slide, u"music");
            double window = -1;
            if (m_commentsLimited) {
                window = own;
            } else {
                for (int32_t j = i + 1; j < count; ++j)
                    if (named[size_t(j)]) {
                        window = m_source.Slides()[size_t(j)].BeginTime - info.Timing.BeginTime;
                        break;
                    }
            }
            // A video sounds on while the next slide's transition still shows
            // it, whatever the comment option says.
            const double videoWindow = own + std::max(0.0, info.Timing.NextEffectTime);
            const TCompiledMusic comment =
                m_reader->CompileComment(music, *slide, i, window, videoWindow);
            if (comment.Duration > 0 && !comment.Text.empty()) {
                info.Comment = comment.Text;
                info.CommentLength = comment.Duration;
            }
            if (!m_syncMode && music && slide->ReadString(u"UsePersonal", u"") == u"1" &&
                slide->ReadString(u"MusicAction", u"") == u"2") {
                const TCompiledMusic personal = m_reader->CompileMusic(*music);
                if (personal.Duration > 0 && !personal.Text.empty()) {
                    info.Personal = std::make_unique<TPlayList>();
                    info.Personal->Add(personal.Text, personal.Duration);
                    info.Personal->Repeat = personal.Repeat;
                }
            }
        } else {
            const std::u16string sound = slide->ReadString(u"Sound", u"");
            if (!sound.empty() && sound != u"@") {
                double length = slide->ReadInteger(u"SoundLength", -1);
                if (length < 0) {
                    LogSkipped("Incorrect music time", sound);
                } else {
                    if (m_commentsLimited) length = std::min(length, own);
                    if (length > 0) {
                        info.Comment = sound;
                        info.CommentLength = length;
                    }
                }
            }
            if (!m_syncMode && slide->ReadString(u"UsePersonal", u"") == u"1" &&
                slide->ReadString(u"MusicAction", u"") == u"2")
                ReadPersonalPlain(*slide, info);
        }
    }
}

}  // namespace orb
