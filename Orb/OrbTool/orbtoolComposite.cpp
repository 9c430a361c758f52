// orbtool composite: mixes a composite description (the text that stands in
// place of a file name) through the composite mixer and writes it as WAV, or
// prints the description the music options reader compiles for a show.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbMusicSource2.h"
#include "QlLib/Music/CompositeConverter.h"
#include "QlLib/Music/MusicTypes.h"
#include "QlLib/Music/SoundOutput.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

const char kCompositeHelp[] =
    "usage: orbtool composite FILE [--show SHOW] [--from MS] [--to MS] -o OUT.wav\n"
    "       orbtool composite --compile SHOW [--slide N] [--seed N]\n"
    "  The first form mixes the composite text in FILE (marker included; several\n"
    "  in a row play one after another) through the composite mixer, from --from\n"
    "  (default 0) to --to (default its end), writes 16-bit stereo 44100 Hz WAV and\n"
    "  prints the duration (ms) and the item count, tab-separated. Item names are\n"
    "  entries of SHOW's package when --show is given, else files beside FILE.\n"
    "  The second prints the text the music options reader compiles for the show's\n"
    "  music, or for the sound comment of slide N (0-based, as timeline counts).\n";

int Fail(const std::string& message) {
    return tool::Fail("orbtool composite: " + message);
}

int Usage() {
    std::fputs(kCompositeHelp, stderr);
    return tool::kExitError;
}

template <typename T>
std::optional<T> ParseNumber(const std::string& text) {
    T value{};
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

std::u16string Folder(const std::u16string& file) {
    const size_t slash = file.find_last_of(u'/');
    return slash == std::u16string::npos ? u"." : file.substr(0, slash);
}

int Compile(const std::string& show, std::optional<int64_t> slide, std::optional<uint32_t> seed) {
    if (seed) SetFixedRandomSeed(*seed);
    TShowOpenResult opened = OpenShow(ql::FromUtf8(show));
    if (!opened.Locator) return Fail(show + ": " + ql::ToUtf8(opened.Error));
    try {
        TOrbMusicSource music(ShowSource(*opened.Locator));
        std::u16string text;
        if (slide) {
            if (*slide < 0 || *slide >= int64_t(music.Slides().size()))
                return Fail("no slide " + std::to_string(*slide));
            text = music.Slides()[size_t(*slide)].Comment;
        } else if (music.ShowPlayList().Count() > 0) {
            text = music.ShowPlayList()[0].Name;
        }
        if (!ql::IsCompositeName(text)) {
            std::fprintf(stderr, "orbtool composite: %s\n",
                         slide ? "the slide has no compiled sound comment"
                               : "the show has no compiled music");
            return 1;
        }
        std::printf("%s\n", ql::ToUtf8(text).c_str());
    } catch (const ql::Exception& e) {
        return Fail(e.Message());
    }
    return 0;
}

int Mix(const std::string& file, const std::string& show, double from, double to,
        const std::string& out) {
    const std::u16string path = ql::FromUtf8(file);
    if (!ql::platform::IsRegularFile(path)) return Fail("cannot read " + file);
    std::u16string text;
    try {
        ql::TFileStream stream(path, ql::TFileAccess::Read, ql::kShareRead,
                               ql::TFileDisposition::OpenExisting);
        const int64_t size = stream.GetSize();
        if (size > int64_t(ql::kMaxCompositeTextLength) * 4) return Fail("the text is too long");
        std::string bytes(size_t(size), '\0');
        stream.ReadBuffer(bytes.data(), bytes.size());
        text = ql::FromUtf8(bytes);
    } catch (const ql::Exception& e) {
        return Fail(e.Message());
    }
    // A trailing line end is not part of the text.
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();

    std::unique_ptr<TOrbShowLocator> locator;
    ql::TStreamWrapperClass& broker = ql::TStreamWrapperClass::Instance();
    if (!show.empty()) {
        TShowOpenResult opened = OpenShow(ql::FromUtf8(show));
        if (!opened.Locator) return Fail(show + ": " + ql::ToUtf8(opened.Error));
        locator = std::move(opened.Locator);
        TOrbShowLocator* package = locator.get();
        broker.SetCallbacks(
            [package](const std::u16string& name) { return package->Accessor().OpenStream(name); },
            nullptr);
    } else {
        const std::u16string folder = Folder(path);
        broker.SetCallbacks(
            [folder](const std::u16string& name) -> std::unique_ptr<ql::TStream> {
                const std::u16string file =
                    !name.empty() && name[0] == u'/' ? name : folder + u"/" + name;
                if (!ql::platform::IsRegularFile(file)) return nullptr;
                try {
                    return std::make_unique<ql::TFileStream>(file, ql::TFileAccess::Read,
                                                             ql::kShareRead,
                                                             ql::TFileDisposition::OpenExisting);
                } catch (const ql::Exception&) {
                    return nullptr;
                }
            },
            nullptr);
    }
    struct TResetBroker {
        ~TResetBroker() { ql::TStreamWrapperClass::Instance().SetCallbacks(nullptr, nullptr); }
    } resetBroker;

    int rc = 0;
    try {
        auto converter = std::make_unique<ql::TCompositeConverter>(text);
        const std::optional<ql::TMediaInfo> info = ql::CompositeMediaInfo(text);
        if (!info || !converter->Open(*info))
            return Fail("no composite with items and a duration in " + file);
        const size_t items = converter->ItemCount();
        const int32_t duration = converter->DurationMs();
        ql::TConverterSource source(nullptr, *info, std::move(converter), u"composite");
        if (to < 0 || to > duration) to = duration;
        if (to < from) return Fail("--to lies before --from");
        const int64_t frames = std::max<int64_t>(0, std::llround((to - from) * 44.1));
        if (frames > int64_t(UINT32_MAX / 4 - 64)) return Fail("span too long for a WAV file");
        ql::TFileStream wav(ql::FromUtf8(out), ql::TFileAccess::Write, ql::kShareNone,
                            ql::TFileDisposition::CreateAlways);
        std::vector<uint8_t> header = ql::WavHeader(0);
        wav.WriteBuffer(header.data(), header.size());
        source.Seek(from);
        std::vector<int16_t> block(2 * 4410);
        int64_t written = 0;
        while (written < frames) {
            const size_t want = size_t(std::min<int64_t>(4410, frames - written));
            const size_t got = source.Read(block.data(), want);
            if (got == 0) break;
            wav.WriteBuffer(block.data(), got * 4);
            written += int64_t(got);
        }
        wav.SetPosition(0);
        header = ql::WavHeader(uint32_t(written * 4));
        wav.WriteBuffer(header.data(), header.size());
        std::printf("%d\t%zu\n", duration, items);
    } catch (const ql::Exception& e) {
        rc = Fail(e.Message());
    }
    return rc;
}

}  // namespace

