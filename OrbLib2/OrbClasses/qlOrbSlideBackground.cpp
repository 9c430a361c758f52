#include "OrbLib2/OrbClasses/qlOrbSlideBackground.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

TBgrColor ParseDocumentColor(std::u16string_view text, TBgrColor fallback) {
    if (text.find(u',') == std::u16string_view::npos) {
        const auto value = ql::TryStrToInt(text);
        return value ? ColorFromWindowsValue(*value) : fallback;
    }
    int32_t parts[3] = {0, 0, 0};
    size_t start = 0;
    for (int32_t i = 0; i < 3; ++i) {
        size_t end = text.find(u',', start);
        if (end == std::u16string_view::npos) {
            if (i != 2) return fallback;
            end = text.size();
        }
        std::u16string_view part = text.substr(start, end - start);
        while (!part.empty() && (part.front() == u' ' || part.front() == u'\t'))
            part.remove_prefix(1);
        while (!part.empty() && (part.back() == u' ' || part.back() == u'\t'))
            part.remove_suffix(1);
        const auto value = ql::TryStrToInt(part);
        if (!value) return fallback;
        parts[i] = std::clamp(*value, 0, 255);
        start = end + 1;
    }
    return TBgrColor{uint8_t(parts[2]), uint8_t(parts[1]), uint8_t(parts[0])};
}

namespace {
void SetColour(uint8_t (&rgb)[3], TBgrColor c) {
    rgb[0] = c.Red;
    rgb[1] = c.Green;
    rgb[2] = c.Blue;
}
}  // namespace

TSlideBackground ReadSlideBackground(const ql::TIniSection& main, const ql::TIniSection* slide) {
    const bool personal = slide && slide->ReadString(u"UsePersonal", u"") == u"1" &&
                          slide->ReadString(u"Pers_Fon", u"") == u"1";
    const ql::TIniSection& from = personal ? *slide : main;
    const std::u16string prefix = personal ? u"" : u"opt_";
    auto read = [&](const char16_t* key) { return from.ReadString(prefix + key, u""); };

    TSlideBackground b;
    const auto style = ql::TryStrToInt(read(u"bstyle"));
    switch (style ? *style : 0) {
        case 1:
            b.Kind = bkSolid;
            SetColour(b.Colour1, ParseDocumentColor(read(u"bname")));
            break;
        case 2:
            b.PictureName = read(u"bname");
            if (!b.PictureName.empty()) {
                b.Kind = bkPicture;
                const auto size = ql::TryStrToFloat(read(u"bsize"));
                if (size && std::isfinite(*size))
                    b.SizePercent =
                        std::clamp(float(*size), kMinBackgroundSize, kMaxBackgroundSize);
            }
            break;
        case 3: {
            const auto colorStyle = ql::TryStrToInt(read(u"bcolorstyle"));
            if (colorStyle && *colorStyle == 1) b.Kind = bkVerticalGradient;
            if (colorStyle && *colorStyle == 2) b.Kind = bkHorizontalGradient;
            if (b.Kind != bkSolid) {
                SetColour(b.Colour1, ParseDocumentColor(read(u"bcolor1")));
                SetColour(b.Colour2, ParseDocumentColor(read(u"bcolor2")));
            }
            break;
        }
        default:
            break;
    }
    return b;
}

namespace {

// The tiles along one side of length `side`, tile length `tile`, centred.
struct TSpan {
    float Start;  // where the first tile begins (at or before 0)
    int32_t Count;
};

TSpan SpanTiles(float side, float tile) {
    const float first = side / 2 - tile / 2;
    const int32_t before = first > 0 ? int32_t(std::ceil(first / tile)) : 0;
    return TSpan{first - float(before) * tile, 2 * before + 1};
}

// Source pixels [s0, s1) of a picture side n for the part [a, b) of a tile of
// length `tile` that starts at `start`; rounded outward.
void SourceRange(float a, float b, float start, float tile, int32_t n, int32_t& s0, int32_t& s1) {
    const double scale = double(n) / tile;
    s0 = std::clamp(int32_t(std::floor((a - start) * scale + 1e-4)), 0, n - 1);
    s1 = std::clamp(int32_t(std::ceil((b - start) * scale - 1e-4)), s0 + 1, n);
}

}  // namespace

