#include "OrbLib2/3DEngine/Dev3DExt2.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

#include "QlLib/Graphics/SysBitmap.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

TTextureTile::TTextureTile(TTileManager& manager, T3DScreen& screen)
    : TCustomTexture(screen, TTextureUsage::Managed), m_manager(manager) {
    SetSize(manager.Width(), manager.Height());
}

bool TTextureTile::FillTexture(int32_t level, ql::TBitmap& surface) {
    QL_ASSERT(surface.PixelFormat() == ql::PfARGB32(), "Tile surface must be A8R8G8B8");
    if (!m_owner || !m_owner->View() || level != 0) return true;
    const TTileBitmap& view = *m_owner->View();
    const int32_t w = surface.Width(), h = surface.Height();
    const int32_t x0 = std::max(0, -m_origin.x), x1 = std::min(w, view.Width() - m_origin.x);
    const int32_t y0 = std::max(0, -m_origin.y), y1 = std::min(h, view.Height() - m_origin.y);
    if (x0 >= x1 || y0 >= y1) return true;
    const ql::TProgressHandler& progress = view.Source().Progress();
    for (int32_t y = y0; y < y1; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(surface.Row(y));
        view.CopyRow(m_origin.x + x0, m_origin.y + y, x1 - x0, row + x0);
        std::fill(row, row + x0, row[x0]);
        std::fill(row + x1, row + w, row[x1 - 1]);
        if (progress && !progress(float(y - y0 + 1) / float(y1 - y0))) return false;
    }
    for (int32_t y = 0; y < y0; ++y) std::memcpy(surface.Row(y), surface.Row(y0), size_t(w) * 4);
    for (int32_t y = y1; y < h; ++y)
        std::memcpy(surface.Row(y), surface.Row(y1 - 1), size_t(w) * 4);
    return true;
}

std::unique_ptr<ql::TBitmap> TTextureTile::DirectLevel(int32_t level, int32_t width,
                                                       int32_t height) {
    if (!m_owner || !m_owner->View() || level != 0) return nullptr;
    const TTileBitmap& view = *m_owner->View();
    if (!view.Uncut() || m_origin.x < 0 || m_origin.y < 0 || m_origin.x + width > view.Width() ||
        m_origin.y + height > view.Height())
        return nullptr;
    ql::TScanLines rows(static_cast<size_t>(height));
    // The device only reads the rows it is given.
    for (int32_t y = 0; y < height; ++y)
        rows[size_t(y)] = const_cast<uint8_t*>(view.PixelsAt(m_origin.x, m_origin.y + y));
    return std::make_unique<ql::TSysBitmap>(width, height, ql::PfARGB32(), std::move(rows));
}

TTextureManager6::TTextureManager6(T3DScreen& screen) : m_screen(screen) {
    const int32_t sizes[6][2] = {{256, 256}, {128, 256}, {64, 256},
                                 {256, 128}, {256, 64},  {64, 64}};
    for (const auto& size : sizes)
        m_managers.push_back(std::make_unique<TTileManager>(screen, size[0], size[1]));
}

TTextureManager6::~TTextureManager6() {
    if (m_multiTextures != 0)
        ql::ReportAssertion("Error: Multi Textures Count = " + std::to_string(m_multiTextures),
                            __FILE__, __LINE__);
}

std::vector<const TTileManager*> TTextureManager6::Managers() const {
    std::vector<const TTileManager*> out;
    for (const auto& manager : m_managers)
        if (!manager->m_removed) out.push_back(manager.get());
    return out;
}

