// Vector texts (lines of glyph outlines with their metrics) and the text
// producer that lays them out and paints them into an "A8R8G8B8" picture.
//
// Units: glyph metrics and outlines are in the glyph's design units; a glyph
// shown at size S is scaled by S / DesignSize into text pixels; the producer
// scales text pixels by its raster scale k into picture pixels. Paths have y
// pointing down from the baseline; metrics have it pointing up.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/VectorGraphics/qlRasterizerUtils.h"

namespace ql {

QL_COMMON_EXCEPTION(EVectorTextError, TCommonException);

// The largest text picture made (8192 x 8192); stored texts asking for more
// raise EVectorTextError instead of allocating.
constexpr double kMaxTextPicturePixels = double(1 << 26);

struct TGlyphInfo {
    std::u16string FontName;
    uint16_t Key = 0;
    int32_t OriginX = 0, OriginY = 0;  // black box's upper-left corner from the pen, y up
    int32_t ExtentX = 0, ExtentY = 0;
    int32_t AdvanceA = 0, AdvanceB = 0, AdvanceC = 0;  // their sum is the advance
    int32_t Ascent = 0, Descent = 0;
    float DesignSize = 1;
};

// Decoration bars measured upward from the baseline to the bar's top.
struct TTextDecorations {
    float UnderlinePosition = 0, UnderlineThickness = 0;
    float StrikeoutPosition = 0, StrikeoutThickness = 0;
};

// A line in text pixels.
struct TLineInfo {
    float Left = 0;      // smallest left edge of the ink
    float Right = 0;     // largest right edge of the ink
    float RightEnd = 0;  // largest pen position after a glyph (advance sum)
    float Ascent = 0, Descent = 0;
    TTextDecorations Decorations;
};

class TVectorText : public TObj {
public:
    virtual int32_t LineCount() const = 0;
    virtual int32_t GlyphCount(int32_t line) const = 0;
    // Raises EVectorTextError when the glyph's font or outline is unknown.
    virtual TGlyphInfo GetGlyphInfo(int32_t line, int32_t index) const = 0;
    // Pen position in text pixels.
    virtual int32_t GlyphX(int32_t line, int32_t index) const = 0;
    virtual float GlyphSize(int32_t line, int32_t index) const = 0;
    // The outline in design units; raises like GetGlyphInfo.
    virtual const TPath& GetGlyphOutline(int32_t line, int32_t index) const = 0;
    // Text-wide ascent and descent in text pixels (what empty lines keep).
    virtual float Ascent() const = 0;
    virtual float Descent() const = 0;
    virtual TTextDecorations Decorations() const = 0;

    // The outline scaled to the glyph's size (size / design size), in text pixels.
    TPath GetGlyphPath(int32_t line, int32_t index) const;
    // An empty line has no ink and the text's ascent and descent.
    virtual TLineInfo GetLineInfo(int32_t line) const;
};

// A text set in an installed font, one glyph per UTF-16 code unit, pens on
// whole text pixels. The glyphs carry the font name as written (with " Bold"
// and " Italic" appended for those styles), which names their glyph cache.
class TSimpleVectorText : public TVectorText {
public:
    // size: the em size in text pixels. An installed font must exist (the
    // fallback at least); raises EVectorTextError otherwise.
    TSimpleVectorText(const std::vector<std::u16string>& lines, const std::u16string& fontName, float size,
                      bool bold = false, bool italic = false);
    ~TSimpleVectorText() override;

    int32_t LineCount() const override { return static_cast<int32_t>(m_lines.size()); }
    int32_t GlyphCount(int32_t line) const override;
    TGlyphInfo GetGlyphInfo(int32_t line, int32_t index) const override;
    int32_t GlyphX(int32_t line, int32_t index) const override;
    float GlyphSize(int32_t line, int32_t index) const override { return m_size; }
    const TPath& GetGlyphOutline(int32_t line, int32_t index) const override;
    float Ascent() const override { return m_ascent; }
    float Descent() const override { return m_descent; }
    TTextDecorations Decorations() const override { return m_decorations; }

    const std::u16string& FontName() const { return m_fontName; }

private:
    struct TGlyph {
        TGlyphInfo Info;
        TPath Outline;
    };
    struct TPlaced {
        int32_t X;
        size_t Glyph;
    };
    const TPlaced& Placed(int32_t line, int32_t index) const;

    std::u16string m_fontName;
    float m_size;
    float m_ascent = 0, m_descent = 0;
    TTextDecorations m_decorations;
    std::vector<TGlyph> m_glyphs;
    std::vector<std::vector<TPlaced>> m_lines;
};

// Where the producer puts each line, in picture pixels at scale k.
struct TTextLayout {
    std::vector<TRect> LineRects;    // per line: (0, floor(-ascent k), ceil(k width), ceil(descent k))
    std::vector<TPointF> Origins;    // per line: the baseline's left end, before the overhangs
    std::vector<TLineInfo> Lines;
    float Width = 0, Height = 0;     // widest line; lines with their spacing
    float OverhangLeft = 0, OverhangRight = 0, OverhangTop = 0, OverhangBottom = 0;
    int32_t PictureWidth = 0, PictureHeight = 0;
};

class TTextProducer : public TObj {
public:
    // The text stays the caller's.
    void SetText(const TVectorText* text) {
        m_owned.reset();
        m_text = text;
    }
    void SetText(std::unique_ptr<TVectorText> text) {
        m_owned = std::move(text);
        m_text = m_owned.get();
    }
    const TVectorText* Text() const { return m_text; }

    int32_t LineSpacing = 0;  // percent of a line added between lines
    int32_t Alignment = 0;    // 0 left, 1 centre, 2 right

    TTextLayout Layout(float scale) const;
    // The text painted in the text colour over the background colour. The
    // picture is the caller's to register. A cancel from the progress handler
    // ends painting after the current line (the partial picture comes back).
    // Raises EVectorTextError for unknown fonts and glyphs.
    std::unique_ptr<TBitmap> Render(uint32_t textColour, uint32_t background, TPointF origin, bool underline,
                                    bool strikeout, float scale, const TProgressHandler& progress = {}) const;

private:
    std::unique_ptr<TVectorText> m_owned;
    const TVectorText* m_text = nullptr;
};

}  // namespace ql
