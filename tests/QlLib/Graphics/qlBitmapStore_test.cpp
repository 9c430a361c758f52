#include "QlLib/Graphics/qlBitmapStore.h"

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "QlLib/Graphics/ImageTestSupport.h"
#include "QlLib/qlLog.h"

namespace ql {
namespace {

using test::PixelAt;

std::unique_ptr<TBitmap> Numbered(int32_t w, int32_t h) {
    auto bitmap = CreateBitmap(w, h, PfRGB24());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = bitmap->Row(y) + x * 3;
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = uint8_t(10 * y + x);
        }
    return bitmap;
}

// Counts the decodes of level 0 and can be told to report progress.
class TCountingStore : public TSysBitmapStore {
public:
    explicit TCountingStore(int32_t w, int32_t h, bool remade = false)
        : TSysBitmapStore({u"c", w, h, PfRGB24()}, nullptr, nullptr) {
        if (remade) SetLevelsRemade();
    }
    int decodes = 0;
    bool wrongSize = false;
    bool nothing = false;

protected:
    TLevelResult DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) override {
        if (level != 0) return TLevelResult::Done;
        ++decodes;
        if (!ReportProgress(0.5f)) return TLevelResult::Cancelled;
        if (!nothing) out = Numbered(Width() + (wrongSize ? 1 : 0), Height());
        return TLevelResult::Done;
    }
};

TEST(BitmapStore, Levels_AreDecodedOnceAndConvertedBeside) {
    auto store = MakeRef<TCountingStore>(5, 3);
    TBitmap* level0 = store->GetBitmap(0);
    ASSERT_NE(level0, nullptr);
    EXPECT_EQ(store->GetBitmap(0), level0);
    TBitmap* argb = store->GetBitmap(0, PfARGB32());
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(argb->PixelFormat(), PfARGB32());
    EXPECT_EQ(PixelAt(*argb, 4, 2), PixelAt(*level0, 4, 2));
    EXPECT_EQ(store->GetBitmap(0, PfARGB32()), argb);
    TBitmap* level1 = store->GetBitmap(1);
    ASSERT_NE(level1, nullptr);
    EXPECT_EQ(level1->Width(), 3);
    EXPECT_EQ(level1->Height(), 2);
    EXPECT_EQ(store->GetBitmap(5)->Width(), 1);
    EXPECT_EQ(store->GetBitmap(1 << 30), store->GetBitmap(3));
    EXPECT_EQ(store->decodes, 1);
    EXPECT_EQ(store->LevelCount(), 4);  // 5x3, 3x2, 2x1, 1x1
}

// Writes level 0 in whatever format it is asked for.
class TFormatStore : public TSysBitmapStore {
public:
    explicit TFormatStore(int32_t w, int32_t h)
        : TSysBitmapStore({u"f", w, h, PfRGB24()}, nullptr, nullptr) {}
    int decodes = 0;

protected:
    TLevelResult DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) override {
        return DecodeLevelAs(level, nullptr, out);
    }
    TLevelResult DecodeLevelAs(int32_t level, const TPixelFormat* wanted,
                               std::unique_ptr<TBitmap>& out) override {
        if (level != 0) return TLevelResult::Done;
        ++decodes;
        out = Numbered(Width(), Height());
        if (wanted == PfARGB32()) out = CreateBitmap(Width(), Height(), PfARGB32(), {}, out.get());
        return TLevelResult::Done;
    }
};

TEST(BitmapStore, LevelWrittenInTheWantedFormat_StillGivesTheOwnFormatWithoutAWish) {
    auto store = MakeRef<TFormatStore>(5, 3);
    TBitmap* argb = store->GetBitmap(0, PfARGB32());
    ASSERT_NE(argb, nullptr);
    EXPECT_EQ(argb->PixelFormat(), PfARGB32());
    EXPECT_EQ(store->GetBitmap(0, PfARGB32()), argb);
    TBitmap* own = store->GetBitmap(0);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->PixelFormat(), PfRGB24());
    EXPECT_EQ(PixelAt(*own, 4, 2), PixelAt(*argb, 4, 2));
    EXPECT_EQ(store->GetBitmap(0), own);
    EXPECT_EQ(store->GetBitmap(0, PfRGB24()), own);
    // Halving builds the next level from the decoded one, in either format.
    TBitmap* level1 = store->GetBitmap(1, PfARGB32());
    ASSERT_NE(level1, nullptr);
    EXPECT_EQ(level1->Width(), 3);
    EXPECT_EQ(PixelAt(*level1, 0, 0), PixelAt(*store->GetBitmap(1), 0, 0));
    EXPECT_EQ(store->decodes, 1);
}

TEST(BitmapStore, CancelledDecode_IsNotCachedAndDecodesAgain) {
    auto store = MakeRef<TCountingStore>(4, 4);
    store->SetProgress([](float) { return false; });
    EXPECT_EQ(store->GetBitmap(0), nullptr);
    EXPECT_EQ(store->GetBitmap(1), nullptr);
    store->SetProgress([](float) { return true; });
    EXPECT_NE(store->GetBitmap(1), nullptr);
    EXPECT_EQ(store->decodes, 3);
}

