// The text macro parser: replaces the "<%...%>" tokens of a text (slide
// number, slide count, the main picture's name parts, size, EXIF and IPTC
// fields) by the values a provider gives. The parser knows only the tokens
// and how the derived ones (file name parts, EXIF date and time) are cut from
// the provider's values; the text object supplies the values.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "QlLib/qpExceptions.h"

namespace orb {

// Raised by Replace when no value provider is set.
QL_COMMON_EXCEPTION(EMTParserError, ql::TCommonException);

inline constexpr std::u16string_view kMacroSlideIndex = u"<%SlideIndex%>";
inline constexpr std::u16string_view kMacroSlidesCount = u"<%SlidesCount%>";
inline constexpr std::u16string_view kMacroWidth = u"<%MainImg.Width%>";
inline constexpr std::u16string_view kMacroHeight = u"<%MainImg.Height%>";
inline constexpr std::u16string_view kMacroExifComment = u"<%MainImg.Exif.Comment%>";
inline constexpr std::u16string_view kMacroExifDescription = u"<%MainImg.Exif.Description%>";
inline constexpr std::u16string_view kMacroPathNameExt = u"<%MainImg.PathNameExt%>";
inline constexpr std::u16string_view kMacroExifDate = u"<%MainImg.Exif.Date%>";
inline constexpr std::u16string_view kMacroExifTime = u"<%MainImg.Exif.Time%>";
inline constexpr std::u16string_view kMacroIptcPrefix = u"<%MainImg.IPTC.";

// The tokens asked of the provider as they stand, in the order they are
// replaced.
inline constexpr std::array<std::u16string_view, 22> kBaseMacros{
    kMacroSlideIndex,
    kMacroSlidesCount,
    kMacroWidth,
    kMacroHeight,
    kMacroExifComment,
    kMacroExifDescription,
    kMacroPathNameExt,
    u"<%MainImg.IPTC.DocumentTitle%>",
    u"<%MainImg.IPTC.SpecialInstructions%>",
    u"<%MainImg.IPTC.AuthorByline%>",
    u"<%MainImg.IPTC.AuthorTitle%>",
    u"<%MainImg.IPTC.City%>",
    u"<%MainImg.IPTC.Sublocation%>",
    u"<%MainImg.IPTC.ProvinceState%>",
    u"<%MainImg.IPTC.Country%>",
    u"<%MainImg.IPTC.OTR%>",
    u"<%MainImg.IPTC.Headline%>",
    u"<%MainImg.IPTC.Credits%>",
    u"<%MainImg.IPTC.Source%>",
    u"<%MainImg.IPTC.Copyright%>",
    u"<%MainImg.IPTC.CaptionDescription%>",
    u"<%MainImg.IPTC.CaptionWriter%>",
};

// The IIM record 2 dataset of each IPTC token of kBaseMacros, in its order.
inline constexpr std::array<uint8_t, 15> kIptcMacroDatasets{5,   40,  80,  85,  90,  92,  95, 101,
                                                            103, 105, 110, 115, 116, 120, 122};

// The tokens cut from another token's value, in the order they are replaced.
enum class TDerivedMacro {
    FileName,
    PathName,
    FileNameExt,
    FolderPath,
    FolderName,
    ExifDate,
    ExifTime
};
struct TDerivedMacroInfo {
    std::u16string_view Token;
    TDerivedMacro Kind;
    std::u16string_view Asks;  // the token whose value is cut
};
inline constexpr std::array<TDerivedMacroInfo, 7> kDerivedMacros{{
    {u"<%MainImg.FileName%>", TDerivedMacro::FileName, kMacroPathNameExt},
    {u"<%MainImg.PathName%>", TDerivedMacro::PathName, kMacroPathNameExt},
    {u"<%MainImg.FileNameExt%>", TDerivedMacro::FileNameExt, kMacroPathNameExt},
    {u"<%MainImg.FolderPath%>", TDerivedMacro::FolderPath, kMacroPathNameExt},
    {u"<%MainImg.FolderName%>", TDerivedMacro::FolderName, kMacroPathNameExt},
    {u"<%MainImg.Exif.Date%>", TDerivedMacro::ExifDate, kMacroExifDate},
    {u"<%MainImg.Exif.Time%>", TDerivedMacro::ExifTime, kMacroExifTime},
}};

// Name parts of a file name as a show writes it; the backslash is the only
// folder separator (the names come from the authoring machine).
// The text after the last backslash (one trailing backslash ignored).
std::u16string MacroFileNameExt(std::u16string_view path);
// The file name without its extension (cut at its last "."; none without a dot).
std::u16string MacroFileName(std::u16string_view path);
// The whole name without the file name's extension; a dot in a folder name is
// no extension.
std::u16string MacroPathName(std::u16string_view path);
// Up to and including the last backslash; empty without one.
std::u16string MacroFolderPath(std::u16string_view path);
// The text between the last two backslashes; empty with fewer than two.
std::u16string MacroFolderName(std::u16string_view path);
// The EXIF date and time ("2010:05:01 12:34:56"): up to the first space, and
// after it (empty without a space).
std::u16string MacroExifDatePart(std::u16string_view dateTime);
std::u16string MacroExifTimePart(std::u16string_view dateTime);
// The value of a derived macro from its source value.
std::u16string CutDerivedMacro(TDerivedMacro kind, std::u16string_view value);

// A text grows by its macros' values to at most this many characters: values
// come from picture files, and a value holding tokens of later macros, whose
// values hold more, would otherwise multiply the text with each macro. A value
// that does not fit is cut.
inline constexpr size_t kMaxMacroTextLength = 65536;

// Where a token occurs in the text from `from` on, without regard to the case
// of ASCII letters; npos when it does not.
size_t FindMacro(std::u16string_view text, std::u16string_view token, size_t from = 0);

class TMTParser {
public:
    // Gives the value of a token exactly as kBaseMacros (or TDerivedMacroInfo::Asks)
    // writes it.
    using TValueProvider =
        std::function<std::u16string(TMTParser& parser, const std::u16string& token)>;

    TMTParser() = default;
    explicit TMTParser(TValueProvider provider) : m_provider(std::move(provider)) {}

    void SetProvider(TValueProvider provider) { m_provider = std::move(provider); }
    bool HasProvider() const { return bool(m_provider); }

    // The text with every macro replaced; an empty result is a single space.
    // Raises EMTParserError without a provider.
    std::u16string Replace(std::u16string_view text);

private:
    // Replaces every occurrence of token by the value make gives for it.
    void ReplaceToken(std::u16string& text, std::u16string_view token,
                      const std::function<std::u16string()>& make);

    TValueProvider m_provider;
};

}  // namespace orb
