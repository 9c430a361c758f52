// What travels between the viewer and the playback engine: the requests
// posted to the engine's event list, the notifications the engine sends back,
// and the rule by which open, seek and pause requests replace one another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbActionInfo.h"
#include "QlLib/SysObj.h"

namespace ql {
class TIniStorage;
}

namespace orb {

class TFileAccessor;

// Codes posted to the engine's event list.
enum TEngineEventIn : int32_t {
    kEngineMouse = 11,         // TMouseData
    kEngineSnapshot = 13,      // none: render the current frame for printing
    kEngineCloseDialog = 15,   // none
    kEngineHelpDialog = 16,    // none
    kEngineSlideList = 101,    // TSlideData from the slide loader
    kEngineOpen = 102,         // TOpenParams: open (accessor and storage) or seek
    kEnginePause = 103,        // TModeData
    kEngineReleaseWait = 104,  // none: the user let a pause barrier go (actions 3 and 5)
    kEngineOutputSize = 105,   // TSizeData: the window's drawable size changed
    kEngineShowPixels = 106,   // TPixelsData: a picture of the viewer's to show (a dialog)
    kEngineSlideBuilt =
        107,  // the loader built a slide; its textures are made on the engine thread
};

// Codes of the engine's notifications (TOrbEventData).
enum TEngineEventOut : int32_t {
    kEngineFirstFrame = 1,  // no integers
    kEnginePosition = 2,    // request id, time (ms), show duration (ms), end flag
    kEngineAction = 12,     // action code, integer parameter; TStrValue with the text
    kEngineImage = 14,      // the snapshot picture as object
    kEngineGeometry = 17,   // width, height, window mode
};

// A wide text carried by an event.
class TStrValue : public ql::TObj {
public:
    explicit TStrValue(std::u16string value) : Value(std::move(value)) {}
    std::u16string Value;
};

// One notification to the user-interface thread. Times are 64-bit: a kiosk
// that loops for months never overflows them.
class TOrbEventData : public ql::TObj {
public:
    TOrbEventData(int32_t code, std::vector<int64_t> values,
                  std::unique_ptr<ql::TObj> object = nullptr)
        : Code(code), Values(std::move(values)), Object(std::move(object)) {}
    int64_t Value(size_t index) const { return index < Values.size() ? Values[index] : 0; }

    int32_t Code;
    std::vector<int64_t> Values;
    std::unique_ptr<ql::TObj> Object;
};

// An open (accessor and storage present) or a seek (only the time).
class TOpenParams : public ql::TObj {
public:
    TOpenParams();
    ~TOpenParams() override;
    bool IsOpen() const { return Accessor != nullptr && Storage != nullptr; }

    uint8_t Paused = 1;  // the pause state to apply once the request is served
    int64_t RequestId = 0;
    std::unique_ptr<TFileAccessor> Accessor;
    std::unique_ptr<ql::TIniStorage> Storage;  // a copy of the project document
    int64_t StartTime = 0;                     // ms
};

class TModeData : public ql::TObj {
public:
    explicit TModeData(uint8_t paused) : Paused(paused) {}
    uint8_t Paused;
};

// The window's drawable size in pixels.
class TSizeData : public ql::TObj {
public:
    TSizeData(int32_t width, int32_t height) : Width(width), Height(height) {}
    int32_t Width, Height;
};

// A picture made by the viewer (rows of B, G, R, A bytes), copied so that
// the viewer need not wait for the engine to show it.
class TPixelsData : public ql::TObj {
public:
    std::vector<uint8_t> Pixels;
    int32_t Width = 0, Height = 0;
};

enum class TMouseKind : int32_t { Move = 0, Down = 1, Up = 2, DoubleClick = 3, Wheel = 4 };

// A mouse event for the engine, with the action its key mapping gives (if any).
// Held-button bits of TMouseData::Modifiers (beside Shift, Alt, Ctrl...).
constexpr uint32_t kMouseHeldLeft = 16, kMouseHeldRight = 32, kMouseHeldMiddle = 64;

class TMouseData : public ql::TObj {
public:
    int32_t X = 0, Y = 0;
    int32_t Button = 0;  // 0 none, 1 left, 2 right, 3 middle
    TMouseKind Kind = TMouseKind::Move;
    uint32_t Modifiers = 0;  // the host's modifier state, held buttons included
    bool HasAction = false;
    TOrbActionInfo Action;
};

// Receives the engine's notifications on the engine thread; the viewer's
// implementation hands them to its own thread.
class TEngineListener {
public:
    virtual ~TEngineListener() = default;
    virtual void EngineEvent(std::unique_ptr<TOrbEventData> event) = 0;
};

// The pending and the in-progress open or seek. The engine takes requests from
// its event list at any time (also while it waits for the loader during an
// open), so a request only becomes the served one when processing ends.
class TRequestSlots {
public:
    TRequestSlots();
    ~TRequestSlots();

    // Keeps a request as pending. An open replaces a pending request whole; a
    // seek updates only the time and id of a pending open, or replaces a
    // pending seek. The pending request keeps the pause state of the one it
    // replaces, else that of the request in progress, else `currentPause`. Returns true
    // when the request arrived as an open.
    bool Post(std::unique_ptr<TOpenParams> request, uint8_t currentPause);
    // A pause request: stored in the pending or in-progress request when there
    // is one (true), else the caller applies it at once (false).
    bool StorePause(uint8_t paused);

    bool HasPending() const { return m_pending != nullptr; }
    const TOpenParams* Pending() const { return m_pending.get(); }
    // Moves the pending request to the in-progress slot.
    TOpenParams* BeginProcessing();
    TOpenParams* Processing() { return m_processing.get(); }
    // Ends processing and hands the request back (its id and pause state
    // become the engine's).
    std::unique_ptr<TOpenParams> EndProcessing();

private:
    std::unique_ptr<TOpenParams> m_pending;
    std::unique_ptr<TOpenParams> m_processing;
};

}  // namespace orb
