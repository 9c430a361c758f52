// The host on a real display through SDL2: one window, its events, cursors,
// message boxes and the clipboard. The window is drawn either by a GL
// context the host makes on it (the GL device draws there directly), or by
// frames rendered elsewhere (the software device) that arrive here as pixels
// and go to the window through an SDL renderer where a graphics card draws
// it, or are copied into the window's own image otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "QlLib/Platform/qlHost.h"
#include "QlLib/Platform/qlProcess.h"

namespace ql {

// The virtual-key code of an SDL key (SDL_Keycode), 0 when the key has none.
uint16_t VirtualKeyFromSdl(int32_t sdlKey);
// The modifier bits of an SDL modifier state (SDL_Keymod).
uint8_t ModifiersFromSdl(uint32_t sdlMods);

class TSdlHost : public THost {
public:
    TSdlHost();
    ~TSdlHost() override;

    // Starts SDL video; false with SDL's reason when there is no display.
    bool Init(std::string& error);

    std::vector<TMonitorInfo> Monitors() override;
    bool OpenWindow(const TWindowParams& params, std::string& error) override;
    bool HasWindow() const override;
    void SetTitle(const std::u16string& title) override;
    void SetBorder(TWindowBorder border) override;
    void SetClientRect(const THostRect& client) override;
    void SetFullScreen(int32_t monitor) override;
    void SetVisible(bool visible) override;
    void Raise() override;
    THostRect ClientRect() const override;
    THostRect FrameExtents() const override;

    bool PollEvent(THostEvent& event) override;
    bool WaitEvent(THostEvent& event, int32_t timeoutMs) override;
    void PostUserEvent(int32_t code, int64_t param) override;

    void SetCursor(TCursorShape shape) override;
    bool CursorPosition(int32_t& x, int32_t& y) const override;

    TMessageResult MessageBox(const std::u16string& caption, const std::u16string& text,
                              TMessageIcon icon, TMessageButtons buttons) override;
    bool SetClipboardText(const std::u16string& text) override;
    std::u16string ClipboardText() override;

    void Present(const TFrameView& frame) override;
    bool ReadWindowPixels(TFrameCopy& frame) override;
    std::unique_ptr<TGlContext> CreateGlContext(std::string& error) override;
    void DrawableSize(int32_t& width, int32_t& height) const override;

    int64_t TickMs() const override;
    void Delay(int32_t ms) override;

    TProcessLauncher& Launcher() override { return m_launcher; }

private:
    // The way frames given as pixels reach the window, chosen when first
    // needed: a renderer on the graphics card, else the window's own image;
    // false while a GL context draws the window or neither can be had.
    bool EnsurePresenter();
    // Copies the frame into the window's image (stretched while the sizes
    // differ) and shows it.
    void PresentToSurface(const TFrameView& frame);

    struct TState;
    std::unique_ptr<TState> m_state;
    TPosixLauncher m_launcher;
};

}  // namespace ql
