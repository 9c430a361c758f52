// The picture-bearing show objects: TOrbImage shows a picture of the show
// package (cropped, re-framed to an aspect, bordered, or played as a sprite
// sheet); TOrbText shows its lines rendered to a picture, in the colour of its
// mouse look.
//
// Reading an object (for the slide producer and tools):
//   kind          BlockType(), IsMainImage(), IsText() / dynamic_cast<TOrbText*>
//   picture       PictureLoaded(), PictureWidth(), PictureHeight(), ImageName()
//   geometry      SourceRect() (picture pixels shown; the frame's cell for sheets),
//                 Geometry() (with the object size and border), Border()
//   animation     Animation(), CurrentFrame() (as of the last SetTime)
//   detail        LevelOfDetail() (halvings for the last pre-scan's required size)
//   text          Lines(), ReplacedLines(), TextParams(), MouseLook(), StateColour(),
//                 RasterScale(), PictureName()
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbCastShadow.h"
#include "OrbLib2/OrbClasses/qlOrbImageGeometry.h"
#include "OrbLib2/OrbClasses/qlOrbObjects4.h"
#include "OrbLib2/OrbClasses/qlOrbTextNames.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/ShadowGenerator2.h"
#include "QlLib/VectorGraphics/qlGlyphCache.h"

namespace orb {

class TOrbText;

// Files the picture kinds (images, texts, buttons, masks) and the boxes,
// frames and view ports with the object factory chain and the "Text: "
// picture maker with the slide host's makers. Safe to call any number of times
// from any thread; whoever creates a slide host calls it first, so that the
// kinds do not hang on the order in which libraries initialise.
void RegisterImageObjects();

// Opens the pictures of every image and text in the tree, so that a pre-scan
// run after it knows their sizes (Prepare would open them otherwise, after the
// scan that needs them).
void LoadObjectPictures(TOrbObject& root);

enum TImageFiltering : uint8_t { ifNearest = 0, ifBilinear = 1, ifDefault = 2 };
// "Nearest", "Bilinear", "Default" in any case; anything else is Default.
TImageFiltering ParseFiltering(std::u16string_view text);

// Package entries through a file accessor, for the glyph caches and stored
// vector texts. The opener keeps its own copy of the accessor, so it may
// outlive the one it was made from.
ql::TEntryOpener PackageOpener(const TFileAccessor& accessor);

class TOrbImage : public TOrbObject {
public:
    // type: the block type, lower-cased ("image", "mainimage", "text", ...).
    TOrbImage(TOrbObject* parent, std::u16string guid, std::u16string type = u"image");
    // Gives the textures back to the drawer that prepared them, which must
    // still exist.
    ~TOrbImage() override;

    // --- keys
    const std::u16string& BlockType() const { return m_type; }
    virtual bool IsText() const { return false; }
    const std::u16string& ImageName() const { return m_imageName; }
    // Keeps the shown picture until the new one is prepared.
    void SetImageName(const std::u16string& name);
    int32_t ReplaceWithEffectBuffer() const { return m_replaceWithEffectBuffer; }
    bool Antialiased() const { return m_antialiased; }
    TImageFiltering Filtering() const { return m_filtering; }
    float MipLodBias() const { return m_mipLodBias; }
    const TBorderParams& Border() const { return m_border; }
    const TImageAnimationParams& Animation() const { return m_animation; }

    // --- the main image of the slide (the last one loaded wins)
    bool IsMainImage() const { return m_mainImage; }
    // Setting the mark clears it on every other image of the slide.
    void SetMainImage(bool on);

    // --- the picture
    bool PictureLoaded() const { return m_pictureLoaded; }
    int32_t PictureWidth() const { return m_pictureWidth; }
    int32_t PictureHeight() const { return m_pictureHeight; }
    const TImageGeometry& Geometry() const { return m_geometry; }
    // The part of the picture shown now: the source rectangle, or the current
    // frame's cell of a sprite sheet.
    ql::TRect SourceRect() const;
    // Texts never play sheets: their picture is the rendered text.
    bool IsSheet() const { return !IsText() && m_animation.IsAnimated(); }
    // The sheet's frame as of the last SetTime.
    int32_t CurrentFrame() const { return m_frame; }
    // Halvings of the picture for the required display size of the last
    // pre-scan; 0 for sheets, texts (rendered at their own scale) and before
    // any pre-scan. Never finer than a generated picture is made at
    // (FinestLevelOf its store).
    int32_t LevelOfDetail() const;
    // The bitmap store shown now (the previous one while a new one loads).
    ql::TRef<ql::TBitmapStore> PictureStore() const;

