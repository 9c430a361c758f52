#include "QlLib/Platform/qlSdlHost.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <thread>

#include "QlLib/Platform/qlGlContext.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace ql {

namespace {

struct TSdlKey {
    SDL_Keycode Sdl;
    uint16_t Key;
};

// SDL key codes to the virtual-key codes the key map speaks. Letters and
// digits are handled before the table (SDL names them by their characters).
constexpr TSdlKey kSdlKeys[] = {
    {SDLK_BACKSPACE, vk::Back},
    {SDLK_TAB, vk::Tab},
    {SDLK_RETURN, vk::Return},
    {SDLK_RETURN2, vk::Return},
    {SDLK_KP_ENTER, vk::Return},
    {SDLK_LSHIFT, vk::Shift},
    {SDLK_RSHIFT, vk::Shift},
    {SDLK_LCTRL, vk::Control},
    {SDLK_RCTRL, vk::Control},
    {SDLK_LALT, vk::Menu},
    {SDLK_RALT, vk::Menu},
    {SDLK_PAUSE, vk::Pause},
    {SDLK_CAPSLOCK, vk::Capital},
    {SDLK_ESCAPE, vk::Escape},
    {SDLK_SPACE, vk::Space},
    {SDLK_PAGEUP, vk::Prior},
    {SDLK_PAGEDOWN, vk::Next},
    {SDLK_END, vk::End},
    {SDLK_HOME, vk::Home},
    {SDLK_LEFT, vk::Left},
    {SDLK_UP, vk::Up},
    {SDLK_RIGHT, vk::Right},
    {SDLK_DOWN, vk::Down},
    {SDLK_PRINTSCREEN, vk::Snapshot},
    {SDLK_INSERT, vk::Insert},
    {SDLK_DELETE, vk::Delete},
    {SDLK_LGUI, vk::LWin},
    {SDLK_RGUI, vk::RWin},
    {SDLK_APPLICATION, vk::Apps},
    {SDLK_KP_0, vk::Numpad0},
    {SDLK_KP_1, vk::Numpad0 + 1},
    {SDLK_KP_2, vk::Numpad0 + 2},
    {SDLK_KP_3, vk::Numpad0 + 3},
    {SDLK_KP_4, vk::Numpad0 + 4},
    {SDLK_KP_5, vk::Numpad0 + 5},
    {SDLK_KP_6, vk::Numpad0 + 6},
    {SDLK_KP_7, vk::Numpad0 + 7},
    {SDLK_KP_8, vk::Numpad0 + 8},
    {SDLK_KP_9, vk::Numpad0 + 9},
    {SDLK_KP_MULTIPLY, vk::Multiply},
    {SDLK_KP_PLUS, vk::Add},
    {SDLK_KP_MINUS, vk::Subtract},
    {SDLK_KP_PERIOD, vk::Decimal},
    {SDLK_KP_DIVIDE, vk::Divide},
    {SDLK_NUMLOCKCLEAR, vk::NumLock},
    {SDLK_SCROLLLOCK, vk::Scroll},
    {SDLK_AC_BACK, vk::BrowserBack},
    {SDLK_AC_FORWARD, vk::BrowserForward},
    {SDLK_MUTE, vk::VolumeMute},
    {SDLK_VOLUMEDOWN, vk::VolumeDown},
    {SDLK_VOLUMEUP, vk::VolumeUp},
    {SDLK_AUDIONEXT, vk::MediaNextTrack},
    {SDLK_AUDIOPREV, vk::MediaPrevTrack},
    {SDLK_AUDIOSTOP, vk::MediaStop},
    {SDLK_AUDIOPLAY, vk::MediaPlayPause},
    {SDLK_SEMICOLON, vk::Oem1},
    {SDLK_EQUALS, vk::OemPlus},
    {SDLK_COMMA, vk::OemComma},
    {SDLK_MINUS, vk::OemMinus},
    {SDLK_PERIOD, vk::OemPeriod},
    {SDLK_SLASH, vk::Oem2},
    {SDLK_BACKQUOTE, vk::Oem3},
    {SDLK_LEFTBRACKET, vk::Oem4},
    {SDLK_BACKSLASH, vk::Oem5},
    {SDLK_RIGHTBRACKET, vk::Oem6},
    {SDLK_QUOTE, vk::Oem7},
};

std::string MessageText(const std::u16string& text) {
    // Texts of the show use CR alone as the line break.
    std::u16string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            lines += u'\n';
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else {
            lines += text[i];
        }
    }
    return ToUtf8(lines);
}

