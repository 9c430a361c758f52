#include "QlLib/Graphics/qlAffineDraw.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ql {

namespace {

// The reciprocal of the largest single-precision value: determinants closer to
// zero than this have no usable inverse.
constexpr double kSingular = 2.9411764705882355e-39;

// Fixed-point value kept in 64 bits for range tests; far-away points are
// clamped, which still tests as outside.
int64_t ToFixed64(double f) {
    const double scaled = std::clamp(f * 65536.0 - 0.5, -1e12, 1e12);
    return int64_t(std::nearbyint(scaled));
}

bool IsRgb24(const TBitmap& b) { return b.PixelFormat() == PfRGB24(); }
bool IsArgb32(const TBitmap& b) { return b.PixelFormat() == PfARGB32(); }

void CheckFormats(const TAffineCoverage& coverage, const TBitmap& dst, const TBitmap& src) {
    QL_ASSERT(dst.BytesPerPixel() == 3, "qlAffineUtils: destination must be 24 bits per pixel");
    QL_ASSERT(src.BytesPerPixel() == 3 || src.BytesPerPixel() == 4,
              "qlAffineUtils: source must be 24 or 32 bits per pixel");
    QL_ASSERT(src.Width() >= coverage.width && src.Height() >= coverage.height,
              "qlAffineUtils: source smaller than the coverage");
}

std::vector<const uint8_t*> RowsOf(const TBitmap& b) {
    std::vector<const uint8_t*> rows(size_t(b.Height()));
    for (int32_t y = 0; y < b.Height(); ++y) rows[size_t(y)] = b.Row(y);
    return rows;
}

// Nearest sampling has its own blend: d + (s - d) k / 256 or / 65536,
// truncated toward zero.
inline void BlendNearest(uint8_t* d, const uint8_t* s, int32_t bpp, int32_t a) {
    const int32_t alpha = bpp == 4 ? s[3] : 255;
    if (alpha == 255) {
        if (a == 255) {
            d[0] = s[0], d[1] = s[1], d[2] = s[2];
            return;
        }
        for (int32_t c = 0; c < 3; ++c) d[c] = uint8_t(d[c] + (int32_t(s[c]) - d[c]) * a / 256);
        return;
    }
    const int32_t k = a == 255 ? alpha * 256 : a * alpha;
    for (int32_t c = 0; c < 3; ++c) d[c] = uint8_t(d[c] + (int32_t(s[c]) - d[c]) * k / 65536);
}

// Bilinear sample with the neighbours clamped to the picture, blended through
// the same table as the interior, so the outermost rows and columns get the
// same colours as the interior would give them.
inline void BlendEdge(uint8_t* d, const uint8_t* const* rows, int32_t bpp, int32_t w, int32_t h, int32_t us,
                      int32_t vs, const TBlendTable& blend) {
    auto clampPair = [](int32_t c, int32_t size, int32_t& c0, int32_t& c1) {
        if (c < 0) {
            c0 = c1 = 0;
            return;
        }
        c0 = std::min(c >> 16, size - 1);
        c1 = std::min((c >> 16) + 1, size - 1);
    };
    int32_t x0, x1, y0, y1;
    clampPair(us, w, x0, x1);
    clampPair(vs, h, y0, y1);
    const int32_t fx = us & 0xFFFF, fy = vs & 0xFFFF;
    const int32_t w11 = int32_t((uint32_t(fx) * uint32_t(fy)) >> 16);
    const int32_t w00 = 65536 - fx - fy + w11, w10 = fx - w11, w01 = fy - w11;
    const uint8_t *p00 = rows[y0] + x0 * bpp, *p10 = rows[y0] + x1 * bpp;
    const uint8_t *p01 = rows[y1] + x0 * bpp, *p11 = rows[y1] + x1 * bpp;
    int32_t b[4] = {0, 0, 0, 255};
    for (int32_t c = 0; c < bpp; ++c) b[c] = (w00 * p00[c] + w10 * p10[c] + w01 * p01[c] + w11 * p11[c]) >> 16;
    const int32_t hh = int32_t(blend.h[b[3]]);
    for (int32_t c = 0; c < 3; ++c) d[c] = uint8_t(b[c] + (((int32_t(d[c]) - b[c]) * hh) >> 16));
}

}  // namespace

