// Reads the music settings of an arbitrary show document and parses composite
// texts: the document ends at the first NUL, what follows is read as the body
// of a composite text. Every compiled composite must read back, and counts
// stay within their bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbViewer/qlOrbMusicSource2.h"
#include "QlLib/Music/CompositeParams.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace {

void CheckComposite(const std::u16string& text) {
    orb::TCompositeParams params;
    const bool read = params.ReadText(text);
    if (read && (params.Duration <= 0 || params.Items.empty())) __builtin_trap();
    if (params.Items.size() > size_t(orb::kMaxCompositeItems)) __builtin_trap();
    for (const orb::TCompositeItem& item : params.Items)
        if (item.Volumes.Envelopes.size() > size_t(orb::kMaxEnvelopesPerItem)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* separator = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = separator ? size_t(separator - data) : size;
    orb::SetFixedRandomSeed(uint32_t(size));
    orb::ClearSlideRandomOrders();
    if (separator) {
        try {
            const std::string rest(reinterpret_cast<const char*>(separator + 1),
                                   size - textSize - 1);
            CheckComposite(std::u16string(orb::kCompositeMarker) + ql::FromUtf8(rest));
        } catch (const ql::Exception&) {
        }
    }
    auto document = std::make_unique<ql::TIniFile>();
    try {
        ql::TStringStream stream(std::string(reinterpret_cast<const char*>(data), textSize));
        document->LoadFromStream(stream);
    } catch (const ql::Exception&) {
        return 0;
    }
    std::unique_ptr<orb::TOrbSource> source;
    try {
        source = std::make_unique<orb::TOrbSource>(ql::MakeRef<ql::TRefObj>(), std::move(document),
                                                   u"show");
    } catch (const orb::EOrbSourceError&) {
        return 0;
    }
    orb::TOrbMusicSource music(*source);
    const orb::TPlayList& list = music.ShowPlayList();
    if (list.Count() > orb::kMaxPlayListEntries * 7) __builtin_trap();
    for (int32_t i = 0; i < list.Count() && i < 8; ++i)
        if (orb::IsCompositeName(list[i].Name)) CheckComposite(list[i].Name);
    for (const orb::TSlideMusicInfo& slide : music.Slides()) {
        if (orb::IsCompositeName(slide.Comment)) {
            orb::TCompositeParams params;
            if (!params.ReadText(slide.Comment)) __builtin_trap();
        }
        if (slide.Personal && slide.Personal->Count() > orb::kMaxPlayListEntries) __builtin_trap();
    }
    return 0;
}
