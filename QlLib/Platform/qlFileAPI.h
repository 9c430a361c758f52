// TFileAPI: the process-wide file-system facade. All file access goes through it.
// Names are 16-bit text; they become UTF-8 at the system call.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ql {

using THandle = int;
constexpr THandle kInvalidHandle = -1;

enum class TFileAccess { Read, Write, ReadWrite };

// Share flags are kept for callers; POSIX files are always shared.
enum TFileShare : uint32_t {
    kShareNone = 0,
    kShareRead = 1,
    kShareWrite = 2,
    kShareDelete = 4,
};

enum class TFileDisposition {
    CreateNew,         // fails when the file exists
    CreateAlways,      // creates or truncates
    OpenExisting,      // fails when the file is missing
    OpenAlways,        // opens or creates
    TruncateExisting,  // fails when missing, else truncates
};

enum class TSeekOrigin { Begin, Current, End };

struct TSearchRec {
    std::u16string Name;  // the entry's own name, no folder
    int64_t Size = 0;
    bool IsDirectory = false;
};

struct TFileVersion {
    uint16_t Major = 0, Minor = 0, Release = 0, Build = 0;
};

class TFileAPI {
public:
    // Raises EFileOpenError (message: the file name) on failure.
    static THandle CreateFile(const std::u16string& name, TFileAccess access, uint32_t share,
                              TFileDisposition disposition);
    static void CloseHandle(THandle handle);
    // Each raises its EFile... class with the system's message on failure.
    static size_t Read(THandle handle, void* buffer, size_t count);
    static size_t Write(THandle handle, const void* buffer, size_t count);
    static int64_t Seek(THandle handle, int64_t offset, TSeekOrigin origin);
    // Truncates or extends the file at the current position.
    static void SetEndOfFile(THandle handle);

    static bool FileExists(const std::u16string& name);
    static bool DirectoryExists(const std::u16string& name);
    // -1 if the file is missing.
    static int64_t FileSize(const std::u16string& name);
    static bool DeleteFile(const std::u16string& name);
    static bool CreateDirectory(const std::u16string& name);
    static bool RemoveDirectory(const std::u16string& name);
    // Deletes a folder with everything in it; false if anything stayed.
    static bool RemoveTree(const std::u16string& name);
    // Entries of a folder whose names match a pattern of '*' and '?' (case-
    // insensitive), "." and ".." left out, in name order.
    static std::vector<TSearchRec> FindFiles(const std::u16string& folder,
                                             const std::u16string& pattern);
    // The full path of the running program.
    static std::u16string ProgramFileName();
    // The fixed version of a Windows program's version resource; nothing when
    // the file has none.
    static std::optional<TFileVersion> GetFileVersion(const std::u16string& name);
};

}  // namespace ql
