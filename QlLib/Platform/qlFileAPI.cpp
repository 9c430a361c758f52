#include "QlLib/Platform/qlFileAPI.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ftw.h>

#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {
std::string OsName(const std::u16string& name) { return ToUtf8(name); }

int OpenFlags(TFileAccess access, TFileDisposition disposition) {
    int flags = O_CLOEXEC;
    switch (access) {
        case TFileAccess::Read: flags |= O_RDONLY; break;
        case TFileAccess::Write: flags |= O_WRONLY; break;
        case TFileAccess::ReadWrite: flags |= O_RDWR; break;
    }
    switch (disposition) {
        case TFileDisposition::CreateNew: flags |= O_CREAT | O_EXCL; break;
        case TFileDisposition::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
        case TFileDisposition::OpenExisting: break;
        case TFileDisposition::OpenAlways: flags |= O_CREAT; break;
        case TFileDisposition::TruncateExisting: flags |= O_TRUNC; break;
    }
    return flags;
}

// '*' and '?' match, case-insensitively; iterative with one backtrack point.
bool WildcardMatch(std::u16string_view name, std::u16string_view pattern) {
    size_t n = 0, p = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == u'?' || LowerChar(pattern[p]) == LowerChar(name[n]))) {
            ++n, ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}
}  // namespace

THandle TFileAPI::CreateFile(const std::u16string& name, TFileAccess access, uint32_t /*share*/,
                             TFileDisposition disposition) {
    const std::string path = OsName(name);
    const int fd = ::open(path.c_str(), OpenFlags(access, disposition), 0644);
    if (fd < 0) throw EFileOpenError(errno, path);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw EFileOpenError(EISDIR, path);
    }
    return fd;
}

void TFileAPI::CloseHandle(THandle handle) {
    if (handle != kInvalidHandle) ::close(handle);
}

size_t TFileAPI::Read(THandle handle, void* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(handle, static_cast<char*>(buffer) + done,
                                 std::min<size_t>(count - done, SSIZE_MAX));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EFileReadError(errno);
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

size_t TFileAPI::Write(THandle handle, const void* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(handle, static_cast<const char*>(buffer) + done,
                                  std::min<size_t>(count - done, SSIZE_MAX));
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EFileWriteError(errno);
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

int64_t TFileAPI::Seek(THandle handle, int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::Begin ? SEEK_SET
                       : origin == TSeekOrigin::Current ? SEEK_CUR
                                                        : SEEK_END;
    const off_t result = ::lseek(handle, static_cast<off_t>(offset), whence);
    if (result < 0) throw EFileSeekError(errno);
    return result;
}

void TFileAPI::SetEndOfFile(THandle handle) {
    const off_t position = ::lseek(handle, 0, SEEK_CUR);
    if (position < 0 || ::ftruncate(handle, position) != 0) throw EFileAccessError(errno);
}

bool TFileAPI::FileExists(const std::u16string& name) {
    struct stat st {};
    return ::stat(OsName(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool TFileAPI::DirectoryExists(const std::u16string& name) {
    struct stat st {};
    return ::stat(OsName(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t TFileAPI::FileSize(const std::u16string& name) {
    struct stat st {};
    if (::stat(OsName(name).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return st.st_size;
}

bool TFileAPI::DeleteFile(const std::u16string& name) {
    return ::unlink(OsName(name).c_str()) == 0;
}

bool TFileAPI::CreateDirectory(const std::u16string& name) {
    return ::mkdir(OsName(name).c_str(), 0700) == 0;
}

bool TFileAPI::RemoveDirectory(const std::u16string& name) {
    return ::rmdir(OsName(name).c_str()) == 0;
}

bool TFileAPI::RemoveTree(const std::u16string& name) {
    const std::string path = OsName(name);
    // Depth first, not following links, so a link inside never leads outside.
    auto removeOne = [](const char* entry, const struct stat*, int type, struct FTW*) -> int {
        const int rc = (type == FTW_DP) ? ::rmdir(entry) : ::unlink(entry);
        return rc == 0 ? 0 : 0;  // keep going; the final check reports leftovers
    };
    ::nftw(path.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0;
}

std::vector<TSearchRec> TFileAPI::FindFiles(const std::u16string& folder,
                                            const std::u16string& pattern) {
    std::vector<TSearchRec> found;
    const std::string base = OsName(folder);
    DIR* dir = ::opendir(base.empty() ? "." : base.c_str());
    if (!dir) return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string entryName = entry->d_name;
        if (entryName == "." || entryName == "..") continue;
        std::u16string wide = FromUtf8(entryName);
        if (!WildcardMatch(wide, pattern)) continue;
        struct stat st {};
        const std::string full = (base.empty() ? std::string(".") : base) + "/" + entryName;
        TSearchRec rec;
        rec.Name = std::move(wide);
        if (::stat(full.c_str(), &st) == 0) {
            rec.Size = st.st_size;
            rec.IsDirectory = S_ISDIR(st.st_mode);
        }
        found.push_back(std::move(rec));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(),
              [](const TSearchRec& a, const TSearchRec& b) { return a.Name < b.Name; });
    return found;
}

std::u16string TFileAPI::ProgramFileName() {
    char buffer[PATH_MAX + 1];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0) return {};
    return FromUtf8(std::string_view(buffer, static_cast<size_t>(n)));
}

std::optional<TFileVersion> TFileAPI::GetFileVersion(const std::u16string& name) {
    // The fixed part of a version resource starts with the signature FEEF04BD,
    // followed by the structure version and the file version as two 32-bit
    // values (major.minor, release.build). Scan the head of the file for it; the
    // resource of a published show lies within the program part.
    const int fd = ::open(OsName(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    constexpr size_t kScanLimit = 16 * 1024 * 1024;
    std::vector<uint8_t> head(std::min<size_t>(kScanLimit, 1 << 20));
    std::optional<TFileVersion> result;
    size_t scanned = 0;
    std::vector<uint8_t> carry;
    while (!result && scanned < kScanLimit) {
        const ssize_t n = ::read(fd, head.data(), head.size());
        if (n <= 0) break;
        std::vector<uint8_t> window(carry);
        window.insert(window.end(), head.begin(), head.begin() + n);
        for (size_t i = 0; i + 16 <= window.size(); i += 4) {
            if (window[i] == 0xBD && window[i + 1] == 0x04 && window[i + 2] == 0xEF &&
                window[i + 3] == 0xFE) {
                auto word = [&](size_t at) { return uint16_t(window[at] | (window[at + 1] << 8)); };
                result = TFileVersion{word(i + 10), word(i + 8), word(i + 14), word(i + 12)};
                break;
            }
        }
        // Keep a 4-aligned tail so that a signature across two reads is found.
        const size_t keep = std::min<size_t>(window.size(), 16) & ~size_t(3);
        carry.assign(window.end() - static_cast<long>(keep), window.end());
        scanned += static_cast<size_t>(n);
    }
    ::close(fd);
    return result;
}

}  // namespace ql
