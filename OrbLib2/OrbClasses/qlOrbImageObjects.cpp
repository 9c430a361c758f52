#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "OrbLib2/OrbClasses/OrbViewPort.h"
#include "OrbLib2/OrbClasses/qlOrbBox.h"
#include "OrbLib2/OrbClasses/qlOrbButton.h"
#include "OrbLib2/OrbClasses/qlOrbGeneratedPicture.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbClasses/qlOrbTextMacros.h"
#include "OrbLib2/OrbClasses/qlOrbTextPicture.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// MipLodBias is a small bias in levels; anything beyond this is nonsense.
constexpr double kMaxMipLodBias = 16;
// Text boxes and shifts are in the object's own pixels.
constexpr double kMaxTextShift = 1e6;

// Held while a text is read and laid out with the program's glyph caches.
// Each text sets its show's opener there, and a new opener drops the fonts
// read through the one before: two texts made at once (text pictures are
// made on every loading thread) would each lose the other's fonts and be
// drawn as missing. Nothing under it loads pictures.
std::mutex& ShowFontsLock() {
    static std::mutex lock;
    return lock;
}

// The program's glyph caches, reading from this show's package. Only under
// ShowFontsLock.
ql::TFontCache& ShowFonts(const ql::TEntryOpener& opener) {
    ql::TFontCache& fonts = ql::TFontCache::Program();
    fonts.SetOpener(opener);
    return fonts;
}

uint8_t OpacityByte(float percent) {
    if (!std::isfinite(percent)) return 0;
    return uint8_t(std::lround(std::clamp(percent, 0.0f, 100.0f) * 2.55f));
}

TPoint3F Scaled(const TPoint3F& p, float factor) {
    return {p.x * factor, p.y * factor, p.z * factor};
}

// The part of a plane from local (x, y) on, with the same axes.
TScenePlane SubPlane(const TScenePlane& plane, float x, float y) {
    TScenePlane part = plane;
    part.origin = plane.At(x, y);
    return part;
}

void WalkImages(TOrbObject& object, const std::function<void(TOrbImage&)>& visit) {
    if (auto* image = dynamic_cast<TOrbImage*>(&object)) visit(*image);
    for (int i = 0; i < object.ChildCount(); ++i) WalkImages(object.Child(i), visit);
}

}  // namespace

void RegisterImageObjects() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterObjectFactory([](const std::u16string& type, TOrbObject* parent,
                                 const std::u16string& guid) -> std::unique_ptr<TOrbObject> {
            if (type == u"image" || type == u"mainimage")
                return std::make_unique<TOrbImage>(parent, guid, type);
            if (type == u"text" || type == u"textcomment")
                return std::make_unique<TOrbText>(parent, guid, type);
            if (type == u"button") return std::make_unique<TOrbButton>(parent, guid);
            if (type == u"box") return std::make_unique<TOrbBox>(parent, guid);
            if (type == u"frame") return std::make_unique<TOrbFrame>(parent, guid);
            if (type == u"mask") return std::make_unique<TOrbMask>(parent, guid);
            if (type == u"viewport") return std::make_unique<TOrbViewPort>(parent, guid);
            return nullptr;
        });
        RegisterPictureMaker(kTextPicturePrefix,
                             [](TOrbSlideHost& host, const std::u16string& name) {
                                 const ql::TEntryOpener opener = PackageOpener(host.Accessor());
                                 std::lock_guard<std::mutex> lock(ShowFontsLock());
                                 // No progress handler: a cancelled text would be stored as
                                 // missing.
                                 return MakeTextPicture(name, opener, ShowFonts(opener));
                             });
    });
}

TImageFiltering ParseFiltering(std::u16string_view text) {
    const std::u16string lower = ql::LowerCase(ql::TrimBlanks(text));
    if (lower == u"nearest") return ifNearest;
    if (lower == u"bilinear") return ifBilinear;
    return ifDefault;
}

ql::TEntryOpener PackageOpener(const TFileAccessor& accessor) {
    std::shared_ptr<TFileAccessor> copy = accessor.Copy();
    return [copy](const std::u16string& name) { return copy->OpenStream(name); };
}

void LoadObjectPictures(TOrbObject& root) {
    WalkImages(root, [](TOrbImage& image) {
        try {
            image.LoadPicture();
        } catch (const std::exception& error) {
            // One broken picture does not stop the others.
            ql::GlobalLog().WriteLine(
                std::string_view(std::string("Picture not loaded: ") + error.what()));
        }
    });
}

