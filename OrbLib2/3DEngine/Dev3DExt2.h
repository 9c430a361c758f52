// Pictures as tiles of a few fixed texture sizes, each tile with a one-pixel
// border so that filtering shows no seams; the tile managers that keep and
// reuse tiles; and the white texture that gives boxes smooth edges.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OrbLib2/3DEngine/Dev3DApp2.h"
#include "OrbLib2/3DEngine/TileBitmap.h"

namespace orb {

class TTileManager;
class TMultiTexture6;
class TTextureManager6;

struct TPointF {
    float x = 0, y = 0;
};

// Sets a vertex's x, y and w for a point given in the drawer's own units
// (view pixels from the source's top-left for pictures, fractions of the
// sides for boxes): flat drawing places affinely, 3D drawing projects.
using TVertexPlacer = std::function<void(float s, float t, TVertex& vertex)>;

// Sides of a drawn part that lie on the picture's outer edge.
enum TEdgeFlags : uint8_t { efLeft = 1, efTop = 2, efRight = 4, efBottom = 8 };

class TTextureTile : public TCustomTexture {
public:
    TTextureTile(TTileManager& manager, T3DScreen& screen);

    TTileManager& Manager() const { return m_manager; }
    TMultiTexture6* Owner() const { return m_owner; }
    // Origin in the source view; -1 at the picture's top or left edge.
    ql::TPoint Origin() const { return m_origin; }
    ql::TPoint UsedSize() const { return m_used; }

    // Copies the view at the origin, then repeats the nearest copied pixel
    // into the rest of the surface.
    bool FillTexture(int32_t level, ql::TBitmap& surface) override;
    // The picture's own rows when the tile lies wholly inside an uncut view:
    // nothing to repeat at its sides, so nothing to copy.
    std::unique_ptr<ql::TBitmap> DirectLevel(int32_t level, int32_t width, int32_t height) override;

private:
    friend class TTextureManager6;
    friend class TMultiTexture6;
    TTileManager& m_manager;
    TMultiTexture6* m_owner = nullptr;
    ql::TPoint m_origin;
    ql::TPoint m_used;
};

class TTileManager {
public:
    TTileManager(T3DScreen& screen, int32_t width, int32_t height)
        : m_screen(screen), m_width(width), m_height(height) {}
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    size_t FreeCount() const { return m_free.size(); }
    // Given up for good: the device cannot make textures of this size.
    bool Removed() const { return m_removed; }

private:
    friend class TTextureManager6;
    T3DScreen& m_screen;
    int32_t m_width, m_height;
    bool m_removed = false;
    std::vector<std::unique_ptr<TTextureTile>> m_free;  // the most recently freed last
};

class TTextureManager6 {
public:
    explicit TTextureManager6(T3DScreen& screen);
    // Every multi-texture must be gone first (assertion).
    ~TTextureManager6();

    T3DScreen& Screen() const { return m_screen; }
    // A free or new tile of the best size for w x h; nullptr when no size is
    // left. A size whose texture runs out of memory is passed over for this
    // call only: memory comes back, and only a size the device refuses
    // outright is given up for good. When every size is out of memory the
    // tile comes without a device texture and makes it when next drawn.
    std::unique_ptr<TTextureTile> GetTile(int32_t width, int32_t height);
    void ReturnTile(std::unique_ptr<TTextureTile> tile);

    // The managers still present, in creation order.
    std::vector<const TTileManager*> Managers() const;
    int32_t MultiTextureCount() const { return m_multiTextures; }

    // The pause after each resident tile, leaving time to the drawing thread.
    std::chrono::milliseconds UploadPause() const { return m_uploadPause; }
    void SetUploadPause(std::chrono::milliseconds pause) { m_uploadPause = pause; }

private:
    friend class TMultiTexture6;
    T3DScreen& m_screen;
    std::vector<std::unique_ptr<TTileManager>> m_managers;
    int32_t m_multiTextures = 0;
    // Read by uploads; threads that share the drawer change it under its lock.
    std::chrono::milliseconds m_uploadPause{1};
};

class TMultiTexture6 {
public:
    explicit TMultiTexture6(TTextureManager6& manager);
    // Gives every tile back to its manager's free list.
    ~TMultiTexture6();
    TMultiTexture6(const TMultiTexture6&) = delete;
    TMultiTexture6& operator=(const TMultiTexture6&) = delete;

    // Drops all tiles and builds the view of rect cut into columns x rows
    // cells; the rectangle must lie inside the bitmap and not be empty.
    void SetSource(const ql::TBitmap* bitmap, std::unique_ptr<ql::TBitmap> owned, int32_t columns,
                   int32_t rows, const ql::TRect& rect);
    void BuildTiles();
    // Creates and uploads every tile; an upload that fails stops the rest
    // until the next call.
    TDxResult LoadAll();
    // Draws the part source (in view pixels) of the picture: view pixel
    // (x, y) lands at position + (x - source.left) * axisX + (y - source.top) * axisY.
    TDxResult Draw(TPointF position, const ql::TRect& source, TPointF axisX, TPointF axisY);
    // Draws the part source with every tile corner placed by place, given
    // the corner's offset in view pixels from the source's top-left.
    TDxResult DrawPlaced(const ql::TRect& source, const TVertexPlacer& place);

