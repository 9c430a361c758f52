// TCompositeConverter: the converter behind a composite name. It opens the
// items of the description through the same sources as any other name, mixes
// them block by block with their envelopes into 16-bit stereo at 44100 Hz and
// applies the master envelope.
//
// How a frame is mixed: it takes the envelopes' factor of its own position
// (see TVolumeParams). An item's product factor within 1 % of unity adds the
// sample as it is, above 0.00001 scales it (rounded half away from zero),
// below adds nothing; the master's factor within 1 % of unity leaves the sum,
// above 0.001 scales it, else silences it; the sum is clipped to 16 bits.
// Each envelope's factor is held to 0 .. 10 where it is computed and so is
// the product, so with at most kMaxOpenItems items the 32-bit sum cannot
// overflow and a factor never needs re-seeking to come back into range.
//
// An item ends when its source ends, when every envelope reached its last
// point, or once its length (its duration, cut at the composite's end) was
// mixed. An item of duration 0 plays to the end of its file: its envelopes
// are prepared when it opens, for the file's length after the begin time plus
// 10 s (cut at the composite's end), so the file's own end finishes it. An
// item whose name is itself a composite is refused.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/Music/CompositeParams.h"
#include "QlLib/Music/WavConverters.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// The media information of a composite name: type 9, the composite's duration,
// the output format; nothing when the text describes no playable composite.
std::optional<TMediaInfo> CompositeMediaInfo(std::u16string_view text);

namespace detail {
// The converter base reads from a stream; a composite has none, so it gets an
// empty one that lives as long as the converter.
struct TNoStream {
    TMemoryStream EmptyStream;
};
}  // namespace detail

class TCompositeConverter : private detail::TNoStream, public TWavConverter {
public:
    static constexpr size_t kBlockBytes = 10000;
    static constexpr size_t kBlockFrames = kBlockBytes / kOutputBytesPerFrame;
    // Items are opened this long before their place on the time line.
    static constexpr int32_t kLookAheadMs = 5000;
    // Decoders open at once; an item beyond them is skipped (and logged).
    static constexpr size_t kMaxOpenItems = 64;

    // openItem opens an item's name (a composite name is never opened); by
    // default the decoders of OpenConverterSource.
    explicit TCompositeConverter(std::u16string text, TPcmSourceFactory openItem = {});
    ~TCompositeConverter() override;

    // Parses the description and prepares the envelopes; false when the text
    // holds no item or no duration.
    bool Open(const TMediaInfo& info) override;
    // Moves to ms on the composite's time line.
    void Seek(double ms) override;

    int32_t DurationMs() const { return m_params.Duration; }
    size_t ItemCount() const { return m_params.WorkItems.size(); }
    // Items with an open source (opened ahead or playing).
    size_t OpenItemCount() const { return m_openCount; }
    // Bytes of the time line produced so far.
    int64_t BytePosition() const { return m_pos; }

protected:
    // Mixes the next block into the output; false once the duration was produced.
    bool Decode() override;
    bool ReadInput() override { return false; }

private:
    void MixBlock(size_t bytes);
    // Mixes frames of one item into the accumulator from frame offset; false
    // when the item ended.
    bool MixItem(TCompositeItem2& item, size_t offsetFrames, size_t frames);
    void ApplyMaster(size_t frames, int16_t* out);
    void OpenAhead();
    // Opens an item and moves it to insideBytes of its own time (its source
    // and its envelopes); false (the item finished) when it cannot play.
    bool OpenItem(TCompositeItem2& item, int64_t insideBytes);
    void CloseItem(TCompositeItem2& item, TCompositeItem2::TState state);
    void PrepareItem(TCompositeItem2& item);

    std::u16string m_text;
    TPcmSourceFactory m_openItem;
    TCompositeParams2 m_params;
    TVolumeParamsList m_master;
    bool m_hasMaster = false;
    int64_t m_durationBytes = 0;
    int64_t m_pos = 0;         // byte position of the next block
    size_t m_nextWaiting = 0;  // items before this index are no longer waiting
    size_t m_openCount = 0;
    std::vector<size_t> m_active;  // indices of opened items, in time-line order
    std::vector<int32_t> m_accumulator;
    std::vector<int16_t> m_itemBlock;
    std::vector<double> m_factors;  // one per frame of a block
};

// The source of a composite name for a channel: the mixer behind a converter
// source; null when the text describes no playable composite.
std::unique_ptr<TConverterSource> OpenCompositeSource(const std::u16string& text,
                                                      TPcmSourceFactory openItem = {});

}  // namespace ql
