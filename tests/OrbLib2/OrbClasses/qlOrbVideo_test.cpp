#include "OrbLib2/OrbClasses/qlOrbVideo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OrbLib2/OrbClasses/ObjectShowSupport.h"
#include "OrbLib2/OrbClasses/qlOrbTextMacros.h"
#include "QlLib/Video/VideoClipSupport.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

using test::TShow;

// 100 numbered frames, 25 a second: H.264 with B-frames in MP4.
std::string Clip() {
    const std::vector<uint8_t> bytes =
        ql::test::MakeNumberedClip({"libx264", "mp4", 160, 96, 100, 25, 1, 25, 3, 0});
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::u16string> VideoBlock(const std::u16string& type,
                                       const std::vector<std::u16string>& keys) {
    std::vector<std::u16string> lines{u"object V : " + type};
    lines.insert(lines.end(), keys.begin(), keys.end());
    lines.push_back(u"end");
    return lines;
}

TOrbVideo& VideoAt(TShow& show, int index) {
    auto* video = dynamic_cast<TOrbVideo*>(&show.Slide->Child(index));
    EXPECT_NE(video, nullptr);
    return *video;
}

TEST(OrbVideo, PackagedClip_FollowsTheSlideTimeWithExactFrames) {
    const std::string clip = Clip();
    if (clip.empty()) GTEST_SKIP() << "libx264 missing";
    TShow show({{u"clips/a.mp4", clip, 0}},
               VideoBlock(u"video", {u"  FileName=clips/a.mp4", u"  StartORBTime=2000",
                                     u"  Duration=3000", u"  StartVideoTime=1000"}));
    TOrbVideo& video = VideoAt(show, 0);
    EXPECT_EQ(video.FailureCode(), 0);
    EXPECT_EQ(video.Width(), 160);
    EXPECT_EQ(video.Height(), 96);
    EXPECT_DOUBLE_EQ(video.PixelAspect(), 1);
    struct TCase {
        double SlideTime;
        double Position;
    };
    const TCase cases[] = {{1000, 1000}, {2000, 1000}, {3200, 2200}, {5000, 4000}, {9000, 4000}};
    for (const TCase& c : cases) {
        show.Slide->SetTime(true, c.SlideTime);
        EXPECT_DOUBLE_EQ(video.Position(), c.Position) << c.SlideTime;
        video.SyncFrame(true);
        EXPECT_TRUE(video.HeldExact()) << c.SlideTime;
        // The end of the file holds the last frame.
        EXPECT_EQ(video.HeldFrame(), std::min<int64_t>(int64_t(c.Position * 25 / 1000), 99))
            << c.SlideTime;
    }
}

TEST(OrbVideo, Keys_AreBroughtWithinTheFile) {
    const std::string clip = Clip();
    if (clip.empty()) GTEST_SKIP() << "libx264 missing";
    TShow show(
        {{u"a.mp4", clip, 0}},
        VideoBlock(u"video", {u"  FileName=a.mp4", u"  Duration=99999", u"  StartVideoTime=99999",
                              u"  DeinterlaceType=bobodd", u"  Mute=1", u"  WaitForConvert=1"}));
    const TOrbVideo& video = VideoAt(show, 0);
    EXPECT_DOUBLE_EQ(video.Timing().Duration, 4000);  // the file's length
    EXPECT_DOUBLE_EQ(video.Timing().StartVideoTime, 0);
    EXPECT_EQ(video.DeinterlaceType(), TDeinterlaceType::BobOdd);
    EXPECT_TRUE(video.Mute());
    EXPECT_TRUE(video.WaitForConvert());
    EXPECT_FALSE(video.MainVideo());
}

TEST(OrbVideo, UnplayableFiles_GiveTheirFailureCodeAStandInAndNoFrame) {
    struct TCase {
        const char* Name;
        std::string Bytes;  // empty: no such entry
        int32_t Failure;
    };
    const TCase cases[] = {
        {"missing", "", 2},
        {"noise", std::string(3000, 'x'), 2},
    };
    for (const TCase& c : cases) {
        std::vector<test::TTestEntry> entries;
        if (!c.Bytes.empty()) entries.push_back({u"v.mp4", c.Bytes, 0});
        TShow show(entries, VideoBlock(u"video", {u"  FileName=v.mp4"}));
        TOrbVideo& video = VideoAt(show, 0);
        EXPECT_EQ(video.FailureCode(), c.Failure) << c.Name;
        // The stand-in's size.
        EXPECT_GT(video.Width(), 0) << c.Name;
        EXPECT_GT(video.Height(), 0) << c.Name;
        show.Slide->SetTime(true, 500);
        video.SyncFrame(true);
        EXPECT_EQ(video.HeldFrame(), -2) << c.Name;
    }
}

TEST(OrbVideo, MainVideo_TheLastMarkedOneKeepsTheFlag) {
    std::vector<std::u16string> lines = VideoBlock(u"mainvideo", {});
    const std::vector<std::u16string> second = VideoBlock(u"mainvideo", {});
    lines.insert(lines.end(), second.begin(), second.end());
    TShow show({}, lines);
    EXPECT_FALSE(VideoAt(show, 0).MainVideo());
    EXPECT_TRUE(VideoAt(show, 1).MainVideo());
}

// The bars of a frame as the screen shows them: light above 128 in green.
int64_t ScreenNumber(const ql::TBitmap& frame) {
    std::vector<uint8_t> luma(96 * 64);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 96; ++x)
            luma[size_t(y) * 96 + size_t(x)] = uint8_t((test::Pixel(frame, x, y) >> 8) & 0xFF);
    return ql::test::ReadFrameNumber(luma.data(), 96, 64, 96);
}

