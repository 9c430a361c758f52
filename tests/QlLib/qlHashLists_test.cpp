#include "QlLib/qlHashLists.h"

#include <gtest/gtest.h>

#include <vector>

#include "QlLib/qlHashUtils.h"

namespace ql {
namespace {

TEST(ElfHash, KnownStrings) {
    EXPECT_EQ(ElfHash(u"abc"), 26499u);
    EXPECT_EQ(ElfHash(u"opt_customdialogscount"), 144614916u);
    EXPECT_EQ(ElfHash(u"The quick brown fox jumps over the lazy dog"), 69733463u);
}

TEST(ElfHash, UsesOnlyTheLowByteOfEachUnit) {
    EXPECT_EQ(ElfHash(u"\u0141\u0142"), ElfHash(u"AB"));
}

// Counts the hashing, to see the last-lookup memory at work.
class TCountingHashList : public THashList {
public:
    using THashList::THashList;
    mutable int Hashes = 0;

protected:
    uint32_t HashOf(std::u16string_view key) const override {
        ++Hashes;
        return THashList::HashOf(key);
    }
};

TEST(HashList, ZeroBuckets_WorksWithOne) {
    THashList list(0);
    EXPECT_EQ(list.BucketCount(), 1);
    for (const char16_t* key : {u"a", u"b", u"c"}) list.FindOrAdd(key);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_TRUE(list.Exists(u"a"));
    EXPECT_TRUE(list.Exists(u"c"));
    EXPECT_FALSE(list.Exists(u"d"));
}

TEST(HashList, Keys_CompareCaseSensitive) {
    THashList list(7);
    bool added = false;
    TKeyItem* upper = list.FindOrAdd(u"Key", added);
    EXPECT_TRUE(added);
    TKeyItem* lower = list.FindOrAdd(u"key", added);
    EXPECT_TRUE(added);
    EXPECT_NE(upper, lower);
    EXPECT_EQ(list.FindOrAdd(u"Key", added), upper);
    EXPECT_FALSE(added);
    EXPECT_EQ(list.Count(), 2);
}

TEST(HashList, NewItems_GoToTheChainHead) {
    THashList list(1);
    for (const char16_t* key : {u"first", u"second", u"third"}) list.FindOrAdd(key);
    std::vector<std::u16string> order;
    list.ForEach([&](TKeyItem& item) { order.push_back(item.Key()); });
    EXPECT_EQ(order, (std::vector<std::u16string>{u"third", u"second", u"first"}));
}

TEST(HashList, RepeatedLookup_DoesNotHashAgain) {
    TCountingHashList list(13);
    list.FindOrAdd(u"alpha");
    const int afterAdd = list.Hashes;
    EXPECT_NE(list.Find(u"alpha"), nullptr);
    EXPECT_NE(list.Find(u"alpha"), nullptr);
    EXPECT_EQ(list.Hashes, afterAdd);
    EXPECT_EQ(list.Find(u"beta"), nullptr);
    EXPECT_EQ(list.Hashes, afterAdd + 1);
}

TEST(HashList, RemovingTheRememberedItem_ResetsTheMemory) {
    TCountingHashList list(13);
    list.FindOrAdd(u"alpha");
    list.FindOrAdd(u"beta");
    ASSERT_NE(list.Find(u"alpha"), nullptr);
    EXPECT_TRUE(list.Remove(u"alpha"));
    const int hashes = list.Hashes;
    EXPECT_EQ(list.Find(u"alpha"), nullptr);  // would be a freed item without the reset
    EXPECT_EQ(list.Hashes, hashes + 1);
    EXPECT_FALSE(list.Remove(u"alpha"));
    EXPECT_EQ(list.Count(), 1);
    EXPECT_NE(list.Find(u"beta"), nullptr);
}

TEST(HashList, RememberedMiss_ThenAdd_FindsTheNewItem) {
    THashList list(3);
    EXPECT_EQ(list.Find(u"x"), nullptr);
    TKeyItem* item = list.FindOrAdd(u"x");
    EXPECT_EQ(list.Find(u"x"), item);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Find(u"x"), nullptr);
}

class TValueItem : public TKeyItem {
public:
    using TKeyItem::TKeyItem;
    int Value = 42;
};

class TValueList : public THashList {
public:
    TValueList() : THashList(5) {}

protected:
    std::unique_ptr<TKeyItem> CreateItem(const std::u16string& key) override {
        return std::make_unique<TValueItem>(key);
    }
};

TEST(HashList, Descendants_ChooseTheItemClass) {
    TValueList list;
    auto* item = dynamic_cast<TValueItem*>(list.FindOrAdd(u"k"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->Value, 42);
}

TEST(IntHashList, NegativeAndLargeKeys_FindTheirItems) {
    TIntHashList list(0);
    EXPECT_EQ(list.BucketCount(), 1);
    TIntHashList wide(31);
    bool added = false;
    TIntKeyItem* negative = wide.FindOrAdd(-5, added);
    EXPECT_TRUE(added);
    TIntKeyItem* large = wide.FindOrAdd(INT64_MAX, added);
    EXPECT_EQ(wide.Find(-5), negative);
    EXPECT_EQ(wide.Find(INT64_MAX), large);
    EXPECT_EQ(wide.FindOrAdd(-5, added), negative);
    EXPECT_FALSE(added);
    EXPECT_TRUE(wide.Remove(-5));
    EXPECT_EQ(wide.Find(-5), nullptr);
    EXPECT_EQ(wide.Count(), 1);
}

}  // namespace
}  // namespace ql
