// The show-level view of a project document: the show options of [Main], the
// slide list on the show clock, the transition chosen for each slide, the
// random slide order and the places where playback stops by itself.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "OrbLib2/3DEngine/qlOrbEffectParams.h"
#include "OrbLib2/OrbClasses/qlOrbShowOptions.h"
#include "OrbLib2/OrbClasses/qlOrbSlideInfo.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpExceptions.h"

namespace ql {
class TIniStorage;
class TIniSection;
class TIniIdentList;
}  // namespace ql

namespace orb {

// A show whose options cannot be played: the message says why.
QL_COMMON_EXCEPTION(EOrbSourceError, ql::TCommonException);

inline constexpr char kIncorrectTimeText[] = "Incorrect time";

// Shows are untrusted: counts read from them are refused beyond these
// (kMaxSlideCount beside the show options).
inline constexpr int32_t kMaxCustomEffectCount = 10000;
// Times beyond this many repetitions of a show stay in the last of them.
inline constexpr int64_t kMaxShowCycle = 2147483647;

// The effect type a character of a group text names: "1".."8" are 1..8,
// "A".."H" and "a".."h" are 9..16, anything else is 1.
int32_t EffectTypeOfChar(char16_t c);

// One "opt_fx_eff" group: the effect types that its text lists.
class TEffGroup {
public:
    explicit TEffGroup(std::u16string text);
    // Bit k-1 for type k.
    uint32_t Mask() const { return m_mask; }
    int32_t CharCount() const { return int32_t(m_text.size()); }
    const std::u16string& Text() const { return m_text; }

private:
    uint32_t m_mask = 0;
    std::u16string m_text;
};

using TSlideInfoList = std::vector<TSlideInfo>;

// A slide record in some cycle of the show.
struct TSlideAtIndex {
    TSlideInfo Info;
    int64_t Cycle = 0;  // -1 for the records before the show
};

// The slide that covers a show time; index -1 (cycle -1) before the first slide.
struct TSlideAtTime {
    int64_t Index = -1;
    int64_t Cycle = -1;
};

struct TSlideEndAction {
    bool Stops = false;     // "pause" or "loop"
    bool Loops = false;     // "loop"
    double LoopLength = 0;  // for "loop": the slide's time after its transition
};

struct TSlideRunApp {
    bool Runs = false;
    std::u16string FileName;
};

// The next place where playback stops by itself.
struct TStopPoint {
    static constexpr int64_t kNoSlide = 2147483646;
    static constexpr double kNoTime = 3.4e38;
    int64_t SlideIndex = kNoSlide;
    double Time = kNoTime;
    double LoopLength = 0;  // non-zero: the range before Time plays again
};

// ---- the random generator ----
// One engine for effect choices and slide orders, under the random-order lock.

// For the rest of a tool's run: the generator restarts from `seed` and
// ignores the requests to re-seed from the clock, so that the tool's output
// repeats. Tests take TFixedRandomSeed instead.
void SetFixedRandomSeed(uint32_t seed);

// The same for the guard's life: at its end the seeding before comes back.
// The projects' random orders are forgotten when it begins and when it ends,
// so that no order made under one seed outlives it.
class TFixedRandomSeed {
public:
    explicit TFixedRandomSeed(uint32_t seed);
    ~TFixedRandomSeed();
    TFixedRandomSeed(const TFixedRandomSeed&) = delete;
    TFixedRandomSeed& operator=(const TFixedRandomSeed&) = delete;
    // Restarts the generator from `seed`.
    void Restart(uint32_t seed);

private:
    bool m_wasFixed;
};
// Re-seeds from the clock unless a fixed seed is set.
void ReseedRandomFromClock();
// 0 .. range-1; 0 when range is 0 or less.
int32_t ShowRandom(int32_t range);

// ---- the random slide order ----

// Maps slide index i to the 0-based number of the section that slide i shows.
class TSlideRandomList {
public:
    struct TEntry {
        int32_t Section = 0;
        int32_t SortKey = 0;
    };

