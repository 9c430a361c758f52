// orbtool effect: draws frames of a transition effect between two generated
// test slides, so that every effect can be looked at and compared between
// devices.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolDevice.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/OrbClasses/OrbSlideEffect.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Platform/qlGlApi.h"
#include "QlLib/Platform/qlGlContext.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

using tool::Fail;

const char kEffectHelp[] =
    "usage: orbtool effect --class C --type T [--size WxH] [--progress P] [--device soft|gl]\n"
    "                      [--param KEY=VALUE]... [--strip N] -o OUT.png\n"
    "Draws one frame of transition effect class C, type T at progress P (0 to 1,\n"
    "default 0.5) between two generated slides: the old one a dark pattern, the new\n"
    "one a light pattern, both with a grid. --strip N draws N frames at evenly\n"
    "spaced progress (0 to 1) side by side instead. Size 16 to 4096 (default\n"
    "640x360). Parameters are named like the fields of the effect record:\n"
    "Smoothline, BroomOffset, RollDiameter, RollVariants, RollUseBackColor,\n"
    "RollBackColor (R,G,B), Roll3D, RollCurving, FlipCenter, FlipCurving, FlipSmooth,\n"
    "SwapDepth, SwapWidth, SwapMaxAngle, CenterX, CenterY, MosaicDX, MosaicDY,\n"
    "MosaicSC, Seed, CustomText; unset ones take the show-wide defaults.\n";

constexpr int32_t kMinSide = 16, kMaxSide = 4096, kMaxStrip = 64;
constexpr double kDuration = 1000;

// Dark: deep blue diagonal bands; light: pale yellow with a checker. Both
// carry a grid every 40 pixels and a frame, so motion and seams show.
std::unique_ptr<ql::TBitmap> SlidePicture(int32_t w, int32_t h, bool light) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(w, h, ql::PfARGB32());
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
        for (int32_t x = 0; x < w; ++x) {
            const bool grid = x % 40 == 0 || y % 40 == 0 || x == w - 1 || y == h - 1;
            uint32_t r, g, b;
            if (light) {
                const bool check = ((x / 80) + (y / 80)) % 2 == 0;
                r = check ? 250 : 225, g = check ? 235 : 210,
                b = uint32_t(150 + 80 * x / std::max(w - 1, 1));
                if (grid) r = 200, g = 60, b = 40;
            } else {
                const bool band = ((x + y) / 30) % 2 == 0;
                r = uint32_t(20 + 60 * y / std::max(h - 1, 1)), g = band ? 30u : 50u,
                b = band ? 90u : 60u;
                if (grid) r = 90, g = 200, b = 230;
            }
            row[x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    return bitmap;
}

class TPictureSlide : public TDrawScene {
public:
    explicit TPictureSlide(TDrawPicture& picture) : m_picture(picture) {}
    void Draw(TDeviceDrawer& d) override {
        TImageDrawParams params;
        params.filter = TFilter::Point;
        d.DrawImage(m_picture, {0, 0}, params, {1, 0}, {0, 1}, {0, 0});
    }

private:
    TDrawPicture& m_picture;
};

bool ParseBool(const std::string& v) {
    return v == "1" || v == "true" || v == "yes";
}

// False when the key is unknown or the value does not parse.
bool SetParam(TEffectParams& p, const std::string& key, const std::string& value) {
    const std::u16string v = ql::FromUtf8(value);
    auto f = [&](float& field) {
        const auto x = ql::TryStrToFloat(v);
        if (!x || !std::isfinite(*x)) return false;
        field = float(*x);
        return true;
    };
    auto i = [&](int32_t& field) {
        const auto x = ql::TryStrToInt(v);
        if (!x) return false;
        field = int32_t(*x);
        return true;
    };
    if (key == "Smoothline") return f(p.Smoothline);
    if (key == "BroomOffset") return f(p.BroomOffset);
    if (key == "RollDiameter") return f(p.RollDiameter);
    if (key == "RollCurving") return f(p.RollCurving);
    if (key == "FlipCurving") return f(p.FlipCurving);
    if (key == "SwapDepth") return f(p.SwapDepth);
    if (key == "SwapWidth") return f(p.SwapWidth);
    if (key == "SwapMaxAngle") return f(p.SwapMaxAngle);
    if (key == "CenterX") return i(p.CenterX);
    if (key == "CenterY") return i(p.CenterY);
    if (key == "MosaicDX") return i(p.MosaicDX);
    if (key == "MosaicDY") return i(p.MosaicDY);
    if (key == "MosaicSC") return i(p.MosaicSC);
    if (key == "Seed") return i(p.Seed);
    if (key == "RollVariants") return p.RollVariants = ParseBool(value), true;
    if (key == "RollUseBackColor") return p.RollUseBackColor = ParseBool(value), true;
    if (key == "Roll3D") return p.Roll3D = ParseBool(value), true;
    if (key == "FlipCenter") return p.FlipCenter = ParseBool(value), true;
    if (key == "FlipSmooth") return p.FlipSmooth = ParseBool(value), true;
    if (key == "CustomText") return p.CustomText = v, true;
    if (key == "RollBackColor") {
        int32_t c[3];
        if (std::sscanf(value.c_str(), "%d,%d,%d", &c[0], &c[1], &c[2]) != 3) return false;
        for (int32_t& x : c) x = std::clamp(x, 0, 255);
        p.RollBackColor = {uint8_t(c[2]), uint8_t(c[1]), uint8_t(c[0])};
        return true;
    }
    return false;
}

std::optional<int64_t> ToInt(const std::string& s) {
    return ql::TryStrToInt(ql::FromUtf8(s));
}

}  // namespace