int RunComposite(const std::vector<std::string>& args) {
    std::string file, show, out, compile;
    double from = 0, to = -1;
    std::optional<int64_t> slide;
    std::optional<uint32_t> seed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kCompositeHelp, stdout);
            return 0;
        }
        const bool hasValue = i + 1 < args.size();
        if (arg == "--from" && hasValue) {
            if (!tool::ParseMs(args[++i], from)) return Fail("bad --from value");
        } else if (arg == "--to" && hasValue) {
            if (!tool::ParseMs(args[++i], to)) return Fail("bad --to value");
        } else if (arg == "-o" && hasValue) {
            out = args[++i];
        } else if (arg == "--show" && hasValue) {
            show = args[++i];
        } else if (arg == "--compile" && hasValue) {
            compile = args[++i];
        } else if (arg == "--slide" && hasValue) {
            if (!(slide = ParseNumber<int64_t>(args[++i]))) return Fail("bad --slide value");
        } else if (arg == "--seed" && hasValue) {
            if (!(seed = ParseNumber<uint32_t>(args[++i])))
                return Fail("--seed needs a number from 0 to 4294967295");
        } else if (file.empty() && !arg.empty() && arg[0] != '-') {
            file = arg;
        } else {
            return Usage();
        }
    }
    if (!compile.empty()) {
        if (!file.empty() || !out.empty()) return Usage();
        return Compile(compile, slide, seed);
    }
    if (file.empty() || out.empty() || slide || seed) return Usage();
    return Mix(file, show, from, to, out);
}

}  // namespace orb
