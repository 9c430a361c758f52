#include "QlLib/Platform/qlFontSource.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include "QlLib/qpStringUtils.h"

namespace ql::platform {

struct TFontFace::TEngine {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    ~TEngine() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }
};

TFontFace::~TFontFace() = default;

namespace {

// Collects FreeType's outline walk as path points. FreeType measures y upward;
// paths measure it downward.
struct TDecomposer {
    std::vector<TFontPathPoint>* path;
    bool open = false;
    TFontPathPoint start;

    void Add(const FT_Vector* v, int32_t type) {
        path->push_back({static_cast<float>(v->x), -static_cast<float>(v->y), type});
    }
    void CloseContour() {
        if (open) path->push_back({start.x, start.y, 9});
        open = false;
    }
    static TDecomposer& Of(void* user) { return *static_cast<TDecomposer*>(user); }
    static int MoveTo(const FT_Vector* to, void* user) {
        TDecomposer& d = Of(user);
        d.CloseContour();
        d.Add(to, 0);
        d.start = d.path->back();
        d.open = true;
        return 0;
    }
    static int LineTo(const FT_Vector* to, void* user) {
        Of(user).Add(to, 1);
        return 0;
    }
    static int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
        Of(user).Add(control, 2);
        Of(user).Add(to, 2);
        return 0;
    }
    static int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
        Of(user).Add(c1, 3);
        Of(user).Add(c2, 3);
        Of(user).Add(to, 3);
        return 0;
    }
};

int32_t Clamp32(FT_Long value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

std::mutex g_fontconfigLock;  // fontconfig's configuration is set up once and shared

// The file and face index of the best match; false when fontconfig has none.
bool MatchFont(const std::string& family, bool bold, bool italic, std::string& file, int& index) {
    std::lock_guard<std::mutex> guard(g_fontconfigLock);
    // fontconfig's configuration lives until the process ends and is handed
    // back then, so that leak checkers see a clean exit.
    struct TFontconfig {
        bool ready = FcInit() != FcFalse;
        ~TFontconfig() {
            if (ready) FcFini();
        }
    };
    static TFontconfig fontconfig;
    if (!fontconfig.ready) return false;
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    // The fallback family goes last, so a missing font still looks like text.
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("DejaVu Sans"));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return false;
    FcChar8* path = nullptr;
    bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path;
    if (found) {
        file = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    }
    FcPatternDestroy(match);
    return found;
}

}  // namespace

std::unique_ptr<TFontFace> OpenFontFile(const std::string& fileName, int32_t faceIndex) {
    auto engine = std::make_unique<TFontFace::TEngine>();
    if (FT_Init_FreeType(&engine->library) != 0) return nullptr;
    if (FT_New_Face(engine->library, fileName.c_str(), faceIndex, &engine->face) != 0) return nullptr;
    FT_Face face = engine->face;
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;

    std::unique_ptr<TFontFace> result(new TFontFace());
    TFontFaceMetrics& m = result->m_faceMetrics;
    m.DesignSize = static_cast<float>(face->units_per_EM);
    m.Ascent = face->ascender;
    m.Descent = -face->descender;
    m.UnderlineThickness = face->underline_thickness;
    // FreeType gives the centre of the underline bar; ours is its top.
    m.UnderlinePosition = face->underline_position + face->underline_thickness / 2;
    m.StrikeoutThickness = m.UnderlineThickness;
    m.StrikeoutPosition = face->units_per_EM / 4 + m.StrikeoutThickness;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2)); os2 && os2->version != 0xFFFF) {
        if (os2->usWinAscent + os2->usWinDescent > 0) {
            m.Ascent = os2->usWinAscent;
            m.Descent = os2->usWinDescent;
        }
        if (os2->yStrikeoutSize > 0) {
            m.StrikeoutThickness = os2->yStrikeoutSize;
            m.StrikeoutPosition = os2->yStrikeoutPosition;
        }
    }
    if (m.UnderlineThickness <= 0) {
        m.UnderlineThickness = std::max<int32_t>(1, face->units_per_EM / 20);
        m.UnderlinePosition = -face->units_per_EM / 10;
    }
    result->m_familyName = face->family_name ? FromUtf8(face->family_name) : std::u16string();
    result->m_fileName = fileName;
    result->m_engine = std::move(engine);
    return result;
}

std::unique_ptr<TFontFace> OpenInstalledFont(const std::u16string& family, bool bold, bool italic) {
    std::string file;
    int index = 0;
    if (MatchFont(ToUtf8(family), bold, italic, file, index))
        if (auto face = OpenFontFile(file, index)) return face;
    // fontconfig without configuration still leaves the packaged DejaVu.
    return OpenFontFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0);
}

bool TFontFace::LoadGlyph(char32_t code, TFontGlyphMetrics& metrics, std::vector<TFontPathPoint>& path) {
    std::lock_guard<std::mutex> guard(m_lock);
    FT_Face face = m_engine->face;
    const FT_UInt index = FT_Get_Char_Index(face, code);
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) != 0) return false;
    const FT_GlyphSlot slot = face->glyph;
    const FT_Glyph_Metrics& g = slot->metrics;
    metrics.OriginX = Clamp32(g.horiBearingX);
    metrics.OriginY = Clamp32(g.horiBearingY);
    metrics.ExtentX = Clamp32(g.width);
    metrics.ExtentY = Clamp32(g.height);
    metrics.AdvanceA = metrics.OriginX;
    metrics.AdvanceB = metrics.ExtentX;
    metrics.AdvanceC = Clamp32(g.horiAdvance - g.horiBearingX - g.width);
    metrics.Ascent = m_faceMetrics.Ascent;
    metrics.Descent = m_faceMetrics.Descent;
    metrics.DesignSize = m_faceMetrics.DesignSize;

    path.clear();
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return true;
    FT_Outline_Funcs funcs{};
    funcs.move_to = &TDecomposer::MoveTo;
    funcs.line_to = &TDecomposer::LineTo;
    funcs.conic_to = &TDecomposer::ConicTo;
    funcs.cubic_to = &TDecomposer::CubicTo;
    TDecomposer decomposer{&path, false, {}};
    if (FT_Outline_Decompose(&slot->outline, &funcs, &decomposer) != 0) {
        path.clear();
        return true;
    }
    decomposer.CloseContour();
    return true;
}

}  // namespace ql::platform
