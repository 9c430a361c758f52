#include "QlLib/VectorGraphics/qlGlyphCache.h"

#include <cmath>

#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

// Streams of unknown size still may not ask for more items than this.
constexpr int64_t kMaxCountOfUnknownSize = 1 << 20;
// Stored glyph sizes are text pixels; nothing sensible is larger.
constexpr float kMaxGlyphSize = 100000.0f;

int32_t ReadInt32(TStream& stream) { return static_cast<int32_t>(stream.ReadDWord()); }

// A count read from the stream, checked against the bytes left when each item
// takes at least bytesEach bytes.
int32_t CheckedCount(TStream& stream, int64_t bytesEach) {
    const int32_t count = ReadInt32(stream);
    const int64_t left = stream.Remaining();
    const int64_t limit = left >= 0 ? left / bytesEach : kMaxCountOfUnknownSize;
    if (count < 0 || count > limit) throw EStreamReadError();
    return count;
}

std::u16string ReadString(TStream& stream) {
    const int32_t length = ReadInt32(stream);
    if (length < 0) throw EStreamReadError();
    return stream.ReadWideChars(length);  // checks the length against the bytes left
}

void WriteString(TStream& stream, const std::u16string& text) {
    stream.WriteDWord(static_cast<uint32_t>(text.size()));
    stream.WriteWide(text);
}

void WriteFloat(TStream& stream, float value) { stream.WriteBuffer(&value, sizeof value); }

// NaN is refused; very large values are pulled in to the bound.
float CheckedCoordinate(float value) {
    if (std::isnan(value)) throw EStreamReadError("Glyph point is not a number");
    return std::clamp(value, -kMaxGlyphCoordinate, kMaxGlyphCoordinate);
}

float CheckedFloat(TStream& stream) {
    const float value = stream.ReadFloat();
    if (!std::isfinite(value)) throw EStreamReadError("Stored value is not a number");
    return value;
}

// Every point type must be known, a contour must start with a move, and
// every curve must have the points it needs.
void CheckPath(const TPath& path) {
    const size_t n = path.size();
    for (size_t i = 0; i < n; ++i) {
        const int32_t type = path[i].type;
        if (i == 0 && type != ptMoveTo) throw EStreamReadError("Glyph path without a start point");
        switch (type) {
            case ptMoveTo:
            case ptLineTo:
            case ptClose:
                break;
            case ptQuadTo:
                if (i + 1 >= n) throw EStreamReadError("Glyph curve without its end point");
                i += 1;
                break;
            case ptCubicTo:
                if (i + 2 >= n) throw EStreamReadError("Glyph curve without its end point");
                i += 2;
                break;
            default:
                throw EStreamReadError("Unknown Path Command");
        }
    }
}

}  // namespace

// ---- TGlyphCache ----

const TGlyphData* TGlyphCache::Find(uint16_t key) const {
    const auto found = m_index.find(key);
    return found == m_index.end() ? nullptr : &m_glyphs[found->second];
}

void TGlyphCache::Add(TGlyphData glyph) {
    // The stored form keeps no advance: the black box stands for it, so a
    // glyph behaves the same before and after a trip through a stream.
    glyph.Info.Key = glyph.Key;
    glyph.Info.FontName = m_fontName;
    glyph.Info.AdvanceA = glyph.Info.OriginX;
    glyph.Info.AdvanceB = glyph.Info.ExtentX;
    glyph.Info.AdvanceC = 0;
    if (const auto found = m_index.find(glyph.Key); found != m_index.end()) {
        m_glyphs[found->second] = std::move(glyph);
        return;
    }
    m_index.emplace(glyph.Key, m_glyphs.size());
    m_glyphs.push_back(std::move(glyph));
}

void TGlyphCache::LoadFromStream(TStream& stream) {
    // Key, seven metric integers, design size and point count.
    constexpr int64_t kGlyphBytes = 2 + 7 * 4 + 4 + 4;
    const int32_t count = CheckedCount(stream, kGlyphBytes);
    // Read into a cache of its own, so that a stream that breaks off leaves
    // this one as it was. Reference-counted objects live on the heap.
    const TRef<TGlyphCache> staged = MakeRef<TGlyphCache>(ReadString(stream));
    TGlyphCache& loaded = *staged;
    for (int32_t i = 0; i < count; ++i) {
        TGlyphData glyph;
        glyph.Key = stream.ReadWord();
        TGlyphInfo& info = glyph.Info;
        info.OriginX = ReadInt32(stream);
        info.OriginY = ReadInt32(stream);
        info.ExtentX = ReadInt32(stream);
        info.ExtentY = ReadInt32(stream);
        info.Ascent = ReadInt32(stream);
        info.Descent = ReadInt32(stream);
        info.DesignSize = stream.ReadFloat();
        if (!(info.DesignSize > 0 && info.DesignSize <= kMaxGlyphCoordinate))
            throw EStreamReadError("Glyph design size out of range");
        const int32_t points = CheckedCount(stream, 12);
        glyph.Path.resize(size_t(points));
        for (TPathPoint& p : glyph.Path) {
            p.x = CheckedCoordinate(stream.ReadFloat());
            p.y = CheckedCoordinate(stream.ReadFloat());
            p.type = ReadInt32(stream);
        }
        CheckPath(glyph.Path);
        loaded.Add(std::move(glyph));
    }
    m_fontName = std::move(loaded.m_fontName);
    m_glyphs = std::move(loaded.m_glyphs);
    m_index = std::move(loaded.m_index);
}

