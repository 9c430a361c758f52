// What the player's command line asks for besides the show itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "QlLib/qlCommands.h"

namespace orb {

struct TViewerOptions {
    std::optional<int32_t> StartSlide;  // 0-based; "-slide" wins over "-time"
    std::optional<int64_t> StartTime;   // ms
    std::optional<int32_t> Display;     // 1-based monitor number
    bool DesktopAlign = false;
    bool Resize = false;
    bool Cover = false;
    bool StartupMode = false;         // the raw token "-startup": we are the start-up child
    bool ScreenSaverToken = false;    // the raw token "/s" or "/S"
    bool AllowRun = false;            // "-allowrun": run a show's programs without asking
    std::optional<int64_t> OwnerWindow;  // "-ownerwnd", the last parameter of the line
};

TViewerOptions ReadViewerOptions(const ql::TCommandsStorage& commands);

// Whether the program file is named as a screen saver (".scr", any case).
bool IsScreenSaverProgram(const std::u16string& programFileName);

// The argument vector of the start-up child: it plays the show's start-up
// window and answers with exit code 1 when the show may start. A vector, so
// that quotes in a file name cannot add switches.
std::vector<std::u16string> StartupChildArguments(const std::u16string& programFileName,
                                                  const std::u16string& showFileName, bool isPackage,
                                                  std::optional<int32_t> display);

}  // namespace orb
