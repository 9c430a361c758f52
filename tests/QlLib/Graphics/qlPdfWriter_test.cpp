#include "QlLib/Graphics/qlPdfWriter.h"

#include <gtest/gtest.h>

#include <string>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/Graphics/qlJpegDecoder.h"
#include "QlLib/Graphics/qlPixelFormats.h"

namespace ql {
namespace {

std::unique_ptr<TBitmap> Picture(int32_t w, int32_t h) {
    auto bitmap = CreateBitmap(w, h, PfARGB32());
    bitmap->FillRect(bitmap->Bounds(), 0xFF2080C0);
    return bitmap;
}

// Reads a PDF the way a reader does: from the trailer at the end back to the
// cross-reference table and from there to each object.
struct TParsedPdf {
    std::string Text;
    std::vector<size_t> Offsets;  // index = object number; 0 unused

    explicit TParsedPdf(const std::vector<uint8_t>& bytes) : Text(bytes.begin(), bytes.end()) {}

    ::testing::AssertionResult ReadTable() {
        const size_t start = Text.rfind("startxref\n");
        if (start == std::string::npos) return ::testing::AssertionFailure() << "no startxref";
        const size_t table = std::stoul(Text.substr(start + 10));
        if (Text.compare(table, 5, "xref\n") != 0) return ::testing::AssertionFailure() << "startxref misses the table";
        size_t at = table + 5;
        const size_t first = std::stoul(Text.substr(at));
        const size_t count = std::stoul(Text.substr(Text.find(' ', at) + 1));
        if (first != 0) return ::testing::AssertionFailure() << "table does not start at object 0";
        at = Text.find('\n', at) + 1;
        Offsets.assign(count, 0);
        for (size_t i = 0; i < count; ++i, at += 20) {
            const std::string entry = Text.substr(at, 20);
            if (entry.size() != 20 || entry.substr(17, 3) != (i == 0 ? "f \n" : "n \n"))
                return ::testing::AssertionFailure() << "entry " << i << " is not 20 bytes: " << entry;
            Offsets[i] = std::stoul(entry.substr(0, 10));
        }
        if (Text.compare(at, 8, "trailer\n") != 0) return ::testing::AssertionFailure() << "no trailer after the table";
        return ::testing::AssertionSuccess();
    }

    // The text of object `number`, from "N 0 obj" to its "endobj".
    std::string Object(size_t number) const {
        const size_t at = Offsets.at(number);
        return Text.substr(at, Text.find("endobj", at) + 6 - at);
    }

