// Lists: TList of object pointers, the sorting helpers and TStringList.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "QlLib/SysObj.h"
#include "QlLib/qpExceptions.h"

namespace ql {

QL_COMMON_EXCEPTION(EListError, TCommonException);

// Counts from this on are refused.
constexpr int32_t kMaxListCount = 0x7FFFFFF;

// Capacity a list reserves for a needed count: +4 below 9, +16 below 65,
// doubling from 65.
int32_t ListCapacityFor(int32_t currentCapacity, int32_t neededCount);

// A growable array of observed object pointers; the list never frees them.
// Bad indexes and counts raise EListError.
class TList : public TObj {
public:
    int32_t Count() const { return m_count; }
    int32_t Capacity() const { return static_cast<int32_t>(m_items.size()); }
    void SetCapacity(int32_t capacity);
    // Growing fills with nullptr.
    void SetCount(int32_t count);

    TObj* Get(int32_t index) const;
    void Put(int32_t index, TObj* item);
    TObj* operator[](int32_t index) const { return Get(index); }

    // Returns the new item's index.
    int32_t Add(TObj* item);
    void Insert(int32_t index, TObj* item);
    void Delete(int32_t index);
    // Removes the first occurrence; returns its former index, -1 if absent.
    int32_t Remove(TObj* item);
    // -1 if absent.
    int32_t IndexOf(const TObj* item) const;
    void Exchange(int32_t a, int32_t b);
    void Move(int32_t from, int32_t to);
    void Clear();

    using TCompare = int32_t (*)(TObj* a, TObj* b);
    void Sort(TCompare compare);

private:
    void CheckIndex(int32_t index, int32_t limit) const;
    void Grow(int32_t neededCount);

    std::vector<TObj*> m_items;  // sized to the capacity
    int32_t m_count = 0;
};

// Sorting and searching through virtual compare and exchange of items by index.
class TSorter : public TObj {
public:
    // Sorts the items lo..hi (inclusive). Not stable.
    void QuickSort(int32_t lo, int32_t hi);

    // Binary search over count sorted items. compareToKey(i) is negative when item
    // i sorts before the key, 0 when it matches. Returns whether the key was found;
    // index is where it is (the first of equal items) or would be inserted.
    static bool BinarySearch(int32_t count, const std::function<int32_t(int32_t)>& compareToKey,
                             int32_t& index);

protected:
    virtual int32_t Compare(int32_t a, int32_t b) = 0;
    virtual void Exchange(int32_t a, int32_t b) = 0;
};

// Sorts and searches a TList with a plain comparison function.
class TListSorter : public TSorter {
public:
    TListSorter(TList& list, TList::TCompare compare) : m_list(list), m_compare(compare) {}
    void Sort();
    // The key is compared as the second argument.
    bool Find(TObj* key, int32_t& index);

protected:
    int32_t Compare(int32_t a, int32_t b) override;
    void Exchange(int32_t a, int32_t b) override;

private:
    TList& m_list;
    TList::TCompare m_compare;
};

// As TListSorter, with a user value handed to every comparison.
class TListSorter2 : public TSorter {
public:
    using TCompare2 = int32_t (*)(TObj* a, TObj* b, void* user);
    TListSorter2(TList& list, TCompare2 compare, void* user)
        : m_list(list), m_compare(compare), m_user(user) {}
    void Sort();
    bool Find(TObj* key, int32_t& index);

protected:
    int32_t Compare(int32_t a, int32_t b) override;
    void Exchange(int32_t a, int32_t b) override;

private:
    TList& m_list;
    TCompare2 m_compare;
    void* m_user;
};

struct TStringItem {
    std::u16string String;
    TObj* Object = nullptr;  // observed, never freed by the list
};

// Strings with attached objects. Comparison is exact (ordinal over 16-bit units)
// unless case-insensitive comparison is chosen. A sorted list keeps its order
// on Add and ignores a string it already holds.
class TStringList : public TSorter {
public:
    int32_t Count() const { return static_cast<int32_t>(m_items.size()); }
    const std::u16string& Strings(int32_t index) const;
    TObj* Objects(int32_t index) const;
    void PutObject(int32_t index, TObj* object);
    const TStringItem& Item(int32_t index) const;

    bool Sorted() const { return m_sorted; }
    // Switching to sorted sorts the list.
    void SetSorted(bool sorted);
    bool CaseSensitive() const { return m_caseSensitive; }
    void SetCaseSensitive(bool caseSensitive);

    // Returns the index of the item (the existing one for a duplicate in a sorted list).
    int32_t Add(const std::u16string& text, TObj* object = nullptr);
    // Not allowed on a sorted list (EListError).
    void Insert(int32_t index, const std::u16string& text, TObj* object = nullptr);
    void Delete(int32_t index);
    void Clear() { m_items.clear(); }
    // -1 if absent.
    int32_t IndexOf(std::u16string_view text);
    // Binary search of a sorted list: found, and the index where it is or would go.
    bool Find(std::u16string_view text, int32_t& index);
    void Sort();

    int32_t CompareStrings(std::u16string_view a, std::u16string_view b) const;

protected:
    int32_t Compare(int32_t a, int32_t b) override;
    void Exchange(int32_t a, int32_t b) override;

private:
    void CheckIndex(int32_t index, int32_t limit) const;

    std::vector<TStringItem> m_items;
    bool m_sorted = false;
    bool m_caseSensitive = true;
};

}  // namespace ql
