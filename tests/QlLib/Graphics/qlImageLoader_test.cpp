#include "QlLib/Graphics/qlImageLoader.h"

#include <gtest/gtest.h>

#include "QlLib/Graphics/ImageTestSupport.h"
#include "QlLib/Graphics/qlBmpDecoder.h"
#include "QlLib/Graphics/qlGifDecoder.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "TestFolder.h"

namespace ql {
namespace {

using test::TBytes;

TBytes Bmp() {
    test::TBmpSpec s{1, 1, 24};
    s.pixels = {1, 2, 3, 0};
    return test::BmpBytes(s);
}

TEST(ImageLoader, Extensions_AreNormalised) {
    EXPECT_EQ(NormaliseExtension(u"*.JPG"), u".jpg");
    EXPECT_EQ(NormaliseExtension(u"jpg"), u".jpg");
    EXPECT_EQ(NormaliseExtension(u"  .jpg"), u".jpg");
    EXPECT_EQ(NormaliseExtension(u"*jpg"), u".jpg");
}

TEST(ImageLoader, Decoders_AreChosenByExtension) {
    auto bmp = test::StreamOf(Bmp());
    TLoadResult result = LoadImageFromStream(*bmp, u"C:\\a\\b.BMP");
    ASSERT_TRUE(result.Image);
    EXPECT_STREQ(result.DecoderName, "SysBitmapLoader");
    EXPECT_EQ(result.Image.Params().Width, 1);
    // Without a name every decoder is asked.
    bmp->SetPosition(0);
    EXPECT_STREQ(LoadImageFromStream(*bmp, u"").DecoderName, "SysBitmapLoader");
    auto jpeg = test::StreamOf(test::JpegBytes(8, 8));
    EXPECT_STREQ(LoadImageFromStream(*jpeg, u"").DecoderName, "winJpegLoader");
}

TEST(ImageLoader, Signature_ChoosesTheDecoderWhateverTheExtension) {
    auto bitmap = CreateBitmap(3, 2, PfRGB24());
    bitmap->FillRect(bitmap->Bounds(), 0xFF102030u);
    struct TCase {
        const char* what;
        TBytes bytes;
        const char16_t* name;
        const char* decoder;  // nullptr: nothing decodes it
    };
    const TCase cases[] = {
        {"JPEG named PNG", test::JpegBytes(8, 8), u"photo.png", "winJpegLoader"},
        {"PNG named JPEG", EncodePng(*bitmap), u"photo.jpg", "qlImageLib"},
        {"BMP named JPEG", Bmp(), u"b.jpg", "SysBitmapLoader"},
        {"GIF named BMP", test::GifBytes(1, 1, {test::TGifFrame{0, 0, 1, 1, {1}}}), u"anim.bmp",
         "qlFPReadGIF"},
        {"JPEG with an unknown extension", test::JpegBytes(8, 8), u"photo.jpg_large",
         "winJpegLoader"},
        {"text named JPEG",
         {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'},
         u"note.jpg",
         nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto stream = test::StreamOf(c.bytes);
        TLoadResult result = LoadImageFromStream(*stream, c.name);
        if (!c.decoder) {
            EXPECT_FALSE(result.Image);
            EXPECT_EQ(stream->GetPosition(), 0);
            continue;
        }
        ASSERT_TRUE(result.Image);
        EXPECT_STREQ(result.DecoderName, c.decoder);
    }
}

TEST(ImageLoader, PngNamedBmp_IsDecodedAsPng) {
    auto bitmap = CreateBitmap(3, 2, PfRGB24());
    bitmap->FillRect(bitmap->Bounds(), 0xFF102030u);
    auto stream = test::StreamOf(EncodePng(*bitmap));
    TLoadResult result = LoadImageFromStream(*stream, u"photo.bmp");
    ASSERT_TRUE(result.Image);
    EXPECT_STREQ(result.DecoderName, "qlImageLib");
    EXPECT_EQ(test::PixelAt(*result.Image.Store()->GetBitmap(0), 2, 1), 0xFF102030u);
}

TEST(ImageLoader, DamagedData_YieldsNothingWithTheStreamRestored) {
    TBytes bad = test::GifBytes(2, 2, {});
    bad.resize(13 + 768);
    bad.push_back(0x77);
    auto stream = test::StreamOf(bad);
    stream->SetPosition(0);
    EXPECT_FALSE(LoadImageFromStream(*stream, u"x.gif").Image);
    EXPECT_EQ(stream->GetPosition(), 0);
    EXPECT_FALSE(LoadImageFromStream(test::StreamOf({0xFF, 0xD8, 0, 0}), u"x.jpg").Image);
}

TEST(ImageLoader, AnimatedGif_CarriesItsTilesTagWhenAnimationIsOn) {
    test::TGifFrame a{0, 0, 1, 1, {1}, 4}, b{0, 0, 1, 1, {2}, 6};
    const TBytes gif = test::GifBytes(1, 1, {a, b}, 0);
    TLoadResult animated;
    {
        TGifAnimationScope animation(true);
        animated = LoadImageFromStream(test::StreamOf(gif), u"a.gif");
    }
    TGifAnimationScope still(false);
    ASSERT_TRUE(animated.Image);
    EXPECT_STREQ(animated.DecoderName, "qlFPReadGIF");
    ASSERT_NE(animated.Image.Store()->TilesTag(), nullptr);
    EXPECT_EQ(animated.Image.Params().Width, 2);
    TLoadResult first = LoadImageFromStream(test::StreamOf(gif), u"a.gif");
    EXPECT_EQ(first.Image.Store()->TilesTag(), nullptr);
    EXPECT_EQ(first.Image.Params().Width, 1);
}

TEST(ImageLoader, Files_MissingOrPresent) {
    test::TTestFolder folder;
    EXPECT_FALSE(LoadImageFromFile(folder.WideFile("none.bmp")).Image);
    const TBytes bytes = Bmp();
    {
        TFileStream f(folder.WideFile("one.bmp"), TFileAccess::Write, 0,
                      TFileDisposition::CreateAlways);
        f.WriteBuffer(bytes.data(), bytes.size());
    }
    EXPECT_TRUE(LoadImageFromFile(folder.WideFile("one.bmp")).Image);
}

TRef<TBitmapStore> RefuseAll(TStream&, const std::u16string&, TTransformHook, void*) {
    throw EImageError("refused");
}

// A format of the tests' own: "TST1" in front of nothing, decoded as a 1x1 BMP.
TRef<TBitmapStore> DecodeTst(TStream& stream, const std::u16string& name, TTransformHook hook,
                             void* context) {
    uint8_t head[4];
    if (stream.Read(head, 4) != 4 || std::memcmp(head, "TST1", 4) != 0) return nullptr;
    auto bmp = test::StreamOf(Bmp());
    return DecodeBmp(*bmp, name, hook, context);
}

TEST(ImageLoader, RegisteredDecoders_ComeAfterTheBuiltIns) {
    auto stream = test::StreamOf({'T', 'S', 'T', '1'});
    {
        TDecoderRegistration refuser("refuser", RefuseAll, {u"*.tst"});
        EXPECT_FALSE(LoadImageFromStream(*stream, u"a.tst").Image);
        EXPECT_STREQ(LoadImageFromStream(test::StreamOf(Bmp()), u"a").DecoderName,
                     "SysBitmapLoader");
    }
    // Taken back with its guard: a ".tst" is no longer anybody's.
    {
        TDecoderRegistration bmp("bmp-for-tst", DecodeTst, {u"*.tst"});
        stream->SetPosition(0);
        EXPECT_STREQ(LoadImageFromStream(*stream, u"a.tst").DecoderName, "bmp-for-tst");
    }
    stream->SetPosition(0);
    EXPECT_FALSE(LoadImageFromStream(*stream, u"a.tst").Image);
}

}  // namespace
}  // namespace ql
