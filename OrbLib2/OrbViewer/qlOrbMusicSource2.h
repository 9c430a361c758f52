// The music of a show as play lists: the show-wide music, every slide's sound
// comment and personal music, read from the project document and compiled into
// composite descriptions where the show describes music as tracks of items.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbSlideInfo.h"
#include "OrbLib2/OrbViewer/qlOrbCompositeParams.h"
#include "QlLib/SysObj.h"

namespace ql {
class TIniIdentList;
class TIniObject;
class TIniStorage;
}  // namespace ql

namespace orb {

class TOrbSource;

// Counts read from a show are refused beyond these.
inline constexpr int32_t kMaxPlayListEntries = 10000;
inline constexpr int32_t kMaxMusicObjectChildren = 4096;
inline constexpr int32_t kMaxVolumeCurvePairs = 65536;

// Names of files read from the disk rather than from the show package start
// with this; no entry name can, since "<" is not allowed in file names.
inline constexpr char16_t kDiskMarker[] = u"<disk>";

struct TPlayEntry {
    std::u16string Name;  // a file name or a composite text
    double Start = 0;     // on the list's own time line, ms
    double Length = 0;    // ms
    double End() const { return Start + Length; }
};

class TPlayList : public ql::TObj {
public:
    // Appends at the current total length.
    void Add(const std::u16string& name, double length);
    int32_t Count() const { return int32_t(m_entries.size()); }
    const TPlayEntry& operator[](int32_t index) const { return m_entries[size_t(index)]; }
    // The largest start + length.
    double TotalLength() const { return m_total; }
    bool Repeat = false;
    // A list of total length 0 never repeats: it would loop in place forever.
    bool Repeats() const { return Repeat && m_total > 0; }
    // Entry k (k ≥ Count allowed when the list repeats): entry k mod n moved
    // by (k div n) × the total length.
    TPlayEntry EntryAt(int64_t k) const;
    // Seven consecutive shuffled permutations of the entries when the list
    // repeats, otherwise one.
    std::unique_ptr<TPlayList> ShuffledCopy() const;
    size_t Capacity() const { return m_entries.capacity(); }

private:
    std::vector<TPlayEntry> m_entries;  // grows 0 → 1 → 8 → doubling
    double m_total = 0;
};

struct TSlideMusicInfo {
    TSlideInfo Timing;
    int32_t NextSlide = 0;     // the index of the next slide, 0 for the last
    std::u16string Comment;    // a file name or composite text; empty: none
    double CommentLength = 0;  // ms
    std::unique_ptr<TPlayList> Personal;
};

// A compiled music object.
struct TCompiledMusic {
    std::u16string Text;  // the composite text; empty when nothing sounds
    double Duration = 0;
    bool Repeat = false;
    bool HasComment = false;
};

// Compiles music objects into composites.
class TMusicOptionsReader {
public:
    TMusicOptionsReader(const ql::TIniStorage& document, bool randomDisabled);

    // The tracks and items of a music object (a show's or a slide's personal music).
    TCompiledMusic CompileMusic(const ql::TIniIdentList& music);
    // The sound comment of a slide's music object (may be null), cut to
    // window, and the sound of the slide's video objects, cut to videoWindow
    // (the slide and the transition after it); a window < 0: no limit.
    TCompiledMusic CompileComment(const ql::TIniIdentList* music, const ql::TIniIdentList& slide,
                                  int64_t slideIndex, double window, double videoWindow = -1);

    // The sort key of slot k mod 256, drawn the first time the slot is used.
    int32_t RandomKey(int64_t k);

private:
    void AddItem(TCompositeParams& composite, const ql::TIniIdentList& item,
                 const ql::TIniIdentList* next, bool firstOfTrack, int64_t& position);
    void AddVideoSounds(TCompositeParams& composite, const ql::TIniIdentList& slide,
                        int64_t slideIndex, double window);
    const ql::TIniIdentList* FindClip(const std::u16string& guid) const;

    const ql::TIniStorage& m_document;
    bool m_randomDisabled;
    std::vector<int32_t> m_keys;  // 256 slots, 0 = not drawn yet
    std::vector<std::u16string> m_clipsTaken;
};

// Reads a volume curve "frame:level,frame:level"; nothing when a number is
// not an integer or there are too many pairs. Points are (ms - startTime,
// per-mille).
std::optional<std::vector<TVolumeItem>> ParseVolumeCurve(const std::u16string& text,
                                                         int32_t startTime);

class TOrbMusicSource : public ql::TObj {
public:
    explicit TOrbMusicSource(TOrbSource& source);

    TOrbSource& Source() const { return m_source; }
    const ql::TIniStorage& Document() const;
    const std::vector<TSlideMusicInfo>& Slides() const { return m_slides; }
    const TPlayList& ShowPlayList() const { return *m_playList; }

    bool MusicUsed() const { return m_musicUsed; }
    bool SyncMode() const { return m_syncMode; }
    bool Repeat() const { return m_repeat; }
    bool Random() const { return m_random; }
    bool CommentsLimited() const { return m_commentsLimited; }
    bool RandomDisabled() const { return m_randomDisabled; }

private:
    void ReadObjectForm(const ql::TIniObject& music);
    void ReadPlainForm();
    void ReadSlides(bool objectForm);
    void ReadPersonalPlain(const ql::TIniIdentList& slide, TSlideMusicInfo& info);

    TOrbSource& m_source;
    std::unique_ptr<TMusicOptionsReader> m_reader;
    std::vector<TSlideMusicInfo> m_slides;
    std::unique_ptr<TPlayList> m_playList;
    bool m_musicUsed = false;
    bool m_syncMode = false;
    bool m_repeat = false;
    bool m_random = false;
    bool m_commentsLimited = true;
    bool m_randomDisabled = false;
};

// The first object of a class (compared in lower case) among the direct items.
const ql::TIniObject* FindObjectOfClass(const ql::TIniIdentList& list,
                                        std::u16string_view lowerClass);

}  // namespace orb