// --- TOrbImage ------------------------------------------------------------------

TOrbImage::TOrbImage(TOrbObject* parent, std::u16string guid, std::u16string type)
    : TOrbObject(parent, std::move(guid)), m_type(std::move(type)) {}

// A dying object has no other holder, so the picture lock is not taken here:
// releasing a picture takes the drawer's lock, and everywhere else the
// drawer's lock comes first (drawing, preparing); taking the picture lock
// first would invert that order.
TOrbImage::~TOrbImage() {
    m_castShadow.Release(m_drawer);
    ReleaseSlot(m_current);
    ReleaseSlot(m_previous);
}

void TOrbImage::SetImageName(const std::u16string& name) {
    if (name == m_imageName) return;
    m_imageName = name;
    m_pictureLoaded = false;
    m_changed = true;
}

void TOrbImage::SetMainImage(bool on) {
    if (on) {
        TOrbObject* root = Slide();
        if (!root) {
            root = this;
            while (root->Parent()) root = root->Parent();
        }
        WalkImages(*root, [this](TOrbImage& image) {
            if (&image != this) image.m_mainImage = false;
        });
    }
    m_mainImage = on;
}

ql::TRect TOrbImage::SourceRect() const {
    if (IsSheet()) return AnimationFrameRect(m_pictureWidth, m_pictureHeight, m_animation, m_frame);
    return m_geometry.Source;
}

int32_t TOrbImage::LevelOfDetail() const {
    if (!m_pictureLoaded) return 0;
    // A generated picture is never drawn finer than it is made at: asking
    // for its full size would make it at the size its name asks for.
    const ql::TRef<ql::TBitmapStore> store = PictureStore();
    const int32_t finest = store ? FinestLevelOf(*store) : 0;
    if (IsSheet() || IsText()) return finest;
    float requiredW = RequiredWidth(), requiredH = RequiredHeight();
    if (!(requiredW > 0) || !(requiredH > 0)) {
        // Before any pre-scan a picture from a file shows at its full size,
        // as it always did; a generated one would be made at up to 4096 a
        // side for nothing, so it takes its slide's size until the pre-scan
        // tells better.
        const TOrbSlide* slide = Slide();
        if (!store || !slide || !IsGeneratedStore(*store)) return finest;
        requiredW = float(slide->Width());
        requiredH = float(slide->Height());
        if (!(requiredW > 0) || !(requiredH > 0)) return finest;
    }
    const TOrbSlideHost* host = Host();
    // MipLodBias moves the choice by that many halvings: every level is
    // picked as though the picture were shown 2^-bias times its size, so a
    // positive bias takes a coarser (softer) level, a negative one a finer.
    // The level is cut from the picture before any device sees it, so both
    // devices draw the same one.
    const double scale = (host ? host->DisplayScale() : 1.0) * std::exp2(-double(m_mipLodBias));
    return std::max(finest, orb::LevelOfDetail(m_pictureWidth, m_pictureHeight,
                                               ScaledRequiredSide(requiredW, scale),
                                               ScaledRequiredSide(requiredH, scale)));
}

ql::TRef<ql::TBitmapStore> TOrbImage::PictureStore() const {
    std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
    if (m_current) return m_current->Picture.store;
    if (m_previous) return m_previous->Picture.store;
    return nullptr;
}

std::u16string TOrbImage::PictureName() const {
    if (m_replaceWithEffectBuffer != 0) {
        const TOrbSlideHost* host = Host();
        return EffectBufferPictureName(m_replaceWithEffectBuffer,
                                       host ? host->EffectBufferSize() : ql::TPoint{16, 16});
    }
    return m_imageName;
}

void TOrbImage::LoadImageKeys(const ql::TIniIdentList& section) {
    m_antialiased = section.ReadBool(u"Antialiased", true);
    m_filtering = ParseFiltering(section.ReadString(u"Filtering", u"Default"));
    SetImageName(section.ReadString(u"ImageName", u""));
    const double bias = section.ReadReal(u"MipLodBias", 0);
    m_mipLodBias =
        float(std::isfinite(bias) ? std::clamp(bias, -kMaxMipLodBias, kMaxMipLodBias) : 0.0);
    // Only a digit follows "SlideEffectBuffer" in the generated name.
    int32_t buffer = section.ReadInteger(u"ReplaceWithEffectBuffer", 0);
    if (buffer < 0 || buffer > 9) buffer = 0;
    if (buffer != m_replaceWithEffectBuffer) {
        m_replaceWithEffectBuffer = buffer;
        m_pictureLoaded = false;
    }
    const TBorderParams border = ReadBorderParams(section);
    TImageAnimationParams animation = ReadAnimationParams(section);
    const bool fromPicture = animation.FrameCount == 0;
    if (border != m_border || fromPicture != m_animationFromPicture ||
        (!fromPicture && animation != m_animation) || animation.Offset != m_animation.Offset) {
        m_border = border;
        m_animationFromPicture = fromPicture;
        if (fromPicture) {
            // The picture's tag fills the rest when it is loaded.
            const double offset = animation.Offset;
            animation = TImageAnimationParams{};
            animation.Offset = offset;
        }
        m_animation = animation;
        // The geometry follows the new keys at once when the picture is there.
        if (ql::TRef<ql::TBitmapStore> store = PictureStore(); store && !IsText())
            TakePictureSize(*store);
        m_changed = true;
    }
}

