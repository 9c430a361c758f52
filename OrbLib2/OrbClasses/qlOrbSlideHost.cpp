#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <map>
#include <mutex>
#include <optional>

#include "OrbLib2/OrbClasses/qlOrbGeneratedPicture.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "QlLib/VectorGraphics/qlGlyphCache.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

constexpr std::u16string_view kMaskPrefix = u"Mask: ";
constexpr std::u16string_view kPresetMaskPrefix = u"PresetedMask: ";
constexpr std::u16string_view kShadowPrefix = u"Shadow: ";
constexpr std::u16string_view kShapeShadowKey = u"N\\A";

// Generated names may name other generated pictures ("Mask: Shadow: ..."); a
// name nested deeper than this is not made, so a crafted name cannot exhaust
// the stack.
constexpr int kMaxMakerNesting = 4;
// Preset masks larger than this in either direction are not made.
constexpr int32_t kMaxPresetMaskSide = 16384;
// The "ExeGUID" entry is a short text; more than this is not an identity.
constexpr int64_t kMaxExeGuidBytes = 4096;

thread_local int t_makerNesting = 0;

bool StartsWith(const std::u16string& text, std::u16string_view prefix) {
    return text.size() >= prefix.size() &&
           std::u16string_view(text).substr(0, prefix.size()) == prefix;
}

std::mutex& MakerLock() {
    static std::mutex lock;
    return lock;
}

// The mask of a picture is made level by level from the same level of the
// picture, so a mask shown small never decodes its picture at full size.
ql::TRef<ql::TBitmapStore> MakeMask(TOrbSlideHost& host, const std::u16string& name) {
    std::unique_ptr<access::TOrbImage> image =
        host.Accessor().OpenImage(name.substr(kMaskPrefix.size()));
    ql::TRef<ql::TBitmapStore> picture = image ? image->BitmapStore() : nullptr;
    if (!picture || !PlaceholderTextOf(*picture).empty()) return {};
    const ql::TImageParams params = picture->Params();
    if (params.Width < 1 || params.Height < 1) return {};
    return ql::MakeRef<TGeneratedBitmapStore>(
        name, ql::TPoint{params.Width, params.Height}, MaskPixelFormat(),
        [picture](int32_t level, ql::TPoint, const ql::TProgressHandler&) {
            const std::shared_ptr<ql::TBitmap> bitmap = picture->ShareBitmap(level);
            return bitmap ? ToMaskBitmap(*bitmap) : nullptr;
        });
}

// Each level is made at its own size by the generator, looking like the full
// mask halved down to it.
ql::TRef<ql::TBitmapStore> MakePresetMask(TOrbSlideHost& host, const std::u16string& name) {
    const TMaskParams params = ParseMaskParams(name);
    if (params.Width <= 0 || params.Height <= 0 || params.Width > kMaxPresetMaskSide ||
        params.Height > kMaxPresetMaskSide)
        return {};
    ql::CheckImageSize(params.Width, params.Height);
    // A copy: the picture may outlive the host in the image cache.
    const TMaskGenerator generator = host.MaskGenerator();
    return ql::MakeRef<TGeneratedBitmapStore>(
        name, ql::TPoint{params.Width, params.Height}, ql::PfRGB24(),
        [params, generator](int32_t level, ql::TPoint, const ql::TProgressHandler& progress) {
            return generator.GenerateLevel(params, level, progress);
        });
}

// Each level is made at its own size, from the object's picture at the level
// drawn: the shadow of a huge picture shown small never decodes or makes that
// picture at full size.
ql::TRef<ql::TBitmapStore> MakeShadow(TOrbSlideHost& host, const std::u16string& name) {
    TShadowParams params;
    if (!ParseShadowName(name, params)) return {};
    ql::TRef<ql::TBitmapStore> picture;
    if (params.PictureKey != kShapeShadowKey) {
        std::unique_ptr<access::TOrbImage> image = host.Accessor().OpenImage(params.PictureKey);
        picture = image ? image->BitmapStore() : nullptr;
        if (!picture || !PlaceholderTextOf(*picture).empty()) return {};
    }
    const ql::TPoint size = ShadowPictureSize(params);
    // A copy: the picture may outlive the host in the image cache.
    const TShadowGenerator generator = host.ShadowGenerator();
    return ql::MakeRef<TGeneratedBitmapStore>(
        name, size, ql::PfARGB32(),
        [params, picture, generator](int32_t level, ql::TPoint,
                                     const ql::TProgressHandler& progress) {
            std::shared_ptr<ql::TBitmap> source;
            int32_t taken = 0;
            if (picture) {
                const ql::TPoint size =
                    ql::MipLevelSize(picture->Width(), picture->Height(), params.StoreLevel);
                taken = ShadowPictureLevel(params, size, level);
                source = picture->ShareBitmap(std::clamp(params.StoreLevel + taken, 0, 30));
                if (!source) return std::unique_ptr<ql::TBitmap>();
            }
            return generator.GenerateLevel(params, level, source.get(), taken, progress);
        });
}

