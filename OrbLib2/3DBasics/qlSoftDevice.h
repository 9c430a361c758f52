// The software render device: draws into memory, the same way on every
// machine and for every thread count, so it is the reference for exact pixel
// tests and for headless rendering. It can simulate a small video memory and
// the loss of the device, so that the recovery paths above it run in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "OrbLib2/3DBasics/qlRenderDevice.h"
#include "OrbLib2/3DBasics/qlSoftSpans.h"
#include "QlLib/Graphics/qlDrawThreads.h"

namespace ql {
class TYuvToRgbConverter;
}

namespace orb {

struct TSoftDeviceOptions {
    int32_t width = 640;
    int32_t height = 480;
    // Drawing threads, the calling one included.
    int32_t threads = 1;
    // Bytes of textures (render targets included) the device holds at most.
    int64_t memoryBudget = int64_t(512) << 20;
    // Textured triangles with a varying colour or w go through the shaded
    // runs, which give the same bytes as the plain per-pixel loop; off, that
    // loop draws them (the reference the runs are compared with).
    bool shadeRuns = true;
};

class TSoftDevice : public TRenderDevice {
public:
    explicit TSoftDevice(const TSoftDeviceOptions& options);
    ~TSoftDevice() override;

    TDeviceCaps Caps() const override;
    TDxResult LastResult() const override { return m_lastResult; }
    int32_t OutputWidth() const override { return m_width; }
    int32_t OutputHeight() const override { return m_height; }
    TDxResult ResizeOutput(int32_t width, int32_t height) override;
    TDxResult Restore() override;

    TDxResult CreateTexture(const TTextureDesc& desc, TTextureHandle& handle) override;
    void ReleaseTexture(TTextureHandle handle) override;
    TDxResult UploadLevel(TTextureHandle handle, int32_t level, const ql::TBitmap& pixels) override;

    TDxResult BeginScene() override;
    TDxResult EndScene() override;
    TDxResult Present() override;
    TDxResult SetRenderTarget(TTextureHandle target) override;
    void SetScissor(const ql::TRect& rect) override { m_scissor = rect; }
    TDxResult Clear(uint32_t colour) override;
    TDxResult DrawTriangles(const TDrawState& state, std::span<const TVertex> vertices) override;
    TDxResult ReadPixels(const ql::TRect& rect, ql::TBitmap& dst) override;
    // The bands are those the waiting draws are drawn in, each handed over
    // by the thread that drew it.
    TDxResult ReadPixelBands(const ql::TRect& rect, const TBandSink& sink) override;

    // Loses the device now: every texture is gone and every call answers
    // DeviceLost until Restore has been refused failedRestores times.
    void SimulateLoss(int32_t failedRestores = 0);
    void SetMemoryBudget(int64_t bytes) { m_budget = bytes; }
    int64_t UsedMemory() const { return m_used; }
    int32_t TextureCount() const { return int32_t(m_textures.size()); }
    int32_t PresentCount() const { return m_presents; }
    void SetPresentSink(TPresentSink sink) override { m_presentSink = std::move(sink); }
    TDxResult ShowPixels(const uint8_t* pixels, int32_t width, int32_t height,
                         int32_t stride) override;

