// Hash lists: THashList of TKeyItem keyed by 16-bit names, TIntHashList keyed by
// 64-bit integers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "QlLib/SysObj.h"

namespace ql {

class THashList;

// An entry of a THashList; descendants carry the payload. The list owns it.
class TKeyItem : public TObj {
public:
    explicit TKeyItem(std::u16string key) : m_key(std::move(key)) {}
    const std::u16string& Key() const { return m_key; }

private:
    friend class THashList;
    std::u16string m_key;
    TKeyItem* m_prev = nullptr;
    TKeyItem* m_next = nullptr;
};

// One bucket: the head of a doubly linked chain, newest item first.
struct THashItem {
    TKeyItem* First = nullptr;
};

// Keys compare exactly (case-sensitive, all 16 bits). The list remembers its
// last lookup, so asking again for the same key does not hash again.
class THashList : public TObj {
public:
    // Fewer than 1 bucket counts as 1.
    explicit THashList(int32_t bucketCount);
    ~THashList() override;

    int32_t BucketCount() const { return static_cast<int32_t>(m_buckets.size()); }
    int32_t Count() const { return m_count; }

    // Lookups update the last-lookup memory, so even they must not run on two
    // threads at once.
    bool Exists(std::u16string_view key) const { return Find(key) != nullptr; }
    // nullptr if absent.
    TKeyItem* Find(std::u16string_view key) const;
    // The item of the key, created through CreateItem when absent.
    TKeyItem* FindOrAdd(std::u16string_view key, bool& added);
    TKeyItem* FindOrAdd(std::u16string_view key);
    // Frees the item; false if the key was absent.
    bool Remove(std::u16string_view key);
    void Clear();
    // Visits every item: buckets in order, each chain newest first.
    void ForEach(const std::function<void(TKeyItem&)>& visit) const;

protected:
    // Makes the item for a new key; descendants return their own item class.
    virtual std::unique_ptr<TKeyItem> CreateItem(const std::u16string& key);
    virtual uint32_t HashOf(std::u16string_view key) const;

private:
    // Finds the key's bucket and item, through the last-lookup memory when it
    // matches; updates the memory.
    TKeyItem* Lookup(std::u16string_view key, int32_t& bucket) const;
    void Unlink(int32_t bucket, TKeyItem* item);

    std::vector<std::unique_ptr<THashItem>> m_buckets;  // created on first use
    int32_t m_count = 0;
    mutable bool m_lastValid = false;
    mutable std::u16string m_lastKey;
    mutable int32_t m_lastBucket = 0;
    mutable TKeyItem* m_lastItem = nullptr;  // nullptr: the last lookup missed
};

// An entry of a TIntHashList; descendants carry the payload.
class TIntKeyItem : public TObj {
public:
    explicit TIntKeyItem(int64_t key) : m_key(key) {}
    int64_t Key() const { return m_key; }

private:
    friend class TIntHashList;
    int64_t m_key;
    TIntKeyItem* m_prev = nullptr;
    TIntKeyItem* m_next = nullptr;
};

// The hash list keyed by integers: bucket = key modulo the bucket count.
class TIntHashList : public TObj {
public:
    explicit TIntHashList(int32_t bucketCount);
    ~TIntHashList() override;

    int32_t BucketCount() const { return static_cast<int32_t>(m_buckets.size()); }
    int32_t Count() const { return m_count; }

    bool Exists(int64_t key) const { return Find(key) != nullptr; }
    TIntKeyItem* Find(int64_t key) const;
    TIntKeyItem* FindOrAdd(int64_t key, bool& added);
    bool Remove(int64_t key);
    void Clear();
    void ForEach(const std::function<void(TIntKeyItem&)>& visit) const;

protected:
    virtual std::unique_ptr<TIntKeyItem> CreateItem(int64_t key);

private:
    int32_t BucketOf(int64_t key) const;
    TIntKeyItem* Lookup(int64_t key, int32_t& bucket) const;

    std::vector<TIntKeyItem*> m_buckets;  // chain heads
    int32_t m_count = 0;
    mutable bool m_lastValid = false;
    mutable int64_t m_lastKey = 0;
    mutable TIntKeyItem* m_lastItem = nullptr;
};

}  // namespace ql
