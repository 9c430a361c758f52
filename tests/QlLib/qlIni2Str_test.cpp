#include "QlLib/qlIni2Str.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ql {
namespace {

std::vector<std::u16string> LinesOf(const ql::TIniStorage& document) {
    std::vector<std::u16string> lines;
    document.SaveToLines(lines);
    return lines;
}

std::unique_ptr<ql::TIniFile> Parse(const std::vector<std::u16string>& lines) {
    auto document = std::make_unique<ql::TIniFile>();
    document->LoadFromLines(lines);
    return document;
}

TEST(Ini2Str, Encode_DoublesSlashesAndEndsEveryLine) {
    auto document = Parse({u"[Main]", u"Path=a/b"});
    EXPECT_EQ(DocumentToLine(*document), u"[Main]/nPath=a//b/n");
}

TEST(Ini2Str, Buffer_GrowsByDoubling) {
    TIni2Str buffer;
    EXPECT_EQ(buffer.Capacity(), 256u);
    buffer.WriteLine(std::u16string(300, u'x'));
    EXPECT_EQ(buffer.Capacity(), 512u);
    EXPECT_EQ(buffer.Length(), 302u);
}

TEST(Ini2Str, RoundTrip_KeepsSectionsObjectsAndSlashes) {
    auto document = Parse({u"[Main]", u"Duration=15000", u"", u"[0]", u"FileName=music//a/b.mp3",
                           u"object m : music", u"  Volume=50", u"end", u"; comment /n"});
    const std::u16string line = DocumentToLine(*document);
    EXPECT_EQ(line.find(u'\n'), std::u16string::npos);
    ql::TIniFile back;
    ASSERT_TRUE(LineToDocument(line, back));
    EXPECT_EQ(LinesOf(back), LinesOf(*document));
    EXPECT_EQ(back.ReadString(u"0", u"FileName", u""), u"music//a/b.mp3");
    EXPECT_EQ(back.ReadInteger(u"main", u"duration", 0), 15000);
}

TEST(Ini2Str, Decode_TwoLinesAndADoubledSlash) {
    ql::TIniFile document;
    ASSERT_TRUE(LineToDocument(u"[S]/nK=a//b/n", document));
    EXPECT_EQ(LinesOf(document), (std::vector<std::u16string>{u"[S]", u"K=a/b"}));
}

TEST(Ini2Str, Decode_DropsTextAfterTheLastLineEnd) {
    ql::TIniFile document;
    ASSERT_TRUE(LineToDocument(u"[S]/nK=1/nL=2", document));
    EXPECT_EQ(document.ReadInteger(u"S", u"K", 0), 1);
    EXPECT_EQ(document.ReadInteger(u"S", u"L", 0), 0);
}

TEST(Ini2Str, Decode_RejectsBadEscapes) {
    ql::TIniFile document;
    EXPECT_FALSE(LineToDocument(u"[S]/nK=1/", document));
    EXPECT_FALSE(LineToDocument(u"[S]/xK=1/n", document));
    EXPECT_FALSE(LineToDocument(u"[S]/N", document));
    EXPECT_TRUE(document.IsEmpty());
}

TEST(Ini2Str, Decode_RefusesOverlongLinesAndDeepNesting) {
    ql::TIniFile document;
    EXPECT_FALSE(LineToDocument(std::u16string(kMaxIni2StrLength + 1, u'a'), document));
    // Unbalanced objects end the parse with an error the document reports;
    // thousands of nested blocks stay bounded by the parser.
    std::u16string deep;
    for (int i = 0; i < 5000; ++i) deep += u"object o : x/n";
    for (int i = 0; i < 5000; ++i) deep += u"end/n";
    LineToDocument(deep, document);
    SUCCEED();
}

TEST(Ini2Str, Decode_EmptyLineIsAnEmptyDocument) {
    ql::TIniFile document;
    EXPECT_TRUE(LineToDocument(u"", document));
    EXPECT_TRUE(document.IsEmpty());
}

}  // namespace
}  // namespace ql
