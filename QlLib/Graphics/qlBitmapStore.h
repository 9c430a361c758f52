// Bitmap stores: a decoded picture that hands out bitmaps at any mip level,
// decoding lazily and caching what it decoded.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/SysObj.h"
#include "QlLib/qpExceptions.h"

namespace ql {

// Raised for pictures that cannot be decoded; loaders turn it into nothing.
QL_COMMON_EXCEPTION(EImageError, TCommonException);

// What must happen to a decoded picture before it is shown (EXIF orientation).
enum class TImageOrientation {
    None,
    Rotate180,               // code 3
    RotateClockwise,         // code 6: a quarter turn clockwise; width and height swap
    RotateCounterClockwise,  // code 8: a quarter turn the other way; they swap too
};

// Codes 6 and 8 turn by a quarter, so width and height swap.
inline bool SwapsSides(TImageOrientation orientation) {
    return orientation == TImageOrientation::RotateClockwise ||
           orientation == TImageOrientation::RotateCounterClockwise;
}

// The orientation for an EXIF code; None for 1 and for codes we do not turn.
TImageOrientation OrientationOfCode(int32_t code);

struct TImageParams {
    std::u16string Name;
    int32_t Width = 0;
    int32_t Height = 0;
    const TPixelFormat* Format = nullptr;
};

// Called once per store with its parameters, which it may change (a quarter
// turn swaps width and height); returns what to do to every level.
using TTransformHook = TImageOrientation (*)(void* context, TImageParams& params);

// Pictures of more pixels than this (all frames of an animation together) are
// refused before anything is allocated. A few kilobytes of compressed or
// run-length data can claim gigabytes, so every decoder asks here first.
int64_t ImagePixelLimit();
// For tools and fuzzers that want a tighter bound; values below 1 are ignored.
void SetImagePixelLimit(int64_t pixels);
// The limit for the guard's life (tests); the one before comes back at its end.
class TImagePixelLimitScope {
public:
    explicit TImagePixelLimitScope(int64_t pixels) : m_saved(ImagePixelLimit()) {
        SetImagePixelLimit(pixels);
    }
    ~TImagePixelLimitScope() { SetImagePixelLimit(m_saved); }
    TImagePixelLimitScope(const TImagePixelLimitScope&) = delete;
    TImagePixelLimitScope& operator=(const TImagePixelLimitScope&) = delete;

private:
    int64_t m_saved;
};
// Raises EImageError when a side is not positive or beyond kMaxBitmapSide, or
// when width x height x frames passes the pixel limit.
void CheckImageSize(int64_t width, int64_t height, int64_t frames = 1);

// The levels of all bitmap stores together (decoded, generated, converted;
// an animation's frames are one level) may hold this many bytes. A level that
// would pass it first makes room by releasing the least recently used levels
// that nobody but their store holds (ReleasePictureMemory); when that is not
// enough it is not made: GetBitmap gives nullptr, and the log says so once per
// store. A show is untrusted input, and one naming more pictures than the
// machine holds is bad input like any other. The default is a quarter of the
// memory the process may use (ql::platform::UsableMemoryBytes), at least
// 256 MiB: the rest is the drawer's, the sound's and the program's.
int64_t PictureMemoryBudget();
// Values below 1 bring the default back.
void SetPictureMemoryBudget(int64_t bytes);
// The bytes the stores' levels hold now, with levels a store let go that a
// user (a drawer's texture) still shares.
int64_t PictureMemoryHeld();
// How many levels the budget has refused since the program started.
uint64_t PictureBudgetRefusals();
class TBitmapStore;
// Releases levels of stores that can make them again, least recently used
// first, skipping except, stores at work and levels shared outside their
// store, until bytes are freed or nothing more can go. Returns the bytes freed.
// Stores are only tried, never waited for, so any thread may call it while
// holding a store's lock.
int64_t ReleasePictureMemory(int64_t bytes, const TBitmapStore* except = nullptr);
// The budget for the guard's life (tests); the one before comes back at its end.
class TPictureMemoryBudgetScope {
public:
    explicit TPictureMemoryBudgetScope(int64_t bytes) : m_saved(PictureMemoryBudget()) {
        SetPictureMemoryBudget(bytes);
    }
    ~TPictureMemoryBudgetScope() { SetPictureMemoryBudget(m_saved); }
    TPictureMemoryBudgetScope(const TPictureMemoryBudgetScope&) = delete;
    TPictureMemoryBudgetScope& operator=(const TPictureMemoryBudgetScope&) = delete;

private:
    int64_t m_saved;
};

// The animation of a horizontal strip of frames (an animated GIF).
struct TTilesTag {
    int32_t CellWidth = 0;
    int32_t CellHeight = 0;
    int32_t Columns = 0;
    int32_t Rows = 1;
    int32_t Frames = 0;
    int64_t TotalMs = 0;    // the delays added up
    int64_t AverageMs = 0;  // TotalMs / Frames
    std::string DelaysMs;   // "100,50,100"
    int32_t LoopCount = 0;  // 0 = for ever
};

enum class TLevelResult { Done, Cancelled };

class TBitmapStore : public TRefObj {
public:
    ~TBitmapStore() override;