    // One projected corner of a triangle: screen position in 1/256 pixel and
    // the attributes divided by w, with 1/w, which are linear on the screen.
    struct TScreenVertex {
        double x, y;
        double attr[9];  // 1/w, r, g, b, a, u, v, u2, v2 (all times 1/w)
    };

private:
    // What a target knows about its pixels as a whole. Slides are drawn into
    // targets larger than they are, and frames cover what a clear filled:
    // clears write only what changed since the last one, and not at once but
    // band by band inside the next draw, while those rows are in the cache.
    struct TSurface {
        uint32_t background = 0;  // premultiplied: every pixel outside dirty holds it
        ql::TRect dirty;          // may differ from background
        bool pending = false;     // a clear of pendingRect not written yet
        uint32_t pendingColour = 0;
        ql::TRect pendingRect;
    };
    struct TTexture {
        TTextureDesc desc;
        TSurface surface;                           // level 0 as a render target
        std::vector<std::vector<uint32_t>> levels;  // premultiplied 0xAARRGGBB
        // Texels [0, opaqueW) x [0, opaqueH) of level 0 have alpha 255, as
        // uploaded (a picture in the corner of a larger texture); a render
        // target has none. Runs that sample only there, at full alpha, replace
        // what is under them, which spares reading the target.
        int32_t opaqueW = 0;
        int32_t opaqueH = 0;
        // Every texel of level 0 is this one, as uploaded (the box
        // antialiaser's white): any filter samples it whatever the
        // coordinates, so shaded runs skip sampling. Never for a target.
        bool uniform = false;
        uint32_t uniformTexel = 0;
        // Counts the uploads of level 0: a video frame's conversion is kept
        // until one of its planes changes.
        uint64_t version = 0;
    };
    struct TTarget {
        uint32_t* pixels = nullptr;
        int32_t width = 0;
        int32_t height = 0;
        TSurface* surface = nullptr;
    };
    struct TSetupTriangle {
        int64_t x[3], y[3];  // 1/256 pixel
        // Pixels the corners reach: [left, right] x [top, bottom]. Every band
        // tests every triangle, so this is worked out once.
        int32_t left, top, right, bottom;
        double attr[3][9];
        bool flatColour;
        // Triangles that need no per-pixel interpolation go through the run
        // loops: a flat colour, or a flat-coloured texture whose coordinates
        // are linear on the screen.
        // Masked: a texture through a mask, both unfiltered and one texel
        // per pixel, as a masked scene composes its content.
        enum class TFast : uint8_t { None, Colour, Texture, Masked } fast;
        uint32_t colour;     // Colour: the premultiplied source pixel
        uint16_t factor[4];  // Texture: b, g, r, a multipliers, 256 = 1
        TSpanBlend blend;    // the draw's blend, or Replace where Over changes nothing
        bool opaqueOver;     // Texture: Over at full alpha, Replace over opaque texels
        // Texture: texels in 32.32 fixed point at the centre of pixel (0, 0)
        // and their steps per pixel.
        int64_t u0, v0, dudx, dudy, dvdx, dvdy;
        // Masked: the texel of pixel (x, y) is (x + ox, y + oy) in the
        // texture (0, 1) and in the mask (2, 3); the straight flat colour.
        int32_t texelOffset[4];
        float maskedColour[4];
        // The smooth sides of the quad the triangle comes from (an index
        // into m_smooth), or -1.
        int32_t smooth;
    };

    TDxResult Fail(TDxResult result);
    TTexture* Find(TTextureHandle handle);
    bool Target(TTarget& target);
    ql::TRect ClipRect(const TTarget& target) const;
    // Writes a pending clear now.
    void FlushClear(const TTarget& target);
    void FlushClear(TTexture& texture);
    void SetupTriangle(const TDrawState& state, const TVertex* v);
    void EmitPolygon(const TScreenVertex* poly, int32_t count);
    static void PrepareFast(const TDrawState& state, const TTexture* texture, const TTexture* mask,
                            TSetupTriangle& tri);
    // The Masked run, when the triangle qualifies.
    static void PrepareMasked(const TDrawState& state, const TTexture* texture,
                              const TTexture* mask, TSetupTriangle& tri);
    // Whether the triangle's edge from corner a to corner b lies along one
    // of the smooth sides.
    static bool OnSmoothSide(const TSmoothEdges& edges, const TSetupTriangle& tri, int32_t a,
                             int32_t b);
    // A draw waiting for its pixels to be needed: its triangles are
    // m_setup[setupBegin, setupEnd), and a pending clear of fuseRect goes
    // with it, row by row just before its own rows.
    struct TQueuedDraw {
        TDrawState state;
        const TTexture* textures[3] = {nullptr, nullptr, nullptr};
        size_t setupBegin = 0, setupEnd = 0;
        ql::TRect clip;
        int32_t top = 0, bottom = 0;  // the rows it draws or clears on
        bool fuse = false;
        uint32_t fuseColour = 0;
        ql::TRect fuseRect;
    };
    void RasterBand(const TQueuedDraw& draw, const TTarget& target, int32_t y0, int32_t y1);
    // Rows of a target read as they are finished.
    struct TBandRead {
        TTarget target;
        ql::TRect rect;
        const TBandSink* sink;
    };
    // Draws what waits: before anything reads, replaces or lets go of pixels
    // or texels, or draws onto another target. With `read`, whose target is
    // the waiting draws' (if any wait), each band's rows of read->rect go
    // to its sink once drawn, every row of the rect whether drawn on or not.
    void FlushDraws(const TBandRead* read = nullptr);
    // Forgets what waits, with the device lost.
    void DropDraws();

