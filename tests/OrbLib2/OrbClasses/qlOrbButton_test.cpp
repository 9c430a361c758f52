#include "OrbLib2/OrbClasses/qlOrbButton.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ObjectShowSupport.h"
#include "OrbLib2/ButtonGenerator2.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using test::Pixel;
using test::TScreen;
using test::TShow;

// --- layout ---------------------------------------------------------------------

TEST(ButtonLayout, FaceWidthCaptionPlaceAndScale) {
    struct TCase {
        const char* name;
        ql::TPointF caption;
        float minWidth, offsetX, themeOffset;
        int32_t width;
        float captionX, captionY, scale;
    };
    // Natural size 40 x 30, left 10, right 12, top 5, bottom 5: the inner
    // height is 20, so a caption 10 units high is drawn twice its size.
    const TCase cases[] = {
        {"caption plus sides", {50, 10}, 0, 100, 0, 122, 10, 5, 2},
        {"minimum width wins", {50, 10}, 200, 100, 0, 200, 10 + 39, 5, 2},
        {"offset 0 starts at the left part", {50, 10}, 200, 0, 0, 200, 10, 5, 2},
        {"theme offset moves it", {50, 10}, 200, 0, 3, 200, 13, 5, 2},
        {"no caption: the sides only", {0, 0}, 0, 100, 0, 22, 10, 15, 1},
        {"huge caption stops at the largest face",
         {1e6f, 10},
         0,
         100,
         0,
         kMaxButtonFaceWidth,
         10 + (kMaxButtonFaceWidth - 22 - 2e6f) / 2,
         5,
         2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TButtonLayout layout = ComputeButtonLayout(c.caption, {40, 30}, 10, 12, 5, 5,
                                                         c.minWidth, c.offsetX, c.themeOffset);
        EXPECT_EQ(layout.FaceWidth, c.width);
        EXPECT_EQ(layout.FaceHeight, 30);
        EXPECT_FLOAT_EQ(layout.CaptionOrigin.x, c.captionX);
        EXPECT_FLOAT_EQ(layout.CaptionOrigin.y, c.captionY);
        EXPECT_FLOAT_EQ(layout.CaptionScale, c.scale);
    }
    // Thick top and bottom parts leave the caption half the face's height.
    EXPECT_FLOAT_EQ(ComputeButtonLayout({10, 10}, {40, 30}, 10, 12, 14, 14, 0, 100, 0).CaptionScale,
                    1.5f);
}

// --- the object -------------------------------------------------------------------

constexpr uint32_t kNormal = 0xFFC00000, kHover = 0xFF00C000, kClick = 0xFF0000C0;

// One 30 x 30 picture per state, each a flat colour. The left and top parts
// are copied to the face where they lie in their picture, so each state's
// parts start at the picture's corner.
std::string StatePicture(uint32_t colour) {
    auto picture = std::make_unique<ql::TDirectBitmap>(30, 30, ql::PfARGB32());
    for (int32_t y = 0; y < 30; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(picture->Row(y));
        std::fill(row, row + 30, colour);
    }
    return test::Png(*picture);
}

const char* const kStatePictures[] = {"normal.png", "hover.png", "click.png"};

// Corners 10 x 10, one-pixel top and bottom edges and centre column; the
// right part ends at 30 and the bottom one at 30: a natural size of 30 x 30.
std::string ThemeDescription() {
    std::string text;
    const char* sections[] = {"NormalState", "HoverState", "ClickState"};
    for (int state = 0; state < 3; ++state) {
        auto part = [&](const char* key, int l, int t, int r, int b) {
            text += std::string(key) + "=" + kStatePictures[state] + "," + std::to_string(l) + "," +
                    std::to_string(t) + "," + std::to_string(r) + "," + std::to_string(b) + "\n";
        };
        text += std::string("[") + sections[state] + "]\n";
        part("LeftTop", 0, 0, 10, 10);
        part("Top", 10, 0, 11, 10);
        part("RightTop", 20, 0, 30, 10);
        part("Right", 20, 10, 30, 20);
        part("RightBottom", 20, 20, 30, 30);
        part("Bottom", 10, 20, 11, 30);
        part("LeftBottom", 0, 20, 10, 30);
        part("Left", 0, 10, 10, 20);
        part("Center", 10, 10, 11, 20);
    }
    return text + "[TextParams]\nColor=255,255,255\nBtnMinWidth=60\n";
}

std::vector<test::TTestEntry> Theme(const std::u16string& folder) {
    std::vector<test::TTestEntry> entries{{folder + u"\\btn.ini", ThemeDescription(), 0}};
    const uint32_t colours[] = {kNormal, kHover, kClick};
    for (int state = 0; state < 3; ++state)
        entries.push_back({folder + u"\\" + ql::FromUtf8(kStatePictures[state]),
                           StatePicture(colours[state]), 0});
    return entries;
}

std::vector<std::u16string> ButtonBlock(const std::u16string& keys) {
    std::vector<std::u16string> lines{u"object B : button"};
    size_t start = 0;
    for (size_t end; (end = keys.find(u'|', start)) != std::u16string::npos; start = end + 1)
        lines.push_back(keys.substr(start, end - start));
    if (start < keys.size()) lines.push_back(keys.substr(start));
    lines.push_back(u"end");
    return lines;
}

TOrbButton& Button(TShow& show) {
    auto* button = dynamic_cast<TOrbButton*>(&show.Slide->Child(0));
    EXPECT_NE(button, nullptr);
    return *button;
}

// The slide's objects read "PathToButtons" through the host.
void UseButtonFolder(TShow& show, const std::u16string& path) {
    show.Slide->Host()->SetPathToButtons(path);
}

TEST(ButtonObject, ThemeNamedMissingOrAbsentPicksTheFace) {
    struct TCase {
        const char* name;
        std::vector<test::TTestEntry> entries;
        std::u16string theme;
        std::u16string folder;  // expected; empty: no body
    };
    auto both = Theme(u"btn\\blue");
    for (auto& entry : Theme(u"btn\\aqua")) both.push_back(entry);
    const TCase cases[] = {
        {"named theme", both, u"blue", u"btn\\blue"},
        {"missing theme falls back to aqua", both, u"red", u"btn\\aqua"},
        {"nothing to fall back to", Theme(u"btn\\blue"), u"red", u""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TShow show(c.entries, ButtonBlock(u"Theme=" + c.theme + u"|Text=Go|Action=nextslide"));
        UseButtonFolder(show, u"btn");
        TOrbButton& button = Button(show);
        button.LoadPicture();
        EXPECT_EQ(button.ThemeFolder(), c.folder);
        if (c.folder.empty()) {
            EXPECT_TRUE(button.FacePictureName(TMouseLook::Normal).empty());
            EXPECT_FALSE(button.PictureLoaded());
            // The caption alone gives the size.
            EXPECT_EQ(button.Width(), button.Caption().Width());
        } else {
            // Natural height; the theme's minimum width beats a short caption.
            EXPECT_EQ(button.Height(), 30);
            EXPECT_EQ(button.Width(), 60);
            EXPECT_EQ(button.FacePictureName(TMouseLook::Hover),
                      u"Button: " + c.folder + u":1:60:0:0:0");
            EXPECT_TRUE(button.PictureLoaded());
        }
    }
}

TEST(ButtonObject, MouseSwitchesBodyAndCaptionTogether) {
    TShow show(Theme(u"btn\\blue"),
               ButtonBlock(u"Theme=blue|Text=Go|Action=nextslide|BtnMinWidth=96|TxtOpacity=0|"
                           u"FitMode=None"));
    UseButtonFolder(show, u"btn");
    TOrbButton& button = Button(show);
    EXPECT_FLOAT_EQ(button.MipLodBias(), 0);
    show.LoadAt(100);
    EXPECT_EQ(button.Width(), 96);
    TScreen screen;
    show.Slide->AttachDrawer(screen.drawer);

    struct TStep {
        const char* name;
        TSlideMouseEvent event;
        int held;
        TMouseLook look;
        uint32_t colour;
    };
    const TStep steps[] = {
        {"move over", smMove, kMouseNoButton, TMouseLook::Hover, kHover},
        {"press", smPress, kMouseLeftButton, TMouseLook::Click, kClick},
        {"release", smRelease, kMouseNoButton, TMouseLook::Hover, kHover},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.name);
        const int button_ = step.event == smMove ? kMouseNoButton : kMouseLeftButton;
        show.Slide->MouseEvent(step.event, button_, step.held, 48, 32, true);
        EXPECT_EQ(button.MouseLook(), step.look);
        EXPECT_EQ(button.Caption().MouseLook(), step.look);
        auto frame = screen.Frame(*show.Slide);
        // The face's centre column, between the caption (drawn invisible) and the corners.
        EXPECT_EQ(Pixel(*frame, 48, 32), step.colour | 0xFF000000u);
    }
    // A move off the button brings the normal face back.
    show.Slide->MouseEvent(smMove, kMouseNoButton, kMouseNoButton, 1, 1, true);
    EXPECT_EQ(button.MouseLook(), TMouseLook::Normal);
    EXPECT_EQ(Pixel(*screen.Frame(*show.Slide), 48, 32), kNormal);
    show.Slide.reset();
}

TEST(ButtonObject, BodyOpacityLeavesTheCaption) {
    TShow show(Theme(u"btn\\blue"), ButtonBlock(u"Theme=blue|Text=\"MMMM\"|BtnOpacity=0|"
                                                u"FitMode=None|BtnMinWidth=96"));
    UseButtonFolder(show, u"btn");
    show.LoadAt(100);
    TScreen screen;
    show.Slide->AttachDrawer(screen.drawer);
    auto frame = screen.Frame(*show.Slide);
    int faceColoured = 0, lit = 0;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x) {
            const uint32_t p = Pixel(*frame, x, y);
            faceColoured += p == kNormal;
            lit += (p & 0xFFFFFF) != 0;
        }
    EXPECT_EQ(faceColoured, 0);
    EXPECT_GT(lit, 20);  // the caption's letters
    show.Slide.reset();
}

