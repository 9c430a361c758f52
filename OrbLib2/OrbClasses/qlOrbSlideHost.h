// The environment shared by all slides of a show: file access, the picture
// producers (shadows, texts, masks), the display scale and the callbacks to
// the engine. It also makes the generated pictures that objects ask the file
// accessor for by name ("Shadow: ...", "Mask: ...", "Button: ...").
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "OrbLib2/3DEngine/qlDrawManager2.h"
#include "OrbLib2/ButtonGenerator2.h"
#include "OrbLib2/MaskGenerator.h"
#include "OrbLib2/OrbClasses/qlOrbTextMacros.h"
#include "OrbLib2/OrbClasses/qlOrbVideoWrapper.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "OrbLib2/ShadowGenerator2.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/VectorGraphics/qlTextProducer2.h"
#include "QlLib/qpExceptions.h"

namespace orb {

class TOrbSlide;
class TOrbSlideHost;

// Raised when a host is made without a required callback or file accessor.
QL_COMMON_EXCEPTION(EOrbSlideHostError, ql::TCommonException);

struct TSlideHostCallbacks {
    // Where the viewer stands (screen pixels; z below 0).
    std::function<TCamera3D()> CameraPosition;
    // Fraction 0 .. 1 of a long operation; false cancels it.
    ql::TProgressHandler Progress;
    // A slide of the show changed (was built, reloaded or released).
    std::function<void(TOrbSlide& slide)> SlideChanged;
    // Asks the engine for a frame to be drawn.
    std::function<void()> Drawing;
};

// Makes the picture a generated name describes; nothing when the name is not
// one it can make (the file accessor then gives its placeholder).
using TPictureMaker =
    std::function<ql::TRef<ql::TBitmapStore>(TOrbSlideHost& host, const std::u16string& name)>;
// Files a maker for names beginning with prefix (process-wide; a later one for
// the same prefix replaces it; an empty one removes it). Returns the maker it
// replaced, empty when there was none, so that a caller can put it back.
TPictureMaker RegisterPictureMaker(const std::u16string& prefix, TPictureMaker maker);

// The mask pixel format: one byte of coverage per pixel.
const ql::TPixelFormat* MaskPixelFormat();
// The picture in the mask format: colour pictures give their grey (times
// their alpha), mask pictures are copied, any other format goes through
// "A8R8G8B8" first.
std::unique_ptr<ql::TBitmap> ToMaskBitmap(const ql::TBitmap& source);

// "Mask: " followed by the picture's name.
std::u16string MaskPictureName(const std::u16string& pictureName);
// "Shadow: " and the parameters in a form that reads back (ParseShadowName);
// equal parameters give equal names.
std::u16string ShadowPictureName(const TShadowParams& params);
// false when the text is not a shadow name made by ShadowPictureName.
bool ParseShadowName(const std::u16string& name, TShadowParams& params);

// The stand-in picture of a custom transition's buffer image: "SlideEffectBuffer",
// the buffer's digit and the size the picture takes ("SlideEffectBuffer1 800x600").
// The size travels in the name because any host of the package may be the
// one that makes the picture, and pictures of other sizes are other pictures.
std::u16string EffectBufferPictureName(int32_t buffer, ql::TPoint size);
// The size a buffer stand-in's name asks for; {16, 16} when it names none.
ql::TPoint EffectBufferSizeOf(std::u16string_view name);
inline constexpr char16_t kEffectBufferPrefix[] = u"SlideEffectBuffer";
inline constexpr int32_t kMaxEffectBufferSide = 16384;

class TOrbSlideHost : public ql::TObj {
public:
    // The accessor must outlive the host. Every callback is required: a
    // missing one raises EOrbSlideHostError. The host registers itself as an
    // image provider of the accessor's source, so that OpenImage answers
    // generated names.
    TOrbSlideHost(TFileAccessor& accessor, TSlideHostCallbacks callbacks);
    ~TOrbSlideHost() override;
    TOrbSlideHost(const TOrbSlideHost&) = delete;
    TOrbSlideHost& operator=(const TOrbSlideHost&) = delete;

