// The OpenGL 3.3 core calls the GL render device needs, in GL-free terms.
//
// The render device interface lives above the platform room, so its GL
// backend (orb::TGlDevice) cannot sit here; and raw GL belongs only here. The
// seam is this small set of operations: the device decides what to draw and
// in which pipeline, this class owns the function pointers, the GL enums and
// the one vertex buffer, and nothing above it includes a GL header.
//
// Orientation: textures and framebuffers keep row 0 first in memory, the way
// bitmaps do, so uploads, render targets and read-back need no flips; only
// the blit to a window turns the picture upright, since a window's row 0 is
// at the bottom.
//
// Like its context, an API object is used only on the thread that made it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "QlLib/Platform/qlGlContext.h"

namespace ql {

struct TGlFunctions;

enum class TGlBlend : uint8_t { None, PremultipliedOver, Add, Max };

// One vertex attribute of the interleaved vertex data: floats, or bytes
// normalised to 0..1.
struct TGlAttribute {
    int32_t location = 0;
    int32_t components = 4;
    bool normalisedBytes = false;
    size_t offset = 0;
};

class TGlApi {
public:
    // Takes the context and loads the functions through it; null with the
    // reason in error when the context lacks one of them.
    static std::unique_ptr<TGlApi> Create(std::unique_ptr<TGlContext> context, std::string& error);
    ~TGlApi();

    TGlContext& Context() { return *m_context; }
    int32_t MaxTextureSize() const;
    std::string Renderer() const;
    // True and clears the flag when GL ran out of memory since the last call;
    // other errors are cleared too.
    bool TakeOutOfMemory();
    // True once GL reported that the context was lost (a driver reset); the
    // pending errors are cleared. A context that notices resets is asked
    // outright, so call this once a frame.
    bool TakeContextLost();
    // True when the context was made to be told of driver resets (robust,
    // losing itself on a reset); false for a plain context, where a reset
    // shows at best as failing calls.
    bool NoticesResets() const;

    // 0 when GL refused. Grey textures hold one byte per texel and sample as
    // (l, l, l, 1).
    uint32_t CreateTexture(int32_t width, int32_t height, int32_t levels, bool grey);
    void DeleteTexture(uint32_t texture);
    // Rows of B, G, R, A bytes (or grey bytes), rowBytes apart.
    void UploadTexture(uint32_t texture, int32_t level, int32_t width, int32_t height, bool grey,
                       const uint8_t* pixels, int32_t rowBytes);
    // A framebuffer drawing into level 0 of the texture; 0 if incomplete.
    uint32_t CreateFramebuffer(uint32_t texture);
    void DeleteFramebuffer(uint32_t framebuffer);
    void BindFramebuffer(uint32_t framebuffer, int32_t width, int32_t height);
    // An empty rectangle turns the scissor off.
    void SetScissor(int32_t left, int32_t top, int32_t width, int32_t height);
    // Channels 0..1, already premultiplied.
    void Clear(float r, float g, float b, float a);

    // 0 with the compiler's log when a stage or the link fails.
    uint32_t CreateProgram(const char* vertexSource, const char* fragmentSource, std::string& log);
    void DeleteProgram(uint32_t program);
    // -1 if the program has no such uniform (or optimised it away).
    int32_t UniformLocation(uint32_t program, const char* name) const;
    void UseProgram(uint32_t program);
    void SetUniform(int32_t location, int32_t value);
    void SetUniform(int32_t location, float x, float y, float z, float w);
    void BindTexture(int32_t unit, uint32_t texture, bool bilinear);
    void SetBlend(TGlBlend blend);
    // Draws count vertices as triangles from interleaved data.
    void DrawTriangles(const void* vertices, size_t stride, int32_t count,
                       std::span<const TGlAttribute> attributes);

    // Copies rows of B, G, R, A bytes from the bound framebuffer.
    void ReadPixels(int32_t left, int32_t top, int32_t width, int32_t height, uint8_t* dst,
                    int32_t rowBytes);
    // Shows the framebuffer in the window, scaled to the drawable and upright.
    void BlitToWindow(uint32_t framebuffer, int32_t width, int32_t height);

private:
    TGlApi() = default;
    std::unique_ptr<TGlContext> m_context;
    std::unique_ptr<TGlFunctions> m_gl;
    uint32_t m_vertexArray = 0;
    uint32_t m_vertexBuffer = 0;
    bool m_contextLost = false;
};

}  // namespace ql
