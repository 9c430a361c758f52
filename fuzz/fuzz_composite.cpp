// The composite mixer on arbitrary descriptions: the text reader, envelope
// preparation and stepping, and a short mix (from the start and after a seek)
// of items generated in memory. The input is the body of a composite text
// (after the marker); an item's name picks its generated sound.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "QlLib/Music/CompositeConverter.h"
#include "QlLib/Music/CompositeParams.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace {

// Short sounds, so that one input stays fast: a constant level or a ramp.
std::unique_ptr<ql::TPcmSource> Generated(const std::u16string& name) {
    if (name.empty() || name[0] == u'x') return nullptr;
    const size_t frames = 64 + (name.size() * 997) % 22050;
    if (name[0] == u'r') return ql::TMemoryPcmSource::Counter(frames);
    return ql::TMemoryPcmSource::Constant(int16_t(name.size() * 4099), frames);
}

void CheckEnvelopes(ql::TVolumeParamsList& list, int32_t length) {
    list.Prepare(length);
    for (const ql::TVolumeParams& envelope : list.Envelopes) {
        const auto& segments = envelope.Segments();
        if (segments.empty() || !segments.back().Last) __builtin_trap();
        for (size_t i = 1; i < segments.size(); ++i)
            if (segments[i].EndPos < segments[i - 1].EndPos) __builtin_trap();
    }
    for (int i = 0; i < 300; ++i) {
        double factor;
        list.Factor(factor);
        if (!(factor >= 0) || factor > 1e16) __builtin_trap();
        if (list.Step()) break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string text;
    try {
        text = std::u16string(ql::kCompositeMarker) +
               ql::FromUtf8(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const ql::Exception&) {
        return 0;
    }
    ql::TCompositeParams params;
    const bool read = params.ReadText(text);
    if (read && (params.Duration <= 0 || params.Items.empty())) __builtin_trap();
    if (params.Items.size() > size_t(ql::kMaxCompositeItems)) __builtin_trap();
    if (params.Duration < 0 || params.Duration > ql::kMaxCompositeMs) __builtin_trap();
    for (ql::TCompositeItem& item : params.Items) {
        if (item.Volumes.Envelopes.size() > size_t(ql::kMaxEnvelopesPerItem)) __builtin_trap();
        if (item.TimeLine < 0 || item.BeginTime < 0 || item.Duration < 0) __builtin_trap();
        CheckEnvelopes(item.Volumes, std::min(item.Duration, params.Duration));
    }
    if (!read) return 0;

    std::unique_ptr<ql::TConverterSource> mix = ql::OpenCompositeSource(text, Generated);
    if (!mix) return 0;
    std::vector<int16_t> block(2 * 3000);
    size_t total = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t got = mix->Read(block.data(), 3000);
        if (got > 3000) __builtin_trap();
        total += got;
    }
    if (total > size_t(params.Duration * 44.1) + 1) __builtin_trap();
    mix->Seek(params.Duration / 2.0 + (size % 977));
    mix->Read(block.data(), 3000);
    return 0;
}
