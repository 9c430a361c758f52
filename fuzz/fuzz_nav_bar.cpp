// A navigation bar definition from the input: the text up to a NUL byte is
// the definition, the bytes after it every picture the definition names.
// Both bar styles read it, lay out at a few widths and heights, draw, and
// take time, volume and mouse events; a malformed definition may only end in
// the bar's own error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/NavPanel/qlNavBar.h"
#include "OrbLib2/NavPanel/qlVideoNavBar.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace {

void Exercise(orb::TCustomNavBar& bar, const ql::TIniFile& definition, orb::TNavPictures& pictures,
              int32_t width, int32_t height, uint8_t seed) {
    double duration = 3.6e6 * (seed % 3) - 1;
    bool playing = seed & 1;
    orb::TCustomNavBar::THooks hooks;
    hooks.IsPlaying = [&] { return playing; };
    hooks.Duration = [&] { return duration; };
    hooks.ButtonPressed = [&](int32_t index) {
        if (index == -1) playing = !playing;
    };
    bar.SetHooks(hooks);
    try {
        bar.Load(definition, u"f/", pictures);
    } catch (const orb::ENavBarError&) {
        return;
    }
    std::vector<int32_t> chosen;
    for (size_t k = 0; k < bar.KnownButtons().size(); ++k) chosen.push_back(int32_t(k));
    bar.SetChosenButtons(chosen);
    bar.SetWidth(width);
    if (height > 0) bar.FitToHeight(height);
    bar.Layout();
    bar.Reset();
    bar.SetVolume(seed / 255.0);
    for (double t : {-1.0, 0.0, 1234.5, 1e12, 3.6e6}) bar.SetTime(t);
    const int32_t w = bar.Width(), h = bar.Height();
    const int32_t xs[] = {-5, 0, w / 5, w / 3, w / 2, w - 30, w - 5, w + 3};
    for (int32_t x : xs) {
        bar.Mouse(orb::TNavMouseKind::Move, x, h / 2, false);
        bar.Mouse(orb::TNavMouseKind::Press, x, h / 2, true);
        bar.Mouse(orb::TNavMouseKind::Move, x + 7, h / 2, true);
        bar.Mouse(orb::TNavMouseKind::Release, x + 7, h / 2, true);
    }
    if (const ql::TBitmap* picture = bar.Picture())
        if (picture->Width() != bar.Width() || picture->Height() < 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ql::SetImagePixelLimit(int64_t(1) << 20);
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t nul = std::min(input.find('\0'), input.size());
    const std::string text = input.substr(0, nul);
    const std::string pictureBytes = nul < input.size() ? input.substr(nul + 1) : std::string();

    ql::TIniFile definition;
    try {
        ql::TStringStream stream(text);
        definition.LoadFromStream(stream);
    } catch (const ql::Exception&) {
        return 0;  // not text: the panel never sees a bar
    }
    orb::TNavPictures pictures([&](const std::u16string&) -> std::unique_ptr<ql::TStream> {
        if (pictureBytes.empty()) return nullptr;
        return std::make_unique<ql::TStringStream>(pictureBytes);
    });
    const uint8_t seed = size > 0 ? data[size - 1] : 0;
    for (auto [width, height] : {std::pair{640, 0}, std::pair{90, 7}, std::pair{4000, 300}}) {
        orb::TNavBar buttons;
        buttons.SetHue(seed);
        Exercise(buttons, definition, pictures, width, height, seed);
        orb::TVideoNavBar video;
        Exercise(video, definition, pictures, width, height, seed);
    }
    return 0;
}
