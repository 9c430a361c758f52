// orbtool timeline and at: the slide list of a show on its clock, and the
// slide that covers a time.
#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {
using tool::Fail;
using tool::kExitError;

// The shortest decimal that reads back to the same double.
std::string FormatTime(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::optional<double> ParseTime(const std::string& text) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<uint32_t> ParseSeed(const std::string& text) {
    uint32_t value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

// Splits off "--seed N"; false on a bad seed or an unknown option.
bool TakeOptions(const std::vector<std::string>& args, std::vector<std::string>& positional,
                 std::optional<uint32_t>& seed, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--seed") {
            if (i + 1 >= args.size() || !(seed = ParseSeed(args[i + 1]))) {
                error = "--seed needs a number from 0 to 4294967295";
                return false;
            }
            ++i;
        } else {
            positional.push_back(args[i]);
        }
    }
    return true;
}

// Opens SHOW and builds its source; prints why not.
TOrbSource* OpenSource(const std::string& show, std::unique_ptr<TOrbShowLocator>& holder,
                       std::optional<uint32_t> seed) {
    if (seed) SetFixedRandomSeed(*seed);
    TShowOpenResult opened = OpenShow(ql::FromUtf8(show));
    if (!opened.Locator) {
        Fail(show + ": " + ql::ToUtf8(opened.Error));
        return nullptr;
    }
    holder = std::move(opened.Locator);
    try {
        return &ShowSource(*holder);
    } catch (const ql::Exception& e) {
        Fail(show + ": " + e.Message());
        return nullptr;
    }
}

const char kTimelineHelp[] =
    "usage: orbtool timeline SHOW [--seed N]\n"
    "Prints the slide list of SHOW (a player file or a project document): a header\n"
    "line, then per slide its index, BeginTime, EndTime, EffectTime, NextEffectTime,\n"
    "NextEffectEnd, effect class, effect type and SlideId, tab-separated; then\n"
    "\"total\", the show's total time and its repeat mode. --seed fixes the random\n"
    "choices of effects and slide order.\n";

const char kAtHelp[] =
    "usage: orbtool at SHOW TIME [--seed N]\n"
    "Prints the index of the slide that covers show time TIME (ms) and its cycle,\n"
    "tab-separated; -1 and -1 before the first slide begins.\n";
}  // namespace

int RunTimeline(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kTimelineHelp, stdout);
        return 0;
    }
    std::vector<std::string> positional;
    std::optional<uint32_t> seed;
    std::string error;
    if (!TakeOptions(args, positional, seed, error)) return Fail("orbtool timeline: " + error);
    if (positional.size() != 1) {
        std::fputs(kTimelineHelp, stderr);
        return kExitError;
    }
    std::unique_ptr<TOrbShowLocator> locator;
    TOrbSource* source = OpenSource(positional[0], locator, seed);
    if (!source) return kExitError;
    std::printf(
        "index\tBeginTime\tEndTime\tEffectTime\tNextEffectTime\tNextEffectEnd\tclass\ttype\tSlideId"
        "\n");
    const TSlideInfoList& slides = source->Slides();
    for (size_t i = 0; i < slides.size(); ++i) {
        const TSlideInfo& slide = slides[i];
        const TSlideEffect effect = source->SlideEffect(int64_t(i));
        std::printf("%zu\t%s\t%s\t%s\t%s\t%s\t%d\t%d\t%s\n", i, FormatTime(slide.BeginTime).c_str(),
                    FormatTime(slide.EndTime).c_str(), FormatTime(slide.EffectTime).c_str(),
                    FormatTime(slide.NextEffectTime).c_str(),
                    FormatTime(slide.NextEffectEnd).c_str(), effect.EffectClass, effect.EffectType,
                    ql::ToUtf8(slide.SlideId).c_str());
    }
    std::printf("total\t%s\t%s\n", FormatTime(source->TotalTime()).c_str(),
                RepeatModeName(source->RepeatMode()));
    return 0;
}

int RunAt(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kAtHelp, stdout);
        return 0;
    }
    std::vector<std::string> positional;
    std::optional<uint32_t> seed;
    std::string error;
    if (!TakeOptions(args, positional, seed, error)) return Fail("orbtool at: " + error);
    if (positional.size() != 2) {
        std::fputs(kAtHelp, stderr);
        return kExitError;
    }
    const std::optional<double> time = ParseTime(positional[1]);
    if (!time) return Fail("orbtool at: not a time: " + positional[1]);
    std::unique_ptr<TOrbShowLocator> locator;
    TOrbSource* source = OpenSource(positional[0], locator, seed);
    if (!source) return kExitError;
    const TSlideAtTime at = source->SlideAtTime(*time);
    std::printf("%lld\t%lld\n", static_cast<long long>(at.Index), static_cast<long long>(at.Cycle));
    return 0;
}

}  // namespace orb
