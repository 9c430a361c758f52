#include "OrbLib2/ShadowGenerator2.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "OrbLib2/DropShadow2.h"
#include "OrbLib2/MaskGenerator.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr int64_t kMaxShadowArea = 700000;
constexpr int64_t kMaxShadowSide = 10000;
constexpr double kReducedShadowArea = 40000;
// Object sizes and margins come from the show; beyond this they are nonsense.
constexpr int32_t kMaxObjectSide = 1 << 20;

std::string Number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

}  // namespace

std::u16string ShadowKey(const TShadowParams& p) {
    std::string tail;
    for (const std::string& field :
         {std::to_string(p.ObjectRect.right), std::to_string(p.ObjectRect.bottom),
          std::to_string(p.MarginX), std::to_string(p.MarginY), std::to_string(p.BackgroundAlpha),
          Number(p.BlurSize), std::to_string(p.Colour), Number(p.Opacity),
          std::to_string(p.SpreadIndex), std::to_string(p.Shape[0]), std::to_string(p.Shape[1]),
          std::to_string(p.Shape[2]), std::to_string(p.StoreLevel), std::to_string(p.Flags)}) {
        tail += ':';
        tail += field;
    }
    std::u16string key = u"Shadow: ";
    key += p.PictureKey;
    key += ql::FromUtf8(tail);
    return key;
}

int32_t ShadowHalvings(int64_t width, int64_t height) {
    int32_t k = 0;
    while ((width * height > kMaxShadowArea || width > kMaxShadowSide || height > kMaxShadowSide) &&
           (width > 1 || height > 1)) {
        width = std::max<int64_t>(1, width / 2);
        height = std::max<int64_t>(1, height / 2);
        ++k;
    }
    return k;
}

int32_t ShadowHalvingsOf(const TShadowParams& params) {
    const int64_t width = int64_t(std::clamp(params.ObjectRect.right, 1, kMaxObjectSide)) +
                          2 * int64_t(std::clamp(params.MarginX, 0, kMaxObjectSide));
    const int64_t height = int64_t(std::clamp(params.ObjectRect.bottom, 1, kMaxObjectSide)) +
                           2 * int64_t(std::clamp(params.MarginY, 0, kMaxObjectSide));
    return ShadowHalvings(width, height);
}

TShadowParams ReduceShadowParams(const TShadowParams& params) {
    TShadowParams p = params;
    const double w = p.ObjectRect.right, h = p.ObjectRect.bottom;
    const double area = (w + 2.0 * p.MarginX) * (h + 2.0 * p.MarginY);
    if (!(area > 0)) return p;
    const double x = std::sqrt(kReducedShadowArea / area);
    p.ObjectRect.right = static_cast<int32_t>(std::lround(w * x));
    p.ObjectRect.bottom = static_cast<int32_t>(std::lround(h * x));
    p.MarginX = static_cast<int32_t>(std::lround(p.MarginX * x));
    p.MarginY = static_cast<int32_t>(std::lround(p.MarginY * x));
    p.BlurSize = static_cast<float>(std::sqrt(double(p.ObjectRect.right) * p.ObjectRect.bottom) *
                                    p.BlurSize / 400.0 * 1.1);
    return p;
}

std::unique_ptr<ql::TBitmap> HalveBitmap(const ql::TBitmap& source) {
    const int32_t bpp = source.BytesPerPixel();
    const int32_t w = std::max(1, source.Width() / 2), h = std::max(1, source.Height() / 2);
    auto result = std::make_unique<ql::TDirectBitmap>(w, h, source.PixelFormat());
    const int32_t lastX = source.Width() - 1, lastY = source.Height() - 1;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* r0 = source.Row(std::min(2 * y, lastY));
        const uint8_t* r1 = source.Row(std::min(2 * y + 1, lastY));
        uint8_t* out = result->Row(y);
        for (int32_t x = 0; x < w; ++x) {
            const size_t x0 = size_t(std::min(2 * x, lastX)) * bpp,
                         x1 = size_t(std::min(2 * x + 1, lastX)) * bpp;
            for (int32_t c = 0; c < bpp; ++c)
                out[size_t(x) * bpp + c] =
                    uint8_t((r0[x0 + c] + r0[x1 + c] + r1[x0 + c] + r1[x1 + c] + 2) / 4);
        }
    }
    return result;
}

