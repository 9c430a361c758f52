#include "QlLib/qlUTF8.h"

#include <gtest/gtest.h>

namespace ql {
namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

TEST(Utf8Strings, EncodesUnitByUnit) {
    EXPECT_EQ(UnicodeToUtf8(u"a\u007F"), "a\x7F");
    EXPECT_EQ(UnicodeToUtf8(u"\u0080\u07FF"), Bytes({0xC2, 0x80, 0xDF, 0xBF}));
    EXPECT_EQ(UnicodeToUtf8(u"\u0800\uFFFF"), Bytes({0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF}));
    // A surrogate pair becomes two three-byte sequences.
    EXPECT_EQ(UnicodeToUtf8(u"\xD83D\xDE00"), Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}));
    EXPECT_EQ(UnicodeToUtf8(u""), "");
}

TEST(Utf8Strings, DecodesOneToFourByteSequences) {
    const std::string bytes = Bytes({'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80});
    EXPECT_EQ(Utf8UnitCount(bytes), 5u);
    EXPECT_EQ(Utf8ToUnicode(bytes), u"a\u00E9\u20AC\xD83D\xDE00");
    EXPECT_EQ(Utf8ToUnicode(Bytes({0xF4, 0x8F, 0xBF, 0xBF})), u"\xDBFF\xDFFF");
}

TEST(Utf8Strings, PerUnitEncodingOfPairsDecodesBackToThePair) {
    const std::u16string text = u"x\xD83D\xDE00y";
    EXPECT_EQ(Utf8ToUnicode(UnicodeToUtf8(text)), text);
}

TEST(Utf8Strings, ConvertsAByteRange) {
    const std::string bytes = Bytes({'?', 0xC3, 0xA9, 'z', '?'});
    EXPECT_EQ(Utf8ToUnicode(reinterpret_cast<const uint8_t*>(bytes.data()), 1, 3), u"\u00E9z");
    EXPECT_EQ(Utf8ToUnicode(reinterpret_cast<const uint8_t*>(bytes.data()), 2, 0), u"");
}

TEST(Utf8Strings, MalformedBytesRaiseInvalidChar) {
    const std::string bad[] = {
        Bytes({0x80}),        Bytes({0xC3}),       Bytes({0xC3, 0x41}), Bytes({0xE2, 0x82}),
        Bytes({0xF8, 0x88, 0x80, 0x80, 0x80}), Bytes({0xFE}), Bytes({0xFF}),
    };
    for (const auto& b : bad) {
        try {
            Utf8UnitCount(b);
            ADD_FAILURE() << testing::PrintToString(b);
        } catch (const EInvalidChar& e) {
            EXPECT_STREQ(e.what(), "Invalid UTF8 Char");
        }
        EXPECT_THROW(Utf8ToUnicode(b), EInvalidChar);
    }
}

TEST(Utf8Strings, ValueAboveTheSurrogateRangeRaisesInvalidChar) {
    try {
        Utf8ToUnicode(Bytes({0xF4, 0x90, 0x80, 0x80}));
        FAIL();
    } catch (const EInvalidChar& e) {
        EXPECT_STREQ(e.what(), "Illegal char range for surrogates");
    }
}

}  // namespace
}  // namespace ql
