#include "QlLib/Platform/qlSysInfo.h"

#include <algorithm>
#include <cstdint>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace ql::platform {

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

TDateTimeParts LocalTimeNow() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    const time_t seconds = now.tv_sec;
    ::localtime_r(&seconds, &local);
    TDateTimeParts parts;
    parts.Year = local.tm_year + 1900;
    parts.Month = local.tm_mon + 1;
    parts.Day = local.tm_mday;
    parts.Hour = local.tm_hour;
    parts.Minute = local.tm_min;
    parts.Second = local.tm_sec;
    parts.Millisecond = static_cast<int>(now.tv_nsec / 1000000);
    return parts;
}

int64_t UsableMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    int64_t usable = pages > 0 && pageSize > 0 ? int64_t(pages) * pageSize : 0;
    for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
        rlimit limit{};
        if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) continue;
        const int64_t bytes = int64_t(std::min<rlim_t>(limit.rlim_cur, INT64_MAX));
        if (usable == 0 || bytes < usable) usable = bytes;
    }
    return usable;
}

}  // namespace ql::platform
