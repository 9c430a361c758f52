#include "QlLib/Graphics/qlGifWriter.h"

#include <gtest/gtest.h>

#include "QlLib/Graphics/qlGifDecoder.h"

namespace ql {
namespace {

std::unique_ptr<TBitmap> Solid(int32_t w, int32_t h, uint32_t argb) {
    auto bitmap = CreateBitmap(w, h, PfARGB32());
    bitmap->FillRect(bitmap->Bounds(), argb);
    return bitmap;
}

uint32_t PixelAt(const TBitmap& bitmap, int32_t x, int32_t y) {
    const uint8_t* p = bitmap.Row(y) + x * 4;
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

TEST(GifWriter, Animation_DecodesWithItsFramesDelaysAndLoops) {
    auto red = Solid(20, 10, 0xFFFF0000);
    auto green = Solid(20, 10, 0xFF00CC33);
    auto blue = Solid(20, 10, 0xFF3366FF);
    green->FillRect({0, 0, 1, 1}, 0x00000000);  // a transparent corner
    const std::vector<uint8_t> bytes =
        EncodeGif({{red.get(), 80}, {green.get(), 120}, {blue.get(), 40}}, 3);

    auto picture = ReadGif(bytes.data(), bytes.size(), true);
    ASSERT_TRUE(picture);
    ASSERT_TRUE(picture->Tiles);
    EXPECT_EQ(picture->Tiles->Frames, 3);
    EXPECT_EQ(picture->Tiles->CellWidth, 20);
    EXPECT_EQ(picture->Tiles->CellHeight, 10);
    EXPECT_EQ(picture->Tiles->DelaysMs, "80,120,40");
    EXPECT_EQ(picture->Tiles->LoopCount, 3);
    const TBitmap& strip = *picture->Bitmap;
    ASSERT_EQ(strip.Width(), 60);
    // Colours on the cube's steps pass unchanged whatever the dither pattern.
    EXPECT_EQ(PixelAt(strip, 5, 5), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(strip, 25, 5), 0xFF00CC33u);
    EXPECT_EQ(PixelAt(strip, 59, 9), 0xFF3366FFu);
    // The frame before was cleared, so the red does not show through.
    EXPECT_EQ(PixelAt(strip, 20, 0) >> 24, 0u);
}

TEST(GifWriter, LongNoisyFrame_SurvivesCodeTableResets) {
    // Enough distinct pairs to fill the 4096-entry code table many times.
    auto noise = CreateBitmap(300, 200, PfARGB32());
    uint32_t seed = 7;
    for (int32_t y = 0; y < noise->Height(); ++y) {
        uint8_t* p = noise->Row(y);
        for (int32_t x = 0; x < noise->Width(); ++x, p += 4) {
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                p[c] = uint8_t((seed >> 24) % 6 * 51);
            }
            p[3] = 255;
        }
    }
    const std::vector<uint8_t> bytes = EncodeGif({{noise.get(), 100}});
    auto picture = ReadGif(bytes.data(), bytes.size(), false);
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->Bitmap->Width(), 300);
    ASSERT_EQ(picture->Bitmap->Height(), 200);
    int32_t differing = 0;
    for (int32_t y = 0; y < 200; ++y)
        for (int32_t x = 0; x < 300; ++x)
            if (PixelAt(*picture->Bitmap, x, y) != PixelAt(*noise, x, y)) ++differing;
    EXPECT_EQ(differing, 0);
}

TEST(GifWriter, BadFrameLists_AreImageErrors) {
    auto a = Solid(4, 4, 0xFF000000);
    auto b = Solid(5, 4, 0xFF000000);
    EXPECT_THROW(EncodeGif({}), EImageError);
    EXPECT_THROW(EncodeGif({{a.get(), 10}, {b.get(), 10}}), EImageError);
    EXPECT_THROW(EncodeGif({{nullptr, 10}}), EImageError);
}

}  // namespace
}  // namespace ql
