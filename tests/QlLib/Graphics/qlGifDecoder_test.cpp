#include "QlLib/Graphics/qlGifDecoder.h"

#include <gtest/gtest.h>

#include "QlLib/Graphics/ImageTestSupport.h"

namespace ql {
namespace {

using test::GifBytes;
using test::GifColour;
using test::PixelAt;
using test::TBytes;
using test::TGifFrame;

std::optional<TGifPicture> Read(const TBytes& bytes, bool animate = true) {
    return ReadGif(bytes.data(), bytes.size(), animate);
}

TGifFrame Solid(int left, int top, int w, int h, uint8_t index, int delayCs = 10,
                int disposal = 0) {
    TGifFrame f{left, top, w, h, std::vector<uint8_t>(size_t(w * h), index), delayCs, disposal};
    return f;
}

TEST(GifDecoder, StillPicture_DecodesItsIndices) {
    TGifFrame f{0, 0, 3, 2, {0, 1, 2, 3, 4, 255}};
    auto picture = Read(GifBytes(3, 2, {f}));
    ASSERT_TRUE(picture);
    EXPECT_FALSE(picture->Tiles);
    ASSERT_EQ(picture->Bitmap->Width(), 3);
    EXPECT_EQ(PixelAt(*picture->Bitmap, 0, 0), GifColour(0));
    EXPECT_EQ(PixelAt(*picture->Bitmap, 2, 1), GifColour(255));
    // Long enough to pass several clear codes.
    TGifFrame big = Solid(0, 0, 40, 30, 7);
    for (size_t i = 0; i < big.indices.size(); ++i) big.indices[i] = uint8_t(i * 7);
    auto large = Read(GifBytes(40, 30, {big}));
    ASSERT_TRUE(large);
    EXPECT_EQ(PixelAt(*large->Bitmap, 39, 29), GifColour(uint8_t((40 * 30 - 1) * 7)));
}

TEST(GifDecoder, Animation_BecomesAStripWithItsTag) {
    TGifFrame second = Solid(1, 1, 2, 1, 9, 25);
    second.transparent = -1;
    TGifFrame third = Solid(0, 0, 1, 1, 5, 5);
    const TBytes bytes = GifBytes(3, 2, {Solid(0, 0, 3, 2, 1, 10, 2), second, third}, 3);
    auto picture = Read(bytes);
    ASSERT_TRUE(picture);
    ASSERT_TRUE(picture->Tiles);
    const TTilesTag& tag = *picture->Tiles;
    EXPECT_EQ(tag.Frames, 3);
    EXPECT_EQ(tag.Columns, 3);
    EXPECT_EQ(tag.CellWidth, 3);
    EXPECT_EQ(tag.CellHeight, 2);
    EXPECT_EQ(tag.DelaysMs, "100,250,50");  // hundredths of a second
    EXPECT_EQ(tag.TotalMs, 400);
    EXPECT_EQ(tag.AverageMs, 133);
    EXPECT_EQ(tag.LoopCount, 3);
    const TBitmap& strip = *picture->Bitmap;
    ASSERT_EQ(strip.Width(), 9);
    EXPECT_EQ(PixelAt(strip, 0, 0), GifColour(1));
    // Frame 1 had disposal 2: its rectangle is cleared before frame 2 draws.
    EXPECT_EQ(PixelAt(strip, 3, 0), 0u);
    EXPECT_EQ(PixelAt(strip, 4, 1), GifColour(9));
    // Frame 2 kept everything (disposal 0); frame 3 draws one pixel over it.
    EXPECT_EQ(PixelAt(strip, 6, 0), GifColour(5));
    EXPECT_EQ(PixelAt(strip, 7, 1), GifColour(9));

    auto still = Read(bytes, false);
    ASSERT_TRUE(still);
    EXPECT_FALSE(still->Tiles);
    EXPECT_EQ(still->Bitmap->Width(), 3);
}

TEST(GifDecoder, TransparentPixels_ShowThePictureBeneath) {
    TGifFrame over{0, 0, 2, 1, {3, 4}};
    over.transparent = 3;
    auto picture = Read(GifBytes(2, 1, {Solid(0, 0, 2, 1, 8), over}));
    ASSERT_TRUE(picture);
    EXPECT_EQ(PixelAt(*picture->Bitmap, 2, 0), GifColour(8));
    EXPECT_EQ(PixelAt(*picture->Bitmap, 3, 0), GifColour(4));
}

TEST(GifDecoder, DisposalThree_RestoresTheLastKeptFrame) {
    auto picture = Read(GifBytes(
        1, 1, {Solid(0, 0, 1, 1, 2, 1, 1), Solid(0, 0, 1, 1, 3, 1, 3), Solid(0, 0, 1, 1, 4)}));
    ASSERT_TRUE(picture);
    TGifFrame hole{0, 0, 1, 1, {0}};
    hole.transparent = 0;
    auto restored =
        Read(GifBytes(1, 1, {Solid(0, 0, 1, 1, 2, 1, 1), Solid(0, 0, 1, 1, 3, 1, 3), hole}));
    EXPECT_EQ(PixelAt(*restored->Bitmap, 2, 0), GifColour(2));
}

TEST(GifDecoder, FramesOutsideTheScreen_AreClipped) {
    auto picture = Read(GifBytes(2, 2, {Solid(1, 1, 5, 5, 6), Solid(60000, 60000, 3, 3, 7)}));
    ASSERT_TRUE(picture);
    EXPECT_EQ(PixelAt(*picture->Bitmap, 0, 0), 0u);
    EXPECT_EQ(PixelAt(*picture->Bitmap, 1, 1), GifColour(6));
    EXPECT_EQ(PixelAt(*picture->Bitmap, 3, 1), GifColour(6));
}

TEST(GifDecoder, DamagedData_KeepsCompleteFramesOrFails) {
    const TBytes bytes = GifBytes(2, 1, {Solid(0, 0, 2, 1, 1), Solid(0, 0, 2, 1, 2)});
    // Cut inside the second frame: the first stays.
    const TBytes cut(bytes.begin(), bytes.end() - 6);
    auto picture = Read(cut);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Bitmap->Width(), 2);
    // An unknown block after the first frame ends the file there.
    TBytes odd = GifBytes(2, 1, {Solid(0, 0, 2, 1, 1)});
    odd.back() = 0x99;
    odd.push_back(0);
    EXPECT_TRUE(Read(odd));
    // No frame at all is an error.
    TBytes header(bytes.begin(), bytes.begin() + 13 + 768);
    header.push_back(0x77);
    EXPECT_THROW(Read(header), EImageError);
    EXPECT_FALSE(Read(TBytes{'G', 'I', 'F', '8', '8', 'a', 1, 0, 1, 0, 0, 0, 0}));
    // Every truncation either decodes or raises.
    for (size_t n = 0; n < bytes.size(); ++n) {
        try {
            Read(TBytes(bytes.begin(), bytes.begin() + std::ptrdiff_t(n)));
        } catch (const EImageError&) {
        }
    }
}

TEST(GifDecoder, BadCodes_StopTheFrameWithoutOverrun) {
    TBytes bytes = GifBytes(4, 4, {Solid(0, 0, 4, 4, 1)});
    // Code size 12 is beyond what LZW allows.
    const size_t codeSizeAt = 13 + 768 + 8 + 10;
    ASSERT_EQ(bytes[codeSizeAt], 8);
    bytes[codeSizeAt] = 12;
    EXPECT_THROW(Read(bytes), EImageError);
    // Codes past the table: the frame keeps what came before them.
    bytes[codeSizeAt] = 8;
    for (size_t i = codeSizeAt + 4; i < bytes.size() - 3; ++i) bytes[i] = 0xFF;
    EXPECT_TRUE(Read(bytes));
}

TEST(GifDecoder, ManyFrames_AreBoundedByThePixelLimit) {
    std::vector<TGifFrame> frames(20, Solid(0, 0, 3, 3, 1));
    auto picture = [&] {
        TImagePixelLimitScope limit(100);
        return Read(GifBytes(3, 3, frames));
    }();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Tiles->Frames, 11);  // 11 x 9 pixels fit in 100
}

