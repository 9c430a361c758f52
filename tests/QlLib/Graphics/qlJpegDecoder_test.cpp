#include "QlLib/Graphics/qlJpegDecoder.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "QlLib/Graphics/ImageTestSupport.h"
#include "QlLib/Graphics/qlImageTransform.h"

namespace ql {
namespace {

using test::JpegBytes;
using test::PixelAt;

TRef<TBitmapStore> Load(const test::TBytes& bytes) {
    auto stream = test::StreamOf(bytes);
    return DecodeJpeg(*stream, u"p.jpg", nullptr, nullptr);
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift = 0; shift < 32; shift += 8)
        if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > tolerance) return false;
    return true;
}

TEST(JpegDecoder, Levels_AreDecodedAtScale) {
    auto store = Load(JpegBytes(203, 101));
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Width(), 203);
    EXPECT_EQ(store->Format(), PfRGB24());
    const int32_t widths[] = {203, 102, 51, 26, 13};
    const int32_t heights[] = {101, 51, 26, 13, 7};
    for (int32_t level = 0; level < 5; ++level) {
        TBitmap* bitmap = store->GetBitmap(level);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->Width(), widths[level]);
        EXPECT_EQ(bitmap->Height(), heights[level]);
    }
    // The synthetic picture: red grows to the right, green downwards.
    TBitmap* full = store->GetBitmap(0);
    EXPECT_TRUE(Near(PixelAt(*full, 202, 0) & 0xFFFF0000u, 0xFFFF0000u, 12));
    EXPECT_TRUE(Near(PixelAt(*full, 0, 100) & 0xFF00FF00u, 0xFF00FF00u, 12));
}

// Each picture decoded twice: once through the three-byte level and its
// conversion, once written by the library in the four-byte format.
void ExpectDirectMatchesConverted(const test::TBytes& bytes) {
    auto converted = Load(bytes);
    auto direct = Load(bytes);
    ASSERT_TRUE(converted && direct);
    for (int32_t level : {0, 1, 3}) {
        TBitmap* own = converted->GetBitmap(level);
        TBitmap* viaCopy = converted->GetBitmap(level, PfARGB32());
        TBitmap* written = direct->GetBitmap(level, PfARGB32());
        ASSERT_TRUE(own && viaCopy && written);
        EXPECT_EQ(written->PixelFormat(), PfARGB32());
        ASSERT_EQ(written->Width(), viaCopy->Width());
        ASSERT_EQ(written->Height(), viaCopy->Height());
        for (int32_t y = 0; y < written->Height(); ++y)
            ASSERT_EQ(std::memcmp(written->Row(y), viaCopy->Row(y), size_t(written->Width()) * 4), 0)
                << "level " << level << " row " << y;
        // The store's own format is still what a caller without a wish gets.
        TBitmap* ownLater = direct->GetBitmap(level);
        ASSERT_EQ(ownLater->PixelFormat(), PfRGB24());
        for (int32_t y = 0; y < own->Height(); ++y)
            ASSERT_EQ(std::memcmp(ownLater->Row(y), own->Row(y), size_t(own->Width()) * 3), 0);
    }
}

TEST(JpegDecoder, FourByteLevels_AreWrittenDirectlyWithTheSamePixels) {
    ExpectDirectMatchesConverted(JpegBytes(203, 101));
    ExpectDirectMatchesConverted(JpegBytes(64, 48, 1));              // grey
    ExpectDirectMatchesConverted(JpegBytes(32, 16, 4));              // CMYK
    ExpectDirectMatchesConverted(JpegBytes(64, 64, 3, 80, true));    // progressive
}

TEST(JpegDecoder, LevelFour_IsLevelThreeHalved) {
    auto store = Load(JpegBytes(320, 240));
    ASSERT_TRUE(store);
    auto expected = HalveBitmap(*store->GetBitmap(3));
    TBitmap* level4 = store->GetBitmap(4);
    ASSERT_EQ(level4->Width(), expected->Width());
    for (int32_t y = 0; y < level4->Height(); ++y)
        EXPECT_EQ(std::memcmp(level4->Row(y), expected->Row(y), size_t(level4->Width()) * 3), 0);
}

TEST(JpegDecoder, GreyAndProgressive_ComeOutAsColour) {
    auto grey = Load(JpegBytes(16, 16, 1));
    ASSERT_TRUE(grey);
    EXPECT_TRUE(Near(PixelAt(*grey->GetBitmap(0), 5, 5), 0xFF808080u, 2));
    auto progressive = Load(JpegBytes(64, 64, 3, 80, true));
    ASSERT_TRUE(progressive);
    EXPECT_EQ(progressive->GetBitmap(1)->Width(), 32);
}

TEST(JpegDecoder, Cmyk_IsConvertedToColour) {
    auto store = Load(JpegBytes(32, 16, 4));
    ASSERT_TRUE(store);
    TBitmap* bitmap = store->GetBitmap(0);
    EXPECT_TRUE(Near(PixelAt(*bitmap, 2, 8), 0xFF00FFFFu, 8));
    EXPECT_TRUE(Near(PixelAt(*bitmap, 29, 8), 0xFFFFFFFFu, 8));
}

TEST(JpegDecoder, DamagedFiles_AreErrorsNotCrashes) {
    const test::TBytes good = JpegBytes(48, 32);
    EXPECT_EQ(Load({'n', 'o', 'p', 'e'}), nullptr);
    EXPECT_THROW(Load({0xFF, 0xD8, 0xFF, 0xE0, 0, 2}), EImageError);
    try {
        Load({0xFF, 0xD8, 0xFF, 0xE0, 0, 2});
    } catch (const EImageError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("JPEG error #", 0), 0u);
    }
    // Cut after the header: the header reads, the pixels are grey or an error.
    for (size_t n : {size_t(200), good.size() / 2, good.size() - 2}) {
        try {
            auto store = Load(test::TBytes(good.begin(), good.begin() + std::ptrdiff_t(n)));
            if (store) store->GetBitmap(0);
        } catch (const EImageError&) {
        }
    }
    // Flipped bytes all through the data.
    for (size_t i = 2; i < good.size(); i += 7) {
        test::TBytes bad = good;
        bad[i] ^= 0x5A;
        try {
            auto store = Load(bad);
            if (store) store->GetBitmap(i % 4);
        } catch (const EImageError&) {
        }
    }
}

TEST(JpegDecoder, Cancel_LeavesTheLevelUndecoded) {
    auto store = Load(JpegBytes(64, 64));
    store->SetProgress([](float) { return false; });
    EXPECT_EQ(store->GetBitmap(0), nullptr);
    store->SetProgress({});
    EXPECT_NE(store->GetBitmap(0), nullptr);
}

}  // namespace
}  // namespace ql
