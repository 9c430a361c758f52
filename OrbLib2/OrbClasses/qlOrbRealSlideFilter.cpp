#include "OrbLib2/OrbClasses/qlOrbRealSlideFilter.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "OrbLib2/3DEngine/qlTriController.h"
#include "OrbLib2/OrbClasses/qlOrbImageObjects.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbSlideHost.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbFileAccessor2.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qlLog.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

// Custom transitions being drawn on this thread, one inside the other.
thread_local int32_t t_nesting = 0;

// The picture the buffer images load: transparent, of the decorated slide's
// size (which its name tells), so that they take the slide's place; the
// slides themselves are drawn over it from the effect's render targets.
ql::TRef<ql::TBitmapStore> MakeBufferStandIn(TOrbSlideHost&, const std::u16string& name) {
    const ql::TPoint size = EffectBufferSizeOf(name);
    auto bitmap = std::make_unique<ql::TDirectBitmap>(size.x, size.y, ql::PfARGB32());
    for (int32_t y = 0; y < size.y; ++y)
        std::fill_n(bitmap->Row(y), size_t(size.x) * 4, uint8_t(0));
    return ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap),
                                                u"zaglushka for slide-effect buffer");
}

void RegisterBufferStandIn() {
    static std::once_flag once;
    std::call_once(once, [] { RegisterPictureMaker(kEffectBufferPrefix, MakeBufferStandIn); });
}

std::unique_ptr<ql::TIniFile> ReadEntry(TFileAccessor& accessor, const std::u16string& entry) {
    std::unique_ptr<ql::TStream> stream = accessor.OpenStream(entry);
    if (!stream) throw EOrbSourceError("custom transition entry missing");
    auto document = std::make_unique<ql::TIniFile>();
    if (!document->LoadFromStream(*stream))
        throw EOrbSourceError("custom transition entry does not parse");
    return document;
}

void CollectBufferImages(TOrbObject& object, std::vector<TOrbImage*>& images) {
    if (auto* image = dynamic_cast<TOrbImage*>(&object);
        image && image->ReplaceWithEffectBuffer() != 0)
        images.push_back(image);
    for (int i = 0; i < object.ChildCount(); ++i) CollectBufferImages(object.Child(i), images);
}

struct TCustomTransitionSetup {
    TFileAccessor* accessor = nullptr;
};
std::mutex& SetupLock() {
    static std::mutex lock;
    return lock;
}
TCustomTransitionSetup& Setup() {
    static TCustomTransitionSetup setup;
    return setup;
}

}  // namespace

TRealSlideFilter::TRealSlideFilter(TFileAccessor& accessor, const std::u16string& entry,
                                   const ql::TRect& output, TDeviceDrawer* drawer)
    : m_accessor(accessor), m_drawer(drawer), m_output(output) {
    RegisterBufferStandIn();
    std::unique_ptr<ql::TIniFile> document = ReadEntry(accessor, entry);
    const ql::TIniSection* first = document->FindSection(u"slide1");
    m_coverMode = first && first->ReadBool(u"CoverMode", false);
    ql::TRef<ql::TRefObj> fileSource(&accessor.Source());
    auto source = std::make_unique<TOrbSource>(fileSource, std::move(document), std::u16string());
    m_producer = std::make_unique<TSlideProducer>(std::move(source), accessor);
    m_producer->Setup(std::max(output.Width(), 1), std::max(output.Height(), 1),
                      m_coverMode ? ffCover : ffFitInside, 100, 100);
}

TRealSlideFilter::~TRealSlideFilter() {
    m_slide.reset();
}

TOrbSlide* TRealSlideFilter::Slide() {
    if (!m_slideTried) {
        m_slideTried = true;
        m_producer->Host().SetEffectBufferSize({m_output.Width(), m_output.Height()});
        m_slide = m_producer->BuildSlide(0, 0);
        if (m_slide && m_drawer) m_slide->AttachDrawer(*m_drawer);
    }
    return m_slide.get();
}

void TRealSlideFilter::SetProgress(double progress) {
    TSlideEffFilter::SetProgress(progress);
    TOrbSlide* slide = Slide();
    if (!slide) return;
    const double x = std::isfinite(progress) ? std::clamp(progress, 0.0, 1.0) : 0;
    m_slideTime = slide->BeginTime() + (slide->EndTime() - slide->BeginTime()) * x;
    ql::GlobalLog().WriteReal(u"set slide eff. time: ", m_slideTime);
    slide->SetTime(true, m_slideTime);
}