void TOrbImage::LoadFromDocument(const ql::TIniIdentList& section, bool reload) {
    TOrbObject::LoadFromDocument(section, reload);
    LoadImageKeys(section);
    if (m_type == u"mainimage") SetMainImage(true);
}

std::unique_ptr<TOrbImage::TPictureSlot> TOrbImage::OpenSlot(const std::u16string& name) const {
    TOrbSlideHost* host = Host();
    if (!host || name.empty()) return nullptr;
    std::unique_ptr<access::TOrbImage> image = host->Accessor().OpenImage(name);
    if (!image) return nullptr;
    ql::TRef<ql::TBitmapStore> store = image->BitmapStore();
    if (!store) return nullptr;
    auto slot = std::make_unique<TPictureSlot>();
    slot->Image = std::move(image);
    slot->Picture.store = std::move(store);
    slot->Name = name;
    return slot;
}

void TOrbImage::ReleaseSlot(std::unique_ptr<TPictureSlot>& slot) {
    if (!slot) return;
    if (m_drawer) m_drawer->ReleaseImage(slot->Picture);
    slot.reset();
}

void TOrbImage::ShowSlot(std::unique_ptr<TPictureSlot> slot) {
    std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
    // A picture that never got prepared in between is simply dropped.
    if (m_previous) ReleaseSlot(m_previous);
    m_previous = std::move(m_current);
    m_current = std::move(slot);
    m_changed = true;
}

void TOrbImage::SetObjectSize(int32_t width, int32_t height) {
    if (width == Width() && height == Height()) return;
    SetSize(width, height);
    // The fit factor depends on the size: the required sizes must be found again.
    if (TOrbSlide* slide = Slide()) slide->RequestPreScan();
}

void TOrbImage::TakePictureSize(const ql::TBitmapStore& store) {
    m_pictureWidth = store.Width();
    m_pictureHeight = store.Height();
    if (m_animationFromPicture) {
        const double offset = m_animation.Offset;
        TImageAnimationParams animation;
        if (const ql::TTilesTag* tag = store.TilesTag()) {
            animation.Columns = tag->Columns;
            animation.Rows = tag->Rows;
            animation.FrameCount = tag->Frames;
            animation.RepeatCount = tag->LoopCount;
            BoundAnimationParams(animation);
            animation.FrameDurations =
                ParseFrameDurations(ql::Widen(tag->DelaysMs), animation.FrameCount);
        }
        animation.Offset = offset;
        BoundAnimationParams(animation);
        m_animation = animation;
    }
    m_geometry = IsSheet() ? ComputeSheetGeometry(m_pictureWidth, m_pictureHeight, m_animation)
                           : ComputeImageGeometry(m_pictureWidth, m_pictureHeight, m_border);
    m_frame = std::clamp(m_frame, 0, std::max(m_animation.FrameCount - 1, 0));
    SetObjectSize(m_geometry.Width, m_geometry.Height);
}

bool TOrbImage::LoadPicture() {
    const std::u16string name = PictureName();
    {
        std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
        if (m_pictureLoaded && m_current && m_current->Name == name) return true;
    }
    std::unique_ptr<TPictureSlot> slot = OpenSlot(name);
    if (!slot) {
        // No name or no host: nothing is drawn, the rest of the slide goes on.
        if (name.empty()) {
            std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
            if (m_current) ShowSlot(nullptr);
            m_pictureLoaded = false;
        }
        return false;
    }
    // Opening and decoding ran unlocked; the swap must not meet a draw halfway.
    std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
    TakePictureSize(*slot->Picture.store);
    ShowSlot(std::move(slot));
    m_pictureLoaded = true;
    return true;
}