TBackgroundTiling TileBackground(float w, float h, int32_t pw, int32_t ph, float sizePercent) {
    TBackgroundTiling result;
    if (!(w > 0) || !(h > 0) || pw <= 0 || ph <= 0) return result;
    float size = std::isfinite(sizePercent) ? sizePercent : 100;
    size = std::clamp(size, kMinBackgroundSize, kMaxBackgroundSize) / 100;
    const double pictureAspect = double(pw) / double(ph);
    double tw, th;
    if (double(w) / double(h) > pictureAspect) {
        tw = w * size;
        th = tw / pictureAspect;
    } else {
        th = h * size;
        tw = th * pictureAspect;
    }
    // Tiles never get so small that more than the limit lie along a side
    // (half a tile at each end included).
    const double grow = std::max({1.0, double(w) / (kMaxBackgroundTilesPerSide - 2) / tw,
                                  double(h) / (kMaxBackgroundTilesPerSide - 2) / th});
    tw *= grow;
    th *= grow;
    result.TileWidth = float(tw);
    result.TileHeight = float(th);

    const TSpan xs = SpanTiles(w, result.TileWidth), ys = SpanTiles(h, result.TileHeight);
    result.Tiles.reserve(size_t(xs.Count) * size_t(ys.Count));
    for (int32_t j = 0; j < ys.Count; ++j) {
        const float ty = ys.Start + float(j) * result.TileHeight;
        const float y0 = std::max(ty, 0.0f), y1 = std::min(ty + result.TileHeight, h);
        if (!(y1 > y0)) continue;
        for (int32_t i = 0; i < xs.Count; ++i) {
            const float tx = xs.Start + float(i) * result.TileWidth;
            const float x0 = std::max(tx, 0.0f), x1 = std::min(tx + result.TileWidth, w);
            if (!(x1 > x0)) continue;
            TBackgroundTile tile{x0, y0, x1 - x0, y1 - y0, {}};
            SourceRange(x0, x1, tx, result.TileWidth, pw, tile.Source.left, tile.Source.right);
            SourceRange(y0, y1, ty, result.TileHeight, ph, tile.Source.top, tile.Source.bottom);
            result.Tiles.push_back(tile);
        }
    }
    return result;
}

int32_t BackgroundHalvings(int32_t pw, int32_t ph, float tw, float th) {
    int32_t level = 0;
    if (!(tw > 0) || !(th > 0)) return 0;
    while (level < 30 && double(pw) >= 2.0 * tw && double(ph) >= 2.0 * th) {
        pw /= 2;
        ph /= 2;
        ++level;
    }
    return level;
}

TBackgroundPainter::TBackgroundPainter(TSlideBackground background, TBackgroundPictureOpener opener)
    : m_background(std::move(background)), m_opener(std::move(opener)) {}

TBackgroundPainter::~TBackgroundPainter() {
    if (m_drawer) m_drawer->ReleaseImage(m_picture);
}

ql::TPoint TBackgroundPainter::PictureSize() const {
    if (!m_picture.store) return {};
    return {m_picture.store->Width(), m_picture.store->Height()};
}

namespace {

bool IsGradient(const TSlideBackground& background) {
    return background.Kind == bkHorizontalGradient || background.Kind == bkVerticalGradient;
}

// Texels along a gradient picture: the bilinear filter between texel centres
// is the straight line the gradient is, and the half texel at either end,
// where the filter clamps, is off it by less than half a colour step.
constexpr int32_t kGradientTexels = 256;

// The gradient as a picture of one row (horizontal) or one column (vertical),
// each texel the colour at its centre: colour 1 on the right or on top, as
// the box fills of the same names have it.
ql::TRef<ql::TBitmapStore> GradientPicture(const TSlideBackground& background) {
    const bool horizontal = background.Kind == bkHorizontalGradient;
    auto bitmap = std::make_unique<ql::TDirectBitmap>(
        horizontal ? kGradientTexels : 1, horizontal ? 1 : kGradientTexels, ql::PfARGB32());
    for (int32_t i = 0; i < kGradientTexels; ++i) {
        const double along = (i + 0.5) / kGradientTexels;
        const double towardsColour2 = horizontal ? 1 - along : along;
        uint32_t pixel = 0xFF000000u;
        for (int32_t c = 0; c < 3; ++c) {
            const double value = background.Colour1[c] +
                                 (background.Colour2[c] - background.Colour1[c]) * towardsColour2;
            pixel |= uint32_t(std::lround(value)) << (16 - 8 * c);
        }
        uint8_t* at = horizontal ? bitmap->Row(0) + 4 * i : bitmap->Row(i);
        std::memcpy(at, &pixel, 4);
    }
    return ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap));
}

}  // namespace

