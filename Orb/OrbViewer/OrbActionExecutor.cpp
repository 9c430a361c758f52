#include "Orb/OrbViewer/OrbActionExecutor.h"

#include <algorithm>

#include "Orb/OrbViewer/OrbNavigation.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlProcess.h"
#include "QlLib/qlCommands.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qlRunPolicy.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

std::u16string FolderOf(const std::u16string& path) {
    const auto slash = path.find_last_of(u'/');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

// Shows are written on another system: its folder separator becomes ours.
std::u16string LocalPath(std::u16string path) {
    std::replace(path.begin(), path.end(), u'\\', u'/');
    return path;
}

// Clears a flag when the scope ends, however it ends.
class TGuard {
public:
    explicit TGuard(bool& flag) : m_flag(flag) { m_flag = true; }
    ~TGuard() { m_flag = false; }

private:
    bool& m_flag;
};

}  // namespace

TShowCommand ParseShowCommand(const std::u16string& text) {
    ql::TCommandsStorage commands;
    // The parser takes the first token as the program's name; a show command
    // has none.
    commands.ParseCommandLine(u"- " + text);
    TShowCommand command;
    if (const ql::TCommand* plain = commands.Command(u""); plain && plain->Count() > 0)
        command.FileName = LocalPath(plain->Item(0)->Value());
    if (const auto slide = ql::TryStrToInt(ql::TrimBlanks(commands.Value(u"slide")));
        slide && *slide > 0)
        command.StartSlide = *slide - 1;
    else if (const auto time = ql::TryStrToInt64(ql::TrimBlanks(commands.Value(u"time")));
             time && *time > 0)
        command.StartTime = *time;
    return command;
}

void TActionExecutor::SetShow(const TOrbSource* source, const std::u16string& showFileName,
                              bool selfContained) {
    m_source = source;
    m_showFileName = showFileName;
    m_selfContained = selfContained;
    m_atEnd = false;
}

void TActionExecutor::SeekKeepingPause(int64_t target) {
    m_viewer.Seek(target);
}

void TActionExecutor::Execute(const TOrbActionInfo& action) {
    if (m_childRunning || m_inAction || m_closed) return;
    TGuard guard(m_inAction);
    const double time = m_viewer.ShowTime();
    std::optional<TNavigation> navigation;
    if (m_source) navigation.emplace(*m_source);
    switch (action.Code) {
        case acExit:
            Close(true);
            break;
        case acPrevSlide:
            if (navigation) SeekKeepingPause(navigation->PreviousSlide(time));
            break;
        case acNextSlide:
            if (m_viewer.Waiting())
                m_viewer.ReleaseWait();
            else if (navigation)
                SeekKeepingPause(navigation->NextSlide(time, m_viewer.Paused()));
            break;
        case acPause:
            if (m_viewer.Waiting())
                m_viewer.ReleaseWait();
            else
                m_viewer.SetPaused(!m_viewer.Paused());
            break;
        case acPrint:
            m_viewer.PrintFrame();
            break;
        case acGotoSlide:
            if (navigation) SeekKeepingPause(navigation->GotoSlide(action.Param, action.Text));
            break;
        case acOpenWebsite:
        case acWriteEmail: {
            const std::u16string address =
                action.Code == acOpenWebsite ? WebAddress(action.Text) : MailAddress(action.Text);
            if (ql::IsOpenableUrl(address)) m_host.OpenAddress(address);
            break;
        }
        case acRunApp:
            RunText(action.Text);
            break;
        case acRunAppAndExit:
            Close(true);
            RunText(action.Text);
            break;
        case acRunPresentation:
        case acRunPresentationAndReturn:
            OpenAnother(action);
            break;
        case acStop:
            m_viewer.SetPaused(true);
            m_viewer.Seek(0);
            break;
        case acCloseDialog:
            m_exitCode = 1;
            Close(true);
            break;
        case acGotoTime:
            if (navigation) SeekKeepingPause(navigation->ClampTarget(action.Param));
            break;
        default:
            break;
    }
}

void TActionExecutor::Wheel(int32_t steps, bool ctrl) {
    if (m_childRunning || !m_source || steps == 0) return;
    SeekKeepingPause(
        TNavigation(*m_source).Wheel(m_viewer.ShowTime(), steps, ctrl, m_viewer.Paused()));
}

void TActionExecutor::Position(double time, bool end) {
    if (!end) return;
    m_atEnd = true;
    if (m_source && m_source->RepeatMode() == TRepeatMode::Close) Close(true);
}