uint8_t HeldButtons(uint32_t state) {
    uint8_t held = 0;
    if (state & SDL_BUTTON_LMASK) held |= mods::LeftHeld;
    if (state & SDL_BUTTON_RMASK) held |= mods::RightHeld;
    if (state & SDL_BUTTON_MMASK) held |= mods::MiddleHeld;
    return held;
}

uint8_t ButtonFromSdl(uint8_t button) {
    switch (button) {
        case SDL_BUTTON_LEFT:
            return mbLeft;
        case SDL_BUTTON_RIGHT:
            return mbRight;
        case SDL_BUTTON_MIDDLE:
            return mbMiddle;
        default:
            return 0;
    }
}

THostRect FromSdlRect(const SDL_Rect& r) {
    return {r.x, r.y, r.x + r.w, r.y + r.h};
}

// True for a GL renderer name that belongs to a rasteriser running on the
// CPU (Mesa's llvmpipe and softpipe, the older swrast and SWR).
bool SoftwareRasteriser(const char* name) {
    if (!name) return false;
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* word : {"llvmpipe", "softpipe", "software rasterizer", "swrast", "swr "})
        if (lower.find(word) != std::string::npos) return true;
    return false;
}

// True when a renderer would draw on the CPU after all: SDL's own software
// renderer, or a GL renderer on a software rasteriser. Uploading a frame
// to such a "GPU" and drawing it costs the player's own threads 15 to 20 ms
// a 1080p frame; copying it into the window's shared-memory image costs
// about half a millisecond.
bool RendererDrawsOnTheCpu(SDL_Renderer* renderer) {
    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(renderer, &info) != 0) return true;
    if ((info.flags & SDL_RENDERER_SOFTWARE) || !(info.flags & SDL_RENDERER_ACCELERATED))
        return true;
    if (!info.name || std::strncmp(info.name, "opengl", 6) != 0) return false;
    // SDL's GL renderers leave their context current once made.
    if (!SDL_GL_GetCurrentContext()) return false;
    using TGetString = const unsigned char* (*)(unsigned int);
    auto getString = reinterpret_cast<TGetString>(SDL_GL_GetProcAddress("glGetString"));
    constexpr unsigned int kGlRenderer = 0x1F01;
    return getString && SoftwareRasteriser(reinterpret_cast<const char*>(getString(kGlRenderer)));
}

}  // namespace

uint16_t VirtualKeyFromSdl(int32_t sdlKey) {
    if (sdlKey >= 'a' && sdlKey <= 'z') return static_cast<uint16_t>(sdlKey - 'a' + 'A');
    if (sdlKey >= '0' && sdlKey <= '9') return static_cast<uint16_t>(sdlKey);
    if (sdlKey >= SDLK_F1 && sdlKey <= SDLK_F12)
        return static_cast<uint16_t>(vk::F1 + (sdlKey - SDLK_F1));
    if (sdlKey >= SDLK_F13 && sdlKey <= SDLK_F24)
        return static_cast<uint16_t>(vk::F1 + 12 + (sdlKey - SDLK_F13));
    for (const TSdlKey& entry : kSdlKeys)
        if (entry.Sdl == sdlKey) return entry.Key;
    return 0;
}

uint8_t ModifiersFromSdl(uint32_t sdlMods) {
    uint8_t modifiers = 0;
    if (sdlMods & KMOD_GUI) modifiers |= mods::Win;
    if (sdlMods & KMOD_SHIFT) modifiers |= mods::Shift;
    if (sdlMods & KMOD_ALT) modifiers |= mods::Alt;
    if (sdlMods & KMOD_CTRL) modifiers |= mods::Ctrl;
    return modifiers;
}

