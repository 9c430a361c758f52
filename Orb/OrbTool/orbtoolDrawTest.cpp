// orbtool draw-test: draws a fixed scene through the drawer on a render
// device and writes the captured frame, so that devices can be compared by
// eye and by file.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolDevice.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/MaskGenerator.h"
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

const char kDrawTestHelp[] =
    "usage: orbtool draw-test --device soft|gl --size WxH -o OUT.png\n"
    "Draws a fixed test scene through the drawer (pictures tiled from a generated\n"
    "3000x2000 bitmap, rotated and scaled; the nine box fill types; a frame border;\n"
    "a masked picture; a view port showing the picture through two overlapping\n"
    "masks, the second at half opacity) and writes the captured frame as PNG.\n"
    "Sizes 16 to 4096.\n"
    "soft is the software device; gl is OpenGL 3.3 through EGL, needing no display.\n";

constexpr int32_t kMinSide = 16, kMaxSide = 4096;

std::unique_ptr<ql::TBitmap> TestPicture() {
    const int32_t w = 3000, h = 2000;
    auto bitmap = std::make_unique<ql::TDirectBitmap>(w, h, ql::PfARGB32());
    for (int32_t y = 0; y < h; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
        for (int32_t x = 0; x < w; ++x) {
            // Gradients with a checker of 100-pixel squares: tile seams show.
            const bool check = ((x / 100) + (y / 100)) % 2 == 0;
            const uint32_t r = uint32_t(x * 255 / (w - 1)), g = uint32_t(y * 255 / (h - 1));
            const uint32_t b = check ? 220u : 40u;
            row[x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    return bitmap;
}

// An ellipse, opaque inside, fading over its outer fifth.
class TEllipseMask : public TCustomTexture {
public:
    TEllipseMask(T3DScreen& screen, int32_t side) : TCustomTexture(screen, TTextureUsage::Managed) {
        SetSize(side, side);
    }
    bool FillTexture(int32_t level, ql::TBitmap& surface) override {
        const double half = Width() / 2.0;
        for (int32_t y = 0; y < surface.Height(); ++y) {
            uint32_t* row = reinterpret_cast<uint32_t*>(surface.Row(y));
            for (int32_t x = 0; x < surface.Width(); ++x) {
                const double d = std::hypot((x + 0.5 - half) / half, (y + 0.5 - half) / half);
                const double a = std::clamp((1.0 - d) * 5.0, 0.0, 1.0);
                row[x] = uint32_t(std::lround(a * 255)) << 24 | 0x00FFFFFFu;
            }
        }
        return true;
    }
};

class TTestScene : public TDrawScene {
public:
    TTestScene(T3DDrawer& drawer, TDrawPicture& picture, TCustomTexture& mask, int32_t width,
               int32_t height)
        : m_drawer(drawer),
          m_picture(picture),
          m_mask(mask),
          m_w(float(width)),
          m_h(float(height)) {}

    void Draw(TDeviceDrawer& d) override {
        const float u = std::min(m_w, m_h) / 100.0f;  // the scene is laid out on a 100-unit square
        TBoxParams background;
        background.fillType = kVerticalGradientFill;
        background.colour1 = 0xFF101828u;
        background.colour2 = 0xFF304060u;
        d.DrawBox({0, 0}, {m_w, m_h}, background, {1, 0}, {0, 1});

        // The whole picture scaled down, then a part of it rotated by 20 degrees.
        TImageDrawParams image;
        const float scale = 40.0f * u / 3000.0f;
        d.DrawImage(m_picture, {2 * u, 2 * u}, image, {scale, 0}, {0, scale}, {0, 0});
        const float angle = 20.0f * 3.14159265f / 180.0f, rot = 0.04f * u;
        image.source = {1000, 500, 2200, 1400};
        d.DrawImage(m_picture, {50 * u, 2 * u}, image,
                    {rot * std::cos(angle), rot * std::sin(angle)},
                    {-rot * std::sin(angle), rot * std::cos(angle)}, {0, 0});

        // The nine fill types, with smooth edges on the last row.
        for (int32_t type = 0; type < 9; ++type) {
            TBoxParams box;
            box.fillType = type;
            box.colour1 = 0xFFFF4020u;
            box.colour2 = 0x8020A0FFu;
            box.opacity = type == 8 ? 70 : 100;
            box.edgeFlags = type >= 6 ? uint8_t(efLeft | efTop | efRight | efBottom) : 0;
            const float x = 2 * u + float(type % 3) * 11 * u, y = 40 * u + float(type / 3) * 11 * u;
            d.DrawBox({x, y}, {9 * u, 9 * u}, box, {1, 0}, {0, 1});
        }

        TBoxParams border;
        border.fillType = 0;
        border.colour1 = 0xFFFFFFFFu;
        border.colour2 = 0xFF808080u;
        d.DrawFrameBorder({40 * u, 40 * u}, {24 * u, 30 * u}, 2 * u, border, {1, 0}, {0, 1}, true);

        TImageDrawParams masked;
        masked.source = {0, 0, 2000, 2000};
        const float ms = 30.0f * u / 2000.0f;
        m_drawer.DrawMaskedImage(m_picture, {68 * u, 40 * u}, masked, {ms, 0}, {0, ms}, m_mask);

        // A view port: the picture through a soft ellipse and, overlapping it
        // at half opacity, a rounded rectangle; where they meet the larger wins.
        const float vs = 30.0f * u / 3000.0f;
        d.DrawMaskedScene(
            [&] {
                d.DrawImage(m_picture, {68 * u, 74 * u}, TImageDrawParams(), {vs, 0}, {0, vs},
                            {0, 0});
            },
            [&] {
                const float step = 18.0f * u / float(kViewMaskSide);
                TImageDrawParams first;
                d.DrawImage(m_viewMasks[0], {68 * u, 74 * u}, first, {step, 0}, {0, step}, {0, 0});
                TImageDrawParams second;
                second.opacity = 128;
                d.DrawImage(m_viewMasks[1], {79 * u, 76 * u}, second, {step, 0}, {0, step}, {0, 0});
            });
    }

    static constexpr int32_t kViewMaskSide = 128;
    // The view port's masks as the slide host makes them: one byte of
    // coverage per pixel.
    void MakeViewMasks() {
        TMaskGenerator generator;
        TMaskParams params;
        params.Width = params.Height = kViewMaskSide;
        params.Shape = msEllipse;
        params.Softness = 40;
        m_viewMasks[0].store =
            ql::MakeRef<ql::TWrapperBitmapStore>(generator.GenerateAlpha(params));
        params.Shape = msRoundedRect;
        params.Softness = 10;
        params.Corner = 30;
        m_viewMasks[1].store =
            ql::MakeRef<ql::TWrapperBitmapStore>(generator.GenerateAlpha(params));
    }
    void ReleaseViewMasks() {
        for (TDrawPicture& mask : m_viewMasks) m_drawer.ReleaseImage(mask);
    }

private:
    T3DDrawer& m_drawer;
    TDrawPicture& m_picture;
    TCustomTexture& m_mask;
    TDrawPicture m_viewMasks[2];
    float m_w, m_h;
};

}  // namespace

int RunDrawTest(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kDrawTestHelp, stdout);
        return 0;
    }
    std::string deviceName, outName;
    int32_t width = 0, height = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--device" && hasValue) {
            deviceName = args[++i];
        } else if (a == "--size" && hasValue) {
            const std::string& value = args[++i];
            const size_t x = value.find('x');
            const auto w = ql::TryStrToInt(ql::FromUtf8(value.substr(0, x)));
            const auto h = x == std::string::npos
                               ? std::nullopt
                               : ql::TryStrToInt(ql::FromUtf8(value.substr(x + 1)));
            if (!w || !h || *w < kMinSide || *h < kMinSide || *w > kMaxSide || *h > kMaxSide)
                return Fail("orbtool draw-test: --size wants WxH, each 16 to 4096");
            width = int32_t(*w);
            height = int32_t(*h);
        } else if (a == "-o" && hasValue) {
            outName = args[++i];
        } else {
            return Fail("orbtool draw-test: unexpected argument '" + a + "'");
        }
    }
    if (deviceName.empty() || width == 0 || outName.empty())
        return Fail("orbtool draw-test: needs --device, --size and -o (try --help)");
    if (deviceName != "soft" && deviceName != "gl")
        return Fail("orbtool draw-test: unknown device '" + deviceName + "'");

    try {
        std::string error;
        std::unique_ptr<TRenderDevice> owned =
            tool::MakeDevice(deviceName, width, height, 1, error);
        if (!owned) return Fail("orbtool draw-test: device not available: " + error);
        TRenderDevice& device = *owned;
        std::unique_ptr<ql::TBitmap> frame;
        {
            T3DDrawer drawer(device);
            drawer.Init({width, height, false});
            drawer.SetCaptureMode(true);
            drawer.TextureManager().SetUploadPause(std::chrono::milliseconds(0));
            TDrawPicture picture;
            picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(TestPicture());
            TEllipseMask mask(drawer.Screen(), 256);
            TTestScene scene(drawer, picture, mask, width, height);
            scene.MakeViewMasks();
            const bool drawn = drawer.DrawScene(scene);
            if (drawn) frame = drawer.CaptureToBitmap();
            scene.ReleaseViewMasks();
            drawer.ReleaseImage(picture);
        }
        if (!frame) return Fail("orbtool draw-test: the frame could not be drawn");
        ql::SavePng(*frame, ql::FromUtf8(outName));
    } catch (const ql::EAssertionFailed&) {
        return tool::kExitError;  // its text already went to standard error
    } catch (const std::exception& e) {
        return Fail(std::string("orbtool draw-test: ") + e.what());
    }
    std::printf("%dx%d\n", width, height);
    return 0;
}

}  // namespace orb
