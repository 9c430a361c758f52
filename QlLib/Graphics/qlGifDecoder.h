// Our own GIF reader: still pictures, and animations as one horizontal strip
// of frames with a tiles tag that tells the delays and the loop count.
#pragma once

#include <memory>
#include <string>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// Off by default; start-up switches it on. Off, an animation gives its first
// frame only.
void SetGifAnimation(bool on);
bool GifAnimation();

// Sets the switch for the guard's life and puts the setting before back at
// its end; for tests and tools that need one or the other.
class TGifAnimationScope {
public:
    explicit TGifAnimationScope(bool on) : m_previous(GifAnimation()) { SetGifAnimation(on); }
    ~TGifAnimationScope() { SetGifAnimation(m_previous); }
    TGifAnimationScope(const TGifAnimationScope&) = delete;
    TGifAnimationScope& operator=(const TGifAnimationScope&) = delete;

private:
    bool m_previous;
};

// The message of malformed blocks.
inline constexpr const char* kGifDamagedText = "Unknown/Unsupported GIF image type";

struct TGifPicture {
    std::unique_ptr<TBitmap> Bitmap;  // "A8R8G8B8": the first frame, or the strip
    std::optional<TTilesTag> Tiles;   // for a strip of more than one frame
};

// Decodes bytes in memory. nullopt when they are not a GIF; raises EImageError
// when no frame could be read. Blocks after a damaged one are dropped.
std::optional<TGifPicture> ReadGif(const uint8_t* data, size_t size, bool animate);

// The registry's GIF decoder ("qlFPReadGIF").
TRef<TBitmapStore> DecodeGif(TStream& stream, const std::u16string& name, TTransformHook hook,
                             void* hookContext);

}  // namespace ql