namespace {

// The parameters as Generate works with them: sizes and blur within bounds,
// reduced when asked.
TShadowParams Normalized(const TShadowParams& input, bool reduced) {
    QL_ASSERT(input.ObjectRect.left == 0 && input.ObjectRect.top == 0,
              "TShadowGenerator: rectangle must start at 0, 0");
    TShadowParams p = input;
    p.ObjectRect.right = std::clamp(p.ObjectRect.right, 1, kMaxObjectSide);
    p.ObjectRect.bottom = std::clamp(p.ObjectRect.bottom, 1, kMaxObjectSide);
    p.MarginX = std::clamp(p.MarginX, 0, kMaxObjectSide);
    p.MarginY = std::clamp(p.MarginY, 0, kMaxObjectSide);
    if (!std::isfinite(p.BlurSize) || p.BlurSize < 0) p.BlurSize = 0;
    if (reduced) p = ReduceShadowParams(p);
    p.ObjectRect.right = std::max(1, p.ObjectRect.right);
    p.ObjectRect.bottom = std::max(1, p.ObjectRect.bottom);
    return p;
}

// The canvas of the silhouette after `halvings`, and its margins.
struct TShadowCanvas {
    int32_t Width, Height, MarginX, MarginY;
    double Divisor;
};

TShadowCanvas CanvasOf(const TShadowParams& p, int32_t halvings) {
    const int64_t width = int64_t(p.ObjectRect.right) + 2 * int64_t(p.MarginX);
    const int64_t height = int64_t(p.ObjectRect.bottom) + 2 * int64_t(p.MarginY);
    const double divisor = std::exp2(double(halvings));
    return {int32_t(std::max<int64_t>(1, width >> halvings)),
            int32_t(std::max<int64_t>(1, height >> halvings)),
            static_cast<int32_t>(std::lround(p.MarginX / divisor)),
            static_cast<int32_t>(std::lround(p.MarginY / divisor)), divisor};
}

// The shadow of normalized parameters made at `halvings`; picture is the
// object's picture already halved pictureHalvings (at most halvings) times.
std::unique_ptr<ql::TBitmap> MakeShadow(const TShadowParams& p, int32_t halvings,
                                        const ql::TBitmap* picture, int32_t pictureHalvings,
                                        const ql::TProgressHandler& progress) {
    const TShadowCanvas c = CanvasOf(p, halvings);
    const int32_t mx = c.MarginX, my = c.MarginY;
    ql::TDirectBitmap canvas(c.Width, c.Height, ql::PfARGB32());
    canvas.FillRect(canvas.Bounds(), uint32_t(p.BackgroundAlpha) << 24);

    if (p.PictureKey != u"N\\A" && picture) {
        const ql::TPoint object =
            ql::MipLevelSize(p.ObjectRect.right, p.ObjectRect.bottom, pictureHalvings);
        const ql::TRect crop = ql::IntersectRect(picture->Bounds(), {0, 0, object.x, object.y});
        std::unique_ptr<ql::TBitmap> silhouette =
            ql::CreateBitmap(crop.Width(), crop.Height(), picture->PixelFormat());
        silhouette->CopyRect(crop, *picture, {0, 0});
        for (int32_t i = pictureHalvings; i < halvings; ++i) silhouette = HalveBitmap(*silhouette);
        canvas.CopyRect(silhouette->Bounds(), *silhouette, {mx, my});
    } else if (p.Shape[0] == 255 && p.Shape[1] == 255) {
        canvas.FillRect({mx, my, c.Width - mx, c.Height - my}, 0xFF000000);
    } else {
        TMaskParams shape;
        shape.Width = c.Width - 2 * mx;
        shape.Height = c.Height - 2 * my;
        shape.Shape = p.Shape[0] == msEllipse ? msEllipse : msRoundedRect;
        shape.Corner = p.Shape[1];
        shape.Softness = p.Shape[2];
        if (std::unique_ptr<ql::TBitmap> alpha = TMaskGenerator().GenerateAlpha(shape)) {
            for (int32_t y = 0; y < alpha->Height(); ++y) {
                const uint8_t* a = alpha->Row(y);
                uint8_t* out = canvas.Row(y + my) + size_t(mx) * 4;
                for (int32_t x = 0; x < alpha->Width(); ++x)
                    out[size_t(x) * 4 + 3] = std::max(out[size_t(x) * 4 + 3], a[x]);
            }
        }
    }

    const double opacity =
        std::isfinite(p.Opacity) ? std::clamp(double(p.Opacity), 0.0, 100.0) : 0.0;
    const uint32_t colour = (p.Colour & 0xFFFFFF) | uint32_t(std::lround(opacity * 255 / 100))
                                                        << 24;
    const std::optional<TCurvesData> curve = TCurvesData::Builtin(p.SpreadIndex);
    return TShadowProducer().Produce(canvas, colour, float(p.BlurSize / c.Divisor),
                                     curve ? &*curve : nullptr, progress);
}

}  // namespace

ql::TPoint ShadowPictureSize(const TShadowParams& params) {
    const TShadowParams p = Normalized(params, false);
    const TShadowCanvas c = CanvasOf(p, ShadowHalvingsOf(p));
    TDropShadow blur;
    blur.SetBlur(float(p.BlurSize / c.Divisor));
    return {c.Width + 2 * blur.Margin(), c.Height + 2 * blur.Margin()};
}

