// The show's own dialogs on the overlay: the "help" dialog and the custom
// ones are dialog slides, built by the slide producer for the overlay's
// viewport and handed to the overlay's stack in a wrapper that routes the
// mouse to their objects and draws them at the stack's opacity.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "OrbLib2/NavPanel/qlThirdSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"

namespace orb {

class TFileAccessor;
class TOrbSource;
class TOrbObject;
class TSlideProducer;

class TSlideDialog : public TOverlayDialog {
public:
    // The dialog must not outlive the producer that built it (its host).
    explicit TSlideDialog(std::unique_ptr<TOrbDialog> slide);
    ~TSlideDialog() override;

    const std::u16string& Name() const override { return m_slide->DialogName(); }
    bool PausesShow() const override { return m_slide->DialogPause(); }
    float Opacity() const override { return m_slide->Opacity(); }
    void SetOpacity(float percent) override { m_slide->SetOpacity(percent); }
    THit Mouse(int32_t x, int32_t y, TNavMouseKind kind, int32_t button) override;
    bool HitTest(int32_t x, int32_t y, std::u16string* name) const override;
    // Attaches the slide to the drawer the first time, then draws it.
    void Draw(TDeviceDrawer& drawer) override;

    TOrbDialog& Slide() const { return *m_slide; }

private:
    std::unique_ptr<TOrbDialog> m_slide;
    TDeviceDrawer* m_attached = nullptr;
    const TOrbObject* m_lastFound = nullptr;
    bool m_down = false;  // the left button went down on the dialog and is still held
};

// Builds the dialogs of one show, laid out for the overlay's viewport.
class TDialogBuilder {
public:
    // The source and the accessor must outlive the builder; fitMode: 1
    // cover, 0 fit, as the slides are laid out.
    TDialogBuilder(TOrbSource& source, TFileAccessor& accessor, int32_t fitMode);
    ~TDialogBuilder();
    TDialogBuilder(const TDialogBuilder&) = delete;
    TDialogBuilder& operator=(const TDialogBuilder&) = delete;

    // Lays the next dialogs out for a viewport of width x height; false (and
    // a log line) when the show cannot be laid out there.
    bool Setup(int32_t width, int32_t height);
    // The dialog `name` ("help", or a custom dialog's name), set to time 0;
    // nullptr, with a log line, when the show has none. Dialogs must go
    // before the builder.
    std::unique_ptr<TSlideDialog> Build(const std::u16string& name);

private:
    std::unique_ptr<TSlideProducer> m_producer;
    int32_t m_fitMode;
    bool m_ready = false;
};

// Whether the document has any dialog section at all ("dialog_" ...).
bool HasDialogSections(const ql::TIniStorage& project);

}  // namespace orb
