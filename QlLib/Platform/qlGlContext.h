// An OpenGL 3.3 core context and the surface it draws to: an SDL2 window for
// the player, or no surface at all (EGL surfaceless, a device or a tiny
// pbuffer) for headless rendering and tests on machines without a display.
// A context is current on the thread that created it and is used only there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace ql {

class TGlContext {
public:
    virtual ~TGlContext() = default;

    // A headless context, or null with the reason in error.
    static std::unique_ptr<TGlContext> CreateHeadless(std::string& error);
    // A resizable window of this client size with a context, or null with
    // the reason in error.
    static std::unique_ptr<TGlContext> CreateWindow(const std::string& title, int32_t width, int32_t height,
                                                    std::string& error);

    // The address of a GL function; null if the context does not offer it.
    virtual void* ProcAddress(const char* name) const = 0;
    // False for headless contexts: nothing is shown, there is no default
    // framebuffer to draw into.
    virtual bool HasWindow() const = 0;
    // The window's drawable size in pixels; 0 x 0 without a window.
    virtual void DrawableSize(int32_t& width, int32_t& height) const = 0;
    virtual void SwapBuffers() = 0;
};

}  // namespace ql
