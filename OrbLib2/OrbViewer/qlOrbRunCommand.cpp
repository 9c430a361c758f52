#include "OrbLib2/OrbViewer/qlOrbRunCommand.h"

#include "QlLib/Platform/qlHost.h"
#include "QlLib/Platform/qlProcess.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr char16_t kSlideshowErrorCaption[] = u"Slideshow Error";

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() &&
           ql::SameTextIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// "scheme:" with a scheme of two or more letters: an address of some kind
// ("C:" is a drive, not a scheme).
bool LooksLikeAddress(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() &&
           ((text[i] >= u'a' && text[i] <= u'z') || (text[i] >= u'A' && text[i] <= u'Z') ||
            (i > 0 && ((text[i] >= u'0' && text[i] <= u'9') || text[i] == u'+' || text[i] == u'-' ||
                       text[i] == u'.'))))
        ++i;
    return i >= 2 && i < text.size() && text[i] == u':';
}

std::u16string LastComponent(const std::u16string& path) {
    const size_t slash = path.find_last_of(u'/');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

// The program file a show's name stands for: as given (a bare name through
// PATH), then the file of that name in the show's folder, then the name
// joined to the show's folder. Show texts carry Windows folders ("\").
std::u16string FindShowProgram(const std::u16string& program, const std::u16string& showFolder) {
    std::u16string file = program;
    for (char16_t& c : file)
        if (c == u'\\') c = u'/';
    std::u16string found = ql::FindExecutable(file);
    if (found.empty() && !showFolder.empty()) {
        found = ql::FindExecutable(showFolder + u"/" + LastComponent(file));
        if (found.empty() && !file.empty() && file[0] != u'/')
            found = ql::FindExecutable(showFolder + u"/" + file);
    }
    return found;
}

// The document a name stands for, as a resolved absolute path: the name
// itself when absolute, else beside the show; empty when none is there.
std::u16string FindShowDocument(const std::u16string& name, const std::u16string& showFolder) {
    std::u16string file = name;
    for (char16_t& c : file)
        if (c == u'\\') c = u'/';
    std::vector<std::u16string> candidates;
    if (!file.empty() && file[0] == u'/') candidates.push_back(file);
    if (!showFolder.empty()) {
        candidates.push_back(showFolder + u"/" + LastComponent(file));
        if (!file.empty() && file[0] != u'/') candidates.push_back(showFolder + u"/" + file);
    }
    for (const std::u16string& candidate : candidates) {
        // A link is judged by what it leads to.
        const std::u16string target = ql::ResolvedPath(candidate);
        if (ql::IsOpenableDocument(target)) return target;
    }
    return {};
}

bool RunsAnInterpreter(const std::u16string& program, const std::u16string& file) {
    if (ql::IsRefusedInterpreter(program) || ql::IsRefusedInterpreter(file)) return true;
    // A link with a harmless name may lead to a shell, and a script runs
    // through the interpreter on its "#!" line.
    const std::u16string target = ql::ResolvedPath(file);
    if (ql::IsRefusedInterpreter(target)) return true;
    const std::u16string interpreter = ql::ScriptInterpreter(target);
    return !interpreter.empty() && (interpreter == u"#!" || ql::IsRefusedInterpreter(interpreter));
}

}  // namespace

std::u16string WebAddress(std::u16string_view text) {
    if (StartsWithIgnoringCase(text, u"http://") || StartsWithIgnoringCase(text, u"https://"))
        return std::u16string(text);
    return u"http://" + std::u16string(text);
}

std::u16string MailAddress(std::u16string_view text) {
    if (StartsWithIgnoringCase(text, u"mailto:")) return std::u16string(text);
    return u"mailto:" + std::u16string(text);
}

