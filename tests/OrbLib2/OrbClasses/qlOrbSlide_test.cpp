#include "OrbLib2/OrbClasses/qlOrbSlide.h"

#include <gtest/gtest.h>

#include <limits>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

// A clickable kind with a mouse look, as buttons and texts have, and a plain
// one; both 400 x 300.
class TLookObject : public TOrbObject {
public:
    TLookObject(TOrbObject* parent, const std::u16string& guid, bool usesLook)
        : TOrbObject(parent, guid), m_usesLook(usesLook) {
        SetSize(400, 300);
        SetFitMode(fmNone);
    }
    void SetMouseLook(TMouseLook look) override {
        if (look != Look) ++Changes;
        Look = look;
    }
    bool UsesMouseLook() const override { return m_usesLook; }
    TMouseLook Look = TMouseLook::Normal;
    int32_t Changes = 0;  // each change redraws the slide

private:
    bool m_usesLook;
};

void RegisterLookObjects() {
    static const bool registered = [] {
        RegisterObjectFactory([](const std::u16string& type, TOrbObject* parent,
                                 const std::u16string& guid) -> std::unique_ptr<TOrbObject> {
            if (type == u"lookbutton") return std::make_unique<TLookObject>(parent, guid, true);
            if (type == u"lookplain") return std::make_unique<TLookObject>(parent, guid, false);
            return nullptr;
        });
        return true;
    }();
    (void)registered;
}

class SlideTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterLookObjects();
        slide.SetSize(1920, 1080);
        slide.SetScreenCentre({960, 540});
        slide.SetOwnCamera({960, 540, -1080});
        slide.SetTimes(1000, 6000, 400, 800);
    }

    void Load(const std::string& text) {
        document = std::make_unique<ql::TIniFile>();
        std::vector<std::u16string> lines{u"[slide]"};
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(ql::FromUtf8(line));
        ASSERT_TRUE(document->LoadFromLines(lines));
        slide.LoadChildren(*document->FindSection(u"slide"));
        slide.SetTime(true, 2000);
    }

    TLookObject& Look(int index) { return static_cast<TLookObject&>(slide.Child(index)); }

    TOrbSlide slide{nullptr, 0};
    std::unique_ptr<ql::TIniFile> document;
};

TEST_F(SlideTest, AnchorsComeFromTheSlideTimes) {
    EXPECT_DOUBLE_EQ(slide.AnchorTime(kAnchorSlideBegin), 1000);
    EXPECT_DOUBLE_EQ(slide.AnchorTime(kAnchorPrevEffectEnd), 1400);
    EXPECT_DOUBLE_EQ(slide.AnchorTime(kAnchorNextEffectBegin), 6000);
    EXPECT_DOUBLE_EQ(slide.AnchorTime(kAnchorSlideEnd), 6800);
    EXPECT_FLOAT_EQ(slide.SlideOpacity(), 100);
}

TEST_F(SlideTest, BadTimesAreReplaced) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    slide.SetTimes(nan, 500, -5, std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(slide.BeginTime(), 0);
    EXPECT_DOUBLE_EQ(slide.EndTime(), 500);
    EXPECT_DOUBLE_EQ(slide.EffectTime(), 0);
    EXPECT_DOUBLE_EQ(slide.NextEffectTime(), 0);
}

TEST_F(SlideTest, KeyPointsFollowNewAnchorTimes) {
    Load(
        "object a : LookPlain\n  object k : KeyPoint\n    Origin=SlideEnd\n    Time=-100\n  "
        "end\nend\n");
    const TKeyPoint& point = slide.Child(0).KeyPoints().KeyPoint(0);
    EXPECT_DOUBLE_EQ(point.AbsoluteTime(), 6700);
    slide.SetTimes(2000, 9000, 0, 0);
    EXPECT_DOUBLE_EQ(point.AbsoluteTime(), 8900);
}

TEST_F(SlideTest, SlideSectionGivesTheNameAndObjectsButNoObjectKeys) {
    document = std::make_unique<ql::TIniFile>();
    ASSERT_TRUE(document->LoadFromLines(
        {u"[Intro]", u"Action=exit", u"FitMode=Cover", u"object a : LookPlain", u"end"}));
    slide.LoadFromDocument(*document->FindSection(u"intro"), false);
    EXPECT_EQ(slide.Name(), u"Intro");
    EXPECT_EQ(slide.Action(), u"");
    EXPECT_EQ(slide.FitMode(), fmPlaceInto);
    EXPECT_EQ(slide.ChildCount(), 1);
}

TEST_F(SlideTest, LocalTimeCountsFromTheBegin) {
    slide.SetTime(true, 2500);
    EXPECT_DOUBLE_EQ(slide.LocalTime(), 1500);
}

TEST_F(SlideTest, DepthFactorComesFromTheCamera) {
    slide.SetTime(true, 2000);
    EXPECT_FLOAT_EQ(slide.SlideDepthFactor(), 0.5f);
    slide.SetOwnCamera({960, 540, -2160});
    slide.SetTime(true, 2000);
    EXPECT_FLOAT_EQ(slide.SlideDepthFactor(), 1.0f);
    slide.SetOwnCamera({960, 540, 100});
    slide.SetTime(true, 2000);
    EXPECT_FLOAT_EQ(slide.SlideDepthFactor(), 0.5f);
}

