#include "QlLib/qlPartialStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QlLib/qpExceptions.h"

namespace ql {
namespace {

std::string Digits(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + i % 10);
    return s;
}

std::string ExpectStreamError(const std::function<void()>& action) {
    try {
        action();
    } catch (const EStreamError& e) {
        return e.Message();
    }
    return "no error";
}

TEST(PartialStream, WindowPastSourceEnd_RaisesInsufficientSourceSize) {
    TStringStream source(Digits(100));
    EXPECT_EQ(ExpectStreamError([&] { TPartialStream w(source, 90, 11); }),
              "Insufficient Source Size");
    EXPECT_EQ(ExpectStreamError([&] { TPartialStream w(source, -1, 10); }),
              "Insufficient Source Size");
    EXPECT_EQ(ExpectStreamError([&] { TPartialStream w(source, 10, -5); }),
              "Insufficient Source Size");
    EXPECT_EQ(ExpectStreamError([&] { TPartialStream w(source, INT64_MAX, 2); }),
              "Insufficient Source Size");
    TPartialStream exact(source, 90, 10);
    EXPECT_EQ(exact.GetSize(), 10);
}

TEST(PartialStream, ReadPastWindowEnd_ReturnsOnlyWhatIsLeft) {
    TStringStream source(Digits(100));
    TPartialStream window(source, 20, 10);
    EXPECT_EQ(window.GetPosition(), 0);
    window.SetPosition(6);
    char buffer[16] = {};
    EXPECT_EQ(window.Read(buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(window.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(window.GetPosition(), 10);
}

TEST(PartialStream, SeekOutsideWindowAndResize_RaiseTheirMessages) {
    TStringStream source(Digits(100));
    TPartialStream window(source, 20, 10);
    EXPECT_EQ(ExpectStreamError([&] { window.SetPosition(11); }), "Incorrect Position");
    EXPECT_EQ(ExpectStreamError([&] { window.SetPosition(-1); }), "Incorrect Position");
    EXPECT_EQ(ExpectStreamError([&] { window.SetSize(5); }), "Stream Cannot be resized");
    window.SetPosition(10);
    EXPECT_EQ(window.GetPosition(), 10);
}

TEST(PartialStream, WriteStopsAtWindowEnd) {
    TStringStream source(std::string(20, '.'));
    TPartialStream window(source, 5, 4);
    EXPECT_EQ(window.Write("abcdefg", 7), 4u);
    EXPECT_EQ(source.DataString(), ".....abcd...........");
}

struct TCallCounter {
    int calls = 0;
    int stopAfter = -1;
    static bool Callback(void* user) {
        auto* self = static_cast<TCallCounter*>(user);
        ++self->calls;
        return self->stopAfter < 0 || self->calls < self->stopAfter;
    }
};

TEST(PartialStream, Callback_CalledPerChunkWithMinimumChunk) {
    TStringStream source(Digits(5000));
    TPartialStream window(source, 0, 5000);
    TCallCounter counter;
    window.SetCallback(&TCallCounter::Callback, &counter, 10);
    EXPECT_EQ(window.ChunkSize(), 256);
    std::vector<char> buffer(5000);
    EXPECT_EQ(window.Read(buffer.data(), buffer.size()), 5000u);
    EXPECT_EQ(counter.calls, 20);  // ceil(5000 / 256)
    window.SetCallback(nullptr, nullptr, 10);
    EXPECT_EQ(window.ChunkSize(), 32768);
}

TEST(PartialStream, CallbackAnsweringFalse_EndsTheReadEarly) {
    TStringStream source(Digits(5000));
    TPartialStream window(source, 0, 5000);
    TCallCounter counter;
    counter.stopAfter = 2;
    window.SetCallback(&TCallCounter::Callback, &counter, 1000);
    std::vector<char> buffer(5000);
    EXPECT_EQ(window.Read(buffer.data(), buffer.size()), 2000u);
}

TEST(PartialStream, CopyFrom_WritesThroughWindowAndFailsWhenFull) {
    TStringStream target(std::string(10, '.'));
    TPartialStream window(target, 2, 5);
    TStringStream small("xyz");
    EXPECT_EQ(window.CopyFrom(small, -1), 3);
    EXPECT_EQ(target.DataString(), "..xyz.....");
    TStringStream big("0123456789");
    EXPECT_THROW(window.CopyFrom(big, -1), EStreamWriteError);
}

TEST(CryptStream, ReadFromPosition40_XorsWithKeyByte8) {
    const std::string key = "5E3F0A7C19D24B8E96A1C3D5F7082B4E";
    std::string plain = Digits(100);
    std::string scrambled = plain;
    TCryptStream::Apply(key, 0, reinterpret_cast<uint8_t*>(scrambled.data()), scrambled.size());
    TStringStream inner(scrambled);
    TCryptStream crypt(inner, key);
    crypt.SetPosition(40);
    EXPECT_EQ(crypt.ReadByte(), static_cast<uint8_t>(scrambled[40] ^ key[8]));
    EXPECT_EQ(static_cast<char>(scrambled[40] ^ key[8]), plain[40]);
    char rest[59];
    crypt.ReadBuffer(rest, sizeof rest);
    EXPECT_EQ(std::string(rest, sizeof rest), plain.substr(41));
}

TEST(CryptStream, WriteThenRead_RoundTripsAndLeavesCallerDataAlone) {
    const std::string key = "K3y";
    TStringStream inner;
    TCryptStream crypt(inner, key);
    std::string data = "hello, scrambled world";
    const std::string original = data;
    crypt.WriteBuffer(data.data(), data.size());
    EXPECT_EQ(data, original);
    EXPECT_NE(inner.DataString(), original);
    crypt.SetPosition(0);
    std::string back(original.size(), '\0');
    crypt.ReadBuffer(back.data(), back.size());
    EXPECT_EQ(back, original);
}

}  // namespace
}  // namespace ql
