// EXIF and IPTC records built byte by byte for the metadata tests, the
// benchmark and the fuzz seeds: a little-endian TIFF block in an APP1
// payload, IIM datasets in a Photoshop APP13 payload, and both spliced into
// a JPEG behind its SOI marker.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ql::test {

inline void PutLe16(std::string& b, uint32_t v) {
    b += char(v & 0xFF);
    b += char((v >> 8) & 0xFF);
}
inline void PutLe32(std::string& b, uint32_t v) {
    PutLe16(b, v & 0xFFFF);
    PutLe16(b, v >> 16);
}
inline void PutBe16(std::string& b, uint32_t v) {
    b += char((v >> 8) & 0xFF);
    b += char(v & 0xFF);
}
inline void PutBe32(std::string& b, uint32_t v) {
    PutBe16(b, v >> 16);
    PutBe16(b, v & 0xFFFF);
}

constexpr uint16_t kTiffAscii = 2, kTiffLong = 4, kTiffUndefined = 7;
constexpr uint16_t kTagDescription = 270, kTagDateTime = 306, kTagUserComment = 37510;
constexpr uint16_t kTagExifPointer = 0x8769;

struct TTiffEntry {
    uint16_t Tag = 0;
    uint16_t Type = kTiffAscii;
    std::string Data;
    std::optional<uint32_t> Count = std::nullopt;  // stated count; the data's size when unset
};

struct TExifSpec {
    std::vector<TTiffEntry> Ifd0;
    std::vector<TTiffEntry> SubIfd;  // linked from IFD0 when not empty
    // Cycles: the sub-IFD links to itself, IFD0's next IFD is IFD0.
    bool SubIfdLinksToItself = false;
    bool Ifd0NextIsItself = false;
};

// "Exif\0\0" and a little-endian TIFF block: IFD0, then the sub-IFD, then
// the values that do not fit in their entries.
inline std::string ExifPayload(const TExifSpec& spec) {
    std::vector<TTiffEntry> ifd0 = spec.Ifd0;
    std::vector<TTiffEntry> sub = spec.SubIfd;
    const bool hasSub = !sub.empty() || spec.SubIfdLinksToItself;
    const uint32_t ifd0At = 8;
    const uint32_t ifd0Size = 2 + 12 * uint32_t(ifd0.size() + (hasSub ? 1 : 0)) + 4;
    const uint32_t subAt = ifd0At + ifd0Size;
    if (hasSub) {
        std::string pointer;
        PutLe32(pointer, subAt);
        ifd0.push_back({kTagExifPointer, kTiffLong, pointer, 1});
    }
    if (spec.SubIfdLinksToItself) {
        std::string pointer;
        PutLe32(pointer, subAt);
        sub.push_back({kTagExifPointer, kTiffLong, pointer, 1});
    }
    const uint32_t subSize = hasSub ? 2 + 12 * uint32_t(sub.size()) + 4 : 0;
    uint32_t dataAt = subAt + subSize;
    std::string data;
    auto writeIfd = [&](std::string& out, const std::vector<TTiffEntry>& entries, uint32_t next) {
        PutLe16(out, uint32_t(entries.size()));
        for (const TTiffEntry& e : entries) {
            PutLe16(out, e.Tag);
            PutLe16(out, e.Type);
            PutLe32(out, e.Count ? *e.Count : uint32_t(e.Data.size()));
            if (e.Data.size() <= 4) {
                std::string inline4 = e.Data;
                inline4.resize(4, '\0');
                out += inline4;
            } else {
                PutLe32(out, dataAt + uint32_t(data.size()));
                data += e.Data;
                if (data.size() & 1) data += '\0';
            }
        }
        PutLe32(out, next);
    };
    std::string tiff = "II";
    PutLe16(tiff, 42);
    PutLe32(tiff, ifd0At);
    writeIfd(tiff, ifd0, spec.Ifd0NextIsItself ? ifd0At : 0);
    if (hasSub) writeIfd(tiff, sub, 0);
    return std::string("Exif\0\0", 6) + tiff + data;
}

inline std::string IimDataset(uint8_t record, uint8_t dataset, const std::string& value,
                              std::optional<uint16_t> statedSize = std::nullopt) {
    std::string out;
    out += char(0x1C);
    out += char(record);
    out += char(dataset);
    PutBe16(out, statedSize ? *statedSize : uint32_t(value.size()));
    return out + value;
}

// The coded character set dataset that says UTF-8.
inline std::string IimUtf8() {
    return IimDataset(1, 90, "\x1B%G");
}

// One Photoshop image resource: "8BIM", id, Pascal name padded to even, size,
// data padded to even.
inline std::string PhotoshopResource(uint16_t id, const std::string& name, const std::string& data,
                                     std::optional<uint32_t> statedSize = std::nullopt) {
    std::string out = "8BIM";
    PutBe16(out, id);
    out += char(name.size());
    out += name;
    if ((name.size() + 1) & 1) out += '\0';
    PutBe32(out, statedSize ? *statedSize : uint32_t(data.size()));
    out += data;
    if (data.size() & 1) out += '\0';
    return out;
}

// "Photoshop 3.0\0", a resolution resource with a name, then the IPTC resource.
inline std::string PhotoshopPayload(const std::string& iim,
                                    std::optional<uint32_t> statedSize = std::nullopt) {
    return std::string("Photoshop 3.0\0", 14) +
           PhotoshopResource(0x03ED, "res", std::string(16, '\x01')) +
           PhotoshopResource(0x0404, "", iim, statedSize);
}

// A JPEG segment: marker, 16-bit length, payload.
inline std::string JpegSegment(uint8_t marker, const std::string& payload) {
    std::string out;
    out += char(0xFF);
    out += char(marker);
    PutBe16(out, uint32_t(payload.size() + 2));
    return out + payload;
}

// The segments put right behind the JPEG's SOI marker.
inline std::string SpliceAfterSoi(const std::string& jpeg, const std::string& segments) {
    return jpeg.substr(0, 2) + segments + jpeg.substr(2);
}

}  // namespace ql::test
