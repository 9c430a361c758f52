#include "OrbLib2/OrbClasses/qlOrbVideo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbPackage/qlOrbImageStandIn.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlYuvToRgb.h"
#include "QlLib/qlIniStorage.h"

namespace orb {

namespace {

std::atomic<bool> g_exactFrames{false};
// The TExactVideoFrames alive.
std::atomic<int32_t> g_exactHolders{0};

// Drawing 60 times a second: the next drawing wants the frame 1/60 s on.
constexpr double kDrawRate = 60;

uint8_t OpacityByteOf(float percent) {
    if (!std::isfinite(percent)) return 0;
    return uint8_t(std::lround(std::clamp(percent, 0.0f, 100.0f) * 2.55f));
}

// The luma row that row y of the picture shows: its own for the whole frame;
// for one field (1 top, 2 bottom) that field's row at or above it, each line
// of the field drawn twice.
int32_t FieldRow(int32_t y, int32_t height, int32_t field) {
    if (field == 1) return y & ~1;
    if (field == 2) return std::min(y | 1, std::max(height - 1, 0));
    return y;
}

// The chroma row of luma row `row`. In an interlaced frame the chroma rows
// alternate between the fields as the luma rows do: the top field's chroma
// sits on the even chroma rows, so a field takes only its own.
int32_t ChromaRow(int32_t row, int32_t chromaHeight, int32_t field) {
    const int32_t chroma = field == 0 ? row / 2 : (row / 4) * 2 + (row & 1);
    return std::min(chroma, std::max(chromaHeight - 1, 0));
}

// The frame (or one field of it, line-doubled) as 32-bit pixels for the drawer.
std::unique_ptr<ql::TBitmap> FrameBitmap(const ql::TYuvImage& image, int32_t field) {
    if (image.Width <= 0 || image.Height <= 0 || image.GreyOnly) return nullptr;
    auto bitmap = std::make_unique<ql::TDirectBitmap>(image.Width, image.Height, ql::PfARGB32());
    ql::TYuvToRgbConverter converter(image.Width);
    const ql::TYuvMatrix matrix = image.Bt709 ? ql::TYuvMatrix::Bt709 : ql::TYuvMatrix::Bt601;
    const size_t cw = size_t(image.ChromaWidth());
    for (int32_t y = 0; y < image.Height; ++y) {
        const int32_t row = FieldRow(y, image.Height, field);
        const size_t chroma = size_t(ChromaRow(row, image.ChromaHeight(), field)) * cw;
        converter.ConvertRow(image.Y.data() + size_t(row) * size_t(image.Width),
                             cw ? image.U.data() + chroma : nullptr,
                             cw ? image.V.data() + chroma : nullptr, int32_t(cw), matrix,
                             bitmap->Row(y));
    }
    return bitmap;
}

// The stand-in of a video that cannot be played: what went wrong, the file's
// name and its folder, in the placeholder's colours.
ql::TRef<ql::TBitmapStore> VideoPlaceholder(const std::u16string& fileName, int32_t failure) {
    const size_t separator = fileName.find_last_of(u"\\/");
    const std::u16string name =
        separator == std::u16string::npos ? fileName : fileName.substr(separator + 1);
    const std::u16string folder =
        separator == std::u16string::npos ? std::u16string() : fileName.substr(0, separator);
    const std::u16string message = failure == 1 ? u"Video load error:" : u"Video not found:";
    return ql::MakeRef<TPlaceholderStore>(message + u"\n" + name + u"\nPath:\n" + folder);
}

void WalkVideos(TOrbObject& object, const std::function<void(TOrbVideo&)>& visit) {
    if (auto* video = dynamic_cast<TOrbVideo*>(&object)) visit(*video);
    for (int i = 0; i < object.ChildCount(); ++i) WalkVideos(object.Child(i), visit);
}

}  // namespace

void SetVideoFramesExact(bool on) {
    g_exactFrames.store(on);
}

bool VideoFramesExact() {
    return g_exactFrames.load() || g_exactHolders.load() > 0;
}

TExactVideoFrames::TExactVideoFrames() {
    g_exactHolders.fetch_add(1);
}

TExactVideoFrames::~TExactVideoFrames() {
    g_exactHolders.fetch_sub(1);
}

TOrbVideo::TOrbVideo(TOrbObject* parent, std::u16string guid, std::u16string type)
    : TOrbObject(parent, std::move(guid)), m_type(std::move(type)) {
    m_timing.Duration = 10000;  // a new object plays ten seconds
}

TOrbVideo::~TOrbVideo() {
    ReleaseSurface();
    if (m_drawer && m_picture.store) m_drawer->ReleaseImage(m_picture);
}

void TOrbVideo::ReleaseSurface() {
    if (m_surfaceDrawer && m_surface) m_surfaceDrawer->ReleaseVideoSurface(m_surface);
    m_surface = nullptr;
    m_surfaceDrawer = nullptr;
    m_surfaceFrame = -2;
}

void TOrbVideo::AttachSurface(TDeviceDrawer& drawer) {
    auto* drawer3d = dynamic_cast<T3DDrawer*>(&drawer);
    if (drawer3d == m_surfaceDrawer && m_surface) return;
    ReleaseSurface();
    if (!drawer3d || !m_wrapper || FailureCode() != 0) return;
    const TVideoStreamInfo& info = m_wrapper->Info();
    m_surface = drawer3d->CreateVideoSurface(info.Width, info.Height);
    if (m_surface) m_surfaceDrawer = drawer3d;
}

void TOrbVideo::SetSurfaceFrame(const ql::TYuvImage& image, int32_t field) {
    if (image.GreyOnly || image.Width != m_surface->Width() || image.Height != m_surface->Height())
        return;
    const ql::TYuvImage* source = &image;
    if (field != 0) {
        m_field.GreyOnly = false;
        m_field.Bt709 = image.Bt709;
        m_field.Resize(image.Width, image.Height);
        const size_t cw = size_t(image.ChromaWidth());
        for (int32_t y = 0; y < image.Height; ++y)
            std::memcpy(
                m_field.Y.data() + size_t(y) * size_t(image.Width),
                image.Y.data() + size_t(FieldRow(y, image.Height, field)) * size_t(image.Width),
                size_t(image.Width));
        // Chroma row c serves luma rows 2c and 2c + 1, both of one field now.
        for (int32_t c = 0; c < image.ChromaHeight(); ++c) {
            const int32_t row = FieldRow(2 * c, image.Height, field);
            const size_t from = size_t(ChromaRow(row, image.ChromaHeight(), field)) * cw;
            std::memcpy(m_field.U.data() + size_t(c) * cw, image.U.data() + from, cw);
            std::memcpy(m_field.V.data() + size_t(c) * cw, image.V.data() + from, cw);
        }
        source = &m_field;
    }
    m_surface->SetFrame(source->Y.data(), source->Width, source->U.data(), source->ChromaWidth(),
                        source->V.data(), source->ChromaWidth(), source->Bt709);
}

int32_t TOrbVideo::FailureCode() const {
    return m_wrapper ? int32_t(m_wrapper->Failure()) : int32_t(ql::TVideoFailure::NoStream);
}

int64_t TOrbVideo::WantedFrame() const {
    const ql::TOrbVideoExtractor* extractor = m_wrapper ? m_wrapper->Extractor() : nullptr;
    return extractor ? extractor->FrameAt(m_position) : -1;
}

int32_t TOrbVideo::Field() const {
    if (!m_wrapper || m_heldFrame < 0) return 0;
    const TVideoStreamInfo& info = m_wrapper->Info();
    const TFrameSpan span = FrameSpanOf(m_heldFrame, m_heldFrame, info.Rate);
    return FieldChoice(m_deinterlace, info.Interlacing, m_position, span.StartMs, span.EndMs);
}

void TOrbVideo::LoadFromDocument(const ql::TIniIdentList& section, bool reload) {
    TOrbObject::LoadFromDocument(section, reload);
    TOrbSlideHost* host = Host();
    const TOrbSlide* slide = Slide();
    // A clip of the show's video container plays one file on across slides;
    // an object without one plays its own file.
    const std::u16string clipGuid = section.ReadString(u"ClipGUID", u"");
    const TVideoClip2* clip = host ? host->VideoClips().Find(clipGuid) : nullptr;
    m_clipGuid = clip ? clipGuid : std::u16string();
    m_clipBaseTime = clip ? clip->BaseTime : 0;
    m_mute = section.ReadBool(u"Mute", false);
    const double startOrb = section.ReadReal(u"StartORBTime", 0);
    m_loadFromDisk = clip ? clip->LoadFromDisk : section.ReadBool(u"LoadFromDisk", false);
    m_fileName = clip ? clip->FileName : section.ReadString(u"FileName", u"");
    const double duration = section.ReadReal(u"Duration", 0);
    const double startVideo = section.ReadReal(u"StartVideoTime", 0);
    m_antialiasedBorder = section.ReadBool(u"AntialiasedBorder", true);
    m_deinterlace = ParseDeinterlaceType(section.ReadString(u"DeinterlaceType", u"Auto"));
    m_waitForConvert = section.ReadBool(u"WaitForConvert", false);

    m_wrapper.Reset();
    if (host) {
        m_wrapper = host->Videos().Acquire(
            VideoWrapperIdentity(slide ? slide->Cycle() : 0, clip ? clipGuid : GUID()));
        m_wrapper->SetFile(host->Accessor(), m_fileName, m_loadFromDisk);
    }
    const TVideoStreamInfo info = m_wrapper ? m_wrapper->Info() : TVideoStreamInfo{};
    m_timing = ClampVideoTiming(startOrb, duration, startVideo, info.LengthMs());
    m_pixelAspect = PixelAspectOf(info.AspectCode, info.Width, info.Height);
    if (m_drawer && m_picture.store) m_drawer->ReleaseImage(m_picture);
    m_picture.textures.Clear();
    m_picture.store = nullptr;
    m_drawnFrame = -2;
    ReleaseSurface();
    if (FailureCode() != 0 && host) {
        // Without a stream the object shows, and takes the size of, its stand-in.
        m_picture.store = VideoPlaceholder(m_fileName, FailureCode());
        SetSize(m_picture.store->Width(), m_picture.store->Height());
    } else {
        // The frame's size with its pixel aspect.
        SetSize(int32_t(std::lround(info.Width * m_pixelAspect)), info.Height);
    }

    m_mainVideo = m_type == u"mainvideo";
    if (m_mainVideo && slide)
        WalkVideos(*const_cast<TOrbSlide*>(slide), [this](TOrbVideo& other) {
            if (&other != this) other.m_mainVideo = false;
        });
    m_heldFrame = -2;
    m_heldExact = false;
    m_changed = true;
}

void TOrbVideo::ApplyTime(bool recursive, double t) {
    TOrbObject::ApplyTime(recursive, t);
    const TOrbSlide* slide = Slide();
    const double slideTime = t - (slide ? slide->BeginTime() : 0);
    // A clip goes on from where it stood at the end of its start slide.
    const double clipShift =
        m_clipGuid.empty() ? 0 : (slide ? slide->BeginTime() : 0) - m_clipBaseTime;
    const double position = VideoPositionAt(m_timing, slideTime, m_deltaTime1, clipShift);
    if (position != m_position) {
        m_position = position;
        m_changed = true;
    }
}

void TOrbVideo::SyncFrame(bool wait) {
    ql::TOrbVideoExtractor* extractor = m_wrapper ? m_wrapper->Extractor() : nullptr;
    if (!extractor) return;
    if (wait || m_wrapper->TakeFirstSeek()) extractor->RequestFrame(m_position, wait);
    const ql::TOrbVideoExtractor::TTaken taken = extractor->TakeFrame(m_position, kDrawRate);
    if (!taken.Slot) return;
    m_heldFrame = taken.Slot->Frame;
    m_heldExact = taken.Exact;
    // An interlaced frame shows its fields one after the other while it is
    // held: the picture changes with the field too.
    const int64_t key = m_heldFrame >= 0 ? m_heldFrame * 4 + Field() : -2;
    if (m_surface) {
        if (key >= 0 && key != m_surfaceFrame) {
            SetSurfaceFrame(taken.Slot->Image, Field());
            m_surfaceFrame = key;
        }
    } else if (key >= 0 && key != m_drawnFrame && key != m_pendingFrame) {
        m_pending = FrameBitmap(taken.Slot->Image, Field());
        m_pendingFrame = m_pending ? key : -2;
    }
    extractor->GiveBack(taken.Slot);
}

void TOrbVideo::UploadFrame(TDeviceDrawer& drawer) {
    m_drawer = &drawer;
    if (!Active()) return;
    AttachSurface(drawer);
    SyncFrame(VideoFramesExact());
    if (!m_pending) return;
    if (m_picture.store) drawer.ReleaseImage(m_picture);
    m_picture.textures.Clear();
    m_picture.store = nullptr;
    m_picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(std::move(m_pending));
    drawer.PrepareImage(m_picture, TImageDrawParams{});
    m_drawnFrame = m_pendingFrame;
    m_pendingFrame = -2;
}

void TOrbVideo::Prepare(TDeviceDrawer& drawer) {
    UploadFrame(drawer);
}

bool TOrbVideo::IsChanged() const {
    // Until the exact frame came, every drawing looks again.
    return TOrbObject::IsChanged() ||
           (Active() && m_wrapper && m_wrapper->Extractor() && !m_heldExact);
}

void TOrbVideo::Draw(TDeviceDrawer& drawer) {
    // The slide is prepared once; a playing video brings each new frame to
    // the drawer as it draws (waiting for it in exact mode only).
    if (IsShown()) UploadFrame(drawer);
    if (IsShown() && m_surface && &drawer == static_cast<TDeviceDrawer*>(m_surfaceDrawer) &&
        m_surface->HasFrame()) {
        const uint8_t opacity = OpacityByteOf(EffectiveOpacity());
        if (opacity > 0) {
            TScenePlane plane = Plane();
            const auto aspect = float(m_pixelAspect);
            plane.axisX = {plane.axisX.x * aspect, plane.axisX.y * aspect, plane.axisX.z * aspect};
            m_surfaceDrawer->DrawVideoSurface3D(*m_surface, plane, Camera(), opacity);
        }
    } else if (IsShown() && m_picture.store) {
        const uint8_t opacity = OpacityByteOf(EffectiveOpacity());
        if (opacity > 0) {
            TScenePlane plane = Plane();
            // The frame's pixels are pixel-aspect wide on the object.
            const float aspect = FailureCode() == 0 ? float(m_pixelAspect) : 1.0f;
            plane.axisX = {plane.axisX.x * aspect, plane.axisX.y * aspect, plane.axisX.z * aspect};
            TImageDrawParams params;
            params.opacity = opacity;
            drawer.DrawImage3D(m_picture, params, plane, Camera());
        }
    }
    TOrbObject::Draw(drawer);
}

}  // namespace orb
