#include "OrbLib2/OrbClasses/qlOrbObjects4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/qlOrbSlide.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

// An object kind for these tests: its size comes from "Width" and "Height".
class TSizedObject : public TOrbObject {
public:
    using TOrbObject::TOrbObject;
    void LoadFromDocument(const ql::TIniIdentList& section, bool reload) override {
        SetSize(section.ReadInteger(u"Width", 0), section.ReadInteger(u"Height", 0));
        TOrbObject::LoadFromDocument(section, reload);
    }
    int Marker = 0;  // survives a reload only when the object does
};

void RegisterSizedObjects() {
    static const bool registered = [] {
        RegisterObjectFactory([](const std::u16string& type, TOrbObject* parent,
                                 const std::u16string& guid) -> std::unique_ptr<TOrbObject> {
            if (type != u"sizedobject") return nullptr;
            return std::make_unique<TSizedObject>(parent, guid);
        });
        return true;
    }();
    (void)registered;
}

std::unique_ptr<ql::TIniFile> Document(const std::string& text) {
    auto document = std::make_unique<ql::TIniFile>();
    std::vector<std::u16string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(ql::FromUtf8(line));
    EXPECT_TRUE(document->LoadFromLines(lines));
    return document;
}

// A 1920 x 1080 slide shown 1:1 in the middle of a 1920 x 1080 screen, the
// viewer one screen height in front of it; on the clock from 1000 to 6000 ms.
class ObjectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSizedObjects();
        slide.SetSize(1920, 1080);
        slide.SetScreenCentre({960, 540});
        slide.SetOwnCamera({960, 540, -1080});
        slide.SetTimes(1000, 6000, 0, 0);
    }

    void Load(const std::string& text) {
        document = Document("[slide]\n" + text);
        slide.LoadChildren(*document->FindSection(u"slide"));
        slide.SetTime(true, 2000);
    }

    TOrbSlide slide{nullptr, 0};
    std::unique_ptr<ql::TIniFile> document;
};

std::string Object(const std::string& name, const std::string& keys, int width = 400,
                   int height = 300) {
    return "object " + name + " : SizedObject\n  Width=" + std::to_string(width) +
           "\n  Height=" + std::to_string(height) + "\n" + keys + "end\n";
}

TEST_F(ObjectsTest, NewObjectHasTheDocumentedDefaults) {
    TSizedObject object(nullptr, u"");
    EXPECT_EQ(object.FitMode(), fmPlaceInto);
    EXPECT_EQ(object.PosMode(), pmPercent);
    EXPECT_EQ(object.CenterMode(), pmPercent);
    EXPECT_FALSE(object.Shadow().Enabled);
    EXPECT_FLOAT_EQ(object.Shadow().Size, 16);
    EXPECT_FLOAT_EQ(object.Shadow().Opacity, 59);
    EXPECT_FLOAT_EQ(object.Shadow().Distance, 1.5f);
    EXPECT_DOUBLE_EQ(object.Shadow().Angle, 45);
    EXPECT_EQ(object.Shadow().SpreadIndex, 0);
    EXPECT_TRUE(object.TreeNode());
    EXPECT_FLOAT_EQ(object.KeyPoints().Current().ScaleX, 100);
}

TEST_F(ObjectsTest, CommonKeysAreReadAndBadOnesFallBack) {
    Load(Object("a",
                "  FitMode=cover\n  PosMode=Absolute\n  TranspForClick=1\n  ShadowEnable=1\n  "
                "ShadowColor=10, 20,300\n"
                "  ShadowSize=abc\n  HideMode=7\n  ChildInvis=1\n  Action=NextSlide\n  "
                "DeltaTime2=250\n") +
         Object("b", "  FitMode=Sideways\n  ShadowColor=1,2\n  HideMode=2\n"));
    ASSERT_EQ(slide.ChildCount(), 2);
    const TOrbObject& a = slide.Child(0);
    EXPECT_EQ(a.Name(), u"a");
    EXPECT_EQ(a.FitMode(), fmCover);
    EXPECT_EQ(a.PosMode(), pmAbsolute);
    EXPECT_TRUE(a.TranspForClick());
    EXPECT_TRUE(a.Shadow().Enabled);
    EXPECT_EQ(a.Shadow().Colour[0], 10);
    EXPECT_EQ(a.Shadow().Colour[1], 20);
    EXPECT_EQ(a.Shadow().Colour[2], 255);
    EXPECT_FLOAT_EQ(a.Shadow().Size, 16);
    EXPECT_EQ(a.HideMode(), 0);
    EXPECT_TRUE(a.ChildInvis());
    EXPECT_EQ(a.Action(), u"NextSlide");
    EXPECT_DOUBLE_EQ(a.DeltaTime2(), 250);
    const TOrbObject& b = slide.Child(1);
    EXPECT_EQ(b.FitMode(), fmPlaceInto);
    EXPECT_EQ(b.Shadow().Colour[0], 0);
    EXPECT_EQ(b.HideMode(), 2);
}