TRunOutcome PlanRunText(std::u16string_view text, const TRunContext& context,
                        std::vector<TRunItem>& items, std::u16string& error) {
    items.clear();
    error.clear();
    const std::u16string whole = ql::TrimBlanks(text);
    if (whole.empty()) return TRunOutcome::Nothing;
    // A single address stays whole: commas are common in them.
    if (ql::IsOpenableUrl(whole)) {
        items.push_back({true, whole, {}});
        return TRunOutcome::Done;
    }
    const std::vector<std::u16string> commands = ql::SplitRunCommands(whole);
    if (commands.empty()) return TRunOutcome::Nothing;
    for (const std::u16string& command : commands)
        if (ql::IsProhibitedCommand(command)) return TRunOutcome::Prohibited;
    std::vector<TRunItem> planned;
    for (const std::u16string& command : commands) {
        std::u16string program, parameters;
        ql::SplitProgramAndParameters(command, program, parameters);
        if (ql::IsOpenableUrl(program)) {
            planned.push_back({true, program, {}});
            continue;
        }
        if (LooksLikeAddress(program)) {
            error = u"Only web and e-mail addresses can be opened:\r" + program;
            return TRunOutcome::Failed;
        }
        if (program.empty() || ql::IsRefusedInterpreter(program)) return TRunOutcome::Prohibited;
        const std::u16string file = FindShowProgram(program, context.ShowFolder);
        if (file.empty() && parameters.empty()) {
            if (std::u16string document = FindShowDocument(program, context.ShowFolder);
                !document.empty()) {
                TRunItem item;
                item.Document = std::move(document);
                planned.push_back(std::move(item));
                continue;
            }
        }
        if (file.empty()) {
            error = u"Program not found:\r" + program;
            return TRunOutcome::Failed;
        }
        if (RunsAnInterpreter(program, file)) return TRunOutcome::Prohibited;
        TRunItem item;
        item.Argv.push_back(file);
        for (std::u16string& arg : ql::SplitArguments(parameters))
            item.Argv.push_back(std::move(arg));
        planned.push_back(std::move(item));
    }
    items = std::move(planned);
    return TRunOutcome::Done;
}

TRunOutcome RunShowText(ql::THost& host, std::u16string_view text, const TRunContext& context) {
    std::vector<TRunItem> items;
    std::u16string error;
    const TRunOutcome outcome = PlanRunText(text, context, items, error);
    if (outcome == TRunOutcome::Prohibited) {
        host.MessageBox(u"", ql::kProhibitedCommandText, ql::TMessageIcon::Warning,
                        ql::TMessageButtons::Ok);
        return outcome;
    }
    if (outcome == TRunOutcome::Failed) {
        host.MessageBox(kSlideshowErrorCaption, error, ql::TMessageIcon::Warning,
                        ql::TMessageButtons::Ok);
        return outcome;
    }
    if (outcome != TRunOutcome::Done) return outcome;

    std::u16string programs, documents;
    for (const TRunItem& item : items) {
        if (item.IsDocument())
            documents += u"\r" + item.Document;
        else if (!item.IsUrl)
            programs += u"\r" + ql::DescribeArguments(item.Argv);
    }
    if ((!programs.empty() || !documents.empty()) && context.Policy.NeedsConfirmation()) {
        std::u16string question;
        if (!programs.empty()) question += u"The show wants to run:\r" + programs + u"\r\r";
        if (!documents.empty())
            question += u"The show wants to open the document:\r" + documents + u"\r\r";
        question += programs.empty() ? u"Open it?" : u"Run it?";
        if (host.MessageBox(kRunConfirmCaption, question, ql::TMessageIcon::Warning,
                            ql::TMessageButtons::YesNo) != ql::TMessageResult::Yes)
            return TRunOutcome::Declined;
    }
    TRunOutcome result = TRunOutcome::Done;
    for (const TRunItem& item : items) {
        const ql::TLaunchResult started = item.IsDocument()
                                              ? host.Launcher().OpenDocument(item.Document)
                                          : item.IsUrl ? host.Launcher().OpenUrl(item.Url)
                                                       : host.Launcher().Spawn(item.Argv);
        if (started == ql::TLaunchResult::Started) continue;
        const std::u16string what = item.IsDocument() ? item.Document
                                    : item.IsUrl      ? item.Url
                                                      : ql::DescribeArguments(item.Argv);
        host.MessageBox(kSlideshowErrorCaption, u"Can`t run:\r" + what, ql::TMessageIcon::Warning,
                        ql::TMessageButtons::Ok);
        result = TRunOutcome::Failed;
    }
    return result;
}

}  // namespace orb
