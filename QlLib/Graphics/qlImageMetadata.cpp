#include "QlLib/Graphics/qlImageMetadata.h"

#include <libexif/exif-data.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>

#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

constexpr uint8_t kMarkerSoi = 0xD8, kMarkerEoi = 0xD9, kMarkerSos = 0xDA;
constexpr uint8_t kMarkerApp1 = 0xE1, kMarkerApp13 = 0xED;
constexpr char kExifHeader[] = "Exif\0\0";                 // 6 bytes
constexpr char kPhotoshopSignature[] = "Photoshop 3.0\0";  // 14 bytes
constexpr size_t kExifHeaderSize = 6, kPhotoshopSignatureSize = 14;
constexpr uint16_t kIptcResourceId = 0x0404;
constexpr uint8_t kIimTag = 0x1C;

uint16_t BigEndian16(const uint8_t* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Reads from the stream within the walk's byte budget.
class TBoundedReader {
public:
    TBoundedReader(TStream& stream, int64_t& bytesRead) : m_stream(stream), m_read(bytesRead) {}

    // false when the stream ends first or the budget would be exceeded.
    bool Read(void* buffer, size_t count) {
        if (int64_t(count) > kMaxMetadataBytesRead - m_read) return false;
        const size_t got = m_stream.Read(buffer, count);
        m_read += int64_t(got);
        return got == count;
    }
    // Moves over count bytes without reading them; false past the end of a
    // stream of known size.
    bool Skip(size_t count) {
        const int64_t target = m_stream.GetPosition() + int64_t(count);
        const int64_t size = m_stream.GetSize();
        if (size >= 0 && target > size) return false;
        m_stream.SetPosition(target);
        return true;
    }

private:
    TStream& m_stream;
    int64_t& m_read;
};

// Keeps a segment's payload when it starts with the signature: the signature
// is read first, the rest only when it matches; any other segment is skipped.
// false when the walk must end.
bool TakeSegment(TBoundedReader& reader, size_t payload, const char* signature,
                 size_t signatureSize, bool keepSignature, std::vector<uint8_t>& target) {
    if (payload < signatureSize) return reader.Skip(payload);
    std::vector<uint8_t> head(signatureSize);
    if (!reader.Read(head.data(), signatureSize)) return false;
    const size_t rest = payload - signatureSize;
    if (std::memcmp(head.data(), signature, signatureSize) != 0) return reader.Skip(rest);
    std::vector<uint8_t> bytes(keepSignature ? head : std::vector<uint8_t>());
    const size_t at = bytes.size();
    bytes.resize(at + rest);
    if (!reader.Read(bytes.data() + at, rest)) return false;
    target = std::move(bytes);
    return true;
}

void TrimTrailingControls(std::string& text) {
    while (!text.empty() && uint8_t(text.back()) <= uint8_t(' ')) text.pop_back();
}

void TrimSpaces(std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(text.find_last_not_of(' ') + 1);
    text.erase(0, first);
}

// One EXIF text entry by the rules of TExifText.
std::string ExifEntryText(const ExifEntry& entry, bool comment) {
    if (!entry.data || entry.components > kMaxExifTextCount) return {};
    // The entry's buffer may be shorter than its count says.
    const size_t count = std::min<size_t>(entry.components, entry.size);
    std::string text(reinterpret_cast<const char*>(entry.data), count);
    if (comment)
        std::replace(text.begin(), text.end(), '\0', ' ');
    else
        text.erase(std::min(text.find('\0'), text.size()));
    TrimTrailingControls(text);
    if (comment && text.compare(0, 5, "ASCII") == 0) {
        text.erase(0, 5);
        TrimSpaces(text);
    }
    return text;
}

struct TExifDataRelease {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

}  // namespace

TJpegMetadataBlocks ReadJpegMetadataBlocks(TStream& stream) {
    TJpegMetadataBlocks result;
    TBoundedReader reader(stream, result.BytesRead);
    try {
        uint8_t soi[2];
        if (!reader.Read(soi, 2) || soi[0] != 0xFF || soi[1] != kMarkerSoi) return result;
        for (int32_t segment = 0; segment < kMaxMetadataSegments; ++segment) {
            uint8_t code = 0;
            if (!reader.Read(&code, 1) || code != 0xFF) break;
            // Any number of 0xFF fill bytes may precede the marker's code.
            do {
                if (!reader.Read(&code, 1)) return result;
            } while (code == 0xFF);
            if (code == kMarkerSos || code == kMarkerEoi || code == 0x00) break;
            // TEM and the restart markers stand alone.
            if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) continue;
            uint8_t length[2];
            if (!reader.Read(length, 2)) break;
            const size_t size = BigEndian16(length);
            if (size < 2) break;
            const size_t payload = size - 2;
            bool go = true;
            if (code == kMarkerApp1 && result.Exif.empty())
                go = TakeSegment(reader, payload, kExifHeader, kExifHeaderSize, true, result.Exif);
            else if (code == kMarkerApp13 && result.PhotoshopResources.empty())
                go = TakeSegment(reader, payload, kPhotoshopSignature, kPhotoshopSignatureSize,
                                 false, result.PhotoshopResources);
            else
                go = reader.Skip(payload);
            if (!go || (!result.Exif.empty() && !result.PhotoshopResources.empty())) break;
        }
    } catch (const std::exception&) {
        // A stream that fails ends the walk with what it found.
    }
    return result;
}

