#include "QlLib/qlLists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

namespace ql {
namespace {

class TNumber : public TObj {
public:
    explicit TNumber(int value) : Value(value) {}
    int Value;
};

int32_t CompareNumbers(TObj* a, TObj* b) {
    const int x = static_cast<TNumber*>(a)->Value;
    const int y = static_cast<TNumber*>(b)->Value;
    return x < y ? -1 : (x > y ? 1 : 0);
}

int32_t CompareNumbersSigned(TObj* a, TObj* b, void* user) {
    return CompareNumbers(a, b) * *static_cast<int*>(user);
}

struct TNumbers {
    std::vector<std::unique_ptr<TNumber>> Owned;
    TList List;

    explicit TNumbers(const std::vector<int>& values) {
        for (int v : values) {
            Owned.push_back(std::make_unique<TNumber>(v));
            List.Add(Owned.back().get());
        }
    }
    std::vector<int> Values() const {
        std::vector<int> values;
        for (int32_t i = 0; i < List.Count(); ++i) values.push_back(static_cast<TNumber*>(List[i])->Value);
        return values;
    }
};

TEST(List, Growth_FollowsTheCapacitySteps) {
    TList list;
    std::vector<int32_t> seen;
    for (int i = 0; i < 200; ++i) {
        list.Add(nullptr);
        if (seen.empty() || seen.back() != list.Capacity()) seen.push_back(list.Capacity());
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 152, 304}));
}

TEST(List, CountAtTheLimit_IsRefused) {
    TList list;
    EXPECT_THROW(list.SetCount(kMaxListCount), EListError);
    EXPECT_THROW(list.SetCount(-1), EListError);
    EXPECT_THROW(list.SetCapacity(kMaxListCount), EListError);
    EXPECT_EQ(list.Count(), 0);
}

TEST(List, BadIndex_RaisesListError) {
    TList list;
    list.Add(nullptr);
    EXPECT_THROW(list.Get(1), EListError);
    EXPECT_THROW(list.Get(-1), EListError);
    EXPECT_THROW(list.Delete(1), EListError);
    EXPECT_THROW(list.Insert(2, nullptr), EListError);
}

TEST(List, InsertDeleteMove_KeepTheOtherItemsInOrder) {
    TNumbers n({1, 2, 3, 4});
    TNumber extra(9);
    n.List.Insert(1, &extra);
    EXPECT_EQ(n.Values(), (std::vector<int>{1, 9, 2, 3, 4}));
    n.List.Delete(0);
    EXPECT_EQ(n.Values(), (std::vector<int>{9, 2, 3, 4}));
    n.List.Move(0, 3);
    EXPECT_EQ(n.Values(), (std::vector<int>{2, 3, 4, 9}));
    EXPECT_EQ(n.List.Remove(&extra), 3);
    EXPECT_EQ(n.List.IndexOf(&extra), -1);
    EXPECT_EQ(n.Values(), (std::vector<int>{2, 3, 4}));
}

TEST(ListSorter, RandomOrder_SortsLikeStdSort) {
    std::mt19937 random(7);
    std::vector<int> values(1000);
    for (int& v : values) v = static_cast<int>(random() % 100);
    TNumbers n(values);
    n.List.Sort(CompareNumbers);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(n.Values(), values);
}

TEST(ListSorter, SortedReversedAndEqualRuns_Sort) {
    for (const auto& make : {+[](int i) { return i; }, +[](int i) { return -i; }, +[](int) { return 5; }}) {
        std::vector<int> values;
        for (int i = 0; i < 20000; ++i) values.push_back(make(i));
        TNumbers n(values);
        TListSorter(n.List, CompareNumbers).Sort();
        std::sort(values.begin(), values.end());
        EXPECT_EQ(n.Values(), values);
    }
}

TEST(ListSorter, BinarySearch_ReportsFirstMatchOrInsertionIndex) {
    TNumbers n({10, 20, 20, 30});
    TListSorter sorter(n.List, CompareNumbers);
    int32_t index = -1;
    TNumber key(20);
    EXPECT_TRUE(sorter.Find(&key, index));
    EXPECT_EQ(index, 1);
    key.Value = 25;
    EXPECT_FALSE(sorter.Find(&key, index));
    EXPECT_EQ(index, 3);
    key.Value = 5;
    EXPECT_FALSE(sorter.Find(&key, index));
    EXPECT_EQ(index, 0);
    key.Value = 35;
    EXPECT_FALSE(sorter.Find(&key, index));
    EXPECT_EQ(index, 4);

    TNumbers empty({});
    EXPECT_FALSE(TListSorter(empty.List, CompareNumbers).Find(&key, index));
    EXPECT_EQ(index, 0);
}

TEST(ListSorter2, UserValue_ReachesTheComparison) {
    TNumbers n({3, 1, 2});
    int descending = -1;
    TListSorter2 sorter(n.List, CompareNumbersSigned, &descending);
    sorter.Sort();
    EXPECT_EQ(n.Values(), (std::vector<int>{3, 2, 1}));
    TNumber key(2);
    int32_t index = -1;
    EXPECT_TRUE(sorter.Find(&key, index));
    EXPECT_EQ(index, 1);
}

TEST(StringList, SortedAdd_KeepsOrderAndIgnoresDuplicates) {
    TStringList list;
    list.SetSorted(true);
    TNumber one(1);
    list.Add(u"pear");
    list.Add(u"apple", &one);
    list.Add(u"fig");
    EXPECT_EQ(list.Add(u"apple"), 0);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Strings(0), u"apple");
    EXPECT_EQ(list.Objects(0), &one);
    EXPECT_EQ(list.Strings(1), u"fig");
    EXPECT_EQ(list.Strings(2), u"pear");
    int32_t index = -1;
    EXPECT_FALSE(list.Find(u"grape", index));
    EXPECT_EQ(index, 2);
    EXPECT_THROW(list.Insert(0, u"x"), EListError);
}

TEST(StringList, Comparison_IsExactUnlessCaseInsensitiveIsChosen) {
    TStringList list;
    list.Add(u"b");
    list.Add(u"B");
    list.Add(u"a");
    list.Sort();
    EXPECT_EQ(list.Strings(0), u"B");  // upper case sorts first by code
    EXPECT_EQ(list.IndexOf(u"A"), -1);
    list.SetCaseSensitive(false);
    EXPECT_EQ(list.IndexOf(u"A"), list.IndexOf(u"a"));
    EXPECT_GE(list.IndexOf(u"A"), 0);
}

}  // namespace
}  // namespace ql
