// orbtool button: make one face of a button theme with the button producer
// and write it as PNG.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/ButtonGenerator2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "QlLib/Graphics/qlImageLoader.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

using tool::Fail;

const char kButtonHelp[] =
    "usage: orbtool button THEME --width W [--state normal|hover|click] [--hsl H,S,L] -o OUT.png\n"
    "Makes one button face of width W from a button theme with the button\n"
    "producer and writes it as PNG. THEME is a folder holding \"btn.ini\" and its\n"
    "pictures, or SHOW:FOLDER for a folder inside a show's package. H is the hue\n"
    "shift in degrees, S and L the saturation and lightness shifts in percent.\n"
    "Prints WIDTHxHEIGHT, the face's picture name and \"face\" (or the error\n"
    "picture's text instead), tab-separated.\n";

// "FOLDER\FILE" on disk: the theme's backslashes are the package's separators.
std::u16string DiskName(const std::u16string& name) {
    std::u16string path = name;
    for (char16_t& c : path)
        if (c == u'\\') c = u'/';
    return path;
}

bool ParseHsl(const std::string& text, int32_t values[3]) {
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        const size_t comma = text.find(',', start);
        if ((k < 2) == (comma == std::string::npos)) return false;
        const auto v = ql::TryStrToInt(ql::FromUtf8(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (!v || *v < -100000 || *v > 100000) return false;
        values[k] = *v;
        start = comma + 1;
    }
    return true;
}

int Button(const std::vector<std::string>& args) {
    std::string theme, outName;
    int32_t width = 0, state = bsNormal, hsl[3] = {0, 0, 0};
    bool haveWidth = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            std::fputs(kButtonHelp, stdout);
            return 0;
        } else if (a == "--width" && hasValue) {
            const auto w = ql::TryStrToInt(ql::FromUtf8(args[++i]));
            if (!w || *w < 1 || *w > kMaxButtonFaceWidth)
                return Fail("orbtool button: --width wants 1 to 16384");
            width = *w;
            haveWidth = true;
        } else if (a == "--state" && hasValue) {
            const std::string& s = args[++i];
            if (s == "normal")
                state = bsNormal;
            else if (s == "hover")
                state = bsHover;
            else if (s == "click")
                state = bsClick;
            else
                return Fail("orbtool button: --state wants normal, hover or click");
        } else if (a == "--hsl" && hasValue) {
            if (!ParseHsl(args[++i], hsl)) return Fail("orbtool button: --hsl wants H,S,L");
        } else if (a == "-o" && hasValue) {
            outName = args[++i];
        } else if (theme.empty() && !a.empty() && a[0] != '-') {
            theme = a;
        } else {
            return Fail("orbtool button: bad usage (try orbtool button --help)");
        }
    }
    if (theme.empty() || !haveWidth || outName.empty())
        return Fail("orbtool button: bad usage (try orbtool button --help)");

    TButtonThemeFiles files;
    std::u16string folder = ql::FromUtf8(theme);
    std::unique_ptr<TOrbShowLocator> show;
    const size_t colon = theme.find(':');
    if (!ql::TFileAPI::DirectoryExists(folder) && colon != std::string::npos && colon > 0) {
        // SHOW:FOLDER reads the theme from the show's package.
        TShowOpenResult opened = OpenShow(ql::FromUtf8(theme.substr(0, colon)));
        if (!opened.Locator) return Fail(opened.Error);
        show = std::move(opened.Locator);
        folder = ql::FromUtf8(theme.substr(colon + 1));
        TOrbShowLocator* locator = show.get();
        files.OpenFile = [locator](const std::u16string& name) {
            return locator->Accessor().OpenStream(name);
        };
        files.OpenPicture = [locator](const std::u16string& name) -> ql::TRef<ql::TBitmapStore> {
            std::unique_ptr<ql::TStream> stream = locator->Accessor().OpenStream(name);
            if (!stream) return nullptr;
            return ql::LoadImageFromStream(std::move(stream), name).Image.Store();
        };
    } else {
        if (!ql::TFileAPI::DirectoryExists(folder))
            return Fail("orbtool button: no theme folder " + theme);
        files.OpenFile = [](const std::u16string& name) -> std::unique_ptr<ql::TStream> {
            const std::u16string path = DiskName(name);
            if (!ql::TFileAPI::FileExists(path)) return nullptr;
            return std::make_unique<ql::TFileStream>(path, ql::TFileAccess::Read, ql::kShareRead,
                                                     ql::TFileDisposition::OpenExisting);
        };
        files.OpenPicture = [](const std::u16string& name) -> ql::TRef<ql::TBitmapStore> {
            return ql::LoadImageFromFile(DiskName(name)).Image.Store();
        };
    }

    TButtonProducerHost host(files);
    TButtonProducer& producer = host.ProducerFor(folder);
    const TButtonFace face = producer.MakeFace(state, width, hsl[2], hsl[1], hsl[0]);
    const ql::TBitmap* bitmap = face.Picture->GetBitmap(0);
    if (!bitmap) return Fail("orbtool button: the face was not made");
    ql::SavePng(*bitmap, ql::FromUtf8(outName));
    std::printf("%dx%d\t%s\t%s\n", bitmap->Width(), bitmap->Height(),
                ql::ToUtf8(face.Picture->Params().Name).c_str(),
                face.ErrorText.empty() ? "face" : ql::ToUtf8(face.ErrorText).c_str());
    return 0;
}

}  // namespace

int RunButton(const std::vector<std::string>& args) {
    return tool::Guarded(Button, args);
}

}  // namespace orb
