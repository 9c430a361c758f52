#include "OrbLib2/OrbClasses/qlOrbTextMacros.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../../QlLib/Graphics/MetadataTestSupport.h"
#include "ObjectShowSupport.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Graphics/qlJpegWriter.h"
#include "QlLib/qlIniStorage.h"

namespace orb {
namespace {

using namespace ql::test;

constexpr char16_t kPicture[] = u"C:\\Photos\\Trip\\pic.jpg";

std::string Jpeg(int32_t width, int32_t height) {
    ql::TDirectBitmap bitmap(width, height, ql::PfRGB24());
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width * 3; ++x) bitmap.Row(y)[x] = uint8_t(x + y);
    const std::vector<uint8_t> bytes = ql::EncodeJpeg(bitmap, 80);
    return std::string(bytes.begin(), bytes.end());
}

// A 64 x 48 JPEG with an EXIF comment, description and date and IPTC fields.
std::string JpegWithRecords() {
    TExifSpec exif;
    exif.Ifd0 = {{kTagDescription, kTiffAscii, "Harbour"},
                 {kTagDateTime, kTiffAscii, std::string("2010:05:01 12:34:56\0", 20)}};
    exif.SubIfd = {{kTagUserComment, kTiffUndefined, std::string("ASCII\0\0\0Evening", 15)}};
    const std::string iim = IimUtf8() + IimDataset(2, 105, "<%MainImg.IPTC.Headline%>") +
                            IimDataset(2, 80, "Ann") + IimDataset(2, 80, "Bob") +
                            IimDataset(2, 90, "Troms\xC3\xB8");
    return SpliceAfterSoi(Jpeg(64, 48), JpegSegment(0xE1, ExifPayload(exif)) +
                                            JpegSegment(0xED, PhotoshopPayload(iim)));
}

// Packed entries whose opens are counted by name.
class TCountingSource : public TPackedFileSource {
public:
    using TPackedFileSource::TPackedFileSource;
    int Opens(const std::u16string& name) const {
        std::lock_guard<std::mutex> lock(m_lock);
        const auto found = m_opens.find(name);
        return found == m_opens.end() ? 0 : found->second;
    }

protected:
    std::unique_ptr<ql::TStream> OpenUnmapped(const std::u16string& name) override {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            ++m_opens[name];
        }
        return TPackedFileSource::OpenUnmapped(name);
    }

private:
    mutable std::mutex m_lock;
    std::map<std::u16string, int> m_opens;
};

// A show of 36 slides whose third one (play index 2) holds the given objects.
class TMacroShow {
public:
    TMacroShow(const std::vector<std::u16string>& objects,
               std::vector<test::TTestEntry> entries = {{kPicture, JpegWithRecords()}}) {
        RegisterImageObjects();
        m_source =
            ql::MakeRef<TCountingSource>(test::OpenTestPackage(test::BuildPackage("", entries)));
        m_accessor = std::make_unique<TFileAccessor>(m_source);
        m_host = std::make_unique<TOrbSlideHost>(*m_accessor, test::TestHostCallbacks());
        m_host->SetSlideCount(36);
        std::vector<std::u16string> lines{u"[Slide3]"};
        lines.insert(lines.end(), objects.begin(), objects.end());
        m_document.LoadFromLines(lines);
        Slide = std::make_unique<TOrbSlide>(m_host.get(), 0);
        Slide->SetSize(96, 64);
        Slide->SetIndex(2);
        Slide->LoadFromDocument(*m_document.FindSection(u"Slide3"), false);
    }
    ~TMacroShow() { Slide.reset(); }

    TOrbText& FirstText() const { return *FindText(*Slide); }
    // The text's own lines through the macro step.
    std::u16string Replaced(const std::u16string& text) const {
        TOrbText& holder = FirstText();
        std::u16string joined;
        for (const std::u16string& line : ReplaceTextMacros(holder, {text})) joined += line;
        return joined;
    }
    int PictureOpens() const { return m_source->Opens(kPicture); }

    std::unique_ptr<TOrbSlide> Slide;

private:
    static TOrbText* FindText(TOrbObject& object) {
        if (auto* text = dynamic_cast<TOrbText*>(&object)) return text;
        for (int i = 0; i < object.ChildCount(); ++i)
            if (TOrbText* found = FindText(object.Child(i))) return found;
        return nullptr;
    }

    ql::TRef<TCountingSource> m_source;
    std::unique_ptr<TFileAccessor> m_accessor;
    std::unique_ptr<TOrbSlideHost> m_host;
    ql::TIniFile m_document;
};

