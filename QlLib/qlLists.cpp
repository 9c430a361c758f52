#include "QlLib/qlLists.h"

#include <algorithm>
#include <utility>

#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {
[[noreturn]] void ListError(const char* what, int64_t value) {
    throw EListError(std::string(what) + " (" + std::to_string(value) + ")");
}
}  // namespace

int32_t ListCapacityFor(int32_t currentCapacity, int32_t neededCount) {
    int64_t capacity = std::max(currentCapacity, 0);
    while (capacity < neededCount) {
        if (capacity < 9)
            capacity += 4;
        else if (capacity < 65)
            capacity += 16;
        else
            capacity *= 2;
    }
    return static_cast<int32_t>(std::min<int64_t>(capacity, kMaxListCount));
}

// ---- TList ----

void TList::CheckIndex(int32_t index, int32_t limit) const {
    if (index < 0 || index >= limit) ListError("List index out of bounds", index);
}

void TList::SetCapacity(int32_t capacity) {
    if (capacity < m_count || capacity >= kMaxListCount) ListError("List capacity out of bounds", capacity);
    m_items.resize(static_cast<size_t>(capacity), nullptr);
}

void TList::Grow(int32_t neededCount) {
    if (neededCount < 0 || neededCount >= kMaxListCount) ListError("List count out of bounds", neededCount);
    if (neededCount > Capacity()) m_items.resize(static_cast<size_t>(ListCapacityFor(Capacity(), neededCount)), nullptr);
}

void TList::SetCount(int32_t count) {
    if (count < 0 || count >= kMaxListCount) ListError("List count out of bounds", count);
    Grow(count);
    // Items cut off and items added both read as nullptr afterwards.
    if (count < m_count)
        std::fill(m_items.begin() + count, m_items.begin() + m_count, nullptr);
    m_count = count;
}

TObj* TList::Get(int32_t index) const {
    CheckIndex(index, m_count);
    return m_items[static_cast<size_t>(index)];
}

void TList::Put(int32_t index, TObj* item) {
    CheckIndex(index, m_count);
    m_items[static_cast<size_t>(index)] = item;
}

int32_t TList::Add(TObj* item) {
    Grow(m_count + 1);
    m_items[static_cast<size_t>(m_count)] = item;
    return m_count++;
}

void TList::Insert(int32_t index, TObj* item) {
    CheckIndex(index, m_count + 1);
    Grow(m_count + 1);
    std::move_backward(m_items.begin() + index, m_items.begin() + m_count, m_items.begin() + m_count + 1);
    m_items[static_cast<size_t>(index)] = item;
    ++m_count;
}

void TList::Delete(int32_t index) {
    CheckIndex(index, m_count);
    std::move(m_items.begin() + index + 1, m_items.begin() + m_count, m_items.begin() + index);
    m_items[static_cast<size_t>(--m_count)] = nullptr;
}

int32_t TList::Remove(TObj* item) {
    const int32_t index = IndexOf(item);
    if (index >= 0) Delete(index);
    return index;
}

int32_t TList::IndexOf(const TObj* item) const {
    for (int32_t i = 0; i < m_count; ++i)
        if (m_items[static_cast<size_t>(i)] == item) return i;
    return -1;
}

void TList::Exchange(int32_t a, int32_t b) {
    CheckIndex(a, m_count);
    CheckIndex(b, m_count);
    std::swap(m_items[static_cast<size_t>(a)], m_items[static_cast<size_t>(b)]);
}

void TList::Move(int32_t from, int32_t to) {
    if (from == to) return;
    CheckIndex(to, m_count);
    TObj* item = Get(from);
    Delete(from);
    Insert(to, item);
}

void TList::Clear() {
    m_items.clear();
    m_items.shrink_to_fit();
    m_count = 0;
}

void TList::Sort(TCompare compare) {
    TListSorter sorter(*this, compare);
    sorter.Sort();
}

// ---- TSorter ----

void TSorter::QuickSort(int32_t lo, int32_t hi) {
    while (lo < hi) {
        int32_t i = lo;
        int32_t j = hi;
        int32_t pivot = lo + (hi - lo) / 2;
        do {
            while (Compare(i, pivot) < 0) ++i;
            while (Compare(j, pivot) > 0) --j;
            if (i <= j) {
                if (i != j) Exchange(i, j);
                // The pivot item moved with the exchange; keep pointing at it.
                if (pivot == i)
                    pivot = j;
                else if (pivot == j)
                    pivot = i;
                ++i;
                --j;
            }
        } while (i <= j);
        // The smaller part is sorted by recursion and the larger one by the loop,
        // so a hostile order cannot run the stack out; the resulting order is the
        // same as recursing always to the left.
        if (j - lo < hi - i) {
            if (lo < j) QuickSort(lo, j);
            lo = i;
        } else {
            if (i < hi) QuickSort(i, hi);
            hi = j;
        }
    }
}