    // Opens the picture through the host's file accessor and takes its size
    // (and its animation when AnimCount was 0). Prepare calls it; the slide
    // producer may call it earlier so that the pre-scan knows the size. false
    // when there is no host or no name.
    virtual bool LoadPicture();

    // --- the object's operations
    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override;
    void Prepare(TDeviceDrawer& drawer) override;
    void DecodePictures(TDeviceDrawer& drawer) override;
    void ApplyTime(bool recursive, double t) override;
    void Draw(TDeviceDrawer& drawer) override;

    // The shadow hooks: Prepare makes the object's shadow (when Shadow().Enabled)
    // after its picture is open, or drops it, and Draw draws it under the
    // picture. The shadow picture is the slide host's "Shadow: " picture,
    // shared by every object casting an equal shadow.
    virtual void PrepareShadow(TDeviceDrawer& drawer);
    virtual void DrawShadow(TDeviceDrawer& drawer);
    // The name of the shadow picture cast now; empty when none.
    std::u16string ShadowPictureName() const;
    // The shadow picture cast now; nothing when none.
    ql::TRef<ql::TBitmapStore> ShadowStore() const;

protected:
    // The shown picture and its textures.
    struct TPictureSlot {
        std::unique_ptr<access::TOrbImage> Image;  // keeps the shared cache entry
        TDrawPicture Picture;
        std::u16string Name;
    };

    // What the shadow is cast from: the picture, or a plain rectangle of the
    // object's size. false: no shadow.
    using TShadowSource = TCastShadowSource;
    virtual bool ShadowSource(TShadowSource& source) const;

    // The package name of the picture; empty for none.
    virtual std::u16string PictureName() const;
    // Draws the picture itself (after the shadow and border).
    // plane: the picture's place (inside the border); slot: the shown picture.
    virtual void DrawPicture(TDeviceDrawer& drawer, TPictureSlot& slot, const TScenePlane& plane,
                             const TCamera3D& camera, uint8_t opacity);
    // Reads the image keys; texts call it too.
    void LoadImageKeys(const ql::TIniIdentList& section);
    // Opens a picture by name; nothing for an empty name or without a host.
    std::unique_ptr<TPictureSlot> OpenSlot(const std::u16string& name) const;
    // Makes slot the shown picture; the one before waits for Prepare to release it.
    void ShowSlot(std::unique_ptr<TPictureSlot> slot);
    // Takes the picture's size and works out the geometry and the object size.
    void TakePictureSize(const ql::TBitmapStore& store);
    void SetObjectSize(int32_t width, int32_t height);
    TImageDrawParams DrawParams(uint8_t opacity) const;
    void ReleaseSlot(std::unique_ptr<TPictureSlot>& slot);

    std::u16string m_type;
    std::u16string m_imageName;
    int32_t m_replaceWithEffectBuffer = 0;
    bool m_antialiased = true;
    TImageFiltering m_filtering = ifDefault;
    float m_mipLodBias = -0.5f;
    TBorderParams m_border;
    TImageAnimationParams m_animation;
    bool m_animationFromPicture = false;  // AnimCount 0: the picture's tag decides
    bool m_mainImage = false;

    bool m_pictureLoaded = false;
    int32_t m_pictureWidth = 0, m_pictureHeight = 0;
    TImageGeometry m_geometry;
    int32_t m_frame = 0;

    // Guards the slots: the loader swaps pictures while the engine draws.
    mutable std::recursive_mutex m_pictureLock;
    std::unique_ptr<TPictureSlot> m_current;   // under m_pictureLock
    std::unique_ptr<TPictureSlot> m_previous;  // under m_pictureLock
    TDeviceDrawer* m_drawer = nullptr;         // the drawer that holds our textures

private:
    TCastShadow m_castShadow;
};

class TOrbText : public TOrbImage {
public:
    TOrbText(TOrbObject* parent, std::u16string guid, std::u16string type = u"text");
    ~TOrbText() override;

    bool IsText() const override { return true; }
    bool IsComment() const { return m_comment; }

