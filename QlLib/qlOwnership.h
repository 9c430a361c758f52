// Helpers for classes that either take an object over or use one that stays
// the caller's: the owning constructor hands on to its observing twin.
#pragma once

#include <memory>
#include <source_location>

#include "QlLib/qpExceptions.h"

namespace ql {

// The object an owning pointer holds; an empty pointer is an assertion
// failure, reported where the helper was called.
template <class T>
T& Required(const std::unique_ptr<T>& owned, const char* message,
            std::source_location where = std::source_location::current()) {
    if (!owned) FailAssertion(message, where.file_name(), static_cast<int>(where.line()));
    return *owned;
}

}  // namespace ql
