// The player's top level: which show to open from the command line, and
// opening it.
#pragma once

#include <string>

#include "QlLib/qlCommands.h"

namespace orb {

enum class TShowFileKind {
    PlayerFile,       // a program file with a package behind it
    ProjectDocument,  // a project document on disk
    Either,           // decided by whether the file holds a package
};

struct TShowRequest {
    std::u16string FileName;
    TShowFileKind Kind = TShowFileKind::PlayerFile;
};

// The show the command line asks for: "-filename" (a project document),
// else "-exename" (another player file), else a bare file argument (either),
// else the program's own file. Relative names are taken from the working
// folder when they exist there, else from the program's folder.
TShowRequest ShowRequestFromCommandLine(const ql::TCommandsStorage& commands,
                                        const std::u16string& programFileName);

// Opens the requested show, logs what was opened and makes it the current show.
// Returns the process exit code: 0 on success, 2 after writing the error text
// to standard error.
int RunViewer(const ql::TCommandsStorage& commands, const std::u16string& programFileName);

}  // namespace orb
