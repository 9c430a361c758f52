// The render device: the one seam between the screen, the drawer and the
// graphics hardware. It speaks of outputs, textures, render targets and
// triangle lists only, never of a particular graphics interface, so the
// software device and a GL 3.3 device implement the same contract.
//
// Threads: a device and everything it creates are used from one thread at a
// time (a GL context is bound to one thread); the screen above serialises.
//
// Pixels: textures take straight-alpha "A8R8G8B8" rows on upload and keep
// them premultiplied; render targets and the back buffer hold premultiplied
// "A8R8G8B8" too. Slides rendered into textures are composed over one another
// by transitions, and only premultiplied colour blends and filters such
// pictures without dark fringes where transparent texels meet opaque ones.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/SysObj.h"

namespace orb {

// Results of device calls. A renderer whose last result is NotReady counts
// as not ready.
enum class TDxResult : uint8_t {
    Ok = 0,
    NotReady = 1,
    InvalidCall = 2,
    DeviceLost = 3,
    OutOfMemory = 4,
    Other = 5
};

// Writes "Dx Error = <n>" to the log for every result but Ok; returns result.
TDxResult LogDxResult(TDxResult result);

struct TDeviceCaps {
    int32_t maxTexWidth = 0;
    int32_t maxTexHeight = 0;
    int32_t maxAnisotropy = 1;
    uint32_t raster = 0;
    uint32_t vendor = 0;
    // Major * 256 + minor, as 0x0300 for 3.0.
    uint32_t pixelShaderVersion = 0;
};

// A capability by its name, case-insensitive ("MaxTexWidth", "MaxTexHeight",
// "MaxAnisotropy", "Raster", "Vendor", "PixelShaderVersion"); 0 if unknown.
int64_t CapsValue(const TDeviceCaps& caps, const std::string& name);

// 0 without pixel shaders 2.0, 1 for that vendor's parts below 3.0, else 2.
int32_t ShaderLevel(const TDeviceCaps& caps);

enum class TTextureUsage : uint8_t {
    Managed = 0,
    RenderTarget = 1,
    RenderTargetLockable = 2,
    Dynamic = 3
};
// L8 holds one byte per texel: the planes of a video frame.
enum class TTexelFormat : uint8_t { A8R8G8B8, L8 };

// Texture handles are never reused: after a loss every earlier handle is
// stale and answers InvalidCall. 0 is no texture (the back buffer as target).
using TTextureHandle = uint32_t;

struct TTextureDesc {
    int32_t width = 0;   // a power of two
    int32_t height = 0;  // a power of two
    int32_t mipLevels = 1;
    TTexelFormat format = TTexelFormat::A8R8G8B8;
    TTextureUsage usage = TTextureUsage::Managed;
};

// Pipelines the device offers; a draw picks one.
//   Colour:      vertex colour
//   Texture:     texture 0 x vertex colour
//   TextureMask: texture 0 x alpha of texture 1 (second coordinates) x colour
//   Yuv:         textures 0, 1, 2 are the L8 Y, U, V planes of a video frame
//                (video range; BT.601, or BT.709 with c0.x 1) at the first
//                coordinates, each chroma texel under two by two luma texels
//   PostEffect:  texture 0 softened by constants c1 x c2 (c0 = 1 / size)
enum class TPipeline : uint8_t { Colour, Texture, TextureMask, Yuv, PostEffect };

// Blends over premultiplied destinations. Over is "source over"; Max keeps
// the larger of source and destination in each channel (the union of masks).
enum class TBlendMode : uint8_t { Replace, Over, Add, Max };

enum class TFilter : uint8_t { Point, Bilinear };

// A vertex in homogeneous form: the target pixel is (x / w, y / w), pixel
// (i, j) covering [i, i + 1) x [j, j + 1). Flat 2D drawing uses w = 1.
// Colour is straight-alpha 0xAARRGGBB. Texture coordinates run 0..1 over the
// whole texture and are interpolated perspective-correct.
struct TVertex {
    float x = 0, y = 0, z = 0, w = 1;
    uint32_t colour = 0xFFFFFFFF;
    float u = 0, v = 0;
    float u2 = 0, v2 = 0;
};

struct TDrawState {
    TPipeline pipeline = TPipeline::Colour;
    TBlendMode blend = TBlendMode::Over;
    TFilter filter = TFilter::Bilinear;
    TTextureHandle textures[3] = {0, 0, 0};
    uint8_t opacity = 255;  // scales every vertex's alpha
    float constants[3][4] = {};
    // Parts with w below this are cut away before the division.
    float nearW = 1.0f / 1024.0f;
    // Sides drawn with smooth edges. With any bit set the vertices come as
    // quads, corners c0 c1 c2 c3 split into (c0, c1, c2) and (c0, c2, c3) as
    // a screen's DrawQuad sends them, and bit k smooths the side from corner
    // (k + 3) mod 4 to corner k: with the corners top-left, top-right,
    // bottom-right, bottom-left the bits are 1 left, 2 top, 4 right, 8 bottom.
    // A pixel that a smooth side cuts is drawn with its alpha scaled by the
    // part of it inside the quad, pixels just outside the side included; the
    // other sides (the seams between the tiles of a picture) are drawn as
    // without the flag, so neighbours still meet without gap or overlap.
    uint8_t smoothSides = 0;
};

// The smooth sides of one quad as lines on the target: a x + b y + c is the
// distance in pixels from the side, positive towards the quad. Both devices
// scale a pixel's alpha by Coverage at its centre, so they agree.
struct TSmoothEdges {
    int32_t count = 0;  // 0: nothing to smooth, every pixel is whole
    double a[4] = {}, b[4] = {}, c[4] = {};
    // The lines of the flagged sides (TDrawState::smoothSides) of a quad
    // given by its four corners in target pixels. None when a corner lies
    // nearer than nearW (the quad is cut at the near plane and its sides are
    // not the corners' lines on the screen) or a side has no length.
    static TSmoothEdges FromQuad(const TVertex (&corners)[4], uint8_t sides, float nearW);
    // The part of the pixel centred at (x, y) inside every line, 0..1.
    double Coverage(double x, double y) const;
    // The run of pixels [first, last) of row y whose centres lie so far
    // inside every line that the whole pixel does (coverage exactly 1);
    // first >= last when none. May leave out pixels that are whole, never
    // takes in one that is not.
    void WholeRun(int32_t y, int64_t& first, int64_t& last) const;
};

class TRenderDevice : public ql::TObj {
public:
    virtual TDeviceCaps Caps() const = 0;
    virtual TDxResult LastResult() const = 0;
    // Output (back buffer) size in pixels.
    virtual int32_t OutputWidth() const = 0;
    virtual int32_t OutputHeight() const = 0;
    // A new output size (the window was resized); the back buffer starts
    // cleared and textures stay.
    virtual TDxResult ResizeOutput(int32_t width, int32_t height) = 0;