struct TSdlHost::TState {
    bool Video = false;
    uint32_t UserEventType = 0;
    SDL_Window* Window = nullptr;
    SDL_Renderer* Renderer = nullptr;
    SDL_Texture* Texture = nullptr;
    // Frames go straight into the window's own image (shared memory with
    // the X server where it offers it) when no renderer draws on a GPU.
    bool SurfacePresent = false;
    int32_t TextureWidth = 0, TextureHeight = 0;
    bool OpenGlWindow = false;  // made with SDL_WINDOW_OPENGL
    bool GlDrawn = false;       // a GL context draws the window: no renderer
    SDL_Cursor* Arrow = nullptr;
    SDL_Cursor* Hand = nullptr;
    bool FullScreen = false;
    int32_t WheelRemainder = 0;  // 120ths of a step not yet reported
    std::deque<THostEvent> Queued;
    std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();

    // Turns an SDL event into ours; false for events the player does not use.
    bool Translate(const SDL_Event& e, THostEvent& out);
};

bool TSdlHost::TState::Translate(const SDL_Event& e, THostEvent& out) {
    out = THostEvent();
    switch (e.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            out.Kind = THostEventKind::Key;
            out.Key = VirtualKeyFromSdl(e.key.keysym.sym);
            if (!out.Key) return false;
            out.KeyEvent = e.type == SDL_KEYDOWN ? kePressed : keReleased;
            out.Repeat = e.key.repeat != 0;
            out.Modifiers = ModifiersFromSdl(e.key.keysym.mod);
            return true;
        case SDL_TEXTINPUT:
            out.Kind = THostEventKind::Char;
            out.Text = FromUtf8(e.text.text);
            return !out.Text.empty();
        case SDL_MOUSEMOTION:
            if (e.motion.which == SDL_TOUCH_MOUSEID) return false;
            out.Kind = THostEventKind::Mouse;
            out.MouseEvent = meMove;
            out.X = e.motion.x;
            out.Y = e.motion.y;
            out.Modifiers = static_cast<uint8_t>(ModifiersFromSdl(SDL_GetModState()) |
                                                 HeldButtons(e.motion.state));
            return true;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            if (e.button.which == SDL_TOUCH_MOUSEID) return false;
            out.Kind = THostEventKind::Mouse;
            out.Button = ButtonFromSdl(e.button.button);
            if (!out.Button) return false;
            out.MouseEvent = e.type == SDL_MOUSEBUTTONDOWN ? mePressed : meReleased;
            out.X = e.button.x;
            out.Y = e.button.y;
            // The state after the event, as the modifier bits report it.
            int x, y;
            out.Modifiers = static_cast<uint8_t>(ModifiersFromSdl(SDL_GetModState()) |
                                                 HeldButtons(SDL_GetMouseState(&x, &y)));
            if (out.MouseEvent == mePressed && e.button.clicks >= 2 && e.button.clicks % 2 == 0) {
                THostEvent doubleClick = out;
                doubleClick.MouseEvent = meDoubleClick;
                Queued.push_back(doubleClick);
            }
            return true;
        }
        case SDL_MOUSEWHEEL: {
            if (e.wheel.which == SDL_TOUCH_MOUSEID) return false;
            float amount = e.wheel.preciseY;
            if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) amount = -amount;
            if (!std::isfinite(amount)) return false;
            const double units = std::clamp(static_cast<double>(amount) * 120.0, -1.0e6, 1.0e6);
            WheelRemainder += static_cast<int32_t>(std::lround(units));
            const int32_t steps = WheelRemainder / 120;
            WheelRemainder -= steps * 120;
            if (steps == 0) return false;
            out.Kind = THostEventKind::Wheel;
            out.WheelSteps = steps;
            int x, y;
            out.Modifiers = static_cast<uint8_t>(ModifiersFromSdl(SDL_GetModState()) |
                                                 HeldButtons(SDL_GetMouseState(&x, &y)));
            out.X = x;
            out.Y = y;
            return true;
        }
        case SDL_WINDOWEVENT:
            switch (e.window.event) {
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                    out.Kind = THostEventKind::FocusGained;
                    return true;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    out.Kind = THostEventKind::FocusLost;
                    return true;
                case SDL_WINDOWEVENT_LEAVE:
                    out.Kind = THostEventKind::MouseLeave;
                    return true;
                case SDL_WINDOWEVENT_CLOSE:
                    out.Kind = THostEventKind::Close;
                    return true;
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    out.Kind = THostEventKind::Resized;
                    out.Width = e.window.data1;
                    out.Height = e.window.data2;
                    return true;
                default:
                    return false;
            }
        case SDL_QUIT:
            // A signal or the session ending: the window's own close button comes
            // as SDL_WINDOWEVENT_CLOSE (SDL is told not to add a quit to it).
            out.Kind = THostEventKind::Quit;
            return true;
        default:
            if (UserEventType != 0 && e.type == UserEventType) {
                out.Kind = THostEventKind::User;
                out.Code = e.user.code;
                out.Param = static_cast<int64_t>(reinterpret_cast<intptr_t>(e.user.data1));
                return true;
            }
            return false;
    }
}

