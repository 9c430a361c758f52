// Helpers for classes that either take an object over or use one that stays
// the caller's: the owning constructor hands on to its observing twin.
#pragma once

#include <memory>

#include "QlLib/qpExceptions.h"

namespace ql {

// The object an owning pointer holds; an empty pointer is an assertion
// failure, reported where the helper was called. (The compilers' own
// caller-location defaults, not std::source_location, which clang 14 cannot
// build with the standard library of g++ 12.)
template <class T>
T& Required(const std::unique_ptr<T>& owned, const char* message,
            const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    if (!owned) FailAssertion(message, file, line);
    return *owned;
}

}  // namespace ql
