// The single-instance lock: a lock file that one running copy of a program
// holds. The name comes from "Instance_ID" and the program's path, so two
// copies of the same program find each other while different programs do not.
#pragma once

#include <memory>
#include <string>

namespace ql {

// "Instance_ID", the decimal hashes of the program's full path, of its folder
// and of its file name, then the file name; only letters, digits, ".", "_" and
// "-" are kept (others become "_"), at most 200 characters.
std::string InstanceLockName(const std::u16string& programPath);

// The folder the lock files go into: $XDG_RUNTIME_DIR when it names a folder,
// else the temporary folder.
std::u16string InstanceLockFolder();

class TInstanceLock {
public:
    // Takes the lock of this name in folder (empty: InstanceLockFolder()).
    // Null when another holder has it or the file cannot be made; a
    // held lock is released when the object goes (or the process ends).
    static std::unique_ptr<TInstanceLock> TryAcquire(const std::string& name, const std::u16string& folder = {});
    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    const std::u16string& FileName() const { return m_fileName; }

private:
    TInstanceLock(int fd, std::u16string fileName) : m_fd(fd), m_fileName(std::move(fileName)) {}
    int m_fd;
    std::u16string m_fileName;
};

}  // namespace ql