TImageDrawParams TOrbImage::DrawParams(uint8_t opacity) const {
    TImageDrawParams params;
    params.level = LevelOfDetail();
    if (IsSheet()) {
        params.columns = m_animation.Columns;
        params.rows = m_animation.Rows;
    }
    params.source = SourceRect();
    params.opacity = opacity;
    params.filter = m_filtering == ifNearest ? TFilter::Point : TFilter::Bilinear;
    params.edgeFlags = m_antialiased ? uint8_t(efLeft | efTop | efRight | efBottom) : uint8_t(0);
    return params;
}

void TOrbImage::Prepare(TDeviceDrawer& drawer) {
    m_drawer = &drawer;
    LoadPicture();
    {
        std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
        if (m_current) drawer.PrepareImage(m_current->Picture, DrawParams(255));
        // The new picture is ready: the old one can go.
        ReleaseSlot(m_previous);
    }
    // Making a shadow takes a while: the drawing goes on meanwhile.
    PrepareShadow(drawer);
}

void TOrbImage::DecodePictures(TDeviceDrawer& drawer) {
    // Texts are rendered, and effect buffers drawn, when prepared: only
    // pictures from files have decoding to do ahead.
    if (!IsText() && m_replaceWithEffectBuffer == 0) {
        try {
            ql::TRef<ql::TBitmapStore> store;
            if (LoadPicture()) {
                std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
                if (m_current) store = m_current->Picture.store;
            }
            if (store) drawer.DecodeImage(*store, DrawParams(255));
        } catch (const std::exception&) {
            // Prepare meets the damage again and logs it.
        }
    }
    TOrbObject::DecodePictures(drawer);
}

bool TOrbImage::ShadowSource(TShadowSource& source) const {
    std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
    if (!m_current || !m_current->Picture.store || Width() <= 0 || Height() <= 0) return false;
    // A missing picture's stand-in casts no shadow.
    if (!PlaceholderTextOf(*m_current->Picture.store).empty()) return false;
    const ql::TRect whole{0, 0, m_pictureWidth, m_pictureHeight};
    const bool wholePicture = !IsSheet() && m_geometry.InnerOffset == 0 && SourceRect() == whole &&
                              Width() == m_pictureWidth && Height() == m_pictureHeight;
    TShadowParams& p = source.Params;
    if (wholePicture) {
        p.PictureKey = m_current->Name;
        p.ObjectRect = whole;
    } else {
        // Cropped, bordered or sheet pictures cast the shadow of their box.
        p.PictureKey = u"N\\A";
        p.ObjectRect = {0, 0, Width(), Height()};
    }
    source.Origin = {0, 0};
    source.UnitsPerPixel = {1, 1};
    return true;
}

void TOrbImage::PrepareShadow(TDeviceDrawer& drawer) {
    TShadowSource source;
    const bool casts = m_shadow.Enabled && ShadowSource(source);
    m_castShadow.Prepare(Host(), drawer, m_shadow, casts ? &source : nullptr, ShadowViewOf(*this));
}

void TOrbImage::DrawShadow(TDeviceDrawer& drawer) {
    m_castShadow.Draw(drawer, m_shadow, EffectiveOpacity(), {float(Width()), float(Height())},
                      Plane(), Camera());
}

std::u16string TOrbImage::ShadowPictureName() const {
    return m_castShadow.Name();
}

ql::TRef<ql::TBitmapStore> TOrbImage::ShadowStore() const {
    return m_castShadow.Store();
}

void TOrbImage::ApplyTime(bool recursive, double t) {
    TOrbObject::ApplyTime(recursive, t);
    if (!IsSheet()) return;
    const TOrbSlide* slide = Slide();
    const double begin = slide ? slide->BeginTime() : 0;
    const int32_t frame = AnimationFrameAt(m_animation, t - begin - m_animation.Offset);
    if (frame != m_frame) {
        m_frame = frame;
        m_changed = true;
    }
}

void TOrbImage::DrawPicture(TDeviceDrawer& drawer, TPictureSlot& slot, const TScenePlane& plane,
                            const TCamera3D& camera, uint8_t opacity) {
    drawer.DrawImage3D(slot.Picture, DrawParams(opacity), plane, camera);
}