    // Entries 0 .. count-1 map to themselves; `shuffled` sorts them by random keys.
    TSlideRandomList(int32_t count, bool shuffled);
    int32_t Count() const { return int32_t(m_entries.size()); }
    const TEntry& operator[](int32_t index) const { return m_entries[size_t(index)]; }
    // Adds entries that map to themselves up to `count`.
    void ExtendTo(int32_t count);

private:
    std::vector<TEntry> m_entries;
};

// The 0-based section number slide `index` shows: the project's random order
// (keyed by "ProjectFilePath", made on first use, kept for the process) or the
// index itself. -1 for an index outside 0 .. kMaxSlideCount-1.
int32_t SlideSectionNumber(const ql::TIniStorage& document, int64_t index);
// The section of slide `index`; nullptr when it is missing.
ql::TIniSection* SlideSection(const ql::TIniStorage& document, int64_t index);
// Forgets every project's random order (program end and tests).
void ClearSlideRandomOrders();

// ---- the show source ----

class TOrbSource : public ql::TObj {
public:
    // The file source keeps the show package open for as long as the source
    // lives. `programFileName` is the player's own file: a ".scr" name forces
    // screen-saver settings into the document. Raises EOrbSourceError when
    // the options describe no playable show.
    TOrbSource(ql::TRef<ql::TRefObj> fileSource, std::unique_ptr<ql::TIniStorage> document,
               const std::u16string& programFileName);
    // The same with a document that the caller keeps alive.
    TOrbSource(ql::TRef<ql::TRefObj> fileSource, ql::TIniStorage& document,
               const std::u16string& programFileName);
    ~TOrbSource() override;

    ql::TIniStorage& Document() const { return *m_document; }
    ql::TIniSection& MainSection() const { return *m_main; }

    // The show options of [Main], as read after the screen-saver settings
    // were forced into the document.
    const TOrbShowOptions& Options() const { return m_options; }
    int32_t SlideCount() const { return m_options.SlideCount; }
    TRepeatMode RepeatMode() const { return m_options.Repeat; }
    double TotalTime() const { return m_totalTime; }
    bool EffectsEnabled() const { return m_effectsEnabled; }
    double DefaultEffectTime() const { return m_defaultEffectTime; }
    bool PauseWhenInactive() const { return m_options.PauseWhenInactive; }
    bool ScreenSaverMode() const { return m_screenSaverMode; }
    TBgrColor HiderColor() const { return m_options.HiderColor; }
    float UnsharpAmount() const { return m_options.UnsharpAmount; }
    uint8_t UnsharpThreshold() const { return m_options.UnsharpThreshold; }
    const TEffectParams& ShowEffectParams() const { return m_params; }
    const TEffGroup& EffectGroup(int32_t index) const { return m_groups[size_t(index)]; }
    // Group indices (effect classes) that hold at least one effect, in their
    // current shuffled order.
    const std::vector<int32_t>& ActiveGroups() const { return m_activeGroups; }
    const std::u16string& CustomEffectText() const { return m_customText; }
    const TSlideInfoList& Slides() const { return m_slides; }

    // Index -1 is the time before the show, below -1 the time before that;
    // indices past the slide count are slides of later cycles.
    TSlideAtIndex SlideInfo(int64_t index) const;
    // A time on the boundary of two slides belongs to the earlier one; times
    // up to 0 (and NaN) give index -1.
    TSlideAtTime SlideAtTime(double time) const;
    // The transition into slide `index` (later cycles repeat the slides).
    // Draws random numbers for slides without a transition of their own.
    TSlideEffect SlideEffect(int64_t index);
    // Index within 0 .. count-1; other indices never stop.
    TSlideEndAction SlideEndAction(int64_t index) const;
    TSlideRunApp SlideRunApp(int64_t index) const;
    // Scans from the slide that covers `time` (or from `startIndex`) for the
    // first slide ending after `time` that pauses or loops; without one the
    // end of the show, or no stop at all for a repeating show.
    TStopPoint NextStopPoint(double time, std::optional<int64_t> startIndex = std::nullopt) const;

private:
    void Load(const std::u16string& programFileName);
    void ApplyScreenSaverMode(const std::u16string& programFileName);
    void ReadEffectOptions();
    void BuildSlideList();
    double EffectTimeOf(int64_t index);
    // (class, type) from the show's groups; advances the choice counter.
    std::pair<int32_t, int32_t> RandomEffectChoice();
    void ShuffleActiveGroups();
    void ReadSlideParams(const ql::TIniIdentList& slide, TEffectParams& params) const;
    std::u16string SlideIdOf(int64_t index) const;

    ql::TRef<ql::TRefObj> m_fileSource;
    std::unique_ptr<ql::TIniStorage> m_ownedDocument;
    ql::TIniStorage* m_document = nullptr;
    ql::TIniSection* m_main = nullptr;

    TOrbShowOptions m_options;
    double m_totalTime = 0;
    bool m_effectsEnabled = false;
    double m_defaultEffectTime = 0;
    TEffectParams m_params;
    bool m_randomRollVariant = false;
    std::vector<TEffGroup> m_groups;
    std::vector<int32_t> m_activeGroups;
    uint32_t m_choiceCounter = 0;
    bool m_parity = false;
    std::u16string m_customText;
    bool m_screenSaverMode = false;
    TSlideInfoList m_slides;
};

}  // namespace orb
