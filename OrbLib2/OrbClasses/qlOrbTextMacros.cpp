#include "OrbLib2/OrbClasses/qlOrbTextMacros.h"

#include <deque>
#include <map>
#include <mutex>
#include <utility>

#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbClasses/qlOrbVideo.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/OrbPackage/qlOrbImageStandIn.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

bool IsMetadataMacro(const std::u16string& token) {
    return token == kMacroExifComment || token == kMacroExifDescription ||
           token == kMacroExifDate || token == kMacroExifTime ||
           token.starts_with(kMacroIptcPrefix);
}

// The IIM dataset of an IPTC token; 0 when the token is none.
uint8_t IptcDatasetOf(const std::u16string& token) {
    constexpr size_t kFirstIptc = kBaseMacros.size() - kIptcMacroDatasets.size();
    for (size_t i = 0; i < kIptcMacroDatasets.size(); ++i)
        if (token == kBaseMacros[kFirstIptc + i]) return kIptcMacroDatasets[i];
    return 0;
}

std::u16string Decimal(int64_t value) {
    return ql::FromUtf8(std::to_string(value));
}

}  // namespace

TOrbImage* FindMainImage(const TOrbObject& root) {
    for (int i = 0; i < root.ChildCount(); ++i) {
        TOrbObject& child = root.Child(i);
        auto* image = dynamic_cast<TOrbImage*>(&child);
        if (image && !image->IsText() && image->IsMainImage()) return image;
        if (TOrbImage* found = FindMainImage(child)) return found;
    }
    return nullptr;
}

std::shared_ptr<const ql::TImageMetadata> TPictureMetadataCache::Get(TFileAccessor& accessor,
                                                                     const std::u16string& name) {
    const std::u16string key = ql::LowerCase(name);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto found = m_records.find(key);
        if (found != m_records.end()) return found->second;
    }
    // Read unlocked: other texts go on meanwhile; two first readers of one
    // picture both read it, and the first record kept wins.
    auto record = std::make_shared<ql::TImageMetadata>();
    try {
        if (std::unique_ptr<ql::TStream> stream = accessor.OpenStream(name))
            *record = ql::ReadImageMetadata(*stream);
    } catch (const std::exception&) {
        // An entry that cannot be opened has no fields.
    }
    std::lock_guard<std::mutex> lock(m_lock);
    const auto [kept, added] = m_records.emplace(key, record);
    if (!added) return kept->second;
    m_order.push_back(key);
    if (m_order.size() > kMaxKeptMetadata) {
        m_records.erase(m_order.front());
        m_order.pop_front();
    }
    return record;
}

void TPictureMetadataCache::Clear() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_records.clear();
    m_order.clear();
}

TOrbImage* TTextMacroValues::MainImage() {
    if (!m_mainSearched) {
        m_mainSearched = true;
        if (const TOrbSlide* slide = m_text.Slide()) m_main = FindMainImage(*slide);
    }
    return m_main;
}

namespace {

const TOrbVideo* FindMainVideo(const TOrbObject& root) {
    for (int i = 0; i < root.ChildCount(); ++i) {
        const TOrbObject& child = root.Child(i);
        const auto* video = dynamic_cast<const TOrbVideo*>(&child);
        if (video && video->MainVideo()) return video;
        if (const TOrbVideo* found = FindMainVideo(child)) return found;
    }
    return nullptr;
}

}  // namespace

const TOrbVideo* TTextMacroValues::MainVideo() {
    if (!m_videoSearched) {
        m_videoSearched = true;
        if (const TOrbSlide* slide = m_text.Slide()) m_mainVideo = FindMainVideo(*slide);
    }
    return m_mainVideo;
}

const ql::TImageMetadata* TTextMacroValues::Metadata() {
    if (!m_metadataRead) {
        m_metadataRead = true;
        TOrbImage* main = MainImage();
        TOrbSlideHost* host = m_text.Host();
        if (main && host && !main->ImageName().empty())
            m_metadata = host->PictureMetadata().Get(host->Accessor(), main->ImageName());
    }
    return m_metadata.get();
}

std::u16string TTextMacroValues::operator()(TMTParser&, const std::u16string& token) {
    if (token == kMacroSlideIndex) {
        // Dialogs and the time before the show have no play position.
        const TOrbSlide* slide = m_text.Slide();
        return slide && slide->Index() >= 0 ? Decimal(int64_t(slide->Index()) + 1) : u"";
    }
    if (token == kMacroSlidesCount) {
        const TOrbSlideHost* host = m_text.Host();
        return host && host->SlideCount() > 0 ? Decimal(host->SlideCount()) : u"";
    }
    if (IsMetadataMacro(token)) {
        const ql::TImageMetadata* metadata = Metadata();
        if (!metadata) return {};
        if (token == kMacroExifComment) return metadata->ExifComment;
        if (token == kMacroExifDescription) return metadata->ExifDescription;
        // The parser cuts the date and the time out of the whole value.
        if (token == kMacroExifDate || token == kMacroExifTime) return metadata->ExifDateTime;
        const uint8_t dataset = IptcDatasetOf(token);
        return dataset ? metadata->IptcValue(dataset) : u"";
    }
    TOrbImage* main = MainImage();
    if (!main) {
        const TOrbVideo* video = MainVideo();
        if (!video) return {};
        if (token == kMacroPathNameExt) return video->FileName();
        // The frame's size, as the file gives it; nothing without a stream.
        const TExtractorWrapper* wrapper = video->Wrapper();
        if ((token == kMacroWidth || token == kMacroHeight) && wrapper &&
            wrapper->Failure() == ql::TVideoFailure::None)
            return Decimal(token == kMacroWidth ? wrapper->Info().Width : wrapper->Info().Height);
        return {};
    }
    if (token == kMacroPathNameExt) return main->ImageName();
    if (token == kMacroWidth || token == kMacroHeight) {
        // The text may come before its main image in the slide's tree.
        if (!main->PictureLoaded()) main->LoadPicture();
        if (!main->PictureLoaded()) return {};
        // A missing picture is shown as the accessor's stand-in, whose size is
        // not the picture's.
        const ql::TRef<ql::TBitmapStore> store = main->PictureStore();
        if (!store || !PlaceholderTextOf(*store).empty()) return {};
        return Decimal(token == kMacroWidth ? main->PictureWidth() : main->PictureHeight());
    }
    return {};
}

std::vector<std::u16string> ReplaceTextMacros(const TOrbText& text,
                                              const std::vector<std::u16string>& lines) {
    TTextMacroValues values(text);
    TMTParser parser(
        [&values](TMTParser& p, const std::u16string& token) { return values(p, token); });
    std::vector<std::u16string> replaced;
    replaced.reserve(lines.size());
    for (const std::u16string& line : lines) replaced.push_back(parser.Replace(line));
    return replaced;
}

}  // namespace orb