std::vector<std::u16string> TextThenMain(const std::u16string& imageName) {
    return {u"object T : text",
            u"  Text=\"x\"",
            u"end",
            u"object G : image",
            u"  object M : mainimage",
            u"    ImageName=" + imageName,
            u"  end",
            u"end"};
}

TEST(TextMacros, TextObjectGivesTheSlideAndItsMainPicture) {
    // The text comes before its main image, which sits inside a group.
    TMacroShow show(TextThenMain(kPicture));
    struct TCase {
        const char16_t* Text;
        const char16_t* Expected;
    } cases[] = {
        {u"<%slideindex%> of <%SLIDESCOUNT%>", u"3 of 36"},
        {u"<%MainImg.Width%>x<%MainImg.Height%> <%MainImg.Width%>", u"64x48 64"},
        {u"<%MainImg.FolderName%>/<%MainImg.FileNameExt%>", u"Trip/pic.jpg"},
        {u"<%MainImg.Exif.Comment%>|<%MainImg.Exif.Description%>", u"Evening|Harbour"},
        {u"<%MainImg.Exif.Date%>T<%MainImg.Exif.Time%>", u"2010:05:01T12:34:56"},
        {u"<%MainImg.IPTC.AuthorByline%> in <%MainImg.IPTC.City%>", u"Ann in Troms\u00f8"},
        {u"<%MainImg.IPTC.Headline%>", u"<%MainImg.IPTC.Headline%>"},
        {u"[<%MainImg.IPTC.Copyright%>]", u"[]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ql::ToUtf8(c.Text));
        EXPECT_EQ(ql::ToUtf8(show.Replaced(c.Text)), ql::ToUtf8(c.Expected));
    }
}

TEST(TextMacros, MissingMainPictureOrRecordsGiveEmptyValues) {
    struct TCase {
        std::vector<std::u16string> Objects;
        std::vector<test::TTestEntry> Entries;
        const char16_t* Text;
        const char16_t* Expected;
    } cases[] = {
        // A picture without EXIF: the comment alone becomes a single space.
        {TextThenMain(u"img01.jpg"),
         {{u"img01.jpg", Jpeg(16, 8)}},
         u"<%MainImg.Exif.Comment%>",
         u" "},
        {TextThenMain(u"img01.jpg"),
         {{u"img01.jpg", Jpeg(16, 8)}},
         u"[<%MainImg.FolderPath%>][<%MainImg.FolderName%>]<%MainImg.FileName%>",
         u"[][]img01"},
        // No entry for the main picture: only the slide macros have values.
        {TextThenMain(u"gone.jpg"),
         {},
         u"<%SlideIndex%>:<%MainImg.Width%>:<%MainImg.IPTC.City%>",
         u"3::"},
        // No main image at all.
        {{u"object T : text", u"end", u"object I : image", u"  ImageName=img01.jpg", u"end"},
         {{u"img01.jpg", Jpeg(16, 8)}},
         u"<%MainImg.FileName%>.<%MainImg.Height%>.<%SlidesCount%>",
         u"..36"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ql::ToUtf8(c.Text));
        TMacroShow show(c.Objects, c.Entries);
        EXPECT_EQ(ql::ToUtf8(show.Replaced(c.Text)), ql::ToUtf8(c.Expected));
    }
}

TEST(TextMacros, RecordsAreReadOncePerPictureAndOnlyForTheirMacros) {
    std::vector<std::u16string> objects = TextThenMain(kPicture);
    objects.insert(objects.end(),
                   {u"object U : text", u"  Text=\"<%MainImg.IPTC.City%>\"", u"end"});
    TMacroShow show(objects);
    // Laying out the slide's texts: the first holds no record macro.
    show.FirstText();
    LoadObjectPictures(*show.Slide);
    const int picture = show.PictureOpens();
    EXPECT_EQ(ql::ToUtf8(dynamic_cast<TOrbText&>(show.Slide->Child(2)).ReplacedLines().at(0)),
              "Troms\u00f8");
    EXPECT_EQ(show.Replaced(u"<%MainImg.Exif.Comment%> <%MainImg.IPTC.Credits%>."), u"Evening .");
    EXPECT_EQ(show.PictureOpens(), picture);
    EXPECT_EQ(show.Replaced(u"<%SlideIndex%>"), u"3");
    EXPECT_EQ(show.PictureOpens(), picture);

    // Without record macros the picture is opened only to be shown.
    TMacroShow plain(TextThenMain(kPicture));
    LoadObjectPictures(*plain.Slide);
    EXPECT_EQ(plain.Replaced(u"<%SlideIndex%> <%MainImg.FileName%>"), u"3 pic");
    EXPECT_EQ(plain.PictureOpens(), picture - 1);
}

}  // namespace
}  // namespace orb
