#include "QlLib/Graphics/qlBitmapStore.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "QlLib/Graphics/qlImageTransform.h"
#include "QlLib/Platform/qlSysInfo.h"
#include "QlLib/qlLog.h"
#include "QlLib/qlScopeExit.h"

namespace ql {

namespace {
// 1 GiB of 32-bit pixels: the bitmap bound, counted in pixels.
std::atomic<int64_t> g_pixelLimit{kMaxBitmapBytes / 4};

constexpr int64_t kMinPictureBudget = int64_t(256) << 20;
std::atomic<int64_t> g_pictureBudget{0};  // 0: the default, worked out on first use
std::atomic<int64_t> g_pictureHeld{0};
// Every request takes the next value, so that stores compare by their last use.
std::atomic<uint64_t> g_useCounter{0};
std::atomic<uint64_t> g_refusals{0};

int64_t DefaultPictureBudget() {
    static const int64_t budget = std::max(platform::UsableMemoryBytes() / 4, kMinPictureBudget);
    return budget;
}

int64_t LevelBytes(int64_t width, int64_t height, const TPixelFormat* format) {
    const int64_t bytesPerPixel = format ? std::max(format->BytesPerPixel(), 1) : 4;
    return width * height * bytesPerPixel;
}
}  // namespace

int64_t PictureMemoryBudget() {
    const int64_t budget = g_pictureBudget.load(std::memory_order_relaxed);
    return budget > 0 ? budget : DefaultPictureBudget();
}

void SetPictureMemoryBudget(int64_t bytes) {
    g_pictureBudget.store(bytes > 0 ? bytes : 0, std::memory_order_relaxed);
}

int64_t PictureMemoryHeld() {
    return g_pictureHeld.load(std::memory_order_relaxed);
}

uint64_t PictureBudgetRefusals() {
    return g_refusals.load(std::memory_order_relaxed);
}

TImageOrientation OrientationOfCode(int32_t code) {
    switch (code) {
        case 3:
            return TImageOrientation::Rotate180;
        case 6:
            return TImageOrientation::RotateClockwise;
        case 8:
            return TImageOrientation::RotateCounterClockwise;
        default:
            return TImageOrientation::None;
    }
}

int64_t ImagePixelLimit() {
    return g_pixelLimit.load(std::memory_order_relaxed);
}

void SetImagePixelLimit(int64_t pixels) {
    if (pixels > 0) g_pixelLimit.store(pixels, std::memory_order_relaxed);
}

void CheckImageSize(int64_t width, int64_t height, int64_t frames) {
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide)
        throw EImageError("Image size out of range");
    if (frames <= 0 || frames > ImagePixelLimit() || width * height > ImagePixelLimit() / frames)
        throw EImageError("Image too large");
}

// ---- the registry of stores ----

namespace {
std::mutex g_storesLock;
TBitmapStore* g_firstStore = nullptr;  // under g_storesLock
}  // namespace

int64_t ReleasePictureMemory(int64_t bytes, const TBitmapStore* except) {
    if (bytes <= 0) return 0;
    // Strong references taken under the registry's lock: a store whose last
    // reference goes while it is tried here must not be freed under that lock,
    // which its destructor takes.
    std::vector<TRef<TBitmapStore>> candidates;
    {
        std::lock_guard<std::mutex> guard(g_storesLock);
        for (TBitmapStore* store = g_firstStore; store; store = store->m_nextStore) {
            if (store == except || !store->m_levelsRemade.load(std::memory_order_relaxed) ||
                store->m_heldBytes.load(std::memory_order_relaxed) <= 0)
                continue;
            if (TRef<TBitmapStore> shared = TRef<TBitmapStore>::TryShare(store))
                candidates.push_back(std::move(shared));
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
        return a->m_lastUse.load(std::memory_order_relaxed) <
               b->m_lastUse.load(std::memory_order_relaxed);
    });
    int64_t freed = 0;
    for (const TRef<TBitmapStore>& store : candidates) {
        if (freed >= bytes) break;
        // A store at work on another thread is passed over, never waited for:
        // that thread may be waiting for a lock this one holds.
        std::unique_lock<std::recursive_mutex> guard(store->m_lock, std::try_to_lock);
        if (!guard.owns_lock() || store->m_busy > 0) continue;
        freed += store->ReleaseUnsharedLevels(bytes - freed);
    }
    return freed;
}

// ---- TBitmapStore ----

TBitmapStore::TBitmapStore(TImageParams params) : m_params(std::move(params)) {
    m_levels.reserve(4);
}

TBitmapStore::~TBitmapStore() {
    // The bitmaps give their bytes back as they go (HoldBitmap's deleter).
    if (!m_registered) return;
    std::lock_guard<std::mutex> guard(g_storesLock);
    if (m_prevStore) m_prevStore->m_nextStore = m_nextStore;
    if (m_nextStore) m_nextStore->m_prevStore = m_prevStore;
    if (g_firstStore == this) g_firstStore = m_nextStore;
}