void TOrbImage::Draw(TDeviceDrawer& drawer) {
    if (!m_drawer) m_drawer = &drawer;
    // A blank slide's placeholder main image is not drawn.
    const bool placeholder = m_mainImage && m_pictureWidth <= 2 && m_pictureHeight <= 2;
    if (IsShown() && !placeholder) {
        std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
        TPictureSlot* slot = m_current ? m_current.get() : m_previous.get();
        const uint8_t opacity = OpacityByte(EffectiveOpacity());
        if (slot && slot->Picture.store && opacity > 0) {
            const TScenePlane plane = Plane();
            const TCamera3D camera = Camera();
            if (m_shadow.Enabled) DrawShadow(drawer);
            const float b = IsSheet() ? 0 : m_geometry.InnerOffset;
            if (b > 0) {
                // The border ring as four strips around the picture.
                TBoxParams box;
                box.colour1 = box.colour2 = m_border.BorderColor;
                box.opacity = int32_t(std::lround(std::clamp(EffectiveOpacity(), 0.0f, 100.0f)));
                const float w = float(Width()), h = float(Height());
                drawer.DrawBox3D({w, b}, box, plane, camera);
                drawer.DrawBox3D({w, b}, box, SubPlane(plane, 0, h - b), camera);
                drawer.DrawBox3D({b, h - 2 * b}, box, SubPlane(plane, 0, b), camera);
                drawer.DrawBox3D({b, h - 2 * b}, box, SubPlane(plane, w - b, b), camera);
            }
            DrawPicture(drawer, *slot, SubPlane(plane, b, b), camera, opacity);
        }
    }
    TOrbObject::Draw(drawer);
}

// --- TOrbText --------------------------------------------------------------------

TOrbText::TOrbText(TOrbObject* parent, std::u16string guid, std::u16string type)
    : TOrbImage(parent, std::move(guid), std::move(type)) {
    m_comment = m_type == u"textcomment";
    // The drawer smooths text pictures by their own alpha, not by the image flag.
    m_antialiased = false;
}

TOrbText::~TOrbText() {
    // No picture lock, as in ~TOrbImage.
    for (auto& slot : m_lookSlots) ReleaseSlot(slot);
}

void TOrbText::SetMouseLook(TMouseLook look) {
    if (look == m_look) return;
    m_look = look;
    m_changed = true;
}

void TOrbText::SetStateColours(const std::array<uint32_t, 3>& colours) {
    if (colours == m_colours) return;
    if (colours[0] != m_colours[0]) {
        m_params.Color = colours[0];
        m_layoutValid = false;
        m_pictureLoaded = false;
    }
    m_colours = colours;
    m_changed = true;
}

void TOrbText::SetOwnerScale(double unitPixels, double boxHeight) {
    if (!std::isfinite(unitPixels) || unitPixels < 0) unitPixels = 0;
    if (!std::isfinite(boxHeight) || boxHeight < 0) boxHeight = 0;
    // Scans that agree but for rounding give the same picture.
    auto near = [](double a, double b) { return std::fabs(a - b) <= 1e-6 * std::max(a, b); };
    if (near(unitPixels, m_ownerUnitPixels) && near(boxHeight, m_ownerBoxHeight)) return;
    m_ownerUnitPixels = unitPixels;
    m_ownerBoxHeight = boxHeight;
    m_pictureLoaded = false;
    m_changed = true;
}

void TOrbText::DrawOnPlane(TDeviceDrawer& drawer, const TScenePlane& plane, const TCamera3D& camera,
                           uint8_t opacity) {
    if (!m_drawer) m_drawer = &drawer;
    std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
    TPictureSlot* slot = m_current ? m_current.get() : m_previous.get();
    if (slot && slot->Picture.store && opacity > 0)
        DrawPicture(drawer, *slot, plane, camera, opacity);
}

