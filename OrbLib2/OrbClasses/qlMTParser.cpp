#include "OrbLib2/OrbClasses/qlMTParser.h"

namespace orb {

namespace {

char16_t FoldAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

// The file name's start in path and its end (one trailing backslash left out).
void FileNameBounds(std::u16string_view path, size_t& begin, size_t& end) {
    end = path.size();
    if (end > 0 && path[end - 1] == u'\\') --end;
    const size_t slash = path.substr(0, end).rfind(u'\\');
    begin = slash == std::u16string_view::npos ? 0 : slash + 1;
}

// Where the file name's extension starts (its dot); npos without one. Only
// dots of the file name count: "C:\My.Photos\img" has no extension.
size_t ExtensionStart(std::u16string_view path) {
    size_t begin = 0, end = 0;
    FileNameBounds(path, begin, end);
    const size_t dot = path.substr(0, end).rfind(u'.');
    return dot == std::u16string_view::npos || dot < begin ? std::u16string_view::npos : dot;
}

}  // namespace

std::u16string MacroFileNameExt(std::u16string_view path) {
    size_t begin = 0, end = 0;
    FileNameBounds(path, begin, end);
    return std::u16string(path.substr(begin, end - begin));
}

std::u16string MacroFileName(std::u16string_view path) {
    size_t begin = 0, end = 0;
    FileNameBounds(path, begin, end);
    const size_t dot = ExtensionStart(path);
    if (dot != std::u16string_view::npos) end = dot;
    return std::u16string(path.substr(begin, end - begin));
}

std::u16string MacroPathName(std::u16string_view path) {
    const size_t dot = ExtensionStart(path);
    return std::u16string(dot == std::u16string_view::npos ? path : path.substr(0, dot));
}

std::u16string MacroFolderPath(std::u16string_view path) {
    const size_t slash = path.rfind(u'\\');
    return slash == std::u16string_view::npos ? std::u16string()
                                              : std::u16string(path.substr(0, slash + 1));
}

std::u16string MacroFolderName(std::u16string_view path) {
    const size_t last = path.rfind(u'\\');
    if (last == std::u16string_view::npos || last == 0) return {};
    const size_t before = path.rfind(u'\\', last - 1);
    if (before == std::u16string_view::npos) return {};
    return std::u16string(path.substr(before + 1, last - before - 1));
}

std::u16string MacroExifDatePart(std::u16string_view dateTime) {
    return std::u16string(dateTime.substr(0, dateTime.find(u' ')));
}

std::u16string MacroExifTimePart(std::u16string_view dateTime) {
    const size_t space = dateTime.find(u' ');
    return space == std::u16string_view::npos ? std::u16string()
                                              : std::u16string(dateTime.substr(space + 1));
}

std::u16string CutDerivedMacro(TDerivedMacro kind, std::u16string_view value) {
    switch (kind) {
        case TDerivedMacro::FileName:
            return MacroFileName(value);
        case TDerivedMacro::PathName:
            return MacroPathName(value);
        case TDerivedMacro::FileNameExt:
            return MacroFileNameExt(value);
        case TDerivedMacro::FolderPath:
            return MacroFolderPath(value);
        case TDerivedMacro::FolderName:
            return MacroFolderName(value);
        case TDerivedMacro::ExifDate:
            return MacroExifDatePart(value);
        case TDerivedMacro::ExifTime:
            return MacroExifTimePart(value);
    }
    return {};
}

size_t FindMacro(std::u16string_view text, std::u16string_view token, size_t from) {
    if (token.empty() || token.size() > text.size()) return std::u16string_view::npos;
    for (size_t i = from; i + token.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < token.size() && FoldAscii(text[i + k]) == FoldAscii(token[k])) ++k;
        if (k == token.size()) return i;
    }
    return std::u16string_view::npos;
}

void TMTParser::ReplaceToken(std::u16string& text, std::u16string_view token,
                             const std::function<std::u16string()>& make) {
    size_t at = FindMacro(text, token);
    while (at != std::u16string::npos) {
        std::u16string value = make();
        const size_t room = text.size() - token.size() < kMaxMacroTextLength
                                ? kMaxMacroTextLength - (text.size() - token.size())
                                : 0;
        if (value.size() > room) value.resize(room);
        text.replace(at, token.size(), value);
        // The search goes on after the value: a value that holds the token
        // itself (an IPTC headline reading "<%MainImg.IPTC.Headline%>") would
        // otherwise be replaced for ever.
        at = FindMacro(text, token, at + value.size());
    }
}

std::u16string TMTParser::Replace(std::u16string_view text) {
    if (!m_provider) throw EMTParserError("TMTParser: no value provider");
    std::u16string result(text);
    // Every token starts with "<%"; most texts have none.
    if (result.find(u"<%") != std::u16string::npos) {
        for (std::u16string_view token : kBaseMacros) {
            const std::u16string asked(token);
            ReplaceToken(result, token, [&] { return m_provider(*this, asked); });
        }
        for (const TDerivedMacroInfo& derived : kDerivedMacros) {
            const std::u16string asked(derived.Asks);
            ReplaceToken(result, derived.Token,
                         [&] { return CutDerivedMacro(derived.Kind, m_provider(*this, asked)); });
        }
    }
    if (result.empty()) result = u" ";
    return result;
}

}  // namespace orb
