// Our own BMP/DIB reader: palette pictures (RLE8 and RLE4 included), 16-bit
// and 32-bit with any contiguous bit fields (the alpha mask of V4/V5 headers
// included), 24-bit, and the OS/2 1.x header.
#pragma once

#include <memory>
#include <string>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpFileStream.h"

namespace ql {

// The picture at the stream's position, top row first: 1, 4 and 8 bits come
// out as "R8G8B8" through the palette, 16 bits as "X1R5G5B5" or "R5G6B5"
// (other masks as "A8R8G8B8"), 24 bits as "R8G8B8", 32 bits as "A8R8G8B8"
// (opaque when no pixel has any alpha). nullptr, with the stream back where it was, for anything
// that is not a BMP we read or is damaged.
std::unique_ptr<TBitmap> ReadBmpBitmap(TStream& stream);
// The same over bytes in memory; raises EImageError for damaged data and
// returns nullptr for what is not a BMP at all.
std::unique_ptr<TBitmap> ReadBmpBitmap(const uint8_t* data, size_t size);

// The registry's BMP decoder ("SysBitmapLoader").
TRef<TBitmapStore> DecodeBmp(TStream& stream, const std::u16string& name, TTransformHook hook,
                             void* hookContext);

}  // namespace ql
