// Our own GIF reader: still pictures, and animations as one horizontal strip
// of frames with a tiles tag that tells the delays and the loop count.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// A GIF picture, or an animation's strip of frames with its tiles tag. The
// file's bytes are kept, so that the picture memory budget may let the frames
// go and they are decoded again when next drawn.
class TGifBitmapStore : public TSysBitmapStore {
public:
    // picture: what ReadGif made of data with animate; its bitmap is level 0
    // until it is taken or forgotten.
    TGifBitmapStore(std::vector<uint8_t> data, bool animate, TGifPicture picture,
                    std::u16string name, TTransformHook hook, void* hookContext);
    // Drops the frames decoded ahead (they did not fit in the budget).
    void ForgetDecoded();

protected:
    TLevelResult DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) override;

private:
    std::vector<uint8_t> m_data;
    bool m_animate;
    std::unique_ptr<TBitmap> m_decoded;  // under m_lock: level 0 as first decoded
};

// The registry's GIF decoder ("qlFPReadGIF").
TRef<TBitmapStore> DecodeGif(TStream& stream, const std::u16string& name, TTransformHook hook,
                             void* hookContext);

}  // namespace ql
