#include "QlLib/Platform/qlCodePage.h"

#include <gtest/gtest.h>

#include <string>

#include "QlLib/qlTextReader.h"

namespace ql {
namespace {

std::u16string ReadAll(TTextReader& reader) {
    std::u16string out;
    char16_t buffer[500];
    for (size_t n; (n = reader.Read(buffer, 500)) > 0;) out.append(buffer, n);
    return out;
}

std::unique_ptr<TAnsiCodePage> PageOrNull(int number) { return TAnsiCodePage::Create(number); }

TEST(AnsiCodePage, Windows1252MapsItsUpperHalf) {
    auto page = PageOrNull(1252);
    if (!page) GTEST_SKIP() << "iconv has no CP1252";
    EXPECT_EQ(page->CharOf(0x80), u'\u20AC');
    EXPECT_EQ(page->CharOf(0x41), u'A');
    EXPECT_EQ(page->CharOf(0xE9), u'\u00E9');
    // Bytes the code page leaves undefined cannot be converted.
    EXPECT_EQ(page->CharOf(0x81), 0);
    EXPECT_FALSE(page->IsDoubleByte());
}

TEST(AnsiCodePage, ProcessPageIsBuiltOnceAndDefaultsTo1252) {
    const TAnsiCodePage& page = AnsiCodePage();
    EXPECT_EQ(&page, &AnsiCodePage());
    if (page.Number() == kDefaultAnsiCodePage) {
        EXPECT_EQ(page.CharOf(0x80), u'\u20AC');
    }
    // Too late to change once built.
    EXPECT_FALSE(SetAnsiCodePage(1251));
}

TEST(AnsiCodePage, UnknownPageIsRefused) { EXPECT_EQ(PageOrNull(99999), nullptr); }

TEST(AnsiReader, DecodesThroughTheCodePage) {
    auto page = PageOrNull(1252);
    if (!page) GTEST_SKIP() << "iconv has no CP1252";
    TStringStream stream("\x80 caf\xE9");
    TAnsiReader reader(stream, *page);
    EXPECT_EQ(ReadAll(reader), u"\u20AC caf\u00E9");
}

TEST(AnsiCodePage, DoubleBytePageHasLeadByteTables) {
    auto page = PageOrNull(932);
    if (!page) GTEST_SKIP() << "iconv has no CP932";
    EXPECT_TRUE(page->IsDoubleByte());
    ASSERT_NE(page->LeadInfo(0x82), nullptr);
    EXPECT_EQ(page->LeadInfo(0x82)->chars[0xA0], u'\u3042');  // hiragana a
    EXPECT_EQ(page->LeadInfo(0x41), nullptr);
    EXPECT_EQ(page->CharOf(0xB1), u'\uFF71');  // half-width katakana is single-byte
}

TEST(AnsiReader, DoubleByteCharacterSplitBetweenBlocksIsCarriedOver) {
    auto page = PageOrNull(932);
    if (!page) GTEST_SKIP() << "iconv has no CP932";
    // The lead byte is the last byte of the first 4096-byte block.
    std::string bytes = std::string(4095, 'a') + "\x82\xA0" + "b";
    TStringStream stream(bytes);
    TAnsiReader reader(stream, *page);
    EXPECT_EQ(ReadAll(reader), std::u16string(4095, u'a') + u"\u3042b");

    // A bookmark taken behind the carried lead byte comes back to it.
    stream.SetPosition(0);
    TAnsiReader again(stream, *page);
    std::u16string head(4095, u'\0');
    ASSERT_EQ(again.ReadChars(head, 1, 4095), 4095u);
    auto mark = again.GetPosition();
    EXPECT_EQ(ReadAll(again), u"\u3042b");
    again.SetPosition(*mark);
    EXPECT_EQ(ReadAll(again), u"\u3042b");
}

TEST(AnsiReader, LeadByteEndingTheTextStandsForItself) {
    auto page = PageOrNull(936);
    if (!page) GTEST_SKIP() << "iconv has no CP936";
    TStringStream stream("x\xC4");
    TAnsiReader reader(stream, *page);
    EXPECT_EQ(ReadAll(reader), std::u16string(u"x") + page->CharOf(0xC4));
}

TEST(CharConverter, SetIndexIsClampedAndPlaceExtendsTheFill) {
    auto page = PageOrNull(1252);
    if (!page) GTEST_SKIP() << "iconv has no CP1252";
    TAnsiConverter conv(*page);
    const uint8_t bytes[] = {'h', 'i'};
    conv.Place(0, bytes, 2);
    EXPECT_EQ(conv.Fill(), 2u);
    conv.SetIndex(-3);
    EXPECT_EQ(conv.Index(), 0u);
    conv.SetIndex(100000);
    EXPECT_EQ(conv.Index(), 2u);
    EXPECT_EQ(conv.Pending(), 0u);
    conv.SetIndex(1);
    char16_t out[4];
    ASSERT_EQ(conv.Convert(out, 4, true), 1u);
    EXPECT_EQ(out[0], u'i');
}

}  // namespace
}  // namespace ql
