// Glyph caches (outlines and metrics of the glyphs of one font, as stored in
// the show package) and the vector text that refers to them, so that a show's
// texts look the same on a machine without its fonts.
//
// Both stream formats come from the package and are checked as they are read:
// every count against the bytes left, every string length likewise, every
// path for the points its curves need, and every coordinate for NaN and size.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "QlLib/VectorGraphics/qlTextProducer2.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// The package entry of a font's glyph cache is this prefix and the font name.
inline constexpr char16_t kGlyphCacheEntryPrefix[] = u"VectTextCache: ";

// Coordinates of stored outlines are kept within this many font units either
// way; fonts use a few thousand.
constexpr float kMaxGlyphCoordinate = 1.0e6f;

struct TGlyphData {
    uint16_t Key = 0;
    TGlyphInfo Info;  // advance parts: A = origin x, B = extent x, C = 0 (not stored)
    TPath Path;       // design units
};

class TGlyphCache : public TRefObj {
public:
    explicit TGlyphCache(std::u16string fontName = {}) : m_fontName(std::move(fontName)) {}
    const std::u16string& FontName() const { return m_fontName; }
    int32_t Count() const { return static_cast<int32_t>(m_glyphs.size()); }
    const TGlyphData& Glyph(int32_t index) const { return m_glyphs[size_t(index)]; }
    // Nothing when the font has no glyph for the key.
    const TGlyphData* Find(uint16_t key) const;
    // A glyph with a key already present replaces it.
    void Add(TGlyphData glyph);

    // Raises EStreamReadError on a short or malformed stream (nothing kept then).
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream) const;

private:
    std::u16string m_fontName;
    std::vector<TGlyphData> m_glyphs;
    std::unordered_map<uint16_t, size_t> m_index;
};

// Opens a package entry by name; nothing when the package lacks it.
using TEntryOpener = std::function<std::unique_ptr<TStream>(const std::u16string& name)>;

// The glyph caches of the running show, loaded once per font and shared by
// all its texts. Safe to use from several threads.
class TFontCache : public TObj {
public:
    // The program-wide cache.
    static TFontCache& Program();

    // A new identity (the show's "ExeGUID" text) drops the caches of the
    // previous show.
    void SetIdentity(const std::u16string& identity);
    std::u16string Identity() const;
    void SetOpener(TEntryOpener opener);

    // Loads the font's cache from the package on first request; a missing or
    // damaged entry leaves the font unknown (texts using it are not drawn).
    void RequireFont(const std::u16string& fontName);
    TRef<TGlyphCache> Find(const std::u16string& fontName) const;
    void Add(TRef<TGlyphCache> cache);
    void Clear();

private:
    mutable std::mutex m_lock;  // guards all fields below
    std::u16string m_identity;
    TEntryOpener m_opener;
    std::unordered_map<std::u16string, TRef<TGlyphCache>> m_fonts;
    std::unordered_map<std::u16string, bool> m_tried;  // fonts whose entry was looked for
    uint64_t m_openerGeneration = 0;  // counts new openers and clears: a font read before one is dropped
};

struct TGlyphPointer {
    int32_t X = 0;
    float Size = 0;
    uint16_t Key = 0;
    std::u16string FontName;
};
using TGlyphLine = std::vector<TGlyphPointer>;

class TCachedVectorText : public TVectorText {
public:
    // Glyphs are looked up in the font cache, which must outlive the text.
    explicit TCachedVectorText(const TFontCache& fonts) : m_fonts(&fonts) {}

    // Reads the stored form; each font name met is given to fonts.RequireFont.
    // Raises EStreamReadError on a short or malformed stream.
    void LoadFromStream(TStream& stream, TFontCache& fonts);
    void SaveToStream(TStream& stream) const;

    // The stored form of any vector text (its glyphs go into the font cache
    // with AddGlyphsOf).
    static std::unique_ptr<TCachedVectorText> FromVectorText(const TVectorText& text, const TFontCache& fonts);

    int32_t LineCount() const override { return static_cast<int32_t>(m_lines.size()); }
    int32_t GlyphCount(int32_t line) const override;
    TGlyphInfo GetGlyphInfo(int32_t line, int32_t index) const override;
    int32_t GlyphX(int32_t line, int32_t index) const override;
    float GlyphSize(int32_t line, int32_t index) const override;
    const TPath& GetGlyphOutline(int32_t line, int32_t index) const override;
    float Ascent() const override { return float(m_ascent); }
    float Descent() const override { return float(m_descent); }
    TTextDecorations Decorations() const override { return m_decorations; }

    const std::vector<TGlyphLine>& Lines() const { return m_lines; }

private:
    const TGlyphPointer& Pointer(int32_t line, int32_t index) const;
    // Raises "Font ... not found" / "Glyph ... not found".
    const TGlyphData& Resolve(const TGlyphPointer& pointer) const;

    const TFontCache* m_fonts;
    std::vector<TGlyphLine> m_lines;
    int32_t m_ascent = 0, m_descent = 0;
    TTextDecorations m_decorations;
    // Caches looked up so far; holding them keeps their glyphs alive.
    mutable std::unordered_map<std::u16string, TRef<TGlyphCache>> m_resolved;
};

// Adds every glyph of a text to the glyph caches of its fonts (made when absent).
void AddGlyphsOf(const TVectorText& text, TFontCache& fonts);

// Reads a stored text and checks that all its glyphs resolve; nothing (no
// text to draw) when the stream is damaged or a font or glyph is missing.
std::unique_ptr<TCachedVectorText> LoadCachedVectorText(TStream& stream, TFontCache& fonts);

}  // namespace ql