void TOrbText::LoadFromDocument(const ql::TIniIdentList& section, bool reload) {
    TOrbImage::LoadFromDocument(section, reload);
    m_antialiased = false;

    TTextParams params;
    params.FontName = section.ReadString(u"FontName", u"");
    params.Style = ParseFontStyle(section.ReadString(u"FontStyle", u""));
    params.Alignment = ParseTextAlign(section.ReadString(u"TextAlign", u"Center"));
    params.LineSpacing = std::clamp(section.ReadInteger(u"LineSpacing", 0), -1000, 10000);
    auto colourKey = [&](std::u16string_view key, uint32_t fallback) {
        const ql::TIniIdent* ident = section.FindIdent(key);
        if (!ident) return fallback;
        return ParseRgbColor(ident->Value()).value_or(fallback);
    };
    const uint32_t normal = colourKey(u"TextColor", 0xFFFFFFFF);
    params.Color = normal;
    const std::array<uint32_t, 3> colours{normal, colourKey(u"TextColorHover", normal),
                                          colourKey(u"TextColorClick", normal)};
    TTextLines lines = SplitTextLines(section.ReadString(u"Text", u""));

    ql::TPoint blackBox;
    if (const ql::TIniIdent* ident = section.FindIdent(u"BlackBoxSize")) {
        auto values = ParseNumberList(ident->Value(), 2);
        if (values && values->size() == 2) {
            blackBox.x =
                int32_t(std::clamp(std::round((*values)[0]), 0.0, double(ql::kMaxBitmapSide)));
            blackBox.y =
                int32_t(std::clamp(std::round((*values)[1]), 0.0, double(ql::kMaxBitmapSide)));
        }
    }
    auto shift = [&](std::u16string_view key) {
        const double value = section.ReadReal(key, 0);
        return float(std::isfinite(value) ? std::clamp(value, -kMaxTextShift, kMaxTextShift) : 0.0);
    };
    const bool rasterize = section.ReadBool(u"Rasterize", false);
    m_rasterizedGuid = section.ReadString(u"RasterizedGUID", u"");
    m_shiftX = shift(u"ShiftX");
    m_shiftY = shift(u"ShiftY");

    // A text is laid out again only when something that shapes it changed.
    if (lines.Lines != m_lines || params != m_params || colours != m_colours ||
        blackBox != m_blackBox || rasterize != m_rasterize) {
        m_lines = std::move(lines.Lines);
        m_textWasEmpty = lines.WasEmpty;
        m_params = params;
        m_colours = colours;
        m_blackBox = blackBox;
        m_rasterize = rasterize;
        m_layoutValid = false;
        m_pictureLoaded = false;
        m_changed = true;
    }
}

double TOrbText::LargestScale() const {
    auto largest = [](const TKeyPoints& points, double& result) {
        for (int i = 0; i < points.Count(); ++i) {
            const TKeyValues& v = points.KeyPoint(i).Values();
            result = std::max({result, double(v.ScaleX), double(v.ScaleY)});
        }
        return points.Count() > 0;
    };
    double result = 0;
    if (!largest(KeyPoints(), result)) {
        const TKeyValues& v = KeyPoints().Current();
        result = std::max(v.ScaleX, v.ScaleY);
    }
    return std::isfinite(result) && result > 0 ? result / 100.0 : 1.0;
}

std::u16string TOrbText::TextPictureNameFor(TMouseLook look) const {
    TTextPictureRequest request;
    request.Params = m_params;
    request.Params.Color = m_colours[size_t(look)];
    request.Scale = m_rasterScale;
    request.OffsetX = m_subPixel.x;
    request.OffsetY = m_subPixel.y;
    request.Lines = m_replacedLines;
    return orb::TextPictureName(request);
}

std::u16string TOrbText::PictureName() const {
    if (m_rasterize) return m_imageName;
    return m_layoutValid ? TextPictureNameFor(TMouseLook::Normal) : std::u16string();
}

