#include "Orb/OrbViewer/OrbWindowGeometry.h"

#include <algorithm>
#include <cmath>

namespace orb {

TWindowMode WindowModeFromCode(int64_t code) {
    if (code == 0) return TWindowMode::FullScreen;
    if (code == 2) return TWindowMode::Frameless;
    return TWindowMode::Framed;
}

std::optional<TWindowGeometry> PlaceWindow(const TGeometryRequest& request, const std::vector<TMonitorInfo>& monitors,
                                           const TGeometryOptions& options) {
    if (monitors.empty()) return std::nullopt;
    const auto primary = std::find_if(monitors.begin(), monitors.end(), [](const auto& m) { return m.Primary; });
    const TMonitorInfo* monitor = primary != monitors.end() ? &*primary : &monitors.front();
    if (options.Display && *options.Display >= 1 && size_t(*options.Display) <= monitors.size())
        monitor = &monitors[size_t(*options.Display - 1)];

    TWindowGeometry geometry;
    geometry.FullScreen = request.Mode == TWindowMode::FullScreen;
    int32_t extraWidth = options.ExtraWidth, extraHeight = options.ExtraHeight;
    if (request.Mode == TWindowMode::Framed) {
        geometry.Border = options.Resize ? TBorderStyle::Resizable : TBorderStyle::Fixed;
        extraWidth = options.FrameWidth;
        extraHeight = options.FrameHeight;
    }
    const TScreenRect area = options.DesktopAlign ? monitor->WorkArea : monitor->Bounds;

    int64_t width = request.Width, height = request.Height;
    if (geometry.FullScreen) {
        width = monitor->Bounds.Width();
        height = monitor->Bounds.Height();
    }
    width = std::max<int64_t>(width, 1);
    height = std::max<int64_t>(height, 1);
    if (width + extraWidth > area.Width() || height + extraHeight > area.Height()) {
        const double scale = std::min(double(area.Height() - extraHeight) / double(height),
                                      double(area.Width() - extraWidth) / double(width));
        width = std::max<int64_t>(1, std::llround(double(width) * scale));
        height = std::max<int64_t>(1, std::llround(double(height) * scale));
    }
    geometry.ClientWidth = int32_t(width);
    geometry.ClientHeight = int32_t(height);
    const int32_t outerWidth = int32_t(width) + extraWidth, outerHeight = int32_t(height) + extraHeight;
    // Halves toward zero, as integer division does.
    geometry.Outer.Left = (area.Left + area.Right - outerWidth) / 2;
    geometry.Outer.Top = (area.Top + area.Bottom - outerHeight) / 2;
    geometry.Outer.Right = geometry.Outer.Left + outerWidth;
    geometry.Outer.Bottom = geometry.Outer.Top + outerHeight;
    return geometry;
}

}  // namespace orb