    // The bytes of the stream of object `number`, taken by its /Length.
    std::string Stream(size_t number, size_t* declared = nullptr) const {
        const size_t at = Offsets.at(number);
        const size_t length = std::stoul(Text.substr(Text.find("/Length ", at) + 8));
        if (declared) *declared = length;
        const size_t data = Text.find(">>\nstream\n", at) + 10;
        return Text.substr(data, length);
    }
};

TEST(PdfWriter, Document_CrossReferencePointsAtEachObject) {
    const auto picture = Picture(40, 30);
    TParsedPdf pdf(EncodePdf(*picture, TPdfPageLayout{}));
    EXPECT_EQ(pdf.Text.substr(0, 9), "%PDF-1.4\n");
    EXPECT_EQ(pdf.Text.substr(pdf.Text.size() - 6), "%%EOF\n");
    ASSERT_TRUE(pdf.ReadTable());
    ASSERT_GE(pdf.Offsets.size(), 6u);
    for (size_t number = 1; number < pdf.Offsets.size(); ++number) {
        EXPECT_EQ(pdf.Text.substr(pdf.Offsets[number], std::to_string(number).size() + 7), std::to_string(number) + " 0 obj\n")
            << "object " << number;
    }
    const std::string trailer = pdf.Text.substr(pdf.Text.rfind("trailer\n"));
    EXPECT_NE(trailer.find("/Size " + std::to_string(pdf.Offsets.size())), std::string::npos);
    EXPECT_NE(trailer.find("/Root 1 0 R"), std::string::npos);
    EXPECT_NE(pdf.Object(1).find("/Type /Catalog"), std::string::npos);
    EXPECT_NE(pdf.Object(2).find("/Count 1"), std::string::npos);
}

TEST(PdfWriter, Image_IsAJpegOfThePictureWithItsExactLength) {
    const auto picture = Picture(123, 45);
    TParsedPdf pdf(EncodePdf(*picture, TPdfPageLayout{}));
    ASSERT_TRUE(pdf.ReadTable());
    const std::string image = pdf.Object(4);
    EXPECT_NE(image.find("/Subtype /Image"), std::string::npos);
    EXPECT_NE(image.find("/Filter /DCTDecode"), std::string::npos);
    EXPECT_NE(image.find("/Width 123 /Height 45"), std::string::npos);
    size_t declared = 0;
    const std::string jpeg = pdf.Stream(4, &declared);
    ASSERT_EQ(jpeg.size(), declared);
    // The stream ends exactly where its length says.
    const size_t end = pdf.Text.find(jpeg) + jpeg.size();
    EXPECT_EQ(pdf.Text.substr(end, 10), "\nendstream");
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_EQ(uint8_t(jpeg[jpeg.size() - 2]), 0xFF);
    EXPECT_EQ(uint8_t(jpeg[jpeg.size() - 1]), 0xD9);

    TMemoryStream stream;
    stream.WriteBuffer(jpeg.data(), jpeg.size());
    stream.SetPosition(0);
    TRef<TBitmapStore> decoded = DecodeJpeg(stream, u"page.jpg", nullptr, nullptr);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->Width(), 123);
    EXPECT_EQ(decoded->Height(), 45);
    const TBitmap* pixels = decoded->GetBitmap(0, PfRGB24());
    ASSERT_TRUE(pixels);
    const uint8_t* centre = pixels->Row(22) + 61 * 3;  // blue, green, red
    EXPECT_NEAR(centre[0], 0xC0, 6);
    EXPECT_NEAR(centre[1], 0x80, 6);
    EXPECT_NEAR(centre[2], 0x20, 6);
}

TEST(PdfWriter, Placement_CountsFromTheBottomEdgeOfThePage) {
    const auto picture = Picture(20, 10);
    TPdfPageLayout layout;
    layout.PageWidth = 842;
    layout.PageHeight = 595;
    layout.Left = 0;
    layout.Top = 100;
    layout.Width = 842;
    layout.Height = 421;
    TParsedPdf pdf(EncodePdf(*picture, layout));
    ASSERT_TRUE(pdf.ReadTable());
    EXPECT_NE(pdf.Object(3).find("/MediaBox [0 0 842 595]"), std::string::npos);
    size_t declared = 0;
    const std::string contents = pdf.Stream(5, &declared);
    EXPECT_EQ(contents.size(), declared);
    // 595 - 100 - 421 = 74 points above the bottom edge.
    EXPECT_EQ(contents, "q 842 0 0 421 0 74 cm /Im0 Do Q\n");
}

TEST(PdfWriter, Title_CannotBreakOutOfItsString) {
    const auto picture = Picture(4, 4);
    TParsedPdf pdf(EncodePdf(*picture, TPdfPageLayout{}, u"a) >> /Evil (\u00E9"));
    ASSERT_TRUE(pdf.ReadTable());
    EXPECT_NE(pdf.Object(6).find("/Title <FEFF006100290020003E003E0020002F004500760069006C0020002800E9>"),
              std::string::npos)
        << pdf.Object(6);
}

TEST(PdfWriter, PageWithoutSize_IsRefused) {
    const auto picture = Picture(4, 4);
    TPdfPageLayout layout;
    layout.PageWidth = 0;
    EXPECT_THROW(EncodePdf(*picture, layout), EImageError);
}

}  // namespace
}  // namespace ql
