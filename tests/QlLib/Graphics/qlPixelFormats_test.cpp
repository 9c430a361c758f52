#include "QlLib/Graphics/qlPixelFormats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "QlLib/qpExceptions.h"

namespace ql {
namespace {

const TPixelFormat& Pf(const char* name) {
    const TPixelFormat* f = FindPixelFormat(name);
    EXPECT_NE(f, nullptr) << name;
    return *f;
}

std::vector<uint8_t> Convert(const char* to, const char* from, std::vector<uint8_t> src, int32_t count) {
    const TPixelFormat &d = Pf(to), &s = Pf(from);
    std::vector<uint8_t> out(size_t(count) * size_t(d.BytesPerPixel()), 0xCC);
    FindConvertor(d, s)->Convert(out.data(), src.data(), count);
    return out;
}

TEST(PixelFormat, Parse_A8R8G8B8_StoresChannelsLowestFirst) {
    const TPixelFormat& f = Pf("A8R8G8B8");
    ASSERT_EQ(f.Channels().Count(), 4);
    EXPECT_EQ(f.Channels().entries[0].code, ccB);
    EXPECT_EQ(f.Channels().entries[1].code, ccG);
    EXPECT_EQ(f.Channels().entries[2].code, ccR);
    EXPECT_EQ(f.Channels().entries[3].code, ccA);
    EXPECT_EQ(f.BitsPerPixel(), 32);
    EXPECT_EQ(f.BytesPerPixel(), 4);
    EXPECT_TRUE(f.HasAlpha());
    EXPECT_EQ(f.ColourClass(), 3);
    EXPECT_FALSE(f.BitPacked());
}

TEST(PixelFormat, Parse_OneChannelAndPackedFormats) {
    EXPECT_EQ(Pf("Y8").ColourClass(), 2);
    EXPECT_TRUE(Pf("Y8").HasAlpha());
    EXPECT_TRUE(Pf("B5G6R5").BitPacked());
    EXPECT_EQ(Pf("B5G6R5").BytesPerPixel(), 2);
    EXPECT_EQ(Pf("R8G8B8").ColourClass(), 0);
    EXPECT_EQ(Pf("x1r5g5b5").BitsPerPixel(), 16);
}

TEST(PixelFormat, Registry_SameNameGivesSameObject) { EXPECT_EQ(&Pf("B8G8R8"), &Pf("B8G8R8")); }

TEST(PixelFormat, Registry_RefusesNamesWithoutBitsOrTooWide) {
    EXPECT_EQ(FindPixelFormat(""), nullptr);
    EXPECT_EQ(FindPixelFormat("RGB"), nullptr);
    EXPECT_EQ(FindPixelFormat("R99999999999"), nullptr);
    EXPECT_EQ(FindPixelFormat("R16G16B16"), nullptr);
}

TEST(PixelConverter, RGBToARGB_SetsAlphaAndKeepsBytes) {
    EXPECT_EQ(Convert("A8R8G8B8", "R8G8B8", {1, 2, 3, 4, 5, 6}, 2), (std::vector<uint8_t>{1, 2, 3, 255, 4, 5, 6, 255}));
    EXPECT_EQ(Convert("R8G8B8", "A8R8G8B8", {1, 2, 3, 9, 4, 5, 6, 9}, 2), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST(PixelConverter, ByteConvertor_SwapsRedAndBlueBetweenOrders) {
    EXPECT_EQ(Convert("B8G8R8", "A8R8G8B8", {10, 20, 30, 40}, 1), (std::vector<uint8_t>{30, 20, 10}));
    // A missing alpha gets its maximum, a missing colour 0.
    EXPECT_EQ(Convert("A8B8G8R8", "R8G8B8", {10, 20, 30}, 1), (std::vector<uint8_t>{30, 20, 10, 255}));
}

TEST(PixelConverter, BitConvertor_WidensFiveBitsWithOnesBelow) {
    // "X1R5G5B5": blue in the low 5 bits.
    auto widen = [](uint16_t v) { return Convert("A8R8G8B8", "X1R5G5B5", {uint8_t(v), uint8_t(v >> 8)}, 1); };
    EXPECT_EQ(widen(31)[0], 255);
    EXPECT_EQ(widen(0)[0], 0);
    EXPECT_EQ(widen(1)[0], 15);
    EXPECT_EQ(widen(31u << 10)[2], 255);
    EXPECT_EQ(widen(0)[3], 255);
}

TEST(PixelConverter, BitConvertor_MissingOneBitAlphaIsOne) {
    const auto out = Convert("A1R5G5B5", "R8G8B8", {0, 0, 0}, 1);
    EXPECT_EQ(out[1] & 0x80, 0x80);
}

TEST(PixelConverter, SpecialConverters_ExpandSixteenBitPixels) {
    const uint16_t v = 0xF800 | (0x3F << 5) | 0x01;  // R5G6B5: red 31, green 63, blue 1
    EXPECT_EQ(Convert("R8G8B8", "R5G6B5", {uint8_t(v), uint8_t(v >> 8)}, 1), (std::vector<uint8_t>{8, 252, 248}));
    EXPECT_EQ(Convert("R8G8B8", "Y8", {77}, 1), (std::vector<uint8_t>{77, 77, 77}));
}

TEST(PixelConverter, GreyToSixteenBit_GivesGreyNotBlack) {
    const auto out = Convert("B5G6R5", "Y8", {255}, 1);
    EXPECT_EQ(out[0] | (out[1] << 8), 0xFFFF);
}

// Every format round-trips through "A8R8G8B8" when its values are already
// representable there.
TEST(PixelConverter, RoundTrip_EveryPredefinedFormatThroughARGB) {
    std::mt19937 rng(7);
    for (const char* name : {"Y8", "A8", "R8G8B8", "A8R8G8B8", "B8G8R8", "A8B8G8R8", "B5G6R5", "B5G5R5X1",
                             "X8B8G8R8", "R5G6B5", "X1R5G5B5"}) {
        const TPixelFormat& f = Pf(name);
        const int32_t n = 64, bpp = f.BytesPerPixel();
        std::vector<uint8_t> src(size_t(n * bpp));
        for (auto& b : src) b = uint8_t(rng());
        // Ignored bits come back as 0, so clear them first.
        std::vector<uint8_t> clean(src.size());
        FindConvertor(f, Pf("A8R8G8B8"))->Convert(clean.data(),
                                                 Convert("A8R8G8B8", name, src, n).data(), n);
        const auto there = Convert("A8R8G8B8", name, clean, n);
        std::vector<uint8_t> back(src.size());
        FindConvertor(f, Pf("A8R8G8B8"))->Convert(back.data(), there.data(), n);
        EXPECT_EQ(back, clean) << name;
    }
}

TEST(PixelConverter, Register_ReplacesEarlierConverter) {
    struct TZero : TConvertOperator {
        using TConvertOperator::TConvertOperator;
        void Convert(uint8_t* dst, const uint8_t*, int32_t count) const override {
            std::fill(dst, dst + count, uint8_t(0));
        }
    };
    const TPixelFormat &d = Pf("P8"), &s = Pf("Q8");  // private names: nobody else uses them
    auto first = std::make_unique<TZero>(d, s);
    TPixelConverter* firstPtr = first.get();
    RegisterConvertor(d, s, std::move(first));
    EXPECT_EQ(FindConvertor(d, s), firstPtr);
    auto second = std::make_unique<TZero>(d, s);
    TPixelConverter* secondPtr = second.get();
    RegisterConvertor(d, s, std::move(second));
    EXPECT_EQ(FindConvertor(d, s), secondPtr);
}

TEST(PixelFormat, DibDepths_SixteenBitKeepsRedOnTop) {
    EXPECT_EQ(PixelFormatOfDepth(16)->Name(), "R5G6B5");
    EXPECT_EQ(PixelFormatOfDepth(15)->Name(), "X1R5G5B5");
    EXPECT_EQ(PixelFormatOfDepth(32)->Name(), "A8R8G8B8");
    EXPECT_THROW(PixelFormatOfDepth(12), EAssertionFailed);
}

}  // namespace
}  // namespace ql