bool TOrbText::LoadPicture() {
    TOrbSlideHost* host = Host();
    if (!host) return false;
    if (m_pictureLoaded && m_layoutValid) return true;

    if (m_rasterize) {
        // A pre-rendered picture stands for the text.
        std::unique_ptr<TPictureSlot> slot = OpenSlot(m_imageName);
        if (!slot || !PlaceholderTextOf(*slot->Picture.store).empty()) return false;
        const ql::TBitmapStore& store = *slot->Picture.store;
        m_pictureWidth = store.Width();
        m_pictureHeight = store.Height();
        if (Width() == 0 || Height() == 0) SetObjectSize(m_pictureWidth, m_pictureHeight);
        const double n = double(std::max<size_t>(m_lines.size(), 1));
        const double lines = n + (n - 1) * m_params.LineSpacing / 200.0;
        m_rasterScale = lines > 0 ? Height() / lines : 1;
        m_pictureOrigin = {0, 0};
        m_unitsPerPixel = {m_pictureWidth > 0 ? float(Width()) / m_pictureWidth : 1,
                           m_pictureHeight > 0 ? float(Height()) / m_pictureHeight : 1};
        m_geometry = {ql::TRect{0, 0, m_pictureWidth, m_pictureHeight}, Width(), Height(), 0};
        m_replacedLines = m_lines;
        ShowSlot(std::move(slot));
        m_layoutValid = true;
        m_pictureLoaded = true;
        return true;
    }

    std::vector<std::u16string> replaced = ReplaceTextMacros(*this, m_lines);
    const ql::TEntryOpener opener = PackageOpener(host->Accessor());
    // Released before the picture is opened: its maker takes the lock too.
    std::unique_lock<std::mutex> fontsLock(ShowFontsLock());
    std::unique_ptr<ql::TVectorText> text =
        MakeVectorText(m_params, replaced, opener, ShowFonts(opener));
    if (!text) return false;
    const ql::TPointF laidOut = orb::LaidOutSize(*text, m_params);
    // A text without height cannot be scaled to its box; it is not drawn.
    if (!(laidOut.y > 0)) {
        ql::GlobalLog().WriteLine(u"Text without height not drawn: " + Name());
        return false;
    }
    m_laidOut = laidOut;
    const int32_t width = m_blackBox.x > 0 ? m_blackBox.x : int32_t(std::ceil(laidOut.x));
    const int32_t height = m_blackBox.y > 0 ? m_blackBox.y : int32_t(std::ceil(laidOut.y));
    SetObjectSize(width, height);

    if (m_ownerUnitPixels > 0) {
        // Drawn by its owner: made at the size the owner shows it. Its keys
        // are the owner's, whose required size has their scale in it already.
        const double box = m_ownerBoxHeight > 0 ? m_ownerBoxHeight / height : 1.0;
        m_rasterScale = LimitRasterScale(m_ownerUnitPixels * box, laidOut.x, laidOut.y);
        if (!std::isfinite(m_rasterScale) || !(m_rasterScale > 0)) m_rasterScale = 1;
    } else {
        // Before the first pre-scan the parent's own height stands in for its
        // required size.
        double parentHeight = Parent() ? Parent()->RequiredHeight() : 0;
        if (!(parentHeight > 0)) parentHeight = ParentSize().y;
        m_rasterScale = orb::RasterScale(LargestScale(), parentHeight * host->DisplayScale(),
                                         laidOut.x, laidOut.y);
    }

    ql::TTextProducer producer;
    producer.SetText(text.get());
    producer.LineSpacing = m_params.LineSpacing;
    producer.Alignment = m_params.Alignment;
    ql::TTextLayout layout;
    try {
        layout = producer.Layout(float(m_rasterScale));
    } catch (const ql::TCommonException& error) {
        ql::GlobalLog().WriteLine(
            std::string_view(std::string("Text not laid out: ") + error.what()));
        return false;
    }
    // The producer starts the text one pixel and the overhangs into the
    // picture; the laid-out box is centred in the object's box.
    const float k = float(m_rasterScale);
    const float boxX = (float(Width()) - laidOut.x) / 2 + m_shiftX;
    const float boxY = (float(Height()) - laidOut.y) / 2 + m_shiftY;
    m_pictureOrigin = {boxX - (layout.OverhangLeft + 1) / k, boxY - (layout.OverhangTop + 1) / k};
    m_unitsPerPixel = {1 / k, 1 / k};
    m_replacedLines = std::move(replaced);
    m_layoutValid = true;
    fontsLock.unlock();

    std::unique_ptr<TPictureSlot> slot = OpenSlot(TextPictureNameFor(TMouseLook::Normal));
    // The accessor's "not found" picture is no stand-in for a text.
    if (!slot || !PlaceholderTextOf(*slot->Picture.store).empty()) return false;
    m_pictureWidth = slot->Picture.store->Width();
    m_pictureHeight = slot->Picture.store->Height();
    m_geometry = {ql::TRect{0, 0, m_pictureWidth, m_pictureHeight}, Width(), Height(), 0};
    {
        std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
        for (auto& look : m_lookSlots) ReleaseSlot(look);
    }
    ShowSlot(std::move(slot));
    m_pictureLoaded = true;
    return true;
}

bool TOrbText::ShadowSource(TShadowSource& source) const {
    std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
    if (!m_layoutValid || !m_current || !m_current->Picture.store || m_pictureWidth <= 0 ||
        m_pictureHeight <= 0)
        return false;
    if (!PlaceholderTextOf(*m_current->Picture.store).empty()) return false;
    // Every look shares the normal picture's silhouette.
    source.Params.PictureKey = m_current->Name;
    source.Params.ObjectRect = {0, 0, m_pictureWidth, m_pictureHeight};
    source.Origin = m_pictureOrigin;
    source.UnitsPerPixel = m_unitsPerPixel;
    return true;
}

