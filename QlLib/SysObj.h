// Base objects: TObj, the reference-counted TRefObj and its intrusive pointer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace ql {

// Parent of almost every class. Tear-down lives in destructors (RAII); ClassName
// feeds messages that quote the class, such as the assertion texts.
class TObj {
public:
    TObj() = default;
    TObj(const TObj&) = delete;
    TObj& operator=(const TObj&) = delete;
    virtual ~TObj() = default;

    // The unqualified class name of the dynamic type, e.g. "TMemoryStream".
    std::string ClassName() const;
};

// Unqualified, demangled name of a type_info (namespace prefixes dropped).
std::string DemangledClassName(const std::type_info& info);

// An object shared between threads. The creator holds the first reference; the
// last _Release frees it. Code outside this file uses TRef and never calls
// _AddRef/_Release by hand.
class TRefObj : public TObj {
public:
    TRefObj() = default;
    ~TRefObj() override;

    // Returns the new count; 0 (and nothing done) when the count already is 0.
    int32_t _AddRef() noexcept;
    // Returns the new count and frees the object when it reaches 0; 0 (and
    // nothing done) when the count already is 0.
    int32_t _Release() noexcept;
    int32_t RefCount() const noexcept { return m_refCount.load(std::memory_order_acquire); }

private:
    std::atomic<int32_t> m_refCount{1};
};

// Intrusive pointer over TRefObj descendants.
template <class T>
class TRef {
public:
    TRef() noexcept = default;
    TRef(std::nullptr_t) noexcept {}
    // Shares: takes a new reference on p.
    explicit TRef(T* p) noexcept : m_p(p) {
        if (m_p) m_p->_AddRef();
    }
    TRef(const TRef& other) noexcept : TRef(other.m_p) {}
    TRef(TRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    template <class U>
    TRef(const TRef<U>& other) noexcept : TRef(static_cast<T*>(other.Get())) {}
    template <class U>
    TRef(TRef<U>&& other) noexcept : m_p(other.Detach()) {}
    ~TRef() { Reset(); }

    TRef& operator=(TRef other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }

    // Takes over the creator's reference of a freshly constructed object.
    static TRef Adopt(T* p) noexcept {
        TRef r;
        r.m_p = p;
        return r;
    }

    // Shares p unless its count already reached 0 (it is being freed): then
    // nothing. For tables that list objects without holding a reference.
    static TRef TryShare(T* p) noexcept {
        TRef r;
        if (p && p->_AddRef() > 0) r.m_p = p;
        return r;
    }

    void Reset() noexcept {
        if (T* p = std::exchange(m_p, nullptr)) p->_Release();
    }
    // Gives up ownership of the reference without releasing it.
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    T& operator*() const noexcept { return *m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    friend bool operator==(const TRef& a, const TRef& b) { return a.m_p == b.m_p; }

private:
    T* m_p = nullptr;
};

template <class T, class... Args>
TRef<T> MakeRef(Args&&... args) {
    return TRef<T>::Adopt(new T(std::forward<Args>(args)...));
}

}  // namespace ql
