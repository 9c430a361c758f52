// orbtool decode: read a picture with the player's own decoders.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "QlLib/Graphics/qlGifDecoder.h"
#include "QlLib/Graphics/qlImageLoader.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {
using tool::Fail;
using tool::kExitError;

const char kDecodeHelp[] =
    "usage: orbtool decode IMAGE [--level N] [--orientation 1|3|6|8] [-o OUT.png]\n"
    "Decodes IMAGE (a file, or SHOW:NAME for an entry of a show's package) with the\n"
    "player's decoders and prints, tab-separated: WIDTHxHEIGHT of the decoded level,\n"
    "the number of levels, the number of animation frames and the decoder's name.\n"
    "-o writes the level as PNG (an animated GIF as its strip of frames).\n";

ql::TImageOrientation TurnByCode(void* code, ql::TImageParams& params) {
    const ql::TImageOrientation o = ql::OrientationOfCode(*static_cast<int32_t*>(code));
    if (o == ql::TImageOrientation::RotateClockwise ||
        o == ql::TImageOrientation::RotateCounterClockwise)
        std::swap(params.Width, params.Height);
    return o;
}

// The stream of IMAGE: the file when one has that name, else SHOW:NAME.
int OpenImageStream(const std::string& image, TOrbUnpack& unpack,
                    std::unique_ptr<ql::TStream>& stream, std::u16string& name) {
    name = ql::FromUtf8(image);
    if (ql::TFileAPI::FileExists(name)) {
        stream = std::make_unique<ql::TFileStream>(name, ql::TFileAccess::Read, ql::kShareRead,
                                                   ql::TFileDisposition::OpenExisting);
        return 0;
    }
    const size_t colon = image.find(':');
    if (colon == std::string::npos) return Fail("file not found: " + image);
    if (unpack.Open(ResolvePackageFile(ql::FromUtf8(image.substr(0, colon)))) != TUnpackResult::Ok)
        return Fail(ql::ToUtf8(unpack.LastError()));
    name = ql::FromUtf8(image.substr(colon + 1));
    stream = unpack.OpenEntry(name);
    return stream ? 0 : Fail("entry not found: " + image.substr(colon + 1));
}
}  // namespace

int RunDecode(const std::vector<std::string>& args) {
    std::string image, outName;
    int32_t level = 0, orientation = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kDecodeHelp, stdout);
            return 0;
        }
        const bool takesValue = arg == "--level" || arg == "--orientation" || arg == "-o";
        if (takesValue && i + 1 >= args.size())
            return Fail("orbtool decode: " + arg + " needs a value");
        if (arg == "--level") {
            const auto n = ql::TryStrToInt(ql::FromUtf8(args[++i]));
            if (!n || *n < 0 || *n > 31) return Fail("orbtool decode: bad level " + args[i]);
            level = *n;
        } else if (arg == "--orientation") {
            const auto n = ql::TryStrToInt(ql::FromUtf8(args[++i]));
            if (!n || (*n != 1 && *n != 3 && *n != 6 && *n != 8))
                return Fail("orbtool decode: bad orientation " + args[i]);
            orientation = *n;
        } else if (arg == "-o") {
            outName = args[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("orbtool decode: unknown option " + arg);
        } else if (image.empty()) {
            image = arg;
        } else {
            return Fail("orbtool decode: more than one IMAGE");
        }
    }
    if (image.empty()) {
        std::fputs(kDecodeHelp, stderr);
        return kExitError;
    }
    try {
        TOrbUnpack unpack;
        std::unique_ptr<ql::TStream> stream;
        std::u16string name;
        if (int rc = OpenImageStream(image, unpack, stream, name)) return rc;
        const ql::TLoadResult loaded =
            ql::LoadImageFromStream(*stream, name, &TurnByCode, &orientation);
        if (!loaded.Image) return Fail("not a picture the decoders read: " + image);
        const ql::TRef<ql::TBitmapStore>& store = loaded.Image.Store();
        ql::TBitmap* bitmap = store->GetBitmap(level);
        if (!bitmap) return Fail("orbtool decode: decoding stopped");
        const ql::TTilesTag* tiles = store->TilesTag();
        std::printf("%dx%d\t%d\t%d\t%s\n", bitmap->Width(), bitmap->Height(), store->LevelCount(),
                    tiles ? tiles->Frames : 1, loaded.DecoderName);
        if (!outName.empty()) {
            ql::SavePng(*bitmap, ql::FromUtf8(outName));
        }
    } catch (const ql::Exception& e) {
        return Fail(e.Message());
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return std::fflush(stdout) == 0 ? 0 : Fail("orbtool decode: write error");
}

}  // namespace orb
