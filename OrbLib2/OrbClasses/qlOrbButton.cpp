#include "OrbLib2/OrbClasses/qlOrbButton.h"

#include <algorithm>
#include <cmath>

#include "OrbLib2/ButtonGenerator2.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "QlLib/qlIniStorage.h"

namespace orb {

namespace {

// Hue is an angle, saturation and lightness percentages: beyond these the
// shift says nothing more.
constexpr int32_t kMaxHueShift = 3600;
constexpr int32_t kMaxPercentShift = 1000;

float PercentKey(const ql::TIniIdentList& section, std::u16string_view key) {
    const double value = section.ReadReal(key, 100);
    return float(std::isfinite(value) ? std::clamp(value, 0.0, 100.0) : 100.0);
}

uint8_t ScaledOpacity(uint8_t opacity, float percent) {
    return uint8_t(std::lround(opacity * std::clamp(percent, 0.0f, 100.0f) / 100.0f));
}

int32_t ButtonStateOf(TMouseLook look) {
    switch (look) {
        case TMouseLook::Hover:
            return bsHover;
        case TMouseLook::Click:
            return bsClick;
        default:
            return bsNormal;
    }
}

}  // namespace

float CaptionHeightOnFace(int32_t faceHeight, int32_t topHeight, int32_t bottomHeight) {
    const int32_t height = std::max(faceHeight, 1);
    const float inner = float(height - std::max(topHeight, 0) - std::max(bottomHeight, 0));
    return std::max(inner, height / 2.0f);
}

TButtonLayout ComputeButtonLayout(ql::TPointF captionSize, ql::TPoint naturalSize,
                                  int32_t leftWidth, int32_t rightWidth, int32_t topHeight,
                                  int32_t bottomHeight, float minWidth, float offsetX,
                                  float themeOffset) {
    TButtonLayout layout;
    const int32_t height = std::max(naturalSize.y, 1);
    layout.FaceHeight = height;
    const int32_t sides = std::max(leftWidth, 0) + std::max(rightWidth, 0);
    const float captionHeight = CaptionHeightOnFace(height, topHeight, bottomHeight);
    const bool hasCaption = captionSize.x > 0 && captionSize.y > 0 &&
                            std::isfinite(captionSize.x) && std::isfinite(captionSize.y);
    layout.CaptionScale = hasCaption ? captionHeight / captionSize.y : 1;
    const float captionWidth = hasCaption ? captionSize.x * layout.CaptionScale : 0;

    double width = std::ceil(double(captionWidth)) + sides;
    if (std::isfinite(minWidth)) width = std::max(width, double(minWidth));
    width = std::clamp(width, double(std::max(sides, 1)), double(kMaxButtonFaceWidth));
    layout.FaceWidth = int32_t(width);

    const float freeWidth = float(layout.FaceWidth - sides) - captionWidth;
    const float offset = std::isfinite(offsetX) ? offsetX : 100;
    const float shift = std::isfinite(themeOffset) ? themeOffset : 0;
    layout.CaptionOrigin = {float(std::max(leftWidth, 0)) + freeWidth * offset / 200 + shift,
                            (float(height) - (hasCaption ? captionHeight : 0)) / 2};
    return layout;
}

TOrbButton::TOrbButton(TOrbObject* parent, std::u16string guid)
    : TOrbImage(parent, std::move(guid), u"button"),
      // The caption hangs off the button for its host and slide, but is no
      // child: the mouse finds the button, never its caption.
      m_caption(std::make_unique<TOrbText>(this, std::u16string(), u"text")) {}

TOrbButton::~TOrbButton() {
    // No picture lock, as in ~TOrbImage.
    for (auto& slot : m_lookSlots) ReleaseSlot(slot);
}

float TOrbButton::BtnMinWidth() const {
    if (m_btnMinWidth) return *m_btnMinWidth;
    return m_producer ? m_producer->BtnMinWidth() : 0;
}

void TOrbButton::SetMouseLook(TMouseLook look) {
    m_caption->SetMouseLook(look);
    if (look == m_look) return;
    m_look = look;
    m_changed = true;
}

void TOrbButton::LoadFromDocument(const ql::TIniIdentList& section, bool reload) {
    TOrbImage::LoadFromDocument(section, reload);
    // The face is drawn at its own resolution.
    m_mipLodBias = 0;

    const std::u16string theme = section.ReadString(u"Theme", u"");
    const float btnOpacity = PercentKey(section, u"BtnOpacity");
    const float txtOpacity = PercentKey(section, u"TxtOpacity");
    const int32_t hue = std::clamp(section.ReadInteger(u"Hue", 0), -kMaxHueShift, kMaxHueShift);
    const int32_t saturation =
        std::clamp(section.ReadInteger(u"Saturation", 0), -kMaxPercentShift, kMaxPercentShift);
    const int32_t lightness =
        std::clamp(section.ReadInteger(u"Lightness", 0), -kMaxPercentShift, kMaxPercentShift);
    std::optional<float> minWidth;
    if (section.FindIdent(u"BtnMinWidth")) {
        const double value = section.ReadReal(u"BtnMinWidth", 0);
        if (std::isfinite(value))
            minWidth = float(std::clamp(value, 0.0, 1.0 * kMaxButtonFaceWidth));
    }
    double offsetX = section.ReadReal(u"BtnOffsetX", 100);
    if (!std::isfinite(offsetX)) offsetX = 100;
    offsetX = std::clamp(offsetX, -1000.0, 1000.0);

    if (theme != m_theme || hue != m_hue || saturation != m_saturation ||
        lightness != m_lightness || minWidth != m_btnMinWidth || float(offsetX) != m_btnOffsetX) {
        m_theme = theme;
        m_hue = hue;
        m_saturation = saturation;
        m_lightness = lightness;
        m_btnMinWidth = minWidth;
        m_btnOffsetX = float(offsetX);
        m_pictureLoaded = false;
        m_changed = true;
    }
    if (btnOpacity != m_btnOpacity || txtOpacity != m_txtOpacity) {
        m_btnOpacity = btnOpacity;
        m_txtOpacity = txtOpacity;
        m_changed = true;
    }

    // The caption reads the text keys of the same block; the theme colours it.
    m_caption->LoadFromDocument(section, reload);
    m_caption->Shadow().Enabled = false;
    if (m_producer) {
        const uint32_t colour = m_producer->CaptionColour();
        m_caption->SetStateColours({colour, colour, colour});
    }
}

TButtonProducer* TOrbButton::ResolveTheme() {
    TOrbSlideHost* host = Host();
    if (!host) return nullptr;
    TButtonProducerHost& producers = host->ButtonProducers();
    for (const std::u16string& theme : {m_theme, std::u16string(kFallbackButtonTheme)}) {
        if (theme.empty()) continue;
        const std::u16string folder = host->ButtonThemeFolder(theme);
        TButtonProducer& producer = producers.ProducerFor(folder);
        if (producer.Loaded()) {
            m_themeFolder = folder;
            return &producer;
        }
    }
    m_themeFolder.clear();
    return nullptr;
}

std::u16string TOrbButton::FacePictureName(TMouseLook look) const {
    if (!m_producer || m_layout.FaceWidth <= 0) return {};
    TButtonFaceRequest request;
    request.Theme = m_themeFolder;
    request.State = ButtonStateOf(look);
    request.Width = m_layout.FaceWidth;
    request.Hue = m_hue;
    request.Saturation = m_saturation;
    request.Lightness = m_lightness;
    return ButtonFacePictureName(request);
}

std::u16string TOrbButton::PictureName() const {
    return FacePictureName(TMouseLook::Normal);
}

double TOrbButton::UnitPixels() const {
    const TOrbSlideHost* host = Host();
    const double display = host ? host->DisplayScale() : 1.0;
    const double required = RequiredHeight();
    if (required > 0 && std::isfinite(required) && Height() > 0)
        return display * required / Height();
    return display;
}

void TOrbButton::ScaleCaption() {
    double box = 0;  // without a theme the caption is the button
    if (m_producer) {
        const auto& parts = m_producer->Parts(bsNormal);
        box = CaptionHeightOnFace(m_producer->NaturalSize().y, parts[bpTop].Rect.Height(),
                                  parts[bpBottom].Rect.Height());
    }
    m_caption->SetOwnerScale(UnitPixels(), box);
}

bool TOrbButton::LoadPicture() {
    if (!Host()) return false;
    bool faceShown;
    {
        std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
        faceShown = m_pictureLoaded && m_current && m_current->Name == PictureName();
    }
    if (faceShown) {
        // Pictures are opened before the slide's first pre-scan: the one
        // since tells how large the button is shown, and the caption is
        // made again at that size. Its own size, and so the face, stays.
        ScaleCaption();
        if (m_caption->PictureLoaded()) return true;
    }
    m_producer = ResolveTheme();
    if (m_producer) {
        m_filtering = TImageFiltering(std::clamp(m_producer->Filtering(), 0, 2));
        const uint32_t colour = m_producer->CaptionColour();
        m_caption->SetStateColours({colour, colour, colour});
        // Until its face is made the button has the face's natural size, so
        // that a pre-scan finds how large it is shown.
        if (Height() == 0) SetObjectSize(m_producer->NaturalSize().x, m_producer->NaturalSize().y);
    }
    ScaleCaption();
    m_caption->LoadPicture();
    const ql::TPointF captionSize =
        m_caption->PictureLoaded()
            ? ql::TPointF{float(m_caption->Width()), float(m_caption->Height())}
            : ql::TPointF{0, 0};
    if (!m_producer) {
        // No theme at all: the caption alone, at its own size.
        m_layout = TButtonLayout{};
        m_layout.FaceWidth = int32_t(std::ceil(captionSize.x));
        m_layout.FaceHeight = int32_t(std::ceil(captionSize.y));
        SetObjectSize(m_layout.FaceWidth, m_layout.FaceHeight);
        m_pictureLoaded = false;
        return false;
    }
    const auto& parts = m_producer->Parts(bsNormal);
    m_layout = ComputeButtonLayout(captionSize, m_producer->NaturalSize(),
                                   parts[bpLeft].Rect.Width(), parts[bpRight].Rect.Width(),
                                   parts[bpTop].Rect.Height(), parts[bpBottom].Rect.Height(),
                                   BtnMinWidth(), m_btnOffsetX, m_producer->BtnOffset());
    const bool loaded = TOrbImage::LoadPicture();
    if (!loaded) SetObjectSize(m_layout.FaceWidth, m_layout.FaceHeight);
    return loaded;
}

void TOrbButton::PrepareLookPictures(TDeviceDrawer* drawer) {
    std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
    for (TMouseLook look : {TMouseLook::Hover, TMouseLook::Click}) {
        auto& slot = m_lookSlots[size_t(look)];
        const std::u16string name = FacePictureName(look);
        if (name.empty()) {
            ReleaseSlot(slot);
            continue;
        }
        if (!slot || slot->Name != name) {
            ReleaseSlot(slot);
            slot = OpenSlot(name);
        }
        if (slot && drawer) drawer->PrepareImage(slot->Picture, DrawParams(255));
    }
}

void TOrbButton::Prepare(TDeviceDrawer& drawer) {
    TOrbImage::Prepare(drawer);
    PrepareLookPictures(&drawer);
    m_caption->Prepare(drawer);
}

void TOrbButton::DrawCaption(TDeviceDrawer& drawer, const TScenePlane& facePlane,
                             const TCamera3D& camera, uint8_t opacity) {
    if (opacity == 0 || !m_caption->PictureLoaded()) return;
    TScenePlane plane = facePlane;
    plane.origin = facePlane.At(m_layout.CaptionOrigin.x, m_layout.CaptionOrigin.y);
    const float k = m_layout.CaptionScale;
    plane.axisX = {facePlane.axisX.x * k, facePlane.axisX.y * k, facePlane.axisX.z * k};
    plane.axisY = {facePlane.axisY.x * k, facePlane.axisY.y * k, facePlane.axisY.z * k};
    m_caption->DrawOnPlane(drawer, plane, camera, opacity);
}

void TOrbButton::DrawPicture(TDeviceDrawer& drawer, TPictureSlot& slot, const TScenePlane& plane,
                             const TCamera3D& camera, uint8_t opacity) {
    TPictureSlot* shown = &slot;
    if (m_look != TMouseLook::Normal) {
        // Looks change with the mouse; a face not made beforehand is made now.
        if (!m_lookSlots[size_t(m_look)]) PrepareLookPictures(nullptr);
        if (m_lookSlots[size_t(m_look)]) shown = m_lookSlots[size_t(m_look)].get();
    }
    const uint8_t body = ScaledOpacity(opacity, m_btnOpacity);
    if (body > 0) TOrbImage::DrawPicture(drawer, *shown, plane, camera, body);
    DrawCaption(drawer, plane, camera, ScaledOpacity(opacity, m_txtOpacity));
}

void TOrbButton::Draw(TDeviceDrawer& drawer) {
    bool withoutBody;
    {
        std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
        withoutBody = !m_current && !m_previous;
    }
    TOrbImage::Draw(drawer);
    // A button whose theme is missing still shows its caption.
    if (withoutBody && IsShown()) {
        const float opacity = std::clamp(EffectiveOpacity(), 0.0f, 100.0f);
        DrawCaption(drawer, Plane(), Camera(),
                    ScaledOpacity(uint8_t(std::lround(opacity * 2.55f)), m_txtOpacity));
    }
}

}  // namespace orb