TEST_F(SlideTest, PressAndReleaseGiveTheAction) {
    Load("object a : LookPlain\n  Action=gotoslide(3)\nend\n");
    TOrbObject* found = nullptr;
    EXPECT_TRUE(
        slide.MouseEvent(smPress, kMouseLeftButton, kMouseLeftButton, 960, 540, true, &found)
            .IsNone());
    EXPECT_EQ(found, &slide.Child(0));
    EXPECT_TRUE(slide.Child(0).Pressed());
    const TOrbActionInfo action =
        slide.MouseEvent(smRelease, kMouseLeftButton, kMouseNoButton, 960, 540, true);
    EXPECT_EQ(action, TOrbActionInfo(acGotoSlide, 3));
    EXPECT_FALSE(slide.Child(0).Pressed());
}

TEST_F(SlideTest, ReleaseWithoutPressGivesNothing) {
    Load("object a : LookPlain\n  Action=exit\nend\n");
    EXPECT_TRUE(
        slide.MouseEvent(smRelease, kMouseLeftButton, kMouseNoButton, 960, 540, true).IsNone());
}

TEST_F(SlideTest, DisabledActionsAndOtherButtonsGiveNothing) {
    Load("object a : LookButton\n  Action=exit\nend\n");
    EXPECT_TRUE(
        slide.MouseEvent(smPress, kMouseLeftButton, kMouseLeftButton, 960, 540, false).IsNone());
    EXPECT_FALSE(slide.Child(0).Pressed());
    EXPECT_TRUE(slide.MouseEvent(smPress, 2, 2, 960, 540, true).IsNone());
    EXPECT_FALSE(slide.Child(0).Pressed());
    slide.MouseEvent(smPress, 2, kMouseNoButton, 960, 540, true);
    EXPECT_FALSE(slide.Child(0).Pressed());
}

TEST_F(SlideTest, ButtonsShowHoverAndClickLooks) {
    Load(
        "object a : LookButton\n  Action=nextslide\nend\nobject b : LookButton\n  Action=bogus\n"
        "  object k : KeyPoint\n    Position=80,0\n  end\nend\n");
    slide.MouseEvent(smMove, kMouseNoButton, kMouseNoButton, 960, 540, true);
    EXPECT_EQ(Look(0).Look, TMouseLook::Hover);
    // The hover test runs every frame: a pointer that stays changes nothing.
    slide.MouseEvent(smMove, kMouseNoButton, kMouseNoButton, 960, 540, true);
    EXPECT_EQ(Look(0).Changes, 1);
    slide.MouseEvent(smMove, kMouseNoButton, kMouseLeftButton, 960, 540, true);
    EXPECT_EQ(Look(0).Look, TMouseLook::Click);
    slide.MouseEvent(smPress, kMouseLeftButton, kMouseLeftButton, 960, 540, true);
    EXPECT_EQ(Look(0).Look, TMouseLook::Click);
    EXPECT_EQ(slide.MouseEvent(smRelease, kMouseLeftButton, kMouseNoButton, 960, 540, true),
              TOrbActionInfo(acNextSlide));
    EXPECT_EQ(Look(0).Look, TMouseLook::Hover);
    // Moving away puts it back; a button without a valid action keeps its look.
    slide.MouseEvent(smMove, kMouseNoButton, kMouseNoButton, 1728, 540, true);
    EXPECT_EQ(Look(0).Look, TMouseLook::Normal);
    EXPECT_EQ(Look(1).Look, TMouseLook::Normal);
}

TEST_F(SlideTest, TransparentObjectsAreClickedThrough) {
    Load(
        "object a : LookPlain\n  Action=exit\nend\nobject b : LookPlain\n  TranspForClick=1\n  "
        "Action=help\nend\n");
    slide.MouseEvent(smPress, kMouseLeftButton, kMouseLeftButton, 960, 540, true);
    EXPECT_EQ(slide.MouseEvent(smRelease, kMouseLeftButton, kMouseNoButton, 960, 540, true),
              TOrbActionInfo(acExit));
}

class TRecordingPainter : public TSlideBackgroundPainter {
public:
    explicit TRecordingPainter(int& calls) : m_calls(calls) {}
    void Draw(TDeviceDrawer&, const TOrbSlide& slide) override {
        ++m_calls;
        Width = slide.Width();
    }
    int Width = 0;

private:
    int& m_calls;
};