// How far the frame strays from the caption's own picture drawn white on
// black with its pixel (0, 0) at screen pixel (x, y): the most any pixel's
// green differs. -1 where the picture does not fit there.
int32_t DifferenceAt(const ql::TBitmap& frame, const ql::TBitmap& picture, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x + picture.Width() > frame.Width() ||
        y + picture.Height() > frame.Height())
        return -1;
    int32_t most = 0;
    for (int32_t j = 0; j < picture.Height(); ++j)
        for (int32_t i = 0; i < picture.Width(); ++i) {
            const uint32_t p = reinterpret_cast<const uint32_t*>(picture.Row(j))[i];
            const int32_t ink = int32_t(std::lround((p >> 24) * ((p >> 8) & 255) / 255.0));
            const int32_t shown = int32_t((Pixel(frame, x + i, y + j) >> 8) & 255);
            most = std::max(most, std::abs(shown - ink));
        }
    return most;
}

TEST(ButtonObject, CaptionAtRest_IsDrawnFromAPictureMadeAtItsShownSize) {
    // The face (10 face pixels of parts above and below a 30 high face)
    // scales the caption to 15 face pixels, and the keys scale the face:
    // a face pixel is seldom a screen pixel.
    struct TCase {
        const char* name;
        std::u16string keys;
    };
    const TCase cases[] = {
        {"short caption at the face's size", u"Text=Go|ScaleX=100|ScaleY=100"},
        {"longer caption, enlarged", u"Text=\"Close\"|ScaleX=130|ScaleY=130"},
        {"two words, reduced", u"Text=\"OK now\"|ScaleX=80|ScaleY=80"},
        // Made for the largest the keys reach, where it comes to rest.
        {"grown to its rest",
         u"Text=Go|object kp1: KeyPoint|Time=0|ScaleX=50|ScaleY=50|end|"
         u"object kp2: KeyPoint|Time=500|ScaleX=120|ScaleY=120|end"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The slide gives its textures back before the screen goes.
        TScreen screen;
        TShow show(
            Theme(u"btn\\blue"),
            ButtonBlock(u"Theme=blue|BtnOpacity=0|FitMode=None|FontName=DejaVu Sans|" + c.keys));
        UseButtonFolder(show, u"btn");
        TOrbButton& button = Button(show);
        show.LoadAt(1000);
        show.Slide->AttachDrawer(screen.drawer);
        // The caption's own units, and so the face, are its laid-out size.
        EXPECT_EQ(button.Caption().Height(), int32_t(std::ceil(button.Caption().LaidOutSize().y)));
        EXPECT_EQ(button.Height(), 30);
        EXPECT_EQ(button.Width(), button.Layout().FaceWidth);
        EXPECT_FLOAT_EQ(button.Layout().CaptionScale * float(button.Caption().Height()), 15);
        // The second frame finds the caption at rest; the third is drawn from
        // the picture that lands on whole pixels there.
        std::unique_ptr<ql::TDirectBitmap> frame;
        for (int i = 0; i < 3; ++i) {
            screen.device.Clear(0xFF000000u);
            frame = screen.Frame(*show.Slide);
        }
        ql::TRef<ql::TBitmapStore> store = button.Caption().PictureStore();
        ASSERT_TRUE(store);
        const ql::TBitmap& picture = *store->GetBitmap(0, ql::PfARGB32());
        int32_t best = 256;
        for (int32_t y = 0; y < 64; ++y)
            for (int32_t x = 0; x < 96; ++x)
                if (const int32_t d = DifferenceAt(*frame, picture, x, y); d >= 0)
                    best = std::min(best, d);
        // Each picture pixel is one screen pixel: no column of a stem is
        // spread over two.
        EXPECT_LE(best, 2) << ql::ToUtf8(store->Params().Name);
    }
}

}  // namespace
}  // namespace orb
