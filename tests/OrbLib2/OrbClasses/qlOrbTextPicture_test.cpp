#include "OrbLib2/OrbClasses/qlOrbTextPicture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "OrbLib2/OrbClasses/qlOrbGeneratedPicture.h"
#include "QlLib/Graphics/qlImageTransform.h"

namespace orb {
namespace {

constexpr char16_t kFont[] = u"DejaVu Sans";

// Package entries in memory.
class TEntries {
public:
    void Add(const std::u16string& name, ql::TMemoryStream& stream) {
        m_entries[name] =
            std::string(reinterpret_cast<const char*>(stream.Memory()), size_t(stream.GetSize()));
    }
    ql::TEntryOpener Opener() {
        return [this](const std::u16string& name) -> std::unique_ptr<ql::TStream> {
            ++Opens[name];
            auto it = m_entries.find(name);
            if (it == m_entries.end()) return nullptr;
            auto stream = std::make_unique<ql::TMemoryStream>();
            stream->WriteBuffer(it->second.data(), it->second.size());
            stream->SetPosition(0);
            return stream;
        };
    }
    std::map<std::u16string, int> Opens;

private:
    std::map<std::u16string, std::string> m_entries;
};

TTextPictureRequest Request(std::vector<std::u16string> lines, uint32_t colour = 0xFF20C040) {
    TTextPictureRequest request;
    request.Params.FontName = kFont;
    request.Params.Color = colour;
    request.Scale = 1;
    request.Lines = std::move(lines);
    return request;
}

struct TInk {
    ql::TRect Box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    int32_t OpaquePixels = 0;
    bool ColourMatches = true;  // every pixel with ink has the text colour
};

TInk InkOf(const ql::TBitmap& bitmap, uint32_t colour) {
    TInk ink;
    for (int32_t y = 0; y < bitmap.Height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(bitmap.Row(y));
        for (int32_t x = 0; x < bitmap.Width(); ++x) {
            if ((row[x] >> 24) == 0) continue;
            ink.Box.left = std::min(ink.Box.left, x);
            ink.Box.top = std::min(ink.Box.top, y);
            ink.Box.right = std::max(ink.Box.right, x + 1);
            ink.Box.bottom = std::max(ink.Box.bottom, y + 1);
            ink.OpaquePixels += (row[x] >> 24) == 255;
            ink.ColourMatches = ink.ColourMatches && (row[x] & 0xFFFFFF) == (colour & 0xFFFFFF);
        }
    }
    return ink;
}

TEST(TextPicture, NameIsRenderedInTheTextColour) {
    ql::TFontCache fonts;
    const uint32_t colour = 0xFF20C040;
    const std::u16string name = TextPictureName(Request({u"Hello", u"World"}, colour));
    auto store = MakeTextPicture(name, {}, fonts);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Params().Name, name);
    ql::TBitmap* bitmap = store->GetBitmap(0, ql::PfARGB32());
    ASSERT_TRUE(bitmap);
    TInk ink = InkOf(*bitmap, colour);
    EXPECT_FALSE(ink.Box.IsEmpty());
    EXPECT_GT(ink.OpaquePixels, 100);
    EXPECT_TRUE(ink.ColourMatches);
    // Two lines: the ink reaches well into the lower half.
    EXPECT_GT(ink.Box.bottom, bitmap->Height() * 3 / 4);
}

TEST(TextPicture, ScaleInTheNameScalesThePicture) {
    ql::TFontCache fonts;
    TTextPictureRequest request = Request({u"Scale"});
    auto one = MakeTextPicture(TextPictureName(request), {}, fonts);
    request.Scale = 2;
    auto two = MakeTextPicture(TextPictureName(request), {}, fonts);
    ASSERT_TRUE(one && two);
    EXPECT_NEAR(two->Height(), 2 * one->Height(), 3);
    EXPECT_NEAR(two->Width(), 2 * one->Width(), 3);
}

TEST(TextPicture, StoredOutlinesAreFoundByTheCaseMarkedNameAndMatchTheFont) {
    TTextPictureRequest request = Request({u"Stored Text", u"Two"});
    request.Params.Style = kFontItalic;
    // Left-aligned, so that the narrower stored picture lines up column for column.
    request.Params.Alignment = kAlignLeft;
    request.Scale = 1.5;
    ql::TFontCache fonts;
    auto installed = MakeVectorText(request.Params, request.Lines, {}, fonts);
    ASSERT_TRUE(installed);

    // What the authoring side stores: the text and its font's glyph cache.
    TEntries entries;
    {
        ql::TFontCache building;
        ql::AddGlyphsOf(*installed, building);
        ql::TMemoryStream text;
        ql::TCachedVectorText::FromVectorText(*installed, building)->SaveToStream(text);
        entries.Add(u"VectTxt2: DejaVu Sans:Italic:\"<S>tored <T>ext\"^&\"<T>wo\"", text);
        const std::u16string font = installed->GetGlyphInfo(0, 0).FontName;
        ql::TMemoryStream cache;
        building.Find(font)->SaveToStream(cache);
        entries.Add(VectorTextCacheName(font), cache);
    }
    ql::TFontCache showFonts;
    showFonts.SetOpener(entries.Opener());
    TVectorTextOrigin origin = TVectorTextOrigin::None;
    auto stored =
        MakeVectorText(request.Params, request.Lines, entries.Opener(), showFonts, &origin);
    ASSERT_TRUE(stored);
    EXPECT_EQ(origin, TVectorTextOrigin::Stored);

    const std::u16string name = TextPictureName(request);
    auto fromPackage = MakeTextPicture(name, entries.Opener(), showFonts);
    auto fromFont = MakeTextPicture(name, {}, fonts);
    ASSERT_TRUE(fromPackage && fromFont);
    ql::TBitmap* a = fromFont->GetBitmap(0, ql::PfARGB32());
    ql::TBitmap* b = fromPackage->GetBitmap(0, ql::PfARGB32());
    ASSERT_EQ(a->Height(), b->Height());
    // The stored form keeps no advance past the ink, so it may end a few columns sooner.
    ASSERT_LE(b->Width(), a->Width());
    ASSERT_GE(b->Width(), a->Width() - 4);
    int32_t differing = 0;
    for (int32_t y = 0; y < b->Height(); ++y)
        differing += std::memcmp(a->Row(y), b->Row(y), size_t(b->Width()) * 4) != 0;
    EXPECT_EQ(differing, 0);
    EXPECT_GT(InkOf(*b, request.Params.Color).OpaquePixels, 100);
}

TEST(TextPicture, MissingOrDamagedStoredTextFallsBackToTheFont) {
    TEntries entries;
    ql::TMemoryStream junk;
    junk.WriteAnsi("not a text");
    TTextPictureRequest request = Request({u"abc"});
    entries.Add(VectorTextName(kFont, 0, request.Lines), junk);
    ql::TFontCache fonts;
    TVectorTextOrigin origin = TVectorTextOrigin::None;
    EXPECT_TRUE(MakeVectorText(request.Params, request.Lines, entries.Opener(), fonts, &origin));
    EXPECT_EQ(origin, TVectorTextOrigin::InstalledFont);
    request.Lines = {u"other"};
    EXPECT_TRUE(MakeVectorText(request.Params, request.Lines, entries.Opener(), fonts, &origin));
    EXPECT_EQ(origin, TVectorTextOrigin::InstalledFont);
    EXPECT_EQ(entries.Opens[u"VectTxt2: DejaVu Sans::\"other\""], 1);
}

TEST(TextPicture, ForeignNamesAndCancelledRenderingGiveNothing) {
    ql::TFontCache fonts;
    EXPECT_FALSE(MakeTextPicture(u"Shadow: 1", {}, fonts));
    TTextPictureRequest request = Request({u"a", u"b"});
    request.Scale = 0;
    EXPECT_FALSE(MakeTextPicture(TextPictureName(request), {}, fonts));
    request.Scale = 1;
    EXPECT_FALSE(MakeTextPicture(TextPictureName(request), {}, fonts, [](float) { return false; }));
}

TEST(TextPicture, LaidOutSizeCountsLineSpacing) {
    ql::TFontCache fonts;
    TTextParams params;
    params.FontName = kFont;
    auto text = MakeVectorText(params, {u"A", u"B"}, {}, fonts);
    ASSERT_TRUE(text);
    const ql::TPointF tight = LaidOutSize(*text, params);
    params.LineSpacing = 100;
    const ql::TPointF loose = LaidOutSize(*text, params);
    EXPECT_GT(tight.x, 0);
    EXPECT_FLOAT_EQ(loose.y - tight.y, (text->Ascent() + text->Descent()) / 2);
}

// Peak signal to noise over every byte of two pictures of one size and format.
double Psnr(const ql::TBitmap& a, const ql::TBitmap& b) {
    double sum = 0;
    int64_t count = 0;
    const int32_t rowBytes = a.Width() * a.PixelFormat()->BytesPerPixel();
    for (int32_t y = 0; y < a.Height(); ++y)
        for (int32_t i = 0; i < rowBytes; ++i) {
            const double d = double(a.Row(y)[i]) - double(b.Row(y)[i]);
            sum += d * d;
            ++count;
        }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * double(count) / sum);
}