bool TSorter::BinarySearch(int32_t count, const std::function<int32_t(int32_t)>& compareToKey,
                           int32_t& index) {
    bool found = false;
    int32_t lo = 0;
    int32_t hi = count - 1;
    while (lo <= hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        const int32_t c = compareToKey(mid);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) found = true;
        }
    }
    index = lo;
    return found;
}

// ---- TListSorter, TListSorter2 ----

void TListSorter::Sort() {
    if (m_list.Count() > 1) QuickSort(0, m_list.Count() - 1);
}

bool TListSorter::Find(TObj* key, int32_t& index) {
    return BinarySearch(m_list.Count(), [&](int32_t i) { return m_compare(m_list.Get(i), key); }, index);
}

int32_t TListSorter::Compare(int32_t a, int32_t b) { return m_compare(m_list.Get(a), m_list.Get(b)); }

void TListSorter::Exchange(int32_t a, int32_t b) { m_list.Exchange(a, b); }

void TListSorter2::Sort() {
    if (m_list.Count() > 1) QuickSort(0, m_list.Count() - 1);
}

bool TListSorter2::Find(TObj* key, int32_t& index) {
    return BinarySearch(
        m_list.Count(), [&](int32_t i) { return m_compare(m_list.Get(i), key, m_user); }, index);
}

int32_t TListSorter2::Compare(int32_t a, int32_t b) {
    return m_compare(m_list.Get(a), m_list.Get(b), m_user);
}

void TListSorter2::Exchange(int32_t a, int32_t b) { m_list.Exchange(a, b); }

// ---- TStringList ----

void TStringList::CheckIndex(int32_t index, int32_t limit) const {
    if (index < 0 || index >= limit) ListError("List index out of bounds", index);
}

const TStringItem& TStringList::Item(int32_t index) const {
    CheckIndex(index, Count());
    return m_items[static_cast<size_t>(index)];
}

const std::u16string& TStringList::Strings(int32_t index) const { return Item(index).String; }

TObj* TStringList::Objects(int32_t index) const { return Item(index).Object; }

void TStringList::PutObject(int32_t index, TObj* object) {
    CheckIndex(index, Count());
    m_items[static_cast<size_t>(index)].Object = object;
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !m_sorted) Sort();
    m_sorted = sorted;
}

void TStringList::SetCaseSensitive(bool caseSensitive) {
    if (caseSensitive == m_caseSensitive) return;
    m_caseSensitive = caseSensitive;
    if (m_sorted) Sort();
}

int32_t TStringList::CompareStrings(std::u16string_view a, std::u16string_view b) const {
    if (m_caseSensitive) return a.compare(b);
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t ca = LowerChar(a[i]);
        const char16_t cb = LowerChar(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int32_t TStringList::Add(const std::u16string& text, TObj* object) {
    int32_t index = Count();
    if (m_sorted) {
        if (Find(text, index)) return index;
    }
    if (Count() + 1 >= kMaxListCount) ListError("List count out of bounds", Count() + 1);
    m_items.insert(m_items.begin() + index, TStringItem{text, object});
    return index;
}

void TStringList::Insert(int32_t index, const std::u16string& text, TObj* object) {
    if (m_sorted) throw EListError("Operation not allowed on sorted list");
    CheckIndex(index, Count() + 1);
    if (Count() + 1 >= kMaxListCount) ListError("List count out of bounds", Count() + 1);
    m_items.insert(m_items.begin() + index, TStringItem{text, object});
}

void TStringList::Delete(int32_t index) {
    CheckIndex(index, Count());
    m_items.erase(m_items.begin() + index);
}

int32_t TStringList::IndexOf(std::u16string_view text) {
    if (m_sorted) {
        int32_t index;
        return Find(text, index) ? index : -1;
    }
    for (int32_t i = 0; i < Count(); ++i)
        if (CompareStrings(m_items[static_cast<size_t>(i)].String, text) == 0) return i;
    return -1;
}

bool TStringList::Find(std::u16string_view text, int32_t& index) {
    return BinarySearch(
        Count(), [&](int32_t i) { return CompareStrings(m_items[static_cast<size_t>(i)].String, text); },
        index);
}

void TStringList::Sort() {
    if (Count() > 1) QuickSort(0, Count() - 1);
}

int32_t TStringList::Compare(int32_t a, int32_t b) {
    return CompareStrings(m_items[static_cast<size_t>(a)].String, m_items[static_cast<size_t>(b)].String);
}

void TStringList::Exchange(int32_t a, int32_t b) {
    std::swap(m_items[static_cast<size_t>(a)], m_items[static_cast<size_t>(b)]);
}

}  // namespace ql
