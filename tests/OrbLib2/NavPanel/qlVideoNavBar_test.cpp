#include "OrbLib2/NavPanel/qlVideoNavBar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "NavPanelFixtures.h"

namespace orb {
namespace {

using test::PixelAt;

struct TVideoRig {
    ql::test::TTestFolder folder;
    std::unique_ptr<TNavPictures> pictures;
    TVideoNavBar bar;
    std::vector<int32_t> pressed;
    std::vector<double> seeks, volumes;
    bool playing = true;
    double duration = 60000;

    explicit TVideoRig(int32_t width = 800, int32_t height = 0,
                       std::vector<int32_t> chosen = {0, 1}) {
        test::WriteBarFixtures(folder);
        pictures = std::make_unique<TNavPictures>(test::FolderOpener(folder));
        TCustomNavBar::THooks hooks;
        hooks.ButtonPressed = [this](int32_t index) {
            pressed.push_back(index);
            if (index == -1) playing = !playing;
        };
        hooks.IsPlaying = [this] { return playing; };
        hooks.Duration = [this] { return duration; };
        hooks.Seek = [this](double ms) { seeks.push_back(ms); };
        hooks.VolumeChanged = [this](double v) { volumes.push_back(v); };
        bar.SetHooks(hooks);
        const auto doc = test::Definition(test::VideoBarIni());
        bar.Load(*doc, ql::FromUtf8(folder.Path() + "/video/"), *pictures);
        bar.SetChosenButtons(chosen);
        bar.SetWidth(width);
        if (height > 0) bar.FitToHeight(height);
        bar.Layout();
        bar.Reset();
    }
};

TEST(VideoNavBar, FolderWithoutDelimiter_IsTheUsersError) {
    TNavPictures pictures({});
    TVideoNavBar bar;
    const auto doc = test::Definition(test::VideoBarIni());
    try {
        bar.Load(*doc, u"video", pictures);
        ADD_FAILURE() << "no error";
    } catch (const ENavBarError& e) {
        EXPECT_EQ(e.Message(), "Path delimiter nof found!");
    }
}

TEST(VideoNavBar, Layout_PlacesEveryPartFromBothEdges) {
    struct TCase {
        int32_t width, height;
        double duration, time, volume;
        int32_t t0, t1, d1, sound, timeKnob, volumeKnob;
        double scale;
        bool disabled, longFormat;
        std::u16string text;
    } cases[] = {
        {800, 0, 60000, 90000, 0.5, 92, 598, 694, 700, 97 + 248, 760, 1, false, false,
         u"00:30 / 01:00"},
        // One hour is the long format; a millisecond less is not.
        {800, 0, 3.6e6, 0, 1, 92, 550, 694, 700, 97, 785, 1, false, true, u"00:00:00 / 01:00:00"},
        {800, 0, 3.6e6 - 1, 1.5e6, 0, 92, 598, 694, 700, 97 + 207, 735, 1, false, false,
         u"25:00 / 60:00"},
        // Unusable durations and times put the knob at the start, the text at zero.
        {800, 0, 0, 5000, 0, 92, 598, 694, 700, 97, 735, 1, false, false, u"00:00 / 00:00"},
        {800, 0, -5, 5000, 0, 92, 598, 694, 700, 97, 735, 1, false, false, u"00:00 / 00:00"},
        {800, 0, std::nan(""), 5000, 0, 92, 598, 694, 700, 97, 735, 1, false, false,
         u"00:00 / 00:00"},
        {800, 0, 60000, std::nan(""), 0, 92, 598, 694, 700, 97, 735, 1, false, false,
         u"00:00 / 01:00"},
        {800, 0, 1e300, 1e299, 0, 92, 550, 694, 700, 97 + 45, 735, 1, false, true,
         u"99:59:59 / 99:59:59"},
        // Too narrow at full size: halved once.
        {330, 0, 60000, 0, 0, 56, 218, 266, 272, 58, 292, 0.5, false, false, u"00:00 / 01:00"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.width);
        TVideoRig rig(c.width, c.height);
        rig.duration = c.duration;
        rig.bar.Reset();
        rig.bar.SetVolume(c.volume);
        rig.bar.SetTime(c.time);
        EXPECT_EQ(rig.bar.Disabled(), c.disabled);
        EXPECT_DOUBLE_EQ(rig.bar.Scale(), c.scale);
        EXPECT_EQ(rig.bar.T0(), c.t0);
        EXPECT_EQ(rig.bar.T1(), c.t1);
        EXPECT_EQ(rig.bar.D1(), c.d1);
        EXPECT_EQ(rig.bar.SoundX(), c.sound);
        EXPECT_EQ(rig.bar.TimeKnobX(), c.timeKnob);
        EXPECT_EQ(rig.bar.VolumeKnobX(), c.volumeKnob);
        EXPECT_EQ(rig.bar.LongFormat(), c.longFormat);
        EXPECT_EQ(rig.bar.TimeText(), c.text);
    }
}

TEST(VideoNavBar, Fitting_DisablesWhatCannotFitAndCapsTheHalvings) {
    // The track cannot hold its knob even at full size.
    TVideoRig narrow(250);
    EXPECT_TRUE(narrow.bar.Disabled());
    EXPECT_EQ(narrow.bar.Picture(), nullptr);
    // A tiny scale leaves the unscaled gaps 100 pixels or less: halving would
    // never end, so the bar gives up.
    TVideoRig tiny(140, 1);
    EXPECT_TRUE(tiny.bar.Disabled());
    // A disabled bar ignores input, time and volume.
    tiny.bar.Mouse(TNavMouseKind::Press, 20, 0, true);
    tiny.bar.SetTime(1000);
    EXPECT_TRUE(tiny.pressed.empty());
    // Fitting to a height scales everything.
    TVideoRig half(800, 20);
    EXPECT_DOUBLE_EQ(half.bar.Scale(), 0.5);
    EXPECT_EQ(half.bar.Height(), 20);
    EXPECT_EQ(half.bar.T0(), 12 * 3 + 20);
}

TEST(VideoNavBar, Picture_ShowsTheStateCellsAndTheKnob) {
    TVideoRig rig;
    rig.bar.SetTime(30000);
    const ql::TBitmap& p = *rig.bar.Picture();
    EXPECT_EQ(p.Width(), 800);
    EXPECT_EQ(p.Height(), 40);
    EXPECT_EQ(PixelAt(p, 2, 2), test::kVideoBack);
    EXPECT_EQ(PixelAt(p, 10 + 12, 20), test::kSheetColours[1]);   // playing
    EXPECT_EQ(PixelAt(p, 34 + 12, 20), test::kSheetColours[4]);   // backward
    EXPECT_EQ(PixelAt(p, 58 + 12, 20), test::kSheetColours[5]);   // forward
    EXPECT_EQ(PixelAt(p, 700 + 12, 20), test::kSheetColours[2]);  // an unknown volume is not mute
    EXPECT_EQ(PixelAt(p, 120, 20), test::kLine);
    EXPECT_EQ(PixelAt(p, rig.bar.TimeKnobX(), 20), test::kKnob);
    // Some white digits lie between the track and the sound button.
    int32_t white = 0;
    for (int32_t x = 598; x < 694; ++x)
        for (int32_t y = 14; y < 26; ++y) white += (PixelAt(p, x, y) & 0xFFFFFF) > 0xC0C0C0 ? 1 : 0;
    EXPECT_GT(white, 20);
    // The text is redrawn only when the whole second changes.
    const uint64_t version = rig.bar.PictureVersion();
    rig.bar.SetTime(30000.4);
    EXPECT_EQ(rig.bar.PictureVersion(), version);
    rig.playing = false;
    rig.bar.SetTime(30000.4);
    EXPECT_GT(rig.bar.PictureVersion(), version);
    EXPECT_EQ(PixelAt(*rig.bar.Picture(), 22, 20), test::kSheetColours[0]);  // paused
}

TEST(VideoNavBar, TimeDrag_PausesAndResumesOnlyWhenItWasPlaying) {
    for (bool playingBefore : {true, false}) {
        SCOPED_TRACE(playingBefore);
        TVideoRig rig;
        rig.playing = playingBefore;
        rig.bar.SetTime(0);
        const int32_t knob = rig.bar.TimeKnobX();
        rig.bar.Mouse(TNavMouseKind::Press, knob + 2, 20, true);
        EXPECT_TRUE(rig.bar.Paused());
        rig.bar.Mouse(TNavMouseKind::Move, 97 + 248 + 2, 20,
                      true);     // the middle of the track, less the offset
        rig.bar.SetTime(12345);  // the show's own time does not move a dragged knob
        EXPECT_EQ(rig.bar.TimeKnobX(), 97 + 248);
        rig.bar.Mouse(TNavMouseKind::Move, 5000, 20, true);  // clamped to the end
        rig.bar.Mouse(TNavMouseKind::Release, 97 + 124 + 2, 20, true);
        ASSERT_EQ(rig.seeks.size(), 3u);
        EXPECT_DOUBLE_EQ(rig.seeks[0], 30000);
        EXPECT_DOUBLE_EQ(rig.seeks[1], 60000);
        EXPECT_DOUBLE_EQ(rig.seeks[2], 15000);
        const std::vector<int32_t> want =
            playingBefore ? std::vector<int32_t>{-1, -1} : std::vector<int32_t>{};
        EXPECT_EQ(rig.pressed, want);
        EXPECT_EQ(rig.playing, playingBefore);
        EXPECT_EQ(rig.bar.Paused(), !playingBefore);
    }
}

TEST(VideoNavBar, Buttons_PlayPauseMuteTwiceExtrasAndHover) {
    TVideoRig rig;
    rig.bar.SetVolume(0.75);
    // Hover shows the hover sheet's state; a press the pressed one.
    rig.bar.Mouse(TNavMouseKind::Move, 20, 20, false);
    EXPECT_EQ(rig.bar.State(0), 1);
    rig.bar.Mouse(TNavMouseKind::Move, 40, 20, false);
    EXPECT_EQ(rig.bar.State(0), 0);
    EXPECT_EQ(rig.bar.State(2), 1);
    // Sound button twice: muted, then the volume from before.
    for (int k = 0; k < 2; ++k) {
        rig.bar.Mouse(TNavMouseKind::Press, 710, 20, true);
        EXPECT_EQ(rig.bar.State(1), 2);
        rig.bar.Mouse(TNavMouseKind::Release, 710, 20, true);
    }
    EXPECT_EQ(rig.volumes, (std::vector<double>{0, 0.75}));
    EXPECT_EQ(rig.bar.Volume(), 0.75);
    // Play/pause, then the extra buttons by their index among the known ones.
    rig.bar.Mouse(TNavMouseKind::Press, 15, 20, true);
    rig.bar.Mouse(TNavMouseKind::Release, 15, 20, true);
    EXPECT_TRUE(rig.bar.Paused());
    rig.bar.Mouse(TNavMouseKind::Press, 60, 20, true);
    rig.bar.Mouse(TNavMouseKind::Release, 60, 20, true);
    EXPECT_EQ(rig.pressed, (std::vector<int32_t>{-1, 1}));
    // A volume drag over the volume track.
    rig.bar.Mouse(TNavMouseKind::Press, 735, 20, true);
    rig.bar.Mouse(TNavMouseKind::Release, 785, 20, true);
    EXPECT_EQ(rig.volumes.back(), 1.0);
    // Only "forward" chosen: it sits right after play/pause and shows its own cell.
    TVideoRig one(800, 0, {1});
    EXPECT_EQ(one.bar.ExtraX(), (std::vector<int32_t>{34}));
    EXPECT_EQ(PixelAt(*one.bar.Picture(), 34 + 12, 20), test::kSheetColours[5]);
    one.bar.Mouse(TNavMouseKind::Press, 40, 20, true);
    EXPECT_EQ(one.pressed, (std::vector<int32_t>{1}));
}

}  // namespace
}  // namespace orb