TEST_F(ObjectsTest, EmptyGuidGetsAFreshOne) {
    Load(Object("a", "  GUID=\n") + Object("b", ""));
    ASSERT_EQ(slide.ChildCount(), 2);
    const std::u16string a = slide.Child(0).GUID(), b = slide.Child(1).GUID();
    EXPECT_EQ(a.size(), 38u);
    EXPECT_EQ(a.front(), u'{');
    EXPECT_EQ(a.back(), u'}');
    EXPECT_NE(a, b);
}

TEST_F(ObjectsTest, ReloadKeepsObjectsWhoseGuidMatchesAndRebuildsTheRest) {
    const std::string keyPoint = "  object k : KeyPoint\n    Time=0\n    Opacity=40\n  end\n";
    Load(Object("a", "  GUID={A}\n" + keyPoint) + Object("b", "  GUID={B}\n"));
    ASSERT_EQ(slide.ChildCount(), 2);
    static_cast<TSizedObject&>(slide.Child(0)).Marker = 1;
    static_cast<TSizedObject&>(slide.Child(1)).Marker = 2;

    Load(Object("c", "  GUID={C}\n") + Object("a2", "  GUID={A}\n" + keyPoint));
    ASSERT_EQ(slide.ChildCount(), 2);
    EXPECT_EQ(slide.Child(0).GUID(), u"{C}");
    EXPECT_EQ(static_cast<TSizedObject&>(slide.Child(0)).Marker, 0);
    const TOrbObject& kept = slide.Child(1);
    EXPECT_EQ(kept.GUID(), u"{A}");
    EXPECT_EQ(static_cast<const TSizedObject&>(kept).Marker, 1);
    EXPECT_EQ(kept.Name(), u"a2");
    // Its key points were rebuilt, not added to the old ones.
    EXPECT_EQ(kept.KeyPoints().Count(), 1);
    EXPECT_EQ(kept.IndexInParent(), 1);
}

TEST_F(ObjectsTest, ReloadKeepsAGuidOnceWhenTheDocumentRepeatsIt) {
    Load(Object("a", "  GUID={A}\n"));
    static_cast<TSizedObject&>(slide.Child(0)).Marker = 7;
    Load(Object("a", "  GUID={A}\n") + Object("again", "  GUID={A}\n"));
    ASSERT_EQ(slide.ChildCount(), 2);
    EXPECT_EQ(static_cast<TSizedObject&>(slide.Child(0)).Marker, 7);
    EXPECT_EQ(static_cast<TSizedObject&>(slide.Child(1)).Marker, 0);
}

TEST_F(ObjectsTest, UnknownTypesAreSkippedAndVideosAreBuiltIn) {
    Load("object x : Teapot\nend\nobject y : video\nend\n" + Object("a", ""));
    ASSERT_EQ(slide.ChildCount(), 2);
    EXPECT_EQ(slide.Child(0).Name(), u"y");
    EXPECT_EQ(slide.Child(1).Name(), u"a");
}

TEST_F(ObjectsTest, CoverScalesByTheWidthRatioAndPlaceIntoByTheHeight) {
    Load(Object("cover", "  FitMode=Cover\n", 4000, 3000) +
         Object("into", "  FitMode=PlaceInto\n", 4000, 3000));
    EXPECT_DOUBLE_EQ(slide.Child(0).FitFactor(), 1920.0 / 4000.0);
    EXPECT_DOUBLE_EQ(slide.Child(1).FitFactor(), 1080.0 / 3000.0);
    EXPECT_NEAR(slide.Child(0).EffectiveScaleX(), 0.48, 1e-12);
    EXPECT_NEAR(slide.Child(1).EffectiveScaleY(), 0.36, 1e-12);
}

TEST_F(ObjectsTest, FitModeNoneKeepsTheOwnSize) {
    Load(Object("a", "  FitMode=None\n", 4000, 3000));
    EXPECT_DOUBLE_EQ(slide.Child(0).FitFactor(), 1);
}