uint32_t ToFixed(double f) { return uint32_t(uint64_t(ToFixed64(f))); }

bool TAffineFrame::Build(TPointF origin, TPointF axisX, TPointF axisY) {
    ox = origin.x, oy = origin.y, xx = axisX.x, xy = axisX.y, yx = axisY.x, yy = axisY.y;
    const double det = double(xx) * yy - double(yx) * xy;
    if (!std::isfinite(det) || std::fabs(det) <= kSingular) return false;
    invDet = 1.0 / det;
    return std::isfinite(invDet);
}

void TAffineFrame::Inverse(double px, double py, double& u, double& v) const {
    const double dx = px - ox, dy = py - oy;
    u = (dx * yy - dy * yx) * invDet;
    v = (dy * xx - dx * xy) * invDet;
}

bool BuildCoverage(TAffineCoverage& c, int32_t width, int32_t height, TPointF origin, TPointF axisX,
                   TPointF axisY) {
    c = TAffineCoverage{};
    c.width = width;
    c.height = height;
    if (!c.frame.Build(origin, axisX, axisY) || width <= 0 || height <= 0) return false;
    const float su[4] = {0, float(width), float(width), 0}, sv[4] = {0, 0, float(height), float(height)};
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (int i = 0; i < 4; ++i) {
        const double x = double(origin.x) + su[i] * double(axisX.x) + sv[i] * double(axisY.x);
        const double y = double(origin.y) + su[i] * double(axisX.y) + sv[i] * double(axisY.y);
        c.corners[i] = {float(x), float(y)};
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
    }
    for (int i = 0; i < 4; ++i) {
        TPointF a = c.corners[i], b = c.corners[(i + 1) % 4];
        if (b.y < a.y) std::swap(a, b);
        c.edges[i] = {a.x, a.y, b.x, b.y};
    }
    // Bounded to what 32-bit pixel coordinates can hold; the drawers clip to
    // their destination anyway.
    auto clampCoord = [](double f) { return int32_t(std::clamp(f, -2e9, 2e9)); };
    c.bounds = {clampCoord(std::floor(minX)), clampCoord(std::floor(minY)), clampCoord(std::ceil(maxX)),
                clampCoord(std::ceil(maxY))};
    return true;
}

bool RowSpan(const TAffineCoverage& coverage, int32_t y, const TRect& clip, int32_t& first, int32_t& last) {
    if (y < coverage.bounds.top || y >= coverage.bounds.bottom) return false;
    // The transformed source is a convex quadrilateral; its extent within the
    // band is the extent of its edges clipped to the band.
    const double top = y, bottom = double(y) + 1;
    double minX = 1e300, maxX = -1e300;
    for (const TAffineEdge& e : coverage.edges) {
        const double lo = std::max(top, e.y0), hi = std::min(bottom, e.y1);
        if (lo > hi) continue;
        if (e.y1 == e.y0) {
            minX = std::min({minX, e.x0, e.x1});
            maxX = std::max({maxX, e.x0, e.x1});
            continue;
        }
        const double slope = (e.x1 - e.x0) / (e.y1 - e.y0);
        const double xa = e.x0 + slope * (lo - e.y0), xb = e.x0 + slope * (hi - e.y0);
        minX = std::min({minX, xa, xb});
        maxX = std::max({maxX, xa, xb});
    }
    if (minX > maxX) return false;
    const double f = std::floor(minX), l = std::max(std::ceil(maxX) - 1, f);
    first = int32_t(std::clamp(f, double(clip.left), double(clip.right)));
    last = int32_t(std::clamp(l, double(clip.left) - 1, double(clip.right) - 1));
    return first <= last;
}

