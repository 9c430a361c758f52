// The packed demo show: it opens as a player file, its show options give the
// expected slides and timing, and everything it names is in its package.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "OrbLib2/NavPanel/qlNavDialogs.h"
#include "OrbLib2/NavPanel/qlNavPanel.h"
#include "OrbLib2/NavPanel/qlThirdSlide.h"
#include "OrbLib2/NavPanel/qlVideoNavBar.h"
#include "OrbLib2/OrbClasses/qlOrbShowSource.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbPackage/qlOrbUnpack.h"
#include "OrbLib2/OrbViewer/qlOrbMusicSource2.h"
#include "ProgramRunner.h"
#include "QlLib/Music/CompositeConverter.h"
#include "QlLib/Music/MusicTypes.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace orb {
namespace {

const char16_t* const kSlideIds[] = {u"Welcome", u"Lake",    u"Bay",   u"Frames",
                                     u"Crops",   u"Spinner", u"Night", u"Gallery",
                                     u"Card",    u"Shapes",  u"End"};

class DemoShow : public ::testing::Test {
protected:
    void SetUp() override {
        TShowOpenResult result = OpenShowFromPlayerFile(ql::FromUtf8(ORB_DEMO_SHOW_PATH));
        ASSERT_TRUE(result.Locator) << ql::ToUtf8(result.Error);
        m_locator = std::move(result.Locator);
        ASSERT_EQ(m_unpack.Open(ql::FromUtf8(ORB_DEMO_SHOW_PATH)), TUnpackResult::Ok);
    }

    // Every object block below a collection, children included.
    static void CollectObjects(const ql::TIniIdentList& list,
                               std::vector<const ql::TIniObject*>& out) {
        for (const ql::TIniObject* object = list.FirstObject(); object;
             object = ql::TIniIdentList::NextObject(*object)) {
            out.push_back(object);
            CollectObjects(*object, out);
        }
    }

    std::vector<const ql::TIniObject*> AllObjects() const {
        std::vector<const ql::TIniObject*> objects;
        for (int32_t i = 1; i <= 11; ++i) {
            const ql::TIniSection* slide =
                m_locator->Project().FindSection(u"slide" + ql::IntToStr(i));
            if (slide) CollectObjects(*slide, objects);
        }
        if (const ql::TIniSection* help = m_locator->Project().FindSection(u"dialog_help"))
            CollectObjects(*help, objects);
        return objects;
    }

    bool InPackage(const std::u16string& name) { return m_unpack.FindEntry(name).has_value(); }