int64_t TBitmapStore::ReleaseUnsharedLevels(int64_t wanted) {
    int64_t freed = 0;
    // The finest levels go first: they are the largest.
    for (TLevel& level : m_levels) {
        if (freed >= wanted) break;
        if (level.bitmaps.empty()) continue;
        bool shared = false;
        for (const auto& bitmap : level.bitmaps) shared = shared || bitmap.use_count() > 1;
        if (shared) continue;
        int64_t bytes = 0;
        for (const auto& bitmap : level.bitmaps)
            bytes += LevelBytes(bitmap->Width(), bitmap->Height(), bitmap->PixelFormat());
        level.bitmaps.clear();
        level.foreignFront = false;
        m_heldBytes.fetch_sub(bytes, std::memory_order_relaxed);
        freed += bytes;
    }
    return freed;
}

namespace {
// Adds bytes to what is held when the sum stays within the budget, in one
// step, so that two threads admitting levels at once cannot both pass it.
bool TryReserve(int64_t bytes) {
    const int64_t budget = PictureMemoryBudget();
    int64_t held = g_pictureHeld.load(std::memory_order_relaxed);
    do {
        if (held + bytes > budget) return false;
    } while (!g_pictureHeld.compare_exchange_weak(held, held + bytes, std::memory_order_relaxed));
    return true;
}

// Bytes counted ahead for a level being made; what is not taken over by the
// level when it is held goes back when the reservation does.
class TReservation {
public:
    explicit TReservation(int64_t bytes) : m_bytes(bytes) {}
    ~TReservation() { g_pictureHeld.fetch_sub(m_bytes, std::memory_order_relaxed); }
    TReservation(const TReservation&) = delete;
    TReservation& operator=(const TReservation&) = delete;
    int64_t Take() { return std::exchange(m_bytes, 0); }

private:
    int64_t m_bytes;
};
}  // namespace

bool TBitmapStore::AdmitBytes(int64_t bytes) {
    if (TryReserve(bytes)) return true;
    ReleasePictureMemory(PictureMemoryHeld() + bytes - PictureMemoryBudget(), this);
    if (TryReserve(bytes)) return true;
    g_refusals.fetch_add(1, std::memory_order_relaxed);
    if (!m_refusalLogged) {
        m_refusalLogged = true;
        GlobalLog().WriteLine(u"Picture memory budget spent, picture left out: " +
                              m_params.Name.substr(0, 200));
    }
    return false;
}

std::shared_ptr<TBitmap> TBitmapStore::HoldBitmap(std::unique_ptr<TBitmap> bitmap,
                                                  int64_t reserved) {
    const int64_t bytes = LevelBytes(bitmap->Width(), bitmap->Height(), bitmap->PixelFormat());
    // A maker may deliver a wider format than the one admitted.
    g_pictureHeld.fetch_add(bytes - reserved, std::memory_order_relaxed);
    std::shared_ptr<TBitmap> held(bitmap.release(), [bytes](TBitmap* gone) {
        delete gone;
        g_pictureHeld.fetch_sub(bytes, std::memory_order_relaxed);
    });
    m_heldBytes.fetch_add(bytes, std::memory_order_relaxed);
    if (!m_registered) {
        std::lock_guard<std::mutex> guard(g_storesLock);
        m_registered = true;
        m_nextStore = g_firstStore;
        if (g_firstStore) g_firstStore->m_prevStore = this;
        g_firstStore = this;
    }
    return held;
}

TImageParams TBitmapStore::Params() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return m_params;
}

int32_t TBitmapStore::Width() const {
    return Params().Width;
}
int32_t TBitmapStore::Height() const {
    return Params().Height;
}
const TPixelFormat* TBitmapStore::Format() const {
    return Params().Format;
}

void TBitmapStore::SetProgress(TProgressHandler handler) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    m_progress = std::move(handler);
}

bool TBitmapStore::HasProgress() const {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    return bool(m_progress);
}

bool TBitmapStore::ReportProgress(float fraction) const {
    return !m_progress || m_progress(fraction);
}