void TOrbText::PrepareLookPictures(TDeviceDrawer* drawer) {
    std::lock_guard<std::recursive_mutex> lock(m_pictureLock);
    for (TMouseLook look : {TMouseLook::Hover, TMouseLook::Click}) {
        auto& slot = m_lookSlots[size_t(look)];
        if (m_rasterize || !m_layoutValid || m_colours[size_t(look)] == m_colours[0]) {
            ReleaseSlot(slot);
            continue;
        }
        const std::u16string name = TextPictureNameFor(look);
        if (!slot || slot->Name != name) {
            ReleaseSlot(slot);
            slot = OpenSlot(name);
            if (slot && !PlaceholderTextOf(*slot->Picture.store).empty()) slot.reset();
        }
        if (slot && drawer) drawer->PrepareImage(slot->Picture, DrawParams(255));
    }
}

void TOrbText::Prepare(TDeviceDrawer& drawer) {
    TOrbImage::Prepare(drawer);
    PrepareLookPictures(&drawer);
}

void TOrbText::AlignToPixels(const TScenePlane& picturePlane) {
    auto same = [](const TPoint3F& a, const TPoint3F& b) {
        return a.x == b.x && a.y == b.y && a.z == b.z;
    };
    const bool rest = m_lastPlane && same(m_lastPlane->origin, picturePlane.origin) &&
                      same(m_lastPlane->axisX, picturePlane.axisX) &&
                      same(m_lastPlane->axisY, picturePlane.axisY);
    m_lastPlane = picturePlane;
    // A moving text would want a new picture every frame; it is left as made.
    if (!rest || m_rasterize || !m_layoutValid || !m_current) return;
    const TOrbSlideHost* host = Host();
    const double scale = host ? host->DisplayScale() : 1.0;
    const TScenePlane& p = picturePlane;
    // Only an upright flat picture shown about one picture pixel to one
    // screen pixel can have its pixels on the screen's.
    constexpr double kUpright = 1e-6, kOneForOne = 0.02;
    if (!p.IsFlat() || std::fabs(p.axisX.y) > kUpright || std::fabs(p.axisY.x) > kUpright ||
        std::fabs(p.axisX.x * scale - 1) > kOneForOne ||
        std::fabs(p.axisY.y * scale - 1) > kOneForOne)
        return;
    // Thousandths: equal places give equal names.
    auto fraction = [](double v) {
        const double f = std::round((v - std::floor(v)) * 1000) / 1000;
        return float(f >= 1 ? 0 : f);
    };
    const ql::TPointF wanted{fraction(p.origin.x * scale), fraction(p.origin.y * scale)};
    if (wanted.x == m_subPixel.x && wanted.y == m_subPixel.y) return;
    const ql::TPointF before = m_subPixel;
    m_subPixel = wanted;
    std::unique_ptr<TPictureSlot> slot = OpenSlot(TextPictureNameFor(TMouseLook::Normal));
    if (!slot || !PlaceholderTextOf(*slot->Picture.store).empty()) {
        m_subPixel = before;
        return;
    }
    // The picture drawn before waits in the previous slot, as after a new name.
    ShowSlot(std::move(slot));
    for (auto& look : m_lookSlots) ReleaseSlot(look);
}

void TOrbText::DrawPicture(TDeviceDrawer& drawer, TPictureSlot& slot, const TScenePlane& plane,
                           const TCamera3D& camera, uint8_t opacity) {
    TScenePlane picturePlane = SubPlane(plane, m_pictureOrigin.x, m_pictureOrigin.y);
    picturePlane.axisX = Scaled(plane.axisX, m_unitsPerPixel.x);
    picturePlane.axisY = Scaled(plane.axisY, m_unitsPerPixel.y);
    TPictureSlot* shown = &slot;
    if (shown == m_current.get()) {
        AlignToPixels(picturePlane);
        shown = m_current.get();
    }
    if (m_look != TMouseLook::Normal && m_colours[size_t(m_look)] != m_colours[0]) {
        // Looks change with the mouse; a picture not made beforehand is made now.
        if (!m_lookSlots[size_t(m_look)]) PrepareLookPictures(nullptr);
        if (m_lookSlots[size_t(m_look)]) shown = m_lookSlots[size_t(m_look)].get();
    }
    // The glyphs lie m_subPixel into the picture: it goes back by as much.
    picturePlane.origin = picturePlane.At(-m_subPixel.x, -m_subPixel.y);
    TImageDrawParams params;
    params.opacity = opacity;
    params.filter = m_filtering == ifNearest ? TFilter::Point : TFilter::Bilinear;
    drawer.DrawImage3D(shown->Picture, params, picturePlane, camera);
}

}  // namespace orb