    int32_t m_width;
    int32_t m_height;
    std::vector<uint32_t> m_backBuffer;
    TPresentSink m_presentSink;
    TSurface m_backSurface;
    std::unordered_map<TTextureHandle, TTexture> m_textures;
    TTextureHandle m_nextHandle = 1;
    TTextureHandle m_target = 0;
    ql::TRect m_scissor;
    int64_t m_budget;
    int64_t m_used = 0;
    bool m_lost = false;
    int32_t m_failedRestores = 0;
    int32_t m_presents = 0;
    bool m_shadeRuns;
    TDxResult m_lastResult = TDxResult::Ok;
    // The triangles of the waiting draws, kept between frames: no allocation per frame.
    std::vector<TSetupTriangle> m_setup;
    std::vector<TQueuedDraw> m_queue;  // all onto m_queueTarget
    TTarget m_queueTarget;
    int64_t m_queueWork = 0;  // pixels the waiting draws touch
    // A quad with smooth sides. Its pixels a smooth side takes in beyond the
    // triangle must still lie inside its other sides (the seams), which
    // hold them as the rasterizer holds a shared edge: exactly one of the
    // two quads at a seam draws a pixel whose centre lies on it.
    struct TSmoothQuad {
        TSmoothEdges edges;
        int32_t seams = 0;
        int64_t x[4], y[4], dx[4], dy[4], bias[4];  // 1/256 pixel, as triangles
        bool Inside(int64_t cx, int64_t cy) const {
            for (int32_t k = 0; k < seams; ++k)
                if (dx[k] * (cy - y[k]) - dy[k] * (cx - x[k]) + bias[k] < 0) return false;
            return true;
        }
    };
    std::vector<TSmoothQuad> m_smooth;  // likewise
    static TSmoothQuad SmoothQuad(const TVertex (&corners)[4], const TDrawState& state);
    std::unique_ptr<ql::TDrawThreadPool> m_pool;

    // A video frame's planes converted to pixels by the row loops of the
    // YUV converter, once per frame, so that drawing it samples one texture
    // as a picture does and gives the very bytes of a picture converted the
    // same way. 0 when the planes are not three L8 textures or the texture
    // does not fit the budget (the per-pixel path draws them then).
    TTextureHandle ConvertedYuv(const TDrawState& state, std::span<const TVertex> vertices);
    void ReleaseYuvOf(TTextureHandle plane);
    struct TYuvConversion {
        TTextureHandle planes[3] = {0, 0, 0};
        uint64_t versions[3] = {0, 0, 0};
        bool bt709 = false;
        TTextureHandle rgb = 0;
        int32_t width = 0, height = 0;  // the part converted
    };
    std::vector<TYuvConversion> m_yuv;
    // What one band of rows converts with, reused from frame to frame.
    struct TYuvBand {
        int32_t width = 0;
        std::unique_ptr<ql::TYuvToRgbConverter> converter;
        std::vector<uint8_t> rows;  // one row of each plane
    };
    std::vector<TYuvBand> m_yuvBands;

    // The levels of released textures, oldest first, for new ones of the
    // same sizes; m_spareBytes of them in all.
    std::vector<std::vector<std::vector<uint32_t>>> m_spare;
    int64_t m_spareBytes = 0;
    static int64_t SpareBytes(const std::vector<std::vector<uint32_t>>& levels);
};

}  // namespace orb