int32_t TBitmapStore::LevelCount() const {
    const TImageParams params = Params();
    int32_t count = 1;
    for (int64_t w = params.Width, h = params.Height; w > 1 || h > 1; ++count) {
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    return count;
}

TBitmap* TBitmapStore::GetBitmap(int32_t level, const TPixelFormat* format) {
    return ShareBitmap(level, format).get();
}

std::shared_ptr<TBitmap> TBitmapStore::ShareBitmap(int32_t level, const TPixelFormat* format) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    QL_ASSERT(level >= 0, ClassName() + ".GetBitmap - Index<0");
    m_lastUse.store(++g_useCounter, std::memory_order_relaxed);
    ++m_busy;
    ql::TScopeExit notBusy([this] { --m_busy; });
    // Past the 1 x 1 level every level is the same picture; asking for level
    // 1000 must not build a thousand empty levels.
    level = std::min(level, LevelCount() - 1);
    if (size_t(level) >= m_levels.size()) {
        size_t capacity = std::max<size_t>(m_levels.capacity(), 4);
        while (capacity <= size_t(level)) capacity *= 2;
        m_levels.reserve(capacity);
        m_levels.resize(size_t(level) + 1);
    }
    auto& cached = m_levels[size_t(level)].bitmaps;
    // A level that its decoder wrote straight in a wanted format has no
    // bitmap in the store's own format until one is asked for.
    const bool foreignFront = m_levels[size_t(level)].foreignFront;
    for (size_t i = 0; i < cached.size(); ++i) {
        const TPixelFormat* held = cached[i]->PixelFormat();
        const bool own = i == 0 ? !foreignFront : held == m_params.Format;
        if (format ? held == format : own) return cached[i];
    }

    std::shared_ptr<TBitmap> produced = cached.empty() ? nullptr : cached.front();
    if (!produced) {
        const TPoint size = MipLevelSize(m_params.Width, m_params.Height, level);
        const int64_t admitted = LevelBytes(size.x, size.y, format ? format : m_params.Format);
        if (!AdmitBytes(admitted)) return nullptr;
        TReservation reservation(admitted);
        std::unique_ptr<TBitmap> out;
        if (GetMipLevel(level, format, out) == TLevelResult::Cancelled) return nullptr;
        QL_ASSERT(
            out, "\"" + ClassName() + ".GetMipLevel(" + std::to_string(level) + ")\" Not Assigned");
        QL_ASSERT(out->Width() == size.x && out->Height() == size.y, "Incorrect MipLevelIndex");
        out->SetProgress({});
        m_levels[size_t(level)].foreignFront =
            format && out->PixelFormat() == format && format != m_params.Format;
        cached.push_back(HoldBitmap(std::move(out), reservation.Take()));
        produced = cached.back();
        if (!format || produced->PixelFormat() == format) return produced;
    }
    const TPixelFormat* target = format ? format : m_params.Format;
    const int64_t admitted = LevelBytes(produced->Width(), produced->Height(), target);
    if (!AdmitBytes(admitted)) return nullptr;
    TReservation reservation(admitted);
    std::unique_ptr<TBitmap> converted =
        CreateBitmap(produced->Width(), produced->Height(), target, m_progress);
    if (!converted->CopyRect(produced->Bounds(), *produced, {0, 0})) return nullptr;
    converted->SetProgress({});
    cached.push_back(HoldBitmap(std::move(converted), reservation.Take()));
    return cached.back();
}

// ---- TSysBitmapStore ----

TSysBitmapStore::TSysBitmapStore(TImageParams params, TTransformHook hook, void* hookContext)
    : TBitmapStore(std::move(params)) {
    TImageParams& p = MutableParams();
    m_decodedWidth = p.Width;
    m_decodedHeight = p.Height;
    if (hook) m_orientation = hook(hookContext, p);
    // The size follows from the turn, so a hook that forgot to swap cannot
    // make the levels disagree with the parameters.
    const bool quarter = SwapsSides(m_orientation);
    p.Width = quarter ? m_decodedHeight : m_decodedWidth;
    p.Height = quarter ? m_decodedWidth : m_decodedHeight;
}

TLevelResult TSysBitmapStore::GetMipLevel(int32_t level, const TPixelFormat* format,
                                          std::unique_ptr<TBitmap>& out) {
    QL_ASSERT(level >= 0, "TSysBitmapStore.GetMipLevel - Index<0");
    std::unique_ptr<TBitmap> decoded;
    if (DecodeLevelAs(level, format, decoded) == TLevelResult::Cancelled)
        return TLevelResult::Cancelled;
    if (decoded) {
        out = m_orientation == TImageOrientation::None ? std::move(decoded)
                                                       : OrientBitmap(*decoded, m_orientation);
        return TLevelResult::Done;
    }
    QL_ASSERT(level > 0, "\"" + ClassName() + ".GetMipLevel(0)\" Not Assigned");
    const TPixelFormat* upperFormat = Format()->HasAlpha() ? PfARGB32() : PfRGB24();
    TBitmap* upper = GetBitmap(level - 1, upperFormat);
    if (!upper) return TLevelResult::Cancelled;
    out = HalveBitmap(*upper, ProgressHandler());
    return out ? TLevelResult::Done : TLevelResult::Cancelled;
}

// ---- TWrapperBitmapStore ----

TWrapperBitmapStore::TWrapperBitmapStore(std::unique_ptr<TBitmap> bitmap, std::u16string name,
                                         TTransformHook hook, void* hookContext)
    : TSysBitmapStore(ParamsOf(*bitmap, std::move(name)), hook, hookContext),
      m_bitmap(std::move(bitmap)) {}

TImageParams TWrapperBitmapStore::ParamsOf(const TBitmap& bitmap, std::u16string name) {
    return {std::move(name), bitmap.Width(), bitmap.Height(), bitmap.PixelFormat()};
}

TLevelResult TWrapperBitmapStore::DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) {
    if (level == 0) out = std::move(m_bitmap);
    return TLevelResult::Done;
}

// ---- TImage ----

TImage::TImage(TRef<TBitmapStore> store) : m_store(std::move(store)) {
    if (m_store) m_params = m_store->Params();
}

}  // namespace ql