    TFileAccessor& Accessor() const { return m_accessor; }
    const TShadowGenerator& ShadowGenerator() const { return m_shadowGenerator; }
    ql::TTextProducer& TextProducer() { return *m_textProducer; }
    const TMaskGenerator& MaskGenerator() const { return m_maskGenerator; }
    // The button themes of the show's package and the faces made from them.
    TButtonProducerHost& ButtonProducers() { return *m_buttonProducers; }
    // The EXIF and IPTC records of the show's pictures that texts asked for.
    TPictureMetadataCache& PictureMetadata() { return m_pictureMetadata; }
    // The extractor wrappers of the video objects, by slide cycle and file.
    TVideoWrapperList& Videos() { return m_videos; }
    // The clips of the show's video container (read by the slide producer).
    TVideoClips& VideoClips() { return m_videoClips; }
    const TVideoClips& VideoClips() const { return m_videoClips; }

    // The package folder holding the button themes (the project's
    // "PathToButtons"), and a theme's folder in it.
    const std::u16string& PathToButtons() const { return m_pathToButtons; }
    void SetPathToButtons(std::u16string path) { m_pathToButtons = std::move(path); }
    std::u16string ButtonThemeFolder(const std::u16string& theme) const;

    // Pixels per show unit of the display; bad values become 1.
    double DisplayScale() const { return m_displayScale; }
    void SetDisplayScale(double scale);

    TCamera3D CameraPosition() const;
    // true: go on.
    bool Progress(float fraction) const;
    const ql::TProgressHandler& ProgressHandler() const { return m_callbacks.Progress; }
    void NotifySlideChanged(TOrbSlide& slide) const;
    void RequestDrawing() const;

    // The size of the buffer stand-ins on this host's slides: a custom
    // transition sets the output it draws to before it builds its slide.
    ql::TPoint EffectBufferSize() const { return m_effectBufferSize; }
    void SetEffectBufferSize(ql::TPoint size);

    // The show's slide count ("opt_slidescount"), for the texts' slide-count
    // macro; 0 when the host serves no show (tools, tests).
    int32_t SlideCount() const { return m_slideCount; }
    void SetSlideCount(int32_t count) { m_slideCount = count > 0 ? count : 0; }

    // Whether objects take part in perspective hit tests.
    bool AcceptsHitTests() const { return m_acceptsHitTests; }
    void SetAcceptsHitTests(bool on) { m_acceptsHitTests = on; }

    // The picture a generated name describes, by its prefix; nothing when no
    // maker knows the name.
    ql::TRef<ql::TBitmapStore> MakePicture(const std::u16string& name);
    // The show's identity from the package entry "ExeGUID" (empty when none).
    const std::u16string& ExeGuid() const { return m_exeGuid; }

private:
    static ql::TRef<ql::TBitmapStore> ProvideImage(const std::u16string& name, void* host);

    TFileAccessor& m_accessor;
    TSlideHostCallbacks m_callbacks;
    TShadowGenerator m_shadowGenerator;
    std::unique_ptr<ql::TTextProducer> m_textProducer;
    TMaskGenerator m_maskGenerator;
    std::unique_ptr<TButtonProducerHost> m_buttonProducers;
    TPictureMetadataCache m_pictureMetadata;
    TVideoWrapperList m_videos;
    TVideoClips m_videoClips;
    std::u16string m_pathToButtons;
    double m_displayScale = 1;
    bool m_acceptsHitTests = true;
    int32_t m_slideCount = 0;
    ql::TPoint m_effectBufferSize{16, 16};
    std::u16string m_exeGuid;
    std::unique_ptr<TCallbackHandle> m_providerHandle;
};

}  // namespace orb
