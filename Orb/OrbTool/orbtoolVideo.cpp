// orbtool video: what the player's video source makes of a clip, and single
// frames of it as the player would draw them, with what each request cost.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Video/qlWinVideoSource.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

const char kVideoHelp[] =
    "usage: orbtool video FILE [--threads N]\n"
    "       orbtool video FILE (--frame N | --time MS [--loop]) [-o OUT.png]\n"
    "       orbtool video FILE --frames N,N,... [--trace]\n"
    "  FILE may be SHOW:NAME for an entry of a show's package.\n"
    "  Prints, tab-separated: width, height, rate as num/den, frame count, length\n"
    "  in ms, codec, container kind (0 to 7), display-aspect code (0 square, 1 4:3,\n"
    "  2 16:9) and interlacing (0 progressive, 1 top field first, 2 bottom first).\n"
    "  --frame/--time print the frame asked and the frame delivered, and -o writes\n"
    "  that frame as PNG. --frames prints one line per request: asked, delivered,\n"
    "  and with --trace the frames decoded and whether it seeked (0 or 1).\n"
    "  A clip that cannot be played exits 1 with its failure code (1 a stream that\n"
    "  cannot be decoded, 2 no video stream).\n";

int Fail(const std::string& message) {
    return tool::Fail("orbtool video: " + message);
}

// The stream of FILE: the file when one has that name, else SHOW:NAME.
int OpenVideoStream(const std::string& file, TOrbUnpack& unpack,
                    std::unique_ptr<ql::TStream>& stream, std::u16string& name) {
    name = ql::FromUtf8(file);
    if (ql::TFileAPI::FileExists(name)) {
        stream = std::make_unique<ql::TFileStream>(name, ql::TFileAccess::Read, ql::kShareRead,
                                                   ql::TFileDisposition::OpenExisting);
        return 0;
    }
    const size_t colon = file.find(':');
    if (colon == std::string::npos) return Fail("file not found: " + file);
    if (unpack.Open(ResolvePackageFile(ql::FromUtf8(file.substr(0, colon)))) != TUnpackResult::Ok)
        return Fail(ql::ToUtf8(unpack.LastError()));
    name = ql::FromUtf8(file.substr(colon + 1));
    stream = unpack.OpenEntry(name);
    return stream ? 0 : Fail("entry not found: " + file.substr(colon + 1));
}

bool ParseFrameList(const std::string& text, std::vector<int64_t>& frames) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const auto n = ql::TryStrToInt64(ql::FromUtf8(text.substr(start, comma - start)));
        if (!n || *n < 0) return false;
        frames.push_back(*n);
        start = comma + 1;
    }
    return !frames.empty();
}

// false when no bitmap of that size can be made
bool SaveFramePng(const std::vector<uint8_t>& pixels, int32_t width, int32_t height,
                  const std::string& outName) {
    std::unique_ptr<ql::TBitmap> bitmap = ql::CreateBitmap(width, height, ql::PfARGB32());
    if (!bitmap) return false;
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(bitmap->Row(y), pixels.data() + size_t(y) * size_t(width) * 4,
                    size_t(width) * 4);
    ql::SavePng(*bitmap, ql::FromUtf8(outName));
    return true;
}

}  // namespace

int RunVideo(const std::vector<std::string>& args) {
    std::string file, outName;
    int64_t frame = -1;
    double timeMs = -1;
    bool loop = false, trace = false;
    int32_t threads = 2;
    std::vector<int64_t> frames;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kVideoHelp, stdout);
            return 0;
        }
        const bool takesValue = arg == "--frame" || arg == "--time" || arg == "--frames" ||
                                arg == "--threads" || arg == "-o";
        if (takesValue && i + 1 >= args.size()) return Fail(arg + " needs a value");
        if (arg == "--frame") {
            const auto n = ql::TryStrToInt64(ql::FromUtf8(args[++i]));
            if (!n || *n < 0) return Fail("bad frame " + args[i]);
            frame = *n;
        } else if (arg == "--time") {
            if (!tool::ParseMs(args[++i], timeMs)) return Fail("bad time " + args[i]);
        } else if (arg == "--frames") {
            if (!ParseFrameList(args[++i], frames)) return Fail("bad frame list " + args[i]);
        } else if (arg == "--threads") {
            const auto n = ql::TryStrToInt(ql::FromUtf8(args[++i]));
            if (!n || *n < 1 || *n > 8) return Fail("bad thread count " + args[i]);
            threads = *n;
        } else if (arg == "-o") {
            outName = args[++i];
        } else if (arg == "--loop") {
            loop = true;
        } else if (arg == "--trace") {
            trace = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option " + arg);
        } else if (file.empty()) {
            file = arg;
        } else {
            return Fail("more than one FILE");
        }
    }
    if (file.empty()) {
        std::fputs(kVideoHelp, stderr);
        return tool::kExitError;
    }
    if (frame >= 0 && timeMs >= 0) return Fail("--frame and --time exclude each other");
    if (!outName.empty() && frame < 0 && timeMs < 0) return Fail("-o needs --frame or --time");
    try {
        TOrbUnpack unpack;
        std::unique_ptr<ql::TStream> stream;
        std::u16string name;
        if (int rc = OpenVideoStream(file, unpack, stream, name)) return rc;
        ql::TWinVideoSource source;
        ql::TDecoderLimits limits;
        limits.Threads = threads;
        const ql::TVideoFailure failure = source.Open(stream.get(), false, name, limits);
        if (failure != ql::TVideoFailure::None) {
            std::fprintf(stderr, "orbtool video: %s cannot be played (failure code %d)\n",
                         file.c_str(), int(failure));
            return 1;
        }
        if (frames.empty() && frame < 0 && timeMs < 0) {
            const ql::TMediaFile& info = source.Info();
            std::printf("%d\t%d\t%d/%d\t%lld\t%lld\t%s\t%d\t%d\t%d\n", source.Width(),
                        source.Height(), source.RateNum(), source.RateDen(),
                        static_cast<long long>(source.FrameCount()),
                        static_cast<long long>(std::llround(source.LengthMs())), source.CodecName(),
                        int(source.Container()), info.AspectCode, info.Interlacing);
        }
        if (timeMs >= 0)
            frame = ql::FrameForTime(timeMs, source.FrameRate(), source.FrameCount(), loop);
        if (frame >= 0) {
            std::vector<uint8_t> pixels;
            if (!source.GetRGBFrame(frame, pixels))
                return Fail("frame " + std::to_string(frame) + " cannot be decoded");
            std::printf("%lld\t%lld\n", static_cast<long long>(frame),
                        static_cast<long long>(source.HeldFrame()));
            if (!outName.empty() && !SaveFramePng(pixels, source.Width(), source.Height(), outName))
                return Fail("no bitmap for the frame");
        }
        ql::TYuvImage image;
        for (const int64_t asked : frames) {
            const ql::TFrameStats before = source.Stats();
            const bool ok = source.GetFrame(asked, image);
            const ql::TFrameStats& after = source.Stats();
            const long long delivered = ok ? static_cast<long long>(source.HeldFrame()) : -1;
            if (trace)
                std::printf("%lld\t%lld\t%lld\t%d\n", static_cast<long long>(asked), delivered,
                            static_cast<long long>(after.Decoded - before.Decoded),
                            after.Seeks != before.Seeks ? 1 : 0);
            else
                std::printf("%lld\t%lld\n", static_cast<long long>(asked), delivered);
        }
    } catch (const ql::Exception& e) {
        return Fail(e.Message());
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return std::fflush(stdout) == 0 ? 0 : Fail("write error");
}

}  // namespace orb
