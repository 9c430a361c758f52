// A show playing a clip through the engine in deterministic mode: every frame
// drawn shows the clip's frame of its time, however slow the decoder was.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "OrbLib2/OrbClasses/qlOrbVideo.h"
#include "QlLib/Video/VideoClipSupport.h"
#include "QlLib/qpFileStream.h"

namespace orb {
namespace {

// One file, "clip.mp4".
class TClipFile : public TFileSource {
public:
    explicit TClipFile(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}

protected:
    std::unique_ptr<ql::TStream> DoOpen(const std::u16string& name) override {
        if (name != u"clip.mp4") return nullptr;
        auto stream = std::make_unique<ql::TMemoryStream>();
        stream->WriteBuffer(m_bytes.data(), m_bytes.size());
        stream->SetPosition(0);
        return stream;
    }

private:
    std::vector<uint8_t> m_bytes;
};

TOrbVideo* FindVideo(TOrbObject& object) {
    if (auto* video = dynamic_cast<TOrbVideo*>(&object)) return video;
    for (int i = 0; i < object.ChildCount(); ++i)
        if (TOrbVideo* found = FindVideo(object.Child(i))) return found;
    return nullptr;
}

// The number the bars of the captured frame spell (green as luma).
int64_t ScreenNumber(const ql::TBitmap& frame) {
    const int32_t w = frame.Width(), h = frame.Height();
    std::vector<uint8_t> luma(size_t(w) * size_t(h));
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            luma[size_t(y) * size_t(w) + size_t(x)] = frame.Row(y)[3 * x + 1];
    return ql::test::ReadFrameNumber(luma.data(), w, h, w);
}

TEST(OrbEngineVideo, Deterministic_EveryFrameDrawnIsTheClipsFrameOfItsTime) {
    const std::vector<uint8_t> clip =
        ql::test::MakeNumberedClip({"libx264", "mp4", 64, 48, 100, 25, 1, 25, 3, 0});
    if (clip.empty()) GTEST_SKIP() << "libx264 missing";
    {
        TVirtualClock clock;
        TSoftDevice device(TSoftDeviceOptions{64, 48});
        TOrbEngine engine(device, CaptureEngineOptions(clock, 64, 48), false);
        // Exact frames from the engine alone, not from a tool's switch.
        SetVideoFramesExact(false);
        EXPECT_TRUE(VideoFramesExact());
        ASSERT_TRUE(engine.Open(
            std::make_unique<TFileAccessor>(ql::MakeRef<TClipFile>(clip)),
            test::DocumentOf(test::SolidShow(
                1, 4000, "stop", "object V : video\n  FileName=clip.mp4\n  Duration=4000\nend\n")),
            0));
        int64_t musicFrames = 0;
        auto frame = [&](double ms) { test::StepEngine(engine, clock, musicFrames, ms); };
        for (int i = 0; i < 10 && !engine.Active(); ++i) frame(0);
        ASSERT_TRUE(engine.Active());
        int checked = 0;
        // Random-looking steps, some skipping frames, some within one.
        const double steps[] = {40, 40, 13, 27, 120, 40, 600, 40, 33, 1000, 40};
        for (const double step : steps) {
            frame(step);
            const TEngineSlideList slides = engine.LoadedSlides();
            ASSERT_FALSE(slides.empty());
            auto* slide = dynamic_cast<TOrbSlide*>(slides.front()->Scene());
            ASSERT_NE(slide, nullptr);
            TOrbVideo* video = FindVideo(*slide);
            ASSERT_NE(video, nullptr);
            ASSERT_EQ(video->FailureCode(), 0);
            EXPECT_TRUE(video->HeldExact()) << engine.CurrentTime();
            EXPECT_EQ(video->HeldFrame(), video->WantedFrame()) << engine.CurrentTime();
            const auto captured = engine.Drawer()->CaptureToBitmap();
            ASSERT_TRUE(captured);
            EXPECT_EQ(ScreenNumber(*captured), video->WantedFrame()) << engine.CurrentTime();
            ++checked;
        }
        EXPECT_EQ(checked, int(std::size(steps)));
    }
    // Gone with the engine: drawing in real time never waits.
    EXPECT_FALSE(VideoFramesExact());
}

}  // namespace
}  // namespace orb