TSdlHost::TSdlHost() : m_state(std::make_unique<TState>()) {}

TSdlHost::~TSdlHost() {
    TState& s = *m_state;
    if (s.Texture) SDL_DestroyTexture(s.Texture);
    if (s.Renderer) SDL_DestroyRenderer(s.Renderer);
    if (s.Window) SDL_DestroyWindow(s.Window);
    if (s.Arrow) SDL_FreeCursor(s.Arrow);
    if (s.Hand) SDL_FreeCursor(s.Hand);
    if (s.Video) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
}

bool TSdlHost::Init(std::string& error) {
    TState& s = *m_state;
    if (s.Video) return true;
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // Full screen here means covering the desktop, never a mode change, and a
    // show that loses the focus must stay where it is.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        error = SDL_GetError();
        return false;
    }
    s.Video = true;
    const Uint32 type = SDL_RegisterEvents(1);
    s.UserEventType = type == static_cast<Uint32>(-1) ? 0 : type;
    s.Arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
    s.Hand = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND);
    return true;
}

std::vector<TMonitorInfo> TSdlHost::Monitors() {
    std::vector<TMonitorInfo> monitors;
    if (!m_state->Video) return monitors;
    const int count = SDL_GetNumVideoDisplays();
    for (int i = 0; i < count && i < 64; ++i) {
        SDL_Rect bounds, usable;
        if (SDL_GetDisplayBounds(i, &bounds) != 0) continue;
        if (SDL_GetDisplayUsableBounds(i, &usable) != 0) usable = bounds;
        TMonitorInfo info;
        info.Bounds = FromSdlRect(bounds);
        info.WorkArea = FromSdlRect(usable);
        // SDL lists the primary display first.
        info.Primary = i == 0;
        monitors.push_back(info);
    }
    return monitors;
}

