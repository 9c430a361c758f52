#include "QlLib/Platform/qlGlContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <SDL.h>

#include <cstring>
#include <vector>

namespace ql {

namespace {

bool HasExtension(const char* list, const char* name) {
    if (!list) return false;
    const size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
    return false;
}

class TEglContext : public TGlContext {
public:
    ~TEglContext() override {
        if (m_display == EGL_NO_DISPLAY) return;
        eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (m_context != EGL_NO_CONTEXT) eglDestroyContext(m_display, m_context);
        if (m_surface != EGL_NO_SURFACE) eglDestroySurface(m_display, m_surface);
        // The display stays initialised: EGL keeps one per process and hands
        // it out again, and terminating it unloads the driver, whose leftovers
        // then look like leaks from nowhere to leak checkers.
    }

    // Tries the displays that need no window system, best first: Mesa's
    // surfaceless platform, then the first EGL device, then the default
    // display with a pbuffer.
    bool Open(std::string& error) {
        const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
        auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        std::vector<EGLDisplay> candidates;
        if (getPlatformDisplay && HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless"))
            candidates.push_back(
                getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr));
        auto queryDevices =
            reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
        if (getPlatformDisplay && queryDevices &&
            HasExtension(clientExtensions, "EGL_EXT_platform_device")) {
            EGLDeviceEXT devices[4];
            EGLint count = 0;
            if (queryDevices(4, devices, &count) && count > 0)
                candidates.push_back(
                    getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[0], nullptr));
        }
        candidates.push_back(eglGetDisplay(EGL_DEFAULT_DISPLAY));
        for (EGLDisplay display : candidates) {
            if (display == EGL_NO_DISPLAY) continue;
            EGLint major = 0, minor = 0;
            if (!eglInitialize(display, &major, &minor)) continue;
            m_display = display;
            if (TryContext()) return true;
            eglTerminate(display);
            m_display = EGL_NO_DISPLAY;
        }
        error = "no EGL display offers an OpenGL 3.3 core context";
        return false;
    }