int32_t ShadowPictureLevel(const TShadowParams& params, ql::TPoint pictureSize, int32_t level) {
    const int32_t most = std::clamp(ShadowHalvingsOf(params), 0, 30) + std::clamp(level, 0, 30);
    int32_t taken = std::clamp(level, 0, 30);
    for (ql::TPoint size =
             ql::MipLevelSize(std::max(pictureSize.x, 1), std::max(pictureSize.y, 1), taken);
         taken < most && int64_t(size.x) * size.y > 4 * kMaxShadowArea; ++taken)
        size = ql::MipLevelSize(size.x, size.y, 1);
    return taken;
}

TShadowPicture TShadowGenerator::Generate(const TShadowParams& input, const ql::TBitmap* picture,
                                          bool reduced,
                                          const ql::TProgressHandler& progress) const {
    const TShadowParams p = Normalized(input, reduced);
    int64_t width = int64_t(p.ObjectRect.right) + 2 * int64_t(p.MarginX);
    int64_t height = int64_t(p.ObjectRect.bottom) + 2 * int64_t(p.MarginY);
    const int32_t k = ShadowHalvings(width, height);
    TShadowPicture result;
    result.Bitmap = MakeShadow(p, k, picture, 0, progress);
    result.Halvings = k;
    result.Params = p;
    result.Key = ShadowKey(p);
    return result;
}

std::unique_ptr<ql::TBitmap> TShadowGenerator::GenerateLevel(
    const TShadowParams& input, int32_t level, const ql::TBitmap* picture, int32_t pictureHalvings,
    const ql::TProgressHandler& progress) const {
    const TShadowParams p = Normalized(input, false);
    const int32_t k = ShadowHalvingsOf(p);
    level = std::clamp(level, 0, 30 - std::min(k, 30));
    std::unique_ptr<ql::TBitmap> made =
        MakeShadow(p, k + level, picture, std::clamp(pictureHalvings, 0, k + level), progress);
    if (!made) return nullptr;
    const ql::TPoint whole = ShadowPictureSize(p);
    const ql::TPoint size = ql::MipLevelSize(whole.x, whole.y, level);
    if (made->Width() == size.x && made->Height() == size.y) return made;
    // The blur's margins shrink less than the silhouette from one halving to
    // the next: the level is the shadow made there, centred on the object
    // and cut or padded to the level's size with clear pixels of its colour.
    auto fitted = std::make_unique<ql::TDirectBitmap>(size.x, size.y, ql::PfARGB32());
    fitted->FillRect(fitted->Bounds(), p.Colour & 0xFFFFFF);
    const ql::TPoint shift{(size.x - made->Width()) / 2, (size.y - made->Height()) / 2};
    fitted->CopyRect(made->Bounds(), *made, shift);
    return fitted;
}

TShadow::TShadow(TShadowPicture picture, bool reduced, float distanceScale, bool is3D)
    : m_picture(std::move(picture)),
      m_reduced(reduced),
      m_distanceScale(distanceScale),
      m_3D(is3D) {
    if (m_picture.Bitmap && m_picture.Bitmap->Width() > 0 && m_picture.Bitmap->Height() > 0) {
        m_size = {m_picture.Bitmap->Width(), m_picture.Bitmap->Height()};
        m_draw.store =
            ql::MakeRef<ql::TWrapperBitmapStore>(std::move(m_picture.Bitmap), m_picture.Key);
    }
}

TShadow::TShadow(ql::TRef<ql::TBitmapStore> store, const TShadowParams& params, bool reduced,
                 float distanceScale, bool is3D)
    : m_reduced(reduced), m_distanceScale(distanceScale), m_3D(is3D) {
    m_picture.Params = reduced ? ReduceShadowParams(params) : params;
    m_picture.Halvings = ShadowHalvingsOf(m_picture.Params);
    m_picture.Key = ShadowKey(params);
    if (store && store->Width() > 0 && store->Height() > 0) {
        m_size = {store->Width(), store->Height()};
        m_draw.store = std::move(store);
    }
}

void TShadow::Prepare(TDeviceDrawer& drawer) {
    TImageDrawParams params;
    params.level = m_level;
    if (m_draw.store) drawer.PrepareImage(m_draw, params);
}

void TShadow::Release(TDeviceDrawer& drawer) {
    drawer.ReleaseImage(m_draw);
}