bool TSdlHost::OpenWindow(const TWindowParams& params, std::string& error) {
    TState& s = *m_state;
    if (!s.Video && !Init(error)) return false;
    if (s.Window) {
        error = "the window is already open";
        return false;
    }
    Uint32 flags = SDL_WINDOW_ALLOW_HIGHDPI;
    if (!params.Visible) flags |= SDL_WINDOW_HIDDEN;
    if (params.Border == TWindowBorder::None) flags |= SDL_WINDOW_BORDERLESS;
    if (params.Border == TWindowBorder::Resizable) flags |= SDL_WINDOW_RESIZABLE;
    std::string glError;
    s.OpenGlWindow = params.OpenGl && TGlContext::SetWindowAttributes(glError);
    if (s.OpenGlWindow) flags |= SDL_WINDOW_OPENGL;
    THostRect client = params.Client;
    if (params.FullScreen) {
        const std::vector<TMonitorInfo> monitors = Monitors();
        if (!monitors.empty()) {
            const size_t index =
                params.FullScreenMonitor >= 0 &&
                        static_cast<size_t>(params.FullScreenMonitor) < monitors.size()
                    ? static_cast<size_t>(params.FullScreenMonitor)
                    : 0;
            client = monitors[index].Bounds;
        }
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    }
    s.Window = SDL_CreateWindow(ToUtf8(params.Title).c_str(), client.Left, client.Top,
                                std::max(1, client.Width()), std::max(1, client.Height()), flags);
    if (!s.Window) {
        error = SDL_GetError();
        return false;
    }
    s.FullScreen = params.FullScreen;
    // A window for GL gets its renderer only if no context comes: an SDL
    // renderer may make a GL context of its own on the window.
    if (s.OpenGlWindow) return true;
    if (!EnsurePresenter()) {
        error = SDL_GetError();
        SDL_DestroyWindow(s.Window);
        s.Window = nullptr;
        return false;
    }
    if (s.Renderer) {
        SDL_SetRenderDrawColor(s.Renderer, 0, 0, 0, 255);
        SDL_RenderClear(s.Renderer);
        SDL_RenderPresent(s.Renderer);
    } else if (SDL_Surface* surface = SDL_GetWindowSurface(s.Window)) {
        SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
        SDL_UpdateWindowSurface(s.Window);
    }
    return true;
}

bool TSdlHost::EnsurePresenter() {
    TState& s = *m_state;
    if (s.Renderer || s.SurfacePresent) return true;
    if (!s.Window || s.GlDrawn) return false;
    // The window's own image is plain memory shared with the X server,
    // never a GL texture of SDL's drawn by the same CPU again (which SDL
    // would otherwise try first, for a software renderer as well).
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // The graphics card scales and shows the frames where there is one.
    s.Renderer = SDL_CreateRenderer(s.Window, -1, SDL_RENDERER_ACCELERATED);
    if (s.Renderer && !RendererDrawsOnTheCpu(s.Renderer)) {
        ql::GlobalLog().WriteLine(u"Frames go to the window through the graphics card");
        return true;
    }
    if (s.Renderer) SDL_DestroyRenderer(s.Renderer);
    s.Renderer = nullptr;
    // Without one, each frame is copied once into the window's image.
    if (SDL_GetWindowSurface(s.Window)) {
        s.SurfacePresent = true;
        ql::GlobalLog().WriteLine(u"Frames go to the window as a copy into its image");
        return true;
    }
    // Video drivers without a window image of their own (Wayland) take the
    // renderer after all, even one drawn on the CPU; SDL's software renderer
    // is the last resort.
    s.Renderer = SDL_CreateRenderer(s.Window, -1, SDL_RENDERER_ACCELERATED);
    if (!s.Renderer) s.Renderer = SDL_CreateRenderer(s.Window, -1, SDL_RENDERER_SOFTWARE);
    return s.Renderer != nullptr;
}

std::unique_ptr<TGlContext> TSdlHost::CreateGlContext(std::string& error) {
    TState& s = *m_state;
    if (!s.Window || !s.OpenGlWindow) {
        error = s.Window ? "the window was not made for OpenGL" : "no window";
        return nullptr;
    }
    if (s.Texture) SDL_DestroyTexture(s.Texture);
    if (s.Renderer) SDL_DestroyRenderer(s.Renderer);
    s.Texture = nullptr;
    s.Renderer = nullptr;
    s.TextureWidth = s.TextureHeight = 0;
    s.SurfacePresent = false;
    std::unique_ptr<TGlContext> context = TGlContext::CreateForWindow(s.Window, error);
    if (context) s.GlDrawn = true;
    return context;
}

void TSdlHost::DrawableSize(int32_t& width, int32_t& height) const {
    const TState& s = *m_state;
    int w = 0, h = 0;
    if (!s.Window) {
        width = height = 0;
        return;
    }
    if (s.OpenGlWindow)
        SDL_GL_GetDrawableSize(s.Window, &w, &h);
    else if (!s.Renderer || SDL_GetRendererOutputSize(s.Renderer, &w, &h) != 0)
        SDL_GetWindowSizeInPixels(s.Window, &w, &h);
    width = w;
    height = h;
}

