// Pictures the slide host makes from their names (preset masks, masks of
// other pictures, texts) are made at the level a drawer asks for, never at
// their named size first: a name may ask for 16384 x 16384 pixels that the
// screen shows at a few hundred.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "QlLib/Graphics/qlBitmapStore.h"

namespace orb {

// The longest side a generated picture is made at when a drawer asks for its
// full size: four tiles of the largest texture every device takes. Smooth
// shapes and texts magnified from there stay within the usual resampling
// blur, and no screen up to 4K shows one sharper.
inline constexpr int32_t kMaxGeneratedSide = 4096;

// Makes one level of a generated picture at size (the level's MipLevelSize of
// the named size), in any format. Nothing when it cannot or was cancelled.
using TLevelMaker = std::function<std::unique_ptr<ql::TBitmap>(
    int32_t level, ql::TPoint size, const ql::TProgressHandler& progress)>;

// The first level of a width x height picture whose sides are both within
// kMaxGeneratedSide.
int32_t FinestGeneratedLevel(int32_t width, int32_t height);

// A generated picture whose every level is made by its maker at that level's
// size, so asking for level 5 of a huge mask costs what level 5 holds.
class TGeneratedBitmapStore : public ql::TSysBitmapStore {
public:
    // size: the size the name asks for (sides of at least 1); format: the
    // format the maker delivers.
    TGeneratedBitmapStore(std::u16string name, ql::TPoint size, const ql::TPixelFormat* format,
                          TLevelMaker maker);

    // The finest level worth drawing (FinestGeneratedLevel of the size);
    // finer ones are made when asked for, at their full cost.
    int32_t FinestLevel() const override { return m_finestLevel; }

protected:
    ql::TLevelResult DecodeLevel(int32_t level, std::unique_ptr<ql::TBitmap>& out) override;
    // The level goes to the drawer in the format it wants, with no copy in
    // the maker's format kept beside it.
    ql::TLevelResult DecodeLevelAs(int32_t level, const ql::TPixelFormat* wanted,
                                   std::unique_ptr<ql::TBitmap>& out) override;

private:
    TLevelMaker m_maker;
    int32_t m_finestLevel = 0;
};

// The finest level of a generated store; 0 for any other store.
int32_t FinestLevelOf(const ql::TBitmapStore& store);
bool IsGeneratedStore(const ql::TBitmapStore& store);

}  // namespace orb
