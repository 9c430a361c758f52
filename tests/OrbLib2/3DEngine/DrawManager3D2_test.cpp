#include "OrbLib2/3DEngine/DrawManager3D2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <span>
#include <stdexcept>
#include <thread>
#include <vector>

#include "GlTestSupport.h"
#include "LogCapture.h"
#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlYuvToRgb.h"
#include "QlLib/Platform/qlGlApi.h"
#include "QlLib/qlLog.h"

namespace orb {
namespace {

class TFuncScene : public TDrawScene {
public:
    explicit TFuncScene(std::function<void(TDeviceDrawer&)> draw, bool post = false)
        : m_draw(std::move(draw)), m_post(post) {}
    void Draw(TDeviceDrawer& drawer) override { m_draw(drawer); }
    bool WantsPostEffect() const override { return m_post; }
    void DrawFinished() override { ++Finished; }
    int32_t Finished = 0;

private:
    std::function<void(TDeviceDrawer&)> m_draw;
    bool m_post;
};

std::unique_ptr<ql::TBitmap> Pattern(int32_t width, int32_t height) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfARGB32());
    for (int32_t y = 0; y < height; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
        for (int32_t x = 0; x < width; ++x)
            row[x] = 0xFF000000u | uint32_t(x * 7 & 255) << 16 | uint32_t(y * 5 & 255) << 8 |
                     uint32_t((x ^ y) & 255);
    }
    return bitmap;
}

struct TRig {
    TSoftDevice device{{96, 64}};
    T3DDrawer drawer{device};
    TDrawPicture picture;
    TRig() {
        drawer.Init({96, 64, false});
        drawer.SetCaptureMode(true);
        picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(Pattern(300, 200));
    }
    ~TRig() { drawer.ReleaseImage(picture); }

    // A slide: an opaque background, a rotated picture, a gradient box.
    void DrawSlide(TDeviceDrawer& d) {
        TBoxParams background;
        background.colour1 = 0xFF203040u;
        d.DrawBox({0, 0}, {96, 64}, background, {1, 0}, {0, 1});
        TImageDrawParams image;
        image.filter = TFilter::Bilinear;
        d.DrawImage(picture, {10, 4}, image, {0.18f, 0.05f}, {-0.05f, 0.18f}, {0, 0});
        TBoxParams box;
        box.fillType = 1;
        box.colour1 = 0xC0FF0000u;
        box.colour2 = 0x4000FF00u;
        box.opacity = 80;
        box.edgeFlags = efLeft | efRight;
        d.DrawBox({50, 30}, {30, 20}, box, {1, 0}, {0, 1});
    }

    std::vector<uint8_t> Frame() {
        std::unique_ptr<ql::TBitmap> bitmap = drawer.CaptureToBitmap();
        EXPECT_NE(bitmap, nullptr);
        std::vector<uint8_t> bytes;
        if (!bitmap) return bytes;
        for (int32_t y = 0; y < bitmap->Height(); ++y)
            bytes.insert(bytes.end(), bitmap->Row(y), bitmap->Row(y) + bitmap->Width() * 3);
        return bytes;
    }

    uint32_t Pixel(int32_t x, int32_t y) {
        ql::TDirectBitmap bitmap(96, 64, ql::PfARGB32());
        EXPECT_TRUE(drawer.CaptureFrame(bitmap));
        return reinterpret_cast<const uint32_t*>(bitmap.Row(y))[x];
    }
};

TEST(DrawScene, Frame_DrawsSceneAndPresentsOnceOutsideCapture) {
    TRig rig;
    rig.drawer.SetCaptureMode(false);
    TFuncScene scene([&](TDeviceDrawer& d) { rig.DrawSlide(d); });
    std::vector<int32_t> stages;
    rig.drawer.SetFrameHook([&](int32_t stage) { stages.push_back(stage); });
    EXPECT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(rig.device.PresentCount(), 1);
    EXPECT_EQ(scene.Finished, 1);
    EXPECT_EQ(stages, (std::vector<int32_t>{0, 1, 2, 3}));
}

TEST(DrawScene, Nested_DrawsContentWithoutBeginningOrPresentingAFrame) {
    TRig rig;
    rig.drawer.SetCaptureMode(false);
    int32_t innerDraws = 0;
    TFuncScene inner([&](TDeviceDrawer& d) {
        ++innerDraws;
        d.DrawRect({0, 0}, {10, 10}, 0xFFFFFFFFu);
    });
    bool nestedResult = false;
    TFuncScene outer([&](TDeviceDrawer& d) { nestedResult = rig.drawer.DrawScene(inner); });
    int32_t begins = 0;
    rig.drawer.SetFrameHook([&](int32_t stage) { begins += stage == 0; });
    EXPECT_TRUE(rig.drawer.DrawScene(outer));
    EXPECT_TRUE(nestedResult);
    EXPECT_EQ(innerDraws, 1);
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(rig.device.PresentCount(), 1);
}

TEST(DrawScene, WhileDrawing_OtherThreadsCannotTakeTheDrawLock) {
    TRig rig;
    bool lockedElsewhere = true;
    TFuncScene scene([&](TDeviceDrawer&) {
        std::thread other([&] {
            lockedElsewhere = rig.drawer.DrawLock().try_lock();
            if (lockedElsewhere) rig.drawer.DrawLock().unlock();
        });
        other.join();
    });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_FALSE(lockedElsewhere);
    std::thread after([&] {
        lockedElsewhere = rig.drawer.DrawLock().try_lock();
        if (lockedElsewhere) rig.drawer.DrawLock().unlock();
    });
    after.join();
    EXPECT_TRUE(lockedElsewhere);
}

TEST(DrawScene, ExceptionInScene_StillTellsTheSceneDrawingIsOver) {
    TRig rig;
    TFuncScene scene([](TDeviceDrawer&) { throw std::runtime_error("scene failed"); });
    EXPECT_THROW(rig.drawer.DrawScene(scene), std::runtime_error);
    EXPECT_EQ(scene.Finished, 1);
    // The lock and the nesting are free again: the next frame draws.
    TFuncScene next([](TDeviceDrawer& d) { d.DrawRect({0, 0}, {4, 4}, 0xFF00FF00u); });
    EXPECT_TRUE(rig.drawer.DrawScene(next));
    EXPECT_EQ(rig.Pixel(1, 1), 0xFF00FF00u);
}

TEST(DeviceLoss, MidShow_NextDrawnFrameIsIdenticalToTheOneBefore) {
    TRig rig;
    int32_t readyCount = 0, lostCount = 0;
    rig.drawer.SetReadyNotification([&] { ++readyCount; });
    rig.drawer.SetLostNotification([&] { ++lostCount; });
    TFuncScene scene([&](TDeviceDrawer& d) { rig.DrawSlide(d); });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    const std::vector<uint8_t> before = rig.Frame();
    rig.device.SimulateLoss(2);
    // Frames while the device cannot come back draw nothing and say so.
    EXPECT_FALSE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(lostCount, 1);
    EXPECT_FALSE(rig.drawer.Ready());
    EXPECT_FALSE(rig.drawer.DrawScene(scene));
    EXPECT_FALSE(rig.drawer.DrawScene(scene));
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(readyCount, 1);
    EXPECT_TRUE(rig.drawer.Ready());
    EXPECT_EQ(rig.Frame(), before);
}

TEST(DeviceLoss, LostAndReady_AreLoggedInOrder) {
    ql::test::TCapturedLog log;
    TRig rig;
    TFuncScene scene([](TDeviceDrawer& d) { d.DrawRect({0, 0}, {4, 4}, 0xFFFFFFFFu); });
    rig.device.SimulateLoss();
    EXPECT_FALSE(rig.drawer.DrawScene(scene));
    EXPECT_TRUE(rig.drawer.DrawScene(scene));
    std::vector<std::u16string> wanted = {u"T3DDrawer.Init",
                                          u"T3DDrawer.RendererReadyEvent",
                                          u"T3DRenderer9: DEVICE LOST!",
                                          u"T3DDrawer.RendererLostEvent",
                                          u"T3DScreen.BeginScene, Renderer=nil",
                                          u"T3DDrawer.RendererReadyEvent"};
    size_t next = 0;
    for (const std::u16string& line : log.Lines())
        if (next < wanted.size() && line.find(wanted[next]) != std::u16string::npos) ++next;
    EXPECT_EQ(next, wanted.size());
}

