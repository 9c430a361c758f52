#include "QlLib/Graphics/qlPdfWriter.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/Graphics/qlJpegWriter.h"

namespace ql {

namespace {

// The document information keeps a short title; a longer one is cut.
constexpr size_t kLongestTitle = 256;

// Objects in the order they are written; the cross-reference table lists
// them by these numbers.
enum TObjectNumber : int32_t { onCatalog = 1, onPages, onPage, onImage, onContents, onInfo, onCount };

class TPdfBuilder {
public:
    void Text(std::string_view text) { m_bytes.insert(m_bytes.end(), text.begin(), text.end()); }
    void Bytes(const std::vector<uint8_t>& bytes) { m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end()); }
    void BeginObject(int32_t number) {
        m_offsets[size_t(number)] = m_bytes.size();
        Text(std::to_string(number) + " 0 obj\n");
    }
    void EndObject() { Text("endobj\n"); }
    // The cross-reference entries are 20 bytes each, so a reader finds any
    // object by arithmetic; the trailer says where the table starts.
    std::vector<uint8_t> Finish() {
        const size_t table = m_bytes.size();
        Text("xref\n0 " + std::to_string(int32_t(onCount)) + "\n0000000000 65535 f \n");
        for (int32_t number = 1; number < onCount; ++number) {
            char entry[32];
            std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", m_offsets[size_t(number)]);
            Text(entry);
        }
        Text("trailer\n<< /Size " + std::to_string(int32_t(onCount)) + " /Root " + std::to_string(int32_t(onCatalog)) +
             " 0 R /Info " + std::to_string(int32_t(onInfo)) + " 0 R >>\nstartxref\n" + std::to_string(table) +
             "\n%%EOF\n");
        return std::move(m_bytes);
    }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_offsets[onCount] = {};
};

// A text string as UTF-16BE in hexadecimal with its byte-order mark: no
// character of the title can end the string early.
std::string HexTextString(const std::u16string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out = "<FEFF";
    const size_t count = std::min(text.size(), kLongestTitle);
    for (size_t i = 0; i < count; ++i) {
        const char16_t c = text[i];
        for (int shift = 12; shift >= 0; shift -= 4) out += kDigits[(c >> shift) & 0xF];
    }
    return out + ">";
}

std::string Ref(int32_t number) { return std::to_string(number) + " 0 R"; }

}  // namespace

std::vector<uint8_t> EncodePdf(const TBitmap& picture, const TPdfPageLayout& layout, const std::u16string& title,
                               int32_t jpegQuality) {
    if (layout.PageWidth <= 0 || layout.PageHeight <= 0) throw EImageError("PDF page without a size");
    // EncodeJpeg refuses a picture without pixels.
    const std::vector<uint8_t> jpeg = EncodeJpeg(picture, jpegQuality);

    TPdfBuilder pdf;
    // The comment of four high bytes marks the file as binary for transfer programs.
    pdf.Text("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    pdf.BeginObject(onCatalog);
    pdf.Text("<< /Type /Catalog /Pages " + Ref(onPages) + " >>\n");
    pdf.EndObject();
    pdf.BeginObject(onPages);
    pdf.Text("<< /Type /Pages /Kids [" + Ref(onPage) + "] /Count 1 >>\n");
    pdf.EndObject();
    pdf.BeginObject(onPage);
    pdf.Text("<< /Type /Page /Parent " + Ref(onPages) + " /MediaBox [0 0 " + std::to_string(layout.PageWidth) + " " +
             std::to_string(layout.PageHeight) + "] /Resources << /XObject << /Im0 " + Ref(onImage) +
             " >> /ProcSet [/PDF /ImageC] >> /Contents " + Ref(onContents) + " >>\n");
    pdf.EndObject();

    pdf.BeginObject(onImage);
    pdf.Text("<< /Type /XObject /Subtype /Image /Width " + std::to_string(picture.Width()) + " /Height " +
             std::to_string(picture.Height()) + " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode /Length " +
             std::to_string(jpeg.size()) + " >>\nstream\n");
    pdf.Bytes(jpeg);
    pdf.Text("\nendstream\n");
    pdf.EndObject();

    // PDF pages count upwards from the bottom edge; pictures downwards from the top.
    const int64_t bottom = int64_t(layout.PageHeight) - layout.Top - layout.Height;
    const std::string contents = "q " + std::to_string(layout.Width) + " 0 0 " + std::to_string(layout.Height) + " " +
                                 std::to_string(layout.Left) + " " + std::to_string(bottom) + " cm /Im0 Do Q\n";
    pdf.BeginObject(onContents);
    pdf.Text("<< /Length " + std::to_string(contents.size()) + " >>\nstream\n" + contents + "endstream\n");
    pdf.EndObject();

    pdf.BeginObject(onInfo);
    pdf.Text("<< /Title " + HexTextString(title) + " >>\n");
    pdf.EndObject();
    return pdf.Finish();
}

}  // namespace ql
