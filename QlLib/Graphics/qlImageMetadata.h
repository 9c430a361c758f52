// The text fields of a JPEG picture's EXIF and IPTC records that the text
// macros show: EXIF ImageDescription, DateTime and UserComment, and the IPTC
// record 2 datasets. Reading is bounded everywhere: a walk over the markers
// that stops at the picture data and seeks over what it does not need, EXIF
// through libexif on the APP1 segment alone, and our own reader of the
// Photoshop resource block of APP13.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/Platform/qlCodePage.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// The walk reads at most this much of a stream in all (segment headers and the
// two payloads); a segment's payload is at most 65533 bytes by its 16-bit length.
inline constexpr int64_t kMaxMetadataBytesRead = 256 * 1024;
// Segments looked at before the walk gives up.
inline constexpr int32_t kMaxMetadataSegments = 4096;
// An EXIF text whose count is above this is not read.
inline constexpr uint32_t kMaxExifTextCount = 10000;

// The two payloads the walk keeps.
struct TJpegMetadataBlocks {
    // The first APP1 segment that starts with "Exif\0\0", that header included
    // (libexif looks for it); empty when none.
    std::vector<uint8_t> Exif;
    // The first APP13 segment that starts with "Photoshop 3.0\0", after that
    // signature: the Photoshop image resources. Empty when none.
    std::vector<uint8_t> PhotoshopResources;
    // Bytes read from the stream (seeks not counted).
    int64_t BytesRead = 0;
};

// Walks the JPEG markers from the stream's position (which must be the start of
// the picture, its SOI marker) up to the first SOS or EOI, keeping the payloads
// of the first EXIF APP1 and Photoshop APP13 segments and seeking over every
// other segment. A stream that is no JPEG, is cut short or lies about a length
// gives what was found before; stream errors end the walk. Never throws.
TJpegMetadataBlocks ReadJpegMetadataBlocks(TStream& stream);

// The EXIF text fields as stored (8-bit text), with the reading rules applied:
// a value ends at its count or its first NUL, a count above kMaxExifTextCount
// gives nothing, trailing characters up to the space are removed. The EXIF
// sub-IFD's values replace those of IFD0. UserComment: NULs become spaces and
// an "ASCII" character-code prefix is removed, then the value is trimmed of
// spaces at both ends.
struct TExifText {
    std::string Description;  // tag 270
    std::string DateTime;     // tag 306, "YYYY:MM:DD HH:MM:SS"
    std::string UserComment;  // tag 37510
};
// app1: the APP1 payload from its "Exif\0\0" header on. Empty fields for
// anything libexif cannot read.
TExifText ParseExifText(const uint8_t* app1, size_t size);

// The IPTC record 2 datasets: the first value of each (repeatable datasets
// keep their first), trimmed of spaces at both ends, as stored.
struct TIptcText {
    std::map<uint8_t, std::string> Values;
    // Record 1:90 (coded character set) names UTF-8 ("ESC % G").
    bool Utf8 = false;
};
// IIM datasets (0x1C, record, dataset, 16-bit size, value) up to the first
// that is not one; extended sizes end the list.
TIptcText ParseIimDatasets(const uint8_t* data, size_t size);
// The Photoshop image resources ("8BIM" blocks): the datasets of the first
// IPTC-NAA resource (0x0404); nothing when there is none or a block lies.
TIptcText ParsePhotoshopIptc(const uint8_t* resources, size_t size);

// 8-bit text through a code page (double-byte pages included); bytes the page
// cannot convert become "?".
std::u16string CodePageToWide(std::string_view bytes, const TAnsiCodePage& codePage);

// The fields in wide text: EXIF through the code page, IPTC as UTF-8 when
// record 1:90 says so and through the code page otherwise.
struct TImageMetadata {
    std::u16string ExifDescription;
    std::u16string ExifDateTime;
    std::u16string ExifComment;
    std::map<uint8_t, std::u16string> Iptc;  // record 2 dataset -> value
    int64_t BytesRead = 0;                   // as the walk counted them

    // Empty when the dataset is absent.
    std::u16string IptcValue(uint8_t dataset) const;
};
// Reads both records from a JPEG stream (from its position). A record that
// cannot be read leaves its fields empty; never throws.
TImageMetadata ReadImageMetadata(TStream& stream, const TAnsiCodePage& codePage = AnsiCodePage());

}  // namespace ql