void TBackgroundPainter::Prepare(TDeviceDrawer& drawer, float w, float h, float scale) {
    if (IsGradient(m_background)) {
        // Gradients are drawn as a stretched picture: the device fills a
        // picture's runs far faster than it shades colours across a box.
        if (m_level == 0 && m_drawer == &drawer) return;
        if (!m_picture.store) m_picture.store = GradientPicture(m_background);
        if (m_drawer) m_drawer->ReleaseImage(m_picture);
        m_level = 0;
        m_drawer = &drawer;
        drawer.PrepareImage(m_picture, TImageDrawParams{});
        return;
    }
    if (m_background.Kind != bkPicture) return;
    if (!m_opened) {
        m_opened = true;
        if (m_opener) m_picture.store = m_opener(m_background.PictureName);
    }
    if (!m_picture.store || m_picture.store->Width() <= 0 || m_picture.store->Height() <= 0) return;
    const ql::TPoint size = PictureSize();
    const TBackgroundTiling tiling = TileBackground(w, h, size.x, size.y, m_background.SizePercent);
    const float s = std::isfinite(scale) && scale > 0 ? scale : 1;
    const int32_t level =
        BackgroundHalvings(size.x, size.y, tiling.TileWidth * s, tiling.TileHeight * s);
    if (level == m_level && m_drawer == &drawer) return;
    if (m_drawer) m_drawer->ReleaseImage(m_picture);
    m_level = level;
    m_drawer = &drawer;
    TImageDrawParams params;
    params.level = level;
    drawer.PrepareImage(m_picture, params);
}

void TBackgroundPainter::Release(TDeviceDrawer& drawer) {
    drawer.ReleaseImage(m_picture);
    if (m_drawer == &drawer) m_drawer = nullptr;
    m_level = -1;
}

namespace {
uint32_t Argb(const uint8_t (&rgb)[3]) {
    return 0xFF000000u | uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
}
}  // namespace

void TBackgroundPainter::Draw(TDeviceDrawer& drawer, const TScenePlane& plane, float w, float h,
                              const TCamera3D& camera, uint8_t opacity) {
    if (!(w > 0) || !(h > 0) || opacity == 0) return;
    const int32_t percent = int32_t(std::lround(opacity * 100.0 / 255));
    if (m_background.Kind == bkPicture) {
        if (!m_picture.store || m_level < 0) return;
        const ql::TPoint size = PictureSize();
        const TBackgroundTiling tiling =
            TileBackground(w, h, size.x, size.y, m_background.SizePercent);
        TImageDrawParams params;
        params.level = m_level;
        params.opacity = opacity;
        for (const TBackgroundTile& tile : tiling.Tiles) {
            params.source = tile.Source;
            const float sx = tile.Width / float(tile.Source.Width()),
                        sy = tile.Height / float(tile.Source.Height());
            TScenePlane part;
            part.origin = plane.At(tile.X, tile.Y);
            part.axisX = {plane.axisX.x * sx, plane.axisX.y * sx, plane.axisX.z * sx};
            part.axisY = {plane.axisY.x * sy, plane.axisY.y * sy, plane.axisY.z * sy};
            drawer.DrawImage3D(m_picture, params, part, camera);
        }
        return;
    }
    if (IsGradient(m_background) && m_picture.store && m_level == 0) {
        TImageDrawParams params;
        params.opacity = opacity;
        const float sx = w / float(m_picture.store->Width()),
                    sy = h / float(m_picture.store->Height());
        TScenePlane stretched = plane;
        stretched.axisX = {plane.axisX.x * sx, plane.axisX.y * sx, plane.axisX.z * sx};
        stretched.axisY = {plane.axisY.x * sy, plane.axisY.y * sy, plane.axisY.z * sy};
        drawer.DrawImage3D(m_picture, params, stretched, camera);
        return;
    }
    TBoxParams box;
    box.opacity = percent;
    box.colour1 = Argb(m_background.Colour1);
    box.colour2 = Argb(m_background.Colour2);
    // The same fills as a box's "HGradient" and "VGradient".
    box.fillType = m_background.Kind == bkHorizontalGradient ? kHorizontalGradientFill
                   : m_background.Kind == bkVerticalGradient ? kVerticalGradientFill
                                                             : kSolidFill;
    drawer.DrawBox3D({w, h}, box, plane, camera);
}

namespace {
// Screen pixels per slide unit along the slide's plane.
float PlaneScale(const TScenePlane& plane) {
    const float sx = std::hypot(plane.axisX.x, plane.axisX.y),
                sy = std::hypot(plane.axisY.x, plane.axisY.y);
    return std::max(sx, sy);
}
}  // namespace

void TSlideBackgroundDrawer::Prepare(TDeviceDrawer& drawer, const TOrbSlide& slide) {
    m_painter.Prepare(drawer, float(slide.Width()), float(slide.Height()),
                      PlaneScale(slide.Plane()));
}

void TSlideBackgroundDrawer::Draw(TDeviceDrawer& drawer, const TOrbSlide& slide) {
    const TScenePlane plane = slide.Plane();
    const float w = float(slide.Width()), h = float(slide.Height());
    // A slide drawn before it was prepared decodes here, once.
    m_painter.Prepare(drawer, w, h, PlaneScale(plane));
    const float opacity = std::clamp(slide.EffectiveOpacity(), 0.0f, 100.0f);
    m_painter.Draw(drawer, plane, w, h, slide.Camera(), uint8_t(std::lround(opacity * 2.55f)));
}

}  // namespace orb
