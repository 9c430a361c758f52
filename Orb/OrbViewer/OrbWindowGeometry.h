// The window a show asks for (engine event 17) placed on a monitor.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orb {

enum class TWindowMode : int32_t { FullScreen = 0, Framed = 1, Frameless = 2 };
enum class TBorderStyle { None, Fixed, Resizable };

struct TScreenRect {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;  // right and bottom exclusive
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    bool operator==(const TScreenRect&) const = default;
};

struct TMonitorInfo {
    TScreenRect Bounds;
    TScreenRect WorkArea;
    bool Primary = false;
};

struct TGeometryRequest {
    int32_t Width = 640, Height = 480;
    TWindowMode Mode = TWindowMode::Framed;
};

struct TGeometryOptions {
    std::optional<int32_t> Display;  // 1-based
    bool DesktopAlign = false;
    bool Resize = false;
    // What a frame adds around the client area, and what a frameless form adds.
    int32_t FrameWidth = 0, FrameHeight = 0;
    int32_t ExtraWidth = 0, ExtraHeight = 0;
};

struct TWindowGeometry {
    TBorderStyle Border = TBorderStyle::None;
    TScreenRect Outer;
    int32_t ClientWidth = 0, ClientHeight = 0;
    bool FullScreen = false;
};

// The mode of event 17 from its number; anything unknown is a framed window.
TWindowMode WindowModeFromCode(int64_t code);

// Nothing when there is no monitor. Sizes from the show are bounded to the
// area: a window never grows past the monitor it sits on.
std::optional<TWindowGeometry> PlaceWindow(const TGeometryRequest& request, const std::vector<TMonitorInfo>& monitors,
                                           const TGeometryOptions& options);

}  // namespace orb