// A face is kept as its distinct columns, and each level is made from them at
// its own size: a face 16384 pixels wide shown at a few hundred costs what
// those hundreds hold.
ql::TRef<ql::TBitmapStore> MakeButtonFace(TOrbSlideHost& host, const std::u16string& name) {
    TButtonFaceRequest request;
    if (!ParseButtonFacePictureName(name, request)) return {};
    TButtonFace face = host.ButtonProducers()
                           .ProducerFor(request.Theme)
                           .MakeFaceStrip(request.State, request.Width, request.Lightness,
                                          request.Saturation, request.Hue);
    if (face.Picture || !face.Strip.Columns) return face.Picture;
    const TButtonFaceStrip strip = std::move(face.Strip);
    return ql::MakeRef<TGeneratedBitmapStore>(
        name, ql::TPoint{strip.Width, strip.Columns->Height()}, ql::PfARGB32(),
        [strip](int32_t level, ql::TPoint, const ql::TProgressHandler&) {
            return ButtonFaceLevel(strip, level);
        });
}

std::map<std::u16string, TPictureMaker>& Makers() {  // under MakerLock
    static std::map<std::u16string, TPictureMaker> makers = {
        {std::u16string(kButtonPicturePrefix), MakeButtonFace},
        {std::u16string(kMaskPrefix), MakeMask},
        {std::u16string(kPresetMaskPrefix), MakePresetMask},
        {std::u16string(kShadowPrefix), MakeShadow},
    };
    return makers;
}

// The text of the package's "ExeGUID" entry (UTF-16 with its byte-order mark,
// else UTF-8), blanks and line ends removed; empty when there is none.
std::u16string ReadExeGuid(TFileAccessor& accessor) {
    std::unique_ptr<ql::TStream> stream;
    try {
        stream = accessor.OpenStream(u"ExeGUID");
        if (!stream) return {};
        const int64_t size = stream->GetSize();
        if (size <= 0 || size > kMaxExeGuidBytes) return {};
        std::string bytes(size_t(size), '\0');
        bytes.resize(stream->Read(bytes.data(), bytes.size()));
        std::u16string text;
        if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
            for (size_t i = 2; i + 1 < bytes.size(); i += 2)
                text += char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
        } else {
            if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
            text = ql::FromUtf8(bytes);
        }
        while (!text.empty() &&
               (text.back() == u'\r' || text.back() == u'\n' || text.back() == u'\0'))
            text.pop_back();
        return ql::TrimBlanks(text);
    } catch (const std::exception& error) {
        ql::GlobalLog().WriteLine(
            std::string_view(std::string("ExeGUID not read: ") + error.what()));
        return {};
    }
}

// Theme files come from the show's package. Faces are made on loading
// threads, so each opening goes through its own copy of the accessor.
TButtonThemeFiles ThemeFilesOf(const TFileAccessor& accessor) {
    std::shared_ptr<TFileAccessor> shared = accessor.Copy();
    TButtonThemeFiles files;
    files.OpenFile = [shared](const std::u16string& name) {
        return shared->Copy()->OpenStream(name);
    };
    files.OpenPicture = [shared](const std::u16string& name) -> ql::TRef<ql::TBitmapStore> {
        std::unique_ptr<access::TOrbImage> image = shared->Copy()->OpenImage(name);
        ql::TRef<ql::TBitmapStore> store = image ? image->BitmapStore() : nullptr;
        // The accessor's "not found" stand-in is no part of a theme.
        if (!store || !PlaceholderTextOf(*store).empty()) return {};
        return store;
    };
    return files;
}

}  // namespace

TPictureMaker RegisterPictureMaker(const std::u16string& prefix, TPictureMaker maker) {
    if (prefix.empty()) return {};
    std::lock_guard<std::mutex> guard(MakerLock());
    TPictureMaker replaced;
    if (const auto found = Makers().find(prefix); found != Makers().end()) {
        replaced = std::move(found->second);
        Makers().erase(found);
    }
    if (maker) Makers()[prefix] = std::move(maker);
    return replaced;
}