std::unique_ptr<TTextureTile> TTextureManager6::GetTile(int32_t width, int32_t height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    std::vector<bool> passed(m_managers.size(), false);
    int32_t fallback = -1;
    for (;;) {
        int32_t best = -1;
        int64_t bestUseful = -1, bestWaste = 0;
        for (size_t i = 0; i < m_managers.size(); ++i) {
            const TTileManager* manager = m_managers[i].get();
            if (manager->m_removed || passed[i]) continue;
            const int64_t useful =
                int64_t(std::min(width, manager->Width())) * std::min(height, manager->Height());
            const int64_t waste = int64_t(manager->Width()) * manager->Height() - useful;
            if (useful > bestUseful || (useful == bestUseful && waste < bestWaste)) {
                best = int32_t(i);
                bestUseful = useful;
                bestWaste = waste;
            }
        }
        if (best < 0 && fallback < 0) return nullptr;
        TTileManager& manager = *m_managers[size_t(best < 0 ? fallback : best)];
        std::unique_ptr<TTextureTile> tile;
        if (best >= 0 && !manager.m_free.empty()) {
            tile = std::move(manager.m_free.back());
            manager.m_free.pop_back();
        } else {
            tile = std::make_unique<TTextureTile>(manager, m_screen);
            if (best >= 0 && m_screen.RendererReady()) {
                const TDxResult result = tile->TryCreate();
                if (result == TDxResult::OutOfMemory) {
                    if (fallback < 0) fallback = best;
                    passed[size_t(best)] = true;
                    continue;
                }
                if (result == TDxResult::InvalidCall || result == TDxResult::Other) {
                    // The device cannot make this size at all.
                    if (fallback == best) fallback = -1;
                    tile.reset();
                    manager.m_removed = true;
                    manager.m_free.clear();
                    continue;
                }
            }
        }
        tile->m_used = {std::min(width, manager.Width()), std::min(height, manager.Height())};
        tile->Invalidate();
        return tile;
    }
}

void TTextureManager6::ReturnTile(std::unique_ptr<TTextureTile> tile) {
    if (!tile) return;
    tile->m_owner = nullptr;
    // A tile of a size given up goes with it.
    if (!tile->Manager().m_removed) tile->Manager().m_free.push_back(std::move(tile));
}

TMultiTexture6::TMultiTexture6(TTextureManager6& manager) : m_manager(manager) {
    ++m_manager.m_multiTextures;
}

TMultiTexture6::~TMultiTexture6() {
    DropTiles();
    --m_manager.m_multiTextures;
}

void TMultiTexture6::DropTiles() {
    for (auto& tile : m_tiles) m_manager.ReturnTile(std::move(tile));
    m_tiles.clear();
}

void TMultiTexture6::SetSource(const ql::TBitmap* bitmap, std::unique_ptr<ql::TBitmap> owned,
                               int32_t columns, int32_t rows, const ql::TRect& rect) {
    const ql::TBitmap* source = owned ? owned.get() : bitmap;
    QL_ASSERT(source != nullptr, "Multi texture without bitmap");
    QL_ASSERT(!rect.IsEmpty(), "Multi texture source rectangle is empty");
    QL_ASSERT(rect.left >= 0 && rect.top >= 0 && rect.right <= source->Width() &&
                  rect.bottom <= source->Height(),
              "Multi texture source rectangle outside its bitmap");
    DropTiles();
    m_view = std::make_unique<TTileBitmap>(bitmap, std::move(owned), columns, rows, rect);
}

void TMultiTexture6::BuildTiles() {
    DropTiles();
    if (m_view) CutRegion(0, 0, m_view->Width(), m_view->Height());
}

// Cuts a region of the view into bands: the first tile of a band sets its
// height, the rest of the band follows to the right. Each tile's interior
// (its used size less the border) covers the view; the borders overlap the
// neighbours by one pixel each.
void TMultiTexture6::CutRegion(int32_t x, int32_t y, int32_t width, int32_t height) {
    auto place = [this](std::unique_ptr<TTextureTile> tile, int32_t tx, int32_t ty) {
        tile->m_owner = this;
        tile->m_origin = {tx - 1, ty - 1};
        tile->Invalidate();
        m_tiles.push_back(std::move(tile));
    };
    while (height > 0) {
        std::unique_ptr<TTextureTile> first = m_manager.GetTile(width + 2, height + 2);
        QL_ASSERT(first != nullptr, "No tile size left for a picture");
        const int32_t bandHeight = first->UsedSize().y - 2;
        int32_t cx = x + first->UsedSize().x - 2;
        place(std::move(first), x, y);
        while (cx < x + width) {
            std::unique_ptr<TTextureTile> tile =
                m_manager.GetTile(x + width - cx + 2, bandHeight + 2);
            QL_ASSERT(tile != nullptr, "No tile size left for a picture");
            if (tile->UsedSize().y - 2 < bandHeight) {
                // Only lower sizes are left: the rest of the band becomes a region of its own.
                m_manager.ReturnTile(std::move(tile));
                CutRegion(cx, y, x + width - cx, bandHeight);
                break;
            }
            const int32_t interior = tile->UsedSize().x - 2;
            place(std::move(tile), cx, y);
            cx += interior;
        }
        y += bandHeight;
        height -= bandHeight;
    }
}