TEST(BitmapStore, CancelledHalving_IsNotCached) {
    auto store = MakeRef<TCountingStore>(8, 8);
    ASSERT_NE(store->GetBitmap(0), nullptr);
    int calls = 0;
    store->SetProgress([&](float) { return ++calls > 100; });
    EXPECT_EQ(store->GetBitmap(1), nullptr);
    store->SetProgress({});
    TBitmap* level1 = store->GetBitmap(1);
    ASSERT_NE(level1, nullptr);
    EXPECT_EQ(level1->Width(), 4);
    EXPECT_EQ(store->decodes, 1);
}

TEST(BitmapStore, DecoderFaults_AreAssertions) {
    auto wrong = MakeRef<TCountingStore>(4, 4);
    wrong->wrongSize = true;
    try {
        wrong->GetBitmap(0);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.what()).find("Incorrect MipLevelIndex"), std::string::npos);
    }
    auto none = MakeRef<TCountingStore>(4, 4);
    none->nothing = true;
    try {
        none->GetBitmap(0);
        FAIL();
    } catch (const EAssertionFailed& e) {
        EXPECT_NE(std::string(e.what()).find("\"TCountingStore.GetMipLevel(0)\" Not Assigned"),
                  std::string::npos);
    }
}

TImageOrientation TurnBy(void* code, TImageParams& params) {
    const TImageOrientation o = OrientationOfCode(*static_cast<int*>(code));
    if (o == TImageOrientation::RotateClockwise || o == TImageOrientation::RotateCounterClockwise)
        std::swap(params.Width, params.Height);
    return o;
}

TEST(BitmapStore, OrientationHook_TurnsEveryLevel) {
    int code = 6;
    auto store = MakeRef<TWrapperBitmapStore>(Numbered(3, 2), u"p", &TurnBy, &code);
    EXPECT_EQ(store->Width(), 2);
    EXPECT_EQ(store->Height(), 3);
    TBitmap* turned = store->GetBitmap(0);
    ASSERT_EQ(turned->Width(), 2);
    ASSERT_EQ(turned->Height(), 3);
    // Clockwise: the old bottom-left corner is the new top-left.
    auto original = Numbered(3, 2);
    EXPECT_EQ(PixelAt(*turned, 0, 0), PixelAt(*original, 0, 1));
    EXPECT_EQ(PixelAt(*turned, 1, 0), PixelAt(*original, 0, 0));
    EXPECT_EQ(PixelAt(*turned, 0, 2), PixelAt(*original, 2, 1));
    EXPECT_EQ(store->GetBitmap(1)->Width(), 1);
    EXPECT_EQ(store->GetBitmap(1)->Height(), 2);

    code = 8;
    auto ccw = MakeRef<TWrapperBitmapStore>(Numbered(3, 2), u"p", &TurnBy, &code);
    EXPECT_EQ(PixelAt(*ccw->GetBitmap(0), 0, 0), PixelAt(*original, 2, 0));
    code = 3;
    auto half = MakeRef<TWrapperBitmapStore>(Numbered(3, 2), u"p", &TurnBy, &code);
    EXPECT_EQ(PixelAt(*half->GetBitmap(0), 0, 0), PixelAt(*original, 2, 1));
    EXPECT_EQ(half->Width(), 3);
}

TEST(ImageSize, HostileSizes_AreRefusedBeforeAllocation) {
    EXPECT_THROW(CheckImageSize(0, 10), EImageError);
    EXPECT_THROW(CheckImageSize(70000, 1), EImageError);
    EXPECT_THROW(CheckImageSize(65535, 65535), EImageError);
    EXPECT_THROW(CheckImageSize(1000, 1000, int64_t(1) << 40), EImageError);
    EXPECT_NO_THROW(CheckImageSize(6000, 4000));
}

TEST(ImageHandle, CopiesShareTheStore) {
    TImage image(MakeRef<TWrapperBitmapStore>(Numbered(4, 2)));
    TImage copy = image;
    EXPECT_EQ(copy.Store().Get(), image.Store().Get());
    EXPECT_EQ(copy.Params().Width, 4);
    EXPECT_EQ(image.Store()->RefCount(), 2);
}

// Every store's levels count in one budget: a level that would pass it is not
// made (nothing comes back, and the log says so once per store), and what a
// store held is given back when it goes.
TEST(BitmapStore, LevelsPastTheMemoryBudget_AreLeftOutWithOneLogLine) {
    test::TCapturedLog log;
    const int64_t before = PictureMemoryHeld();
    // Room for the 40 x 40 RGB level (4800 bytes) and a little more.
    TPictureMemoryBudgetScope budget(before + 6000);
    struct TCase {
        int32_t level;
        const TPixelFormat* format;
        bool made;
    };
    auto store = MakeRef<TCountingStore>(40, 40);
    for (const TCase& c : {TCase{0, nullptr, true},         // 4800 bytes
                           TCase{0, PfARGB32(), false},     // 6400 more: refused
                           TCase{1, nullptr, true},         // 1200 more: fits
                           TCase{0, PfARGB32(), false}}) {  // still refused
        EXPECT_EQ(store->GetBitmap(c.level, c.format) != nullptr, c.made)
            << "level " << c.level << (c.format ? " ARGB" : "");
    }
    EXPECT_EQ(PictureMemoryHeld(), before + 4800 + 1200);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_NE(log.Lines()[0].find(u"budget"), std::u16string::npos);
    store = nullptr;
    EXPECT_EQ(PictureMemoryHeld(), before);
}