const ql::TPixelFormat* MaskPixelFormat() {
    static const ql::TPixelFormat* format = ql::FindPixelFormat("A8");
    return format;
}

std::unique_ptr<ql::TBitmap> ToMaskBitmap(const ql::TBitmap& source) {
    const int32_t w = source.Width(), h = source.Height();
    if (source.PixelFormat() == MaskPixelFormat())
        return ql::CreateBitmap(w, h, MaskPixelFormat(), {}, &source);
    // Anything that is not the common colour format goes through it first,
    // rather than being refused.
    std::unique_ptr<ql::TBitmap> converted;
    const ql::TBitmap* colour = &source;
    if (source.PixelFormat() != ql::PfARGB32()) {
        converted = ql::CreateBitmap(w, h, ql::PfARGB32(), {}, &source);
        if (!converted) return nullptr;
        colour = converted.get();
    }
    const bool hasAlpha = source.PixelFormat()->HasAlpha();
    std::unique_ptr<ql::TBitmap> mask = ql::CreateBitmap(w, h, MaskPixelFormat());
    if (!mask) return nullptr;
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t* in = colour->Row(y);
        uint8_t* out = mask->Row(y);
        for (int32_t x = 0; x < w; ++x, in += 4) {
            // Bytes B, G, R, A.
            uint32_t grey =
                (uint32_t(in[2]) * 77 + uint32_t(in[1]) * 151 + uint32_t(in[0]) * 28 + 128) >> 8;
            if (hasAlpha) grey = (grey * in[3] + 127) / 255;
            out[x] = uint8_t(grey);
        }
    }
    return mask;
}

std::u16string MaskPictureName(const std::u16string& pictureName) {
    return std::u16string(kMaskPrefix) + pictureName;
}

std::u16string ShadowPictureName(const TShadowParams& params) {
    return ShadowKey(params);
}

bool ParseShadowName(const std::u16string& name, TShadowParams& params) {
    if (!StartsWith(name, kShadowPrefix)) return false;
    // The picture key may hold colons itself: the 14 numbers are the last
    // fields.
    constexpr int kFields = 14;
    std::u16string_view body = std::u16string_view(name).substr(kShadowPrefix.size());
    std::u16string_view fields[kFields];
    for (int i = kFields - 1; i >= 0; --i) {
        const size_t colon = body.rfind(u':');
        if (colon == std::u16string_view::npos) return false;
        fields[i] = body.substr(colon + 1);
        body = body.substr(0, colon);
    }
    TShadowParams p;
    p.PictureKey = std::u16string(body);
    int32_t ints[kFields] = {};
    double reals[kFields] = {};
    for (int i = 0; i < kFields; ++i) {
        const auto real = ql::TryStrToFloat(fields[i]);
        if (!real) return false;
        reals[i] = *real;
        const auto integer = ql::TryStrToInt(fields[i]);
        ints[i] = integer.value_or(0);
    }
    for (int i : {0, 1, 2, 3, 4, 6, 8, 9, 10, 11, 12, 13})
        if (!ql::TryStrToInt(fields[i]) && !ql::TryStrToInt64(fields[i])) return false;
    p.ObjectRect = {0, 0, ints[0], ints[1]};
    p.MarginX = ints[2];
    p.MarginY = ints[3];
    if (p.ObjectRect.right < 0 || p.ObjectRect.bottom < 0 || p.MarginX < 0 || p.MarginY < 0)
        return false;
    if (ints[4] < 0 || ints[4] > 255) return false;
    p.BackgroundAlpha = uint8_t(ints[4]);
    p.BlurSize = ClampValue(reals[5]);
    p.Colour = uint32_t(ql::TryStrToInt64(fields[6]).value_or(0) & 0xFFFFFFFF);
    p.Opacity = ClampValue(reals[7]);
    p.SpreadIndex = ints[8];
    for (int i = 0; i < 3; ++i) {
        if (ints[9 + i] < 0 || ints[9 + i] > 255) return false;
        p.Shape[i] = uint8_t(ints[9 + i]);
    }
    p.StoreLevel = std::clamp(ints[12], 0, 30);
    p.Flags = uint32_t(ql::TryStrToInt64(fields[13]).value_or(0) & 0xFFFFFFFF);
    params = std::move(p);
    return true;
}