TDxResult TMultiTexture6::LoadAll() {
    for (const auto& tile : m_tiles) {
        const bool pending = tile->NeedsUpload() || tile->Handle() == 0;
        TDxResult result;
        try {
            result = tile->Load();
        } catch (const std::exception&) {
            // A failed upload leaves the rest of the picture to the next frame.
            tile->Invalidate();
            return TDxResult::Other;
        }
        if (result != TDxResult::Ok) return result;
        if (pending && m_manager.UploadPause().count() > 0)
            std::this_thread::sleep_for(m_manager.UploadPause());
    }
    return TDxResult::Ok;
}

TDxResult TMultiTexture6::Draw(TPointF position, const ql::TRect& source, TPointF axisX,
                               TPointF axisY) {
    return DrawPlaced(source, [&](float dx, float dy, TVertex& v) {
        v.x = position.x + dx * axisX.x + dy * axisY.x;
        v.y = position.y + dx * axisX.y + dy * axisY.y;
    });
}

TDxResult TMultiTexture6::DrawPlaced(const ql::TRect& source, const TVertexPlacer& place) {
    if (m_opacity == 0 || !m_view) return TDxResult::Ok;
    TDxResult result = LoadAll();
    if (result == TDxResult::DeviceLost || result == TDxResult::NotReady) return result;
    for (const auto& tile : m_tiles) {
        if (tile->Handle() == 0) continue;
        const ql::TPoint o = tile->Origin();
        const ql::TRect relative{source.left - o.x, source.top - o.y, source.right - o.x,
                                 source.bottom - o.y};
        const ql::TRect part =
            ql::IntersectRect(relative, {1, 1, tile->UsedSize().x - 1, tile->UsedSize().y - 1});
        if (part.IsEmpty()) continue;
        auto corner = [&](int32_t tx, int32_t ty) {
            TVertex v;
            place(float(tx + o.x - source.left), float(ty + o.y - source.top), v);
            v.u = float(tx * tile->InvWidth());
            v.v = float(ty * tile->InvHeight());
            return v;
        };
        const TVertex corners[4] = {corner(part.left, part.top), corner(part.right, part.top),
                                    corner(part.right, part.bottom),
                                    corner(part.left, part.bottom)};
        TDrawState state;
        state.pipeline = TPipeline::Texture;
        state.textures[0] = tile->Handle();
        state.opacity = m_opacity;
        state.filter = m_filter;
        // Only the sides of the part on the drawn rectangle's rim are smoothed:
        // a seam between two tiles is drawn sharp from both, so it stays shut.
        // The corners go top-left, top-right, bottom-right, bottom-left, as
        // the device's side bits expect.
        const uint8_t outer = uint8_t((part.left + o.x == source.left ? efLeft : 0) |
                                      (part.top + o.y == source.top ? efTop : 0) |
                                      (part.right + o.x == source.right ? efRight : 0) |
                                      (part.bottom + o.y == source.bottom ? efBottom : 0));
        state.smoothSides = uint8_t(m_edgeFlags & outer);
        const TDxResult drawn = tile->Screen().DrawQuad(state, corners);
        if (drawn != TDxResult::Ok) result = drawn;
    }
    return result;
}

std::u16string MultiTextureKey(int32_t level, int32_t columns, int32_t rows) {
    return ql::FromUtf8("MultiTexID: " + std::to_string(level) + ":" + std::to_string(columns) +
                        ":" + std::to_string(rows));
}

TMultiTexture6* TTextureStore2::Find(const std::u16string& key) const {
    for (const TTextureWrapper& item : m_items)
        if (item.key == key) return item.texture.get();
    return nullptr;
}

TMultiTexture6& TTextureStore2::Add(std::u16string key, std::unique_ptr<TMultiTexture6> texture,
                                    std::shared_ptr<const ql::TBitmap> source,
                                    TTextureRegistry* registry) {
    QL_ASSERT(texture != nullptr, "Texture store given no multi texture");
    if (registry && !m_registry) registry->Enter(*this);
    for (TTextureWrapper& item : m_items)
        if (item.key == key) {
            item.texture = std::move(texture);
            item.source = std::move(source);
            return *item.texture;
        }
    m_items.push_back({std::move(key), std::move(texture), std::move(source)});
    return *m_items.back().texture;
}

void TTextureStore2::Clear() {
    if (TTextureRegistry* registry = m_registry.load()) registry->Leave(*this);
    m_items.clear();
}

