// Composite music descriptions: several files placed on one time line, each
// with its own start inside the file, its duration and volume envelopes, plus
// master envelopes over the whole. A description travels as text in place of
// a file name: the composite marker followed by the document of the
// description in its one-line form. The envelopes' arithmetic lives here too,
// since the mixer and the tests step them frame by frame.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/Music/PcmSource.h"
#include "QlLib/SysObj.h"

namespace ql {

// A name is a composite exactly when it starts with this.
inline constexpr char16_t kCompositeMarker[] = u"9213AB40-17BB-458F-9C4C-1806F44BEB65";
inline constexpr size_t kCompositeMarkerLength = 36;
bool IsCompositeName(std::u16string_view name);

// Descriptions come from shows: what a text may hold is bounded.
inline constexpr int32_t kMaxCompositeItems = 4096;
inline constexpr int32_t kMaxEnvelopesPerItem = 16;
inline constexpr int32_t kMaxEnvelopePoints = 65536;
inline constexpr int32_t kMaxConcatenatedComposites = 256;
inline constexpr size_t kMaxCompositeTextLength = size_t(8) << 20;  // characters
// Times of a description (durations, positions, begin times, point times) lie
// in 0 .. one day; a total beyond it is cut there.
inline constexpr int32_t kMaxCompositeMs = 24 * 3600 * 1000;
// Point volumes lie in 0 .. 10000 per-mille (silence .. ten times the level).
inline constexpr int32_t kMaxVolume = 10000;

int32_t ClampCompositeTime(int64_t ms);
int32_t ClampVolume(int64_t perMille);

// The mix's byte position of a time: floor(ms × 44.1) × 4 (whole frames).
int64_t CompositeBytePos(double ms);

// One point: time (ms from the start of its item) and volume (per-mille).
struct TVolumeItem {
    int32_t Time = 0;
    int32_t Volume = 1000;
    bool operator==(const TVolumeItem&) const = default;
};

// One prepared segment, ending at a point.
struct TVolumeItem2 {
    int64_t EndPos = 0;  // byte position of the point
    double Step = 0;     // change of the factor per output frame inside the segment
    bool Flat = true;    // start and end volume equal
    bool Last = false;
    double EndFactor = 1.0;  // the point's volume / 1000
};

// One envelope: its points in the order they were added and, once prepared
// for a length, its segments and the factor at the current position.
//
// A frame takes the factor of its own position: the frame at byte position x
// (relative to the envelope's start) is scaled by the envelope's value at x,
// and Step() then moves to x + 4. So a ramp from (0, 0) to (10, 1000) gives
// the first frame silence and reaches the full level at frame 441.
class TVolumeParams {
public:
    std::vector<TVolumeItem> Points;
    // Added by the list itself (the edge fades), never written out.
    bool Automatic = false;

    TVolumeParams() = default;
    explicit TVolumeParams(std::vector<TVolumeItem> points) : Points(std::move(points)) {}

    void AddPoint(int32_t time, int32_t volume) { Points.push_back({time, volume}); }

    // Makes the segments for a length in ms: the points (times and volumes
    // clamped), a final point at the length with the last point's volume,
    // sorted by time, of equal times the last kept. Seeks to 0.
    void Prepare(int32_t lengthMs);
    // Sets the factor for a byte position relative to the envelope's start.
    void Seek(int64_t bytePos);
    // Moves one output frame on; true once the position reached the last point.
    bool Step();

    double Factor() const { return m_factor; }
    // The factor lies strictly between 0.99 and 1.01.
    bool NearUnity() const { return m_nearUnity; }
    bool Finished() const { return m_segment >= m_segments.size(); }
    const std::vector<TVolumeItem2>& Segments() const { return m_segments; }

private:
    friend class TVolumeParamsList;
    void SetFactor(double factor);
    // Moves frames on inside the current segment (up to its end at most).
    void Advance(int64_t frames);

