// The host: everything the player needs from the desktop it runs on. One show
// window (full screen on a monitor's desktop, framed or borderless), the
// monitors, input events, cursors, message boxes, the clipboard, putting a
// rendered frame on the screen, a monotonic clock, starting programs and a
// record of what the program did.
//
// Two hosts implement it: TSdlHost (qlSdlHost.h) on a real display and
// THeadlessHost (qlHeadlessHost.h), which plays a script of input against a
// virtual clock and writes a record of the program's doings as JSON lines.
// Everything above this seam runs unchanged on either.
//
// Threads: a host is used from the thread that created it (the user-interface
// thread), except PostUserEvent, which any thread may call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace ql {

class TProcessLauncher;
class TGlContext;

// Virtual-key codes: the key map and the scripts speak these numbers whatever
// the platform's own key codes are.
namespace vk {
constexpr uint16_t Back = 0x08, Tab = 0x09, Return = 0x0D, Shift = 0x10, Control = 0x11,
                   Menu = 0x12, Pause = 0x13, Capital = 0x14, Escape = 0x1B, Space = 0x20,
                   Prior = 0x21, Next = 0x22, End = 0x23, Home = 0x24, Left = 0x25, Up = 0x26,
                   Right = 0x27, Down = 0x28, Snapshot = 0x2C, Insert = 0x2D, Delete = 0x2E,
                   Key0 = 0x30, KeyA = 0x41, LWin = 0x5B, RWin = 0x5C, Apps = 0x5D, Numpad0 = 0x60,
                   Multiply = 0x6A, Add = 0x6B, Subtract = 0x6D, Decimal = 0x6E, Divide = 0x6F,
                   F1 = 0x70, F12 = 0x7B, F24 = 0x87, NumLock = 0x90, Scroll = 0x91,
                   BrowserBack = 0xA6, BrowserForward = 0xA7, VolumeMute = 0xAD, VolumeDown = 0xAE,
                   VolumeUp = 0xAF, MediaNextTrack = 0xB0, MediaPrevTrack = 0xB1, MediaStop = 0xB2,
                   MediaPlayPause = 0xB3, Oem1 = 0xBA, OemPlus = 0xBB, OemComma = 0xBC,
                   OemMinus = 0xBD, OemPeriod = 0xBE, Oem2 = 0xBF, Oem3 = 0xC0, Oem4 = 0xDB,
                   Oem5 = 0xDC, Oem6 = 0xDD, Oem7 = 0xDE;
}  // namespace vk

// The key's virtual-key code for a script name ("Escape", "Right", "PageDown",
// "F1", "P", "7", "MediaPlayPause", or a number such as "0x25"), in any case;
// 0 for an unknown name.
uint16_t VirtualKeyFromName(std::string_view name);
// The script name of a virtual key ("Right"), or its number as "0x.." when it
// has none.
std::string VirtualKeyName(uint16_t key);

// Modifier state bits of key and mouse events.
namespace mods {
constexpr uint8_t Win = 1, Shift = 2, Alt = 4, Ctrl = 8;
// Mouse events only: buttons held while the event happened.
constexpr uint8_t LeftHeld = 16, RightHeld = 32, MiddleHeld = 64;
}  // namespace mods

// Modifiers for a script word ("shift", "ctrl", "alt", "win"); 0 if unknown.
uint8_t ModifierFromName(std::string_view name);

enum class THostEventKind : uint8_t {
    None,
    Key,         // Key, KeyEvent, Repeat, Modifiers
    Char,        // Text: typed characters, after the key that made them
    Mouse,       // MouseEvent, Button, X, Y, Modifiers
    Wheel,       // WheelSteps, X, Y, Modifiers
    MouseLeave,  // the pointer left the window
    FocusGained,
    FocusLost,
    Resized,  // Width, Height: the new client size
    Close,    // the user asked to close the window
    Quit,     // the host must end: end the program without asking anything
    User,     // Code, Param: posted by PostUserEvent
};