    // After DeviceLost every resource is gone; Restore answers DeviceLost
    // while the device cannot come back yet and Ok once it is usable again.
    virtual TDxResult Restore() = 0;

    // Ok and a fresh handle, or OutOfMemory / InvalidCall / DeviceLost.
    virtual TDxResult CreateTexture(const TTextureDesc& desc, TTextureHandle& handle) = 0;
    virtual void ReleaseTexture(TTextureHandle handle) = 0;
    // Replaces a whole mip level from a bitmap of that level's size.
    virtual TDxResult UploadLevel(TTextureHandle handle, int32_t level,
                                  const ql::TBitmap& pixels) = 0;
    // The bytes a texture of this description takes in video memory.
    static int64_t TextureBytes(const TTextureDesc& desc);

    virtual TDxResult BeginScene() = 0;
    virtual TDxResult EndScene() = 0;
    virtual TDxResult Present() = 0;
    // 0 draws to the back buffer; the texture must be a render target.
    virtual TDxResult SetRenderTarget(TTextureHandle target) = 0;
    // Empty rectangle: no scissor.
    virtual void SetScissor(const ql::TRect& rect) = 0;
    // Fills the target (inside the scissor) with a straight-alpha colour.
    virtual TDxResult Clear(uint32_t colour) = 0;
    // Triangles of three vertices each; a partial last triangle is ignored.
    virtual TDxResult DrawTriangles(const TDrawState& state, std::span<const TVertex> vertices) = 0;
    // Copies premultiplied pixels of the current target into an
    // "A8R8G8B8" bitmap of rect's size.
    virtual TDxResult ReadPixels(const ql::TRect& rect, ql::TBitmap& dst) = 0;
    // Hands the finished pixels of rect to `sink` in bands of rows: rows
    // [first, end) counted from rect.top, premultiplied 0xAARRGGBB, `rows`
    // the first one's pixel at rect.left and `stride` pixels between rows.
    // Every row comes exactly once; every band but the last starts and
    // ends at an even row, so row pairs stay whole. Bands may come on
    // several threads at once, each while its rows are still in the cache
    // from drawing, and the call returns when all have come. This one reads
    // the whole rect and gives it as one band.
    using TBandSink =
        std::function<void(int32_t first, int32_t end, const uint32_t* rows, size_t stride)>;
    virtual TDxResult ReadPixelBands(const ql::TRect& rect, const TBandSink& sink);

    // Devices tied to a thread (a GL context is current on one thread at a
    // time) move to the calling thread; the thread that used the device
    // before must have let it go with DetachFromThread. Others ignore both.
    virtual void AttachToThread() {}
    virtual void DetachFromThread() {}
    // Whether only the attached thread may call the device (other threads
    // hand their work to it).
    virtual bool ThreadBound() const { return false; }

    // Receives presented frames on the presenting thread where the device
    // does not show them itself (the software device always, a GL device
    // without a window): the back buffer, premultiplied 0xAARRGGBB, rows of
    // `width` pixels. The buffer is drawn over again after the call.
    using TPresentSink = std::function<void(const uint32_t* pixels, int32_t width, int32_t height)>;
    virtual void SetPresentSink(TPresentSink sink) = 0;
    // Shows a picture made elsewhere (a dialog over the last frame), rows of
    // B, G, R, A bytes `stride` apart, in place of the drawn frame, scaled to
    // the output. Devices without a window of their own hand it to the
    // present sink when it has the output's size.
    virtual TDxResult ShowPixels(const uint8_t* pixels, int32_t width, int32_t height,
                                 int32_t stride) = 0;
};

}  // namespace orb
