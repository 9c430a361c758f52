#include "Orb/OrbViewer/MainUnit.h"

#include <cstdio>

#include "Orb/OrbViewer/OrbShowOpener.h"
#include "Orb/OrbViewer/OrbViewerOptions.h"
#include "OrbLib2/OrbViewer/qlOrbShowLocator.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

std::u16string FolderOf(const std::u16string& path) {
    const auto slash = path.find_last_of(u'/');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

std::u16string AbsoluteShowName(const std::u16string& name, const std::u16string& programFileName) {
    if (name.empty() || name[0] == u'/') return name;
    if (ql::TFileAPI::FileExists(name) || ql::TFileAPI::DirectoryExists(name)) return name;
    return FolderOf(programFileName) + name;
}

// The first value after the program's own path, if any: "orbviewer show.exe".
std::u16string BareFileArgument(const ql::TCommandsStorage& commands) {
    const ql::TCommand* unnamed = commands.Command(u"");
    if (!unnamed || unnamed->Count() < 2) return {};
    return unnamed->Item(1)->Value();
}

}  // namespace

TShowRequest ShowRequestFromCommandLine(const ql::TCommandsStorage& commands,
                                        const std::u16string& programFileName) {
    TShowRequest request;
    if (const std::u16string project = commands.Value(u"filename"); !project.empty()) {
        request = {project, TShowFileKind::ProjectDocument};
    } else if (const std::u16string player = commands.Value(u"exename"); !player.empty()) {
        request = {player, TShowFileKind::PlayerFile};
    } else if (const std::u16string bare = BareFileArgument(commands); !bare.empty()) {
        request = {bare, TShowFileKind::Either};
    } else {
        return {programFileName, TShowFileKind::PlayerFile};
    }
    request.FileName = AbsoluteShowName(request.FileName, programFileName);
    return request;
}

int RunViewer(const ql::TCommandsStorage& commands, const std::u16string& programFileName) {
    const TShowRequest request = ShowRequestFromCommandLine(commands, programFileName);
    const TViewerOptions options = ReadViewerOptions(commands);
    ql::TLog& log = ql::GlobalLog();
    log.WriteLine(u"Open show: " + request.FileName);

    auto report = [&log](const std::u16string& error) {
        log.WriteLine(u"Slideshow Error: " + error);
        // The message box text may hold CR; standard error gets one line.
        std::string line = ql::ToUtf8(error);
        for (char& c : line)
            if (c == '\r' || c == '\n') c = ' ';
        std::fprintf(stderr, "%s\n", line.c_str());
        return 2;
    };
    TOpenedShow opened = OpenShowFile(request.FileName, request.Kind);
    if (!opened.Locator) return report(opened.Error);

    TOrbShowLocator& show = *opened.Locator;
    TShowChecks checks;
    checks.ProgramFileName = programFileName;
    checks.ScreenSaverToken = options.ScreenSaverToken;
    const TCheckResult check = CheckShow(show, checks);
    if (check.Outcome == TCheckOutcome::Error) return report(check.Error);
    if (check.Outcome == TCheckOutcome::Refused) {
        log.WriteLine(u"Show refused: " + request.FileName);
        return 0;
    }
    const std::vector<std::u16string> sections = show.Project().SectionNames();
    log.WriteLine(u"Show opened: project \"" + show.ProjectName() + u"\", OrbVersion \"" +
                  show.OrbVersion() + u"\", " + ql::IntToStr(static_cast<int64_t>(sections.size())) +
                  u" sections");
    SetCurrentShow(std::move(opened.Locator));
    SetCurrentShow(nullptr);
    return 0;
}

}  // namespace orb
