#include "QlLib/Platform/qlSystemAPI.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "QlLib/qpStringUtils.h"

namespace ql::platform {

namespace {
std::mutex g_priorityLock;
bool g_priorityRaised = false;  // under g_priorityLock
int g_savedNice = 0;            // under g_priorityLock

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}
}  // namespace

bool SetProcessPriorityHigh(bool high) {
    std::lock_guard<std::mutex> guard(g_priorityLock);
    if (high == g_priorityRaised) return true;
    if (high) {
        errno = 0;
        const int current = ::getpriority(PRIO_PROCESS, 0);
        if (current == -1 && errno != 0) return false;
        // Lowering the nice value needs privileges most users lack; the show
        // then simply plays at normal priority.
        if (::setpriority(PRIO_PROCESS, 0, std::max(current - 10, -20)) != 0) return false;
        g_savedNice = current;
        g_priorityRaised = true;
        return true;
    }
    g_priorityRaised = false;
    return ::setpriority(PRIO_PROCESS, 0, g_savedNice) == 0;
}

std::u16string TempBaseFolder() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp && IsDirectory(tmp)) {
        return FromUtf8(tmp);
    }
    if (IsDirectory("/tmp")) return u"/tmp";
    return {};
}

std::u16string UserFolder() {
    if (const char* home = std::getenv("HOME"); home && *home && IsDirectory(home)) return FromUtf8(home);
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer)) return FromUtf8(buffer);
    return u".";
}

std::u16string CreateUniqueFolder(const std::u16string& base, int* errorCode) {
    std::string pattern = ToUtf8(base);
    if (pattern.empty() || pattern.back() != '/') pattern += '/';
    pattern += "orb-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        if (errorCode) *errorCode = errno;
        return {};
    }
    if (errorCode) *errorCode = 0;
    return FromUtf8(buffer.data());
}

std::optional<std::u16string> FindPathIgnoringCase(const std::u16string& path) {
    const std::string full = ToUtf8(path);
    if (full.empty()) return std::nullopt;
    if (Exists(full)) return path;

    std::string current = full.front() == '/' ? "/" : "";
    size_t start = 0;
    while (start <= full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos) end = full.size();
        const std::string part = full.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            if (end == full.size()) break;
            continue;
        }
        std::string next = current + part;
        if (!Exists(next)) {
            const std::string folder = current.empty() ? "." : current;
            DIR* dir = ::opendir(folder.c_str());
            if (!dir) return std::nullopt;
            const std::u16string wanted = LowerCase(FromUtf8(part));
            std::vector<std::string> matches;
            while (const dirent* entry = ::readdir(dir)) {
                if (LowerCase(FromUtf8(entry->d_name)) == wanted) matches.emplace_back(entry->d_name);
            }
            ::closedir(dir);
            if (matches.empty()) return std::nullopt;
            // Several names differing only in case: take the first in name
            // order, so the choice does not depend on the directory's order.
            std::sort(matches.begin(), matches.end());
            next = current + matches.front();
        }
        current = next;
        if (end == full.size()) break;
        current += '/';
    }
    if (current.empty() || !Exists(current)) return std::nullopt;
    return FromUtf8(current);
}

std::u16string FolderOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u'/');
    if (slash == std::u16string::npos) return u".";
    if (slash == 0) return u"/";
    return path.substr(0, slash);
}

}  // namespace ql::platform

namespace ql::platform {

bool IsExecutableFile(const std::u16string& name) {
    struct stat st {};
    return ::stat(ToUtf8(name).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

bool IsRegularFile(const std::u16string& name) {
    struct stat st {};
    return ::stat(ToUtf8(name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool MakeExecutable(const std::u16string& name) {
    const std::string path = ToUtf8(name);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    const mode_t mode = st.st_mode & 07777;
    return ::chmod(path.c_str(), mode | ((mode & 0444) >> 2)) == 0;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace ql::platform