    // --- keys
    const std::vector<std::u16string>& Lines() const { return m_lines; }
    // The lines after the macro step, as last laid out.
    const std::vector<std::u16string>& ReplacedLines() const { return m_replacedLines; }
    bool TextWasEmpty() const { return m_textWasEmpty; }
    // Colour is the normal colour; the look's colour is StateColour().
    const TTextParams& TextParams() const { return m_params; }
    uint32_t StateColourOf(TMouseLook look) const { return m_colours[size_t(look)]; }
    uint32_t StateColour() const { return StateColourOf(m_look); }
    // Colours given from outside (a button's theme colours its caption); the
    // text is laid out again when the normal colour changes.
    void SetStateColours(const std::array<uint32_t, 3>& colours);
    // How an owner that draws the text on a plane of its own (a button, its
    // caption) shows it at the largest: unitPixels device pixels per unit of
    // the owner, the text's box boxHeight owner units high (0: one owner unit
    // per unit of the text). The picture is then made at the size it is
    // shown, so that at rest it is drawn one picture pixel to one screen
    // pixel. unitPixels 0 (the default): the text is made for its parent's
    // required height and its own keys' scale, as a placed text is. The text
    // is made again when the size changes.
    void SetOwnerScale(double unitPixels, double boxHeight);
    bool Rasterize() const { return m_rasterize; }
    const std::u16string& RasterizedGUID() const { return m_rasterizedGuid; }
    ql::TPoint BlackBoxSize() const { return m_blackBox; }
    float ShiftX() const { return m_shiftX; }
    float ShiftY() const { return m_shiftY; }

    // --- layout
    double RasterScale() const { return m_rasterScale; }
    // The laid-out size at scale 1 (with the line spacing).
    ql::TPointF LaidOutSize() const { return m_laidOut; }

    // --- mouse look
    TMouseLook MouseLook() const { return m_look; }
    void SetMouseLook(TMouseLook look) override;
    bool UsesMouseLook() const override { return true; }

    bool LoadPicture() override;
    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override;
    bool DefaultShadowEnable() const override { return true; }
    // Draws the text's picture in its current look on a plane its owner
    // chose (a button's caption), its own units along the plane's axes.
    void DrawOnPlane(TDeviceDrawer& drawer, const TScenePlane& plane, const TCamera3D& camera,
                     uint8_t opacity);
    void Prepare(TDeviceDrawer& drawer) override;

protected:
    std::u16string PictureName() const override;
    bool ShadowSource(TShadowSource& source) const override;
    void DrawPicture(TDeviceDrawer& drawer, TPictureSlot& slot, const TScenePlane& plane,
                     const TCamera3D& camera, uint8_t opacity) override;

private:
    // The "Text: " name for a look.
    std::u16string TextPictureNameFor(TMouseLook look) const;
    // The largest key-point scale (the parent's when the text has none of
    // its own), as a factor.
    double LargestScale() const;
    // The pictures of the looks whose colour differs from the normal one.
    void PrepareLookPictures(TDeviceDrawer* drawer);
    // At rest on a plane that shows picture pixels one for one, takes the
    // picture whose pixels land on whole screen pixels there.
    void AlignToPixels(const TScenePlane& picturePlane);

    std::vector<std::u16string> m_lines;
    std::vector<std::u16string> m_replacedLines;
    bool m_textWasEmpty = false;
    bool m_comment = false;
    TTextParams m_params;
    std::array<uint32_t, 3> m_colours{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
    TMouseLook m_look = TMouseLook::Normal;
    bool m_rasterize = false;
    std::u16string m_rasterizedGuid;
    ql::TPoint m_blackBox;
    float m_shiftX = 0, m_shiftY = 0;

    double m_rasterScale = 1;
    // Set by SetOwnerScale; 0: none.
    double m_ownerUnitPixels = 0, m_ownerBoxHeight = 0;
    ql::TPointF m_laidOut{0, 0};
    // Where picture pixel (0, 0) lies in the object's own units, and the own
    // units per picture pixel.
    ql::TPointF m_pictureOrigin{0, 0};
    ql::TPointF m_unitsPerPixel{1, 1};
    // How far into its picture the text was drawn, in picture pixels (0 to 1
    // each way; part of the picture's name). The picture is drawn that much
    // nearer its origin, so the glyphs stay where they belong, and a text at
    // rest whose picture pixels fall between screen pixels gets a picture
    // made with the fractions that put them on whole ones.
    ql::TPointF m_subPixel{0, 0};  // under m_pictureLock
    // The plane the picture was drawn on last: drawn twice on the same, the
    // text is at rest.
    std::optional<TScenePlane> m_lastPlane;  // under m_pictureLock
    bool m_layoutValid = false;
    // Pictures of the hover and click looks (normal is the shown slot).
    std::array<std::unique_ptr<TPictureSlot>, 3> m_lookSlots;  // under m_pictureLock
};

}  // namespace orb
