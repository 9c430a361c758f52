// The start-up window: a show may open with a small window of its own (its
// "dialog_startup" page) before it plays. A child copy of the player runs it
// with "-startup"; in the child the show's project document is rewritten as
// it is read, into a one-slide show of that page that never repeats, runs
// nothing on exit and asks for no password.
#pragma once

#include <memory>
#include <string>

#include "QlLib/qlIniStorage.h"

namespace orb {

class TFileAccessor;

// The start-up window's document made from a show's; nothing when the show
// lacks one of the sections "dialog_startup", "main" and "FileMap".
std::unique_ptr<ql::TIniFile> StartupWindowProject(const ql::TIniStorage& show);

// Makes `accessor` hand out the start-up window's document whenever the
// project entry `projectName` is read (the child's filter).
void InstallStartupWindowFilter(TFileAccessor& accessor, const std::u16string& projectName);

}  // namespace orb
