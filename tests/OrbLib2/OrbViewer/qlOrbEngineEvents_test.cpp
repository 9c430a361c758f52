#include "OrbLib2/OrbViewer/qlOrbEngineEvents.h"

#include <gtest/gtest.h>

#include <memory>

#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "QlLib/qlIniStorage.h"

namespace orb {
namespace {

class TNoFiles : public TFileSource {
protected:
    std::unique_ptr<ql::TStream> DoOpen(const std::u16string&) override { return nullptr; }
};

std::unique_ptr<TOpenParams> Open(int64_t id, int64_t time) {
    auto p = std::make_unique<TOpenParams>();
    p->RequestId = id;
    p->StartTime = time;
    p->Accessor = std::make_unique<TFileAccessor>(ql::MakeRef<TNoFiles>());
    p->Storage = std::make_unique<ql::TIniFile>();
    return p;
}

std::unique_ptr<TOpenParams> Seek(int64_t id, int64_t time) {
    auto p = std::make_unique<TOpenParams>();
    p->RequestId = id;
    p->StartTime = time;
    return p;
}

TEST(RequestSlots, SeekWhileOpenPending_KeepsTheOpenWithNewTimeAndId) {
    TRequestSlots slots;
    EXPECT_TRUE(slots.Post(Open(1, 0), 1));
    EXPECT_FALSE(slots.Post(Seek(2, 7000), 1));
    ASSERT_TRUE(slots.HasPending());
    EXPECT_TRUE(slots.Pending()->IsOpen());
    EXPECT_EQ(slots.Pending()->RequestId, 2);
    EXPECT_EQ(slots.Pending()->StartTime, 7000);
}

TEST(RequestSlots, OpenWhileSeekPending_ReplacesItWhole) {
    TRequestSlots slots;
    slots.Post(Seek(1, 500), 0);
    slots.Post(Open(2, 100), 1);
    EXPECT_TRUE(slots.Pending()->IsOpen());
    EXPECT_EQ(slots.Pending()->StartTime, 100);
    // The pause state of the replaced request, not the one given now.
    EXPECT_EQ(slots.Pending()->Paused, 0);
}

TEST(RequestSlots, SeekWhileSeekPending_ReplacesIt) {
    TRequestSlots slots;
    slots.Post(Seek(1, 500), 1);
    slots.Post(Seek(2, 900), 0);
    EXPECT_FALSE(slots.Pending()->IsOpen());
    EXPECT_EQ(slots.Pending()->RequestId, 2);
    EXPECT_EQ(slots.Pending()->StartTime, 900);
    EXPECT_EQ(slots.Pending()->Paused, 1);
}

TEST(RequestSlots, FirstRequest_TakesTheCurrentPauseState) {
    TRequestSlots slots;
    auto seek = Seek(1, 5);
    seek->Paused = 1;
    slots.Post(std::move(seek), 0);
    EXPECT_EQ(slots.Pending()->Paused, 0);
}

TEST(RequestSlots, PauseWhileOpenPending_IsStoredAndAppliedWhenServed) {
    TRequestSlots slots;
    slots.Post(Open(1, 0), 1);
    EXPECT_TRUE(slots.StorePause(0));
    EXPECT_EQ(slots.Pending()->Paused, 0);
    TOpenParams* processing = slots.BeginProcessing();
    ASSERT_NE(processing, nullptr);
    EXPECT_FALSE(slots.HasPending());
    // Still stored while the open is processed.
    EXPECT_TRUE(slots.StorePause(1));
    auto served = slots.EndProcessing();
    EXPECT_EQ(served->Paused, 1);
    EXPECT_EQ(served->RequestId, 1);
    EXPECT_FALSE(slots.StorePause(0));  // nothing pending: applied at once
}

TEST(RequestSlots, SeekDuringProcessing_TakesThePauseStoredInTheRequestInProgress) {
    TRequestSlots slots;
    slots.Post(Open(1, 0), 1);
    slots.BeginProcessing();
    slots.StorePause(0);
    // The engine's pause state is still 1 here; the in-progress request will set 0.
    slots.Post(Seek(2, 300), 1);
    EXPECT_EQ(slots.Pending()->Paused, 0);
    EXPECT_EQ(slots.EndProcessing()->Paused, 0);
}

TEST(OrbEventData, Value_OutOfRangeIsZero) {
    TOrbEventData event(kEnginePosition, {3, 5000000000LL, 60000, 0});
    EXPECT_EQ(event.Value(1), 5000000000LL);
    EXPECT_EQ(event.Value(9), 0);
}

}  // namespace
}  // namespace orb
