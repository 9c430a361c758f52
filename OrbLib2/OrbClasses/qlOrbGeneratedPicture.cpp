#include "OrbLib2/OrbClasses/qlOrbGeneratedPicture.h"

#include <algorithm>
#include <string_view>

#include "QlLib/qlLog.h"

namespace orb {

int32_t FinestGeneratedLevel(int32_t width, int32_t height) {
    int64_t w = std::max(width, 1), h = std::max(height, 1);
    int32_t level = 0;
    while (w > kMaxGeneratedSide || h > kMaxGeneratedSide) {
        w = (w + 1) / 2;
        h = (h + 1) / 2;
        ++level;
    }
    return level;
}

TGeneratedBitmapStore::TGeneratedBitmapStore(std::u16string name, ql::TPoint size,
                                             const ql::TPixelFormat* format, TLevelMaker maker)
    : ql::TSysBitmapStore({std::move(name), std::max(size.x, 1), std::max(size.y, 1), format},
                          nullptr, nullptr),
      m_maker(std::move(maker)),
      m_finestLevel(FinestGeneratedLevel(size.x, size.y)) {
    // The maker makes any level again, so the budget may let levels go.
    SetLevelsRemade();
}

ql::TLevelResult TGeneratedBitmapStore::DecodeLevel(int32_t level,
                                                    std::unique_ptr<ql::TBitmap>& out) {
    const ql::TImageParams params = Params();
    const ql::TPoint size = ql::MipLevelSize(params.Width, params.Height, level);
    std::unique_ptr<ql::TBitmap> made = m_maker ? m_maker(level, size, ProgressHandler()) : nullptr;
    if (!made && !ReportProgress(1)) return ql::TLevelResult::Cancelled;
    if (!made || made->Width() != size.x || made->Height() != size.y) {
        // A maker that fails leaves the level blank rather than asking again
        // on every frame; its reason is in the log.
        ql::GlobalLog().WriteLine(u"Generated picture left blank: " + params.Name.substr(0, 200));
        made = ql::CreateBitmap(size.x, size.y, params.Format);
        made->FillRect(made->Bounds(), 0);
    }
    out = std::move(made);
    return ql::TLevelResult::Done;
}

ql::TLevelResult TGeneratedBitmapStore::DecodeLevelAs(int32_t level, const ql::TPixelFormat* wanted,
                                                      std::unique_ptr<ql::TBitmap>& out) {
    const ql::TLevelResult result = DecodeLevel(level, out);
    if (result != ql::TLevelResult::Done || !out || !wanted || out->PixelFormat() == wanted)
        return result;
    if (std::unique_ptr<ql::TBitmap> converted =
            ql::CreateBitmap(out->Width(), out->Height(), wanted, {}, out.get()))
        out = std::move(converted);
    return result;
}

bool IsGeneratedStore(const ql::TBitmapStore& store) {
    return dynamic_cast<const TGeneratedBitmapStore*>(&store) != nullptr;
}

int32_t FinestLevelOf(const ql::TBitmapStore& store) {
    const auto* generated = dynamic_cast<const TGeneratedBitmapStore*>(&store);
    return generated ? generated->FinestLevel() : 0;
}

}  // namespace orb