    // Copies, so that callers keep them while another thread decodes.
    TImageParams Params() const;
    int32_t Width() const;
    int32_t Height() const;
    const TPixelFormat* Format() const;

    void SetProgress(TProgressHandler handler);
    bool HasProgress() const;

    // The bitmap of a level in the wanted format (nullptr: the store's own),
    // decoded on first use. It belongs to the store and lives as long as it;
    // callers must not change its pixels. nullptr when the progress handler
    // cancelled the work: nothing is cached then, and the next call decodes
    // again. Levels past the 1 x 1 one give that one. Raises EImageError when
    // the data turns out to be damaged. nullptr too when the level would pass
    // the picture memory budget.
    // The pointer stays valid while the store holds the level: a store that can
    // make its levels again may let one go under memory pressure when nobody
    // shares it, so a caller that keeps the bitmap past the call, or on
    // another thread than the store's other users, takes ShareBitmap.
    TBitmap* GetBitmap(int32_t level, const TPixelFormat* format = nullptr);
    // The same, shared: the bitmap lives as long as the pointer even when the
    // store lets the level go, and its bytes count in the budget till then.
    std::shared_ptr<TBitmap> ShareBitmap(int32_t level, const TPixelFormat* format = nullptr);

    const TTilesTag* TilesTag() const { return m_tiles ? &*m_tiles : nullptr; }
    void SetTilesTag(TTilesTag tag) { m_tiles = std::move(tag); }

    // How many distinct levels the picture has: halving stops at 1 x 1.
    int32_t LevelCount() const;
    // The finest level a drawer asks for at most: 0, or more for a generated
    // picture whose named size is beyond what any screen shows.
    virtual int32_t FinestLevel() const { return 0; }

protected:
    explicit TBitmapStore(TImageParams params);

    // Produces a level at its MipLevelSize in the store's format (or the wanted
    // one). Called under the store's lock, at most once per level unless it
    // reports Cancelled.
    virtual TLevelResult GetMipLevel(int32_t level, const TPixelFormat* format,
                                     std::unique_ptr<TBitmap>& out) = 0;

    // For stores whose parameters are settled in their constructor body.
    TImageParams& MutableParams() { return m_params; }
    // Says that every level can be made again after it was let go (the
    // compressed data or the generator is kept), so that the memory budget may
    // release levels nobody shares. Stores that hand over a ready bitmap once
    // never say so.
    void SetLevelsRemade() { m_levelsRemade = true; }
    // Calls the progress handler; true (go on) without one.
    bool ReportProgress(float fraction) const;
    const TProgressHandler& ProgressHandler() const { return m_progress; }

