#include "QlLib/Platform/qlSysInfo.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace ql::platform {

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

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

}  // namespace ql::platform