TEST(OrbVideo, ExactMode_DrawsTheFrameOfThePositionOnTheSoftwareDevice) {
    const std::vector<uint8_t> bytes =
        ql::test::MakeNumberedClip({"libx264", "mp4", 96, 64, 100, 25, 1, 25, 3, 0});
    if (bytes.empty()) GTEST_SKIP() << "libx264 missing";
    // The drawer outlives the show, whose video gives its frame back to it.
    test::TScreen screen;
    TShow show({{u"a.mp4", std::string(bytes.begin(), bytes.end()), 0}},
               VideoBlock(u"video", {u"  FileName=a.mp4", u"  Duration=4000"}));
    SetVideoFramesExact(true);
    for (const double t : {0.0, 1000.0, 1040.0, 2600.0, 400.0}) {
        show.Slide->SetTime(true, t);
        show.Slide->AttachDrawer(screen.drawer);
        const auto frame = screen.Frame(*show.Slide);
        EXPECT_EQ(ScreenNumber(*frame), int64_t(t * 25 / 1000)) << t;
        EXPECT_TRUE(VideoAt(show, 0).HeldExact()) << t;
    }
    SetVideoFramesExact(false);
}

TEST(OrbVideo, InterlacedClip_DrawsTheChosenFieldLineDoubled) {
    ql::test::TClipSpec spec{"mpeg2video", "mpegts", 96, 64, 50, 25, 1, 12, 0, 0};
    spec.Interlaced = true;
    const std::vector<uint8_t> bytes = ql::test::MakeNumberedClip(spec);
    if (bytes.empty()) GTEST_SKIP() << "mpeg2video or mpegts missing";
    // Frame 25 spans 980 .. 1020 ms: its first field shows before 1000, its
    // second after. The top field spells 25, the bottom one 255 - 25; both
    // at once (the whole frame) spell nothing.
    struct TCase {
        const char16_t* Type;
        double Time;
        int64_t Number;
    };
    const TCase cases[] = {
        {u"Auto", 990, 25},      {u"Auto", 1010, 230},  {u"BobEven", 990, 25},
        {u"BobEven", 1010, 230}, {u"BobOdd", 990, 230}, {u"BobOdd", 1010, 25},
        {u"Wave", 990, -1},      {u"Wave", 1010, -1},
    };
    SetVideoFramesExact(true);
    for (const TCase& c : cases) {
        test::TScreen screen;
        TShow show({{u"a.ts", std::string(bytes.begin(), bytes.end()), 0}},
                   VideoBlock(u"video", {u"  FileName=a.ts", u"  Duration=2000",
                                         std::u16string(u"  DeinterlaceType=") + c.Type}));
        TOrbVideo& video = VideoAt(show, 0);
        ASSERT_EQ(video.FailureCode(), 0);
        EXPECT_EQ(video.Wrapper()->Info().Interlacing, 1);
        show.Slide->SetTime(true, c.Time);
        show.Slide->AttachDrawer(screen.drawer);
        const auto frame = screen.Frame(*show.Slide);
        EXPECT_EQ(video.HeldFrame(), 25) << ql::ToUtf8(c.Type) << " " << c.Time;
        EXPECT_EQ(ScreenNumber(*frame), c.Number) << ql::ToUtf8(c.Type) << " " << c.Time;
    }
    SetVideoFramesExact(false);
}

TEST(OrbVideo, MainVideo_ServesTheNameAndSizeMacrosWithoutAMainImage) {
    const std::string clip = Clip();
    if (clip.empty()) GTEST_SKIP() << "libx264 missing";
    std::vector<std::u16string> lines{u"object T : text", u"  Text=\"x\"", u"end"};
    const std::vector<std::u16string> video = VideoBlock(u"mainvideo", {u"  FileName=a.mp4"});
    lines.insert(lines.end(), video.begin(), video.end());
    TShow show({{u"a.mp4", clip, 0}}, lines);
    const std::vector<std::u16string> replaced =
        ReplaceTextMacros(show.Text(0), {u"<%MainImg.Width%>x<%MainImg.Height%>",
                                         u"<%MainImg.PathNameExt%>", u"<%MainImg.FileName%>"});
    ASSERT_EQ(replaced.size(), 3u);
    EXPECT_EQ(replaced[0], u"160x96");
    EXPECT_EQ(replaced[1], u"a.mp4");
    EXPECT_EQ(replaced[2], u"a");
}

TEST(VideoWrapperList, OneWrapperPerIdentity_LeavingWithItsLastUser) {
    TVideoWrapperList list;
    ql::TRef<TExtractorWrapper> a = list.Acquire(VideoWrapperIdentity(0, u"{clip}"));
    ql::TRef<TExtractorWrapper> b = list.Acquire(VideoWrapperIdentity(0, u"{clip}"));
    ql::TRef<TExtractorWrapper> c = list.Acquire(VideoWrapperIdentity(1, u"{clip}"));
    EXPECT_EQ(a.Get(), b.Get());
    EXPECT_NE(a.Get(), c.Get());
    EXPECT_EQ(a->Identity(), u"0:{clip}");
    EXPECT_EQ(list.Count(), 2u);
    a.Reset();
    EXPECT_EQ(list.Count(), 2u);
    b.Reset();
    EXPECT_EQ(list.Count(), 1u);
    c.Reset();
    EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace orb
