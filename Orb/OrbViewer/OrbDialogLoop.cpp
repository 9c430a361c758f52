#include "Orb/OrbViewer/OrbDialogLoop.h"

#include <algorithm>
#include <cstring>

namespace orb {

TDialogOrigin PlaceDialog(int32_t dialogWidth, int32_t dialogHeight, int32_t frameWidth,
                          int32_t frameHeight) {
    return {std::max(0, (frameWidth - dialogWidth) / 2),
            std::max(0, (frameHeight - dialogHeight) / 2)};
}

ql::TFrameCopy ComposeDialog(const ql::TFrameCopy& background, const ql::TBitmap& dialog,
                             TDialogOrigin origin) {
    ql::TFrameCopy frame = background;
    const int32_t width = std::min(dialog.Width(), frame.Width - origin.Left);
    for (int32_t y = 0; y < dialog.Height() && origin.Top + y < frame.Height && width > 0; ++y) {
        uint8_t* out = frame.Pixels.data() +
                       (size_t(origin.Top + y) * size_t(frame.Width) + size_t(origin.Left)) * 4;
        std::memcpy(out, dialog.Row(y), size_t(width) * 4);
    }
    return frame;
}

namespace {

bool FocusedIsEdit(const ql::TDialog& dialog) {
    return dynamic_cast<const ql::TCustomDialogEdit*>(dialog.Focused()) != nullptr;
}

}  // namespace

bool DialogEvent(ql::TDialog& dialog, const ql::THostEvent& event, TDialogOrigin origin) {
    switch (event.Kind) {
        case ql::THostEventKind::Key:
            if (event.KeyEvent != ql::kePressed) return false;
            switch (event.Key) {
                case ql::vk::Return:
                    dialog.Key(ql::TDialogKey::Enter);
                    return true;
                case ql::vk::Escape:
                    dialog.Key(ql::TDialogKey::Escape);
                    return true;
                case ql::vk::Back:
                    dialog.Key(ql::TDialogKey::Backspace);
                    return true;
                case ql::vk::Tab:
                    dialog.Key((event.Modifiers & ql::mods::Shift) ? ql::TDialogKey::BackTab
                                                                   : ql::TDialogKey::Tab);
                    return true;
                default:
                    return false;  // Space comes as a typed character
            }
        case ql::THostEventKind::Char:
            for (const char16_t c : event.Text) {
                if (c == u' ' && !FocusedIsEdit(dialog))
                    dialog.Key(ql::TDialogKey::Space);
                else if (c >= 0x20 && c != 0x7F)
                    dialog.Key(ql::TDialogKey::Character, c);
            }
            return true;
        case ql::THostEventKind::Mouse:
            if (event.Button != ql::mbLeft) return false;
            if (event.MouseEvent == ql::mePressed)
                dialog.MouseDown(event.X - origin.Left, event.Y - origin.Top);
            else if (event.MouseEvent == ql::meReleased)
                dialog.MouseUp(event.X - origin.Left, event.Y - origin.Top);
            else
                return false;
            return true;
        default:
            return false;
    }
}

void TDialogLoop::Run(ql::TDialog& dialog, const ql::TFrameCopy& background) {
    ql::TFrameCopy base = background;
    if (base.Pixels.empty()) {
        const ql::THostRect client = m_host.ClientRect();
        base.Width = std::max(client.Width(), dialog.PixelWidth());
        base.Height = std::max(client.Height(), dialog.PixelHeight());
        base.Pixels.assign(size_t(base.Width) * size_t(base.Height) * 4, 0);
        for (size_t i = 3; i < base.Pixels.size(); i += 4) base.Pixels[i] = 0xFF;
    }
    if (base.Width < dialog.PixelWidth() || base.Height < dialog.PixelHeight()) {
        // A window smaller than the dialog: the frame grows around the show's
        // picture and the window shows it scaled, so the dialog stays whole.
        ql::TFrameCopy larger;
        larger.Width = std::max(base.Width, dialog.PixelWidth());
        larger.Height = std::max(base.Height, dialog.PixelHeight());
        larger.Pixels.assign(size_t(larger.Width) * size_t(larger.Height) * 4, 0);
        for (size_t i = 3; i < larger.Pixels.size(); i += 4) larger.Pixels[i] = 0xFF;
        const int32_t left = (larger.Width - base.Width) / 2,
                      top = (larger.Height - base.Height) / 2;
        for (int32_t y = 0; y < base.Height; ++y)
            std::memcpy(
                larger.Pixels.data() + (size_t(top + y) * size_t(larger.Width) + size_t(left)) * 4,
                base.Pixels.data() + size_t(y) * size_t(base.Width) * 4, size_t(base.Width) * 4);
        base = std::move(larger);
    }
    const TDialogOrigin origin =
        PlaceDialog(dialog.PixelWidth(), dialog.PixelHeight(), base.Width, base.Height);
    bool repaint = true;
    while (dialog.Running()) {
        if (repaint) {
            const ql::TFrameCopy frame = ComposeDialog(base, *dialog.Render(), origin);
            if (m_present)
                m_present(frame.View());
            else
                m_host.Present(frame.View());
            repaint = false;
        }
        ql::THostEvent event;
        if (!m_host.WaitEvent(event, 100)) continue;
        if (event.Kind == ql::THostEventKind::Quit) m_quit = true;
        if (event.Kind == ql::THostEventKind::Quit || event.Kind == ql::THostEventKind::Close) {
            dialog.Result = ql::kIdCancel;
            break;
        }
        ql::THostEvent scaled = event;
        // The window may show the frame scaled; the dialog lives in frame pixels.
        const ql::THostRect client = m_host.ClientRect();
        if (client.Width() > 0 && client.Height() > 0) {
            scaled.X = int32_t(int64_t(event.X) * base.Width / client.Width());
            scaled.Y = int32_t(int64_t(event.Y) * base.Height / client.Height());
        }
        repaint = DialogEvent(dialog, scaled, origin) || event.Kind == ql::THostEventKind::Resized;
    }
}

}  // namespace orb