// A text whose picture is named wider than any screen shows is drawn no finer
// than the generated pictures' largest side: that level is set directly at its
// own scale, holds a small part of the full picture's memory, and looks like
// the full picture halved down to it.
TEST(TextPicture, PastTheLargestSide_IsSetAtTheLevelDrawnLikeTheFullPictureHalved) {
    ql::TFontCache fonts;
    std::u16string line;
    for (int i = 0; i < 4; ++i) line += u"The quick brown fox jumps over the lazy dog. ";
    TTextPictureRequest request = Request({line, line});
    request.Scale = 6;
    auto store = MakeTextPicture(TextPictureName(request), {}, fonts);
    ASSERT_TRUE(store);
    const int32_t level = store->FinestLevel();
    ASSERT_GT(level, 0) << store->Width() << " x " << store->Height();
    const int64_t before = ql::PictureMemoryHeld();
    const ql::TBitmap* drawn = store->GetBitmap(level);
    ASSERT_TRUE(drawn);
    EXPECT_LE(drawn->Width(), kMaxGeneratedSide);
    const ql::TPoint size = ql::MipLevelSize(store->Width(), store->Height(), level);
    EXPECT_EQ(drawn->Width(), size.x);
    EXPECT_EQ(drawn->Height(), size.y);
    EXPECT_EQ(ql::PictureMemoryHeld() - before, int64_t(size.x) * size.y * 4);
    // Without the cap: the full picture, halved level by level.
    std::unique_ptr<ql::TBitmap> halved;
    {
        auto full = MakeTextPicture(TextPictureName(request), {}, fonts);
        const ql::TBitmap* upper = full->GetBitmap(0);
        ASSERT_TRUE(upper);
        for (int32_t i = 0; i < level; ++i) {
            halved = ql::HalveBitmap(halved ? *halved : *upper);
            ASSERT_TRUE(halved);
        }
    }
    ASSERT_EQ(halved->Width(), drawn->Width());
    ASSERT_EQ(halved->Height(), drawn->Height());
    ASSERT_EQ(halved->PixelFormat(), drawn->PixelFormat());
    const double psnr = Psnr(*halved, *drawn);
    std::printf("[ text     ] level %d set directly against the full picture halved: %.1f dB\n",
                level, psnr);
    EXPECT_GT(psnr, 22.0);
}

}  // namespace
}  // namespace orb