    std::vector<TVolumeItem2> m_segments;
    double m_factor = 1.0;
    bool m_nearUnity = true;
    size_t m_segment = 0;  // the segment holding m_pos; the count once past the last point
    int64_t m_pos = 0;
};

// Envelopes that multiply. With edge fades on (mix items), preparation adds an
// automatic envelope (0, 0), (10, 1000), (length − 10, 1000), (length, 0).
class TVolumeParamsList {
public:
    std::vector<TVolumeParams> Envelopes;
    bool EdgeFades = false;

    TVolumeParamsList() = default;
    explicit TVolumeParamsList(bool edgeFades) : EdgeFades(edgeFades) {}

    TVolumeParams& AddEnvelope() { return Envelopes.emplace_back(); }
    void Prepare(int32_t lengthMs);
    void Seek(int64_t bytePos);
    // One frame on for every envelope; true when every envelope reached its last point.
    bool Step();
    // The product of the factors of the envelopes that are not near unity
    // (1.0 when all are); returns whether every envelope is near unity.
    bool Factor(double& factor) const;
    // The product factor of each of the next frames (what Factor() and Step()
    // give frame by frame, held to 0 .. 10), moving the envelopes on; stops
    // early once every envelope reached its last point (ended is then set).
    // Returns the frames written. Works a run between points at a time, so a
    // flat stretch costs no per-frame envelope work.
    size_t Fill(size_t frames, double* factors, bool& ended);

private:
    std::vector<double> m_rampFactor;  // Fill's scratch, one per envelope
    std::vector<double> m_rampStep;
};

struct TCompositeItem {
    std::u16string FileName;
    int32_t TimeLine = 0;   // where the item starts on the composite's time line
    int32_t BeginTime = 0;  // where playback starts inside the file
    int32_t Duration = 0;   // 0: to the end of the file
    TVolumeParamsList Volumes{true};
};

class TCompositeParams : public TObj {
public:
    int32_t Duration = 0;
    std::vector<TCompositeItem> Items;

    void Clear();
    TCompositeItem& AddItem(const std::u16string& fileName, int32_t timeLine);
    void RemoveItem(size_t index);
    // Created on first use.
    TVolumeParamsList& MainVolume();
    bool HasMainVolume() const { return m_mainVolume != nullptr; }
    const TVolumeParamsList* MainVolumeOrNull() const { return m_mainVolume.get(); }

    // The marker and the description's document; empty when writing fails.
    std::u16string WriteText() const;
    // Reads every concatenated description of the text (each next one's items
    // shifted by the durations before it); true when the duration is positive
    // and there is at least one item. Counts beyond the bounds above are cut,
    // times and volumes clamped, a text beyond kMaxCompositeTextLength refused.
    bool ReadText(std::u16string_view text);

private:
    std::unique_ptr<TVolumeParamsList> m_mainVolume;
};

// The mixer's working form of an item.
struct TCompositeItem2 : TCompositeItem {
    enum TState { Waiting, Opened, Active, Finished };

    std::unique_ptr<TPcmSource> Source;  // the opened item, 16-bit stereo 44100 Hz
    double FileLengthMs = -1;            // -1 if unknown
    bool IsOpened = false;
    int64_t BlockOffset = -1;  // bytes into the current mix block where the item starts; -1 none
    TState State = Waiting;
    int32_t LengthMs = 0;  // what the envelopes were prepared for
    int64_t StartPos = 0;  // byte position on the composite's time line
    int64_t Frames = 0;    // frames of the item's length
    int64_t Done = 0;      // frames mixed so far

    TCompositeItem2() = default;
    explicit TCompositeItem2(const TCompositeItem& item) : TCompositeItem(item) {}
};

// A description whose entries come in the mixer's working form, in time-line order.
class TCompositeParams2 : public TCompositeParams {
public:
    std::vector<TCompositeItem2> WorkItems;
    // ReadText, then the working items sorted by time-line position (stable).
    bool ReadWorking(std::u16string_view text);
};

}  // namespace ql