// Key event kinds.
constexpr uint8_t keReleased = 0, kePressed = 1;
// Mouse event kinds; a double click arrives as a press followed by meDoubleClick.
constexpr uint8_t meMove = 0, mePressed = 1, meReleased = 2, meDoubleClick = 3;
// Mouse buttons (0 for moves).
constexpr uint8_t mbLeft = 1, mbRight = 4, mbMiddle = 5;

struct THostEvent {
    THostEventKind Kind = THostEventKind::None;
    uint8_t Modifiers = 0;
    uint16_t Key = 0;      // virtual-key code
    uint8_t KeyEvent = 0;  // keReleased or kePressed
    bool Repeat = false;   // a pressed key repeating
    uint8_t MouseEvent = 0;
    uint8_t Button = 0;
    int32_t X = 0, Y = 0;  // client coordinates
    // Whole wheel steps of 120 units; positive is away from the user. The
    // remainder of partial steps is kept for the next event.
    int32_t WheelSteps = 0;
    int32_t Width = 0, Height = 0;
    int32_t Code = 0;
    int64_t Param = 0;
    std::u16string Text;
};

// Integer rectangle, right and bottom exclusive.
struct THostRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    bool operator==(const THostRect&) const = default;
};

struct TMonitorInfo {
    THostRect Bounds;    // the whole monitor on the desktop
    THostRect WorkArea;  // without panels and docks
    bool Primary = false;
};

enum class TWindowBorder : uint8_t { None, Fixed, Resizable };

struct TWindowParams {
    std::u16string Title;
    // Client area in desktop coordinates.
    THostRect Client{0, 0, 640, 480};
    TWindowBorder Border = TWindowBorder::None;
    // Covers the whole monitor FullScreenMonitor (0-based index into
    // Monitors(); out of range means the primary) on its desktop, without
    // changing the display mode.
    bool FullScreen = false;
    int32_t FullScreenMonitor = -1;
    bool Visible = true;
    // The window will be drawn by OpenGL (CreateGlContext); until a context
    // is made, Present still shows frames.
    bool OpenGl = false;
};

enum class TCursorShape : uint8_t { Arrow, Hand, Hidden };

enum class TMessageIcon : uint8_t { None, Information, Warning, Error };
enum class TMessageButtons : uint8_t { Ok, OkCancel, YesNo };
enum class TMessageResult : uint8_t { Ok, Cancel, Yes, No };

// A rendered frame to show: rows of 32-bit pixels stored as the bytes B, G,
// R, A ("A8R8G8B8"), opaque; Stride in bytes.
struct TFrameView {
    const uint8_t* Pixels = nullptr;
    int32_t Width = 0, Height = 0, Stride = 0;
};

// A frame copied out of the host (a capture or a screenshot), same layout
// with Stride = Width * 4.
struct TFrameCopy {
    std::vector<uint8_t> Pixels;
    int32_t Width = 0, Height = 0;
    TFrameView View() const { return {Pixels.data(), Width, Height, Width * 4}; }
};

// One line of the record: a kind and fields in the order they were added.
// The headless host writes it as a JSON object with "t" (virtual ms) and
// "kind" first, then the fields.
class THostRecord {
public:
    using TValue = std::variant<int64_t, double, bool, std::string, std::vector<std::string>>;

    explicit THostRecord(std::string kind) : m_kind(std::move(kind)) {}
    THostRecord& Int(std::string name, int64_t value);
    THostRecord& Real(std::string name, double value);
    THostRecord& Bool(std::string name, bool value);
    THostRecord& Str(std::string name, std::string_view utf8);
    THostRecord& Str(std::string name, std::u16string_view text);
    THostRecord& List(std::string name, const std::vector<std::u16string>& items);

    const std::string& Kind() const { return m_kind; }
    const std::vector<std::pair<std::string, TValue>>& Fields() const { return m_fields; }
    // The JSON object text (one line) with "t": timeMs first.
    std::string Json(int64_t timeMs) const;

private:
    std::string m_kind;
    std::vector<std::pair<std::string, TValue>> m_fields;
};