bool TShadow::Layout(TPointF size, TPointF& topLeft, TPointF& step) const {
    if (!m_draw.store) return false;
    const ql::TRect& object = m_picture.Params.ObjectRect;
    const float width = float(std::max(object.Width(), 1)),
                height = float(std::max(object.Height(), 1));
    if (!(size.x > 0) || !(size.y > 0)) size = {width, height};
    if (!std::isfinite(size.x) || !std::isfinite(size.y)) return false;
    // One shadow pixel spans 2^k pixels of the shadow's object, which is
    // stretched onto the object as drawn.
    const float enlarge = float(int64_t(1) << std::clamp(m_picture.Halvings, 0, 30));
    const float sx = size.x / width, sy = size.y / height;
    step = {sx * enlarge, sy * enlarge};
    // The shadow outgrows the object by its margins (halving may round them
    // a little): half of the difference goes on each side.
    topLeft = {-(float(m_size.x) * enlarge - width) * sx / 2,
               -(float(m_size.y) * enlarge - height) * sy / 2};
    return true;
}

void TShadow::Draw(TDeviceDrawer& drawer, const TShadowPlacement& placement, uint8_t opacity,
                   float angle, float distance, TPointF axisX, TPointF axisY, TPointF origin) {
    TPointF topLeft, step;
    if (opacity == 0 || !Layout(placement.size, topLeft, step)) return;
    const ql::TRect& object = m_picture.Params.ObjectRect;
    const float width =
        placement.size.x > 0 && placement.size.y > 0 ? placement.size.x : float(object.Width());
    const float height =
        placement.size.x > 0 && placement.size.y > 0 ? placement.size.y : float(object.Height());
    const ql::TPointF offset = Offset({axisX.x * width, axisX.y * width},
                                      {axisY.x * height, axisY.y * height}, distance, angle);
    const TPointF position{
        placement.position.x + offset.x + topLeft.x * axisX.x + topLeft.y * axisY.x,
        placement.position.y + offset.y + topLeft.x * axisX.y + topLeft.y * axisY.y};
    TImageDrawParams params;
    params.opacity = opacity;
    params.level = m_level;
    drawer.DrawImage(m_draw, position, params, {axisX.x * step.x, axisX.y * step.x},
                     {axisY.x * step.y, axisY.y * step.y}, origin);
}

void TShadow::Draw3D(TDeviceDrawer& drawer, TPointF size, uint8_t opacity, float angle,
                     float distance, const TScenePlane& plane, const TCamera3D& camera) {
    TPointF topLeft, step;
    if (opacity == 0 || !Layout(size, topLeft, step)) return;
    if (!(size.x > 0) || !(size.y > 0))
        size = {float(m_picture.Params.ObjectRect.Width()),
                float(m_picture.Params.ObjectRect.Height())};
    auto length = [](const TPoint3F& p) { return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z); };
    const float lx = length(plane.axisX), ly = length(plane.axisY);
    if (!(lx > 0) || !(ly > 0)) return;
    TScenePlane shadow = plane;
    if (m_3D) {
        // Along the object's own axes: the offset's parts are local units
        // once divided by the axes' lengths.
        const ql::TPointF offset = Offset({lx * size.x, 0}, {0, ly * size.y}, distance, angle);
        topLeft = {topLeft.x + offset.x / lx, topLeft.y + offset.y / ly};
    } else {
        // A screen offset at the object's middle: moved in the scene by that
        // much times the depth factor w there, it shows as that offset.
        const ql::TPointF offset =
            Offset({plane.axisX.x * size.x, plane.axisX.y * size.x},
                   {plane.axisY.x * size.y, plane.axisY.y * size.y}, distance, angle);
        const float w = ProjectHomogeneous(camera, plane.At(size.x / 2, size.y / 2)).w;
        if (!(w > 0)) return;
        shadow.origin.x += offset.x * w;
        shadow.origin.y += offset.y * w;
    }
    shadow.origin = shadow.At(topLeft.x, topLeft.y);
    shadow.axisX = {plane.axisX.x * step.x, plane.axisX.y * step.x, plane.axisX.z * step.x};
    shadow.axisY = {plane.axisY.x * step.y, plane.axisY.y * step.y, plane.axisY.z * step.y};
    TImageDrawParams params;
    params.opacity = opacity;
    params.level = m_level;
    drawer.DrawImage3D(m_draw, params, shadow, camera);
}

ql::TPointF TShadow::Offset(ql::TPointF axisX, ql::TPointF axisY, float distance,
                            float angle) const {
    const double lx = std::hypot(axisX.x, axisX.y), ly = std::hypot(axisY.x, axisY.y);
    const double length = std::sqrt(lx * ly) * distance * m_distanceScale / 100.0;
    const double radians = angle * std::numbers::pi / 180.0;
    const double c = std::cos(radians) * length, s = std::sin(radians) * length;
    if (!m_3D) return {float(c), float(s)};
    if (lx == 0 || ly == 0) return {0, 0};
    return {float(axisX.x / lx * c + axisY.x / ly * s), float(axisX.y / lx * c + axisY.y / ly * s)};
}

}  // namespace orb