void DrawAffineNearest(const TAffineCoverage& coverage, TBitmap& dst, const TBitmap& src, int32_t opacity,
                       const TRect& clip) {
    CheckFormats(coverage, dst, src);
    if (opacity <= 0) return;
    const int32_t a = std::min(opacity, 255), bpp = src.BytesPerPixel();
    const TAffineFrame& f = coverage.frame;
    double du, dv, u0, v0;
    f.Inverse(f.ox + 1.0, f.oy, du, dv);
    const uint32_t stepU = ToFixed(du), stepV = ToFixed(dv);
    const uint32_t w = uint32_t(coverage.width), h = uint32_t(coverage.height);
    const TRect area = IntersectRect(clip, dst.Bounds());
    for (int32_t y = std::max(area.top, coverage.bounds.top); y < std::min(area.bottom, coverage.bounds.bottom); ++y) {
        int32_t first, last;
        if (!RowSpan(coverage, y, area, first, last)) continue;
        f.Inverse(first + 0.5, y + 0.5, u0, v0);
        uint32_t u = ToFixed(u0), v = ToFixed(v0);
        int32_t x = first;
        while (x <= last && ((u >> 16) >= w || (v >> 16) >= h)) ++x, u += stepU, v += stepV;
        uint8_t* d = dst.Row(y) + int64_t(x) * 3;
        for (; x <= last && (u >> 16) < w && (v >> 16) < h; ++x, u += stepU, v += stepV, d += 3)
            BlendNearest(d, src.Row(int32_t(v >> 16)) + (u >> 16) * bpp, bpp, a);
    }
}

void DrawAffineBilinear(const TAffineCoverage& coverage, TBitmap& dst, const TBitmap& src, int32_t opacity,
                        const TRect& clip, TSimdLevel simd) {
    CheckFormats(coverage, dst, src);
    if (opacity <= 0) return;
    const int32_t a = std::min(opacity, 255), bpp = src.BytesPerPixel();
    TBlendTable blend;
    BuildBlendTable(blend, a, bpp == 4);
    const TBilinearRunProc runProc = BilinearRunFor(simd);
    const std::vector<const uint8_t*> rows = RowsOf(src);
    const TAffineFrame& f = coverage.frame;
    double du, dv, u0, v0;
    f.Inverse(f.ox + 1.0, f.oy, du, dv);
    const uint32_t stepU = ToFixed(du), stepV = ToFixed(dv);
    const uint32_t w = uint32_t(coverage.width), h = uint32_t(coverage.height);
    const TRect area = IntersectRect(clip, dst.Bounds());
    for (int32_t y = std::max(area.top, coverage.bounds.top); y < std::min(area.bottom, coverage.bounds.bottom); ++y) {
        int32_t first, last;
        if (!RowSpan(coverage, y, area, first, last)) continue;
        f.Inverse(first + 0.5, y + 0.5, u0, v0);
        uint32_t u = ToFixed(u0), v = ToFixed(v0);
        uint8_t* row = dst.Row(y);
        for (int32_t x = first; x <= last;) {
            if ((u >> 16) < w && (v >> 16) < h) {
                const uint32_t us = u - 0x8000, vs = v - 0x8000;
                if ((us >> 16) + 1 < w && (vs >> 16) + 1 < h) {
                    // Count the pixels that stay inside the interior, then
                    // draw them as one run.
                    int32_t n = 0;
                    for (uint32_t cu = us, cv = vs; x + n <= last && (cu >> 16) + 1 < w && (cv >> 16) + 1 < h;
                         ++n, cu += stepU, cv += stepV) {
                    }
                    runProc({rows.data(), bpp, row + int64_t(x) * 3, n, us, vs, stepU, stepV, &blend, src.Width()});
                    x += n, u += stepU * uint32_t(n), v += stepV * uint32_t(n);
                    continue;
                }
                BlendEdge(row + int64_t(x) * 3, rows.data(), bpp, int32_t(w), int32_t(h), int32_t(us), int32_t(vs),
                          blend);
            }
            ++x, u += stepU, v += stepV;
        }
    }
}

