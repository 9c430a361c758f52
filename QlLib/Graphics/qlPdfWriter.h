// Writing one picture as a one-page PDF document: what "print" makes when no
// printer is set up. The picture is stored as a JPEG image, which every PDF
// reader decodes without further filters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"

namespace ql {

// A4 in PDF points (1/72 inch), portrait; swap them for landscape.
inline constexpr int32_t kA4WidthPt = 595, kA4HeightPt = 842;

// The page and where the picture goes on it, in points, measured from the
// page's top-left corner as pictures are.
struct TPdfPageLayout {
    int32_t PageWidth = kA4WidthPt, PageHeight = kA4HeightPt;
    int32_t Left = 0, Top = 0, Width = kA4WidthPt, Height = kA4HeightPt;
};

// The document's bytes. The title goes into the document information; the
// picture is JPEG-encoded at the quality given. Raises EImageError when the
// picture has no pixels or the page no size.
std::vector<uint8_t> EncodePdf(const TBitmap& picture, const TPdfPageLayout& layout,
                               const std::u16string& title = {}, int32_t jpegQuality = 90);

}  // namespace ql
