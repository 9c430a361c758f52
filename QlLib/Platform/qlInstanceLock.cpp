#include "QlLib/Platform/qlInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/qlHashUtils.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

constexpr size_t kMaxNameLength = 200;

bool IsFolder(const char* path) {
    struct stat info;
    return path && *path && ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::string InstanceLockName(const std::u16string& programPath) {
    const size_t slash = programPath.find_last_of(u'/');
    const std::u16string folder = slash == std::u16string::npos ? std::u16string() : programPath.substr(0, slash);
    const std::u16string file = slash == std::u16string::npos ? programPath : programPath.substr(slash + 1);
    std::string name = "Instance_ID" + std::to_string(ElfHash(programPath)) + std::to_string(ElfHash(folder)) +
                       std::to_string(ElfHash(file)) + ToUtf8(file);
    // The name becomes a file name: nothing in it may climb out of the lock
    // folder or surprise a shell user listing it.
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '_' || c == '-';
        if (!plain) c = '_';
    }
    if (name.size() > kMaxNameLength) name.resize(kMaxNameLength);
    return name;
}

std::u16string InstanceLockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (IsFolder(runtime)) return FromUtf8(runtime);
    return platform::TempBaseFolder();
}

std::unique_ptr<TInstanceLock> TInstanceLock::TryAcquire(const std::string& name, const std::u16string& folder) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return nullptr;
    std::u16string base = folder.empty() ? InstanceLockFolder() : folder;
    if (base.empty()) return nullptr;
    const std::u16string fileName = base + u"/" + FromUtf8(name) + u".lock";
    const int fd = ::open(ToUtf8(fileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return nullptr;
    // flock goes with the open file: it ends when the holder closes the file
    // or dies, so a crashed player never leaves a stale lock behind.
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<TInstanceLock>(new TInstanceLock(fd, fileName));
}

TInstanceLock::~TInstanceLock() {
    // The file stays: removing it could let a third copy lock a new file of
    // the same name while a second still waits on the old one.
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
}

}  // namespace ql
