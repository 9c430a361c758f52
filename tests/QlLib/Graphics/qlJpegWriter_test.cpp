#include "QlLib/Graphics/qlJpegWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "QlLib/Graphics/qlJpegDecoder.h"

namespace ql {
namespace {

TRef<TBitmapStore> Decode(const std::vector<uint8_t>& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), bytes.size());
    stream.SetPosition(0);
    return DecodeJpeg(stream, u"p.jpg", nullptr, nullptr);
}

// A smooth gradient: red across, green down, blue constant.
std::unique_ptr<TBitmap> Gradient(int32_t w, int32_t h, const TPixelFormat* format) {
    auto bitmap = CreateBitmap(w, h, format);
    const int32_t bpp = bitmap->BytesPerPixel();
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = bitmap->Row(y);
        for (int32_t x = 0; x < w; ++x, p += bpp) {
            p[0] = 96;
            p[1] = uint8_t(y * 255 / (h - 1));
            p[2] = uint8_t(x * 255 / (w - 1));
            if (bpp == 4) p[3] = 255;
        }
    }
    return bitmap;
}

TEST(JpegWriter, Gradient_DecodesAtItsSizeWithCloseColours) {
    for (const TPixelFormat* format : {PfRGB24(), PfARGB32()}) {
        auto source = Gradient(96, 64, format);
        const std::vector<uint8_t> bytes = EncodeJpeg(*source, 95);
        ASSERT_GT(bytes.size(), 4u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xD8);
        TRef<TBitmapStore> store = Decode(bytes);
        ASSERT_TRUE(store);
        EXPECT_EQ(store->Width(), 96);
        EXPECT_EQ(store->Height(), 64);
        const TBitmap* decoded = store->GetBitmap(0, PfRGB24());
        ASSERT_TRUE(decoded);
        int32_t worst = 0;
        for (int32_t y = 0; y < 64; ++y) {
            const uint8_t* a = source->Row(y);
            const uint8_t* b = decoded->Row(y);
            for (int32_t x = 0; x < 96; ++x)
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::abs(int(a[x * source->BytesPerPixel() + c]) - int(b[x * 3 + c])));
        }
        EXPECT_LE(worst, 12);
    }
}

TEST(JpegWriter, QualityOutsideTheRange_IsClamped) {
    auto source = Gradient(16, 16, PfRGB24());
    const std::vector<uint8_t> low = EncodeJpeg(*source, -5);
    const std::vector<uint8_t> high = EncodeJpeg(*source, 1000);
    EXPECT_EQ(low, EncodeJpeg(*source, 1));
    EXPECT_EQ(high, EncodeJpeg(*source, 100));
    EXPECT_LT(low.size(), high.size());
}

}  // namespace
}  // namespace ql