TPoint FitSize(int32_t srcWidth, int32_t srcHeight, int32_t boxWidth, int32_t boxHeight) {
    if (srcWidth <= 0 || srcHeight <= 0) return {0, 0};
    const double c = double(boxWidth) / srcWidth, d = double(boxHeight) / srcHeight;
    if (c >= d) return {int32_t(std::min<double>(std::nearbyint(srcWidth * d), boxWidth)), boxHeight};
    return {boxWidth, int32_t(std::min<double>(std::nearbyint(c * srcHeight), boxHeight))};
}

// --- tile drawer ----------------------------------------------------------

TAffineDrawer::TAffineDrawer(int32_t tileWidth, int32_t tileHeight)
    : m_tileWidth(std::max(tileWidth, 1)), m_tileHeight(std::max(tileHeight, 1)) {}

void TAffineDrawer::Prepare(const TRect& dstRect, TPointF origin, TPointF axisX, TPointF axisY) {
    QL_ASSERT(dstRect.left >= 0 && dstRect.top >= 0, "TAffineDrawer.Prepare - negative destination origin");
    m_prepared = dstRect;
    m_bands.clear();
    m_tiles.clear();
    const bool same = m_haveFrame && origin.x == m_origin.x && origin.y == m_origin.y && axisX.x == m_axisX.x &&
                      axisX.y == m_axisX.y && axisY.x == m_axisY.x && axisY.y == m_axisY.y;
    if (!same) {
        m_haveFrame = true;
        m_origin = origin, m_axisX = axisX, m_axisY = axisY;
        m_valid = m_frame.Build(origin, axisX, axisY);
        if (m_valid) {
            double u, v;
            m_frame.Inverse(m_frame.ox + 1.0, m_frame.oy, u, v);
            m_dudx = ToFixed(u), m_dvdx = ToFixed(v);
            m_frame.Inverse(m_frame.ox, m_frame.oy + 1.0, u, v);
            m_dudy = ToFixed(u), m_dvdy = ToFixed(v);
        }
    }
    if (!m_valid) return;
    TRect full, fast, third;
    if (!SetupKinds(full, fast, third) || full.IsEmpty()) return;

    TAffineCoverage coverage;
    if (!BuildCoverage(coverage, full.Width(), full.Height(), origin, axisX, axisY)) return;
    const TRect area = IntersectRect(coverage.bounds, dstRect);
    if (area.IsEmpty()) return;

    const int64_t dux = int32_t(m_dudx), dvx = int32_t(m_dvdx), duy = int32_t(m_dudy), dvy = int32_t(m_dvdy);
    // Tile corners in unwrapped 16.16 (moved back half a pixel): the source
    // points of a tile are linear in the pixel position, so a tile whose four
    // corner pixels lie inside a rectangle lies inside it everywhere.
    auto inside = [](const int64_t (&us)[4], const int64_t (&vs)[4], const TRect& r) {
        if (r.IsEmpty()) return false;
        for (int i = 0; i < 4; ++i)
            if (us[i] < int64_t(r.left) * 65536 || us[i] >= int64_t(r.right) * 65536 ||
                vs[i] < int64_t(r.top) * 65536 || vs[i] >= int64_t(r.bottom) * 65536)
                return false;
        return true;
    };
    for (int32_t top = area.top; top < area.bottom; top += m_tileHeight) {
        const TBand band{top, int32_t(std::min<int64_t>(int64_t(top) + m_tileHeight, area.bottom)), m_tiles.size(), 0};
        // Tile start points step from the band's first pixel in whole 16.16
        // increments, so neighbouring tiles continue each other exactly and
        // Draw may join tiles of one kind into a single run.
        double bu, bv;
        m_frame.Inverse(area.left + 0.5, top + 0.5, bu, bv);
        const int64_t bandU = ToFixed64(bu) - 0x8000, bandV = ToFixed64(bv) - 0x8000;
        for (int32_t left = area.left; left < area.right; left += m_tileWidth) {
            const int32_t right = int32_t(std::min<int64_t>(int64_t(left) + m_tileWidth, area.right));
            const int64_t su = bandU + int64_t(left - area.left) * dux, sv = bandV + int64_t(left - area.left) * dvx;
            const int64_t wx = right - left - 1, hy = band.bottom - band.top - 1;
            const int64_t us[4] = {su, su + wx * dux, su + hy * duy, su + wx * dux + hy * duy};
            const int64_t vs[4] = {sv, sv + wx * dvx, sv + hy * dvy, sv + wx * dvx + hy * dvy};
            uint8_t kind = 0;
            if (inside(us, vs, third)) kind = 3;
            else if (inside(us, vs, fast)) kind = 2;
            else {
                // Touching test on the unshifted points against the full
                // source, by the bounding box of the corners.
                const int64_t minU = *std::min_element(us, us + 4) + 0x8000, maxU = *std::max_element(us, us + 4) + 0x8000;
                const int64_t minV = *std::min_element(vs, vs + 4) + 0x8000, maxV = *std::max_element(vs, vs + 4) + 0x8000;
                if (maxU >= int64_t(full.left) * 65536 && minU < int64_t(full.right) * 65536 &&
                    maxV >= int64_t(full.top) * 65536 && minV < int64_t(full.bottom) * 65536)
                    kind = 1;
            }
            if (kind) m_tiles.push_back({left, right, uint32_t(uint64_t(su)), uint32_t(uint64_t(sv)), kind});
        }
        if (m_tiles.size() > band.first) {
            m_bands.push_back(band);
            m_bands.back().count = m_tiles.size() - band.first;
        }
    }
}

