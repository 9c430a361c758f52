#include "QlLib/VectorGraphics/qlTextProducer2.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "QlLib/Platform/qlFontSource.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

// ---- TVectorText ----

TPath TVectorText::GetGlyphPath(int32_t line, int32_t index) const {
    const TGlyphInfo info = GetGlyphInfo(line, index);
    const float scale = GlyphSize(line, index) / info.DesignSize;
    TPath path = GetGlyphOutline(line, index);
    for (TPathPoint& p : path) {
        p.x *= scale;
        p.y *= scale;
    }
    return path;
}

TLineInfo TVectorText::GetLineInfo(int32_t line) const {
    TLineInfo result;
    result.Decorations = Decorations();
    const int32_t count = GlyphCount(line);
    if (count == 0) {
        result.Ascent = Ascent();
        result.Descent = Descent();
        return result;
    }
    for (int32_t i = 0; i < count; ++i) {
        const TGlyphInfo info = GetGlyphInfo(line, i);
        const float s = GlyphSize(line, i) / info.DesignSize;
        const float x = static_cast<float>(GlyphX(line, i));
        const float left = x + float(info.AdvanceA) * s;
        const float right = x + float(int64_t(info.AdvanceA) + info.AdvanceB) * s;
        const float end = x + float(int64_t(info.AdvanceA) + info.AdvanceB + info.AdvanceC) * s;
        if (i == 0 || left < result.Left) result.Left = left;
        if (i == 0 || right > result.Right) result.Right = right;
        if (i == 0 || end > result.RightEnd) result.RightEnd = end;
        result.Ascent = std::max(result.Ascent, float(info.Ascent) * s);
        result.Descent = std::max(result.Descent, float(info.Descent) * s);
    }
    return result;
}

// ---- TSimpleVectorText ----

TSimpleVectorText::TSimpleVectorText(const std::vector<std::u16string>& lines, const std::u16string& fontName,
                                     float size, bool bold, bool italic)
    : m_fontName(fontName + (bold ? u" Bold" : u"") + (italic ? u" Italic" : u"")), m_size(size) {
    std::unique_ptr<platform::TFontFace> face = platform::OpenInstalledFont(fontName, bold, italic);
    if (!face) throw EVectorTextError("Font " + ToUtf8(fontName) + " not found");
    const platform::TFontFaceMetrics& fm = face->FaceMetrics();
    const float s = size / fm.DesignSize;
    m_ascent = std::round(float(fm.Ascent) * s);
    m_descent = std::round(float(fm.Descent) * s);
    m_decorations = {float(fm.UnderlinePosition) * s, float(fm.UnderlineThickness) * s,
                     float(fm.StrikeoutPosition) * s, float(fm.StrikeoutThickness) * s};

    std::unordered_map<char16_t, size_t> known;
    platform::TFontGlyphMetrics metrics;
    std::vector<platform::TFontPathPoint> points;
    for (const std::u16string& text : lines) {
        std::vector<TPlaced>& placed = m_lines.emplace_back();
        float pen = 0;
        for (char16_t code : text) {
            auto found = known.find(code);
            if (found == known.end()) {
                TGlyph glyph;
                if (face->LoadGlyph(code, metrics, points)) {
                    glyph.Info = {m_fontName, code, metrics.OriginX, metrics.OriginY, metrics.ExtentX,
                                  metrics.ExtentY, metrics.AdvanceA, metrics.AdvanceB, metrics.AdvanceC,
                                  metrics.Ascent, metrics.Descent, metrics.DesignSize};
                    glyph.Outline.reserve(points.size());
                    for (const auto& p : points) glyph.Outline.push_back({p.x, p.y, p.type});
                } else {
                    glyph.Info.FontName = m_fontName;
                    glyph.Info.Key = code;
                    glyph.Info.DesignSize = fm.DesignSize;
                }
                found = known.emplace(code, m_glyphs.size()).first;
                m_glyphs.push_back(std::move(glyph));
            }
            const TGlyphInfo& info = m_glyphs[found->second].Info;
            placed.push_back({static_cast<int32_t>(std::lround(pen)), found->second});
            pen += float(int64_t(info.AdvanceA) + info.AdvanceB + info.AdvanceC) * s;
        }
    }
}

TSimpleVectorText::~TSimpleVectorText() = default;

const TSimpleVectorText::TPlaced& TSimpleVectorText::Placed(int32_t line, int32_t index) const {
    return m_lines.at(size_t(line)).at(size_t(index));
}

int32_t TSimpleVectorText::GlyphCount(int32_t line) const {
    return static_cast<int32_t>(m_lines.at(size_t(line)).size());
}

TGlyphInfo TSimpleVectorText::GetGlyphInfo(int32_t line, int32_t index) const {
    return m_glyphs[Placed(line, index).Glyph].Info;
}

int32_t TSimpleVectorText::GlyphX(int32_t line, int32_t index) const { return Placed(line, index).X; }

