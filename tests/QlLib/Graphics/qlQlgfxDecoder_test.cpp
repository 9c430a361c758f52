#include "QlLib/Graphics/qlQlgfxDecoder.h"

#include <gtest/gtest.h>

#include "QlLib/Graphics/ImageTestSupport.h"
#include "QlLib/qlZStreams.h"

namespace ql {
namespace {

using test::PixelAt;
using test::TBytes;

void PutText(TBytes& b, const std::string& text) {
    test::Put16(b, uint32_t(text.size()));
    b.insert(b.end(), text.begin(), text.end());
}

TBytes Compressed(const TBytes& raw) {
    TMemoryStream in, out;
    in.WriteBuffer(raw.data(), raw.size());
    in.SetPosition(0);
    TDeflator::Deflate(in, out, 6, kZlibWindowBits);
    return TBytes(out.Memory(), out.Memory() + out.GetSize());
}

TBytes Container(const std::vector<std::pair<std::string, std::string>>& fields, const TBytes& payload) {
    TBytes b{'Q', 'L', 'G', 'F'};
    test::Put16(b, uint32_t(fields.size()));
    for (const auto& [name, value] : fields) {
        PutText(b, name);
        PutText(b, value);
    }
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

TBytes SmallBmp() {
    test::TBmpSpec s{2, 1, 32};
    s.pixels = {1, 2, 3, 200, 4, 5, 6, 100};
    return test::BmpBytes(s);
}

TRef<TBitmapStore> Load(const TBytes& bytes) {
    auto stream = test::StreamOf(bytes);
    return DecodeQlgfx(*stream, u"p.qlgfx", nullptr, nullptr);
}

TEST(QlgfxDecoder, Payload_IsInflatedOnFirstRequest) {
    const TBytes bmp = SmallBmp();
    auto store = Load(Container(
        {{"File", "C:\\pics\\ä.png"}, {"Width", "2"}, {"Height", "1"}, {"OriginalSize", std::to_string(bmp.size())}},
        Compressed(bmp)));
    ASSERT_TRUE(store);
    EXPECT_EQ(store->Format(), PfARGB32());
    EXPECT_EQ(static_cast<TGfxBitmapStore&>(*store).SourceFile(), u"C:\\pics\\ä.png");
    TBitmap* bitmap = store->GetBitmap(0);
    EXPECT_EQ(PixelAt(*bitmap, 0, 0), 0xC8030201u);
    EXPECT_EQ(PixelAt(*bitmap, 1, 0), 0x64060504u);
}

TEST(QlgfxDecoder, DamagedPayload_GivesOpaqueGreen) {
    auto store = Load(Container({{"File", "x"}, {"Width", "3"}, {"Height", "2"}, {"OriginalSize", "100"}},
                                {1, 2, 3, 4, 5}));
    ASSERT_TRUE(store);
    TBitmap* bitmap = store->GetBitmap(0);
    ASSERT_EQ(bitmap->Width(), 3);
    EXPECT_EQ(PixelAt(*bitmap, 2, 1), 0xFF00FF00u);
    // A payload of another size than announced is damaged too.
    const TBytes bmp = SmallBmp();
    auto wrong = Load(Container(
        {{"File", "x"}, {"Width", "4"}, {"Height", "1"}, {"OriginalSize", std::to_string(bmp.size())}},
        Compressed(bmp)));
    EXPECT_EQ(PixelAt(*wrong->GetBitmap(0), 3, 0), 0xFF00FF00u);
    // More output than OriginalSize stops the inflation.
    auto longer = Load(Container({{"File", "x"}, {"Width", "2"}, {"Height", "1"}, {"OriginalSize", "20"}},
                                 Compressed(bmp)));
    EXPECT_EQ(PixelAt(*longer->GetBitmap(0), 0, 0), 0xFF00FF00u);
}

TEST(QlgfxDecoder, BadHeaders_AreRefused) {
    const TBytes payload = Compressed(SmallBmp());
    EXPECT_EQ(Load({'Q', 'L', 'G', 'X', 0, 0}), nullptr);
    EXPECT_THROW(Load(Container({{"Width", "2"}, {"Height", "1"}, {"OriginalSize", "9"}}, payload)), EImageError);
    EXPECT_THROW(Load(Container({{"File", "x"}, {"Width", "two"}, {"Height", "1"}, {"OriginalSize", "9"}}, payload)),
                 EImageError);
    EXPECT_THROW(Load(Container({{"File", "x"}, {"Width", "100000"}, {"Height", "1"}, {"OriginalSize", "9"}}, payload)),
                 EImageError);
    EXPECT_THROW(Load(Container({{"File", "x"}, {"Width", "2"}, {"Height", "1"}, {"OriginalSize", "5000000"}}, payload)),
                 EImageError);
    TBytes truncated = Container({{"File", "x"}}, {});
    truncated.resize(truncated.size() - 1);
    EXPECT_THROW(Load(truncated), EImageError);
}

}  // namespace
}  // namespace ql