TExifText ParseExifText(const uint8_t* app1, size_t size) {
    TExifText result;
    // A JPEG segment holds at most 65533 bytes; a larger block is not one.
    if (!app1 || size < kExifHeaderSize || size > 0xFFFF) return result;
    std::unique_ptr<ExifData, TExifDataRelease> data(exif_data_new());
    if (!data) return result;
    // Read the entries as stored: libexif's standard-conformance fix-ups
    // would add mandatory tags (a DateTime of now) and drop tags unknown in
    // an IFD (a UserComment in IFD0).
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_set_option(data.get(), EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
    exif_data_load_data(data.get(), app1, unsigned(size));
    // The sub-IFD's values replace those of IFD0.
    for (ExifIfd ifd : {EXIF_IFD_0, EXIF_IFD_EXIF}) {
        ExifContent* content = data->ifd[ifd];
        if (!content) continue;
        if (ExifEntry* e = exif_content_get_entry(content, EXIF_TAG_IMAGE_DESCRIPTION))
            result.Description = ExifEntryText(*e, false);
        if (ExifEntry* e = exif_content_get_entry(content, EXIF_TAG_DATE_TIME))
            result.DateTime = ExifEntryText(*e, false);
        if (ExifEntry* e = exif_content_get_entry(content, EXIF_TAG_USER_COMMENT))
            result.UserComment = ExifEntryText(*e, true);
    }
    return result;
}

TIptcText ParseIimDatasets(const uint8_t* data, size_t size) {
    TIptcText result;
    size_t at = 0;
    while (data && at + 5 <= size && data[at] == kIimTag) {
        const uint8_t record = data[at + 1], dataset = data[at + 2];
        const uint16_t length = BigEndian16(data + at + 3);
        // An extended size (high bit set) says how many bytes hold the real
        // one; text datasets never need it, so the list ends there.
        if (length & 0x8000) break;
        at += 5;
        if (length > size - at) break;
        std::string value(reinterpret_cast<const char*>(data + at), length);
        at += length;
        if (record == 1 && dataset == 90) {
            result.Utf8 = value.compare(0, 3, "\x1B%G") == 0;
        } else if (record == 2 && !result.Values.count(dataset)) {
            TrimSpaces(value);
            result.Values.emplace(dataset, std::move(value));
        }
    }
    return result;
}

TIptcText ParsePhotoshopIptc(const uint8_t* resources, size_t size) {
    size_t at = 0;
    // A resource: "8BIM", a 16-bit id, a Pascal name padded to an even size,
    // a 32-bit size and the data padded to an even size.
    while (resources && size - at >= 12) {
        const uint8_t* block = resources + at;
        if (std::memcmp(block, "8BIM", 4) != 0) break;
        const uint16_t id = BigEndian16(block + 4);
        const size_t nameField = (size_t(block[6]) + 2) & ~size_t(1);
        if (nameField + 10 > size - at) break;
        const uint32_t length = BigEndian32(block + 6 + nameField);
        const size_t dataAt = at + 6 + nameField + 4;
        if (length > size - dataAt) break;
        if (id == kIptcResourceId) return ParseIimDatasets(resources + dataAt, length);
        at = dataAt + length + (length & 1);
        if (at >= size) break;
    }
    return {};
}

std::u16string CodePageToWide(std::string_view bytes, const TAnsiCodePage& codePage) {
    std::u16string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const uint8_t byte = uint8_t(bytes[i]);
        char16_t c = 0;
        const TDBCSInfo* lead = codePage.LeadInfo(byte);
        if (lead && i + 1 < bytes.size()) {
            c = lead->chars[uint8_t(bytes[i + 1])];
            i += 2;
        } else {
            c = codePage.CharOf(byte);
            ++i;
        }
        out += c != 0 ? c : u'?';
    }
    return out;
}

std::u16string TImageMetadata::IptcValue(uint8_t dataset) const {
    const auto found = Iptc.find(dataset);
    return found == Iptc.end() ? std::u16string() : found->second;
}

TImageMetadata ReadImageMetadata(TStream& stream, const TAnsiCodePage& codePage) {
    TImageMetadata result;
    const TJpegMetadataBlocks blocks = ReadJpegMetadataBlocks(stream);
    result.BytesRead = blocks.BytesRead;
    if (!blocks.Exif.empty()) {
        const TExifText exif = ParseExifText(blocks.Exif.data(), blocks.Exif.size());
        result.ExifDescription = CodePageToWide(exif.Description, codePage);
        result.ExifDateTime = CodePageToWide(exif.DateTime, codePage);
        result.ExifComment = CodePageToWide(exif.UserComment, codePage);
    }
    if (!blocks.PhotoshopResources.empty()) {
        const TIptcText iptc =
            ParsePhotoshopIptc(blocks.PhotoshopResources.data(), blocks.PhotoshopResources.size());
        for (const auto& [dataset, value] : iptc.Values)
            result.Iptc.emplace(dataset,
                                iptc.Utf8 ? FromUtf8(value) : CodePageToWide(value, codePage));
    }
    return result;
}

}  // namespace ql
