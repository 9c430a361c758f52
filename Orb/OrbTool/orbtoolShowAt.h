// What orbtool objects, hit and frame share: their common options and the
// slides of a show built and set to one show time on a screen size.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/qpStringUtils.h"

namespace orb::tool {

constexpr int32_t kMinScreenSide = 16, kMaxScreenSide = 8192;

// The options every one of the three takes; Parse leaves the rest in Other.
struct TShowAtOptions {
    std::string Show;
    double Time = 0;
    bool HasTime = false;
    int32_t Width = 1920, Height = 1080;
    std::optional<uint32_t> Seed;
    bool Cover = false;
    // "--mouse X,Y[,down]": a move to the point, or a left press there, given
    // to the topmost slide once it is set to the time.
    std::optional<TPointF> Mouse;
    bool MouseDown = false;
    std::vector<std::string> Other;  // options for the command itself, in order
};

inline std::optional<double> ParseNumber(const std::string& text) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

// "WxH" within the screen bounds.
inline bool ParseSize(const std::string& text, int32_t& width, int32_t& height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return false;
    const auto w = ql::TryStrToInt(ql::FromUtf8(text.substr(0, x)));
    const auto h = ql::TryStrToInt(ql::FromUtf8(text.substr(x + 1)));
    if (!w || !h || *w < kMinScreenSide || *h < kMinScreenSide || *w > kMaxScreenSide ||
        *h > kMaxScreenSide)
        return false;
    width = *w;
    height = *h;
    return true;
}

// "X,Y" or "X,Y,down".
inline bool ParseMouse(const std::string& text, TShowAtOptions& options) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        fields.push_back(text.substr(start, comma - start));
    fields.push_back(text.substr(start));
    if (fields.size() < 2 || fields.size() > 3) return false;
    if (fields.size() == 3 && fields[2] != "down") return false;
    const auto x = ParseNumber(fields[0]), y = ParseNumber(fields[1]);
    if (!x || !y) return false;
    options.Mouse = TPointF{float(*x), float(*y)};
    options.MouseDown = fields.size() == 3;
    return true;
}

// `withValue`: the command's own options that take a value. Returns an error
// text, empty when the arguments are fine.
inline std::string ParseShowAt(const std::vector<std::string>& args,
                               const std::vector<std::string>& withValue, TShowAtOptions& options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--time") {
            const auto t = hasValue ? ParseNumber(args[i + 1]) : std::nullopt;
            if (!t) return "--time wants a number of milliseconds";
            options.Time = *t;
            options.HasTime = true;
            ++i;
        } else if (a == "--size") {
            if (!hasValue || !ParseSize(args[i + 1], options.Width, options.Height))
                return "--size wants WxH, each 16 to 8192";
            ++i;
        } else if (a == "--seed") {
            const auto seed = hasValue ? ParseNumber(args[i + 1]) : std::nullopt;
            if (!seed || *seed < 0 || *seed > 4294967295.0 || *seed != std::floor(*seed))
                return "--seed needs a number from 0 to 4294967295";
            options.Seed = uint32_t(*seed);
            ++i;
        } else if (a == "--cover") {
            options.Cover = true;
        } else if (a == "--mouse") {
            if (!hasValue || !ParseMouse(args[i + 1], options))
                return "--mouse wants X,Y or X,Y,down in screen pixels";
            ++i;
        } else if (std::find(withValue.begin(), withValue.end(), a) != withValue.end()) {
            if (!hasValue) return a + " wants a value";
            options.Other.push_back(a);
            options.Other.push_back(args[++i]);
        } else if (!a.empty() && a[0] == '-' && a.size() > 1) {
            return "unexpected argument '" + a + "'";
        } else if (options.Show.empty()) {
            options.Show = a;
        } else {
            return "unexpected argument '" + a + "'";
        }
    }
    if (options.Show.empty()) return "needs SHOW (try --help)";
    if (!options.HasTime) return "needs --time T (try --help)";
    return {};
}

// A show opened, its producer set up for the screen and the one or two
// slides visible at the time built and set to it.
class TShowAt {
public:
    // Prints why not and returns false.
    bool Open(const TShowAtOptions& options, const std::string& command) {
        if (options.Seed) SetFixedRandomSeed(*options.Seed);
        TShowOpenResult opened = OpenShow(ql::FromUtf8(options.Show));
        if (!opened.Locator) {
            Fail(command + ": " + options.Show + ": " + ql::ToUtf8(opened.Error));
            return false;
        }
        m_locator = std::move(opened.Locator);
        try {
            m_producer =
                std::make_unique<TSlideProducer>(ShowSource(*m_locator), m_locator->Accessor());
            m_producer->Setup(options.Width, options.Height, options.Cover ? ffCover : ffFitInside);
            m_timing = ql::MakeRef<TTiming>();
            m_timing->SetShowTime(options.Time);
            m_producer->SetCurrentTiming(m_timing);
            const TVisibleSlides visible = m_producer->VisibleSlides(options.Time);
            for (int64_t k = visible.First; k <= visible.Last; ++k) {
                ql::TRef<TDrawContainer> container = m_producer->MakeContainer(k);
                container->SetTime(options.Time);
                m_containers.push_back(container);
            }
            if (options.Mouse && !m_containers.empty())
                if (TOrbSlide* slide = m_containers.back()->Slide()) {
                    const TPointF at = *options.Mouse;
                    if (options.MouseDown)
                        slide->MouseEvent(smPress, kMouseLeftButton, kMouseLeftButton, at.x, at.y,
                                          true);
                    else
                        slide->MouseEvent(smMove, kMouseNoButton, kMouseNoButton, at.x, at.y, true);
                }
        } catch (const ql::Exception& e) {
            Fail(command + ": " + options.Show + ": " + e.Message());
            return false;
        } catch (const std::exception& e) {
            Fail(command + ": " + options.Show + ": " + e.what());
            return false;
        }
        return true;
    }

    // In drawing order: the outgoing slide first.
    const std::vector<ql::TRef<TDrawContainer>>& Containers() const { return m_containers; }
    TSlideProducer& Producer() const { return *m_producer; }
    TFileAccessor& Accessor() const { return m_locator->Accessor(); }
    // Frees the slides (before the drawer that holds their textures goes).
    void ReleaseSlides() { m_containers.clear(); }

private:
    std::unique_ptr<TOrbShowLocator> m_locator;
    std::unique_ptr<TSlideProducer> m_producer;
    ql::TRef<TTiming> m_timing;
    std::vector<ql::TRef<TDrawContainer>> m_containers;
};

}  // namespace orb::tool
