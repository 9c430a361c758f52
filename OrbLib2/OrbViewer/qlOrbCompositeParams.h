// Composite music descriptions: several files placed on one time line, each
// with its own start inside the file, its duration and volume envelopes, plus
// master envelopes over the whole. A description travels as text in place of
// a file name: the composite marker followed by the document of the
// description in its one-line form.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/Music/PcmSource.h"
#include "QlLib/SysObj.h"

namespace orb {

// A name is a composite exactly when it starts with this.
inline constexpr char16_t kCompositeMarker[] = u"9213AB40-17BB-458F-9C4C-1806F44BEB65";
inline constexpr size_t kCompositeMarkerLength = 36;
bool IsCompositeName(std::u16string_view name);

// Descriptions come from shows: what a text may hold is bounded.
inline constexpr int32_t kMaxCompositeItems = 4096;
inline constexpr int32_t kMaxEnvelopesPerItem = 16;
inline constexpr int32_t kMaxEnvelopePoints = 65536;
inline constexpr int32_t kMaxConcatenatedComposites = 256;

// One point: time (ms from the start of its item) and volume (per-mille).
struct TVolumeItem {
    int32_t Time = 0;
    int32_t Volume = 1000;
    bool operator==(const TVolumeItem&) const = default;
};

// One envelope: its points in the order they were added.
struct TVolumeParams {
    std::vector<TVolumeItem> Points;
    // Added by the list itself (the edge fades), never written out.
    bool Automatic = false;
    void AddPoint(int32_t time, int32_t volume) { Points.push_back({time, volume}); }
};

// Envelopes that multiply.
struct TVolumeParamsList {
    std::vector<TVolumeParams> Envelopes;
    TVolumeParams& AddEnvelope() { return Envelopes.emplace_back(); }
};

struct TCompositeItem {
    std::u16string FileName;
    int32_t TimeLine = 0;   // where the item starts on the composite's time line
    int32_t BeginTime = 0;  // where playback starts inside the file
    int32_t Duration = 0;   // 0: to the end of the file
    TVolumeParamsList Volumes;
};

class TCompositeParams : public ql::TObj {
public:
    int32_t Duration = 0;
    std::vector<TCompositeItem> Items;

    void Clear();
    TCompositeItem& AddItem(const std::u16string& fileName, int32_t timeLine);
    void RemoveItem(size_t index);
    // Created on first use.
    TVolumeParamsList& MainVolume();
    bool HasMainVolume() const { return m_mainVolume != nullptr; }

    // The marker and the description's document; empty when writing fails.
    std::u16string WriteText() const;
    // Reads every concatenated description of the text (each next one's items
    // shifted by the durations before it); true when the duration is positive
    // and there is at least one item. Counts beyond the bounds above are cut.
    bool ReadText(std::u16string_view text);

private:
    std::unique_ptr<TVolumeParamsList> m_mainVolume;
};

// Until composites are mixed, a composite plays its first item alone: silence
// up to the item's place on the time line, then the item's file from its begin
// time for its duration, then silence to the composite's end. The source of
// the first item comes from openItem. Null when the text holds no item or the
// item cannot be opened.
std::unique_ptr<ql::TPcmSource> OpenCompositeFirstItem(std::u16string_view text,
                                                       const ql::TPcmSourceFactory& openItem);

}  // namespace orb
