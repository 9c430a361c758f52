// Text objects as pictures: the vector form of a text (the outlines stored in
// the show package under its "VectTxt2: " name when present, so that a show
// plays without its fonts installed; otherwise the installed font) and the
// picture that a "Text: " name asks for.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbTextNames.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/VectorGraphics/qlGlyphCache.h"

namespace orb {

// The em size, in text pixels, at which texts are set in installed fonts.
// Stored vector texts carry their own sizes.
inline constexpr float kInstalledTextSize = 48;

// Lines beyond this many are not drawn; a text of more is an authoring accident
// or an attack, and each line costs a row of glyphs in the picture.
inline constexpr size_t kMaxTextLines = 1000;

// Where a vector text came from.
enum class TVectorTextOrigin { None, Stored, InstalledFont };

// The vector form of the lines: the package's "VectTxt2: " entry through
// opener (its glyph caches come through fonts, whose opener must reach the
// same package), else the installed font. Nothing (origin None) when neither
// gives a text. opener may be empty.
std::unique_ptr<ql::TVectorText> MakeVectorText(const TTextParams& params,
                                                const std::vector<std::u16string>& lines,
                                                const ql::TEntryOpener& opener, ql::TFontCache& fonts,
                                                TVectorTextOrigin* origin = nullptr);

// The laid-out size of a vector text at scale 1 with the line spacing and
// alignment of params; (0, 0) for a text with nothing to lay out.
ql::TPointF LaidOutSize(const ql::TVectorText& text, const TTextParams& params);

// The picture a "Text: " name asks for, registered under that name: the text
// in its colour over the same colour at alpha 0, with its decorations, scale
// and sub-pixel offsets. Nothing for other names, for a text whose layout has
// no height, and when the progress handler cancels.
ql::TRef<ql::TBitmapStore> MakeTextPicture(const std::u16string& name, const ql::TEntryOpener& opener,
                                           ql::TFontCache& fonts, const ql::TProgressHandler& progress = {});

}  // namespace orb