    const TTileBitmap* View() const { return m_view.get(); }
    const std::vector<std::unique_ptr<TTextureTile>>& Tiles() const { return m_tiles; }
    uint8_t Opacity() const { return m_opacity; }
    void SetOpacity(uint8_t opacity) { m_opacity = opacity; }
    TFilter Filter() const { return m_filter; }
    void SetFilter(TFilter filter) { m_filter = filter; }
    // TEdgeFlags: the sides of the drawn part smoothed where they are the
    // part's own outer sides; seams between tiles never are.
    uint8_t EdgeFlags() const { return m_edgeFlags; }
    void SetEdgeFlags(uint8_t flags) { m_edgeFlags = flags; }

private:
    void DropTiles();
    void CutRegion(int32_t x, int32_t y, int32_t width, int32_t height);

    TTextureManager6& m_manager;
    std::unique_ptr<TTileBitmap> m_view;
    std::vector<std::unique_ptr<TTextureTile>> m_tiles;
    uint8_t m_opacity = 255;
    TFilter m_filter = TFilter::Bilinear;
    uint8_t m_edgeFlags = 0;
};

// The key of a picture's multi-texture for one display variant:
// "MultiTexID: <level>:<columns>:<rows>".
std::u16string MultiTextureKey(int32_t level, int32_t columns, int32_t rows);

struct TTextureWrapper {
    std::u16string key;
    std::unique_ptr<TMultiTexture6> texture;
    // The bitmap the texture's tiles read, shared with its picture's store so
    // that the store's memory budget never frees it under the texture.
    std::shared_ptr<const ql::TBitmap> source;
};

class TTextureStore2;

// The texture stores of a drawer that hold textures, so that a drawer short of
// picture memory can let go of those drawn least recently.
class TTextureRegistry {
public:
    void Enter(TTextureStore2& store);
    void Leave(TTextureStore2& store);
    // Empties the stores entered that were drawn least recently, all those of
    // that frame, if it is before frame; never keep. How many it emptied. The
    // caller holds the drawer's lock.
    int32_t ClearOldest(uint64_t frame, const TTextureStore2* keep);

private:
    std::mutex m_lock;
    std::vector<TTextureStore2*> m_stores;  // under m_lock
};

// The multi-textures of one picture, one per display variant.
class TTextureStore2 {
public:
    TTextureStore2() = default;
    // Leaves the registry it entered: a store may go on another thread
    // while its drawer empties idle stores.
    ~TTextureStore2();
    // Takes the textures over, and the other's place in its registry.
    TTextureStore2(TTextureStore2&& other);
    TTextureStore2& operator=(TTextureStore2&&) = delete;

    // nullptr when the key is not there.
    TMultiTexture6* Find(const std::u16string& key) const;
    // Replaces a multi-texture stored under the same key; source is the
    // bitmap its tiles read, kept alive with it. With a registry, the store
    // enters it until it is emptied.
    TMultiTexture6& Add(std::u16string key, std::unique_ptr<TMultiTexture6> texture,
                        std::shared_ptr<const ql::TBitmap> source = {},
                        TTextureRegistry* registry = nullptr);
    void Clear();
    size_t Count() const { return m_items.size(); }
    // The frame a texture of the store was last drawn in (0: never).
    void MarkDrawn(uint64_t frame) { m_drawnFrame = frame; }

private:
    friend class TTextureRegistry;
    std::vector<TTextureWrapper> m_items;
    std::atomic<TTextureRegistry*> m_registry{nullptr};  // the registry this store is in
    uint64_t m_drawnFrame = 0;
};

// One plane of a video frame (Y, U or V), one byte per texel.
class TVideoTexture : public TCustomTexture {
public:
    TVideoTexture(T3DScreen& screen, int32_t width, int32_t height);
    // Copies the plane (width x height bytes, rows pitch apart) for the next upload.
    void SetPlane(const uint8_t* data, int32_t pitch);
    bool FillTexture(int32_t level, ql::TBitmap& surface) override;
    // The plane's rows themselves: no copy on the way to the device.
    std::unique_ptr<ql::TBitmap> DirectLevel(int32_t level, int32_t width, int32_t height) override;

protected:
    std::vector<uint8_t> m_plane;
};

// The single-texture video fallback: the luma plane as grey "A8R8G8B8".
class TGrayScaleTexture : public TCustomTexture {
public:
    TGrayScaleTexture(T3DScreen& screen, int32_t width, int32_t height);
    void SetPlane(const uint8_t* data, int32_t pitch);
    bool FillTexture(int32_t level, ql::TBitmap& surface) override;

private:
    std::vector<uint8_t> m_plane;
};

// Opaque white, 256 x 256, under boxes with smooth edges.
class TBoxAntiTexture : public TCustomTexture {
public:
    explicit TBoxAntiTexture(T3DScreen& screen);
    bool FillTexture(int32_t level, ql::TBitmap& surface) override;
};

class TBoxAntialiaser {
public:
    explicit TBoxAntialiaser(T3DScreen& screen) : m_texture(screen) {}
    // Corner colours top-left, top-right, bottom-right, bottom-left. Edges
    // named by flags fade out over a one-pixel ring outside the box.
    TDxResult DrawBox(TPointF origin, TPointF axisX, TPointF axisY, uint8_t edgeFlags,
                      const uint32_t (&colours)[4]);
    // The same box with its points placed by place, given as fractions of
    // the sides (0..1 inside the box); lengthX and lengthY are the sides'
    // lengths on the screen, which set the ring's one-pixel width.
    TDxResult DrawBoxPlaced(float lengthX, float lengthY, uint8_t edgeFlags,
                            const uint32_t (&colours)[4], const TVertexPlacer& place);

private:
    TBoxAntiTexture m_texture;
};

}  // namespace orb
