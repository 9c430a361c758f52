#include "QlLib/qpStringUtils.h"

#include <gtest/gtest.h>

#include "QlLib/qpExceptions.h"

namespace ql {
namespace {

TEST(StringUtils_Integers, AcceptOnlyPlainDecimalWithinRange) {
    EXPECT_EQ(TryStrToInt(u"42"), 42);
    EXPECT_EQ(TryStrToInt(u"-17"), -17);
    EXPECT_EQ(TryStrToInt(u"+5"), 5);
    EXPECT_EQ(TryStrToInt(u"2147483647"), 2147483647);
    EXPECT_EQ(TryStrToInt(u"-2147483648"), INT32_MIN);
    for (const char16_t* bad : {u"", u"-", u"2147483648", u"-2147483649", u"12ab", u" 1", u"1 ",
                                u"$FF", u"0x10", u"1.5", u"99999999999999999999"}) {
        EXPECT_FALSE(TryStrToInt(bad).has_value()) << ToUtf8(bad);
    }
    EXPECT_EQ(TryStrToInt64(u"-9223372036854775808"), INT64_MIN);
    EXPECT_FALSE(TryStrToInt64(u"9223372036854775808").has_value());
}

TEST(StringUtils_Integers, StrToIntRaisesConvertErrorQuotingTheText) {
    try {
        StrToInt(u"12ab");
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "\"12ab\" is not a valid integer value");
    }
    EXPECT_EQ(StrToIntDef(u"x", 7), 7);
}

TEST(StringUtils_Reals, RejectNanInfinityAndOverflow) {
    EXPECT_DOUBLE_EQ(*TryStrToFloat(u"1.5"), 1.5);
    EXPECT_DOUBLE_EQ(*TryStrToFloat(u"-0.25"), -0.25);
    EXPECT_DOUBLE_EQ(*TryStrToFloat(u".5"), 0.5);
    EXPECT_DOUBLE_EQ(*TryStrToFloat(u"3."), 3.0);
    EXPECT_DOUBLE_EQ(*TryStrToFloat(u"+2e3"), 2000.0);
    for (const char16_t* bad : {u"nan", u"NaN", u"inf", u"-inf", u"1e999", u"", u".", u"1,5",
                                u"0x1p3", u"1e", u"--1"}) {
        EXPECT_FALSE(TryStrToFloat(bad).has_value()) << ToUtf8(bad);
    }
}

TEST(StringUtils_Utf8, RoundTripsSupplementaryCharacters) {
    const std::u16string text = u"A\u00e9\u20ac\U0001F600";
    EXPECT_EQ(ToUtf8(text), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
}

TEST(StringUtils_Utf8, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(FromUtf8("a\x80" "b"), u"a\uFFFDb");
    // A broken sequence keeps the byte that broke it.
    EXPECT_EQ(FromUtf8("\xE2\x82" "A"), u"\uFFFDA");
    EXPECT_EQ(FromUtf8("\xC0\x80"), u"\uFFFD");  // overlong
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(StringUtils_Case, LowerCasesAsciiAndBeyond) {
    EXPECT_EQ(LowerCase(u"MaIn"), u"main");
    EXPECT_TRUE(SameTextIgnoringCase(u"Slide1", u"SLIDE1"));
    EXPECT_FALSE(SameTextIgnoringCase(u"Slide1", u"Slide2"));
}

TEST(Exceptions, CarryTheirClassNamesAndFixedTexts) {
    EXPECT_STREQ(EStreamSeekError().what(), "Tarvik Exception: \"EStreamSeekError\"");
    EXPECT_STREQ(EMutexTakeOwnershipError().what(),
                 "Tarvik Exception: \"EMutexTakeOwnershipError\"");
    EXPECT_STREQ(TCommonException().what(), "Tarvik Exception: \"TCommonException\"");
    EXPECT_STREQ(EDivByZero().what(), "Division by zero");
    EXPECT_STREQ(EInOutError(100).what(), "Read beyond end of file");
    EXPECT_STREQ(EInOutError(77).what(), "I/O error 77");
    EXPECT_STREQ(EOSError(0).what(), "A call to an OS function failed");
    EXPECT_EQ(std::string(EOSError(2).what()).rfind("System Error.  Code: 2.\r\n", 0), 0u);
    const EStreamReadError read;
    const EStreamError& asBase = read;
    EXPECT_STREQ(asBase.ClassName(), "EStreamReadError");
}

TEST(Exceptions, AssertionTextHasItsFixedForm) {
    EXPECT_EQ(AssertionText("bad", "a/b.cpp", 12), "Asseertion with message: 'bad' (a/b.cpp, line: 12)");
    try {
        QL_ASSERT(1 == 2, "numbers");
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.what()).find("Asseertion with message: 'numbers'"), std::string::npos);
    }
}

}  // namespace
}  // namespace ql
