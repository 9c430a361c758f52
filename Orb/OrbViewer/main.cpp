// orbviewer: plays a show (for now: opens it and reports what it opened).
#include "Orb/OrbViewer/MainUnit.h"
#include "QlLib/Graphics/qlGifDecoder.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qlCommands.h"
#include "QlLib/qlLog.h"
#include "QlLib/qlTempManager.h"

int main(int argc, char** argv) {
    ql::TCommandsStorage commands;
    commands.Parse(argc, argv);
    ql::ChooseLogFromCommandLine(commands);
    ql::WriteStartBanner();
    int exitCode = 2;
    {
        // Shows play their animated GIFs as animations.
        ql::TGifAnimationScope gifAnimation(true);
        // Temporary folders of this run go away before the stop banner.
        ql::TTempFolderScope temporaryFolders;
        exitCode = orb::RunViewer(commands, ql::TFileAPI::ProgramFileName());
    }
    ql::WriteStopBanner();
    ql::SetGlobalLog(nullptr);
    return exitCode;
}
