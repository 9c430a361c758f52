#include "OrbLib2/OrbViewer/qlOrbSlideLoader2.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "EngineTestSupport.h"
#include "OrbLib2/OrbViewer/qlOrbSlideWindow.h"
#include "WaitSupport.h"

namespace orb {
namespace {

struct TLoaderFixture {
    explicit TLoaderFixture(const std::string& text, int32_t screenWidth = 1920,
                            int32_t screenHeight = 1080) {
        source = std::make_unique<TOrbSource>(ql::MakeRef<ql::TRefObj>(), test::DocumentOf(text),
                                              u"/opt/show");
        accessor = std::make_unique<TFileAccessor>(ql::MakeRef<test::TNoFiles>());
        loader = std::make_unique<TOrbSlideLoader>(*source, 3, CacheSlideWindows(), accessor.get(),
                                                   screenWidth, screenHeight);
    }
    std::unique_ptr<TOrbSource> source;
    std::unique_ptr<TFileAccessor> accessor;
    std::unique_ptr<TOrbSlideLoader> loader;
};

std::string Show(const std::string& main) {
    return test::SolidShow(3, 1000, "stop", "[Main]\n" + main);
}

TEST(SlideLoader, FullScreen_KeepsTheScreenSize) {
    TLoaderFixture f(Show("projectname=Holiday\n"));
    EXPECT_EQ(f.loader->WindowMode(), 0);
    EXPECT_EQ(f.loader->FrameWidth(), 1920);
    EXPECT_EQ(f.loader->FrameHeight(), 1080);
    EXPECT_EQ(f.loader->ShowName(), u"Holiday");
}

TEST(SlideLoader, OwnedSource_GoesWithTheLoader) {
    auto source = std::make_unique<TOrbSource>(
        ql::MakeRef<ql::TRefObj>(), test::DocumentOf(Show("projectname=Holiday\n")), u"/opt/show");
    const TOrbSource* const address = source.get();
    TFileAccessor accessor(ql::MakeRef<test::TNoFiles>());
    auto loader = std::make_unique<TOrbSlideLoader>(std::move(source), 3, CacheSlideWindows(),
                                                    &accessor, 64, 48);
    EXPECT_EQ(&loader->Source(), address);
    EXPECT_EQ(loader->ShowName(), u"Holiday");
    // The leak check sees the source freed with the loader.
    loader.reset();
    EXPECT_THROW(
        TOrbSlideLoader(std::unique_ptr<TOrbSource>(), 3, CacheSlideWindows(), &accessor, 64, 48),
        ql::EAssertionFailed);
}

TEST(SlideLoader, FramedWindow_TakesItsCaptionAndDesignSize) {
    TLoaderFixture f(
        Show("opt_scr_full=0\nopt_withoutborder=0\nopt_scr_caption=My show\n"
             "opt_scr_width=800\nopt_scr_height=600\n"));
    EXPECT_EQ(f.loader->WindowMode(), 1);
    EXPECT_TRUE(f.loader->Framed());
    EXPECT_EQ(f.loader->Caption(), u"My show");
    EXPECT_EQ(f.loader->FrameWidth(), 800);
    EXPECT_EQ(f.loader->FrameHeight(), 600);
}

TEST(SlideLoader, Option3_IsSizedLikeAWindowWithoutFrame) {
    TLoaderFixture f(Show("opt_scr_full=3\nopt_scr_width=1024\nopt_scr_height=768\n"));
    EXPECT_EQ(f.loader->WindowMode(), 2);
    EXPECT_EQ(f.loader->FrameWidth(), 1024);
    EXPECT_EQ(f.loader->FrameHeight(), 768);
    EXPECT_EQ(f.loader->Caption(), u"OrbShow");
}

TEST(SlideLoader, HugeWindowSizes_AreBounded) {
    TLoaderFixture f(Show("opt_scr_full=0\nopt_scr_width=2000000000\nopt_scr_height=-5\n"));
    EXPECT_EQ(f.loader->FrameWidth(), 16384);
    EXPECT_EQ(f.loader->FrameHeight(), 10);
    f.loader->SetFrameSize(3, 3);
    EXPECT_EQ(f.loader->FrameWidth(), 10);
}

TEST(SlideLoader, CacheStep_BuildsOneSlidePerStepAndPostsEachChange) {
    TLoaderFixture f(test::SolidShow(3, 1000, "stop"), 64, 48);
    ql::TThreadEventList engine;
    int lists = 0;
    size_t last = 0;
    engine.SetHandler([&](ql::TMessageItem& item) {
        ASSERT_EQ(item.Code(), 101);
        ++lists;
        last = size_t(item.PayloadAs<TSlideData>()->Count());
    });
    f.loader->SetDelivery(&engine, 101, TDeliveryMode::Post);
    f.loader->SetFrameSize(64, 48);
    f.loader->SetFitMode(false);
    f.loader->SetCurrentTime(500);
    // Slides 0, 1, 2 around 500 ms (the pre-show slide has ended).
    EXPECT_TRUE(f.loader->CacheStep());
    EXPECT_TRUE(f.loader->CacheStep());
    EXPECT_TRUE(f.loader->CacheStep());
    EXPECT_FALSE(f.loader->CacheStep());
    engine.Process();
    EXPECT_EQ(lists, 3);
    EXPECT_EQ(last, 3u);
    const TEngineSlideList slides = f.loader->Window().Slides();
    ASSERT_EQ(slides.size(), 3u);
    EXPECT_EQ(slides[0]->Index(), 0);
    EXPECT_EQ(slides[2]->Index(), 2);
}

TEST(SlideLoader, Thread_SendsSlideListsUntilStopped) {
    TLoaderFixture f(test::SolidShow(4, 1000, "stop"), 64, 48);
    ql::TThreadEventList engine;
    int32_t count = 0;
    engine.SetHandler(
        [&](ql::TMessageItem& item) { count = item.PayloadAs<TSlideData>()->Count(); });
    f.loader->SetDelivery(&engine, 101, TDeliveryMode::Send);
    f.loader->SetFrameSize(64, 48);
    f.loader->SetFitMode(false);
    f.loader->SetCurrentTime(1500);
    ASSERT_TRUE(f.loader->StartThread());
    // Each look serves the sends that arrived meanwhile.
    const auto serve = [&] {
        engine.WaitForMessages(10);
        engine.Process();
    };
    EXPECT_TRUE(ql::test::WaitUntil([&] {
        serve();
        return count >= 3;
    }));
    EXPECT_EQ(count, 3);
    // The loader may wait in a send: stopping it while the list is served.
    f.loader->Terminate();
    EXPECT_TRUE(ql::test::WaitUntil([&] {
        serve();
        return !f.loader->Active();
    }));
    f.loader->Stop();
}

// A window whose first steps throw, as a step over a show file cut on
// disk does, and which builds one slide after.
class TFailingWindow : public TSlideWindow {
public:
    explicit TFailingWindow(std::atomic<int>& steps) : m_steps(steps) {}
    bool Step(double) override {
        const int step = ++m_steps;
        if (step <= 2) throw ql::EStreamReadError("Insufficient Source Size");
        return step == 3;
    }
    TEngineSlideList Slides() const override { return {}; }
    int32_t Depth() const override { return 3; }
    void Clear() override {}

private:
    std::atomic<int>& m_steps;
};

TEST(SlideLoader, StepsThatThrow_LeaveTheLoaderRunning) {
    for (const bool threaded : {false, true}) {
        SCOPED_TRACE(threaded);
        std::atomic<int> steps{0};
        TOrbSource source(ql::MakeRef<ql::TRefObj>(),
                          test::DocumentOf(test::SolidShow(2, 1000, "stop")), u"/opt/show");
        TOrbSlideLoader loader(
            source, 3,
            [&](TOrbSource&, TFileAccessor*, TTiming&, int32_t) {
                return std::make_unique<TFailingWindow>(steps);
            },
            nullptr, 64, 48);
        if (threaded) {
            ASSERT_TRUE(loader.StartThread());
            EXPECT_TRUE(ql::test::WaitUntil([&] { return steps.load() > 3; }));
            EXPECT_TRUE(loader.Active());
            loader.Stop();
        } else {
            EXPECT_FALSE(loader.CacheStep());
            EXPECT_FALSE(loader.CacheStep());
            EXPECT_TRUE(loader.CacheStep());
        }
    }
}

TEST(SlideData, MoreThanThreeSlides_IsAnAssertion) {
    TEngineSlideList four;
    TLoaderFixture f(test::SolidShow(4, 1000, "stop"), 64, 48);
    f.loader->SetFrameSize(64, 48);
    f.loader->SetFitMode(false);
    while (f.loader->CacheStep()) {
    }
    four = f.loader->Window().Slides();
    four.push_back(four.front());
    EXPECT_THROW(TSlideData{four}, ql::EAssertionFailed);
}

}  // namespace
}  // namespace orb