TTextureStore2::TTextureStore2(TTextureStore2&& other)
    : m_items(std::move(other.m_items)), m_drawnFrame(other.m_drawnFrame) {
    if (TTextureRegistry* registry = other.m_registry.load()) {
        registry->Leave(other);
        registry->Enter(*this);
    }
}

TTextureStore2::~TTextureStore2() {
    if (TTextureRegistry* registry = m_registry.load()) registry->Leave(*this);
}

void TTextureRegistry::Enter(TTextureStore2& store) {
    std::lock_guard<std::mutex> guard(m_lock);
    store.m_registry = this;
    m_stores.push_back(&store);
}

void TTextureRegistry::Leave(TTextureStore2& store) {
    std::lock_guard<std::mutex> guard(m_lock);
    store.m_registry = nullptr;
    m_stores.erase(std::remove(m_stores.begin(), m_stores.end(), &store), m_stores.end());
}

int32_t TTextureRegistry::ClearOldest(uint64_t frame, const TTextureStore2* keep) {
    std::lock_guard<std::mutex> guard(m_lock);
    uint64_t oldest = frame;
    for (const TTextureStore2* store : m_stores)
        if (store != keep) oldest = std::min(oldest, store->m_drawnFrame);
    if (oldest >= frame) return 0;
    int32_t cleared = 0;
    // A store going on another thread waits in Leave for this lock, so none
    // is emptied after its destructor has run.
    auto old = [&](TTextureStore2* store) {
        if (store == keep || store->m_drawnFrame != oldest) return false;
        store->m_items.clear();
        store->m_registry = nullptr;
        ++cleared;
        return true;
    };
    m_stores.erase(std::remove_if(m_stores.begin(), m_stores.end(), old), m_stores.end());
    return cleared;
}

