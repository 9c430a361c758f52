#include "QlLib/qlHashLists.h"

#include <algorithm>

#include "QlLib/qlHashUtils.h"

namespace ql {

// ---- THashList ----

THashList::THashList(int32_t bucketCount) : m_buckets(static_cast<size_t>(std::max(bucketCount, 1))) {}

THashList::~THashList() { Clear(); }

std::unique_ptr<TKeyItem> THashList::CreateItem(const std::u16string& key) {
    return std::make_unique<TKeyItem>(key);
}

uint32_t THashList::HashOf(std::u16string_view key) const { return ElfHash(key); }

TKeyItem* THashList::Lookup(std::u16string_view key, int32_t& bucket) const {
    if (m_lastValid && m_lastKey == key) {
        bucket = m_lastBucket;
        return m_lastItem;
    }
    bucket = static_cast<int32_t>(HashOf(key) % static_cast<uint32_t>(m_buckets.size()));
    TKeyItem* found = nullptr;
    if (const THashItem* chain = m_buckets[static_cast<size_t>(bucket)].get()) {
        for (TKeyItem* item = chain->First; item; item = item->m_next) {
            if (item->m_key == key) {
                found = item;
                break;
            }
        }
    }
    m_lastValid = true;
    m_lastKey.assign(key);
    m_lastBucket = bucket;
    m_lastItem = found;
    return found;
}

TKeyItem* THashList::Find(std::u16string_view key) const {
    int32_t bucket;
    return Lookup(key, bucket);
}

TKeyItem* THashList::FindOrAdd(std::u16string_view key, bool& added) {
    int32_t bucket;
    if (TKeyItem* item = Lookup(key, bucket)) {
        added = false;
        return item;
    }
    std::unique_ptr<THashItem>& chain = m_buckets[static_cast<size_t>(bucket)];
    if (!chain) chain = std::make_unique<THashItem>();
    TKeyItem* item = CreateItem(std::u16string(key)).release();
    item->m_prev = nullptr;
    item->m_next = chain->First;
    if (chain->First) chain->First->m_prev = item;
    chain->First = item;
    ++m_count;
    m_lastItem = item;  // Lookup just remembered this key as missing
    added = true;
    return item;
}

TKeyItem* THashList::FindOrAdd(std::u16string_view key) {
    bool added;
    return FindOrAdd(key, added);
}

void THashList::Unlink(int32_t bucket, TKeyItem* item) {
    THashItem& chain = *m_buckets[static_cast<size_t>(bucket)];
    if (item->m_prev)
        item->m_prev->m_next = item->m_next;
    else
        chain.First = item->m_next;
    if (item->m_next) item->m_next->m_prev = item->m_prev;
    --m_count;
}

bool THashList::Remove(std::u16string_view key) {
    int32_t bucket;
    TKeyItem* item = Lookup(key, bucket);
    if (!item) return false;
    Unlink(bucket, item);
    // The memory points at the freed item.
    m_lastValid = false;
    m_lastItem = nullptr;
    delete item;
    return true;
}

void THashList::Clear() {
    m_lastValid = false;
    m_lastItem = nullptr;
    for (auto& chain : m_buckets) {
        if (!chain) continue;
        TKeyItem* item = chain->First;
        while (item) {
            TKeyItem* next = item->m_next;
            delete item;
            item = next;
        }
        chain.reset();
    }
    m_count = 0;
}

void THashList::ForEach(const std::function<void(TKeyItem&)>& visit) const {
    for (const auto& chain : m_buckets) {
        if (!chain) continue;
        for (TKeyItem* item = chain->First; item;) {
            TKeyItem* next = item->m_next;
            visit(*item);
            item = next;
        }
    }
}

// ---- TIntHashList ----

TIntHashList::TIntHashList(int32_t bucketCount)
    : m_buckets(static_cast<size_t>(std::max(bucketCount, 1)), nullptr) {}

TIntHashList::~TIntHashList() { Clear(); }

std::unique_ptr<TIntKeyItem> TIntHashList::CreateItem(int64_t key) {
    return std::make_unique<TIntKeyItem>(key);
}

int32_t TIntHashList::BucketOf(int64_t key) const {
    return static_cast<int32_t>(static_cast<uint64_t>(key) % m_buckets.size());
}

TIntKeyItem* TIntHashList::Lookup(int64_t key, int32_t& bucket) const {
    bucket = BucketOf(key);
    if (m_lastValid && m_lastKey == key) return m_lastItem;
    TIntKeyItem* found = nullptr;
    for (TIntKeyItem* item = m_buckets[static_cast<size_t>(bucket)]; item; item = item->m_next) {
        if (item->m_key == key) {
            found = item;
            break;
        }
    }
    m_lastValid = true;
    m_lastKey = key;
    m_lastItem = found;
    return found;
}

TIntKeyItem* TIntHashList::Find(int64_t key) const {
    int32_t bucket;
    return Lookup(key, bucket);
}

TIntKeyItem* TIntHashList::FindOrAdd(int64_t key, bool& added) {
    int32_t bucket;
    if (TIntKeyItem* item = Lookup(key, bucket)) {
        added = false;
        return item;
    }
    TIntKeyItem*& head = m_buckets[static_cast<size_t>(bucket)];
    TIntKeyItem* item = CreateItem(key).release();
    item->m_prev = nullptr;
    item->m_next = head;
    if (head) head->m_prev = item;
    head = item;
    ++m_count;
    m_lastItem = item;
    added = true;
    return item;
}

bool TIntHashList::Remove(int64_t key) {
    int32_t bucket;
    TIntKeyItem* item = Lookup(key, bucket);
    if (!item) return false;
    if (item->m_prev)
        item->m_prev->m_next = item->m_next;
    else
        m_buckets[static_cast<size_t>(bucket)] = item->m_next;
    if (item->m_next) item->m_next->m_prev = item->m_prev;
    --m_count;
    m_lastValid = false;
    m_lastItem = nullptr;
    delete item;
    return true;
}

void TIntHashList::Clear() {
    m_lastValid = false;
    m_lastItem = nullptr;
    for (auto& head : m_buckets) {
        while (head) {
            TIntKeyItem* next = head->m_next;
            delete head;
            head = next;
        }
    }
    m_count = 0;
}

void TIntHashList::ForEach(const std::function<void(TIntKeyItem&)>& visit) const {
    for (TIntKeyItem* head : m_buckets) {
        for (TIntKeyItem* item = head; item;) {
            TIntKeyItem* next = item->m_next;
            visit(*item);
            item = next;
        }
    }
}

}  // namespace ql