TEST(DeviceLoss, SwitchToFullScreen_ReleasesResourcesAndRedrawsTheSameFrame) {
    TRig rig;
    TFuncScene scene([&](TDeviceDrawer& d) { rig.DrawSlide(d); });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    const std::vector<uint8_t> before = rig.Frame();
    rig.drawer.Screen().SetOutput({96, 64, true});
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_TRUE(rig.drawer.Screen().Output().fullScreen);
    EXPECT_EQ(rig.Frame(), before);
}

TEST(DeviceLoss, WindowResize_ResizesTheDeviceRectangle) {
    TRig rig;
    TFuncScene scene([&](TDeviceDrawer& d) { d.DrawRect({0, 0}, {200, 200}, 0xFF0000FFu); });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    rig.drawer.Screen().SetOutput({120, 40, false});
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(rig.drawer.GetDeviceRect(), (ql::TRect{0, 0, 120, 40}));
    EXPECT_EQ(rig.drawer.Effecter().Current()->Width(), 120);
    std::unique_ptr<ql::TBitmap> frame = rig.drawer.CaptureToBitmap();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Width(), 120);
}

TEST(RenderToTexture, SlideThroughTexture_MatchesSlideDrawnDirectly) {
    TRig rig;
    TFuncScene slide([&](TDeviceDrawer& d) { rig.DrawSlide(d); });
    ASSERT_TRUE(rig.drawer.DrawScene(slide));
    const std::vector<uint8_t> direct = rig.Frame();
    TFuncScene viaTexture([&](TDeviceDrawer&) {
        TRenderTargetTexture* texture = rig.drawer.RenderSlideToTexture(slide);
        ASSERT_NE(texture, nullptr);
        rig.drawer.Clear(0xFF000000u, false);
        rig.drawer.DrawOutputTexture(*texture);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(viaTexture));
    EXPECT_EQ(rig.Frame(), direct);
}

TEST(RenderToTexture, EdgeExtend_RepeatsLastColumnAndRowOutsideTheSlide) {
    TRig rig;
    rig.drawer.SetOutputSize(90, 40);
    TFuncScene slide([&](TDeviceDrawer& d) {
        TBoxParams gradient;
        gradient.fillType = 0;
        gradient.colour1 = 0xFFFF0000u;
        gradient.colour2 = 0xFF0000FFu;
        d.DrawBox({0, 0}, {90, 40}, gradient, {1, 0}, {0, 1});
    });
    ql::TDirectBitmap texels(92, 42, ql::PfARGB32());
    TFuncScene frame([&](TDeviceDrawer&) {
        TRenderTargetTexture* texture = rig.drawer.RenderSlideToTexture(slide, true);
        ASSERT_NE(texture, nullptr);
        ASSERT_EQ(rig.drawer.Screen().PushRenderTarget(texture, {0, 0}), TDxResult::Ok);
        EXPECT_EQ(rig.device.ReadPixels({0, 0, 92, 42}, texels), TDxResult::Ok);
        rig.drawer.Screen().PopRenderTarget();
    });
    ASSERT_TRUE(rig.drawer.DrawScene(frame));
    auto at = [&](int32_t x, int32_t y) {
        return reinterpret_cast<const uint32_t*>(texels.Row(y))[x];
    };
    for (int32_t y = 0; y < 40; y += 13) EXPECT_EQ(at(90, y), at(89, y)) << y;
    for (int32_t x = 0; x <= 90; x += 15) EXPECT_EQ(at(x, 40), at(x, 39)) << x;
    EXPECT_EQ(at(90, 40), at(89, 39));
    // Beyond the copied ring the clear colour (transparent) stays.
    EXPECT_EQ(at(91, 10) >> 24, 0u);
    EXPECT_EQ(at(10, 41) >> 24, 0u);
}

TEST(Transition, SkipBeforeStartAndAfterEnd_DrawOneSlideOnly) {
    struct TFixedFilter : TTransitionFilter {
        double t, d;
        TFixedFilter(double time, double duration) : t(time), d(duration) {}
        double Time() const override { return t; }
        double Duration() const override { return d; }
    };
    TRig rig;
    TFuncScene oldSlide([](TDeviceDrawer& d) { d.DrawRect({0, 0}, {96, 64}, 0xFFFF0000u); });
    TFuncScene newSlide([](TDeviceDrawer& d) { d.DrawRect({0, 0}, {96, 64}, 0xFF0000FFu); });
    TFixedFilter running(500, 1000), before(-1, 1000), after(1000, 1000),
        broken(std::nan(""), 1000);
    EXPECT_TRUE(rig.drawer.DrawTransition(&oldSlide, &newSlide, true, &running));
    EXPECT_EQ(rig.Pixel(5, 5), 0xFFFF0000u);
    EXPECT_TRUE(rig.drawer.DrawTransition(&oldSlide, &newSlide, false, nullptr));
    EXPECT_EQ(rig.Pixel(5, 5), 0xFFFF0000u);
    for (TFixedFilter* filter : {&before, &after, &broken}) {
        rig.drawer.DrawTransition(&oldSlide, nullptr, true, nullptr);
        EXPECT_TRUE(rig.drawer.DrawTransition(&oldSlide, &newSlide, false, filter));
        EXPECT_EQ(rig.Pixel(5, 5), 0xFF0000FFu);
    }
}

TEST(Transition, Running_LetsTheEffectDrawOrFallsBackToTheNewSlide) {
    struct TCrossFade : TTransitionFilter {
        bool draws;
        explicit TCrossFade(bool d) : draws(d) {}
        double Time() const override { return 500; }
        double Duration() const override { return 1000; }
        bool DrawEffect(TDeviceDrawer& drawer, TDrawScene* oldSlide,
                        TDrawScene* newSlide) override {
            if (!draws) return false;
            auto& d3d = static_cast<T3DDrawer&>(drawer);
            drawer.DrawScene(*oldSlide);
            TRenderTargetTexture* texture = d3d.RenderSlideToTexture(*newSlide);
            if (texture) d3d.DrawOutputTexture(*texture, 128);
            return true;
        }
    };
    TRig rig;
    TFuncScene oldSlide([](TDeviceDrawer& d) { d.DrawRect({0, 0}, {96, 64}, 0xFFFF0000u); });
    TFuncScene newSlide([](TDeviceDrawer& d) { d.DrawRect({0, 0}, {96, 64}, 0xFF0000FFu); });
    TCrossFade fade(true), none(false);
    EXPECT_TRUE(rig.drawer.DrawTransition(&oldSlide, &newSlide, false, &fade));
    const uint32_t mixed = rig.Pixel(5, 5);
    EXPECT_NEAR(int32_t(mixed >> 16 & 255), 127, 1);
    EXPECT_NEAR(int32_t(mixed & 255), 128, 1);
    EXPECT_TRUE(rig.drawer.DrawTransition(&oldSlide, &newSlide, false, &none));
    EXPECT_EQ(rig.Pixel(5, 5), 0xFF0000FFu);
}

TEST(Output, FixedOutputSize_IsCentredAndDrawingStartsAtItsCorner) {
    TRig rig;
    rig.drawer.SetOutputSize(40, 21);
    TFuncScene scene([](TDeviceDrawer& d) {
        d.Clear(0xFF000000u, false);
        d.DrawRect({0, 0}, {1, 1}, 0xFFFFFFFFu);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    // (96 - 40) / 2 = 28; (64 - 21) / 2 = 21.5 rounds to 22.
    EXPECT_EQ(rig.drawer.OutputRect(), (ql::TRect{28, 22, 68, 43}));
    EXPECT_EQ(rig.Pixel(28, 22), 0xFFFFFFFFu);
    EXPECT_EQ(rig.Pixel(27, 22), 0u);
}

TEST(Output, Viewport_ScalesTheDeviceAreaIntoTheDestination) {
    TRig rig;
    rig.drawer.SetViewport({48, 32, 96, 64}, {96, 64});
    TFuncScene scene([](TDeviceDrawer& d) {
        d.Clear(0xFFFFFFFFu, false);
        d.DrawRect({0, 0}, {96, 62}, 0xFF00FF00u);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(rig.Pixel(48, 32), 0xFF00FF00u);
    EXPECT_EQ(rig.Pixel(95, 62), 0xFF00FF00u);
    // The clear covers the scaled output only.
    EXPECT_EQ(rig.Pixel(95, 63), 0xFFFFFFFFu);
    EXPECT_EQ(rig.Pixel(47, 31), 0u);
}

TEST(Boxes, ZeroOpacityOrSize_DrawsNothing) {
    TRig rig;
    TFuncScene scene([](TDeviceDrawer& d) {
        TBoxParams box;
        box.colour1 = 0xFFFFFFFFu;
        box.opacity = 0;
        d.DrawBox({0, 0}, {10, 10}, box, {1, 0}, {0, 1});
        box.opacity = 100;
        d.DrawBox({0, 0}, {0, 10}, box, {1, 0}, {0, 1});
    });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(rig.Pixel(5, 5), 0u);
}

TEST(Boxes, FrameBorder_DrawsFourStripsAndLeavesTheInside) {
    TRig rig;
    TFuncScene scene([](TDeviceDrawer& d) {
        TBoxParams colour;
        colour.colour1 = 0xFFFFFFFFu;
        d.DrawFrameBorder({10, 10}, {40, 30}, 4, colour, {1, 0}, {0, 1}, false);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    for (auto [x, y] : {std::pair{10, 10}, {49, 13}, {10, 39}, {49, 39}, {12, 25}, {47, 25}})
        EXPECT_EQ(rig.Pixel(x, y), 0xFFFFFFFFu) << x << "," << y;
    EXPECT_EQ(rig.Pixel(14, 14), 0u);
    EXPECT_EQ(rig.Pixel(45, 35), 0u);
    EXPECT_EQ(rig.Pixel(9, 9), 0u);
    EXPECT_EQ(rig.Pixel(50, 40), 0u);
}

class TMaskTexture : public TCustomTexture {
public:
    TMaskTexture(T3DScreen& screen, int32_t width, int32_t height)
        : TCustomTexture(screen, TTextureUsage::Managed) {
        SetSize(width, height);
    }
    bool FillTexture(int32_t level, ql::TBitmap& surface) override {
        // Opaque on the left half, transparent on the right.
        surface.FillRect(surface.Bounds(), 0x00FFFFFFu);
        surface.FillRect({0, 0, Width() / 2, surface.Height()}, 0xFFFFFFFFu);
        return true;
    }
};

// A 32 x 32 picture its store makes again whenever the picture budget let it
// go, counting how often it made it.
class TRemadePicture : public ql::TSysBitmapStore {
public:
    explicit TRemadePicture(uint32_t tint)
        : ql::TSysBitmapStore({u"remade", 32, 32, ql::PfARGB32()}, nullptr, nullptr), m_tint(tint) {
        SetLevelsRemade();
    }
    int Makings = 0;

protected:
    ql::TLevelResult DecodeLevel(int32_t level, std::unique_ptr<ql::TBitmap>& out) override {
        if (level != 0) return ql::TLevelResult::Done;
        ++Makings;
        out = Pattern(32, 32);
        for (int32_t y = 0; y < 32; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(out->Row(y));
            for (int32_t x = 0; x < 32; ++x) row[x] ^= m_tint;
        }
        return ql::TLevelResult::Done;
    }

private:
    uint32_t m_tint;
};

// Four pictures under a budget with room for three and a half: the textures
// drawn longest ago let their pictures go first, those drawn in the frame
// being drawn never do (a picture that does not fit beside them is left
// out), and a picture let go is made again when it is next drawn, to the
// same frame as before.
TEST(TextureBudget, ShortOfPictureMemory_TexturesDrawnLongestAgoGoFirstAndComeBackTheSame) {
    constexpr int64_t kPictureBytes = 32 * 32 * 4;
    const int64_t before = ql::PictureMemoryHeld();
    ql::TPictureMemoryBudgetScope budget(before + 3 * kPictureBytes + kPictureBytes / 2);
    TRig rig;
    TDrawPicture pictures[4];
    TRemadePicture* stores[4];
    const uint32_t tints[4] = {0x000000u, 0x00FF0000u, 0x0000FF00u, 0x000000FFu};
    for (int i = 0; i < 4; ++i) {
        auto store = ql::MakeRef<TRemadePicture>(tints[i]);
        stores[i] = store.Get();
        pictures[i].store = std::move(store);
    }
    auto frame = [&](std::vector<int> shown) {
        TFuncScene scene([&](TDeviceDrawer& d) {
            TBoxParams background;
            background.colour1 = 0xFF203040u;
            d.DrawBox({0, 0}, {96, 64}, background, {1, 0}, {0, 1});
            for (int i : shown)
                d.DrawImage(pictures[i], {float(4 + 22 * i), 16}, TImageDrawParams(), {0.6f, 0},
                            {0, 0.6f}, {0, 0});
        });
        EXPECT_TRUE(rig.drawer.DrawScene(scene));
        return rig.Frame();
    };
    auto held = [&](int i) { return pictures[i].textures.Count() > 0; };

    struct TStep {
        const char* name;
        std::vector<int> shown;
        bool held[4];
        int makings[4];
        int sameFrameAs;  // the step whose frame this one repeats; -1 for none
    };
    const TStep steps[] = {
        {"three fit", {0, 1, 2}, {true, true, true, false}, {1, 1, 1, 0}, -1},
        // The fourth goes in by letting go of the two drawn a frame earlier;
        // the first, drawn again in this frame, stays.
        {"the longest unused go", {0, 3}, {true, false, false, true}, {1, 1, 1, 1}, -1},
        // The second comes back, made again; the fourth, now drawn longest
        // ago, makes the room; the frame is the first one again.
        {"a released picture is made again",
         {0, 1, 2},
         {true, true, true, false},
         {1, 2, -1, 1},
         0},
        // Nothing drawn in this frame is let go for the fourth, which does
        // not fit beside the three and is left out.
        {"what is on screen stays", {0, 1, 2, 3}, {true, true, true, false}, {1, 2, -1, -1}, 0},
    };
    std::vector<std::vector<uint8_t>> frames;
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.name);
        frames.push_back(frame(step.shown));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(held(i), step.held[i]) << "picture " << i;
            // -1: made once or twice, depending on which level the budget let go.
            if (step.makings[i] >= 0) {
                EXPECT_EQ(stores[i]->Makings, step.makings[i]) << "picture " << i;
            }
        }
        if (step.sameFrameAs >= 0) {
            EXPECT_EQ(frames.back(), frames[size_t(step.sameFrameAs)]);
        }
        EXPECT_LE(ql::PictureMemoryHeld() - before, 3 * kPictureBytes + kPictureBytes / 2);
    }
    EXPECT_NE(frames[1], frames[0]);
    for (TDrawPicture& picture : pictures) rig.drawer.ReleaseImage(picture);
}

TEST(Masks, MaskedImage_ShowsPictureOnlyWhereMaskIsOpaque) {
    TRig rig;
    TMaskTexture mask(rig.drawer.Screen(), 64, 64);
    TImageDrawParams params;
    params.source = {0, 0, 60, 40};
    params.filter = TFilter::Point;
    TFuncScene plain([&](TDeviceDrawer& d) {
        d.DrawImage(rig.picture, {0, 0}, params, {1, 0}, {0, 1}, {0, 0});
    });
    ASSERT_TRUE(rig.drawer.DrawScene(plain));
    const uint32_t left = rig.Pixel(10, 10);
    TFuncScene masked([&](TDeviceDrawer& d) {
        d.Clear(0, false);
        rig.drawer.DrawMaskedImage(rig.picture, {0, 0}, params, {1, 0}, {0, 1}, mask);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(masked));
    EXPECT_EQ(rig.Pixel(10, 10), left);
    EXPECT_EQ(rig.Pixel(50, 10), 0u);
    EXPECT_EQ(rig.Pixel(70, 10), 0u);
}

TEST(Masks, MaskedScene_ShowsContentOnlyWhereMaskIsOpaque) {
    TRig rig;
    TMaskTexture mask(rig.drawer.Screen(), 96, 64);
    TFuncScene scene([&](TDeviceDrawer& d) {
        rig.drawer.DrawMaskedScene([&] { d.DrawRect({0, 0}, {96, 64}, 0xFF00FF00u); }, mask, 255);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(rig.Pixel(10, 10), 0xFF00FF00u);
    EXPECT_EQ(rig.Pixel(80, 10), 0u);
}

// A mask picture as the slide host makes them: one byte of coverage per
// pixel, value on the columns [left, right) and 0 elsewhere.
TDrawPicture CoveragePicture(int32_t width, int32_t height, uint8_t value, int32_t left,
                             int32_t right) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(width, height, ql::FindPixelFormat("A8"));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) bitmap->Row(y)[x] = x >= left && x < right ? value : 0;
    TDrawPicture picture;
    picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap));
    return picture;
}

// Green content through a mask of 120 on the left half and one of 100 over
// everything: 120 where they overlap (the larger, not the sum), 100 on the right.
void DrawGreenThroughTwoMasks(TDeviceDrawer& d, TDrawPicture& left, TDrawPicture& whole) {
    d.DrawMaskedScene(
        [&] {
            d.DrawRect({0, 0}, {96, 64}, 0xFF00FF00u);
        },
        [&] {
            TImageDrawParams params;
            params.filter = TFilter::Point;
            d.DrawImage(left, {0, 0}, params, {1, 0}, {0, 1}, {0, 0});
            d.DrawImage(whole, {0, 0}, params, {1, 0}, {0, 1}, {0, 0});
        });
}

TEST(Masks, MaskedSceneWithMasks_ShowsTheContentByTheLargestMaskValue) {
    TRig rig;
    TDrawPicture left = CoveragePicture(96, 64, 120, 0, 48),
                 whole = CoveragePicture(96, 64, 100, 0, 96);
    TFuncScene scene([&](TDeviceDrawer& d) {
        d.Clear(0xFF000000u, false);
        DrawGreenThroughTwoMasks(d, left, whole);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(rig.Pixel(20, 30), 0xFF007800u);
    EXPECT_EQ(rig.Pixel(70, 30), 0xFF006400u);
    // Drawing went on as before: blending is the frame's own again.
    EXPECT_FALSE(rig.drawer.Screen().BlendOverride().has_value());
    rig.drawer.ReleaseImage(left);
    rig.drawer.ReleaseImage(whole);
}

// A slide rendered into a transition's target keeps its masked content: the
// masked scene has targets of its own, not the transition's.
TEST(Masks, MaskedSceneInsideASlideRenderedForATransition_StillShows) {
    TRig rig;
    TDrawPicture left = CoveragePicture(96, 64, 120, 0, 48),
                 whole = CoveragePicture(96, 64, 100, 0, 96);
    TFuncScene slide([&](TDeviceDrawer& d) { DrawGreenThroughTwoMasks(d, left, whole); });
    TFuncScene frame([&](TDeviceDrawer& d) {
        d.Clear(0xFF000000u, false);
        TRenderTargetTexture* target = rig.drawer.RenderSlideToTexture(slide);
        ASSERT_NE(target, nullptr);
        rig.drawer.DrawOutputTexture(*target);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(frame));
    EXPECT_EQ(rig.Pixel(20, 30), 0xFF007800u);
    EXPECT_EQ(rig.Pixel(70, 30), 0xFF006400u);
    rig.drawer.ReleaseImage(left);
    rig.drawer.ReleaseImage(whole);
}

TEST(Masks, MaskedScenesNestedTooDeep_DrawNothingAndPutTheTargetsBack) {
    TRig rig;
    TDrawPicture whole = CoveragePicture(96, 64, 255, 0, 96);
    std::function<void(TDeviceDrawer&, int32_t)> nest = [&](TDeviceDrawer& d, int32_t levels) {
        d.DrawMaskedScene(
            [&] {
                if (levels > 1)
                    nest(d, levels - 1);
                else
                    d.DrawRect({0, 0}, {96, 64}, 0xFFFFFFFFu);
            },
            [&] {
                d.DrawImage(whole, {0, 0}, TImageDrawParams(), {1, 0}, {0, 1}, {0, 0});
            });
    };
    for (const int32_t levels : {T3DDrawer::kMaxMaskNesting, T3DDrawer::kMaxMaskNesting + 1}) {
        size_t depthInside = 0;
        TFuncScene scene([&](TDeviceDrawer& d) {
            d.Clear(0xFF000000u, false);
            depthInside = rig.drawer.Screen().RenderTargetDepth();
            nest(d, levels);
            EXPECT_EQ(rig.drawer.Screen().RenderTargetDepth(), depthInside);
        });
        ASSERT_TRUE(rig.drawer.DrawScene(scene));
        EXPECT_EQ(rig.Pixel(40, 30),
                  levels <= T3DDrawer::kMaxMaskNesting ? 0xFFFFFFFFu : 0xFF000000u)
            << levels;
    }
    rig.drawer.ReleaseImage(whole);
}

// A software device whose masked draws fail while armed, as a backend that
// runs out of memory half-way through a frame would.
class TFailingDevice : public TSoftDevice {
public:
    using TSoftDevice::TSoftDevice;
    TDxResult DrawTriangles(const TDrawState& state, std::span<const TVertex> vertices) override {
        if (FailMaskedDraws && state.pipeline == TPipeline::TextureMask)
            throw std::runtime_error("draw failed");
        return TSoftDevice::DrawTriangles(state, vertices);
    }
    bool FailMaskedDraws = false;
};

bool SameViewport(const TViewport& a, const TViewport& b) {
    return a.offsetX == b.offsetX && a.offsetY == b.offsetY && a.scaleX == b.scaleX &&
           a.scaleY == b.scaleY;
}

TEST(Masks, FailingMaskedDraw_PutsViewportTargetsAndNestingBack) {
    TFailingDevice device{{96, 64}};
    T3DDrawer drawer{device};
    drawer.Init({96, 64, false});
    drawer.SetCaptureMode(true);
    // A centred output gives the frame a viewport other than the identity
    // that the masked draw's second pass uses.
    drawer.SetOutputSize(80, 48);
    TMaskTexture mask(drawer.Screen(), 96, 64);
    TFuncScene content([](TDeviceDrawer& d) { d.DrawRect({0, 0}, {10, 10}, 0xFF00FF00u); });
    const auto maskedDraw = [&] {
        drawer.DrawMaskedScene([&] { drawer.DrawScene(content); }, mask, 255);
    };

    struct TState {
        TViewport viewport;
        size_t targets = 0;
        TRenderTargetTexture* effecterTarget = nullptr;
    };
    const auto state = [&] {
        return TState{drawer.Screen().Viewport(), drawer.Screen().RenderTargetDepth(),
                      drawer.Effecter().Current()};
    };
    const auto expectSame = [](const TState& a, const TState& b) {
        EXPECT_TRUE(SameViewport(a.viewport, b.viewport));
        EXPECT_EQ(a.targets, b.targets);
        EXPECT_EQ(a.effecterTarget, b.effecterTarget);
    };

    // Caught inside the frame: the scene goes on with the frame's state.
    TState before, after;
    TFuncScene tolerant([&](TDeviceDrawer&) {
        before = state();
        device.FailMaskedDraws = true;
        EXPECT_THROW(maskedDraw(), std::runtime_error);
        device.FailMaskedDraws = false;
        after = state();
    });
    ASSERT_TRUE(drawer.DrawScene(tolerant));
    EXPECT_EQ(before.viewport.offsetX, 8.0f);
    expectSame(before, after);

    // Out of the frame: the drawer is as a finished frame leaves it, and the
    // next frame begins and presents as usual.
    TFuncScene plain([](TDeviceDrawer&) {});
    ASSERT_TRUE(drawer.DrawScene(plain));
    const TState between = state();
    TFuncScene failing([&](TDeviceDrawer&) {
        device.FailMaskedDraws = true;
        maskedDraw();
    });
    EXPECT_THROW(drawer.DrawScene(failing), std::runtime_error);
    device.FailMaskedDraws = false;
    expectSame(between, state());
    int32_t begins = 0;
    drawer.SetFrameHook([&](int32_t stage) { begins += stage == 0; });
    TFuncScene masked([&](TDeviceDrawer&) { maskedDraw(); });
    EXPECT_TRUE(drawer.DrawScene(masked));
    EXPECT_EQ(begins, 1);
}

TEST(PostEffect, ZeroStrength_LeavesTheFrameAsDrawn) {
    TRig rig;
    ASSERT_TRUE(rig.drawer.HasPostEffectTarget());
    TFuncScene slide([&](TDeviceDrawer& d) { rig.DrawSlide(d); });
    ASSERT_TRUE(rig.drawer.DrawScene(slide));
    const std::vector<uint8_t> direct = rig.Frame();
    TFuncScene filtered([&](TDeviceDrawer& d) {
        EXPECT_TRUE(rig.drawer.BeginPostEffect());
        rig.DrawSlide(d);
        rig.drawer.EndPostEffect(0, 100);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(filtered));
    EXPECT_EQ(rig.Frame(), direct);
    TFuncScene wanted([&](TDeviceDrawer& d) { rig.DrawSlide(d); }, true);
    ASSERT_TRUE(rig.drawer.DrawScene(wanted));
    EXPECT_EQ(rig.Frame(), direct);
}

TEST(Video, PlanesAtHalfSizeWithShaders_AndFrameDrawsAfterLoss) {
    TRig rig;
    T3DYUV* surface = rig.drawer.CreateVideoSurface(641, 481);
    ASSERT_NE(surface, nullptr);
    ASSERT_TRUE(surface->HasPlanes());
    EXPECT_EQ(surface->Plane(1)->Width(), 320);
    EXPECT_EQ(surface->Plane(2)->Height(), 240);
    EXPECT_EQ(rig.drawer.CreateVideoSurface(0, 10), nullptr);

    T3DYUV* small = rig.drawer.CreateVideoSurface(8, 8);
    std::vector<uint8_t> y(64, 235), uv(16, 128);
    small->SetFrame(y.data(), 8, uv.data(), 4, uv.data(), 4);
    TFuncScene scene([&](TDeviceDrawer&) {
        rig.drawer.DrawVideoSurface(*small, {0, 0}, {1, 0}, {0, 1}, 255);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(rig.Pixel(3, 3), 0xFFFFFFFFu);
    rig.device.SimulateLoss();
    EXPECT_FALSE(rig.drawer.DrawScene(scene));
    // The planes keep their bytes: the frame comes back without a new one.
    EXPECT_TRUE(small->HasFrame());
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(rig.Pixel(3, 3), 0xFFFFFFFFu);
}

TEST(Video, WithoutShaders_OneGreyTextureShowsTheLuma) {
    TRig rig;
    // The software device always has shaders: the surface is made as the
    // drawer makes it for level 0.
    T3DYUV surface(rig.drawer.Screen(), 8, 8, false);
    EXPECT_FALSE(surface.HasPlanes());
    ASSERT_NE(surface.Gray(), nullptr);
    std::vector<uint8_t> y(64, 0x40);
    surface.SetFrame(y.data(), 8, nullptr, 0, nullptr, 0);
    TFuncScene scene([&](TDeviceDrawer&) {
        rig.drawer.DrawVideoSurface(surface, {0, 0}, {1, 0}, {0, 1}, 255);
    });
    ASSERT_TRUE(rig.drawer.DrawScene(scene));
    EXPECT_EQ(rig.Pixel(3, 3), 0xFF404040u);
}

// A video frame of odd size (its chroma halved toward zero) in which every
// plane runs through its levels, and the same frame converted to a picture
// the way a video object converts it for drawing as a picture.
struct TVideoFrame {
    int32_t width, height;
    std::vector<uint8_t> y, u, v;
    int32_t ChromaWidth() const { return width / 2; }
    int32_t ChromaHeight() const { return height / 2; }

    TVideoFrame(int32_t w, int32_t h) : width(w), height(h) {
        y.resize(size_t(w) * size_t(h));
        u.resize(size_t(ChromaWidth()) * size_t(ChromaHeight()));
        v.resize(u.size());
        for (int32_t r = 0; r < h; ++r)
            for (int32_t c = 0; c < w; ++c)
                y[size_t(r) * size_t(w) + size_t(c)] = uint8_t(16 + (c * 5 + r * 3) % 220);
        for (int32_t r = 0; r < ChromaHeight(); ++r)
            for (int32_t c = 0; c < ChromaWidth(); ++c) {
                u[size_t(r) * size_t(ChromaWidth()) + size_t(c)] = uint8_t(16 + (c * 9 + r) % 225);
                v[size_t(r) * size_t(ChromaWidth()) + size_t(c)] = uint8_t(240 - (c + r * 7) % 225);
            }
    }

    std::unique_ptr<ql::TBitmap> Picture(ql::TYuvMatrix matrix) const {
        auto bitmap = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfARGB32());
        ql::TYuvToRgbConverter converter(width);
        for (int32_t r = 0; r < height; ++r) {
            const size_t chroma =
                size_t(std::min(r / 2, ChromaHeight() - 1)) * size_t(ChromaWidth());
            converter.ConvertRow(y.data() + size_t(r) * size_t(width), u.data() + chroma,
                                 v.data() + chroma, ChromaWidth(), matrix, bitmap->Row(r));
        }
        return bitmap;
    }
};

// The frame drawn 1:1 at (2, 1) on a black 96 x 64 device, through a video
// surface or as a picture; lose the device first with loseFirst.
std::vector<uint8_t> DrawVideo(TRenderDevice& device, const TVideoFrame& frame,
                               ql::TYuvMatrix matrix, bool surface, bool loseFirst = false) {
    T3DDrawer drawer(device);
    drawer.Init({96, 64, false});
    drawer.SetCaptureMode(true);
    TDrawPicture picture;
    picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(frame.Picture(matrix));
    T3DYUV* video = drawer.CreateVideoSurface(frame.width, frame.height);
    EXPECT_NE(video, nullptr);
    if (!video) return {};
    video->SetFrame(frame.y.data(), frame.width, frame.u.data(), frame.ChromaWidth(),
                    frame.v.data(), frame.ChromaWidth(), matrix == ql::TYuvMatrix::Bt709);
    TFuncScene scene([&](TDeviceDrawer& d) {
        d.Clear(0xFF000000u, false);
        if (surface) {
            drawer.DrawVideoSurface(*video, {2, 1}, {1, 0}, {0, 1}, 255);
        } else {
            TImageDrawParams params;
            params.filter = TFilter::Bilinear;
            d.DrawImage(picture, {2, 1}, params, {1, 0}, {0, 1}, {0, 0});
        }
    });
    EXPECT_TRUE(drawer.DrawScene(scene));
    if (loseFirst) {
        if (auto* soft = dynamic_cast<TSoftDevice*>(&device)) soft->SimulateLoss();
        EXPECT_FALSE(drawer.DrawScene(scene));
        EXPECT_TRUE(drawer.DrawScene(scene));
    }
    std::unique_ptr<ql::TBitmap> captured = drawer.CaptureToBitmap();
    drawer.ReleaseImage(picture);
    EXPECT_NE(captured, nullptr);
    if (!captured) return {};
    std::vector<uint8_t> bytes;
    for (int32_t r = 0; r < captured->Height(); ++r)
        bytes.insert(bytes.end(), captured->Row(r), captured->Row(r) + 3 * captured->Width());
    return bytes;
}

int32_t LargestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return 256;
    int32_t largest = 0;
    for (size_t i = 0; i < a.size(); ++i) largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

TEST(Video, SurfaceOnTheSoftwareDevice_GivesThePixelsOfTheConvertedPicture) {
    const TVideoFrame frame(91, 61);
    struct TCase {
        const char* Name;
        ql::TYuvMatrix Matrix;
        bool LoseFirst;
    };
    const TCase cases[] = {{"BT.601", ql::TYuvMatrix::Bt601, false},
                           {"BT.709", ql::TYuvMatrix::Bt709, false},
                           {"BT.709 after a device loss", ql::TYuvMatrix::Bt709, true}};
    for (const TCase& c : cases) {
        TSoftDevice pictureDevice({96, 64}), surfaceDevice({96, 64});
        const std::vector<uint8_t> expected = DrawVideo(pictureDevice, frame, c.Matrix, false);
        const std::vector<uint8_t> drawn =
            DrawVideo(surfaceDevice, frame, c.Matrix, true, c.LoseFirst);
        ASSERT_FALSE(drawn.empty()) << c.Name;
        // Not black: the frame is there.
        EXPECT_GT(std::count_if(drawn.begin(), drawn.end(), [](uint8_t b) { return b > 40; }),
                  int64_t(drawn.size() / 4))
            << c.Name;
        EXPECT_LE(LargestDifference(expected, drawn), 1) << c.Name;
    }
    // The two matrices give different pictures.
    TSoftDevice a({96, 64}), b({96, 64});
    EXPECT_GT(LargestDifference(DrawVideo(a, frame, ql::TYuvMatrix::Bt601, true),
                                DrawVideo(b, frame, ql::TYuvMatrix::Bt709, true)),
              8);
}

TEST(Video, SurfaceOnOpenGL_AgreesWithTheSoftwareDevice) {
    std::string error;
    std::unique_ptr<TGlDevice> gl = test::HeadlessGlDevice(96, 64, error);
    if (!gl) GTEST_SKIP() << "no OpenGL 3.3 core context here: " << error;
    const TVideoFrame frame(91, 61);
    for (const ql::TYuvMatrix matrix : {ql::TYuvMatrix::Bt601, ql::TYuvMatrix::Bt709}) {
        TSoftDevice soft({96, 64});
        const std::vector<uint8_t> reference = DrawVideo(soft, frame, matrix, true);
        const std::vector<uint8_t> drawn = DrawVideo(*gl, frame, matrix, true);
        const double psnr = ql::test::Psnr(reference, drawn);
        std::printf("[ PSNR     ] video surface %s: %.2f dB, largest difference %d\n",
                    matrix == ql::TYuvMatrix::Bt709 ? "BT.709" : "BT.601", psnr,
                    LargestDifference(reference, drawn));
        EXPECT_GT(psnr, 40.0);
    }
}

TEST(Capture, OutsideCaptureMode_GivesNothing) {
    TRig rig;
    rig.drawer.SetCaptureMode(false);
    EXPECT_EQ(rig.drawer.CaptureToBitmap(), nullptr);
}

// ---- Perspective ----

// Red is twice the column and green twice the row: the texel that lands on
// a pixel can be read back from its colour.
std::unique_ptr<ql::TBitmap> CoordinatePicture(int32_t width, int32_t height) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfARGB32());
    for (int32_t y = 0; y < height; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
        for (int32_t x = 0; x < width; ++x)
            row[x] = 0xFF000080u | uint32_t(2 * x & 255) << 16 | uint32_t(2 * y & 255) << 8;
    }
    return bitmap;
}

constexpr int32_t k3DWidth = 200, k3DHeight = 150;

struct T3DRig {
    TSoftDevice device{{k3DWidth, k3DHeight}};
    T3DDrawer drawer{device};
    TDrawPicture picture;
    explicit T3DRig(std::unique_ptr<ql::TBitmap> bitmap = CoordinatePicture(100, 100)) {
        drawer.Init({k3DWidth, k3DHeight, false});
        drawer.SetCaptureMode(true);
        picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap));
    }
    ~T3DRig() { drawer.ReleaseImage(picture); }

    std::vector<uint32_t> Draw(const std::function<void(TDeviceDrawer&)>& draw) {
        TFuncScene scene([&](TDeviceDrawer& d) {
            d.Clear(0xFF000000u, false);
            draw(d);
        });
        EXPECT_TRUE(drawer.DrawScene(scene));
        ql::TDirectBitmap bitmap(k3DWidth, k3DHeight, ql::PfARGB32());
        EXPECT_TRUE(drawer.CaptureFrame(bitmap));
        std::vector<uint32_t> pixels(size_t(k3DWidth) * k3DHeight);
        for (int32_t y = 0; y < k3DHeight; ++y)
            std::memcpy(pixels.data() + size_t(y) * k3DWidth, bitmap.Row(y), size_t(k3DWidth) * 4);
        return pixels;
    }
};

uint32_t At(const std::vector<uint32_t>& frame, int32_t x, int32_t y) {
    return frame[size_t(y) * k3DWidth + x];
}

// The projection written out directly: (x cz - cx z) / (cz - z).
TPointF SeenAt(const TCamera3D& c, const TPoint3F& p) {
    return {(p.x * c.z - c.x * p.z) / (c.z - p.z), (p.y * c.z - c.y * p.z) / (c.z - p.z)};
}

// A plane turned by angle degrees about the vertical axis through its left edge.
TScenePlane TurnedPlane(float left, float top, float angle) {
    const float a = angle * std::numbers::pi_v<float> / 180.0f;
    TScenePlane plane;
    plane.origin = {left, top, 0};
    plane.axisX = {std::cos(a), 0, std::sin(a)};
    plane.axisY = {0, 1, 0};
    return plane;
}

TEST(Perspective, FlatPlane_DrawsExactlyLikeDrawImage) {
    T3DRig rig;
    TImageDrawParams params;
    TScenePlane plane;
    plane.origin = {30.25f, 12.5f, 0};
    plane.axisX = {0.9f, 0.3f, 0};
    plane.axisY = {-0.3f, 0.9f, 0};
    rig.drawer.SetOffset(3, -2);
    const auto flat = rig.Draw([&](TDeviceDrawer& d) {
        d.DrawImage(rig.picture, {30.25f, 12.5f}, params, {0.9f, 0.3f}, {-0.3f, 0.9f}, {0, 0});
    });
    const auto seen = rig.Draw([&](TDeviceDrawer& d) {
        d.DrawImage3D(rig.picture, params, plane, {100, 75, -300});
    });
    EXPECT_EQ(flat, seen);
    EXPECT_NE(At(seen, 70, 60), 0xFF000000u);
}

TEST(Perspective, TurnedPlane_PutsCornersWhereTheProjectionSays) {
    T3DRig rig;
    const TCamera3D camera{100, 75, -300};
    const TScenePlane plane = TurnedPlane(60, 25, 60);
    const auto frame =
        rig.Draw([&](TDeviceDrawer& d) { d.DrawImage3D(rig.picture, {}, plane, camera); });
    const TPointF corners[4] = {SeenAt(camera, plane.At(0, 0)), SeenAt(camera, plane.At(100, 0)),
                                SeenAt(camera, plane.At(100, 100)),
                                SeenAt(camera, plane.At(0, 100))};
    // Far side shorter than the near one: the plane really is seen in depth.
    EXPECT_LT(corners[2].y - corners[1].y, 85.0f);
    // Signed distance of a point inside the clockwise quad from each side.
    auto inside = [&](float x, float y) {
        float least = std::numeric_limits<float>::max();
        for (int32_t i = 0; i < 4; ++i) {
            const TPointF a = corners[i], b = corners[(i + 1) % 4];
            const float length = std::hypot(b.x - a.x, b.y - a.y);
            least = std::min(least, ((b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x)) / length);
        }
        return least;
    };
    float nearest[4] = {1e9f, 1e9f, 1e9f, 1e9f};
    int32_t drawn = 0;
    for (int32_t y = 0; y < k3DHeight; ++y)
        for (int32_t x = 0; x < k3DWidth; ++x) {
            if (At(frame, x, y) == 0xFF000000u) continue;
            ++drawn;
            const float cx = float(x) + 0.5f, cy = float(y) + 0.5f;
            EXPECT_GT(inside(cx, cy), -1.0f)
                << "pixel " << x << ", " << y << " outside the projected plane";
            for (int32_t i = 0; i < 4; ++i)
                nearest[i] = std::min(nearest[i], std::hypot(cx - corners[i].x, cy - corners[i].y));
        }
    EXPECT_GT(drawn, 3000);
    for (int32_t i = 0; i < 4; ++i) EXPECT_LT(nearest[i], 1.0f) << "corner " << i;
}

TEST(Perspective, TurnedPlane_MapsTexelsPerspectiveCorrectNotAffinely) {
    T3DRig rig;
    const TCamera3D camera{100, 75, -300};
    const TScenePlane plane = TurnedPlane(60, 25, 60);
    const auto frame =
        rig.Draw([&](TDeviceDrawer& d) { d.DrawImage3D(rig.picture, {}, plane, camera); });
    // The local column seen at screen x on a row: solving the projection for u.
    auto localAt = [&](float x) {
        return camera.z * (x - plane.origin.x) /
               (plane.axisX.x * camera.z - camera.x * plane.axisX.z + x * plane.axisX.z);
    };
    auto red = [&](int32_t x) { return int32_t(At(frame, x, 75) >> 16 & 255); };
    // The plane's middle column is where the projection puts it ...
    const TPointF middle = SeenAt(camera, plane.At(50, 50));
    const int32_t px = int32_t(middle.x);
    EXPECT_NEAR(red(px), 2 * (localAt(float(px) + 0.5f) - 0.5f), 3.0);
    EXPECT_NEAR(red(px), 100, 4);
    // ... and halfway across on the screen shows a texel well left of the
    // middle, where an affine mapping would show the middle one.
    const float halfway =
        (SeenAt(camera, plane.At(0, 50)).x + SeenAt(camera, plane.At(100, 50)).x) / 2;
    const int32_t hx = int32_t(halfway);
    EXPECT_NEAR(red(hx), 2 * (localAt(float(hx) + 0.5f) - 0.5f), 3.0);
    EXPECT_LT(red(hx), 100 - 8);
}

TEST(Perspective, PlaneReachingBehindTheViewer_DrawsOnlyItsFrontPart) {
    T3DRig rig(CoordinatePicture(100, 60));
    const TCamera3D camera{100, 75, -100};
    // The left quarter lies behind the viewer (z below -100); divided
    // naively it would show mirrored on the right of the screen.
    TScenePlane plane;
    plane.origin = {40, 45, -150};
    plane.axisX = {1, 0, 2};
    plane.axisY = {0, 1, 0};
    const auto frame =
        rig.Draw([&](TDeviceDrawer& d) { d.DrawImage3D(rig.picture, {}, plane, camera); });
    const float rightEdge = SeenAt(camera, plane.At(100, 30)).x;
    EXPECT_NEAR(rightEdge, 126.67f, 0.01f);
    EXPECT_NE(At(frame, 2, 75), 0xFF000000u);
    EXPECT_NE(At(frame, int32_t(rightEdge) - 2, 75), 0xFF000000u);
    for (int32_t x = int32_t(rightEdge) + 2; x < k3DWidth; ++x)
        for (int32_t y = 0; y < k3DHeight; ++y)
            ASSERT_EQ(At(frame, x, y), 0xFF000000u) << x << ", " << y;
    // Wholly behind: nothing at all.
    plane.origin.z = -400;
    plane.axisX.z = 0;
    const auto behind =
        rig.Draw([&](TDeviceDrawer& d) { d.DrawImage3D(rig.picture, {}, plane, camera); });
    EXPECT_EQ(behind, std::vector<uint32_t>(behind.size(), 0xFF000000u));
}

TEST(Perspective, TurnedBox_FillsTheProjectedQuadAndSmoothEdgesStayNearIt) {
    T3DRig rig;
    const TCamera3D camera{100, 75, -300};
    const TScenePlane plane = TurnedPlane(60, 25, 60);
    TBoxParams box;
    box.colour1 = 0xFFFFFFFFu;
    const auto picture =
        rig.Draw([&](TDeviceDrawer& d) { d.DrawImage3D(rig.picture, {}, plane, camera); });
    const auto solid = rig.Draw([&](TDeviceDrawer& d) {
        d.DrawBox3D({100, 100}, box, plane, camera);
    });
    box.edgeFlags = efLeft | efTop | efRight | efBottom;
    const auto smooth = rig.Draw([&](TDeviceDrawer& d) {
        d.DrawBox3D({100, 100}, box, plane, camera);
    });
    int32_t differ = 0, ring = 0;
    for (int32_t y = 0; y < k3DHeight; ++y)
        for (int32_t x = 0; x < k3DWidth; ++x) {
            const bool p = At(picture, x, y) != 0xFF000000u, b = At(solid, x, y) != 0xFF000000u;
            differ += p != b;
            if (At(smooth, x, y) != 0xFF000000u && !b) {
                ++ring;
                // A ring pixel touches the box.
                bool touches = false;
                for (int32_t dy = -1; dy <= 1; ++dy)
                    for (int32_t dx = -1; dx <= 1; ++dx)
                        touches |= At(solid, std::clamp(x + dx, 0, k3DWidth - 1),
                                      std::clamp(y + dy, 0, k3DHeight - 1)) != 0xFF000000u;
                EXPECT_TRUE(touches) << x << ", " << y;
            }
        }
    EXPECT_EQ(differ, 0);
    EXPECT_GT(ring, 100);
    EXPECT_EQ(At(solid, 80, 75), 0xFFFFFFFFu);
    EXPECT_EQ(At(smooth, 80, 75), 0xFFFFFFFFu);
}

// RGB bytes of the drawer's captured frame, row after row.
std::vector<uint8_t> CapturedBytes(T3DDrawer& drawer) {
    std::unique_ptr<ql::TBitmap> bitmap = drawer.CaptureToBitmap();
    std::vector<uint8_t> bytes;
    if (bitmap)
        for (int32_t y = 0; y < bitmap->Height(); ++y)
            bytes.insert(bytes.end(), bitmap->Row(y), bitmap->Row(y) + bitmap->Width() * 3);
    return bytes;
}

TEST(Perspective, OpenGL_AgreesWithTheSoftwareDevice) {
    std::string error;
    std::unique_ptr<TGlDevice> gl = test::HeadlessGlDevice(k3DWidth, k3DHeight, error);
    if (!gl) GTEST_SKIP() << "no OpenGL 3.3 core context here: " << error;
    const TCamera3D camera{100, 75, -300};
    const TScenePlane plane = TurnedPlane(60, 25, 60);
    auto draw = [&](TRenderDevice& device) {
        T3DDrawer drawer(device);
        drawer.Init({k3DWidth, k3DHeight, false});
        drawer.SetCaptureMode(true);
        TDrawPicture picture;
        picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(CoordinatePicture(100, 100));
        TFuncScene scene([&](TDeviceDrawer& d) {
            d.Clear(0xFF000000u, false);
            d.DrawImage3D(picture, {}, plane, camera);
            TBoxParams box;
            box.fillType = 4;
            box.colour1 = 0xFF20C040u;
            box.colour2 = 0x80FF0000u;
            d.DrawBox3D({60, 40}, box, TurnedPlane(5, 100, -40), camera);
        });
        EXPECT_TRUE(drawer.DrawScene(scene));
        std::vector<uint8_t> bytes = CapturedBytes(drawer);
        drawer.ReleaseImage(picture);
        return bytes;
    };
    TSoftDevice soft({k3DWidth, k3DHeight});
    const std::vector<uint8_t> a = draw(soft), b = draw(*gl);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    const double psnr = ql::test::Psnr(a, b);
    std::printf("[ PSNR     ] perspective: %.2f dB\n", psnr);
    EXPECT_GT(psnr, 40.0);
}

TEST(Masks, OpenGL_AgreesWithTheSoftwareDeviceOnGradientsAndMaskedScenes) {
    std::string error;
    std::unique_ptr<TGlDevice> gl = test::HeadlessGlDevice(96, 64, error);
    if (!gl) GTEST_SKIP() << "no OpenGL 3.3 core context here: " << error;
    auto draw = [&](TRenderDevice& device) {
        T3DDrawer drawer(device);
        drawer.Init({96, 64, false});
        drawer.SetCaptureMode(true);
        TDrawPicture left = CoveragePicture(96, 64, 120, 0, 48),
                     whole = CoveragePicture(96, 64, 100, 0, 96);
        TFuncScene scene([&](TDeviceDrawer& d) {
            d.Clear(0xFF000000u, false);
            for (const int32_t fill : {kHorizontalGradientFill, kVerticalGradientFill}) {
                TBoxParams box;
                box.fillType = fill;
                box.colour1 = 0xFFFF0000u;
                box.colour2 = 0x000000FFu;
                box.edgeFlags = efLeft | efTop | efRight | efBottom;
                d.DrawBox({fill == kHorizontalGradientFill ? 4.0f : 50.0f, 4}, {40, 24}, box,
                          {1, 0}, {0, 1});
            }
            DrawGreenThroughTwoMasks(d, left, whole);
        });
        EXPECT_TRUE(drawer.DrawScene(scene));
        std::vector<uint8_t> bytes = CapturedBytes(drawer);
        drawer.ReleaseImage(left);
        drawer.ReleaseImage(whole);
        return bytes;
    };
    TSoftDevice soft({96, 64});
    const std::vector<uint8_t> a = draw(soft), b = draw(*gl);
    ASSERT_EQ(a.size(), b.size());
    ASSERT_FALSE(a.empty());
    const double psnr = ql::test::Psnr(a, b);
    std::printf("[ PSNR     ] boxes and masks: %.2f dB\n", psnr);
    EXPECT_GT(psnr, 35.0);
}

// ---- Smooth picture edges ----

// One opaque colour all over: inside the picture every pixel is that colour,
// so only the edges and the seams between tiles can differ.
std::unique_ptr<ql::TBitmap> FlatPicture(int32_t width, int32_t height, uint32_t colour) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfARGB32());
    bitmap->FillRect(bitmap->Bounds(), colour);
    return bitmap;
}

constexpr int32_t kTurnWidth = 700, kTurnHeight = 500;

// Draws the picture turned by degrees about the frame's centre, every
// length times zoom, onto a dark frame of (kTurnWidth x kTurnHeight) x zoom.
std::vector<uint8_t> DrawTurned(TRenderDevice& device, std::unique_ptr<ql::TBitmap> bitmap,
                                float degrees, float zoom, uint8_t edgeFlags,
                                int32_t* tiles = nullptr) {
    T3DDrawer drawer(device);
    const int32_t w = int32_t(kTurnWidth * zoom), h = int32_t(kTurnHeight * zoom);
    drawer.Init({w, h, false});
    drawer.SetCaptureMode(true);
    TDrawPicture picture;
    const float pw = float(bitmap->Width()), ph = float(bitmap->Height());
    picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(std::move(bitmap));
    const float a = degrees * std::numbers::pi_v<float> / 180.0f;
    const TPointF axisX{std::cos(a) * zoom, std::sin(a) * zoom},
        axisY{-std::sin(a) * zoom, std::cos(a) * zoom};
    // The picture's centre on the frame's, a little off the pixel grid.
    const TPointF centre{float(w) / 2 + 0.3f * zoom, float(h) / 2 + 0.2f * zoom};
    const TPointF position{centre.x - (axisX.x * pw + axisY.x * ph) / 2,
                           centre.y - (axisX.y * pw + axisY.y * ph) / 2};
    TFuncScene scene([&](TDeviceDrawer& d) {
        d.Clear(0xFF102030u, false);
        TImageDrawParams params;
        params.edgeFlags = edgeFlags;
        d.DrawImage(picture, position, params, axisX, axisY, {0, 0});
    });
    EXPECT_TRUE(drawer.DrawScene(scene));
    if (tiles) {
        const TMultiTexture6* texture = picture.textures.Find(MultiTextureKey(0, 1, 1));
        *tiles = texture ? int32_t(texture->Tiles().size()) : 0;
    }
    std::vector<uint8_t> bytes = CapturedBytes(drawer);
    drawer.ReleaseImage(picture);
    return bytes;
}

// Each 4 x 4 block of a frame of RGB bytes averaged into one pixel.
std::vector<uint8_t> Shrink4(const std::vector<uint8_t>& big, int32_t width, int32_t height) {
    std::vector<uint8_t> small(size_t(width) * height * 3);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t c = 0; c < 3; ++c) {
                int32_t sum = 0;
                for (int32_t j = 0; j < 4; ++j)
                    for (int32_t i = 0; i < 4; ++i)
                        sum += big[(size_t(4 * y + j) * 4 * width + 4 * x + i) * 3 + c];
                small[(size_t(y) * width + x) * 3 + c] = uint8_t((sum + 8) / 16);
            }
    return small;
}

TEST(SmoothEdges, TurnedPictureOfSeveralTiles_MatchesA4x4SupersampledReferenceWithoutSeams) {
    // Orange on dark blue: red and green differ by 224 and 128 levels.
    constexpr uint32_t kOrange = 0xFFF0A020u, kDark = 0xFF102030u;
    TSoftDevice big({kTurnWidth * 4, kTurnHeight * 4});
    const std::vector<uint8_t> reference =
        Shrink4(DrawTurned(big, FlatPicture(600, 400, kOrange), 3, 4, 0), kTurnWidth, kTurnHeight);
    // Coverage errors against the reference, read from red and green: the
    // largest, the mean over the pixels the reference has neither wholly in
    // nor wholly out, and how many those are.
    struct TErrors {
        double worst = 0, mean = 0;
        int64_t edgePixels = 0;
    };
    auto compare = [&](const std::vector<uint8_t>& frame) {
        TErrors errors;
        double sum = 0;
        for (size_t i = 0; i < frame.size(); i += 3) {
            double e = 0;
            for (const int32_t c : {1, 2}) {
                const int32_t shift = 8 * c;
                const double range =
                    double((kOrange >> shift) & 255) - double((kDark >> shift) & 255);
                e = std::max(e,
                             std::abs(double(frame[i + c]) - reference[i + c]) / std::abs(range));
            }
            errors.worst = std::max(errors.worst, e);
            const bool out = reference[i + 2] == ((kDark >> 16) & 255),
                       in = reference[i + 2] == ((kOrange >> 16) & 255);
            if (!out && !in) sum += e, ++errors.edgePixels;
        }
        errors.mean = errors.edgePixels ? sum / double(errors.edgePixels) : 0;
        return errors;
    };
    TSoftDevice soft({kTurnWidth, kTurnHeight});
    int32_t tiles = 0;
    const TErrors smooth = compare(DrawTurned(soft, FlatPicture(600, 400, kOrange), 3, 1,
                                              efLeft | efTop | efRight | efBottom, &tiles));
    const TErrors sharp = compare(DrawTurned(soft, FlatPicture(600, 400, kOrange), 3, 1, 0));
    // Six tiles meet inside the picture: a seam would be far off the reference.
    EXPECT_EQ(tiles, 6);
    EXPECT_GT(smooth.edgePixels, 1000);
    std::printf(
        "[ EDGES    ] coverage error against 4x4 samples: smooth worst %.3f mean %.3f; sharp worst "
        "%.3f mean %.3f\n",
        smooth.worst, smooth.mean, sharp.worst, sharp.mean);
    // Sixteen samples tell coverage in steps of 1/16, and along a side
    // nearly parallel to the pixel grid in steps of 1/4: the exact area lies
    // within half of that, 1/8, and on average within one sample.
    EXPECT_LE(smooth.worst, 1.0 / 8 + 1.0 / 128);
    EXPECT_LE(smooth.mean, 1.0 / 16);
    // Stair steps miss by up to the whole pixel.
    EXPECT_GT(sharp.worst, 0.4);
    EXPECT_GT(sharp.mean, 4 * smooth.mean);
}

TEST(SmoothEdges, PictureOnThePixelGrid_DrawsAsWithoutSmoothEdges) {
    // Every pixel lies wholly inside or outside: smoothing changes nothing.
    for (const float degrees : {0.0f, 90.0f, 180.0f}) {
        TSoftDevice soft({kTurnWidth, kTurnHeight});
        T3DDrawer drawer(soft);
        drawer.Init({kTurnWidth, kTurnHeight, false});
        drawer.SetCaptureMode(true);
        TDrawPicture picture;
        picture.store = ql::MakeRef<ql::TWrapperBitmapStore>(Pattern(300, 280));
        const float a = degrees * std::numbers::pi_v<float> / 180.0f;
        const TPointF axisX{std::round(std::cos(a)), std::round(std::sin(a))},
            axisY{-std::round(std::sin(a)), std::round(std::cos(a))};
        auto draw = [&](uint8_t flags) {
            TFuncScene scene([&](TDeviceDrawer& d) {
                d.Clear(0xFF102030u, false);
                TImageDrawParams params;
                params.edgeFlags = flags;
                d.DrawImage(picture, {350, 250}, params, axisX, axisY, {0, 0});
            });
            EXPECT_TRUE(drawer.DrawScene(scene));
            return CapturedBytes(drawer);
        };
        EXPECT_EQ(draw(efLeft | efTop | efRight | efBottom), draw(0)) << degrees;
        drawer.ReleaseImage(picture);
    }
}

TEST(SmoothEdges, OpenGL_AgreesWithTheSoftwareDeviceOnATurnedPicture) {
    std::string error;
    std::unique_ptr<TGlDevice> gl = test::HeadlessGlDevice(kTurnWidth, kTurnHeight, error);
    if (!gl) GTEST_SKIP() << "no OpenGL 3.3 core context here: " << error;
    TSoftDevice soft({kTurnWidth, kTurnHeight});
    const uint8_t all = efLeft | efTop | efRight | efBottom;
    for (const float degrees : {3.0f, 30.0f}) {
        const std::vector<uint8_t> a = DrawTurned(soft, Pattern(600, 400), degrees, 1, all),
                                   b = DrawTurned(*gl, Pattern(600, 400), degrees, 1, all);
        ASSERT_EQ(a.size(), b.size());
        ASSERT_FALSE(a.empty());
        const double psnr = ql::test::Psnr(a, b);
        std::printf("[ PSNR     ] smooth edges at %.0f degrees: %.2f dB\n", degrees, psnr);
        EXPECT_GT(psnr, 35.0) << degrees;
    }
}

}  // namespace
}  // namespace orb
