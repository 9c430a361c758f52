// The operating system's font service: finds an installed font by family name
// and style, and hands out glyph outlines and metrics in font units.
//
// Outlines come out as path points (type 0 move to, 1 line to, 2 quadratic
// control point followed by its end point, 3 two cubic control points followed
// by their end point, 9 close) with y pointing down, so that they go straight
// into the rasterizer's paths. Metrics keep the usual upward y of fonts.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QlLib/SysObj.h"

namespace ql::platform {

struct TFontPathPoint {
    float x = 0, y = 0;
    int32_t type = 0;
};

// One glyph in font units (design size units per em).
//
// How the font engine's metrics become these, decided once here:
// - black box: OriginX = left bearing, OriginY = top of the box above the
//   baseline, ExtentX / ExtentY = width and height of the box;
// - the three advance parts: A = left bearing, B = box width, C = advance
//   width minus A and B (negative when the ink overhangs), so A + B + C is the
//   advance;
// - Ascent / Descent: the face's, both positive (see TFontFaceMetrics);
// - DesignSize: the face's units per em, the size the outline is drawn at.
struct TFontGlyphMetrics {
    int32_t OriginX = 0, OriginY = 0;
    int32_t ExtentX = 0, ExtentY = 0;
    int32_t AdvanceA = 0, AdvanceB = 0, AdvanceC = 0;
    int32_t Ascent = 0, Descent = 0;
    float DesignSize = 0;
};

// Face-wide values in font units. Ascent and descent are the ones that clip
// nothing of the face (the OS/2 table's windows values when the face has them,
// else the horizontal header's); decorations are measured upward from the
// baseline to the top of the bar, so an underline's position is negative.
struct TFontFaceMetrics {
    int32_t Ascent = 0, Descent = 0;
    float DesignSize = 0;
    int32_t UnderlinePosition = 0, UnderlineThickness = 0;
    int32_t StrikeoutPosition = 0, StrikeoutThickness = 0;
};

class TFontFace : public TObj {
public:
    ~TFontFace() override;
    // The family name the match settled on (the fallback's when the wanted
    // family is not installed).
    const std::u16string& FamilyName() const { return m_familyName; }
    const std::string& FileName() const { return m_fileName; }
    const TFontFaceMetrics& FaceMetrics() const { return m_faceMetrics; }

    // The glyph of a character (the face's missing-glyph box when the face
    // lacks it). False only when the face cannot load even that.
    bool LoadGlyph(char32_t code, TFontGlyphMetrics& metrics, std::vector<TFontPathPoint>& path);

private:
    friend std::unique_ptr<TFontFace> OpenFontFile(const std::string&, int32_t);
    TFontFace() = default;

    struct TEngine;
    std::unique_ptr<TEngine> m_engine;  // the font engine's library and face
    std::mutex m_lock;                  // guards m_engine: a face is not reentrant
    std::u16string m_familyName;
    std::string m_fileName;
    TFontFaceMetrics m_faceMetrics;
};

// The installed font that best matches the family and style; DejaVu Sans when
// nothing matches. Nothing only when no font at all can be opened.
std::unique_ptr<TFontFace> OpenInstalledFont(const std::u16string& family, bool bold, bool italic);

// A font file (face index within it); nothing when the engine refuses it.
std::unique_ptr<TFontFace> OpenFontFile(const std::string& fileName, int32_t faceIndex = 0);

}  // namespace ql::platform