namespace {

void CopyPlane(std::vector<uint8_t>& plane, int32_t width, int32_t height, const uint8_t* data,
               int32_t pitch) {
    plane.resize(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(plane.data() + size_t(y) * size_t(width), data + int64_t(y) * pitch,
                    size_t(width));
}

// Calls put(x, y, value) for every surface texel, repeating the plane's edge
// into the spare area so that filtering at the border stays on the picture.
template <class TPut>
void SpreadPlane(const std::vector<uint8_t>& plane, int32_t width, int32_t height,
                 ql::TBitmap& surface, TPut put) {
    if (plane.empty()) return;
    for (int32_t y = 0; y < surface.Height(); ++y) {
        const uint8_t* row = plane.data() + size_t(std::min(y, height - 1)) * size_t(width);
        for (int32_t x = 0; x < surface.Width(); ++x)
            put(surface.Row(y), x, row[std::min(x, width - 1)]);
    }
}

}  // namespace

TVideoTexture::TVideoTexture(T3DScreen& screen, int32_t width, int32_t height)
    : TCustomTexture(screen, TTextureUsage::Dynamic, 1, TTexelFormat::L8) {
    SetSize(width, height);
}

void TVideoTexture::SetPlane(const uint8_t* data, int32_t pitch) {
    // Rows as wide as the texture, the last column repeated into the spare
    // area: the upload then hands the rows to the device as they are.
    const int32_t w = Width(), stride = TexWidth();
    m_plane.resize(size_t(stride) * size_t(Height()));
    for (int32_t y = 0; y < Height(); ++y) {
        uint8_t* row = m_plane.data() + size_t(y) * size_t(stride);
        std::memcpy(row, data + int64_t(y) * pitch, size_t(w));
        std::memset(row + w, row[w - 1], size_t(stride - w));
    }
    Invalidate();
}

bool TVideoTexture::FillTexture(int32_t level, ql::TBitmap& surface) {
    if (m_plane.empty()) return true;
    const int32_t stride = TexWidth();
    for (int32_t y = 0; y < surface.Height(); ++y)
        std::memcpy(surface.Row(y),
                    m_plane.data() + size_t(std::min(y, Height() - 1)) * size_t(stride),
                    size_t(std::min(surface.Width(), stride)));
    return true;
}

std::unique_ptr<ql::TBitmap> TVideoTexture::DirectLevel(int32_t level, int32_t width,
                                                        int32_t height) {
    if (level != 0 || m_plane.empty() || width != TexWidth()) return nullptr;
    // The rows below the plane repeat its last row.
    ql::TScanLines rows(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y)
        rows[size_t(y)] = m_plane.data() + size_t(std::min(y, Height() - 1)) * size_t(width);
    return std::make_unique<ql::TSysBitmap>(width, height, ql::FindPixelFormat("Y8"),
                                            std::move(rows));
}

TGrayScaleTexture::TGrayScaleTexture(T3DScreen& screen, int32_t width, int32_t height)
    : TCustomTexture(screen, TTextureUsage::Dynamic) {
    SetSize(width, height);
}

void TGrayScaleTexture::SetPlane(const uint8_t* data, int32_t pitch) {
    CopyPlane(m_plane, Width(), Height(), data, pitch);
    Invalidate();
}

bool TGrayScaleTexture::FillTexture(int32_t level, ql::TBitmap& surface) {
    SpreadPlane(m_plane, Width(), Height(), surface, [](uint8_t* row, int32_t x, uint8_t v) {
        const uint32_t c = 0xFF000000u | uint32_t(v) << 16 | uint32_t(v) << 8 | v;
        std::memcpy(row + size_t(x) * 4, &c, 4);
    });
    return true;
}

TBoxAntiTexture::TBoxAntiTexture(T3DScreen& screen)
    : TCustomTexture(screen, TTextureUsage::Managed) {
    SetSize(256, 256);
}

bool TBoxAntiTexture::FillTexture(int32_t level, ql::TBitmap& surface) {
    surface.FillRect(surface.Bounds(), 0xFFFFFFFFu);
    return true;
}

TDxResult TBoxAntialiaser::DrawBox(TPointF origin, TPointF axisX, TPointF axisY, uint8_t edgeFlags,
                                   const uint32_t (&colours)[4]) {
    return DrawBoxPlaced(std::hypot(axisX.x, axisX.y), std::hypot(axisY.x, axisY.y), edgeFlags,
                         colours, [&](float s, float t, TVertex& v) {
                             v.x = origin.x + s * axisX.x + t * axisY.x;
                             v.y = origin.y + s * axisX.y + t * axisY.y;
                         });
}

TDxResult TBoxAntialiaser::DrawBoxPlaced(float lenX, float lenY, uint8_t edgeFlags,
                                         const uint32_t (&colours)[4], const TVertexPlacer& place) {
    const TTextureHandle texture = m_texture.GetTexture();
    if (texture == 0) return m_texture.Screen().LastResult();
    // A grid of 4 x 4 points: the box in the middle, a ring of one pixel
    // around it on the flagged sides. An axis shorter than a pixel gets no
    // ring: the fade would be wider than the box.
    const bool ringX = lenX >= 1.0f, ringY = lenY >= 1.0f;
    const float s[4] = {(edgeFlags & efLeft) && ringX ? -1.0f / lenX : 0.0f, 0.0f, 1.0f,
                        1.0f + ((edgeFlags & efRight) && ringX ? 1.0f / lenX : 0.0f)};
    const float t[4] = {(edgeFlags & efTop) && ringY ? -1.0f / lenY : 0.0f, 0.0f, 1.0f,
                        1.0f + ((edgeFlags & efBottom) && ringY ? 1.0f / lenY : 0.0f)};
    TVertex grid[4][4];
    for (int32_t j = 0; j < 4; ++j)
        for (int32_t i = 0; i < 4; ++i) {
            TVertex& v = grid[j][i];
            place(s[i], t[j], v);
            v.u = s[i] * lenX / 256.0f;
            v.v = t[j] * lenY / 256.0f;
            const bool right = i >= 2, bottom = j >= 2;
            uint32_t c = colours[bottom ? (right ? 2 : 3) : (right ? 1 : 0)];
            if (i == 0 || i == 3 || j == 0 || j == 3) c &= 0x00FFFFFFu;
            v.colour = c;
        }
    TDrawState state;
    state.pipeline = TPipeline::Texture;
    state.textures[0] = texture;
    TDxResult result = TDxResult::Ok;
    for (int32_t j = 0; j < 3; ++j)
        for (int32_t i = 0; i < 3; ++i) {
            if (s[i] == s[i + 1] || t[j] == t[j + 1]) continue;
            const TVertex quad[4] = {grid[j][i], grid[j][i + 1], grid[j + 1][i + 1],
                                     grid[j + 1][i]};
            const TDxResult drawn = m_texture.Screen().DrawQuad(state, quad);
            if (drawn != TDxResult::Ok) result = drawn;
        }
    return result;
}

}  // namespace orb