// Past the budget, the least recently used levels that nobody shares and
// whose store can make them again are let go to make room; a level let go is
// made again when next asked for, and the budget is never passed.
TEST(BitmapStore, LevelsPastTheMemoryBudget_ReleaseTheLeastRecentlyUnsharedFirst) {
    const int64_t before = PictureMemoryHeld();
    // Room for two 40 x 40 RGB levels (4800 bytes each), not three.
    TPictureMemoryBudgetScope budget(before + 2 * 4800 + 100);
    auto a = MakeRef<TCountingStore>(40, 40, true);
    auto b = MakeRef<TCountingStore>(40, 40, true);
    auto c = MakeRef<TCountingStore>(40, 40, true);
    auto fixed = MakeRef<TCountingStore>(40, 40, false);  // cannot make its levels again
    std::shared_ptr<TBitmap> keptB;
    struct TStep {
        const char* what;
        TCountingStore* store;
        bool share;  // the caller keeps the bitmap
        int decodesA, decodesB, decodesC;
    };
    const TStep steps[] = {
        {"a", a.Get(), false, 1, 0, 0},
        {"b, kept", b.Get(), true, 1, 1, 0},
        {"c lets a go", c.Get(), false, 1, 1, 1},
        {"a again lets c go, not the kept b", a.Get(), false, 2, 1, 1},
        {"c again lets a go", c.Get(), false, 2, 1, 2},
        {"b is still there", b.Get(), false, 2, 1, 2},
    };
    for (const TStep& step : steps) {
        std::shared_ptr<TBitmap> got = step.store->ShareBitmap(0);
        EXPECT_NE(got, nullptr) << step.what;
        if (step.share) keptB = got;
        got = nullptr;
        EXPECT_EQ(a->decodes, step.decodesA) << step.what;
        EXPECT_EQ(b->decodes, step.decodesB) << step.what;
        EXPECT_EQ(c->decodes, step.decodesC) << step.what;
        EXPECT_LE(PictureMemoryHeld(), PictureMemoryBudget()) << step.what;
    }
    // With the levels of b and c both kept, a store finds no room...
    std::shared_ptr<TBitmap> keptC = c->ShareBitmap(0);
    EXPECT_EQ(fixed->GetBitmap(0), nullptr);
    // ...and once b's is no longer shared, it takes that room.
    keptB = nullptr;
    ASSERT_NE(fixed->GetBitmap(0), nullptr);
    EXPECT_EQ(b->decodes, 1);
    EXPECT_EQ(c->decodes, 2);
    // Releasing all it can lets c's level go, never the fixed store's.
    keptC = nullptr;
    EXPECT_GE(ReleasePictureMemory(int64_t(1) << 30), 4800);
    EXPECT_LE(PictureMemoryHeld(), before + 4800);
    ASSERT_NE(fixed->GetBitmap(0), nullptr);
    ASSERT_NE(c->GetBitmap(0), nullptr);
    EXPECT_EQ(fixed->decodes, 1);
    EXPECT_EQ(c->decodes, 3);
    for (TRef<TCountingStore>* store : {&a, &b, &c, &fixed}) *store = nullptr;
    EXPECT_EQ(PictureMemoryHeld(), before);
}

// A shared level outlives its store and counts in the budget until the last
// user lets it go.
TEST(BitmapStore, SharedLevel_CountsInTheBudgetUntilItsLastUserGoes) {
    const int64_t before = PictureMemoryHeld();
    auto store = MakeRef<TCountingStore>(20, 10, true);
    std::shared_ptr<TBitmap> kept = store->ShareBitmap(0);
    ASSERT_NE(kept, nullptr);
    store = nullptr;
    EXPECT_EQ(PictureMemoryHeld(), before + 600);
    EXPECT_EQ(PixelAt(*kept, 3, 2), PixelAt(*Numbered(20, 10), 3, 2));
    kept = nullptr;
    EXPECT_EQ(PictureMemoryHeld(), before);
}

TEST(BitmapStore, MemoryBudget_HasASaneDefaultAndComesBackAfterAScope) {
    const int64_t fallback = PictureMemoryBudget();
    EXPECT_GE(fallback, int64_t(256) << 20);
    {
        TPictureMemoryBudgetScope scope(12345);
        EXPECT_EQ(PictureMemoryBudget(), 12345);
    }
    EXPECT_EQ(PictureMemoryBudget(), fallback);
    SetPictureMemoryBudget(-5);  // nonsense brings the default back
    EXPECT_EQ(PictureMemoryBudget(), fallback);
}

}  // namespace
}  // namespace ql
