#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"

#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

struct TPlainCommand {
    std::u16string_view Word;
    uint8_t Code;
    int32_t Param;
};

constexpr TPlainCommand kPlainCommands[] = {
    {u"exit", acExit, 0},           {u"nextslide", acNextSlide, 0},
    {u"prevslide", acPrevSlide, 0}, {u"help", acHelp, 0},
    {u"gotofirstslide", acGotoSlide, 0}, {u"pause", acPause, 0},
    {u"print", acPrint, 0},         {u"stop", acStop, 0},
    {u"closedialog", acCloseDialog, 0}, {u"saveslide", acSaveSlide, 0},
    {u"changeprinter", acChangePrinter, 0},
};

// Commands written as word("text"): the quotes are what InnerArgument drops.
struct TTextCommand {
    std::u16string_view Prefix;  // with the "("
    uint8_t Code;
};

constexpr TTextCommand kTextCommands[] = {
    {u"openwebsite(", acOpenWebsite},
    {u"writeemail(", acWriteEmail},
    {u"runappandexit(", acRunAppAndExit},
    {u"runapp(", acRunApp},
    {u"runpresentationandreturn(", acRunPresentationAndReturn},
    {u"runpresentation(", acRunPresentation},
    {u"opendialog(", acOpenDialog},
};

bool StartsWithNoCase(const std::u16string& lower, std::u16string_view prefix) {
    return lower.size() >= prefix.size() && std::u16string_view(lower).substr(0, prefix.size()) == prefix;
}

// What follows the prefix less its first character (the opening quote) and
// its last two (the closing quote and the ")"), none of them checked; empty
// when fewer than three are left.
std::u16string InnerArgument(std::u16string_view text, size_t prefixLength) {
    if (text.size() < prefixLength + 3) return {};
    return std::u16string(text.substr(prefixLength + 1, text.size() - prefixLength - 3));
}

}  // namespace

TOrbActionInfo ParseAction(std::u16string_view text) {
    const std::u16string lower = ql::LowerCase(text);
    for (const TPlainCommand& command : kPlainCommands)
        if (lower == command.Word) return TOrbActionInfo(command.Code, command.Param);

    constexpr std::u16string_view kGotoSlide = u"gotoslide(";
    if (StartsWithNoCase(lower, kGotoSlide)) {
        // Only the ")" is dropped; a text that ends right after "(" has an
        // empty argument rather than a negative length.
        std::u16string argument;
        if (text.size() > kGotoSlide.size())
            argument = std::u16string(text.substr(kGotoSlide.size(), text.size() - kGotoSlide.size() - 1));
        if (const auto number = ql::TryStrToInt(argument)) return TOrbActionInfo(acGotoSlide, *number);
        return TOrbActionInfo(acGotoSlide, -1, std::move(argument));
    }
    for (const TTextCommand& command : kTextCommands)
        if (StartsWithNoCase(lower, command.Prefix))
            return TOrbActionInfo(command.Code, 0, InnerArgument(text, command.Prefix.size()));
    return TOrbActionInfo();
}

}  // namespace orb
