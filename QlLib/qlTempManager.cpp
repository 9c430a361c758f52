#include "QlLib/qlTempManager.h"

#include <cerrno>

#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {
// mkdtemp already retries names itself; a few more tries cover a folder that
// vanished in between, and then we give up rather than spin.
constexpr int kCreateAttempts = 8;
}  // namespace

TTempManager& TTempManager::Instance() {
    // Never destroyed: folders are removed by TTempFolderScope, not by static
    // destruction at an unknown moment.
    static TTempManager* instance = new TTempManager;
    return *instance;
}

std::u16string TTempManager::NewFolder(bool trailingSeparator) {
    const std::u16string base = platform::TempBaseFolder();
    if (base.empty()) throw EFileError(ENOENT, "Temp Path not Found");
    int error = 0;
    std::u16string folder;
    for (int attempt = 0; attempt < kCreateAttempts && folder.empty(); ++attempt) {
        folder = platform::CreateUniqueFolder(base, &error);
    }
    if (folder.empty()) {
        throw EFileError(error, "Temporary folder cannot be created in " + ToUtf8(base));
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_folders.push_back(folder);
    }
    return trailingSeparator ? folder + u"/" : folder;
}

bool TTempManager::RemoveAll() {
    std::vector<std::u16string> folders;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        folders.swap(m_folders);
    }
    bool allGone = true;
    for (const std::u16string& folder : folders) {
        if (!TFileAPI::RemoveTree(folder)) allGone = false;
    }
    return allGone;
}

size_t TTempManager::Count() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_folders.size();
}

}  // namespace ql
