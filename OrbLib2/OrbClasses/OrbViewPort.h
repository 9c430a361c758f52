// View ports and masks: a view port shows its children only through its
// masks. A mask is a grey picture (white shows, black hides; a colour picture
// counts by its luminance times its alpha), placed and moved like any
// picture; where masks overlap the largest value wins.
//
// The targets the masked content is drawn into belong to the drawer, which
// keeps one set per nesting level of view ports and shares it between every
// view port of every slide: only one view port is drawn at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbObjects4.h"

namespace orb {

class TOrbViewPort;

class TOrbMask : public TOrbImage {
public:
    TOrbMask(TOrbObject* parent, std::u16string guid);

    // The view port the mask belongs to; nullptr outside one.
    TOrbViewPort* ViewPort() const;
    // Percent: the mask's own effective opacity times its view port's / 100.
    float MaskOpacity() const;
    // Active with an opacity above 0.
    bool MaskVisible() const { return Active() && MaskOpacity() > 0; }
    // Draws the mask's picture where the mask lies, its alpha scaled by
    // opacity (0 .. 255); a missing picture draws nothing.
    void DrawMask(TDeviceDrawer& drawer, uint8_t opacity);

    // Masks never play sheets, never smooth their edges and cast no shadow.
    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override;
    // A mask is seen only through its view port.
    void Draw(TDeviceDrawer& drawer) override {}

protected:
    // The slide host's "Mask: " picture of the image name.
    std::u16string PictureName() const override;
};

class TOrbViewPort : public TOrbObject {
public:
    TOrbViewPort(TOrbObject* parent, std::u16string guid);

    // The mask children in child order, as of the last attachment.
    const std::vector<TOrbMask*>& Masks() const { return m_masks; }
    // Whether the view port draws now: active, opacity above 0, a visible
    // mask, facing the camera and not hidden by its parent.
    bool DrawsNow() const;

    // "Size", 1 x 1 when missing.
    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override;
    // Rebuilds the mask list; an attachment inside an attachment of the same
    // view port attaches only the children that are not masks.
    void AttachDrawer(TDeviceDrawer& drawer) override;
    // Marks the slide as holding masked content while the view port draws.
    bool UpdatePlacement(bool recursive) override;
    void Draw(TDeviceDrawer& drawer) override;

private:
    void RebuildMasks();

    std::vector<TOrbMask*> m_masks;
    int32_t m_attachDepth = 0;  // attachments under way
};

}  // namespace orb