TEST_F(ObjectsTest, PositionOneHundredPutsTheCentreOnTheParentsRightEdge) {
    Load(Object("a", "  object k : KeyPoint\n    Position=100,0\n  end\n"));
    const TPoint3F origin = slide.Child(0).Frame().Plane.origin;
    EXPECT_FLOAT_EQ(origin.x, 1920);
    EXPECT_FLOAT_EQ(origin.y, 540);
    EXPECT_FLOAT_EQ(origin.z, 0);
}

TEST_F(ObjectsTest, CenterPosMovesTheRectangleAgainstTheOrigin) {
    Load(Object("a", "  FitMode=None\n  object k : KeyPoint\n    CenterPos=100,-100\n  end\n"));
    const TOrbObject& a = slide.Child(0);
    EXPECT_FLOAT_EQ(a.CenterOffset().x, -400);
    // Zero up to rounding: where the compiler fuses multiply-adds (aarch64),
    // the terms that cancel leave a few units of 1e-15.
    EXPECT_NEAR(a.CenterOffset().y, 0, 1e-9);
}

TEST_F(ObjectsTest, ScreenCornersFollowThePerspectiveProjection) {
    Load(Object("a", "  FitMode=None\n  object k : KeyPoint\n    AngleY=60\n  end\n"));
    const auto corners = slide.Child(0).ScreenCorners();

    // The plane turned by 60 degrees about the vertical axis, its depth halved
    // (the slide's depth factor 1080 x 0.5 / 1080), seen from (960, 540, -1080).
    const double angle = 60 * std::numbers::pi / 180, camX = 960, camY = 540, camZ = -1080;
    const double local[4][2] = {{-200, -150}, {200, -150}, {200, 150}, {-200, 150}};
    for (int i = 0; i < 4; ++i) {
        const double x = 960 + local[i][0] * std::cos(angle);
        const double y = 540 + local[i][1];
        const double z = local[i][0] * std::sin(angle) * 0.5;
        const double d = z - camZ;
        EXPECT_NEAR(corners[size_t(i)].x, camX + camZ * (camX - x) / d, 0.01) << i;
        EXPECT_NEAR(corners[size_t(i)].y, camY + (camY - y) * camZ / d, 0.01) << i;
    }
    // The nearer side looks taller.
    EXPECT_GT(corners[3].y - corners[0].y, corners[2].y - corners[1].y);
}

TEST_F(ObjectsTest, HideModeOneHidesTheFrontAndShowsTheBack) {
    Load(Object("front", "  HideMode=1\n") +
         Object("back", "  HideMode=1\n  object k : KeyPoint\n    AngleY=180\n  end\n"));
    EXPECT_FALSE(slide.Child(0).ShownFromCamera());
    EXPECT_FALSE(slide.Child(0).IsShown());
    EXPECT_TRUE(slide.Child(1).ShownFromCamera());
    EXPECT_TRUE(slide.Child(1).IsShown());
}

TEST_F(ObjectsTest, HideModeTwoHidesTheBackOnly) {
    Load(Object("front", "  HideMode=2\n") +
         Object("back", "  HideMode=2\n  object k : KeyPoint\n    AngleY=180\n  end\n"));
    EXPECT_TRUE(slide.Child(0).IsShown());
    EXPECT_FALSE(slide.Child(1).IsShown());
}

TEST_F(ObjectsTest, ChildInvisHidesTheChildrenOfAHiddenObject) {
    Load(Object("parent", "  HideMode=1\n  ChildInvis=1\n" + Object("child", "")) +
         Object("other", "  HideMode=1\n" + Object("child", "")));
    EXPECT_TRUE(slide.Child(0).Child(0).HiddenByParent());
    EXPECT_FALSE(slide.Child(0).Child(0).IsShown());
    EXPECT_FALSE(slide.Child(1).Child(0).HiddenByParent());
    EXPECT_TRUE(slide.Child(1).Child(0).IsShown());
}

TEST_F(ObjectsTest, DeltaTimesShortenTheActiveInterval) {
    Load(Object("a", "  DeltaTime1=500\n  DeltaTime2=1000\n"));
    TOrbObject& a = slide.Child(0);
    slide.SetTime(true, 1200);
    EXPECT_FALSE(a.Active());
    slide.ClearChanged(true);
    slide.SetTime(true, 1500);
    EXPECT_TRUE(a.Active());
    EXPECT_TRUE(a.Moved());
    slide.SetTime(true, 5000);
    EXPECT_TRUE(a.Active());
    slide.SetTime(true, 5001);
    EXPECT_FALSE(a.Active());
}