bool TSdlHost::HasWindow() const {
    return m_state->Window != nullptr;
}

void TSdlHost::SetTitle(const std::u16string& title) {
    if (m_state->Window) SDL_SetWindowTitle(m_state->Window, ToUtf8(title).c_str());
}

void TSdlHost::SetBorder(TWindowBorder border) {
    SDL_Window* window = m_state->Window;
    if (!window) return;
    SDL_SetWindowBordered(window, border == TWindowBorder::None ? SDL_FALSE : SDL_TRUE);
    SDL_SetWindowResizable(window, border == TWindowBorder::Resizable ? SDL_TRUE : SDL_FALSE);
}

void TSdlHost::SetClientRect(const THostRect& client) {
    TState& s = *m_state;
    if (!s.Window) return;
    if (s.FullScreen) {
        SDL_SetWindowFullscreen(s.Window, 0);
        s.FullScreen = false;
    }
    SDL_SetWindowSize(s.Window, std::max(1, client.Width()), std::max(1, client.Height()));
    SDL_SetWindowPosition(s.Window, client.Left, client.Top);
}

void TSdlHost::SetFullScreen(int32_t monitor) {
    TState& s = *m_state;
    if (!s.Window) return;
    const std::vector<TMonitorInfo> monitors = Monitors();
    if (!monitors.empty()) {
        const size_t index = monitor >= 0 && static_cast<size_t>(monitor) < monitors.size()
                                 ? static_cast<size_t>(monitor)
                                 : 0;
        // Full screen on the desktop takes the display the window is on.
        if (s.FullScreen) SDL_SetWindowFullscreen(s.Window, 0);
        SDL_SetWindowPosition(s.Window, monitors[index].Bounds.Left, monitors[index].Bounds.Top);
    }
    SDL_SetWindowFullscreen(s.Window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    s.FullScreen = true;
}

void TSdlHost::SetVisible(bool visible) {
    if (!m_state->Window) return;
    if (visible)
        SDL_ShowWindow(m_state->Window);
    else
        SDL_HideWindow(m_state->Window);
}

void TSdlHost::Raise() {
    if (m_state->Window) SDL_RaiseWindow(m_state->Window);
}

THostRect TSdlHost::ClientRect() const {
    SDL_Window* window = m_state->Window;
    if (!window) return {};
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(window, &x, &y);
    SDL_GetWindowSize(window, &w, &h);
    return {x, y, x + w, y + h};
}

THostRect TSdlHost::FrameExtents() const {
    SDL_Window* window = m_state->Window;
    int top = 0, left = 0, bottom = 0, right = 0;
    if (!window || m_state->FullScreen ||
        SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right) != 0)
        return {};
    return {left, top, right, bottom};
}

bool TSdlHost::PollEvent(THostEvent& event) {
    TState& s = *m_state;
    if (!s.Queued.empty()) {
        event = std::move(s.Queued.front());
        s.Queued.pop_front();
        return true;
    }
    if (!s.Video) return false;
    SDL_Event e;
    while (SDL_PollEvent(&e))
        if (s.Translate(e, event)) return true;
    return false;
}

bool TSdlHost::WaitEvent(THostEvent& event, int32_t timeoutMs) {
    if (PollEvent(event)) return true;
    TState& s = *m_state;
    if (!s.Video) {
        Delay(timeoutMs);
        return false;
    }
    const int64_t deadline = TickMs() + std::max(timeoutMs, 0);
    for (;;) {
        const int64_t left = deadline - TickMs();
        if (left <= 0) return false;
        SDL_Event e;
        if (!SDL_WaitEventTimeout(&e, static_cast<int>(left))) return PollEvent(event);
        if (s.Translate(e, event)) return true;
    }
}

void TSdlHost::PostUserEvent(int32_t code, int64_t param) {
    const uint32_t type = m_state->UserEventType;
    if (type == 0) return;
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    e.user.code = code;
    e.user.data1 = reinterpret_cast<void*>(static_cast<intptr_t>(param));
    SDL_PushEvent(&e);
}