const TPath& TSimpleVectorText::GetGlyphOutline(int32_t line, int32_t index) const {
    return m_glyphs[Placed(line, index).Glyph].Outline;
}

// ---- TTextProducer ----

TTextLayout TTextProducer::Layout(float k) const {
    TTextLayout layout;
    if (!m_text) return layout;
    const int32_t n = m_text->LineCount();
    const float ascent = m_text->Ascent(), descent = m_text->Descent();
    const float lineHeight = (ascent + descent) * k;
    const float gap = lineHeight * float(LineSpacing) / 200.0f;
    for (int32_t i = 0; i < n; ++i) {
        const TLineInfo info = m_text->GetLineInfo(i);
        const float top = float(i) * (lineHeight + gap);
        layout.Lines.push_back(info);
        layout.LineRects.push_back({0, int32_t(std::floor(-ascent * k)), int32_t(std::ceil(k * info.RightEnd)),
                                    int32_t(std::ceil(descent * k))});
        layout.Origins.push_back({0, top + ascent * k});
        layout.Width = std::max(layout.Width, info.RightEnd * k);
        layout.OverhangLeft = std::max(layout.OverhangLeft, -info.Left * k);
        layout.OverhangRight = std::max(layout.OverhangRight, (info.Right - info.RightEnd) * k);
        layout.OverhangTop = std::max(layout.OverhangTop, (info.Ascent - ascent) * k);
        layout.OverhangBottom = std::max(layout.OverhangBottom, (info.Descent - descent) * k);
    }
    if (n > 0) layout.Height = float(n) * lineHeight + float(n - 1) * gap;
    const double w = std::ceil(double(layout.OverhangLeft) + layout.Width + layout.OverhangRight + 2);
    const double h = std::ceil(double(layout.Height) + layout.OverhangTop + layout.OverhangBottom + 2);
    // Sizes come from show data: a text too large for any picture is an error,
    // not an allocation.
    if (!(w >= 1 && w <= kMaxBitmapSide && h >= 1 && h <= kMaxBitmapSide && w * h <= kMaxTextPicturePixels))
        throw EVectorTextError("Text picture too large");
    layout.PictureWidth = int32_t(w);
    layout.PictureHeight = int32_t(h);
    return layout;
}

std::unique_ptr<TBitmap> TTextProducer::Render(uint32_t textColour, uint32_t background, TPointF origin,
                                               bool underline, bool strikeout, float k,
                                               const TProgressHandler& progress) const {
    const TTextLayout layout = Layout(k);
    const uint32_t clear = textColour & 0x00FFFFFF;
    TRasterHelper helper;
    helper.BeginPaint(std::max(1, layout.PictureWidth), std::max(1, layout.PictureHeight), clear);
    helper.SetColour(textColour);
    const int32_t n = m_text ? m_text->LineCount() : 0;
    try {
        for (int32_t i = 0; i < n; ++i) {
            const float lineWidth = layout.Lines[size_t(i)].RightEnd * k;
            float x = layout.Origins[size_t(i)].x + origin.x + 1 + layout.OverhangLeft;
            if (Alignment == 1) x += (layout.Width - lineWidth) / 2;
            if (Alignment == 2) x += layout.Width - lineWidth;
            const float y = layout.Origins[size_t(i)].y + origin.y + 1 + layout.OverhangTop;
            for (int32_t g = 0, count = m_text->GlyphCount(i); g < count; ++g) {
                const float gx = x + float(m_text->GlyphX(i, g)) * k;
                helper.SetMatrix({k, 0, 0, k, gx, y});
                helper.FillPath(m_text->GetGlyphPath(i, g));
            }
            helper.SetIdentity();
            const TTextDecorations& d = layout.Lines[size_t(i)].Decorations;
            auto bar = [&](float position, float thickness) {
                const TPointF box[4] = {{x, y - position * k},
                                        {x + lineWidth, y - position * k},
                                        {x + lineWidth, y + (thickness - position) * k},
                                        {x, y + (thickness - position) * k}};
                helper.FillPolygon(box, 4);
            };
            if (underline) bar(d.UnderlinePosition, d.UnderlineThickness);
            if (strikeout) bar(d.StrikeoutPosition, d.StrikeoutThickness);
            if (progress && !progress(float(i + 1) / float(n))) break;
        }
    } catch (...) {
        helper.EndPaint();
        throw;
    }
    std::unique_ptr<TBitmap> picture = helper.EndPaint();
    if (background != clear) {
        const uint8_t bg[4] = {uint8_t(background), uint8_t(background >> 8), uint8_t(background >> 16),
                               uint8_t(background >> 24)};
        for (int32_t y = 0; y < picture->Height(); ++y) {
            uint8_t* p = picture->Row(y);
            for (int32_t x = 0; x < picture->Width(); ++x, p += 4) {
                if (p[3] == 255) continue;
                const uint32_t colour = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                        uint32_t(p[3]) << 24;
                std::copy(bg, bg + 4, p);
                BlendPixel(p, colour);
            }
        }
    }
    return picture;
}

}  // namespace ql
