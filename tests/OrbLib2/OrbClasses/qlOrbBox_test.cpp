#include "OrbLib2/OrbClasses/qlOrbBox.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ObjectShowSupport.h"

namespace orb {
namespace {

using test::Pixel;
using test::TScreen;
using test::TShow;

TOrbBox& BoxOf(TShow& show, int index) {
    auto* box = dynamic_cast<TOrbBox*>(&show.Slide->Child(index));
    EXPECT_NE(box, nullptr);
    return *box;
}

// A box covering the whole 96 x 64 slide, with the given extra keys.
std::vector<std::u16string> FullBox(const std::u16string& type, std::vector<std::u16string> keys) {
    std::vector<std::u16string> lines{u"object B : " + type, u"  Size=96,64"};
    lines.insert(lines.end(), keys.begin(), keys.end());
    lines.push_back(u"end");
    return lines;
}

std::unique_ptr<ql::TDirectBitmap> Render(TShow& show, TScreen& screen) {
    show.LoadAt(0);
    show.Slide->AttachDrawer(screen.drawer);
    return screen.Frame(*show.Slide);
}

uint32_t Channel(uint32_t pixel, int shift) {
    return (pixel >> shift) & 0xFF;
}

TEST(Boxes, KeysAreReadClampedAndMappedToTheDrawersFills) {
    struct TCase {
        std::vector<std::u16string> keys;
        int32_t fill;
        uint32_t colour1, colour2;
        ql::TPoint size;
    };
    const TCase cases[] = {
        {{u"  Size=40,30"}, 8, 0xFF000000u, 0xFF000000u, {40, 30}},
        {{u"  Size=40,30", u"  FillMode=HGradient", u"  Color1=255,0,0", u"  Color2=0,0,255",
          u"  Alpha2=0"},
         6,
         0xFFFF0000u,
         0x000000FFu,
         {40, 30}},
        {{u"  Size=1,1", u"  FillMode=VGradient", u"  Color1=300,-4,7", u"  Alpha1=300",
          u"  Alpha2=-5"},
         5,
         0xFFFF0007u,
         0x00000000u,
         {1, 1}},
        {{u"  Size=2,2", u"  FillMode=TLBRGradient"}, 0, 0xFF000000u, 0xFF000000u, {2, 2}},
        {{u"  Size=2,2", u"  FillMode=TRBLGradient"}, 1, 0xFF000000u, 0xFF000000u, {2, 2}},
        // The fill names are exact; another spelling is solid.
        {{u"  Size=2,2", u"  FillMode=hgradient"}, 8, 0xFF000000u, 0xFF000000u, {2, 2}},
        {{u"  Size=-5,30"}, 8, 0xFF000000u, 0xFF000000u, {0, 30}},
        {{u"  Size=banana"}, 8, 0xFF000000u, 0xFF000000u, {0, 0}},
    };
    for (const TCase& c : cases) {
        std::vector<std::u16string> lines{u"object B : box"};
        lines.insert(lines.end(), c.keys.begin(), c.keys.end());
        lines.push_back(u"end");
        TShow show({}, lines);
        TOrbBox& box = BoxOf(show, 0);
        const std::string label = ql::ToUtf8(c.keys.back());
        EXPECT_EQ(box.FillParams().fillType, c.fill) << label;
        EXPECT_EQ(box.Colour1(), c.colour1) << label;
        if (c.fill != 8) {
            EXPECT_EQ(box.Colour2(), c.colour2) << label;
        }
        EXPECT_EQ(box.Width(), c.size.x) << label;
        EXPECT_EQ(box.Height(), c.size.y) << label;
    }
}

// Straight colours and alpha interpolate, then blend: opaque red to
// transparent blue passes through a dim purple, not through grey or black.
TEST(Boxes, GradientsRunFromColourOneToTransparentColourTwoThroughPurple) {
    struct TCase {
        std::u16string fill;
        bool horizontal;
    };
    for (const TCase& c : {TCase{u"HGradient", true}, TCase{u"VGradient", false}}) {
        TScreen screen;  // outlives the show, whose objects hold its textures
        TShow show({}, FullBox(u"box", {u"  FillMode=" + c.fill, u"  Color1=255,0,0",
                                        u"  Color2=0,0,255", u"  Alpha2=0"}));
        auto frame = Render(show, screen);
        const int32_t length = c.horizontal ? 96 : 64;
        for (int32_t i = 0; i < length; ++i) {
            // Colour 1 lies on the right of "HGradient" and on top of "VGradient".
            const double t = c.horizontal ? (i + 0.5) / 96 : 1 - (i + 0.5) / 64;
            const uint32_t p = c.horizontal ? Pixel(*frame, i, 20) : Pixel(*frame, 40, i);
            EXPECT_NEAR(Channel(p, 16), 255 * t * t, 1.0) << ql::ToUtf8(c.fill) << " " << i;
            EXPECT_EQ(Channel(p, 8), 0u);
            EXPECT_NEAR(Channel(p, 0), 255 * (1 - t) * t, 1.0) << ql::ToUtf8(c.fill) << " " << i;
        }
        const uint32_t middle = c.horizontal ? Pixel(*frame, 48, 20) : Pixel(*frame, 40, 32);
        EXPECT_NEAR(Channel(middle, 16), 64, 2);
        EXPECT_NEAR(Channel(middle, 0), 64, 2);
    }
}

TEST(Boxes, AFrameDrawsExactlyAsABoxWithTheSameKeys) {
    const std::vector<std::u16string> keys{u"  FillMode=TLBRGradient",
                                           u"  Color1=250,200,10",
                                           u"  Color2=10,40,250",
                                           u"  Alpha1=200",
                                           u"  Antialiased=1",
                                           u"  object k : KeyPoint",
                                           u"    Angle=17",
                                           u"    Opacity=80",
                                           u"  end"};
    std::unique_ptr<ql::TDirectBitmap> frames[2];
    const std::u16string types[2] = {u"box", u"frame"};
    for (int i = 0; i < 2; ++i) {
        std::vector<std::u16string> lines = FullBox(types[i], keys);
        lines[1] = u"  Size=50,30";
        TScreen screen;  // outlives the show, whose objects hold its textures
        TShow show({}, lines);
        EXPECT_EQ(ql::ToUtf8(BoxOf(show, 0).BlockType()), ql::ToUtf8(types[i]));
        frames[i] = Render(show, screen);
    }
    int32_t touched = 0;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x) {
            ASSERT_EQ(Pixel(*frames[0], x, y), Pixel(*frames[1], x, y)) << x << "," << y;
            touched += Pixel(*frames[0], x, y) != 0xFF000000u;
        }
    EXPECT_GT(touched, 600);
}

TEST(Boxes, SmoothEdgesFadeWhereHardEdgesStep) {
    int32_t partial[2] = {0, 0};
    for (int smooth = 0; smooth < 2; ++smooth) {
        TScreen screen;  // outlives the show, whose objects hold its textures
        TShow show({}, {u"object B : box", u"  Size=40,24", u"  Color1=255,255,255",
                        std::u16string(u"  Antialiased=") + (smooth ? u"1" : u"0"),
                        u"  object k : KeyPoint", u"    Angle=10", u"  end", u"end"});
        auto frame = Render(show, screen);
        for (int32_t y = 0; y < 64; ++y)
            for (int32_t x = 0; x < 96; ++x) {
                const uint32_t grey = Channel(Pixel(*frame, x, y), 0);
                partial[smooth] += grey > 0 && grey < 255;
            }
    }
    EXPECT_EQ(partial[0], 0);
    EXPECT_GT(partial[1], 100);
}

TEST(Boxes, ASizeOfZeroDrawsNothingAndIsNoHit) {
    TScreen screen, emptyScreen;
    TShow show({}, FullBox(u"box", {u"  Color1=255,255,255"}));
    TShow empty({}, {u"object B : box", u"  Size=0,64", u"  Color1=255,255,255", u"end"});
    auto frame = Render(show, screen);
    auto emptyFrame = Render(empty, emptyScreen);
    EXPECT_EQ(Pixel(*frame, 48, 32), 0xFFFFFFFFu);
    EXPECT_EQ(show.Slide->FindAtSimple(48, 32, false, nullptr), &show.Slide->Child(0));
    for (int32_t y = 0; y < 64; y += 7)
        for (int32_t x = 0; x < 96; x += 5) ASSERT_EQ(Pixel(*emptyFrame, x, y), 0xFF000000u);
    EXPECT_NE(empty.Slide->FindAtSimple(48, 32, false, nullptr), &empty.Slide->Child(0));
}

TEST(Boxes, ShadowIsDrawnFirstAndMadeAgainOnlyForANewSize) {
    TScreen screen;  // outlives the show, whose objects hold its textures
    TShow show({}, {u"object B : box", u"  Size=40,20", u"  Color1=255,255,255",
                    u"  ShadowEnable=1", u"  ShadowColor=255,0,0", u"  ShadowOpacity=100",
                    u"  ShadowDistance=20", u"  ShadowAngle=45", u"end"});
    auto frame = Render(show, screen);
    TOrbBox& box = BoxOf(show, 0);
    const std::u16string name = box.ShadowPictureName();
    ASSERT_FALSE(name.empty());
    // The box stays white over its shadow; the shadow shows beside it, red.
    EXPECT_EQ(Pixel(*frame, 48, 32), 0xFFFFFFFFu);
    int32_t reddish = 0;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x) {
            const uint32_t p = Pixel(*frame, x, y);
            reddish += Channel(p, 16) > 40 && Channel(p, 8) == 0;
        }
    EXPECT_GT(reddish, 50);
    box.Prepare(screen.drawer);
    EXPECT_EQ(box.ShadowPictureName(), name);
    box.SetSize(30, 20);
    box.Prepare(screen.drawer);
    EXPECT_NE(box.ShadowPictureName(), name);
}

}  // namespace
}  // namespace orb
