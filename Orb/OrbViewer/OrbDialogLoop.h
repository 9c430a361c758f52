// The modal loop of the player's own dialogs (password, print, save path,
// confirmations): the dialog is painted over the last frame of the show,
// centred, and steered with the keys and the mouse until it ends.
#pragma once

#include <cstdint>
#include <functional>

#include "OrbLib2/qlDialogs.h"
#include "QlLib/Platform/qlHost.h"

namespace orb {

// Where a dialog's picture sits on a frame: centred, never above or left of
// the frame's corner (a dialog larger than the frame is cut on the right and
// at the bottom, its caption and first items stay reachable).
struct TDialogOrigin {
    int32_t Left = 0, Top = 0;
};
TDialogOrigin PlaceDialog(int32_t dialogWidth, int32_t dialogHeight, int32_t frameWidth,
                          int32_t frameHeight);

// The frame with the dialog's picture painted at `origin`.
ql::TFrameCopy ComposeDialog(const ql::TFrameCopy& background, const ql::TBitmap& dialog,
                             TDialogOrigin origin);

// Hands one host event to the dialog. Pointer positions are in frame
// pixels. Returns false for events the dialog does not take.
bool DialogEvent(ql::TDialog& dialog, const ql::THostEvent& event, TDialogOrigin origin);

class TDialogLoop {
public:
    explicit TDialogLoop(ql::THost& host) : m_host(host) {}
    // Where the dialog's frames go; the host's Present when unset.
    void SetPresenter(std::function<void(const ql::TFrameView&)> present) {
        m_present = std::move(present);
    }

    // Runs the dialog over `background` (black of the window's size when it
    // is empty). Closing the window ends the dialog as Cancel; a Quit also
    // sets QuitRequested, which the caller must honour.
    void Run(ql::TDialog& dialog, const ql::TFrameCopy& background);
    bool QuitRequested() const { return m_quit; }

private:
    ql::THost& m_host;
    std::function<void(const ql::TFrameView&)> m_present;
    bool m_quit = false;
};

}  // namespace orb
