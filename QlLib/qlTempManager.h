// Temporary folders: every folder handed out is deleted, with its contents,
// when the program's TTempFolderScope ends.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "QlLib/SysObj.h"

namespace ql {

// The process-wide registry of temporary folders made by this program.
class TTempManager : public TObj {
public:
    static TTempManager& Instance();

    // Creates a new unique folder and returns its path, with a trailing "/"
    // when asked. Raises EFileError after a bounded number of failed attempts.
    std::u16string NewFolder(bool trailingSeparator = false);
    // Deletes every folder made so far (links inside are removed, not
    // followed). Returns false if anything stayed behind.
    bool RemoveAll();
    size_t Count();

private:
    std::mutex m_lock;
    std::vector<std::u16string> m_folders;  // under m_lock
};

// Held by the program's main function: its end removes all temporary folders,
// at a known moment rather than during static destruction.
class TTempFolderScope : public TObj {
public:
    TTempFolderScope() = default;
    ~TTempFolderScope() override { TTempManager::Instance().RemoveAll(); }
};

}  // namespace ql
