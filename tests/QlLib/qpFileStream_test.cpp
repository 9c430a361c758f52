#include "QlLib/qpFileStream.h"

#include <gtest/gtest.h>

#include <vector>

#include "QlLib/qpExceptions.h"
#include "TestFolder.h"

namespace ql {
namespace {

// A memory stream that hides its size and hands out small pieces, like a pipe.
class TUnknownSizeStream : public TMemoryStream {
public:
    explicit TUnknownSizeStream(size_t piece) : m_piece(piece) {}
    int64_t GetSize() override { return -1; }
    size_t Read(void* buffer, size_t count) override {
        return TMemoryStream::Read(buffer, std::min(count, m_piece));
    }

private:
    size_t m_piece;
};

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return bytes;
}

TEST(MemoryStream, Growth_ReservesTheCapacitySteps) {
    TMemoryStream stream;
    std::vector<int64_t> seen;
    for (int i = 0; i < 600; ++i) {
        stream.WriteByte(1);
        if (seen.empty() || seen.back() != stream.Capacity()) seen.push_back(stream.Capacity());
    }
    EXPECT_EQ(seen, (std::vector<int64_t>{16, 32, 48, 112, 176, 240, 304, 608}));
}

TEST(MemoryStream, SetPositionOutside_Clamps) {
    TMemoryStream stream;
    stream.WriteDWord(0x01020304);
    stream.SetPosition(-5);
    EXPECT_EQ(stream.GetPosition(), 0);
    stream.SetPosition(stream.GetSize() + 100);
    EXPECT_EQ(stream.GetPosition(), 4);
}

TEST(MemoryStream, ReadWordWithOneByteLeft_RaisesAndConsumesTheByte) {
    TMemoryStream stream;
    stream.WriteByte(0xAB);
    stream.SetPosition(0);
    EXPECT_THROW(stream.ReadWord(), EStreamReadError);
    EXPECT_EQ(stream.GetPosition(), 1);
}

TEST(MemoryStream, SetSize_AllocatesExactlyAndPullsThePositionBack) {
    TMemoryStream stream;
    stream.SetSize(1000);
    EXPECT_EQ(stream.Capacity(), 1000);
    stream.SetPosition(900);
    stream.SetSize(100);
    EXPECT_EQ(stream.GetPosition(), 100);
    stream.SetSize(0);
    EXPECT_EQ(stream.Capacity(), 0);
    EXPECT_EQ(stream.Memory(), nullptr);
}

TEST(MemoryStream, AssignFromUnknownSize_CopiesUntilNothingIsRead) {
    TUnknownSizeStream source(7);
    const std::vector<uint8_t> bytes = Pattern(100000);
    source.WriteBuffer(bytes.data(), bytes.size());
    source.SetPosition(33);
    TMemoryStream target;
    target.WriteAnsi("stale");
    target.Assign(source);
    ASSERT_EQ(target.GetSize(), 100000);
    EXPECT_EQ(std::vector<uint8_t>(target.Memory(), target.Memory() + 100000), bytes);
    EXPECT_EQ(target.GetPosition(), 0);
    EXPECT_EQ(source.GetPosition(), 33);
}

TEST(MemoryStream, AssignFromKnownSize_CopiesEverythingFromTheStart) {
    TStringStream source("abcdef");
    source.SetPosition(4);
    TMemoryStream target;
    target.Assign(source);
    EXPECT_EQ(target.ReadAnsiChars(6), "abcdef");
    EXPECT_EQ(source.GetPosition(), 4);
}

TEST(StreamErrors, SeekErrorWithoutCause_CarriesTheClassName) {
    EXPECT_STREQ(EStreamSeekError().what(), "Tarvik Exception: \"EStreamSeekError\"");
    EXPECT_STREQ(EStreamReadError().what(), "Tarvik Exception: \"EStreamReadError\"");
}

TEST(StreamStrings, HugeCount_RaisesBeforeAllocating) {
    TMemoryStream stream;
    stream.WriteWide(u"hi");
    stream.SetPosition(0);
    EXPECT_THROW(stream.ReadWideChars(int64_t{1} << 40), EStreamReadError);
    EXPECT_THROW(stream.ReadWideChars(INT64_MAX), EStreamReadError);
    EXPECT_THROW(stream.ReadAnsiChars(int64_t{1} << 40), EStreamReadError);
    EXPECT_THROW(stream.ReadAnsiChars(-1), EStreamReadError);
    EXPECT_EQ(stream.GetPosition(), 0);
    EXPECT_EQ(stream.ReadWideChars(2), u"hi");
}

TEST(StringStream, BehavesLikeTheMemoryStream) {
    TStringStream stream("xy");
    stream.SetPosition(-5);
    EXPECT_EQ(stream.GetPosition(), 0);
    stream.SetPosition(50);
    EXPECT_EQ(stream.GetPosition(), 2);
    stream.WriteWord(0x4241);
    EXPECT_EQ(stream.DataString(), "xyAB");
}

TEST(FileStream, TypedValues_RoundTrip) {
    test::TTestFolder folder;
    const std::u16string name = folder.WideFile("values.bin");
    {
        TFileStream out(name, TFileAccess::ReadWrite, kShareRead, TFileDisposition::CreateAlways);
        out.WriteByte(0x7F);
        out.WriteWord(0xBEEF);
        out.WriteDWord(0xDEADBEEF);
        out.WriteInt64(-2);
        out.WriteWide(u"\u00E9t\u00E9");
        out.WriteAnsi("end");
        EXPECT_EQ(out.GetSize(), 1 + 2 + 4 + 8 + 6 + 3);
    }
    TFileStream in(name, TFileAccess::Read, kShareRead, TFileDisposition::OpenExisting);
    EXPECT_EQ(in.ReadByte(), 0x7F);
    EXPECT_EQ(in.ReadWord(), 0xBEEF);
    EXPECT_EQ(in.ReadDWord(), 0xDEADBEEFu);
    EXPECT_EQ(in.ReadInt64(), -2);
    EXPECT_EQ(in.ReadWideChars(3), u"\u00E9t\u00E9");
    EXPECT_EQ(in.ReadAnsiChars(3), "end");
    EXPECT_THROW(in.ReadByte(), EStreamReadError);
}

TEST(FileStream, MissingFile_RaisesOpenErrorWithTheName) {
    test::TTestFolder folder;
    try {
        TFileStream in(folder.WideFile("absent.bin"), TFileAccess::Read, kShareRead,
                       TFileDisposition::OpenExisting);
        FAIL() << "opened a missing file";
    } catch (const EFileOpenError& e) {
        EXPECT_NE(e.Message().find("absent.bin"), std::string::npos);
    }
}

TEST(FileStream, CopyFromUnknownSizeSource_CopiesAllOfIt) {
    test::TTestFolder folder;
    const size_t size = 3 * 1024 * 1024;
    const std::vector<uint8_t> bytes = Pattern(size);
    TUnknownSizeStream source(size);
    source.WriteBuffer(bytes.data(), bytes.size());
    source.SetPosition(0);
    TFileStream out(folder.WideFile("copy.bin"), TFileAccess::ReadWrite, kShareRead,
                    TFileDisposition::CreateAlways);
    EXPECT_EQ(out.CopyFrom(source, -1), static_cast<int64_t>(size));
    ASSERT_EQ(out.GetSize(), static_cast<int64_t>(size));
    out.SetPosition(0);
    std::vector<uint8_t> back(size);
    out.ReadBuffer(back.data(), size);
    EXPECT_EQ(back, bytes);
}

TEST(FileStream, ClosedStream_CopiesNothingAndRaisesOnAccess) {
    TFileStream closed;
    TStringStream source("abc");
    EXPECT_EQ(closed.CopyFrom(source, -1), 0);
    EXPECT_THROW(closed.SetPosition(0), EStreamSeekError);
    EXPECT_THROW(closed.GetSize(), EStreamError);
}

}  // namespace
}  // namespace ql