void TSdlHost::SetCursor(TCursorShape shape) {
    TState& s = *m_state;
    if (!s.Video) return;
    if (shape == TCursorShape::Hidden) {
        SDL_ShowCursor(SDL_DISABLE);
        return;
    }
    SDL_Cursor* cursor = shape == TCursorShape::Hand ? s.Hand : s.Arrow;
    if (cursor) SDL_SetCursor(cursor);
    SDL_ShowCursor(SDL_ENABLE);
}

bool TSdlHost::CursorPosition(int32_t& x, int32_t& y) const {
    SDL_Window* window = m_state->Window;
    if (!window || SDL_GetMouseFocus() != window) return false;
    int mx = 0, my = 0;
    SDL_GetMouseState(&mx, &my);
    x = mx;
    y = my;
    return true;
}

TMessageResult TSdlHost::MessageBox(const std::u16string& caption, const std::u16string& text,
                                    TMessageIcon icon, TMessageButtons buttons) {
    const std::string title = ToUtf8(caption);
    const std::string message = MessageText(text);
    SDL_MessageBoxButtonData data[2];
    int count = 0;
    auto add = [&](TMessageResult result, const char* label, Uint32 flags) {
        data[count].flags = flags;
        data[count].buttonid = static_cast<int>(result);
        data[count].text = label;
        ++count;
    };
    const Uint32 enter = SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT,
                 escape = SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    TMessageResult dismissed = TMessageResult::Ok;
    switch (buttons) {
        case TMessageButtons::Ok:
            add(TMessageResult::Ok, "OK", enter | escape);
            break;
        case TMessageButtons::OkCancel:
            add(TMessageResult::Ok, "OK", enter);
            add(TMessageResult::Cancel, "Cancel", escape);
            dismissed = TMessageResult::Cancel;
            break;
        case TMessageButtons::YesNo:
            add(TMessageResult::Yes, "Yes", enter);
            add(TMessageResult::No, "No", escape);
            dismissed = TMessageResult::No;
            break;
    }
    SDL_MessageBoxData box;
    std::memset(&box, 0, sizeof box);
    box.flags = icon == TMessageIcon::Error     ? SDL_MESSAGEBOX_ERROR
                : icon == TMessageIcon::Warning ? SDL_MESSAGEBOX_WARNING
                                                : SDL_MESSAGEBOX_INFORMATION;
    box.window = m_state->Window;
    box.title = title.c_str();
    box.message = message.c_str();
    box.numbuttons = count;
    box.buttons = data;
    int pressed = -1;
    // Without a display the box cannot be shown; the message goes to the
    // standard error so that it is not lost.
    if (SDL_ShowMessageBox(&box, &pressed) != 0) {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), message.c_str());
        return dismissed;
    }
    return pressed < 0 ? dismissed : static_cast<TMessageResult>(pressed);
}

bool TSdlHost::SetClipboardText(const std::u16string& text) {
    return m_state->Video && SDL_SetClipboardText(ToUtf8(text).c_str()) == 0;
}

std::u16string TSdlHost::ClipboardText() {
    if (!m_state->Video || !SDL_HasClipboardText()) return {};
    char* text = SDL_GetClipboardText();
    if (!text) return {};
    std::u16string result = FromUtf8(text);
    SDL_free(text);
    return result;
}