void TRealSlideFilter::DrawBuffer(TEffectTarget& target, const TOrbImage& image,
                                  TCustomTexture* texture) {
    auto* sink = dynamic_cast<TEffController*>(&target);
    if (!sink || !texture || !image.IsShown()) return;
    const auto corners = image.Corners();
    const TCamera3D camera = image.Camera();
    const float w = float(m_output.Width()), h = float(m_output.Height());
    const float st[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    const auto alpha =
        uint32_t(std::lround(std::clamp(image.EffectiveOpacity(), 0.0f, 100.0f) * 2.55f));
    TMeshVertex v[4];
    for (size_t i = 0; i < 4; ++i) {
        const TProjected p = ProjectHomogeneous(camera, corners[i]);
        // Corners at or behind the viewer are not drawn.
        if (!(p.w > 0)) return;
        v[i] = TMeshVertex{
            p.x + m_centreOffset.x * p.w, p.y + m_centreOffset.y * p.w, p.w, st[i][0], st[i][1],
            alpha << 24 | 0x00FFFFFFu};
    }
    const TMeshVertex triangles[6] = {v[0], v[1], v[2], v[0], v[2], v[3]};
    sink->SetTexture(texture);
    sink->Begin();
    sink->AddMesh(triangles);
    sink->End();
    sink->SetTexture(nullptr);
}

void TRealSlideFilter::DrawTargets(TDeviceDrawer& drawer, TEffectTarget& target,
                                   TCustomTexture* first, TCustomTexture* second) {
    TOrbSlide* slide = Slide();
    if (!slide) return;
    if (m_drawer != &drawer) {
        // Built before a drawer was known: its pictures go up now, once.
        m_drawer = &drawer;
        slide->AttachDrawer(drawer);
    }
    ++t_nesting;
    try {
        // The show is laid out on the output; the offset moves it onto the
        // output's place on the device.
        drawer.SetOffset(m_centreOffset.x, m_centreOffset.y);
        if (TSlideBackgroundPainter* painter = slide->BackgroundPainter())
            painter->Draw(drawer, *slide);
        std::vector<TOrbImage*> buffers;
        CollectBufferImages(*slide, buffers);
        for (TOrbImage* image : buffers)
            DrawBuffer(target, *image, image->ReplaceWithEffectBuffer() == 1 ? first : second);
        // The objects (the buffer images draw their transparent stand-ins).
        slide->TOrbObject::Draw(drawer);
        drawer.SetOffset(0, 0);
    } catch (...) {
        drawer.SetOffset(0, 0);
        --t_nesting;
        throw;
    }
    --t_nesting;
}

std::unique_ptr<TSlideEffFilter> MakeCustomTransition(TFileAccessor& accessor,
                                                      const std::u16string& customText,
                                                      const ql::TRect& output,
                                                      TDeviceDrawer* drawer) {
    if (t_nesting >= kMaxCustomTransitionNesting) {
        ql::GlobalLog().WriteLine(
            std::u16string_view(u"Custom transition nested too deep: cross-fade"));
        return nullptr;
    }
    const std::u16string entry = ChooseCustomEffectEntry(customText);
    if (entry.empty()) return nullptr;
    try {
        return std::make_unique<TRealSlideFilter>(accessor, entry, output, drawer);
    } catch (const std::exception& e) {
        ql::GlobalLog().WriteLine(std::string_view(std::string("Custom transition ") +
                                                   ql::ToUtf8(entry) +
                                                   " plays as a cross-fade: " + e.what()));
        return nullptr;
    }
}

void InstallCustomTransitions(TFileAccessor& accessor) {
    {
        std::lock_guard<std::mutex> lock(SetupLock());
        Setup() = {&accessor};
    }
    SetCustomEffectFactory([](const TTransitionFilter&, const ql::TRect& output,
                              const TEffectParams& params) -> std::unique_ptr<TSlideEffFilter> {
        TCustomTransitionSetup setup;
        {
            std::lock_guard<std::mutex> lock(SetupLock());
            setup = Setup();
        }
        if (!setup.accessor) return nullptr;
        return MakeCustomTransition(*setup.accessor, params.CustomText, output);
    });
}

void RemoveCustomTransitions() {
    SetCustomEffectFactory(nullptr);
    std::lock_guard<std::mutex> lock(SetupLock());
    Setup() = {};
}

}  // namespace orb
