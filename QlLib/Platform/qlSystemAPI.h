// Process and file-system services of the operating system that the package
// layer needs: process priority, temporary folders and case-insensitive paths.
#pragma once

#include <optional>
#include <string>

namespace ql::platform {

// Raises the process's scheduling priority (high) or puts back the one it had
// before. Best effort: false when the system refused.
bool SetProcessPriorityHigh(bool high);

// The folder that new temporary folders go into: $TMPDIR when it names an
// existing folder, else /tmp. Empty when neither exists.
std::u16string TempBaseFolder();

// The user's home folder ($HOME when it names a folder), else the working
// folder; where the player offers to save pictures.
std::u16string UserFolder();

// Creates a new folder with a unique name inside base, readable only by this
// user. Empty on failure, with the system's error code in *errorCode.
std::u16string CreateUniqueFolder(const std::u16string& base, int* errorCode);

// Finds an existing file or folder whose path matches `path` component by
// component, each compared without regard to case (an exact match wins).
// Nothing when there is none.
std::optional<std::u16string> FindPathIgnoringCase(const std::u16string& path);

// The folder part of a path, without the trailing separator ("." for a bare
// name, "/" for the root).
std::u16string FolderOf(const std::u16string& path);

}  // namespace ql::platform

namespace ql::platform {

// Whether the file exists and anyone may run it.
bool IsExecutableFile(const std::u16string& name);
// Gives the file the run bit wherever it has the read bit.
bool MakeExecutable(const std::u16string& name);
// Whether the name is a plain file (not a folder, FIFO or device), following links.
bool IsRegularFile(const std::u16string& name);

// Whether standard error goes to a terminal (progress bars only there).
bool StderrIsTerminal();

}  // namespace ql::platform
