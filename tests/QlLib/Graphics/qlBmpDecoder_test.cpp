#include "QlLib/Graphics/qlBmpDecoder.h"

#include <gtest/gtest.h>

#include "QlLib/Graphics/ImageTestSupport.h"
#include "QlLib/qpStringUtils.h"

namespace ql {
namespace {

using test::BmpBytes;
using test::PixelAt;
using test::TBmpSpec;
using test::TBytes;

std::unique_ptr<TBitmap> Read(const TBytes& bytes) {
    return ReadBmpBitmap(bytes.data(), bytes.size());
}

// 2x2, 24 bits: stored rows padded to 8 bytes.
TBmpSpec Rgb2x2(int32_t height) {
    TBmpSpec s{2, height, 24};
    s.pixels = {1, 2, 3, 4,  5,  6,  0, 0,  // first stored row
                7, 8, 9, 10, 11, 12, 0, 0};
    return s;
}

TEST(BmpDecoder, RowOrder_FollowsTheSignOfTheHeight) {
    auto up = Read(BmpBytes(Rgb2x2(2)));
    ASSERT_TRUE(up);
    EXPECT_EQ(up->PixelFormat(), PfRGB24());
    EXPECT_EQ(PixelAt(*up, 0, 0), 0xFF090807u);  // bottom-up: the last stored row is the top
    auto down = Read(BmpBytes(Rgb2x2(-2)));
    ASSERT_TRUE(down);
    EXPECT_EQ(PixelAt(*down, 0, 0), 0xFF030201u);
    EXPECT_EQ(PixelAt(*down, 1, 1), 0xFF0C0B0Au);
}

TEST(BmpDecoder, Rejections_RestoreTheStream) {
    TBmpSpec planes = Rgb2x2(2);
    planes.planes = 2;
    const TBytes bytes = BmpBytes(planes);
    auto stream = test::StreamOf(bytes);
    stream->SetPosition(0);
    EXPECT_EQ(ReadBmpBitmap(*stream), nullptr);
    EXPECT_EQ(stream->GetPosition(), 0);
    TBmpSpec bits = Rgb2x2(2);
    bits.bits = 7;
    EXPECT_EQ(Read(BmpBytes(bits)), nullptr);
    TBytes notBmp = {'X', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Read(notBmp), nullptr);
}

TEST(BmpDecoder, SixteenBits_ChooseTheFormatByTheGreenMask) {
    TBmpSpec s{1, 1, 16, 3};
    s.masks = {0xF800, 0x07E0, 0x001F};
    s.pixels = {0xE0, 0x07, 0, 0};  // pure green in 5-6-5
    auto bitmap = Read(BmpBytes(s));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->PixelFormat()->Name(), "R5G6B5");
    s.masks = {0x7C00, 0x03E0, 0x001F};
    EXPECT_EQ(Read(BmpBytes(s))->PixelFormat()->Name(), "X1R5G5B5");
    s.masks = {0xFF0000, 0x00FF00, 0x0000FF};
    EXPECT_EQ(Read(BmpBytes(s)), nullptr);
    TBmpSpec plain{1, 1, 16, 0};
    plain.pixels = {0, 0, 0, 0};
    EXPECT_EQ(Read(BmpBytes(plain))->PixelFormat()->Name(), "X1R5G5B5");
}

struct TMaskCase {
    const char* what;
    uint16_t bits;
    uint32_t compression;
    uint32_t headerSize;
    std::vector<uint32_t> masks;  // R, G, B (, A)
    TBytes pixel;                 // one pixel, padded to a row
    uint32_t expected;            // 0xAARRGGBB; 0 when the file is refused
};

TEST(BmpDecoder, BitFieldMasks_PlaceEveryChannelWhereTheMasksSay) {
    const TMaskCase cases[] = {
        {"32-bit R, G, B, X byte order",
         32,
         3,
         40,
         {0xFF, 0xFF00, 0xFF0000},
         {0x10, 0x20, 0x30, 0},
         0xFF102030},
        {"32-bit V5 RGBA big-endian",
         32,
         3,
         124,
         {0xFF000000, 0xFF0000, 0xFF00, 0xFF},
         {0x80, 0x30, 0x20, 0x10},
         0x80102030},
        {"32-bit V4 with no alpha mask",
         32,
         3,
         108,
         {0xFF0000, 0xFF00, 0xFF, 0},
         {0x30, 0x20, 0x10, 0x40},
         0xFF102030},
        {"32-bit V5 with the usual alpha mask",
         32,
         3,
         124,
         {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
         {0x30, 0x20, 0x10, 0x40},
         0x40102030},
        {"32-bit 10-10-10",
         32,
         3,
         40,
         {0x3FF00000, 0xFFC00, 0x3FF},
         {0xFF, 0x03, 0x10, 0x20},
         0xFF8000FF},
        {"16-bit 4-4-4", 16, 3, 40, {0xF00, 0xF0, 0xF}, {0x84, 0x0F, 0, 0}, 0xFFF08040},
        {"16-bit 4-4-4-4 in a V5 header",
         16,
         3,
         124,
         {0xF00, 0xF0, 0xF, 0xF000},
         {0x84, 0x8F, 0, 0},
         0x88F08040},
        {"16-bit 1-5-5-5 alpha bit fields",
         16,
         6,
         40,
         {0x7C00, 0x3E0, 0x1F, 0x8000},
         {0x00, 0xFC, 0, 0},
         0xFFF80000},
        {"a mask with a gap", 16, 3, 40, {0xF0F, 0xF0, 0x0}, {0, 0, 0, 0}, 0},
        {"overlapping masks", 32, 3, 40, {0xFF0000, 0xFFFF00, 0xFF}, {0, 0, 0, 0}, 0},
    };
    for (const TMaskCase& c : cases) {
        SCOPED_TRACE(c.what);
        TBmpSpec s{1, 1, c.bits, c.compression};
        s.headerSize = c.headerSize;
        s.masks = c.masks;
        s.pixels = c.pixel;
        auto bitmap = Read(BmpBytes(s));
        if (c.expected == 0) {
            EXPECT_EQ(bitmap, nullptr);
            continue;
        }
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(PixelAt(*bitmap, 0, 0), c.expected) << std::hex << PixelAt(*bitmap, 0, 0);
    }
}

TEST(BmpDecoder, Os2CoreHeader_ReadsPaletteAndTrueColour) {
    TBmpSpec eight{2, 2, 8};
    eight.headerSize = 12;
    eight.palette = {0x102030, 0x405060};
    eight.pixels = {0, 1, 0, 0,  // bottom row
                    1, 0, 0, 0};
    auto a = Read(BmpBytes(eight));
    ASSERT_TRUE(a);
    EXPECT_EQ(PixelAt(*a, 0, 0), 0xFF405060u);
    EXPECT_EQ(PixelAt(*a, 0, 1), 0xFF102030u);
    EXPECT_EQ(PixelAt(*a, 1, 1), 0xFF405060u);

    TBmpSpec rgb{1, 1, 24};
    rgb.headerSize = 12;
    rgb.pixels = {1, 2, 3, 0};
    auto b = Read(BmpBytes(rgb));
    ASSERT_TRUE(b);
    EXPECT_EQ(PixelAt(*b, 0, 0), 0xFF030201u);
}

// FNV-1a over the pixels as R, G, B, A bytes, rows from the top.
uint32_t PixelChecksum(const TBitmap& bitmap) {
    uint32_t hash = 0x811C9DC5u;
    for (int32_t y = 0; y < bitmap.Height(); ++y)
        for (int32_t x = 0; x < bitmap.Width(); ++x) {
            const uint32_t argb = PixelAt(bitmap, x, y);
            for (const int shift : {16, 8, 0, 24})
                hash = (hash ^ ((argb >> shift) & 0xFF)) * 0x01000193u;
        }
    return hash;
}

// Files written once by tests/data/media/make_fixtures.py, checked against the
// pixels a reference decoder (or, for masks it does not read, the rule) gives.
TEST(BmpDecoder, CommittedVariants_MatchTheirReferenceDecodes) {
    const struct {
        const char* file;
        uint32_t checksum;
    } cases[] = {
        {"bgra32-v5.bmp", 0xEC1D1365u},   {"xbgr32-v4.bmp", 0x5A4CAC45u},
        {"rgbx32.bmp", 0x5A4CAC45u},      {"rgba32-v5.bmp", 0xEC1D1365u},
        {"argb4444-v5.bmp", 0x0C03F705u}, {"os2-8.bmp", 0x760DCE85u},
        {"os2-24.bmp", 0x5A4CAC45u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TFileStream file(FromUtf8(std::string(ORB_SOURCE_DIR) + "/tests/data/media/" + c.file),
                         TFileAccess::Read, kShareRead, TFileDisposition::OpenExisting);
        auto bitmap = ReadBmpBitmap(file);
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->Width(), 16);
        EXPECT_EQ(bitmap->Height(), 8);
        EXPECT_EQ(PixelChecksum(*bitmap), c.checksum);
    }
}

TEST(BmpDecoder, PaletteDepths_ExpandThroughThePalette) {
    TBmpSpec one{10, 1, 1};
    one.palette = {0x000000, 0xFF8040};
    one.pixels = {0xA0, 0x40, 0, 0};  // 1010 0000 01..
    auto a = Read(BmpBytes(one));
    ASSERT_TRUE(a);
    EXPECT_EQ(PixelAt(*a, 0, 0), 0xFFFF8040u);
    EXPECT_EQ(PixelAt(*a, 1, 0), 0xFF000000u);
    EXPECT_EQ(PixelAt(*a, 2, 0), 0xFFFF8040u);
    EXPECT_EQ(PixelAt(*a, 9, 0), 0xFFFF8040u);

    TBmpSpec four{3, 1, 4};
    four.palette = {0x111111, 0x222222, 0x333333};
    four.pixels = {0x21, 0xF0, 0, 0};  // 2, 1, then 15: past the palette reads black
    auto b = Read(BmpBytes(four));
    EXPECT_EQ(PixelAt(*b, 0, 0), 0xFF333333u);
    EXPECT_EQ(PixelAt(*b, 1, 0), 0xFF222222u);
    EXPECT_EQ(PixelAt(*b, 2, 0), 0xFF000000u);
}

TEST(BmpDecoder, Rle8AndRle4_HonourRunsLiteralsAndDeltas) {
    TBmpSpec rle8{4, 3, 8, 1};
    rle8.palette = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000};
    rle8.pixels = {3, 1,              // bottom row: three of colour 1
                   0, 0,              // end of line
                   0, 2, 1, 1,        // delta: right 1, up 1 (to the top row, x 1)
                   0, 3, 2, 3, 2, 0,  // literal of three, padded
                   0, 1};             // end of picture
    auto a = Read(BmpBytes(rle8));
    ASSERT_TRUE(a);
    EXPECT_EQ(PixelAt(*a, 0, 2), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(*a, 2, 2), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(*a, 3, 2), 0xFF000000u);
    EXPECT_EQ(PixelAt(*a, 0, 0), 0xFF000000u);  // skipped by the delta
    EXPECT_EQ(PixelAt(*a, 1, 0), 0xFF00FF00u);
    EXPECT_EQ(PixelAt(*a, 2, 0), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(*a, 3, 0), 0xFF00FF00u);

    TBmpSpec rle4{5, 1, 4, 2};
    rle4.palette = {0x000000, 0x0000FF, 0x00FF00};
    rle4.pixels = {3, 0x12, 0, 3, 0x21, 0x20, 0, 1};  // 1 2 1, then a literal running past the row
    auto b = Read(BmpBytes(rle4));
    ASSERT_TRUE(b);
    EXPECT_EQ(PixelAt(*b, 0, 0), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(*b, 1, 0), 0xFF00FF00u);
    EXPECT_EQ(PixelAt(*b, 2, 0), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(*b, 3, 0), 0xFF00FF00u);
    EXPECT_EQ(PixelAt(*b, 4, 0), 0xFF0000FFu);
}

TEST(BmpDecoder, HostileRle_StaysInsideThePicture) {
    TBmpSpec s{2, 2, 8, 1};
    s.palette = {0, 0xFFFFFF};
    // Runs far past the row, deltas far past the picture, a literal that
    // claims more bytes than there are.
    s.pixels = {255, 1, 0, 2, 255, 255, 0, 2, 0, 0, 0, 200, 1, 1};
    auto bitmap = Read(BmpBytes(s));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PixelAt(*bitmap, 0, 1), 0xFFFFFFFFu);
}

