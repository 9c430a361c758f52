// Small facts about the running process: thread identifiers and the local clock.
#pragma once

#include <cstdint>

namespace ql::platform {

// The kernel's identifier of the calling thread (what a debugger shows).
uint32_t CurrentThreadId();

// A calendar date and time of day with milliseconds.
struct TDateTimeParts {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// The current local date and time.
TDateTimeParts LocalTimeNow();

// The memory the process may use: the machine's physical memory, or less
// where the process's address-space or data limit is lower. 0 when unknown.
int64_t UsableMemoryBytes();

}  // namespace ql::platform