// JSON string literal of UTF-8 text, quotes included; invalid bytes and
// control characters are escaped so that the line stays valid JSON.
std::string JsonQuote(std::string_view utf8);

class THost {
public:
    virtual ~THost() = default;

    // --- monitors and the window ---
    // The primary monitor first is not promised; look at Primary. Never empty
    // for a host that can open a window.
    virtual std::vector<TMonitorInfo> Monitors() = 0;
    // Creates the show window (once); false with the reason in error.
    virtual bool OpenWindow(const TWindowParams& params, std::string& error) = 0;
    virtual bool HasWindow() const = 0;
    virtual void SetTitle(const std::u16string& title) = 0;
    virtual void SetBorder(TWindowBorder border) = 0;
    // Leaves full screen if it was on.
    virtual void SetClientRect(const THostRect& client) = 0;
    // monitor as in TWindowParams::FullScreenMonitor.
    virtual void SetFullScreen(int32_t monitor) = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual void Raise() = 0;
    // The client area in desktop coordinates.
    virtual THostRect ClientRect() const = 0;
    // How far a framed window's outer edge lies outside its client area on
    // each side (Left, Top, Right, Bottom as widths); all 0 without a frame or
    // when the desktop does not tell.
    virtual THostRect FrameExtents() const = 0;

    // --- events ---
    // The next pending event without waiting; false when there is none.
    virtual bool PollEvent(THostEvent& event) = 0;
    // Waits at most timeoutMs for an event; false on time-out.
    virtual bool WaitEvent(THostEvent& event, int32_t timeoutMs) = 0;
    // Wakes the host's thread with a User event; safe from any thread.
    virtual void PostUserEvent(int32_t code, int64_t param) = 0;

    // --- cursor ---
    virtual void SetCursor(TCursorShape shape) = 0;
    // The pointer in client coordinates; false when it is outside the window.
    virtual bool CursorPosition(int32_t& x, int32_t& y) const = 0;

    // --- user interaction ---
    // Blocks until the user answers. An empty caption is shown as it is.
    virtual TMessageResult MessageBox(const std::u16string& caption, const std::u16string& text,
                                      TMessageIcon icon, TMessageButtons buttons) = 0;
    virtual bool SetClipboardText(const std::u16string& text) = 0;
    // Empty when the clipboard holds no text.
    virtual std::u16string ClipboardText() = 0;

    // --- frames ---
    // Shows the frame, scaled to the client area when the sizes differ.
    // Nothing shows while a GL context draws the window.
    virtual void Present(const TFrameView& frame) = 0;
    // An OpenGL 3.3 context drawing into the show window (opened with
    // OpenGl), current on the calling thread; null with the reason in error
    // when there is none to be had. The headless host, which has no window,
    // gives a context without one. Frames then go to the window through the
    // context, and Present shows nothing until the context is gone.
    virtual std::unique_ptr<TGlContext> CreateGlContext(std::string& error);
    // The client area in pixels: larger than ClientRect's size on a
    // high-density display.
    virtual void DrawableSize(int32_t& width, int32_t& height) const;
    // What the window shows now (the last presented frame for the headless
    // host); false when there is nothing.
    virtual bool ReadWindowPixels(TFrameCopy& frame) = 0;

    // --- time ---
    // Milliseconds of a monotonic clock (virtual for the headless host).
    virtual int64_t TickMs() const = 0;
    // Lets ms pass (virtual time on the headless host).
    virtual void Delay(int32_t ms) = 0;

    // --- programs ---
    // Starts programs and opens addresses; the headless host only records.
    virtual TProcessLauncher& Launcher() = 0;

    // --- record ---
    // Notes what the program did (engine events, actions...). Only the
    // headless host keeps it.
    virtual void Record(const THostRecord& record) { (void)record; }
    // Notes the exit code the program is about to end with.
    virtual void RecordExit(int32_t exitCode) { Record(THostRecord("exit").Int("code", exitCode)); }
};

}  // namespace ql
