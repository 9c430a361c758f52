#include "OrbLib2/OrbClasses/qlMTParser.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using TValues = std::map<std::u16string, std::u16string>;

// A parser whose provider answers from a table (empty for tokens it lacks)
// and records what it was asked.
struct TTableParser {
    explicit TTableParser(TValues values) : Values(std::move(values)) {
        Parser.SetProvider([this](TMTParser&, const std::u16string& token) {
            Asked.push_back(token);
            const auto found = Values.find(token);
            return found == Values.end() ? std::u16string() : found->second;
        });
    }
    TValues Values;
    std::vector<std::u16string> Asked;
    TMTParser Parser;
};

const TValues kTrip{{u"<%SlideIndex%>", u"3"},
                    {u"<%SlidesCount%>", u"36"},
                    {u"<%MainImg.Width%>", u"4000"},
                    {u"<%MainImg.Height%>", u"3000"},
                    {u"<%MainImg.PathNameExt%>", u"C:\\Photos\\Trip\\img01.jpg"},
                    {u"<%MainImg.Exif.Date%>", u"2010:05:01 12:34:56"},
                    {u"<%MainImg.Exif.Time%>", u"2010:05:01 12:34:56"},
                    {u"<%MainImg.IPTC.City%>", u"Oslo"}};

TValues With(TValues values, const std::u16string& token, const std::u16string& value) {
    values[token] = value;
    return values;
}

TEST(MTParser, MacrosAreReplacedByTheirValuesAndCuts) {
    struct TCase {
        const char16_t* Text;
        TValues Values;
        const char16_t* Expected;
    } cases[] = {
        // Case does not matter; the provider is asked with the table's spelling.
        {u"Slide <%slideindex%> of <%SLIDESCOUNT%>", kTrip, u"Slide 3 of 36"},
        {u"<%SlideIndex%>/<%SlideIndex%>", kTrip, u"3/3"},
        {u"<%MainImg.Width%>x<%MainImg.Height%> in <%MainImg.IPTC.City%>", kTrip,
         u"4000x3000 in Oslo"},
        {u"<%MainImg.FileName%>|<%MainImg.PathName%>|<%MainImg.FileNameExt%>", kTrip,
         u"img01|C:\\Photos\\Trip\\img01|img01.jpg"},
        {u"<%MainImg.FolderPath%>|<%MainImg.FolderName%>|<%MainImg.PathNameExt%>", kTrip,
         u"C:\\Photos\\Trip\\|Trip|C:\\Photos\\Trip\\img01.jpg"},
        {u"<%MainImg.Exif.Date%> at <%MainImg.Exif.Time%>", kTrip, u"2010:05:01 at 12:34:56"},
        // Without a folder: both folder parts are empty.
        {u"[<%MainImg.FolderPath%>][<%MainImg.FolderName%>]<%MainImg.FileName%>",
         With(kTrip, u"<%MainImg.PathNameExt%>", u"img01.jpg"), u"[][]img01"},
        // A dot in a folder is no extension; a name without a dot has none.
        {u"<%MainImg.PathName%>|<%MainImg.FileName%>|<%MainImg.FolderName%>",
         With(kTrip, u"<%MainImg.PathNameExt%>", u"C:\\My.Photos\\img"),
         u"C:\\My.Photos\\img|img|My.Photos"},
        {u"<%MainImg.FileName%>", With(kTrip, u"<%MainImg.PathNameExt%>", u"img01"), u"img01"},
        // A date without a time.
        {u"<%MainImg.Exif.Date%>|<%MainImg.Exif.Time%>",
         With(With(kTrip, u"<%MainImg.Exif.Date%>", u"2010:05:01"), u"<%MainImg.Exif.Time%>",
              u"2010:05:01"),
         u"2010:05:01|"},
        // Only an empty macro: a single space.
        {u"<%MainImg.Exif.Comment%>", kTrip, u" "},
        {u"", kTrip, u" "},
        // A value that holds its own token is inserted once.
        {u"<%MainImg.IPTC.Headline%>!",
         With(kTrip, u"<%MainImg.IPTC.Headline%>", u"<%MainImg.IPTC.Headline%>"),
         u"<%MainImg.IPTC.Headline%>!"},
        // Unknown and unclosed tokens stay as they are.
        {u"<%Nope%> <%SlideIndex", kTrip, u"<%Nope%> <%SlideIndex"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ql::ToUtf8(c.Text));
        TTableParser table(c.Values);
        EXPECT_EQ(ql::ToUtf8(table.Parser.Replace(c.Text)), ql::ToUtf8(c.Expected));
    }
}

TEST(MTParser, ProviderIsAskedOncePerOccurrenceWithTheTablesToken) {
    TTableParser table(kTrip);
    table.Parser.Replace(u"<%mainimg.FOLDERNAME%> <%SlideIndex%> <%SLIDEINDEX%> plain");
    EXPECT_EQ(table.Asked, (std::vector<std::u16string>{u"<%SlideIndex%>", u"<%SlideIndex%>",
                                                        u"<%MainImg.PathNameExt%>"}));
    // A text without "<%" asks nothing.
    table.Asked.clear();
    EXPECT_EQ(table.Parser.Replace(u"SlideIndex%>"), u"SlideIndex%>");
    EXPECT_TRUE(table.Asked.empty());
}

TEST(MTParser, ValuesHoldingLaterTokensGrowTheTextOnlyToTheBound) {
    std::u16string counts;
    for (int i = 0; i < 5000; ++i) counts += u"<%SlidesCount%>";
    TTableParser table(
        {{u"<%SlideIndex%>", counts}, {u"<%SlidesCount%>", std::u16string(100, u'n')}});
    // Unbounded, 5000 x 100 characters.
    const std::u16string result = table.Parser.Replace(u"<%SlideIndex%>.");
    EXPECT_EQ(result.size(), kMaxMacroTextLength);
    EXPECT_EQ(result.substr(0, 15), std::u16string(15, u'n'));
    EXPECT_EQ(result.back(), u'.');
}

TEST(MTParser, ReplacingWithoutProviderRaises) {
    TMTParser parser;
    EXPECT_FALSE(parser.HasProvider());
    EXPECT_THROW(parser.Replace(u"<%SlideIndex%>"), EMTParserError);
}

TEST(MTParser, FileNamePartsFollowTheBackslashOnly) {
    struct TCase {
        const char16_t* Path;
        const char16_t *FileNameExt, *FileName, *PathName, *FolderPath, *FolderName;
    } cases[] = {
        {u"C:\\Photos\\Trip\\img01.jpg", u"img01.jpg", u"img01", u"C:\\Photos\\Trip\\img01",
         u"C:\\Photos\\Trip\\", u"Trip"},
        {u"img.tar.gz", u"img.tar.gz", u"img.tar", u"img.tar", u"", u""},
        {u"a/b/c.png", u"a/b/c.png", u"a/b/c", u"a/b/c", u"", u""},
        {u"\\img.jpg", u"img.jpg", u"img", u"\\img", u"\\", u""},
        {u"", u"", u"", u"", u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ql::ToUtf8(c.Path));
        EXPECT_EQ(MacroFileNameExt(c.Path), c.FileNameExt);
        EXPECT_EQ(MacroFileName(c.Path), c.FileName);
        EXPECT_EQ(MacroPathName(c.Path), c.PathName);
        EXPECT_EQ(MacroFolderPath(c.Path), c.FolderPath);
        EXPECT_EQ(MacroFolderName(c.Path), c.FolderName);
    }
}

}  // namespace
}  // namespace orb
