#include "QlLib/Graphics/qlPngDecoder.h"

#include <gtest/gtest.h>

#include "QlLib/Graphics/ImageTestSupport.h"
#include "QlLib/Graphics/qlPngWriter.h"

namespace ql {
namespace {

using test::PixelAt;

std::unique_ptr<TBitmap> Pattern(const TPixelFormat* format, int32_t w, int32_t h) {
    auto bitmap = CreateBitmap(w, h, format);
    const int32_t bpp = bitmap->BytesPerPixel();
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int32_t c = 0; c < bpp; ++c) bitmap->Row(y)[x * bpp + c] = uint8_t(x * 13 + y * 7 + c * 50);
    return bitmap;
}

TRef<TBitmapStore> Load(const std::vector<uint8_t>& bytes) {
    auto stream = test::StreamOf(bytes);
    return DecodePng(*stream, u"p.png", nullptr, nullptr);
}

TEST(PngDecoder, WrittenPictures_ReadBackExactly) {
    for (const TPixelFormat* format : {PfRGB24(), PfARGB32()}) {
        auto source = Pattern(format, 9, 5);
        auto store = Load(EncodePng(*source));
        ASSERT_TRUE(store);
        EXPECT_EQ(store->Format(), format);
        TBitmap* back = store->GetBitmap(0);
        ASSERT_EQ(back->Width(), 9);
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 9; ++x) EXPECT_EQ(PixelAt(*back, x, y), PixelAt(*source, x, y));
        EXPECT_EQ(store->GetBitmap(1)->Width(), 5);
    }
}

TEST(PngDecoder, DamagedFiles_AreErrorsNotCrashes) {
    const std::vector<uint8_t> good = EncodePng(*Pattern(PfRGB24(), 40, 30));
    EXPECT_EQ(Load({1, 2, 3}), nullptr);
    for (size_t n : {size_t(8), size_t(20), size_t(40), good.size() - 13}) {
        try {
            auto store = Load(std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(n)));
            if (store) store->GetBitmap(0);
        } catch (const EImageError&) {
        }
    }
    // A header claiming a picture beyond the size bounds.
    std::vector<uint8_t> huge = good;
    huge[16] = 0x7F;  // width's top byte
    EXPECT_THROW(Load(huge), EImageError);
}

}  // namespace
}  // namespace ql
