#include "QlLib/VectorGraphics/qlGlyphCache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "OrbLib2/OrbPackage/qlOrbPackWriter.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "TestFolder.h"

namespace ql {
namespace {

std::string Bytes(TMemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Memory()), size_t(stream.GetSize()));
}

std::unique_ptr<TMemoryStream> StreamOf(const std::string& bytes) {
    auto stream = std::make_unique<TMemoryStream>();
    stream->WriteBuffer(bytes.data(), bytes.size());
    stream->SetPosition(0);
    return stream;
}

// The glyph caches and the stored text of a text set in an installed font.
struct TStoredText {
    std::string text;
    std::map<std::u16string, std::string> caches;
};

TStoredText Store(const TVectorText& source) {
    TFontCache fonts;
    AddGlyphsOf(source, fonts);
    TStoredText stored;
    TMemoryStream text;
    TCachedVectorText::FromVectorText(source, fonts)->SaveToStream(text);
    stored.text = Bytes(text);
    for (int32_t line = 0; line < source.LineCount(); ++line)
        for (int32_t g = 0; g < source.GlyphCount(line); ++g) {
            const std::u16string name = source.GetGlyphInfo(line, g).FontName;
            if (stored.caches.count(name)) continue;
            TMemoryStream cache;
            fonts.Find(name)->SaveToStream(cache);
            stored.caches[name] = Bytes(cache);
        }
    return stored;
}

