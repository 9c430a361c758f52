// The values of a text object's macros: the slide's play position and the
// show's slide count, the main picture's name, pixel size and the text fields
// of its EXIF and IPTC records. The text's lines go through the macro parser
// with these values just before they are laid out, on the slide loader's
// thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlMTParser.h"
#include "QlLib/Graphics/qlImageMetadata.h"

namespace orb {

class TOrbVideo;

class TOrbObject;
class TOrbImage;
class TOrbText;
class TFileAccessor;

// The slide's main object: the first image marked as main image in a
// depth-first walk of the tree (children in order); nullptr when none. Texts
// are never main images.
TOrbImage* FindMainImage(const TOrbObject& root);

// The EXIF and IPTC fields of a show's pictures, read once per picture and
// kept for later texts (a slide shown again, or several texts on one
// picture). The slide host keeps one per show. Thread-safe.
class TPictureMetadataCache {
public:
    // Pictures whose records are kept: a long show's main pictures come and
    // go with its slides, and a record is a few hundred bytes.
    static constexpr size_t kMaxKeptMetadata = 256;

    // Empty fields when the picture cannot be opened or read.
    std::shared_ptr<const ql::TImageMetadata> Get(TFileAccessor& accessor,
                                                  const std::u16string& name);
    // Forgets the kept records (benchmarks count the reads with it).
    void Clear();

private:
    std::mutex m_lock;  // guards both
    std::map<std::u16string, std::shared_ptr<const ql::TImageMetadata>>
        m_records;                       // by lower-cased name
    std::deque<std::u16string> m_order;  // oldest first
};

// The value provider of a text's macros; finds the main image on the first
// macro that needs it and reads the metadata on the first EXIF or IPTC macro.
class TTextMacroValues {
public:
    // The object whose slide and host give the values; it must outlive this.
    explicit TTextMacroValues(const TOrbObject& text) : m_text(text) {}

    std::u16string operator()(TMTParser& parser, const std::u16string& token);

private:
    TOrbImage* MainImage();
    // The slide's main video, which serves the name and size macros when
    // the slide has no main image.
    const TOrbVideo* MainVideo();
    const ql::TImageMetadata* Metadata();

    const TOrbObject& m_text;
    bool m_mainSearched = false;
    TOrbImage* m_main = nullptr;
    bool m_videoSearched = false;
    const TOrbVideo* m_mainVideo = nullptr;
    bool m_metadataRead = false;
    std::shared_ptr<const ql::TImageMetadata> m_metadata;
};

// The text's lines as the text shows them, every macro replaced.
std::vector<std::u16string> ReplaceTextMacros(const TOrbText& text,
                                              const std::vector<std::u16string>& lines);

}  // namespace orb
