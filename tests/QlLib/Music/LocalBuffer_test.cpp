#include "QlLib/Music/LocalBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"

namespace ql {
namespace {

TEST(LocalBuffer, ReadConsumeAndAppend_KeepTheBytesInOrder) {
    TMemoryStream stream;
    stream.WriteAnsi("abcdefgh");
    stream.SetPosition(0);
    TLocalBuffer buffer;
    ASSERT_TRUE(buffer.EnsureFreeRoom(6));
    EXPECT_EQ(buffer.ReadFrom(stream, 100), 6u);
    buffer.Consume(2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Fill()), "cdef");
    TLocalBuffer other(2);
    other.Append("xy", 2);
    ASSERT_TRUE(buffer.EnsureFreeRoom(2));
    buffer.Append(other);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Fill()), "cdefxy");
    buffer.Consume(100);
    EXPECT_EQ(buffer.Fill(), 0u);
}

TEST(LocalBuffer, AppendBeyondTheFreeRoom_IsTheOverrunAssertion) {
    TLocalBuffer buffer(3);
    try {
        buffer.Append("abcd", 4);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.what()).find("Buffer overrun"), std::string::npos);
    }
    EXPECT_EQ(buffer.Fill(), 0u);
}

TEST(LocalBuffer, HugeRoom_IsRefused) {
    TLocalBuffer buffer;
    EXPECT_FALSE(buffer.EnsureFreeRoom(size_t(1) << 40));
    EXPECT_EQ(buffer.Capacity(), 0u);
}

}  // namespace
}  // namespace ql