// An animation's strip is one level in the picture memory budget: it keeps no
// more frames than the whole budget holds, counts from decoding, and once the
// budget has let it go it is decoded again, frame for frame, when asked.
TEST(GifDecoder, Animation_IsBoundedByThePictureBudgetAndDecodedAgainAfterARelease) {
    std::vector<TGifFrame> frames;
    for (uint8_t i = 0; i < 20; ++i) frames.push_back(Solid(0, 0, 4, 4, i));
    const TBytes bytes = GifBytes(4, 4, frames);
    const int64_t before = PictureMemoryHeld();
    TPictureMemoryBudgetScope budget(before + 5 * 64 + 10);  // five frames of 4 x 4 x 4 bytes
    TGifAnimationScope animation(true);
    auto stream = test::StreamOf(bytes);
    TRef<TBitmapStore> store = DecodeGif(*stream, u"a.gif", nullptr, nullptr);
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->TilesTag());
    const int32_t kept = store->TilesTag()->Frames;
    EXPECT_GE(kept, 5);
    EXPECT_LE(int64_t(kept) * 64, PictureMemoryBudget());
    EXPECT_EQ(PictureMemoryHeld(), before + int64_t(kept) * 64);
    const uint32_t last = PixelAt(*store->GetBitmap(0), 4 * (kept - 1), 3);
    EXPECT_EQ(last, GifColour(uint8_t(kept - 1)));
    EXPECT_GE(ReleasePictureMemory(int64_t(1) << 30), int64_t(kept) * 64);
    EXPECT_EQ(PictureMemoryHeld(), before);
    ASSERT_TRUE(store->GetBitmap(0));
    EXPECT_EQ(PixelAt(*store->GetBitmap(0), 4 * (kept - 1), 3), last);
}

}  // namespace
}  // namespace ql