TEST_F(ObjectsTest, OpacityFollowsKeyPointsAndMovesTheObject) {
    Load(Object("a",
                "  object k : KeyPoint\n    Time=0\n    Opacity=0\n  end\n"
                "  object k : KeyPoint\n    Time=1000\n    Opacity=100\n  end\n"));
    TOrbObject& a = slide.Child(0);
    slide.SetTime(true, 1500);
    EXPECT_NEAR(a.EffectiveOpacity(), 50, 0.01);
    slide.ClearChanged(true);
    slide.SetTime(true, 1500);
    EXPECT_FALSE(a.IsChanged());
    slide.SetTime(true, 1600);
    EXPECT_TRUE(a.Moved());
    EXPECT_TRUE(slide.IsChanged());
}

TEST_F(ObjectsTest, HitTestFindsTheLastDrawnChildFirst) {
    Load(Object("bottom", "") + Object("top", "") +
         Object("aside", "  FitMode=None\n  object k : KeyPoint\n    Position=50,0\n  end\n"));
    TPointF local;
    EXPECT_EQ(slide.FindAtSimple(960, 540, true, &local), &slide.Child(1));
    // The object's own units: the 400 x 300 object is scaled by 3.6.
    EXPECT_NEAR(local.x, 200, 0.01);
    EXPECT_NEAR(local.y, 150, 0.01);
    EXPECT_EQ(slide.FindAtSimple(960 + 480, 540, true, nullptr), &slide.Child(2));
    // Outside every object the slide itself is found.
    EXPECT_EQ(slide.FindAtSimple(5, 5, true, nullptr), &slide);
    EXPECT_EQ(slide.FindAtSimple(5000, 5, true, nullptr), nullptr);
}

TEST_F(ObjectsTest, TranspForClickLetsClicksThrough) {
    Load(Object("bottom", "") + Object("top", "  TranspForClick=1\n"));
    EXPECT_EQ(slide.FindAtSimple(960, 540, true, nullptr), &slide.Child(0));
    EXPECT_EQ(slide.FindAtSimple(960, 540, false, nullptr), &slide.Child(1));
}

TEST_F(ObjectsTest, EdgesOfTheRectangleAreInside) {
    Load(Object("a", "  FitMode=None\n"));
    EXPECT_EQ(slide.FindAtSimple(760, 390, true, nullptr), &slide.Child(0));
    EXPECT_EQ(slide.FindAtSimple(1160, 690, true, nullptr), &slide.Child(0));
    EXPECT_EQ(slide.FindAtSimple(1161, 690, true, nullptr), &slide);
}

TEST_F(ObjectsTest, TiltedObjectIsHitWhereItIsSeen) {
    Load(Object("a", "  FitMode=None\n  object k : KeyPoint\n    AngleY=60\n  end\n"));
    const auto corners = slide.Child(0).ScreenCorners();
    // Just inside the projected right edge, and just outside it.
    const float rightX = (corners[1].x + corners[2].x) / 2;
    EXPECT_EQ(slide.FindAtSimple(rightX - 1, 540, true, nullptr), &slide.Child(0));
    EXPECT_EQ(slide.FindAtSimple(rightX + 1, 540, true, nullptr), &slide);
}

TEST_F(ObjectsTest, EdgeOnPlanesAreNeitherHitNorShown) {
    Load(Object("y", "  object k : KeyPoint\n    AngleY=90\n  end\n") +
         Object("x", "  object k : KeyPoint\n    AngleX=90\n  end\n") + Object("empty", "", 0, 0));
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(slide.Child(i).IsShown()) << i;
        EXPECT_FALSE(slide.Child(i).HitTest(960, 540, nullptr)) << i;
    }
    EXPECT_EQ(slide.FindAtSimple(960, 540, true, nullptr), &slide);
}

TEST_F(ObjectsTest, CameraOnThePicturePlaneHitsNothing) {
    Load(Object("a", ""));
    slide.SetOwnCamera({960, 540, 0});
    slide.SetTime(true, 2000);
    EXPECT_FALSE(slide.Child(0).HitTest(960, 540, nullptr));
    EXPECT_EQ(slide.FindAtSimple(960, 540, true, nullptr), nullptr);
}

