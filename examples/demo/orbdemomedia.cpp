// orbdemomedia OUT_FOLDER [NAME...]: writes the media of the demo show (or
// only the named ones) into a folder: landscape photographs as JPEG, a logo
// as PNG with transparency, a spinner as animated GIF, a looping melody as
// WAV and a button theme (its pictures as PNG and its description). The output depends on nothing
// but this program, so every build makes the same files.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "QlLib/Graphics/qlGifWriter.h"
#include "QlLib/Graphics/qlJpegWriter.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"
#include "examples/demo/DemoArtwork.h"
#include "examples/demo/DemoClip.h"
#include "examples/demo/DemoLandscape.h"
#include "examples/demo/DemoMelody.h"
#include "examples/demo/DemoNavBar.h"

namespace orb::demo {

namespace {

constexpr int32_t kJpegQuality = 85;
constexpr int32_t kSpinnerFrames = 12;
constexpr int32_t kSpinnerDelayMs = 80;

// Sizes run from 800 x 600 to 4000 x 3000, so that the player has to pick a
// level of detail for the large ones; one is upright and one square.
std::vector<TLandscapeSpec> Landscapes() {
    const TRgb blueTop{38, 92, 170}, paleHorizon{196, 218, 235}, noon{255, 250, 225};
    std::vector<TLandscapeSpec> all;
    auto add = [&](TLandscapeSpec spec) { all.push_back(spec); };
    add({"alpine-lake.jpg",
         4000,
         3000,
         11,
         blueTop,
         paleHorizon,
         noon,
         0.72f,
         0.18f,
         0.035f,
         0.45f,
         false,
         0.42f,
         4,
         {120, 140, 170},
         {40, 80, 45},
         0.72f,
         {30, 70, 90},
         14});
    add({"sunset-bay.jpg",
         3200,
         1800,
         12,
         {60, 40, 110},
         {250, 150, 80},
         {255, 210, 120},
         0.5f,
         0.4f,
         0.05f,
         0.35f,
         false,
         0.52f,
         2,
         {120, 70, 90},
         {50, 30, 45},
         0.62f,
         {80, 40, 60},
         0});
    add({"green-hills.jpg",
         2400,
         1600,
         13,
         {70, 130, 210},
         {210, 230, 240},
         noon,
         0.25f,
         0.15f,
         0.03f,
         0.55f,
         false,
         0.45f,
         4,
         {140, 170, 150},
         {70, 130, 50},
         1.0f,
         {},
         0});
    add({"misty-morning.jpg",
         1600,
         1200,
         14,
         {170, 180, 195},
         {230, 228, 220},
         {255, 245, 215},
         0.3f,
         0.35f,
         0.04f,
         0.15f,
         false,
         0.48f,
         5,
         {200, 205, 210},
         {80, 100, 85},
         0.8f,
         {150, 160, 165},
         6});
    add({"evening-ridge.jpg",
         2048,
         1536,
         15,
         {40, 60, 120},
         {240, 170, 120},
         {255, 190, 110},
         0.8f,
         0.45f,
         0.04f,
         0.3f,
         false,
         0.5f,
         3,
         {110, 80, 110},
         {35, 30, 45},
         1.0f,
         {},
         9});
    add({"tall-pines.jpg",
         1200,
         1800,
         16,
         {60, 110, 190},
         {200, 220, 235},
         noon,
         0.6f,
         0.12f,
         0.04f,
         0.4f,
         false,
         0.4f,
         3,
         {130, 150, 170},
         {30, 70, 40},
         0.82f,
         {30, 60, 70},
         10});
    add({"square-pond.jpg",
         1500,
         1500,
         17,
         {80, 140, 210},
         {215, 232, 240},
         noon,
         0.35f,
         0.2f,
         0.035f,
         0.5f,
         false,
         0.45f,
         3,
         {130, 160, 150},
         {60, 110, 55},
         0.7f,
         {40, 90, 80},
         5});
    add({"desert-dunes.jpg",
         1920,
         1080,
         18,
         {70, 130, 200},
         {235, 220, 190},
         noon,
         0.85f,
         0.15f,
         0.03f,
         0.05f,
         false,
         0.55f,
         4,
         {220, 180, 130},
         {200, 140, 80},
         1.0f,
         {},
         0});
    add({"night-lake.jpg",
         1280,
         960,
         19,
         {5, 8, 25},
         {30, 40, 80},
         {235, 235, 215},
         0.3f,
         0.2f,
         0.03f,
         0.1f,
         true,
         0.52f,
         2,
         {30, 35, 60},
         {10, 12, 20},
         0.7f,
         {10, 15, 35},
         8});
    add({"valley-noon.jpg",
         1024,
         768,
         20,
         {60, 120, 200},
         {205, 225, 240},
         noon,
         0.5f,
         0.08f,
         0.035f,
         0.6f,
         false,
         0.4f,
         4,
         {140, 160, 180},
         {80, 120, 50},
         1.0f,
         {},
         0});
    add({"small-lake.jpg",
         800,
         600,
         21,
         {90, 140, 200},
         {220, 230, 240},
         noon,
         0.2f,
         0.25f,
         0.04f,
         0.3f,
         false,
         0.5f,
         2,
         {120, 150, 140},
         {50, 90, 50},
         0.68f,
         {40, 80, 90},
         4});
    add({"panorama.jpg",
         3600,
         1200,
         22,
         {50, 100, 180},
         {220, 200, 185},
         {255, 230, 180},
         0.62f,
         0.4f,
         0.04f,
         0.35f,
         false,
         0.5f,
         5,
         {150, 140, 170},
         {50, 70, 50},
         0.78f,
         {50, 60, 90},
         0});
    return all;
}

void WriteFile(const std::u16string& folder, const std::string& name,
               const std::vector<uint8_t>& bytes) {
    ql::TFileStream out(folder + u"/" + ql::FromUtf8(name), ql::TFileAccess::Write, 0,
                        ql::TFileDisposition::CreateAlways);
    out.WriteBuffer(bytes.data(), bytes.size());
    std::printf("%s\t%zu\n", name.c_str(), bytes.size());
}

// Writes the named media, or all of them when names is empty; 1 when a name
// is unknown or a file cannot be written.
int Run(const std::u16string& folder, const std::vector<std::string>& names) {
    using TMaker = std::function<std::vector<uint8_t>()>;
    std::vector<std::pair<std::string, TMaker>> media;
    for (const TLandscapeSpec& spec : Landscapes())
        media.emplace_back(spec.Name,
                           [spec] { return ql::EncodeJpeg(*PaintLandscape(spec), kJpegQuality); });
    media.emplace_back("logo.png", [] { return ql::EncodePng(*PaintLogo(512)); });
    media.emplace_back("spinner.gif", [] {
        std::vector<std::unique_ptr<ql::TBitmap>> frames;
        std::vector<ql::TGifWriteFrame> gifFrames;
        for (int32_t i = 0; i < kSpinnerFrames; ++i) {
            frames.push_back(PaintSpinnerFrame(200, i, kSpinnerFrames));
            gifFrames.push_back({frames.back().get(), kSpinnerDelayMs});
        }
        return ql::EncodeGif(gifFrames);
    });
    media.emplace_back("melody.wav", [] { return MakeMelodyWav(); });
    media.emplace_back("pad.wav", [] { return MakePadWav(); });
    media.emplace_back("clip.mp4", [folder] { return MakeDemoClip(folder); });
    // The button theme: its pictures and its description, packed into the
    // show's button folder.
    for (int32_t state = 0; state < 3; ++state)
        media.emplace_back(kPillPictures[state],
                           [state] { return ql::EncodePng(*PaintPillState(state)); });
    media.emplace_back("pill-btn.ini", [] {
        const std::string text = PillThemeDescription();
        return std::vector<uint8_t>(text.begin(), text.end());
    });

    // The navigation bars: the button bar and the media-player style one.
    auto text = [](const std::string& t) { return std::vector<uint8_t>(t.begin(), t.end()); };
    media.emplace_back("nav-bar.ini", [text] { return text(NavBarDescription()); });
    media.emplace_back("nav-strip.png", [] { return ql::EncodePng(*PaintNavStrip()); });
    media.emplace_back("nav-discs.png", [] { return ql::EncodePng(*PaintNavDiscs()); });
    media.emplace_back("nav-icons.png", [] { return ql::EncodePng(*PaintNavIcons()); });
    media.emplace_back("nav-play.png", [] { return ql::EncodePng(*PaintNavIcons(true)); });
    media.emplace_back("video-bar.ini", [text] { return text(VideoBarDescription()); });
    media.emplace_back("video-back.png", [] { return ql::EncodePng(*PaintVideoBack()); });
    media.emplace_back("video-line.png", [] { return ql::EncodePng(*PaintVideoLine()); });
    media.emplace_back("video-knob.png", [] { return ql::EncodePng(*PaintVideoKnob()); });
    for (int32_t state = 0; state < 3; ++state)
        media.emplace_back(kVideoSheets[state],
                           [state] { return ql::EncodePng(*PaintVideoSheet(state)); });

    for (const std::string& name : names) {
        if (std::none_of(media.begin(), media.end(),
                         [&](const auto& m) { return m.first == name; })) {
            std::fprintf(stderr, "orbdemomedia: no medium named %s\n", name.c_str());
            return 1;
        }
    }
    if (!ql::TFileAPI::DirectoryExists(folder) && !ql::TFileAPI::CreateDirectory(folder)) {
        std::fprintf(stderr, "orbdemomedia: cannot create %s\n", ql::ToUtf8(folder).c_str());
        return 1;
    }
    for (const auto& [name, make] : media) {
        if (names.empty() || std::find(names.begin(), names.end(), name) != names.end())
            WriteFile(folder, name, make());
    }
    return 0;
}

}  // namespace

}  // namespace orb::demo

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: orbdemomedia OUT_FOLDER [NAME...]\n", stderr);
        return 2;
    }
    try {
        return orb::demo::Run(ql::FromUtf8(argv[1]),
                              std::vector<std::string>(argv + 2, argv + argc));
    } catch (const ql::Exception& e) {
        std::fprintf(stderr, "orbdemomedia: %s\n", e.Message().c_str());
        return 1;
    }
}
