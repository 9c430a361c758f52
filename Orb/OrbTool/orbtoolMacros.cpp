// orbtool macros: a text with its macros replaced as a text object on a slide
// of a show would show it.
#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbClasses/qlOrbTextMacros.h"
#include "OrbLib2/OrbClasses/qlOrbTextNames.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

using tool::Fail;

const char kMacrosHelp[] =
    "usage: orbtool macros SHOW --slide N [--seed N] TEXT\n"
    "Prints TEXT with its macros (<%SlideIndex%>, <%MainImg.FileName%>,\n"
    "<%MainImg.Exif.Comment%>, <%MainImg.IPTC.Headline%>, ...) replaced as a text\n"
    "object on slide N (0-based, as orbtool timeline counts) shows it, one line of\n"
    "the text a line (\"^&\" separates lines, as in a text's Text key). --seed\n"
    "fixes the random slide order.\n";

std::optional<uint32_t> ParseCount(const std::string& text) {
    uint32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

int RunMacros(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kMacrosHelp, stdout);
        return 0;
    }
    std::vector<std::string> positional;
    std::optional<uint32_t> slideIndex, seed;
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--slide") {
            if (!hasValue || !(slideIndex = ParseCount(args[i + 1])))
                return Fail("orbtool macros: --slide needs a slide index from 0");
            ++i;
        } else if (args[i] == "--seed") {
            if (!hasValue || !(seed = ParseCount(args[i + 1])))
                return Fail("orbtool macros: --seed needs a number from 0 to 4294967295");
            ++i;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2 || !slideIndex) {
        std::fputs(kMacrosHelp, stderr);
        return tool::kExitError;
    }
    const std::string& show = positional[0];
    if (seed) SetFixedRandomSeed(*seed);
    TShowOpenResult opened = OpenShow(ql::FromUtf8(show));
    if (!opened.Locator) return Fail("orbtool macros: " + show + ": " + ql::ToUtf8(opened.Error));
    try {
        TSlideProducer producer(ShowSource(*opened.Locator), opened.Locator->Accessor());
        const int64_t count = producer.Source().SlideCount();
        if (int64_t(*slideIndex) >= count)
            return Fail("orbtool macros: " + show + " has " + std::to_string(count) +
                        " slides; --slide is counted from 0");
        producer.Setup(1920, 1080, ffFitInside);
        std::unique_ptr<TOrbSlide> slide = producer.BuildSlide(*slideIndex, 0);
        if (!slide)
            return Fail("orbtool macros: slide " + std::to_string(*slideIndex) + " not built");
        auto& text = static_cast<TOrbText&>(
            slide->AddChild(std::make_unique<TOrbText>(slide.get(), u"", u"text")));
        const TTextLines lines = SplitTextLines(ql::FromUtf8(positional[1]));
        for (const std::u16string& line : ReplaceTextMacros(text, lines.Lines))
            std::printf("%s\n", ql::ToUtf8(line).c_str());
    } catch (const ql::Exception& e) {
        return Fail("orbtool macros: " + show + ": " + e.Message());
    } catch (const std::exception& e) {
        return Fail("orbtool macros: " + show + ": " + e.what());
    }
    return 0;
}

}  // namespace orb
