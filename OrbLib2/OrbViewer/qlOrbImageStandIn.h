// Minimal stand-ins for the bitmap classes, so that the file accessor's image
// cache works before the image decoders exist. The bitmap and image-loading
// units replace these declarations.
#pragma once

#include <cstdint>
#include <string>

#include "QlLib/SysObj.h"
#include "QlLib/qlPartialStream.h"

namespace orb {

// A decoded picture. The stand-in holds no pixels: only its size and, for a
// placeholder, the lines the placeholder shows.
class TBitmapStore : public ql::TRefObj {
public:
    int32_t Width = 0;
    int32_t Height = 0;
    // Empty for a real picture; for a placeholder the four lines joined by "\n".
    std::u16string PlaceholderText;

    void SetProgressCallback(ql::TStreamCallback callback, void* userData) {
        m_progress = callback;
        m_progressData = userData;
    }
    ql::TStreamCallback ProgressCallback() const { return m_progress; }

private:
    ql::TStreamCallback m_progress = nullptr;
    void* m_progressData = nullptr;
};

class TImage : public ql::TObj {
public:
    // Never empty for images handed out by the file accessor.
    virtual ql::TRef<TBitmapStore> BitmapStore() const = 0;
};

// What the decoder does to a picture stored sideways (EXIF orientation).
enum class TImageOrientation {
    None,
    Rotate180,
    RotateClockwise,         // a quarter turn; width and height swap
    RotateCounterClockwise,  // a quarter turn the other way; they swap too
};

}  // namespace orb