void TSdlHost::Present(const TFrameView& frame) {
    TState& s = *m_state;
    if (!frame.Pixels || frame.Width <= 0 || frame.Height <= 0 || frame.Stride < frame.Width * 4 ||
        !EnsurePresenter())
        return;
    if (s.SurfacePresent) {
        PresentToSurface(frame);
        return;
    }
    if (!s.Texture || s.TextureWidth != frame.Width || s.TextureHeight != frame.Height) {
        if (s.Texture) SDL_DestroyTexture(s.Texture);
        // RGB888 is a 32-bit value in native order with its top byte unused:
        // the bytes B, G, R, A on this little-endian machine, as the frame
        // stores them. A format with alpha would be blended onto the target
        // each frame; this one is copied.
        s.Texture = SDL_CreateTexture(s.Renderer, SDL_PIXELFORMAT_RGB888,
                                      SDL_TEXTUREACCESS_STREAMING, frame.Width, frame.Height);
        s.TextureWidth = s.Texture ? frame.Width : 0;
        s.TextureHeight = s.Texture ? frame.Height : 0;
        if (!s.Texture) return;
        SDL_SetTextureBlendMode(s.Texture, SDL_BLENDMODE_NONE);
    }
    SDL_UpdateTexture(s.Texture, nullptr, frame.Pixels, frame.Stride);
    // The copy covers the whole target: no clear first.
    SDL_RenderCopy(s.Renderer, s.Texture, nullptr, nullptr);
    SDL_RenderPresent(s.Renderer);
}

void TSdlHost::PresentToSurface(const TFrameView& frame) {
    TState& s = *m_state;
    // The surface is made again after the window changed its size.
    SDL_Surface* surface = SDL_GetWindowSurface(s.Window);
    if (!surface || surface->w <= 0 || surface->h <= 0) return;
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
    const Uint32 format = surface->format->format;
    const bool sameSize = surface->w == frame.Width && surface->h == frame.Height;
    if (sameSize && (format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888)) {
        // The usual case: the device draws at the window's size in the
        // window's own layout, and each row is one copy.
        const size_t rowBytes = static_cast<size_t>(frame.Width) * 4;
        for (int32_t y = 0; y < frame.Height; ++y)
            std::memcpy(
                static_cast<uint8_t*>(surface->pixels) + static_cast<size_t>(y) * surface->pitch,
                frame.Pixels + static_cast<size_t>(y) * frame.Stride, rowBytes);
    } else if (sameSize) {
        SDL_ConvertPixels(frame.Width, frame.Height, SDL_PIXELFORMAT_ARGB8888, frame.Pixels,
                          frame.Stride, format, surface->pixels, surface->pitch);
    }
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    if (!sameSize) {
        // Until the device follows a new window size, its last frame is
        // stretched over the window.
        SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(
            const_cast<uint8_t*>(frame.Pixels), frame.Width, frame.Height, 32, frame.Stride,
            SDL_PIXELFORMAT_RGB888);
        if (!source) return;
        SDL_SetSurfaceBlendMode(source, SDL_BLENDMODE_NONE);
        SDL_BlitScaled(source, nullptr, surface, nullptr);
        SDL_FreeSurface(source);
    }
    SDL_UpdateWindowSurface(s.Window);
}

bool TSdlHost::ReadWindowPixels(TFrameCopy& frame) {
    TState& s = *m_state;
    if (!EnsurePresenter()) return false;
    if (s.SurfacePresent) {
        SDL_Surface* surface = SDL_GetWindowSurface(s.Window);
        if (!surface || surface->w <= 0 || surface->h <= 0 || surface->w > 16384 ||
            surface->h > 16384)
            return false;
        frame.Width = surface->w;
        frame.Height = surface->h;
        frame.Pixels.assign(static_cast<size_t>(surface->w) * surface->h * 4, 0);
        if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return false;
        const bool converted =
            SDL_ConvertPixels(surface->w, surface->h, surface->format->format, surface->pixels,
                              surface->pitch, SDL_PIXELFORMAT_ARGB8888, frame.Pixels.data(),
                              surface->w * 4) == 0;
        if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
        return converted;
    }
    int w = 0, h = 0;
    if (SDL_GetRendererOutputSize(s.Renderer, &w, &h) != 0 || w <= 0 || h <= 0 || w > 16384 ||
        h > 16384)
        return false;
    frame.Width = w;
    frame.Height = h;
    frame.Pixels.assign(static_cast<size_t>(w) * h * 4, 0);
    return SDL_RenderReadPixels(s.Renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, frame.Pixels.data(),
                                w * 4) == 0;
}

int64_t TSdlHost::TickMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 m_state->Start)
        .count();
}

void TSdlHost::Delay(int32_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace ql