void TGlyphCache::SaveToStream(TStream& stream) const {
    stream.WriteDWord(static_cast<uint32_t>(m_glyphs.size()));
    WriteString(stream, m_fontName);
    for (const TGlyphData& glyph : m_glyphs) {
        const TGlyphInfo& info = glyph.Info;
        stream.WriteWord(glyph.Key);
        for (int32_t value : {info.OriginX, info.OriginY, info.ExtentX, info.ExtentY, info.Ascent, info.Descent})
            stream.WriteDWord(static_cast<uint32_t>(value));
        WriteFloat(stream, info.DesignSize);
        stream.WriteDWord(static_cast<uint32_t>(glyph.Path.size()));
        for (const TPathPoint& p : glyph.Path) {
            WriteFloat(stream, p.x);
            WriteFloat(stream, p.y);
            stream.WriteDWord(static_cast<uint32_t>(p.type));
        }
    }
}

// ---- TFontCache ----

TFontCache& TFontCache::Program() {
    static TFontCache cache;
    return cache;
}

void TFontCache::SetIdentity(const std::u16string& identity) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (identity == m_identity) return;
    m_identity = identity;
    m_fonts.clear();
    m_tried.clear();
    ++m_openerGeneration;
}

std::u16string TFontCache::Identity() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_identity;
}

void TFontCache::SetOpener(TEntryOpener opener) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_opener = std::move(opener);
    m_tried.clear();
    ++m_openerGeneration;
}

void TFontCache::RequireFont(const std::u16string& fontName) {
    TEntryOpener opener;
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_fonts.count(fontName) || m_tried.count(fontName) || !m_opener) return;
        m_tried[fontName] = true;
        opener = m_opener;
        generation = m_openerGeneration;
    }
    // The entry is opened and read without the cache's lock: opening takes
    // the show's file-source lock, and a picture maker holding that lock may
    // set a new opener here, so holding both would deadlock the two threads.
    try {
        std::unique_ptr<TStream> stream = opener(kGlyphCacheEntryPrefix + fontName);
        if (!stream) return;
        auto cache = MakeRef<TGlyphCache>();
        cache->LoadFromStream(*stream);
        std::lock_guard<std::mutex> guard(m_lock);
        if (generation == m_openerGeneration) m_fonts.emplace(fontName, cache);
    } catch (const Exception&) {
        // A damaged cache leaves the font unknown: its texts are not drawn.
    }
}

TRef<TGlyphCache> TFontCache::Find(const std::u16string& fontName) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_fonts.find(fontName);
    return found == m_fonts.end() ? TRef<TGlyphCache>() : found->second;
}

void TFontCache::Add(TRef<TGlyphCache> cache) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_fonts[cache->FontName()] = cache;
}

void TFontCache::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_fonts.clear();
    m_tried.clear();
    ++m_openerGeneration;
}

// ---- TCachedVectorText ----

void TCachedVectorText::LoadFromStream(TStream& stream, TFontCache& fonts) {
    const int32_t lineCount = CheckedCount(stream, 4);
    const int32_t ascent = ReadInt32(stream), descent = ReadInt32(stream);
    TTextDecorations decorations;
    decorations.UnderlinePosition = CheckedFloat(stream);
    decorations.UnderlineThickness = CheckedFloat(stream);
    decorations.StrikeoutPosition = CheckedFloat(stream);
    decorations.StrikeoutThickness = CheckedFloat(stream);
    std::vector<TGlyphLine> lines(static_cast<size_t>(lineCount));
    for (TGlyphLine& line : lines) {
        // x, size, key and the font name's length.
        const int32_t glyphs = CheckedCount(stream, 4 + 4 + 2 + 4);
        line.resize(size_t(glyphs));
        for (TGlyphPointer& pointer : line) {
            pointer.X = ReadInt32(stream);
            pointer.Size = stream.ReadFloat();
            if (!(pointer.Size >= 0 && pointer.Size <= kMaxGlyphSize))
                throw EStreamReadError("Glyph size out of range");
            pointer.Key = stream.ReadWord();
            pointer.FontName = ReadString(stream);
            fonts.RequireFont(pointer.FontName);
        }
    }
    m_lines = std::move(lines);
    m_ascent = ascent;
    m_descent = descent;
    m_decorations = decorations;
    m_resolved.clear();
}

