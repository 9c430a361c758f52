#include "QlLib/Graphics/qlImageMetadata.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "MetadataTestSupport.h"
#include "QlLib/Graphics/qlJpegWriter.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qpStringUtils.h"

namespace ql {
namespace {

using namespace ql::test;

// A small real JPEG to splice records into.
const std::string& PlainJpeg() {
    static const std::string jpeg = [] {
        TDirectBitmap bitmap(32, 16, PfRGB24());
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t x = 0; x < 32 * 3; ++x) bitmap.Row(y)[x] = uint8_t(x * 7 + y);
        const std::vector<uint8_t> bytes = EncodeJpeg(bitmap, 80);
        return std::string(bytes.begin(), bytes.end());
    }();
    return jpeg;
}

TImageMetadata Read(const std::string& file) {
    TStringStream stream(file);
    return ReadImageMetadata(stream);
}

// A literal with its NULs, without the terminating one.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

const std::string kComment = Bytes("ASCII\0\0\0  Sunset over the bay  \0\0");

TExifSpec FullExif() {
    TExifSpec spec;
    spec.Ifd0 = {{kTagDescription, kTiffAscii, Bytes("Lake at dawn \t\0junk")},
                 {kTagDateTime, kTiffAscii, Bytes("2010:05:01 12:34:56\0")},
                 {kTagUserComment, kTiffUndefined, Bytes("ASCII\0\0\0old one")}};
    spec.SubIfd = {{kTagUserComment, kTiffUndefined, kComment}};
    return spec;
}

std::string FullIptc(bool utf8, const std::string& city) {
    return (utf8 ? IimUtf8() : std::string()) + IimDataset(2, 105, "  Headline text  ") +
           IimDataset(2, 80, "First author") + IimDataset(2, 80, "Second author") +
           IimDataset(2, 90, city);
}

struct TExpected {
    std::string Description, DateTime, Comment;
    std::map<uint8_t, std::string> Iptc;  // UTF-8
};

struct TCase {
    const char* Name;
    std::string File;
    TExpected Expected;
};

std::vector<TCase> Cases() {
    const std::string exif = JpegSegment(0xE1, ExifPayload(FullExif()));
    TExifSpec longCount = FullExif();
    longCount.Ifd0[0].Data = std::string(10001, 'x');
    TExifSpec lyingCount = FullExif();
    lyingCount.Ifd0[0].Count = 60000;  // far beyond the block
    TExifSpec cycles = FullExif();
    cycles.SubIfdLinksToItself = true;
    cycles.Ifd0NextIsItself = true;
    TExifSpec ifd0Only = FullExif();
    ifd0Only.SubIfd.clear();
    TExifSpec wordPrefix;
    wordPrefix.Ifd0 = {{kTagUserComment, kTiffUndefined, Bytes("  plain\0\0")}};
    const TExpected full{"Lake at dawn", "2010:05:01 12:34:56", "Sunset over the bay", {}};
    auto with = [](TExpected e, std::map<uint8_t, std::string> iptc) {
        e.Iptc = std::move(iptc);
        return e;
    };
    const std::map<uint8_t, std::string> iptcFull{
        {105, "Headline text"}, {80, "First author"}, {90, ToUtf8(u"Caf\u00e9")}};
    auto Jpeg = [](const std::string& segments) { return SpliceAfterSoi(PlainJpeg(), segments); };
    return {
        {"ExifAndUtf8Iptc",
         Jpeg(exif + JpegSegment(0xED, PhotoshopPayload(FullIptc(true, "Caf\xC3\xA9")))),
         with(full, iptcFull)},
        {"IptcWithoutCharacterSetIsCodePage1252",
         Jpeg(exif + JpegSegment(0xED, PhotoshopPayload(FullIptc(false, "Caf\xE9")))),
         with(full, iptcFull)},
        {"ExifCountAbove10000IsEmpty",
         Jpeg(JpegSegment(0xE1, ExifPayload(longCount))),
         {"", full.DateTime, full.Comment, {}}},
        {"ExifCountBeyondTheBlockIsEmpty",
         Jpeg(JpegSegment(0xE1, ExifPayload(lyingCount))),
         {"", full.DateTime, full.Comment, {}}},
        {"IfdCyclesEndAndKeepTheValues", Jpeg(JpegSegment(0xE1, ExifPayload(cycles))), full},
        {"Ifd0CommentWithoutSubIfd",
         Jpeg(JpegSegment(0xE1, ExifPayload(ifd0Only))),
         {full.Description, full.DateTime, "old one", {}}},
        {"CommentWithoutPrefixKeepsLeadingSpaces",
         Jpeg(JpegSegment(0xE1, ExifPayload(wordPrefix))),
         {"", "", "  plain", {}}},
        {"LyingDatasetSizeEmptiesItAndWhatFollows",
         Jpeg(JpegSegment(0xED, PhotoshopPayload(IimDataset(2, 5, "Title") +
                                                 IimDataset(2, 120, "Caption", 40000)))),
         {"", "", "", {{5, "Title"}}}},
        {"ExtendedDatasetSizeEndsTheList",
         Jpeg(JpegSegment(0xED, PhotoshopPayload(IimDataset(2, 5, "Title") +
                                                 IimDataset(2, 120, Bytes("\x00\x04"), 0x8002) +
                                                 IimDataset(2, 90, "City")))),
         {"", "", "", {{5, "Title"}}}},
        {"LyingResourceSizeEmptiesIptcOnly",
         Jpeg(exif + JpegSegment(0xED, PhotoshopPayload(FullIptc(true, "x"), 0x7FFFFFFF))), full},
        {"MetadataAfterTheScanIsNotRead",
         PlainJpeg().substr(0, PlainJpeg().size() - 2) + exif + "\xFF\xD9",
         {}},
    };
}

TEST(ImageMetadata, RecordsGiveTheirFieldsByTheReadingRules) {
    for (const TCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        const TImageMetadata m = Read(c.File);
        EXPECT_EQ(ToUtf8(m.ExifDescription), c.Expected.Description);
        EXPECT_EQ(ToUtf8(m.ExifDateTime), c.Expected.DateTime);
        EXPECT_EQ(ToUtf8(m.ExifComment), c.Expected.Comment);
        std::map<uint8_t, std::string> iptc;
        for (const auto& [dataset, value] : m.Iptc) iptc[dataset] = ToUtf8(value);
        EXPECT_EQ(iptc, c.Expected.Iptc);
    }
}

TEST(ImageMetadata, CutOrForeignFilesGiveNothingAndNeverThrow) {
    const std::string records = JpegSegment(0xE1, ExifPayload(FullExif())) +
                                JpegSegment(0xED, PhotoshopPayload(FullIptc(true, "City")));
    const std::string full = SpliceAfterSoi(PlainJpeg(), records);
    // Every cut inside the records, and a few foreign starts.
    for (size_t cut = 0; cut < 2 + records.size(); cut += 3) {
        const TImageMetadata m = Read(full.substr(0, cut));
        // A record is all or nothing: a cut one is not read.
        if (!m.ExifComment.empty()) {
            EXPECT_EQ(ToUtf8(m.ExifComment), "Sunset over the bay");
        }
        EXPECT_TRUE(m.Iptc.empty()) << cut;
    }
    for (const std::string& foreign :
         {std::string("\x89PNG\r\n\x1A\n", 8), std::string("\xFF\xD8\xFF\x00", 4),
          std::string("\xFF\xD8\xFF\xE1\x00\x01", 6), std::string()}) {
        const TImageMetadata m = Read(foreign);
        EXPECT_TRUE(m.ExifComment.empty() && m.Iptc.empty());
        EXPECT_LE(m.BytesRead, 16);
    }
}

TEST(ImageMetadata, WalkSeeksOverOtherSegmentsAndStopsAtTheScan) {
    // Large segments that are not records, before and after the records.
    const std::string filler = JpegSegment(0xE2, std::string(65000, 'f'));
    std::string segments =
        filler + filler +
        JpegSegment(0xE1, "http://ns.adobe.com/xap/1.0/\0" + std::string(60000, 'x'));
    segments += JpegSegment(0xE1, ExifPayload(FullExif())) + filler +
                JpegSegment(0xED, PhotoshopPayload(FullIptc(true, "City")));
    const std::string file = SpliceAfterSoi(PlainJpeg(), segments);
    TStringStream stream(file);
    const TJpegMetadataBlocks blocks = ReadJpegMetadataBlocks(stream);
    ASSERT_FALSE(blocks.Exif.empty());
    ASSERT_FALSE(blocks.PhotoshopResources.empty());
    // The two records and a few bytes a segment; the 250 KB of others are skipped.
    EXPECT_LT(blocks.BytesRead,
              int64_t(blocks.Exif.size() + blocks.PhotoshopResources.size() + 200));
    // Once both are found the walk ends: the picture data is never reached.
    EXPECT_LE(stream.GetPosition(), int64_t(file.size() - PlainJpeg().size() + 2));
}

TEST(ImageMetadata, IptcReadersRefuseWhatDoesNotFit) {
    const std::string iim = IimDataset(2, 5, "T");
    struct TIptcCase {
        const char* Name;
        std::string Resources;
        size_t Values;
    } cases[] = {
        {"GoodBlock", PhotoshopPayload(iim).substr(14), 1},
        {"WrongSignature", "8BIX" + PhotoshopPayload(iim).substr(18), 0},
        {"NameLongerThanBlock", std::string("8BIM\x04\x04\xFF", 7), 0},
        {"SizeAtTheVeryEnd", PhotoshopResource(0x0404, "", iim).substr(0, 10), 0},
        {"Empty", "", 0},
    };
    for (const TIptcCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TIptcText text = ParsePhotoshopIptc(
            reinterpret_cast<const uint8_t*>(c.Resources.data()), c.Resources.size());
        EXPECT_EQ(text.Values.size(), c.Values);
    }
}

}  // namespace
}  // namespace ql