    void* ProcAddress(const char* name) const override {
        return reinterpret_cast<void*>(eglGetProcAddress(name));
    }
    bool HasWindow() const override { return false; }
    void DrawableSize(int32_t& width, int32_t& height) const override { width = height = 0; }
    void SwapBuffers() override {}
    bool MakeCurrent() override {
        return eglMakeCurrent(m_display, m_surface, m_surface, m_context) == EGL_TRUE;
    }
    void ReleaseCurrent() override {
        eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }

private:
    bool TryContext() {
        if (!eglBindAPI(EGL_OPENGL_API)) return false;
        const bool surfaceless =
            HasExtension(eglQueryString(m_display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
        const EGLint configAttribs[] = {EGL_SURFACE_TYPE,
                                        surfaceless ? 0 : EGL_PBUFFER_BIT,
                                        EGL_RENDERABLE_TYPE,
                                        EGL_OPENGL_BIT,
                                        EGL_RED_SIZE,
                                        8,
                                        EGL_GREEN_SIZE,
                                        8,
                                        EGL_BLUE_SIZE,
                                        8,
                                        EGL_ALPHA_SIZE,
                                        8,
                                        EGL_NONE};
        EGLConfig config;
        EGLint count = 0;
        if (!eglChooseConfig(m_display, configAttribs, &config, 1, &count) || count < 1)
            return false;
        // A context that is told of driver resets where the driver offers
        // robustness (a reset then loses the context, and the device makes a
        // new one); a plain one otherwise.
        const char* displayExtensions = eglQueryString(m_display, EGL_EXTENSIONS);
        const bool robust = HasExtension(displayExtensions, "EGL_EXT_create_context_robustness") &&
                            HasExtension(displayExtensions, "EGL_KHR_create_context");
        const EGLint robustAttribs[] = {EGL_CONTEXT_MAJOR_VERSION,
                                        3,
                                        EGL_CONTEXT_MINOR_VERSION,
                                        3,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                        EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                        EGL_CONTEXT_FLAGS_KHR,
                                        EGL_CONTEXT_OPENGL_ROBUST_ACCESS_BIT_KHR,
                                        EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY_KHR,
                                        EGL_LOSE_CONTEXT_ON_RESET_KHR,
                                        EGL_NONE};
        const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION,
                                         3,
                                         EGL_CONTEXT_MINOR_VERSION,
                                         3,
                                         EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                         EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                         EGL_NONE};
        if (robust) m_context = eglCreateContext(m_display, config, EGL_NO_CONTEXT, robustAttribs);
        if (m_context == EGL_NO_CONTEXT)
            m_context = eglCreateContext(m_display, config, EGL_NO_CONTEXT, contextAttribs);
        if (m_context == EGL_NO_CONTEXT) return false;
        if (!surfaceless) {
            // Everything draws into framebuffer objects; the pbuffer only
            // satisfies displays that cannot bind a context without a surface.
            const EGLint pbufferAttribs[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
            m_surface = eglCreatePbufferSurface(m_display, config, pbufferAttribs);
            if (m_surface == EGL_NO_SURFACE) return Drop();
        }
        if (!eglMakeCurrent(m_display, m_surface, m_surface, m_context)) return Drop();
        return true;
    }

    bool Drop() {
        if (m_surface != EGL_NO_SURFACE) eglDestroySurface(m_display, m_surface);
        eglDestroyContext(m_display, m_context);
        m_surface = EGL_NO_SURFACE;
        m_context = EGL_NO_CONTEXT;
        return false;
    }

    EGLDisplay m_display = EGL_NO_DISPLAY;
    EGLContext m_context = EGL_NO_CONTEXT;
    EGLSurface m_surface = EGL_NO_SURFACE;
};

class TSdlGlContext : public TGlContext {
public:
    ~TSdlGlContext() override {
        if (m_context) SDL_GL_DeleteContext(m_context);
        if (m_window && m_ownsWindow) SDL_DestroyWindow(m_window);
        // SDL video and its GL library stay loaded, as the EGL display does:
        // the host's windows and input use SDL too, and unloading the GL
        // driver leaves its allocations looking like leaks from nowhere.
    }

    bool Open(const std::string& title, int32_t width, int32_t height, std::string& error) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            error = SDL_GetError();
            return false;
        }
        if (!TGlContext::SetWindowAttributes(error)) return false;
        m_window = SDL_CreateWindow(
            title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width, height,
            SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
        m_ownsWindow = true;
        if (!m_window) {
            error = SDL_GetError();
            return false;
        }
        return Attach(m_window, error);
    }

    bool Attach(SDL_Window* window, std::string& error) {
        m_window = window;
        // Told of driver resets where the driver offers robustness (a reset
        // then loses the context, and the device makes a new one on the same
        // window); a plain context otherwise. The attributes are SDL's global
        // state and go back to the plain defaults at once.
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_ROBUST_ACCESS_FLAG);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_RESET_NOTIFICATION, SDL_GL_CONTEXT_RESET_LOSE_CONTEXT);
        m_context = SDL_GL_CreateContext(m_window);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_RESET_NOTIFICATION,
                            SDL_GL_CONTEXT_RESET_NO_NOTIFICATION);
        if (!m_context) m_context = SDL_GL_CreateContext(m_window);
        if (!m_context || SDL_GL_MakeCurrent(m_window, m_context) != 0) {
            error = SDL_GetError();
            return false;
        }
        // Adaptive synchronisation where the driver offers it: a late frame
        // tears once instead of waiting a whole refresh.
        if (SDL_GL_SetSwapInterval(-1) != 0) SDL_GL_SetSwapInterval(1);
        return true;
    }

    void* ProcAddress(const char* name) const override { return SDL_GL_GetProcAddress(name); }
    bool HasWindow() const override { return true; }
    void DrawableSize(int32_t& width, int32_t& height) const override {
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(m_window, &w, &h);
        width = w;
        height = h;
    }
    void SwapBuffers() override { SDL_GL_SwapWindow(m_window); }
    bool MakeCurrent() override { return SDL_GL_MakeCurrent(m_window, m_context) == 0; }
    void ReleaseCurrent() override { SDL_GL_MakeCurrent(m_window, nullptr); }

private:
    SDL_Window* m_window = nullptr;
    bool m_ownsWindow = false;
    SDL_GLContext m_context = nullptr;
};

}  // namespace

std::unique_ptr<TGlContext> TGlContext::CreateHeadless(std::string& error) {
    auto context = std::make_unique<TEglContext>();
    if (!context->Open(error)) return nullptr;
    return context;
}

bool TGlContext::SetWindowAttributes(std::string& error) {
    // One extra load for the process: SDL counts them, and windows closing
    // no longer unload the driver.
    static const bool libraryLoaded = SDL_GL_LoadLibrary(nullptr) == 0;
    if (!libraryLoaded) {
        error = SDL_GetError();
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    return true;
}

std::unique_ptr<TGlContext> TGlContext::CreateForWindow(SDL_Window* window, std::string& error) {
    if (!window) {
        error = "no window";
        return nullptr;
    }
    auto context = std::make_unique<TSdlGlContext>();
    if (!context->Attach(window, error)) return nullptr;
    return context;
}

std::unique_ptr<TGlContext> TGlContext::CreateWindow(const std::string& title, int32_t width,
                                                     int32_t height, std::string& error) {
    auto context = std::make_unique<TSdlGlContext>();
    if (!context->Open(title, width, height, error)) return nullptr;
    return context;
}

}  // namespace ql
