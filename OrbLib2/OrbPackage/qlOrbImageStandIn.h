// The picture types the file accessor hands out: bitmap stores from the image
// decoders, the image interface, and the placeholder for pictures that could
// not be found or decoded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/SysObj.h"

namespace orb {

using TBitmapStore = ql::TBitmapStore;
using TImageOrientation = ql::TImageOrientation;

class TImage : public ql::TObj {
public:
    // Never empty for images handed out by the file accessor.
    virtual ql::TRef<TBitmapStore> BitmapStore() const = 0;
};

// The placeholder's lines in opaque yellow on opaque blue, a quarter of the
// font size.
inline constexpr char16_t kPlaceholderFont[] = u"Arial";
constexpr float kPlaceholderFontSize = 64;
constexpr float kPlaceholderScale = 0.25f;
constexpr uint32_t kPlaceholderTextColour = 0xFFFFFF00;
constexpr uint32_t kPlaceholderBackground = 0xFF0000FF;

// The placeholder picture of the lines (joined by "\n"), drawn by the text
// producer; one clear pixel when no font at all is installed.
std::unique_ptr<ql::TBitmap> RenderPlaceholderPicture(const std::u16string& text);

// Stands where a picture could not be shown: its picture is the rendered
// lines, which it also keeps as text.
class TPlaceholderStore : public ql::TWrapperBitmapStore {
public:
    explicit TPlaceholderStore(std::u16string text);
    // The four lines joined by "\n".
    const std::u16string PlaceholderText;
};

// The placeholder's lines; empty for a real picture.
std::u16string PlaceholderTextOf(const TBitmapStore& store);

}  // namespace orb
