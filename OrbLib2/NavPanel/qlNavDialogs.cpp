#include "OrbLib2/NavPanel/qlNavDialogs.h"

#include <algorithm>

#include "OrbLib2/OrbClasses/qlOrbSlideUtils3.h"
#include "OrbLib2/OrbViewer/qlOrbSlideWindow.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

TSlideDialog::TSlideDialog(std::unique_ptr<TOrbDialog> slide) : m_slide(std::move(slide)) {
    QL_ASSERT(m_slide != nullptr, "TSlideDialog: no dialog slide");
}

TSlideDialog::~TSlideDialog() = default;

TOverlayDialog::THit TSlideDialog::Mouse(int32_t x, int32_t y, TNavMouseKind kind, int32_t button) {
    THit hit;
    const bool press = kind == TNavMouseKind::Press || kind == TNavMouseKind::DoubleClick;
    const TSlideMouseEvent event = press                            ? smPress
                                   : kind == TNavMouseKind::Release ? smRelease
                                                                    : smMove;
    if (press && button == kMouseLeftButton) m_down = true;
    // A move with the button held gives a button its pressed look.
    const int held = event == smMove && m_down ? kMouseLeftButton : kMouseNoButton;
    TOrbObject* found = nullptr;
    hit.Action = m_slide->MouseEvent(event, button, held, float(x), float(y), true, &found);
    if (event == smRelease) m_down = false;
    // The dialog's own background is no object: the slides below it answer there.
    if (found == m_slide.get()) found = nullptr;
    hit.Hit = found != nullptr;
    if (found && !ParseAction(found->Action()).IsNone()) hit.ObjectName = HoverClassOf(*found);
    // Looks change only when the pointer goes to another object or a button
    // goes down or up on one.
    hit.Changed = found != m_lastFound || (event != smMove && (found || m_lastFound));
    m_lastFound = found;
    return hit;
}

bool TSlideDialog::HitTest(int32_t x, int32_t y, std::u16string* name) const {
    TOrbObject* found = m_slide->FindAtSimple(float(x), float(y), true, nullptr);
    if (!found || found == m_slide.get()) return false;
    if (name)
        *name = ParseAction(found->Action()).IsNone() ? std::u16string() : HoverClassOf(*found);
    return true;
}

void TSlideDialog::Draw(TDeviceDrawer& drawer) {
    if (!(m_slide->Opacity() > 0)) return;
    if (m_attached != &drawer) {
        m_slide->AttachDrawer(drawer);
        m_attached = &drawer;
    }
    m_slide->Draw(drawer);
}

TDialogBuilder::TDialogBuilder(TOrbSource& source, TFileAccessor& accessor, int32_t fitMode)
    : m_producer(std::make_unique<TSlideProducer>(source, accessor)),
      m_fitMode(fitMode == ffCover ? ffCover : ffFitInside) {}

TDialogBuilder::~TDialogBuilder() = default;

bool TDialogBuilder::Setup(int32_t width, int32_t height) {
    m_ready = false;
    try {
        m_producer->Setup(std::clamp(width, 10, 16384), std::clamp(height, 10, 16384), m_fitMode);
        m_ready = true;
    } catch (const ql::TCommonException& e) {
        ql::GlobalLog().WriteLine("Dialogs: " + e.Message());
    }
    return m_ready;
}

std::unique_ptr<TSlideDialog> TDialogBuilder::Build(const std::u16string& name) {
    std::unique_ptr<TOrbDialog> slide = m_ready ? m_producer->Dialog(name) : nullptr;
    if (!slide) {
        ql::GlobalLog().WriteLine("Dialog not found: " + ql::ToUtf8(name));
        return nullptr;
    }
    return std::make_unique<TSlideDialog>(std::move(slide));
}

bool HasDialogSections(const ql::TIniStorage& project) {
    constexpr std::u16string_view kPrefix = u"dialog_";
    for (const std::u16string& name : project.SectionNames())
        if (name.size() > kPrefix.size() &&
            ql::SameTextIgnoringCase(std::u16string_view(name).substr(0, kPrefix.size()), kPrefix))
            return true;
    return false;
}

}  // namespace orb