void TCachedVectorText::SaveToStream(TStream& stream) const {
    stream.WriteDWord(static_cast<uint32_t>(m_lines.size()));
    stream.WriteDWord(static_cast<uint32_t>(m_ascent));
    stream.WriteDWord(static_cast<uint32_t>(m_descent));
    for (float value : {m_decorations.UnderlinePosition, m_decorations.UnderlineThickness,
                        m_decorations.StrikeoutPosition, m_decorations.StrikeoutThickness})
        WriteFloat(stream, value);
    for (const TGlyphLine& line : m_lines) {
        stream.WriteDWord(static_cast<uint32_t>(line.size()));
        for (const TGlyphPointer& pointer : line) {
            stream.WriteDWord(static_cast<uint32_t>(pointer.X));
            WriteFloat(stream, pointer.Size);
            stream.WriteWord(pointer.Key);
            WriteString(stream, pointer.FontName);
        }
    }
}

std::unique_ptr<TCachedVectorText> TCachedVectorText::FromVectorText(const TVectorText& text,
                                                                     const TFontCache& fonts) {
    auto result = std::make_unique<TCachedVectorText>(fonts);
    for (int32_t i = 0; i < text.LineCount(); ++i) {
        TGlyphLine& line = result->m_lines.emplace_back();
        for (int32_t g = 0; g < text.GlyphCount(i); ++g) {
            const TGlyphInfo info = text.GetGlyphInfo(i, g);
            line.push_back({text.GlyphX(i, g), text.GlyphSize(i, g), info.Key, info.FontName});
        }
    }
    result->m_ascent = static_cast<int32_t>(std::lround(text.Ascent()));
    result->m_descent = static_cast<int32_t>(std::lround(text.Descent()));
    result->m_decorations = text.Decorations();
    return result;
}

const TGlyphPointer& TCachedVectorText::Pointer(int32_t line, int32_t index) const {
    return m_lines.at(size_t(line)).at(size_t(index));
}

const TGlyphData& TCachedVectorText::Resolve(const TGlyphPointer& pointer) const {
    auto found = m_resolved.find(pointer.FontName);
    if (found == m_resolved.end()) {
        TRef<TGlyphCache> cache = m_fonts->Find(pointer.FontName);
        if (!cache) throw EVectorTextError("Font " + ToUtf8(pointer.FontName) + " not found");
        found = m_resolved.emplace(pointer.FontName, cache).first;
    }
    const TGlyphData* glyph = found->second->Find(pointer.Key);
    if (!glyph)
        throw EVectorTextError("Glyph " + ToUtf8(pointer.FontName) + " " + std::to_string(pointer.Key) +
                               " not found");
    return *glyph;
}

int32_t TCachedVectorText::GlyphCount(int32_t line) const {
    return static_cast<int32_t>(m_lines.at(size_t(line)).size());
}

TGlyphInfo TCachedVectorText::GetGlyphInfo(int32_t line, int32_t index) const {
    return Resolve(Pointer(line, index)).Info;
}

int32_t TCachedVectorText::GlyphX(int32_t line, int32_t index) const { return Pointer(line, index).X; }

float TCachedVectorText::GlyphSize(int32_t line, int32_t index) const { return Pointer(line, index).Size; }

const TPath& TCachedVectorText::GetGlyphOutline(int32_t line, int32_t index) const {
    return Resolve(Pointer(line, index)).Path;
}

void AddGlyphsOf(const TVectorText& text, TFontCache& fonts) {
    for (int32_t i = 0; i < text.LineCount(); ++i) {
        for (int32_t g = 0; g < text.GlyphCount(i); ++g) {
            const TGlyphInfo info = text.GetGlyphInfo(i, g);
            TRef<TGlyphCache> cache = fonts.Find(info.FontName);
            if (!cache) {
                cache = MakeRef<TGlyphCache>(info.FontName);
                fonts.Add(cache);
            }
            if (!cache->Find(info.Key)) cache->Add({info.Key, info, text.GetGlyphOutline(i, g)});
        }
    }
}

std::unique_ptr<TCachedVectorText> LoadCachedVectorText(TStream& stream, TFontCache& fonts) {
    try {
        auto text = std::make_unique<TCachedVectorText>(fonts);
        text->LoadFromStream(stream, fonts);
        for (int32_t i = 0; i < text->LineCount(); ++i)
            for (int32_t g = 0; g < text->GlyphCount(i); ++g) text->GetGlyphInfo(i, g);
        return text;
    } catch (const Exception&) {
        return nullptr;
    }
}

}  // namespace ql
