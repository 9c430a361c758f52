#include "QlLib/Platform/qlHost.h"

#include <gtest/gtest.h>

namespace ql {
namespace {

TEST(Host_KeyNames, NamesOfTheMappedKeys) {
    EXPECT_EQ(VirtualKeyFromName("Escape"), 27);
    EXPECT_EQ(VirtualKeyFromName("esc"), 27);
    EXPECT_EQ(VirtualKeyFromName("Space"), 32);
    EXPECT_EQ(VirtualKeyFromName("Pause"), 19);
    EXPECT_EQ(VirtualKeyFromName("p"), 80);
    EXPECT_EQ(VirtualKeyFromName("MediaPlayPause"), 179);
    EXPECT_EQ(VirtualKeyFromName("MediaStop"), 178);
    EXPECT_EQ(VirtualKeyFromName("Left"), 37);
    EXPECT_EQ(VirtualKeyFromName("PageUp"), 33);
    EXPECT_EQ(VirtualKeyFromName("BrowserBack"), 166);
    EXPECT_EQ(VirtualKeyFromName("MediaPrev"), 177);
    EXPECT_EQ(VirtualKeyFromName("RIGHT"), 39);
    EXPECT_EQ(VirtualKeyFromName("PageDown"), 34);
    EXPECT_EQ(VirtualKeyFromName("BrowserForward"), 167);
    EXPECT_EQ(VirtualKeyFromName("MediaNext"), 176);
    EXPECT_EQ(VirtualKeyFromName("Home"), 36);
    EXPECT_EQ(VirtualKeyFromName("End"), 35);
    EXPECT_EQ(VirtualKeyFromName("F1"), 112);
    EXPECT_EQ(VirtualKeyFromName("f24"), 135);
    EXPECT_EQ(VirtualKeyFromName("Enter"), 13);
    EXPECT_EQ(VirtualKeyFromName("7"), '7');
    EXPECT_EQ(VirtualKeyFromName("0x25"), 37);
    EXPECT_EQ(VirtualKeyFromName("65"), 65);
    EXPECT_EQ(VirtualKeyFromName("F25"), 0);
    EXPECT_EQ(VirtualKeyFromName("0x100"), 0);
    EXPECT_EQ(VirtualKeyFromName("Nonsense"), 0);
    EXPECT_EQ(VirtualKeyFromName(""), 0);
}

TEST(Host_KeyNames, NamesReadBack) {
    for (uint16_t key = 1; key < 256; ++key) {
        const std::string name = VirtualKeyName(key);
        EXPECT_EQ(VirtualKeyFromName(name), key) << name;
    }
}

TEST(Host_Modifiers, WordsOfTheScripts) {
    EXPECT_EQ(ModifierFromName("shift"), mods::Shift);
    EXPECT_EQ(ModifierFromName("Ctrl"), mods::Ctrl);
    EXPECT_EQ(ModifierFromName("alt"), mods::Alt);
    EXPECT_EQ(ModifierFromName("win"), mods::Win);
    EXPECT_EQ(ModifierFromName("left"), 0);
}

TEST(Host_Record, JsonLineKeepsOrderAndEscapes) {
    const std::string json = THostRecord("action")
                                 .Int("code", 8)
                                 .Str("text", std::u16string(u"say \"hi\"\r\\ \x01 \xD83D\xDE00"))
                                 .Bool("ok", true)
                                 .Real("ms", 1.5)
                                 .List("argv", {u"a", u"b c"})
                                 .Json(1200);
    EXPECT_EQ(json,
              "{\"t\":1200,\"kind\":\"action\",\"code\":8,\"text\":\"say \\\"hi\\\"\\r\\\\ \\u0001 "
              "\\ud83d\\ude00\",\"ok\":true,\"ms\":1.5,\"argv\":[\"a\",\"b c\"]}");
}

TEST(Host_Record, InvalidUtf8AndNonFiniteNumbersStayValidJson) {
    EXPECT_EQ(JsonQuote("a\xff"), "\"a\xEF\xBF\xBD\"");
    EXPECT_EQ(THostRecord("x").Real("v", 1.0 / 0.0).Json(0), "{\"t\":0,\"kind\":\"x\",\"v\":null}");
}

}  // namespace
}  // namespace ql