TOrbSlideHost::TOrbSlideHost(TFileAccessor& accessor, TSlideHostCallbacks callbacks)
    : m_accessor(accessor),
      m_callbacks(std::move(callbacks)),
      m_textProducer(std::make_unique<ql::TTextProducer>()),
      m_buttonProducers(std::make_unique<TButtonProducerHost>(ThemeFilesOf(accessor))) {
    if (!m_callbacks.CameraPosition)
        throw EOrbSlideHostError("TOrbSlideHost: the camera position callback is missing");
    if (!m_callbacks.Progress)
        throw EOrbSlideHostError("TOrbSlideHost: the progress callback is missing");
    if (!m_callbacks.SlideChanged)
        throw EOrbSlideHostError("TOrbSlideHost: the slide-change callback is missing");
    if (!m_callbacks.Drawing)
        throw EOrbSlideHostError("TOrbSlideHost: the drawing callback is missing");
    m_exeGuid = ReadExeGuid(m_accessor);
    if (!m_exeGuid.empty()) ql::TFontCache::Program().SetIdentity(m_exeGuid);
    m_providerHandle =
        m_accessor.Source().RegisterImageProvider(&TOrbSlideHost::ProvideImage, this);
}

TOrbSlideHost::~TOrbSlideHost() = default;

void TOrbSlideHost::SetDisplayScale(double scale) {
    m_displayScale = std::isfinite(scale) && scale > 0 && scale < 1000 ? scale : 1.0;
}

std::u16string TOrbSlideHost::ButtonThemeFolder(const std::u16string& theme) const {
    std::u16string folder = m_pathToButtons;
    if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
    return folder + theme;
}

void TOrbSlideHost::SetEffectBufferSize(ql::TPoint size) {
    m_effectBufferSize = {std::clamp(size.x, 1, kMaxEffectBufferSide),
                          std::clamp(size.y, 1, kMaxEffectBufferSide)};
}

std::u16string EffectBufferPictureName(int32_t buffer, ql::TPoint size) {
    return kEffectBufferPrefix + ql::IntToStr(buffer) + u" " + ql::IntToStr(size.x) + u"x" +
           ql::IntToStr(size.y);
}

ql::TPoint EffectBufferSizeOf(std::u16string_view name) {
    const ql::TPoint fallback{16, 16};
    const size_t space = name.find(u' ');
    if (space == std::u16string_view::npos) return fallback;
    const std::u16string_view size = name.substr(space + 1);
    const size_t cross = size.find(u'x');
    if (cross == std::u16string_view::npos) return fallback;
    const std::optional<int32_t> width = ql::TryStrToInt(size.substr(0, cross));
    const std::optional<int32_t> height = ql::TryStrToInt(size.substr(cross + 1));
    if (!width || !height || *width < 1 || *height < 1 || *width > kMaxEffectBufferSide ||
        *height > kMaxEffectBufferSide)
        return fallback;
    return {*width, *height};
}

TCamera3D TOrbSlideHost::CameraPosition() const {
    return m_callbacks.CameraPosition();
}

bool TOrbSlideHost::Progress(float fraction) const {
    return m_callbacks.Progress(fraction);
}

void TOrbSlideHost::NotifySlideChanged(TOrbSlide& slide) const {
    m_callbacks.SlideChanged(slide);
}

void TOrbSlideHost::RequestDrawing() const {
    m_callbacks.Drawing();
}

ql::TRef<ql::TBitmapStore> TOrbSlideHost::MakePicture(const std::u16string& name) {
    TPictureMaker maker;
    {
        std::lock_guard<std::mutex> guard(MakerLock());
        // The longest prefix wins ("PresetedMask: " before a shorter one).
        size_t best = 0;
        for (const auto& [prefix, candidate] : Makers())
            if (prefix.size() > best && StartsWith(name, prefix)) {
                best = prefix.size();
                maker = candidate;
            }
    }
    if (!maker) return {};
    if (t_makerNesting >= kMaxMakerNesting) {
        ql::GlobalLog().WriteLine(u"Generated picture nested too deeply: " + name.substr(0, 200));
        return {};
    }
    ++t_makerNesting;
    ql::TRef<ql::TBitmapStore> result;
    try {
        result = maker(*this, name);
    } catch (const std::exception& error) {
        ql::GlobalLog().WriteLine(
            std::string_view(std::string("Generated picture failed: ") + error.what()));
        result = {};
    }
    --t_makerNesting;
    return result;
}

ql::TRef<ql::TBitmapStore> TOrbSlideHost::ProvideImage(const std::u16string& name, void* host) {
    return static_cast<TOrbSlideHost*>(host)->MakePicture(name);
}

}  // namespace orb