TEST_F(SlideTest, DialogOpacityIsClampedAndIsTheSlideOpacity) {
    TOrbDialog dialog(nullptr, 0);
    EXPECT_FLOAT_EQ(dialog.Opacity(), 0);
    dialog.SetOpacity(150);
    EXPECT_FLOAT_EQ(dialog.SlideOpacity(), 100);
    dialog.SetOpacity(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FLOAT_EQ(dialog.Opacity(), 0);
    dialog.SetOpacity(50);
    TOrbObject& child = dialog.AddChild(std::make_unique<TOrbObject>(&dialog, u""));
    child.SetTime(false, 0);
    EXPECT_FLOAT_EQ(child.EffectiveOpacity(), 50);
}

// Draws nothing; counts what the objects ask for.
class TNullDrawer : public TDeviceDrawer {
public:
    bool BeginFrame() override { return true; }
    void EndFrame() override {}
    TDxResult Present() override { return TDxResult::Ok; }
    ql::TRect GetDeviceRect() const override { return {0, 0, 1920, 1080}; }
    void Init(const TOutputDevice&) override {}
    void Close() override {}
    void PrepareImage(TDrawPicture&, const TImageDrawParams&) override {}
    void ReleaseImage(TDrawPicture&) override {}
    void SetOutputSize(int32_t, int32_t) override {}
    void Clear(uint32_t, bool) override {}
    void ClearRect(uint32_t, const ql::TRect&) override {}
    bool DrawScene(TDrawScene& scene) override {
        scene.Draw(*this);
        return true;
    }
    bool DrawTransition(TDrawScene*, TDrawScene*, bool, TTransitionFilter*) override {
        return false;
    }
    void DrawImage(TDrawPicture&, TPointF, const TImageDrawParams&, TPointF, TPointF,
                   TPointF) override {}
    void DrawBox(TPointF, TPointF, const TBoxParams&, TPointF, TPointF) override { ++Boxes; }
    void DrawFrameBorder(TPointF, TPointF, float, const TBoxParams&, TPointF, TPointF,
                         bool) override {}
    void DrawRect(TPointF, TPointF, uint32_t) override {}
    void DrawBox3D(TPointF, const TBoxParams&, const TScenePlane&, const TCamera3D&) override {
        ++Boxes;
    }
    bool BeginPostEffect() override { return false; }
    void EndPostEffect(uint8_t, int32_t) override {}
    bool CaptureFrame(ql::TBitmap&) override { return false; }
    std::unique_ptr<ql::TBitmap> CaptureToBitmap() override { return nullptr; }
    void SetViewport(const ql::TRect&, ql::TPoint) override {}
    int Boxes = 0;
};

// Draws itself as a box through the drawer, when shown.
class TBoxObject : public TOrbObject {
public:
    using TOrbObject::TOrbObject;
    void Draw(TDeviceDrawer& drawer) override {
        if (IsShown())
            drawer.DrawBox3D({float(Width()), float(Height())}, TBoxParams(), Plane(), Camera());
        TOrbObject::Draw(drawer);
    }
    void Prepare(TDeviceDrawer&) override {
        if (Fail) throw std::runtime_error("no picture");
        ++Prepared;
    }
    bool Fail = false;
    int Prepared = 0;
};

TEST_F(SlideTest, DrawPaintsTheBackgroundThenTheShownObjects) {
    int calls = 0;
    auto painter = std::make_unique<TRecordingPainter>(calls);
    TRecordingPainter& recorder = *painter;
    slide.SetBackgroundPainter(std::move(painter));
    auto& shown =
        static_cast<TBoxObject&>(slide.AddChild(std::make_unique<TBoxObject>(&slide, u"")));
    shown.SetSize(100, 100);
    auto& edgeOn =
        static_cast<TBoxObject&>(slide.AddChild(std::make_unique<TBoxObject>(&slide, u"")));
    edgeOn.SetSize(100, 100);
    edgeOn.KeyPoints().AddKeyPoint(kAnchorSlideBegin, 0).SetAngleY(float(std::numbers::pi / 2));
    slide.SetTime(true, 2000);

    TNullDrawer drawer;
    EXPECT_TRUE(drawer.DrawScene(slide));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(recorder.Width, 1920);
    EXPECT_EQ(drawer.Boxes, 1);
}

TEST_F(SlideTest, OneFailingPrepareDoesNotStopTheOthers) {
    auto& failing =
        static_cast<TBoxObject&>(slide.AddChild(std::make_unique<TBoxObject>(&slide, u"")));
    failing.Fail = true;
    auto& child =
        static_cast<TBoxObject&>(failing.AddChild(std::make_unique<TBoxObject>(&failing, u"")));
    auto& other =
        static_cast<TBoxObject&>(slide.AddChild(std::make_unique<TBoxObject>(&slide, u"")));
    other.SetChanged(true);
    TNullDrawer drawer;
    slide.AttachDrawer(drawer);
    EXPECT_EQ(child.Prepared, 1);
    EXPECT_EQ(other.Prepared, 1);
    EXPECT_FALSE(other.Changed());
}

TEST_F(SlideTest, BackgroundAndFilterStartEmpty) {
    EXPECT_EQ(slide.Background().Kind, bkSolid);
    EXPECT_FLOAT_EQ(slide.Background().SizePercent, 100);
    EXPECT_EQ(slide.BackgroundPainter(), nullptr);
    EXPECT_FALSE(slide.Filter().HasEffect());
}

}  // namespace
}  // namespace orb
