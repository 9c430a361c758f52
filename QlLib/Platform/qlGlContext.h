// An OpenGL 3.3 core context and the surface it draws to: an SDL2 window for
// the player, or no surface at all (EGL surfaceless, a device or a tiny
// pbuffer) for headless rendering and tests on machines without a display.
// A context is current on the thread that created it and is used only there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct SDL_Window;

namespace ql {

class TGlContext {
public:
    virtual ~TGlContext() = default;

    // A headless context, or null with the reason in error.
    static std::unique_ptr<TGlContext> CreateHeadless(std::string& error);
    // A resizable window of this client size with a context, or null with
    // the reason in error.
    static std::unique_ptr<TGlContext> CreateWindow(const std::string& title, int32_t width,
                                                    int32_t height, std::string& error);
    // A context drawing into a window that stays its owner's (made with
    // SDL_WINDOW_OPENGL and the attributes of SetWindowAttributes), or null
    // with the reason in error. Current on the calling thread.
    static std::unique_ptr<TGlContext> CreateForWindow(SDL_Window* window, std::string& error);
    // Asks SDL for OpenGL 3.3 core windows; call before making the window.
    // False with SDL's reason when SDL has no GL library.
    static bool SetWindowAttributes(std::string& error);

    // The address of a GL function; null if the context does not offer it.
    virtual void* ProcAddress(const char* name) const = 0;
    // False for headless contexts: nothing is shown, there is no default
    // framebuffer to draw into.
    virtual bool HasWindow() const = 0;
    // The window's drawable size in pixels; 0 x 0 without a window.
    virtual void DrawableSize(int32_t& width, int32_t& height) const = 0;
    virtual void SwapBuffers() = 0;
    // Makes the context current on the calling thread, which draws through
    // it from now on; false when the platform refuses (the context is
    // current on another thread, or it was lost).
    virtual bool MakeCurrent() = 0;
    // Leaves the calling thread without a current context, so that another
    // thread can take this one.
    virtual void ReleaseCurrent() = 0;
};

}  // namespace ql