TEST(BmpDecoder, ThirtyTwoBitsWithoutAlpha_AreOpaque) {
    TBmpSpec s{2, 1, 32};
    s.pixels = {10, 20, 30, 0, 40, 50, 60, 0};
    auto opaque = Read(BmpBytes(s));
    ASSERT_TRUE(opaque);
    EXPECT_EQ(PixelAt(*opaque, 1, 0), 0xFF3C3228u);
    s.pixels[3] = 128;
    auto withAlpha = Read(BmpBytes(s));
    EXPECT_EQ(PixelAt(*withAlpha, 0, 0), 0x801E140Au);
    EXPECT_EQ(PixelAt(*withAlpha, 1, 0), 0x003C3228u);
}

TEST(BmpDecoder, ClaimsBeyondTheData_AreRefusedBeforeAllocation) {
    TBmpSpec tall = Rgb2x2(60000);
    EXPECT_THROW(Read(BmpBytes(tall)), EImageError);
    TBmpSpec wide = Rgb2x2(2);
    wide.width = 0x7FFFFFFF;
    EXPECT_THROW(Read(BmpBytes(wide)), EImageError);
    TBmpSpec lowest = Rgb2x2(INT32_MIN);
    EXPECT_THROW(Read(BmpBytes(lowest)), EImageError);
    // A run-length picture of 60000 x 60000 from a few bytes passes the pixel bound.
    TBmpSpec rle{60000, 60000, 8, 1};
    rle.pixels = {0, 1};
    EXPECT_THROW(Read(BmpBytes(rle)), EImageError);
    // A header size that points the palette past the end.
    TBytes bytes = BmpBytes(Rgb2x2(2));
    bytes[14] = 0xFF;
    bytes[15] = 0xFF;
    EXPECT_EQ(Read(bytes), nullptr);
    // Every truncation either decodes or is refused.
    const TBytes whole = BmpBytes(Rgb2x2(2));
    for (size_t n = 0; n < whole.size(); ++n) {
        try {
            Read(TBytes(whole.begin(), whole.begin() + std::ptrdiff_t(n)));
        } catch (const EImageError&) {
        }
    }
}

TEST(BmpDecoder, Store_KeepsTheNameAndHandsOutLevels) {
    auto stream = test::StreamOf(BmpBytes(Rgb2x2(2)));
    TRef<TBitmapStore> store = DecodeBmp(*stream, u"a.bmp", nullptr, nullptr);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Params().Name, u"a.bmp");
    EXPECT_EQ(store->GetBitmap(1)->Width(), 1);
}

}  // namespace
}  // namespace ql
