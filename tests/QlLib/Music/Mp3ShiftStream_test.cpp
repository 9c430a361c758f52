#include "QlLib/Music/Mp3ShiftStream.h"

#include <gtest/gtest.h>

#include "QlLib/Music/MusicTypes.h"
#include "QlLib/qpExceptions.h"

namespace ql {
namespace {

TEST(Mp3ShiftStream, PositionsAndSize_AreMovedByTheOffset) {
    TMp3ShiftStream stream(std::make_unique<TStringStream>("0123456789"), 4);
    EXPECT_EQ(stream.GetSize(), 6);
    EXPECT_EQ(stream.GetPosition(), 0);
    char c = 0;
    ASSERT_EQ(stream.Read(&c, 1), 1u);
    EXPECT_EQ(c, '4');
    stream.SetPosition(5);
    ASSERT_EQ(stream.Read(&c, 1), 1u);
    EXPECT_EQ(c, '9');
    EXPECT_THROW(stream.SetSize(3), EAssertionFailed);
}

TEST(StreamBroker, OpenAtAndRelease_HandTheSourceBackUnwrapped) {
    TStreamWrapperClass& broker = TStreamWrapperClass::Instance();
    TStream* released = nullptr;
    TStream* opened = nullptr;
    broker.SetCallbacks(
        [&](const std::u16string& name) {
            auto stream = std::make_unique<TStringStream>(name == u"a" ? "ID3xxMPEG" : "");
            opened = stream.get();
            return stream;
        },
        [&](std::unique_ptr<TStream> stream) { released = stream.get(); });
    auto stream = broker.OpenAt(u"a", 5);
    ASSERT_TRUE(stream);
    char text[4];
    ASSERT_EQ(broker.Read(*stream, text, 4), 4u);
    EXPECT_EQ(std::string(text, 4), "MPEG");
    EXPECT_EQ(broker.Seek(*stream, -1, 2), 3);
    broker.Release(std::move(stream));
    EXPECT_EQ(released, opened);
    broker.SetCallbacks(nullptr, nullptr);
}

}  // namespace
}  // namespace ql
