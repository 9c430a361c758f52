// The picture types the file accessor hands out: bitmap stores from the image
// decoders, the image interface, and the placeholder for pictures that could
// not be found or decoded.
#pragma once

#include <cstdint>
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

// Stands where a picture could not be shown. It keeps the lines the text
// producer will draw; until then its picture is one transparent pixel.
class TPlaceholderStore : public ql::TWrapperBitmapStore {
public:
    explicit TPlaceholderStore(std::u16string text);
    // The four lines joined by "\n".
    const std::u16string PlaceholderText;
};

// The placeholder's lines; empty for a real picture.
std::u16string PlaceholderTextOf(const TBitmapStore& store);

}  // namespace orb
