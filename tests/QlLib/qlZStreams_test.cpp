#include "QlLib/qlZStreams.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "QlLib/qpExceptions.h"

namespace ql {
namespace {

std::string Sample(size_t n) {
    std::string s;
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s += static_cast<char>('a' + (x >> 16) % 7);
    }
    return s;
}

std::string DeflateText(const std::string& text, int windowBits) {
    TStringStream in(text), out;
    TDeflator::Deflate(in, out, 6, windowBits);
    return out.DataString();
}

std::string ReadAll(TStream& stream) {
    std::string result;
    char buffer[1000];
    while (size_t got = stream.Read(buffer, sizeof buffer)) result.append(buffer, got);
    return result;
}

TEST(InflateStream, RawDeflate_RoundTripsAndStopsAtTheEnd) {
    const std::string text = Sample(200000);
    TStringStream packed(DeflateText(text, kRawDeflateWindowBits) + "trailing bytes");
    TInflateStream inflate(packed);
    EXPECT_EQ(ReadAll(inflate), text);
    EXPECT_TRUE(inflate.Finished());
    EXPECT_EQ(inflate.GetPosition(), static_cast<int64_t>(text.size()));
    EXPECT_EQ(inflate.GetSize(), -1);
}

TEST(InflateStream, ZlibFormat_DecodedByZDecompressionStream) {
    const std::string text = Sample(5000);
    TStringStream packed(DeflateText(text, kZlibWindowBits));
    TZDecompressionStream inflate(packed);
    EXPECT_EQ(ReadAll(inflate), text);
}

TEST(InflateStream, ForwardSeekSkips_BackwardSeekRaises) {
    const std::string text = Sample(100000);
    TStringStream packed(DeflateText(text, kRawDeflateWindowBits));
    TInflateStream inflate(packed);
    inflate.SetPosition(70000);
    EXPECT_EQ(inflate.ReadByte(), static_cast<uint8_t>(text[70000]));
    EXPECT_THROW(inflate.SetPosition(10), EStreamSeekError);
}

TEST(InflateStream, DamagedOrTruncatedData_RaisesReadError) {
    TStringStream garbage(std::string(64, '\xFF'));
    TInflateStream bad(garbage);
    char buffer[256];
    EXPECT_THROW(bad.Read(buffer, sizeof buffer), EStreamReadError);

    const std::string packed = DeflateText(Sample(100000), kRawDeflateWindowBits);
    TStringStream cut(packed.substr(0, packed.size() / 2));
    TInflateStream truncated(cut);
    try {
        ReadAll(truncated);
        FAIL() << "truncated data decoded";
    } catch (const EStreamReadError& e) {
        EXPECT_EQ(e.Message(), kInflateTruncatedText);
    }
}

TEST(Inflator, DeflateBomb_StopsAtTheLimit) {
    // 64 MB of zeros compress to about 64 KB.
    std::string bomb;
    {
        TStringStream out;
        z_stream z{};
        ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
        std::string zeros(1 << 20, '\0');
        std::string chunk(1 << 16, '\0');
        for (int i = 0; i < 64; ++i) {
            z.next_in = reinterpret_cast<Bytef*>(zeros.data());
            z.avail_in = static_cast<uInt>(zeros.size());
            int flush = i == 63 ? Z_FINISH : Z_NO_FLUSH;
            do {
                z.next_out = reinterpret_cast<Bytef*>(chunk.data());
                z.avail_out = static_cast<uInt>(chunk.size());
                deflate(&z, flush);
                bomb.append(chunk.data(), chunk.size() - z.avail_out);
            } while (z.avail_out == 0);
        }
        deflateEnd(&z);
    }
    ASSERT_LT(bomb.size(), 200000u);
    TStringStream source(bomb);
    TMemoryStream dest;
    try {
        TInflator::Inflate(source, dest, 1 << 20);
        FAIL() << "bomb inflated";
    } catch (const EStreamReadError& e) {
        EXPECT_EQ(e.Message(), kInflateLimitText);
    }
    EXPECT_LE(dest.GetSize(), 1 << 20);
}

TEST(Inflator, WholeStreamIntoMemory) {
    const std::string text = Sample(70000);
    TStringStream source(DeflateText(text, kRawDeflateWindowBits));
    TMemoryStream dest;
    EXPECT_EQ(TInflator::Inflate(source, dest), static_cast<int64_t>(text.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dest.Memory()), dest.GetSize()), text);
}

}  // namespace
}  // namespace ql