void TAffineDrawer::Draw(TBitmap& dst) {
    if (m_bands.empty()) return;
    QL_ASSERT(dst.BytesPerPixel() == 3 && dst.Width() >= m_prepared.right && dst.Height() >= m_prepared.bottom,
              "TAffineDrawer.Draw - destination does not cover the prepared rectangle");
    // Neighbouring tiles of one kind are drawn as one wider tile: their start
    // points continue each other, and long runs keep the loops busy.
    auto drawBand = [&](int32_t index) {
        const TBand& band = m_bands[size_t(index)];
        const size_t end = band.first + band.count;
        for (size_t t = band.first; t < end;) {
            TTile joined = m_tiles[t];
            for (++t; t < end && m_tiles[t].kind == joined.kind && m_tiles[t].left == joined.right; ++t)
                joined.right = m_tiles[t].right;
            DrawTile(joined.kind, joined, band, dst);
        }
    };
    if (m_pool && m_pool->Threads() > 1 && m_bands.size() > 1) {
        m_pool->Run(int32_t(m_bands.size()), drawBand);
    } else {
        for (size_t b = 0; b < m_bands.size(); ++b) drawBand(int32_t(b));
    }
}

void TImageDrawer::SetImage(const TBitmap* image) {
    QL_ASSERT(image == nullptr || IsRgb24(*image) || IsArgb32(*image), "Unsupported PixelFormat");
    m_owned.reset();
    m_image = image;
}

void TImageDrawer::SetImage(std::unique_ptr<TBitmap> image) {
    SetImage(image.get());
    m_owned = std::move(image);
}

bool TBilinearDrawer::SetupKinds(TRect& full, TRect& fast, TRect& third) {
    if (!m_image || m_opacity <= 0) return false;
    const int32_t w = m_image->Width(), h = m_image->Height(), a = std::min(m_opacity, 255);
    if (w <= 0 || h <= 0) return false;
    full = {0, 0, w, h};
    fast = {0, 0, w - 1, h - 1};
    third = IsRgb24(*m_image) && a == 255 ? fast : TRect{};
    BuildBlendTable(m_blend, a, m_image->BytesPerPixel() == 4);
    m_rows = RowsOf(*m_image);
    return true;
}