int RunEffect(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kEffectHelp, stdout);
        return 0;
    }
    std::string deviceName = "soft", outName;
    int32_t width = 640, height = 360, strip = 0;
    std::optional<int64_t> effectClass, effectType;
    double progress = 0.5;
    TEffectParams params;
    // The show-wide defaults of the effect record.
    params.RollVariants = true;
    params.RollCurving = 0.125f;
    params.FlipCurving = 0.5f;
    params.FlipSmooth = true;
    params.SwapDepth = 4;
    params.SwapWidth = 1;
    params.SwapMaxAngle = 60;
    params.CenterX = params.CenterY = 50;
    params.MosaicDX = params.MosaicDY = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--class" && hasValue) {
            effectClass = ToInt(args[++i]);
            if (!effectClass) return Fail("orbtool effect: --class wants a number");
        } else if (a == "--type" && hasValue) {
            effectType = ToInt(args[++i]);
            if (!effectType) return Fail("orbtool effect: --type wants a number");
        } else if (a == "--device" && hasValue) {
            deviceName = args[++i];
        } else if (a == "--size" && hasValue) {
            const std::string& value = args[++i];
            const size_t x = value.find('x');
            const auto w = ToInt(value.substr(0, x));
            const auto h = x == std::string::npos ? std::nullopt : ToInt(value.substr(x + 1));
            if (!w || !h || *w < kMinSide || *h < kMinSide || *w > kMaxSide || *h > kMaxSide)
                return Fail("orbtool effect: --size wants WxH, each 16 to 4096");
            width = int32_t(*w);
            height = int32_t(*h);
        } else if (a == "--progress" && hasValue) {
            const auto p = ql::TryStrToFloat(ql::FromUtf8(args[++i]));
            if (!p || !(*p >= 0 && *p <= 1)) return Fail("orbtool effect: --progress wants 0 to 1");
            progress = *p;
        } else if (a == "--strip" && hasValue) {
            const auto n = ToInt(args[++i]);
            if (!n || *n < 1 || *n > kMaxStrip)
                return Fail("orbtool effect: --strip wants 1 to 64");
            strip = int32_t(*n);
        } else if (a == "--param" && hasValue) {
            const std::string& kv = args[++i];
            const size_t eq = kv.find('=');
            if (eq == std::string::npos || !SetParam(params, kv.substr(0, eq), kv.substr(eq + 1)))
                return Fail("orbtool effect: bad parameter '" + kv + "'");
        } else if (a == "-o" && hasValue) {
            outName = args[++i];
        } else {
            return Fail("orbtool effect: unexpected argument '" + a + "'");
        }
    }
    if (!effectClass || !effectType || outName.empty())
        return Fail("orbtool effect: needs --class, --type and -o (try --help)");
    if (deviceName != "soft" && deviceName != "gl")
        return Fail("orbtool effect: unknown device '" + deviceName + "'");
    if (int64_t(width) * std::max(strip, 1) > 32768)
        return Fail("orbtool effect: the strip is too wide");

    const int32_t frames = std::max(strip, 1);
    const int32_t gap = strip > 0 ? 4 : 0;
    try {
        std::string error;
        std::unique_ptr<TRenderDevice> owned =
            tool::MakeDevice(deviceName, width, height, 1, error);
        if (!owned) return Fail("orbtool effect: device not available: " + error);
        ql::TDirectBitmap out(frames * width + (frames - 1) * gap, height, ql::PfRGB24());
        for (int32_t y = 0; y < out.Height(); ++y)
            std::memset(out.Row(y), 0, size_t(out.Width()) * 3);
        {
            T3DDrawer drawer(*owned);
            drawer.Init({width, height, false});
            drawer.SetCaptureMode(true);
            drawer.TextureManager().SetUploadPause(std::chrono::milliseconds(0));
            TDrawPicture oldPicture, newPicture;
            oldPicture.store =
                ql::MakeRef<ql::TWrapperBitmapStore>(SlidePicture(width, height, false));
            newPicture.store =
                ql::MakeRef<ql::TWrapperBitmapStore>(SlidePicture(width, height, true));
            TPictureSlide oldSlide(oldPicture), newSlide(newPicture);
            TSlideEffect effect;
            effect.EffectClass = int32_t(std::clamp<int64_t>(*effectClass, -1000, 1000));
            effect.EffectType = int32_t(std::clamp<int64_t>(*effectType, -1000, 1000));
            effect.EffectTime = kDuration;
            effect.Params = params;
            TOrbFilter filter(effect);
            bool ok = true;
            for (int32_t k = 0; k < frames && ok; ++k) {
                const double p =
                    strip > 0 ? (frames == 1 ? 0.0 : double(k) / (frames - 1)) : progress;
                filter.SetElapsed(p * kDuration);
                ok = drawer.DrawTransition(&oldSlide, &newSlide, false, &filter);
                std::unique_ptr<ql::TBitmap> frame = ok ? drawer.CaptureToBitmap() : nullptr;
                if (!frame) {
                    ok = false;
                    break;
                }
                for (int32_t y = 0; y < height; ++y)
                    std::memcpy(out.Row(y) + size_t(k) * size_t(width + gap) * 3, frame->Row(y),
                                size_t(width) * 3);
            }
            drawer.ReleaseImage(oldPicture);
            drawer.ReleaseImage(newPicture);
            if (!ok) return Fail("orbtool effect: the frame could not be drawn");
        }
        ql::SavePng(out, ql::FromUtf8(outName));
    } catch (const ql::EAssertionFailed&) {
        return tool::kExitError;
    } catch (const std::exception& e) {
        return Fail(std::string("orbtool effect: ") + e.what());
    }
    std::printf("%dx%d\n", frames * width + (frames - 1) * gap, height);
    return 0;
}

}  // namespace orb