    // Level decoding and the cache; recursive because a level asks for the one above.
    mutable std::recursive_mutex m_lock;

private:
    TImageParams m_params;
    TProgressHandler m_progress;  // under m_lock
    friend int64_t ReleasePictureMemory(int64_t bytes, const TBitmapStore* except);
    struct TLevel {
        std::vector<std::shared_ptr<TBitmap>> bitmaps;  // the first as produced, then conversions
        bool foreignFront = false;  // the first came in a wanted format, not the store's own
    };
    std::vector<TLevel> m_levels;  // under m_lock
    std::optional<TTilesTag> m_tiles;
    std::atomic<int64_t> m_heldBytes{0};      // written under m_lock: what m_levels count
    std::atomic<uint64_t> m_lastUse{0};       // the use counter's value at the last request
    int32_t m_busy = 0;                       // under m_lock: requests running (one may nest)
    std::atomic<bool> m_levelsRemade{false};  // set in the constructors only
    bool m_refusalLogged = false;             // under m_lock
    // The registry of stores the budget releases from, under its own lock; a
    // store enters when it first holds a level, fully made and owned by then.
    bool m_registered = false;
    TBitmapStore* m_prevStore = nullptr;
    TBitmapStore* m_nextStore = nullptr;

    // Counts bytes in the budget ahead of making a level (the caller's
    // reservation); false (and one log line per store) when they would pass
    // it even after releasing what others do not need.
    bool AdmitBytes(int64_t bytes);
    // Takes the bitmap into the budget's count for as long as it lives, in
    // place of the bytes reserved for it.
    std::shared_ptr<TBitmap> HoldBitmap(std::unique_ptr<TBitmap> bitmap, int64_t reserved);
    // Lets go of the levels nobody shares; the bytes freed. Under m_lock.
    int64_t ReleaseUnsharedLevels(int64_t wanted);
};

// A store whose decoder delivers some levels itself (at least level 0); the
// others are built by halving the level above. A transformation from the hook
// is applied to every level the decoder delivers.
class TSysBitmapStore : public TBitmapStore {
protected:
    // params holds the picture's size as decoded.
    TSysBitmapStore(TImageParams params, TTransformHook hook, void* hookContext);

    // The level as the decoder sees it (before turning), or nothing (Done with
    // out empty) to have it built by halving. Raises EImageError for damage.
    virtual TLevelResult DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) = 0;
    // The same, for a caller that wants the level in a format (nullptr: any):
    // a decoder that can write that format directly spares a converted copy
    // of the whole level. It may still deliver its own format.
    virtual TLevelResult DecodeLevelAs(int32_t level, const TPixelFormat* wanted,
                                       std::unique_ptr<TBitmap>& out) {
        (void)wanted;
        return DecodeLevel(level, out);
    }

    TLevelResult GetMipLevel(int32_t level, const TPixelFormat* format,
                             std::unique_ptr<TBitmap>& out) final;

    TImageOrientation Orientation() const { return m_orientation; }
    // The picture's size as stored in its file, before any turn.
    int32_t DecodedWidth() const { return m_decodedWidth; }
    int32_t DecodedHeight() const { return m_decodedHeight; }

private:
    TImageOrientation m_orientation = TImageOrientation::None;
    int32_t m_decodedWidth = 0, m_decodedHeight = 0;
};

// Holds one ready bitmap as level 0.
class TWrapperBitmapStore : public TSysBitmapStore {
public:
    explicit TWrapperBitmapStore(std::unique_ptr<TBitmap> bitmap, std::u16string name = {},
                                 TTransformHook hook = nullptr, void* hookContext = nullptr);

protected:
    TLevelResult DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) override;

private:
    static TImageParams ParamsOf(const TBitmap& bitmap, std::u16string name);
    std::unique_ptr<TBitmap> m_bitmap;  // given away on the first request
};

// A light handle on a store with a copy of its parameters.
class TImage {
public:
    TImage() = default;
    explicit TImage(TRef<TBitmapStore> store);
    const TRef<TBitmapStore>& Store() const { return m_store; }
    const TImageParams& Params() const { return m_params; }
    explicit operator bool() const { return bool(m_store); }

private:
    TRef<TBitmapStore> m_store;
    TImageParams m_params;
};

}  // namespace ql