void TBilinearDrawer::DrawTile(uint8_t kind, const TTile& tile, const TBand& band, TBitmap& dst) {
    QL_ASSERT(kind >= 1 && kind <= 3, "TBilinearDrawer: invalid tile kind");
    const int32_t bpp = m_image->BytesPerPixel(), n = tile.right - tile.left;
    const uint32_t w = uint32_t(m_image->Width()), h = uint32_t(m_image->Height());
    const TBilinearRunProc runProc = BilinearRunFor(m_simd);
    for (int32_t y = band.top; y < band.bottom; ++y) {
        const uint32_t r = uint32_t(y - band.top);
        uint32_t u = tile.u + r * m_dudy, v = tile.v + r * m_dvdy;
        uint8_t* d = dst.Row(y) + int64_t(tile.left) * 3;
        if (kind != 1) {
            runProc({m_rows.data(), bpp, d, n, u, v, m_dudx, m_dvdx, &m_blend, m_image->Width()});
            continue;
        }
        for (int32_t i = 0; i < n; ++i, u += m_dudx, v += m_dvdx, d += 3)
            if (((u + 0x8000) >> 16) < w && ((v + 0x8000) >> 16) < h)
                BlendEdge(d, m_rows.data(), bpp, int32_t(w), int32_t(h), int32_t(u), int32_t(v), m_blend);
    }
}

// --- dialog pictures -------------------------------------------------------

std::unique_ptr<TDibBitmap> ScaleDialogImage(int32_t width, int32_t height, bool hasAlpha,
                                             const TMipLevelSource& levels, const TDialogImageRequest& request) {
    if (request.boxWidth <= 0 || request.boxHeight <= 0 || width <= 0 || height <= 0) return nullptr;
    // The smallest level still at least the box, so the picture is reduced
    // from more pixels than it shows and never comes out smaller than asked.
    const int32_t level = ChooseMipLevel(width, height, request.boxWidth, request.boxHeight);
    const TBitmap* picture = levels(level);
    if (!picture) return nullptr;
    const int32_t lw = picture->Width(), lh = picture->Height();
    TPoint fit = FitSize(lw, lh, request.boxWidth, request.boxHeight);
    if (!request.enlarge && lw <= fit.x && lh <= fit.y) fit = {lw, lh};
    if (fit.x <= 0 || fit.y <= 0) return nullptr;

    std::unique_ptr<TBitmap> converted;
    if (!IsRgb24(*picture) && !IsArgb32(*picture)) {
        converted = CreateBitmap(lw, lh, hasAlpha ? PfARGB32() : PfRGB24(), {}, picture, TBitmapClass::DirectBitmap);
        picture = converted.get();
    }
    const TPointF origin{0, 0}, axisX{float(double(fit.x) / lw), 0}, axisY{0, float(double(fit.y) / lh)};
    const TRect box{0, 0, fit.x, fit.y};
    auto colour = std::make_unique<TDibBitmap>(std::make_unique<TFastDIB>(fit.x, fit.y, 24));
    const bool withAlpha = hasAlpha && picture->BytesPerPixel() == 4;
    if (withAlpha) colour->FillRect(box, request.background);
    TBilinearDrawer drawer(8, 8);
    drawer.SetImage(picture);
    drawer.Prepare(box, origin, axisX, axisY);
    drawer.Draw(*colour);
    if (!withAlpha || request.plainBackground) return colour;

    // Pictures that keep their alpha: the colour flattened on the background,
    // and the alpha plane scaled by the same drawer as a grey picture.
    TDirectBitmap alphaPlane(lw, lh, PfRGB24());
    for (int32_t y = 0; y < lh; ++y) {
        const uint8_t* s = picture->Row(y);
        uint8_t* d = alphaPlane.Row(y);
        for (int32_t x = 0; x < lw; ++x) d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[4 * x + 3];
    }
    TDirectBitmap scaledAlpha(fit.x, fit.y, PfRGB24());
    drawer.SetImage(&alphaPlane);
    drawer.Prepare(box, origin, axisX, axisY);
    drawer.Draw(scaledAlpha);
    auto result = std::make_unique<TDibBitmap>(std::make_unique<TFastDIB>(fit.x, fit.y, 32));
    result->CopyRect(box, *colour, {0, 0});
    for (int32_t y = 0; y < fit.y; ++y) {
        const uint8_t* a = scaledAlpha.Row(y);
        uint8_t* d = result->Row(y);
        for (int32_t x = 0; x < fit.x; ++x) d[4 * x + 3] = a[3 * x];
    }
    return result;
}

}  // namespace ql
