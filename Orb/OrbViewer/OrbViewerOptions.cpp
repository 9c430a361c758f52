#include "Orb/OrbViewer/OrbViewerOptions.h"

#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// A switch's first parameter as a number above 0; nothing when it is absent,
// does not parse or is not positive.
std::optional<int64_t> PositiveValue(const ql::TCommandsStorage& commands, std::u16string_view name) {
    if (!commands.HasSwitch(name)) return std::nullopt;
    const auto value = ql::TryStrToInt64(ql::TrimBlanks(commands.Value(name)));
    if (!value || *value <= 0) return std::nullopt;
    return value;
}

}  // namespace

TViewerOptions ReadViewerOptions(const ql::TCommandsStorage& commands) {
    TViewerOptions options;
    // Slide numbers beyond the largest show are clamped by the navigation later.
    if (const auto slide = PositiveValue(commands, u"slide"))
        options.StartSlide = int32_t(std::min<int64_t>(*slide, INT32_MAX) - 1);
    else if (const auto time = PositiveValue(commands, u"time"))
        options.StartTime = *time;
    if (const auto display = PositiveValue(commands, u"display"))
        options.Display = int32_t(std::min<int64_t>(*display, INT32_MAX));
    options.DesktopAlign = commands.HasSwitch(u"desktopalign");
    options.Resize = commands.HasSwitch(u"resize");
    options.Cover = commands.HasSwitch(u"cover");
    options.AllowRun = commands.HasSwitch(u"allowrun");
    options.StartupMode = commands.HasRawToken(u"-startup");
    options.ScreenSaverToken = commands.HasRawToken(u"/s") || commands.HasRawToken(u"/S");
    if (commands.HasSwitch(u"ownerwnd") && !commands.RawTokens().empty()) {
        // The owner goes last on the child's command line.
        if (const auto handle = ql::TryStrToInt64(commands.RawTokens().back())) options.OwnerWindow = *handle;
    }
    return options;
}

bool IsScreenSaverProgram(const std::u16string& programFileName) {
    const auto slash = programFileName.find_last_of(u'/');
    const std::u16string name = slash == std::u16string::npos ? programFileName : programFileName.substr(slash + 1);
    return name.size() > 4 && ql::LowerCase(name.substr(name.size() - 4)) == u".scr";
}

std::vector<std::u16string> StartupChildArguments(const std::u16string& programFileName,
                                                  const std::u16string& showFileName, bool isPackage,
                                                  std::optional<int32_t> display) {
    std::vector<std::u16string> arguments{programFileName, isPackage ? u"-exename" : u"-filename", showFileName,
                                          u"-startup"};
    if (display) {
        arguments.push_back(u"-display");
        arguments.push_back(ql::IntToStr(*display));
    }
    return arguments;
}

}  // namespace orb