bool TActionExecutor::RunText(const std::u16string& text) {
    TRunContext context;
    context.ShowFolder = FolderOf(m_showFileName);
    context.Policy.SelfContained = m_selfContained;
    context.Policy.AllowRunSwitch = m_allowRun;
    std::vector<TRunItem> items;
    std::u16string error;
    switch (PlanRunText(text, context, items, error)) {
        case TRunOutcome::Prohibited:
            m_host.ShowMessage(ql::kProhibitedCommandText, u"");
            return false;
        case TRunOutcome::Failed:
            m_host.ShowMessage(error, kSlideshowErrorCaption);
            return false;
        case TRunOutcome::Done:
            break;
        default:
            return false;
    }
    bool ran = false;
    for (const TRunItem& item : items) {
        if (item.IsUrl) {
            ran = m_host.OpenAddress(item.Url) || ran;
            continue;
        }
        if (item.IsDocument()) {
            // A document opens in whatever the desktop chooses: the same
            // consent as a program.
            if (context.Policy.NeedsConfirmation() && !m_host.ConfirmOpen(item.Document)) continue;
            ran = m_host.OpenDocument(item.Document) || ran;
            continue;
        }
        if (context.Policy.NeedsConfirmation() &&
            !m_host.ConfirmRun(ql::DescribeArguments(item.Argv)))
            continue;
        ran = m_host.SpawnProgram(item.Argv) || ran;
    }
    return ran;
}

bool TActionExecutor::OpenAnother(const TOrbActionInfo& action) {
    TShowCommand command = ParseShowCommand(action.Text);
    if (command.FileName.empty()) return false;
    const std::u16string given = command.FileName;
    if (!ql::TFileAPI::FileExists(command.FileName) && command.FileName[0] != u'/') {
        std::vector<std::u16string> folders;
        if (m_source) {
            const std::u16string exeName = LocalPath(m_source->Options().ExeFileName);
            if (!exeName.empty()) folders.push_back(FolderOf(exeName));
        }
        folders.push_back(FolderOf(m_showFileName));
        for (const std::u16string& folder : folders) {
            if (!folder.empty() && ql::TFileAPI::FileExists(folder + command.FileName)) {
                command.FileName = folder + command.FileName;
                break;
            }
        }
    }
    const std::u16string& name = command.FileName;
    std::u16string error;
    if (const auto version = ReadPackageVersion(name); !version) {
        error = ql::TFileAPI::FileExists(name)
                    ? u"Not OrbShow Executable File or File Corrupted:\r" + given
                    : u"OrbShow File not Found:\r" + given;
    } else if (m_source &&
               *version != m_source->Document().ReadString(u"Main", u"OrbVersion", u"")) {
        error = u"OrbShow ExeFile Version Mismatch:\r" + given;
    }
    if (!error.empty()) {
        m_host.ShowMessage(error, kSlideshowErrorCaption);
        return false;
    }
    ql::GlobalLog().WriteLine(u"Open show: " + name);
    std::optional<TShowCommand> back;
    if (action.Code == acRunPresentationAndReturn) {
        back = TShowCommand{m_showFileName, 0, std::nullopt};
        if (m_source) back->StartSlide = TNavigation(*m_source).SlideIndexAt(m_viewer.ShowTime());
    }
    const bool paused = m_viewer.Paused();
    if (m_host.OpenShow(command)) {
        if (back) m_runStack.push_back(std::move(*back));
        return true;
    }
    if (action.Code == acRunPresentation)
        Close(true);
    else
        m_viewer.SetPaused(paused);
    return false;
}

bool TActionExecutor::Close(bool byShow) {
    if (m_childRunning || m_closing || m_closed) return false;
    TGuard guard(m_closing);
    TRunOnExit mode = TRunOnExit::None;
    std::u16string target;
    if (m_source) {
        const TOrbShowOptions& options = m_source->Options();
        mode = options.RunOnExit;
        target = options.RunOnExitTarget;
        if (options.RunOnExitOnlyAtEnd && !m_atEnd) mode = TRunOnExit::None;
    }
    if (!byShow) mode = TRunOnExit::None;
    bool opened = false;
    if (mode == TRunOnExit::RunText) {
        RunText(target);
    } else if (mode == TRunOnExit::OpenShow) {
        const TShowCommand command = ParseShowCommand(target);
        opened = !command.FileName.empty() && m_host.OpenShow(command);
    }
    if (!opened && byShow && !m_runStack.empty()) {
        const TShowCommand back = m_runStack.back();
        m_runStack.pop_back();
        opened = m_host.OpenShow(back);
    }
    if (opened) return false;
    m_closed = true;
    m_host.Quit();
    return true;
}

}  // namespace orb