TEST_F(ObjectsTest, ChildrenArePlacedInTheirParentsFrame) {
    // A 400 x 300 parent rotated by 90 degrees in the picture plane, its child
    // at its right edge: the child lands below the parent's centre.
    Load(Object("parent",
                "  FitMode=None\n  object k : KeyPoint\n    Angle=90\n  end\n" +
                    Object("child", "  object k : KeyPoint\n    Position=100,0\n  end\n", 40, 30)));
    const TOrbObject& child = slide.Child(0).Child(0);
    EXPECT_NEAR(child.Frame().Plane.origin.x, 960, 0.01);
    EXPECT_NEAR(child.Frame().Plane.origin.y, 540 + 200, 0.01);
    EXPECT_DOUBLE_EQ(child.FitFactor(), 10);
}

TEST_F(ObjectsTest, CornersMoveOutwardByTheMargin) {
    Load(Object("a", "  FitMode=None\n"));
    const auto corners = slide.Child(0).Corners(10);
    EXPECT_FLOAT_EQ(corners[0].x, 750);
    EXPECT_FLOAT_EQ(corners[0].y, 380);
    EXPECT_FLOAT_EQ(corners[2].x, 1170);
    EXPECT_FLOAT_EQ(corners[2].y, 700);
}

TEST_F(ObjectsTest, PreScanTakesTheLargestSizeOverAllKeyPoints) {
    Load(Object("a",
                "  FitMode=None\n"
                "  object k : KeyPoint\n    Time=0\n    ScaleX=100\n  end\n"
                "  object k : KeyPoint\n    Time=1000\n    ScaleX=200\n    ScaleY=50\n  end\n"));
    const TOrbObject& a = slide.Child(0);
    EXPECT_NEAR(a.RequiredWidth(), 800, 0.01);
    EXPECT_NEAR(a.RequiredHeight(), 300, 0.01);
    EXPECT_NEAR(slide.RequiredWidth(), 1920, 0.01);
    EXPECT_NEAR(slide.RequiredHeight(), 1080, 0.01);
    // The scan puts the slide back at its time.
    EXPECT_DOUBLE_EQ(slide.LocalTime(), 1000);
    EXPECT_FALSE(slide.PreScanPending());
}

TEST_F(ObjectsTest, PreScanEnlargesWhatComesNearerThanThePicturePlane) {
    // ZPos -100 of the 1080 high parent: depth -540, halved by the depth factor.
    Load(Object("a", "  FitMode=None\n  object k : KeyPoint\n    ZPos=-100\n  end\n"));
    const TOrbObject& a = slide.Child(0);
    // Projected 400 x 1080 / (1080 - 270), then the near-depth factor.
    const double projected = 400.0 * 1080 / (1080 - 270);
    const double factor = 1 / (1 - (-270.0) / -1080.0);
    EXPECT_NEAR(a.RequiredWidth(), projected * factor, 0.05);
}

TEST_F(ObjectsTest, NestingDeeperThanTheLimitIsSkipped) {
    std::string text;
    for (int i = 0; i < kMaxObjectDepth + 5; ++i)
        text += "object o : SizedObject\n  Width=10\n  Height=10\n";
    for (int i = 0; i < kMaxObjectDepth + 5; ++i) text += "end\n";
    Load(text);
    int depth = 0;
    for (const TOrbObject* o = &slide; o->ChildCount() > 0; o = &o->Child(0)) ++depth;
    EXPECT_EQ(depth, kMaxObjectDepth);
}

TEST_F(ObjectsTest, ObjectsBeyondTheSlideLimitAreSkipped) {
    std::string text;
    text.reserve(size_t(kMaxObjectsPerSlide + 10) * 24);
    for (int i = 0; i < kMaxObjectsPerSlide + 10; ++i) text += "object o : SizedObject\nend\n";
    Load(text);
    EXPECT_EQ(slide.ChildCount(), kMaxObjectsPerSlide);
}

TEST(ObjectFactory, LaterFactoriesAreAskedFirst) {
    RegisterSizedObjects();
    RegisterObjectFactory([](const std::u16string& type, TOrbObject* parent,
                             const std::u16string& guid) -> std::unique_ptr<TOrbObject> {
        if (type != u"sizedobject" || guid != u"{override}") return nullptr;
        auto object = std::make_unique<TOrbObject>(parent, guid);
        object->SetName(u"override");
        return object;
    });
    EXPECT_EQ(CreateObject(u"sizedobject", nullptr, u"{override}")->Name(), u"override");
    EXPECT_NE(dynamic_cast<TSizedObject*>(CreateObject(u"sizedobject", nullptr, u"{other}").get()),
              nullptr);
    EXPECT_EQ(CreateObject(u"viewport", nullptr, u"{x}"), nullptr);
}

}  // namespace
}  // namespace orb
