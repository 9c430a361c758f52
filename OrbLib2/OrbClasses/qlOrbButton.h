// The button object: a face made from a button theme (its body) with a caption
// text on it. The mouse switches body and caption together between the
// normal, hover and click looks.
//
// How a face is sized and where its caption goes (the theme gives only its
// parts and a minimum width):
//   caption height  the face's inner height (between its top and bottom
//                   parts), at least half the face's height; the caption is
//                   scaled to it and keeps its proportions
//   face width      the caption's width plus the left and right parts, at
//                   least BtnMinWidth, at most kMaxButtonFaceWidth
//   caption place   vertically centred; horizontally the free inner width
//                   times BtnOffsetX / 200 from the left part (100 centres
//                   it), plus the theme's BtnOffset in face pixels
// The object's own units are face pixels: it is as wide and as high as its
// face.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "OrbLib2/ButtonGenerator2.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"

namespace orb {

inline constexpr char16_t kFallbackButtonTheme[] = u"aqua";

// Where the caption sits on a face and how wide the face is.
struct TButtonLayout {
    int32_t FaceWidth = 0;
    int32_t FaceHeight = 0;
    ql::TPointF CaptionOrigin{0, 0};  // face pixels
    float CaptionScale = 1;           // face pixels per caption unit
};

// The height a caption is scaled to on faces of the given natural height and
// top and bottom parts, in face pixels.
float CaptionHeightOnFace(int32_t faceHeight, int32_t topHeight, int32_t bottomHeight);

// The layout for a caption of captionSize (its own units) on faces of a
// theme with the given natural size and side parts. minWidth and offsetX are
// the button's keys, themeOffset the theme's BtnOffset.
TButtonLayout ComputeButtonLayout(ql::TPointF captionSize, ql::TPoint naturalSize,
                                  int32_t leftWidth, int32_t rightWidth, int32_t topHeight,
                                  int32_t bottomHeight, float minWidth, float offsetX,
                                  float themeOffset);

class TOrbButton : public TOrbImage {
public:
    TOrbButton(TOrbObject* parent, std::u16string guid);
    ~TOrbButton() override;

    // --- keys
    const std::u16string& Theme() const { return m_theme; }
    float BtnOpacity() const { return m_btnOpacity; }
    float TxtOpacity() const { return m_txtOpacity; }
    int32_t Hue() const { return m_hue; }
    int32_t Saturation() const { return m_saturation; }
    int32_t Lightness() const { return m_lightness; }
    // Nothing stated: the theme's minimum width.
    float BtnMinWidth() const;
    float BtnOffsetX() const { return m_btnOffsetX; }

    // --- the theme as resolved (after LoadPicture): its folder in the
    // package ("aqua" when the named one is missing; empty when neither is
    // there) and the faces' layout.
    const std::u16string& ThemeFolder() const { return m_themeFolder; }
    const TButtonLayout& Layout() const { return m_layout; }
    // The face picture shown in a look; empty without a theme.
    std::u16string FacePictureName(TMouseLook look) const;
    TOrbText& Caption() { return *m_caption; }
    const TOrbText& Caption() const { return *m_caption; }

    // --- mouse look
    TMouseLook MouseLook() const { return m_look; }
    void SetMouseLook(TMouseLook look) override;
    bool UsesMouseLook() const override { return true; }

    bool LoadPicture() override;
    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override;
    void Prepare(TDeviceDrawer& drawer) override;
    void Draw(TDeviceDrawer& drawer) override;

protected:
    std::u16string PictureName() const override;
    void DrawPicture(TDeviceDrawer& drawer, TPictureSlot& slot, const TScenePlane& plane,
                     const TCamera3D& camera, uint8_t opacity) override;

private:
    // Finds the theme's producer (falling back to "aqua"); nullptr when none loads.
    TButtonProducer* ResolveTheme();
    // Device pixels per unit of the button at the largest it is shown: its
    // required height over its own once a pre-scan found it, before that the
    // face's own resolution.
    double UnitPixels() const;
    // Tells the caption the size it is shown at, so that it is made at that
    // size (a face pixel is seldom a screen pixel).
    void ScaleCaption();
    void DrawCaption(TDeviceDrawer& drawer, const TScenePlane& facePlane, const TCamera3D& camera,
                     uint8_t opacity);
    // The hover and click faces.
    void PrepareLookPictures(TDeviceDrawer* drawer);

    std::u16string m_theme;
    float m_btnOpacity = 100, m_txtOpacity = 100;
    int32_t m_hue = 0, m_saturation = 0, m_lightness = 0;
    std::optional<float> m_btnMinWidth;
    float m_btnOffsetX = 100;

    std::unique_ptr<TOrbText> m_caption;
    TButtonProducer* m_producer = nullptr;  // lives as long as the slide host
    std::u16string m_themeFolder;
    TButtonLayout m_layout;
    TMouseLook m_look = TMouseLook::Normal;
    std::array<std::unique_ptr<TPictureSlot>, 3> m_lookSlots;  // under m_pictureLock
};

}  // namespace orb