TEST(GlyphCache, TextFromPackagedCache_MatchesTheInstalledFontItCameFrom) {
    const TSimpleVectorText installed({u"Glyph caches, 123!", u"", u"Second line: \u00e9\u00e8"},
                                      u"DejaVu Serif", 36, false, true);
    const TStoredText stored = Store(installed);

    // A generated show package carries the text and its font's glyph cache.
    test::TTestFolder folder;
    const std::u16string showName = folder.WideFile("show.exe");
    {
        TFileStream out(showName, TFileAccess::ReadWrite, 0, TFileDisposition::CreateAlways);
        orb::TOrbPackWriter writer(out);
        TMemoryStream player;
        player.WriteAnsi("player program");
        player.SetPosition(0);
        writer.AddPlayer(u"player.exe", player);
        writer.AddEntry(u"Project.orb", "[Main]\r\n", 0);
        writer.AddEntry(u"VectTxt2: sample", stored.text, 1);
        for (const auto& [font, bytes] : stored.caches)
            writer.AddEntry(kGlyphCacheEntryPrefix + font, bytes, 1);
        writer.Finish();
    }
    orb::TOrbUnpack unpack;
    ASSERT_EQ(unpack.Open(showName), orb::TUnpackResult::Ok);
    TFontCache fonts;
    fonts.SetOpener([&](const std::u16string& name) { return unpack.OpenEntry(name); });
    auto entry = unpack.OpenEntry(u"VectTxt2: sample");
    ASSERT_TRUE(entry);
    std::unique_ptr<TCachedVectorText> cached = LoadCachedVectorText(*entry, fonts);
    ASSERT_TRUE(cached);
    EXPECT_TRUE(fonts.Find(u"DejaVu Serif Italic"));

    TTextProducer fromFont, fromCache;
    fromFont.SetText(&installed);
    fromCache.SetText(cached.get());
    auto a = fromFont.Render(0xFF203040, 0x00203040, {0, 0}, false, false, 1.5f);
    auto b = fromCache.Render(0xFF203040, 0x00203040, {0, 0}, false, false, 1.5f);
    // The cache keeps no advance past the ink, so its picture may end a few
    // columns sooner; everything both pictures hold is the same.
    ASSERT_EQ(a->Height(), b->Height());
    ASSERT_LE(b->Width(), a->Width());
    ASSERT_GE(b->Width(), a->Width() - 4);
    int32_t differing = 0, ink = 0;
    for (int32_t y = 0; y < a->Height(); ++y) {
        differing += std::memcmp(a->Row(y), b->Row(y), size_t(b->Width()) * 4) != 0;
        for (int32_t x = b->Width(); x < a->Width(); ++x) EXPECT_EQ(a->Row(y)[x * 4 + 3], 0);
        for (int32_t x = 0; x < b->Width(); ++x) ink += b->Row(y)[x * 4 + 3] != 0;
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(ink, 1000);
}

TEST(GlyphCache, StreamRoundTrip_KeepsMetricsAndPaths) {
    const auto cache = MakeRef<TGlyphCache>(u"Font");
    TGlyphInfo info;
    info.OriginX = 5;
    info.OriginY = 100;
    info.ExtentX = 80;
    info.ExtentY = 100;
    info.Ascent = 120;
    info.Descent = 30;
    info.DesignSize = 1000;
    cache->Add(
        {65, info, {{0, 0, ptMoveTo}, {10, -5, ptQuadTo}, {20, 0, ptQuadTo}, {0, 0, ptClose}}});
    TMemoryStream stream;
    cache->SaveToStream(stream);
    EXPECT_EQ(stream.GetSize(), 4 + 4 + 8 + 2 + 7 * 4 + 4 + 4 * 12);
    stream.SetPosition(0);
    const auto loaded = MakeRef<TGlyphCache>();
    loaded->LoadFromStream(stream);
    EXPECT_EQ(loaded->FontName(), u"Font");
    const TGlyphData* glyph = loaded->Find(65);
    ASSERT_TRUE(glyph);
    EXPECT_EQ(glyph->Info.OriginY, 100);
    EXPECT_EQ(glyph->Info.AdvanceA + glyph->Info.AdvanceB + glyph->Info.AdvanceC, 85);
    EXPECT_EQ(glyph->Path, cache->Find(65)->Path);
    EXPECT_FALSE(loaded->Find(66));
}

std::string SampleCacheBytes() {
    const auto cache = MakeRef<TGlyphCache>(u"F");
    TGlyphInfo info;
    info.DesignSize = 100;
    cache->Add({1,
                info,
                {{0, 0, ptMoveTo},
                 {50, 0, ptLineTo},
                 {50, 50, ptCubicTo},
                 {0, 50, ptCubicTo},
                 {0, 0, ptCubicTo},
                 {0, 0, ptClose}}});
    cache->Add({2, info, {}});
    TMemoryStream stream;
    cache->SaveToStream(stream);
    return Bytes(stream);
}

TEST(GlyphCache, EveryTruncation_RaisesStreamReadError) {
    const std::string bytes = SampleCacheBytes();
    for (size_t n = 0; n < bytes.size(); ++n) {
        auto stream = StreamOf(bytes.substr(0, n));
        const auto cache = MakeRef<TGlyphCache>();
        EXPECT_THROW(cache->LoadFromStream(*stream), EStreamReadError) << n;
    }
}

void PatchDWord(std::string& bytes, size_t at, uint32_t value) {
    std::memcpy(&bytes[at], &value, 4);
}

TEST(GlyphCache, CountsBeyondTheBytesLeft_RefusedBeforeAllocating) {
    std::string bytes = SampleCacheBytes();
    PatchDWord(bytes, 0, 0x7FFFFFFF);  // glyph count
    const auto cache = MakeRef<TGlyphCache>();
    EXPECT_THROW(cache->LoadFromStream(*StreamOf(bytes)), EStreamReadError);
    bytes = SampleCacheBytes();
    PatchDWord(bytes, 4, 0x40000000);  // font name length
    EXPECT_THROW(cache->LoadFromStream(*StreamOf(bytes)), EStreamReadError);
    bytes = SampleCacheBytes();
    PatchDWord(bytes, 4 + 4 + 2 + 2 + 7 * 4, 0x10000000);  // first glyph's point count
    EXPECT_THROW(cache->LoadFromStream(*StreamOf(bytes)), EStreamReadError);
}

TEST(GlyphCache, BadPoints_RejectedOrSaturated) {
    const size_t firstPoint = 4 + 4 + 2 + 2 + 7 * 4 + 4;
    auto loadWith = [&](size_t offset, uint32_t value) {
        std::string bytes = SampleCacheBytes();
        PatchDWord(bytes, firstPoint + offset, value);
        const auto cache = MakeRef<TGlyphCache>();
        cache->LoadFromStream(*StreamOf(bytes));
        return cache->Find(1)->Path;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN(), huge = 1e30f;
    uint32_t bits;
    std::memcpy(&bits, &nan, 4);
    EXPECT_THROW(loadWith(0, bits), EStreamReadError);
    std::memcpy(&bits, &huge, 4);
    EXPECT_EQ(loadWith(4, bits)[0].y, kMaxGlyphCoordinate);
    EXPECT_THROW(loadWith(8, 5), EStreamReadError);         // unknown type
    EXPECT_THROW(loadWith(8, ptLineTo), EStreamReadError);  // no start point
    EXPECT_THROW(loadWith(5 * 12 + 8, ptCubicTo),
                 EStreamReadError);  // a cubic at the end lacks its points
}

TEST(CachedVectorText, MissingFontAndGlyph_RaiseTheirMessages) {
    TFontCache fonts;
    auto cache = MakeRef<TGlyphCache>(u"Known");
    TGlyphInfo info;
    info.DesignSize = 10;
    cache->Add({65, info, {}});
    fonts.Add(cache);
    TMemoryStream stream;
    stream.WriteDWord(1);
    stream.WriteDWord(10);
    stream.WriteDWord(3);
    for (int i = 0; i < 4; ++i) stream.WriteDWord(0);
    stream.WriteDWord(3);
    auto pointer = [&](uint16_t key, const std::u16string& font) {
        stream.WriteDWord(0);
        const float size = 12;
        stream.WriteBuffer(&size, 4);
        stream.WriteWord(key);
        stream.WriteDWord(uint32_t(font.size()));
        stream.WriteWide(font);
    };
    pointer(65, u"Known");
    pointer(66, u"Known");
    pointer(65, u"Unknown");
    stream.SetPosition(0);
    TCachedVectorText text(fonts);
    text.LoadFromStream(stream, fonts);
    EXPECT_EQ(text.GlyphSize(0, 0), 12);
    EXPECT_NO_THROW(text.GetGlyphInfo(0, 0));
    try {
        text.GetGlyphInfo(0, 1);
        FAIL();
    } catch (const EVectorTextError& e) {
        EXPECT_EQ(e.Message(), "Glyph Known 66 not found");
    }
    try {
        text.GetGlyphPath(0, 2);
        FAIL();
    } catch (const EVectorTextError& e) {
        EXPECT_EQ(e.Message(), "Font Unknown not found");
    }
    stream.SetPosition(0);
    EXPECT_FALSE(LoadCachedVectorText(stream, fonts));  // "no text" rather than a fault later
}

TEST(CachedVectorText, EveryTruncation_GivesNoText) {
    const TSimpleVectorText installed({u"ab", u"c"}, u"DejaVu Sans", 20);
    const TStoredText stored = Store(installed);
    TFontCache fonts;
    fonts.SetOpener([&](const std::u16string& name) -> std::unique_ptr<TStream> {
        const std::u16string font = name.substr(std::u16string(kGlyphCacheEntryPrefix).size());
        if (!stored.caches.count(font)) return nullptr;
        return StreamOf(stored.caches.at(font));
    });
    EXPECT_TRUE(LoadCachedVectorText(*StreamOf(stored.text), fonts));
    for (size_t n = 0; n < stored.text.size(); ++n)
        EXPECT_FALSE(LoadCachedVectorText(*StreamOf(stored.text.substr(0, n)), fonts)) << n;
}

TEST(FontCache, DamagedEntry_LeavesTheFontUnknownAndIsTriedOnce) {
    TFontCache fonts;
    int opened = 0;
    fonts.SetOpener([&](const std::u16string& name) {
        ++opened;
        EXPECT_EQ(name, u"VectTextCache: Broken");
        return StreamOf(SampleCacheBytes().substr(0, 20));
    });
    fonts.RequireFont(u"Broken");
    fonts.RequireFont(u"Broken");
    EXPECT_FALSE(fonts.Find(u"Broken"));
    EXPECT_EQ(opened, 1);
}

TEST(FontCache, OpenerMaySetANewOpener_AndAFontFromTheOldOneIsDropped) {
    // Opening an entry can reach a picture maker that sets the opener of the
    // show it belongs to; the cache must not hold its lock across the call.
    TFontCache fonts;
    int opened = 0;
    const auto open = [&](const std::u16string&) {
        ++opened;
        return StreamOf(SampleCacheBytes());
    };
    fonts.SetOpener([&](const std::u16string& name) {
        fonts.SetOpener(open);
        return open(name);
    });
    fonts.RequireFont(u"F");
    EXPECT_FALSE(fonts.Find(u"F"));  // read through an opener that was replaced meanwhile
    fonts.RequireFont(u"F");
    EXPECT_TRUE(fonts.Find(u"F"));
    EXPECT_EQ(opened, 2);
}

TEST(FontCache, NewShowIdentity_DropsTheCaches) {
    TFontCache fonts;
    fonts.SetIdentity(u"{A}");
    fonts.Add(MakeRef<TGlyphCache>(u"F"));
    fonts.SetIdentity(u"{A}");
    EXPECT_TRUE(fonts.Find(u"F"));
    fonts.SetIdentity(u"{B}");
    EXPECT_FALSE(fonts.Find(u"F"));
}

}  // namespace
}  // namespace ql
