#include "QlLib/SysObj.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "QlLib/qpExceptions.h"

namespace ql {

std::string DemangledClassName(const std::type_info& info) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(info.name(), nullptr, nullptr, &status), std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : info.name();
    // Drop namespaces but keep template arguments intact.
    const auto angle = name.find('<');
    const auto colon = name.rfind("::", angle);
    if (colon != std::string::npos) name.erase(0, colon + 2);
    return name;
}

std::string TObj::ClassName() const { return DemangledClassName(typeid(*this)); }

TRefObj::~TRefObj() {
    // An object still referenced was deleted directly. Destructors cannot throw,
    // so the assertion is reported and not raised.
    if (m_refCount.load() > 0) {
        ReportAssertion("Disposing the Non Zerro Ref Object, possible the \"" + ClassName() +
                            ".Free\" method direct call",
                        __FILE__, __LINE__);
    }
}

int32_t TRefObj::_AddRef() noexcept {
    int32_t current = m_refCount.load(std::memory_order_relaxed);
    while (current > 0) {
        if (m_refCount.compare_exchange_weak(current, current + 1, std::memory_order_acq_rel))
            return current + 1;
    }
    return 0;
}

int32_t TRefObj::_Release() noexcept {
    int32_t current = m_refCount.load(std::memory_order_relaxed);
    while (current > 0) {
        if (m_refCount.compare_exchange_weak(current, current - 1, std::memory_order_acq_rel)) {
            if (current == 1) delete this;
            return current - 1;
        }
    }
    return 0;
}

}  // namespace ql