    std::unique_ptr<TOrbShowLocator> m_locator;
    TOrbUnpack m_unpack;
};

TEST_F(DemoShow, Source_HasElevenRepeatingSlidesOfSixSeconds) {
    TOrbSource& source = ShowSource(*m_locator);
    EXPECT_EQ(source.SlideCount(), 11);
    EXPECT_DOUBLE_EQ(source.TotalTime(), 66000.0);
    EXPECT_EQ(source.RepeatMode(), TRepeatMode::Repeat);
    EXPECT_TRUE(source.EffectsEnabled());
    for (int32_t i = 0; i < 11; ++i) {
        const TSlideAtIndex slide = source.SlideInfo(i);
        EXPECT_EQ(slide.Info.SlideId, kSlideIds[i]);
        EXPECT_DOUBLE_EQ(slide.Info.EndTime - slide.Info.BeginTime, 6000.0);
    }
    // The show runs on into a second cycle.
    const TSlideAtIndex again = source.SlideInfo(11);
    EXPECT_EQ(again.Cycle, 1);
    EXPECT_DOUBLE_EQ(again.Info.BeginTime, 66000.0);
}

TEST_F(DemoShow, EveryNamedFile_IsInThePackage) {
    int32_t pictures = 0;
    for (const ql::TIniObject* object : AllObjects()) {
        const std::u16string name = object->ReadString(u"ImageName", u"");
        // Preset masks are made by the player, not stored.
        if (name.empty() || name.rfind(u"PresetedMask: ", 0) == 0) continue;
        ++pictures;
        EXPECT_TRUE(InPackage(name)) << ql::ToUtf8(name);
    }
    EXPECT_GE(pictures, 15);
    // Picture backgrounds and the music.
    for (int32_t i = 1; i <= 11; ++i) {
        const ql::TIniSection* slide = m_locator->Project().FindSection(u"slide" + ql::IntToStr(i));
        ASSERT_TRUE(slide);
        if (slide->ReadInteger(u"bstyle", 0) == 2) {
            EXPECT_TRUE(InPackage(slide->ReadString(u"bname", u"")));
        }
    }
    const ql::TIniSection* main = m_locator->Project().FindSection(u"Main");
    ASSERT_TRUE(main);
    std::vector<const ql::TIniObject*> music;
    CollectObjects(*main, music);
    int32_t sounds = 0;
    for (const ql::TIniObject* object : music) {
        const std::u16string name = object->ReadString(u"FileName", u"");
        if (name.empty()) continue;
        ++sounds;
        EXPECT_TRUE(InPackage(name)) << ql::ToUtf8(name);
    }
    EXPECT_EQ(sounds, 6);
}

TEST_F(DemoShow, Music_IsTwoOverlappingTracksWithFades) {
    TOrbMusicSource music(ShowSource(*m_locator));
    ASSERT_EQ(music.ShowPlayList().Count(), 1);
    EXPECT_TRUE(music.ShowPlayList().Repeat);
    ql::TCompositeParams params;
    ASSERT_TRUE(params.ReadText(music.ShowPlayList()[0].Name));
    EXPECT_EQ(params.Duration, 32000);
    ASSERT_EQ(params.Items.size(), 6u);
    // The melody's four items one after another; the pads from 4 s and 16 s.
    std::vector<int32_t> starts;
    for (const ql::TCompositeItem& item : params.Items) starts.push_back(item.TimeLine);
    EXPECT_EQ(starts, (std::vector<int32_t>{0, 8000, 16000, 24000, 4000, 16000}));
    EXPECT_EQ(params.Items[0].Volumes.Envelopes[0].Points,
              (std::vector<ql::TVolumeItem>{{0, 0}, {1500, 1000}}));
    EXPECT_EQ(params.Items[5].Volumes.Envelopes.size(), 2u);  // level and fade, cross-fade

    // Mixed from the package: both tracks sound together, and nothing clips.
    TOrbShowLocator* locator = m_locator.get();
    ql::TStreamWrapperClass::Instance().SetCallbacks(
        [locator](const std::u16string& name) { return locator->Accessor().OpenStream(name); },
        nullptr);
    std::unique_ptr<ql::TConverterSource> mix = ql::OpenCompositeSource(params.WriteText());
    ASSERT_TRUE(mix);
    std::vector<int16_t> pcm(size_t(32000 * 44.1) * 2);
    EXPECT_EQ(mix->Read(pcm.data(), pcm.size() / 2), pcm.size() / 2);
    mix.reset();
    ql::TStreamWrapperClass::Instance().SetCallbacks(nullptr, nullptr);
    auto peak = [&](double fromMs, double toMs) {
        int value = 0;
        for (size_t i = size_t(fromMs * 44.1) * 2; i < size_t(toMs * 44.1) * 2; ++i)
            value = std::max(value, std::abs(int(pcm[i])));
        return value;
    };
    EXPECT_EQ(pcm[0], 0);
    EXPECT_GT(peak(10000, 12000), 8000);
    EXPECT_LT(peak(0, 32000), 32767);
}

TEST_F(DemoShow, Media_CoverEveryKindThePlayerDecodes) {
    std::set<std::u16string> extensions;
    std::set<std::u16string> names;
    for (const ql::TIniObject* object : AllObjects()) {
        const std::u16string name = object->ReadString(u"ImageName", u"");
        if (name.empty() || name.rfind(u"PresetedMask: ", 0) == 0) continue;
        names.insert(name);
        extensions.insert(name.substr(name.find_last_of(u'.')));
    }
    EXPECT_EQ(extensions, (std::set<std::u16string>{u".jpg", u".png", u".gif"}));
    EXPECT_GE(names.size(), 13u);
}

TEST_F(DemoShow, ObjectIdentities_AreUnique) {
    std::set<std::u16string> guids;
    for (const ql::TIniObject* object : AllObjects()) {
        if (ql::LowerCase(object->ObjectClass()) == u"keypoint") continue;
        const std::u16string guid = object->ReadString(u"GUID", u"");
        ASSERT_FALSE(guid.empty()) << ql::ToUtf8(object->Name());
        EXPECT_TRUE(guids.insert(guid).second) << ql::ToUtf8(guid);
    }
}

TEST_F(DemoShow, CommentsInsideBlocks_LeaveTheirKeysAndKeyPointsReadable) {
    const ql::TIniSection* slide1 = m_locator->Project().FindSection(u"slide1");
    const ql::TIniSection* slide2 = m_locator->Project().FindSection(u"slide2");
    ASSERT_TRUE(slide1 && slide2);
    const ql::TIniObject* lake = slide2->FirstObject();
    ASSERT_TRUE(lake);
    EXPECT_EQ(lake->ReadString(u"FitMode", u""), u"Cover");
    const ql::TIniObject* logo = slide1->FirstObject();
    ASSERT_TRUE(logo);
    int32_t keyPoints = 0;
    for (const ql::TIniObject* child = logo->FirstObject(); child;
         child = ql::TIniIdentList::NextObject(*child)) {
        EXPECT_EQ(ql::LowerCase(child->ObjectClass()), u"keypoint");
        ++keyPoints;
    }
    EXPECT_EQ(keyPoints, 3);
}

// The spinner of slide 6 is an animated GIF: the tool, like the player, shows
// it frame after frame, not its first frame only.
TEST_F(DemoShow, ToolShowsSpinnerGif_AnimatingOverItsSlide) {
    ql::test::TTestFolder folder;
    std::set<std::string> frames;
    for (int time = 31500; time < 33500; time += 250) {
        const ql::test::TProgramRun run =
            ql::test::RunProgram(folder, ORBTOOL_PATH,
                                 "objects " + ql::test::ShellQuote(ORB_DEMO_SHOW_PATH) +
                                     " --time " + std::to_string(time));
        ASSERT_EQ(run.Code, 0) << run.Err;
        // The spinner is the second object of the slide at index 5.
        const size_t line = run.Out.find("{\"slide\":5,\"path\":\"1\"");
        ASSERT_NE(line, std::string::npos) << run.Out;
        const size_t frame = run.Out.find("\"frame\":", line);
        ASSERT_NE(frame, std::string::npos);
        frames.insert(run.Out.substr(frame + 8, run.Out.find(',', frame) - frame - 8));
    }
    EXPECT_GE(frames.size(), 3u);
}

// The lake slide's button: its face from the show's own theme, its caption's
// macros replaced, and the mouse lighting it up and pressing it.
TEST_F(DemoShow, ToolShowsButton_ThemedWithMacrosHoverAndClick) {
    ql::test::TTestFolder folder;
    auto buttonLine = [&](const std::string& mouse) {
        const ql::test::TProgramRun run = ql::test::RunProgram(
            folder, ORBTOOL_PATH,
            "objects " + ql::test::ShellQuote(ORB_DEMO_SHOW_PATH) + " --time 9000 --size 960x540" +
                (mouse.empty() ? "" : " --mouse " + mouse));
        EXPECT_EQ(run.Code, 0) << run.Err;
        const size_t start = run.Out.find("\"kind\":\"button\"");
        if (start == std::string::npos) return std::string();
        return run.Out.substr(start, run.Out.find('\n', start) - start);
    };
    const std::string normal = buttonLine("");
    ASSERT_FALSE(normal.empty());
    EXPECT_NE(normal.find("\"state\":\"normal\""), std::string::npos) << normal;
    EXPECT_NE(normal.find("\"text\":\"Slide 2 of 11  >\""), std::string::npos) << normal;
    EXPECT_NE(normal.find("\"theme\":\"buttons\\\\pill\""), std::string::npos) << normal;
    EXPECT_NE(normal.find("\"face\":\"Button: buttons\\\\pill:0:"), std::string::npos) << normal;

    // The button's centre from its corners ("corners":[[x0,y0],[x1,y1],[x2,y2],...).
    const size_t corners = normal.find("\"corners\":[[");
    ASSERT_NE(corners, std::string::npos);
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    ASSERT_EQ(std::sscanf(normal.c_str() + corners, "\"corners\":[[%lf,%lf],[%lf,%lf],[%lf,%lf]",
                          &x0, &y0, &x1, &y1, &x2, &y2),
              6);
    const std::string centre =
        std::to_string(int((x0 + x2) / 2)) + "," + std::to_string(int((y0 + y2) / 2));
    const std::string hover = buttonLine(centre);
    EXPECT_NE(hover.find("\"state\":\"hover\""), std::string::npos) << hover;
    EXPECT_NE(hover.find("pill:1:"), std::string::npos) << hover;
    const std::string click = buttonLine(centre + ",down");
    EXPECT_NE(click.find("\"state\":\"click\""), std::string::npos) << click;
    EXPECT_NE(click.find("pill:2:"), std::string::npos) << click;
}

// The shapes slide: gradient boxes, a frame, and a view port whose two masks
// (one at 80 percent) drift over a zooming picture, all drawn.
TEST_F(DemoShow, ToolShowsShapesSlide_BoxesFrameAndAMaskedViewPort) {
    ql::test::TTestFolder folder;
    const ql::test::TProgramRun run = ql::test::RunProgram(
        folder, ORBTOOL_PATH,
        "objects " + ql::test::ShellQuote(ORB_DEMO_SHOW_PATH) + " --time 57000 --size 960x540");
    ASSERT_EQ(run.Code, 0) << run.Err;
    auto lineOf = [&](const std::string& kind) {
        const size_t start = run.Out.find("\"kind\":\"" + kind + "\"");
        if (start == std::string::npos) return std::string();
        return run.Out.substr(start, run.Out.find('\n', start) - start);
    };
    const std::string sky = lineOf("box"), card = lineOf("frame"), window = lineOf("viewport");
    // The sky's vertical gradient: colour 1 along the top.
    EXPECT_NE(
        sky.find("\"style\":5,\"colours\":[\"FF102050\",\"FF102050\",\"FF6EA0CD\",\"FF6EA0CD\"]"),
        std::string::npos)
        << sky;
    EXPECT_NE(card.find("\"style\":0,\"colours\":[\"D2FFFFFF\","), std::string::npos) << card;
    EXPECT_NE(window.find("\"draws\":true,\"masks\":[100,80]"), std::string::npos) << window;
    EXPECT_NE(lineOf("mask"), "");
}

TEST_F(DemoShow, ToolShowsClip_OnTheLastSlideWithExactFrames) {
    EXPECT_TRUE(InPackage(u"clip.mp4"));
    ql::test::TTestFolder folder;
    // 1.8 s into the clip, which starts 1.2 s into the last slide (60 s).
    const ql::test::TProgramRun run = ql::test::RunProgram(
        folder, ORBTOOL_PATH,
        "objects " + ql::test::ShellQuote(ORB_DEMO_SHOW_PATH) + " --time 63000 --size 960x540");
    ASSERT_EQ(run.Code, 0) << run.Err;
    const size_t start = run.Out.find("\"kind\":\"video\"");
    ASSERT_NE(start, std::string::npos) << run.Out;
    const std::string clip = run.Out.substr(start, run.Out.find('\n', start) - start);
    EXPECT_NE(clip.find("\"position\":1800,\"videoframe\":45,\"exact\":true,"
                        "\"pixelaspect\":1,\"failure\":0"),
              std::string::npos)
        << clip;
}

TEST_F(DemoShow, Overlay_HasTheLogoAndAButtonBarWithAVideoStyleVariant) {
    TOrbShowLocator* locator = m_locator.get();
    const TNavOpenFile open = [locator](const std::u16string& name) {
        return locator->Accessor().OpenStream(name);
    };
    TThirdSlide overlay(m_locator->Project(), {0, 0, 1920, 1080}, open, {}, 1, 66000, 0);
    ASSERT_NE(overlay.Panel(), nullptr);
    ASSERT_NE(overlay.LogoItem().Picture, nullptr);
    EXPECT_FALSE(overlay.Panel()->Bar()->VideoStyle());
    EXPECT_EQ(overlay.Panel()->Bar()->KnownButtons().size(), 6u);
    // At the bottom, 7 percent of the height, 2 percent in from the edge.
    const ql::TRect panel = overlay.Panel()->Rect();
    EXPECT_EQ(panel.Height(), 76);
    EXPECT_LT(panel.bottom, 1080);
    EXPECT_NEAR((panel.left + panel.right) / 2, 960, 1);
    // The whole bar takes clicks, at any size (317 of 304 pixels wide here).
    TThirdSlide small(m_locator->Project(), {0, 0, 1280, 720}, open, {}, 1, 66000, 0);
    ASSERT_NE(small.Panel(), nullptr);
    EXPECT_EQ(small.Panel()->Rect().Width(), 317);
    EXPECT_EQ(small.Panel()->Clickable(), small.Panel()->Rect());
    // The logo at the top right.
    EXPECT_GT(overlay.LogoItem().Rect.left, 1600);
    EXPECT_LT(overlay.LogoItem().Rect.top, 100);

    // The panel's help button opens the show's help page, which holds the
    // show; its close button sits in the lower middle.
    TDialogBuilder dialogs(ShowSource(*m_locator), m_locator->Accessor(), 0);
    ASSERT_TRUE(dialogs.Setup(1920, 1080));
    std::unique_ptr<TSlideDialog> help = dialogs.Build(u"help");
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->PausesShow());
    std::u16string hover;
    EXPECT_TRUE(help->HitTest(960, 864, &hover));
    EXPECT_EQ(hover, u"TOrbButton");
    EXPECT_EQ(help->Mouse(960, 864, TNavMouseKind::Press, 1).Action.Code, acNone);
    EXPECT_EQ(help->Mouse(960, 864, TNavMouseKind::Release, 1).Action.Code, acCloseDialog);

    TNavPanelOptions options;
    options.DefinitionFile = u"nav\\video-bar.ini";
    options.Buttons = {u"backward", u"forward"};
    options.Position = u"Bottom";
    TNavPanel video(options, {0, 0, 1920, 1080}, open);
    ASSERT_TRUE(video.Load(66000));
    ASSERT_TRUE(video.Bar()->VideoStyle());
    EXPECT_EQ(video.Rect().Width(), 1920);
    EXPECT_FALSE(video.Bar()->Disabled());
}

}  // namespace
}  // namespace orb
