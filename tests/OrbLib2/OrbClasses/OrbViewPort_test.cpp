#include "OrbLib2/OrbClasses/OrbViewPort.h"

#include <gtest/gtest.h>

#include "ObjectShowSupport.h"

namespace orb {
namespace {

using test::Pixel;
using test::Png;
using test::TScreen;
using test::TShow;

// A picture of the slide's size, colour on the columns [left, right).
std::string Picture(uint32_t colour, int32_t left = 0, int32_t right = 96) {
    auto bitmap = std::make_unique<ql::TDirectBitmap>(96, 64, ql::PfARGB32());
    for (int32_t y = 0; y < 64; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(bitmap->Row(y));
        for (int32_t x = 0; x < 96; ++x) row[x] = x >= left && x < right ? colour : 0xFF000000u;
    }
    return Png(*bitmap);
}

std::vector<test::TTestEntry> Pictures() {
    return {{u"white.png", Picture(0xFFFFFFFFu)},
            {u"left.png", Picture(0xFFFFFFFFu, 0, 48)},
            {u"red.png", Picture(0xFFFF0000u)}};
}

std::u16string Opacity(int percent) {
    return u"  object k : KeyPoint\n    Opacity=" + ql::FromUtf8(std::to_string(percent)) +
           u"\n  end";
}

// Lines of a mask block.
std::vector<std::u16string> Mask(const std::u16string& image, int opacity = 100) {
    return {u"object M : mask", u"  ImageName=" + image, Opacity(opacity), u"end"};
}

// A view port over the slide with a white box inside it and the given masks.
std::vector<std::u16string> ViewPort(const std::vector<std::vector<std::u16string>>& masks,
                                     int opacity = 100) {
    std::vector<std::u16string> lines{
        u"object V : viewport", u"  Size=96,64",           Opacity(opacity), u"  object C : box",
        u"    Size=96,64",      u"    Color1=255,255,255", u"  end"};
    for (const auto& mask : masks) lines.insert(lines.end(), mask.begin(), mask.end());
    lines.push_back(u"end");
    return lines;
}

std::vector<std::u16string> Split(const std::vector<std::u16string>& lines) {
    // Key points above were written with line breaks inside one entry.
    std::vector<std::u16string> out;
    for (const std::u16string& line : lines) {
        size_t start = 0;
        for (size_t end; (end = line.find(u'\n', start)) != std::u16string::npos; start = end + 1)
            out.push_back(line.substr(start, end - start));
        out.push_back(line.substr(start));
    }
    return out;
}

std::unique_ptr<ql::TDirectBitmap> Render(TShow& show, TScreen& screen) {
    show.LoadAt(0);
    show.Slide->AttachDrawer(screen.drawer);
    return screen.Frame(*show.Slide);
}

uint32_t Grey(const ql::TBitmap& frame, int32_t x, int32_t y) {
    return Pixel(frame, x, y) & 0xFF;
}

TOrbViewPort& ViewPortOf(TShow& show) {
    auto* viewPort = dynamic_cast<TOrbViewPort*>(&show.Slide->Child(0));
    EXPECT_NE(viewPort, nullptr);
    return *viewPort;
}

TEST(ViewPorts, MaskOpacityIsTheMasksOwnTimesTheViewPorts) {
    struct TCase {
        int mask, viewPort;
        float effective;
        uint32_t grey;  // the white content seen through a white mask
    };
    for (const TCase& c : {TCase{100, 100, 100, 255}, TCase{50, 50, 25, 64}, TCase{0, 100, 0, 0},
                           TCase{100, 0, 0, 0}, TCase{40, 100, 40, 102}}) {
        TScreen screen;  // outlives the show, whose objects hold its textures
        TShow show(Pictures(), Split(ViewPort({Mask(u"white.png", c.mask)}, c.viewPort)));
        auto frame = Render(show, screen);
        TOrbViewPort& viewPort = ViewPortOf(show);
        const std::string label =
            std::to_string(c.mask) + "% of " + std::to_string(c.viewPort) + "%";
        ASSERT_EQ(viewPort.Masks().size(), 1u) << label;
        EXPECT_FLOAT_EQ(viewPort.Masks()[0]->MaskOpacity(), c.effective) << label;
        EXPECT_EQ(viewPort.DrawsNow(), c.effective > 0) << label;
        EXPECT_EQ(show.Slide->MaskedContent(), c.effective > 0) << label;
        EXPECT_NEAR(double(Grey(*frame, 48, 32)), double(c.grey), 1.0) << label;
        // Nothing of the view port shows where it does not draw.
        if (c.effective == 0) {
            for (int32_t y = 0; y < 64; y += 3)
                for (int32_t x = 0; x < 96; x += 3) ASSERT_EQ(Grey(*frame, x, y), 0u) << label;
        }
    }
}

TEST(ViewPorts, OverlappingMasksShowTheirLargestValueNotTheirSum) {
    TScreen screen;  // outlives the show, whose objects hold its textures
    TShow show(Pictures(), Split(ViewPort({Mask(u"left.png", 100), Mask(u"white.png", 50)})));
    auto frame = Render(show, screen);
    EXPECT_EQ(Grey(*frame, 20, 32), 255u);
    EXPECT_NEAR(double(Grey(*frame, 70, 32)), 128, 1.0);
}

TEST(ViewPorts, MaskPicturesCountByTheirGrey) {
    struct TCase {
        std::u16string image;
        uint32_t centre, corner;
    };
    const TCase cases[] = {
        // A hard preset ellipse: inside shows, the corners do not.
        {u"PresetedMask: 96:64:1:0:0", 255, 0},
        // A colour picture counts by its luminance: pure red is 77 of 255.
        {u"red.png", 77, 77},
        // A missing picture contributes nothing.
        {u"absent.png", 0, 0},
    };
    for (const TCase& c : cases) {
        TScreen screen;  // outlives the show, whose objects hold its textures
        TShow show(Pictures(), Split(ViewPort({Mask(c.image)})));
        auto frame = Render(show, screen);
        EXPECT_NEAR(double(Grey(*frame, 48, 32)), double(c.centre), 1.0) << ql::ToUtf8(c.image);
        EXPECT_NEAR(double(Grey(*frame, 1, 1)), double(c.corner), 1.0) << ql::ToUtf8(c.image);
    }
}

TEST(ViewPorts, ANestedViewPortShowsThroughBothMaskSets) {
    // The outer mask shows the left half; the inner view port, holding the
    // white box, shows the top half through its own mask.
    std::vector<std::u16string> inner = ViewPort({Mask(u"PresetedMask: 96:32:0:0:0")});
    std::vector<std::u16string> lines{u"object O : viewport", u"  Size=96,64"};
    lines.insert(lines.end(), inner.begin(), inner.end());
    const auto outerMask = Mask(u"left.png");
    lines.insert(lines.end(), outerMask.begin(), outerMask.end());
    lines.push_back(u"end");
    TScreen screen;  // outlives the show, whose objects hold its textures
    TShow show(Pictures(), Split(lines));
    auto frame = Render(show, screen);
    auto* innerPort = dynamic_cast<TOrbViewPort*>(&show.Slide->Child(0).Child(0));
    ASSERT_NE(innerPort, nullptr);
    EXPECT_TRUE(innerPort->DrawsNow());
    // The inner mask (96 x 32) is fitted into its 96 x 64 view port: it
    // covers the middle band of rows 16 to 48.
    EXPECT_EQ(Grey(*frame, 20, 32), 255u);
    EXPECT_EQ(Grey(*frame, 70, 32), 0u);
    EXPECT_EQ(Grey(*frame, 20, 4), 0u);
    EXPECT_EQ(Grey(*frame, 20, 60), 0u);
}

}  // namespace
}  // namespace orb
