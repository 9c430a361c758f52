#include "OrbLib2/ButtonGenerator2.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <string>

#include "OrbLib2/qlHslShift.h"
#include "QlLib/Graphics/qlImageTransform.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/qpStringUtils.h"

namespace orb {
namespace {

// A 12 x 10 sheet of nine flat regions: columns 0..4 | 4..7 | 7..12, rows
// 0..3 | 3..8 | 8..10. The description below names each region as its part.
constexpr int32_t kColumns[4] = {0, 4, 7, 12}, kRows[4] = {0, 3, 8, 10};
// Colours by (row band, column band).
constexpr uint32_t kRegion[3][3] = {{0xFF100000, 0xFF200000, 0xFF300000},
                                    {0xFF001000, 0xFF002000, 0xFF003000},
                                    {0xFF000010, 0xFF000020, 0xFF000030}};

std::unique_ptr<ql::TBitmap> Sheet() {
    auto sheet = std::make_unique<ql::TDirectBitmap>(12, 10, ql::PfARGB32());
    for (int band = 0; band < 3; ++band)
        for (int col = 0; col < 3; ++col)
            sheet->FillRect({kColumns[col], kRows[band], kColumns[col + 1], kRows[band + 1]},
                            kRegion[band][col]);
    return sheet;
}

std::string Region(int col, int band, const char* file = "sheet.png") {
    return std::string(file) + "," + std::to_string(kColumns[col]) + "," +
           std::to_string(kRows[band]) + "," + std::to_string(kColumns[col + 1]) + "," +
           std::to_string(kRows[band + 1]);
}

std::string StateSection(const char* name, const char* centreFile = "sheet.png") {
    return std::string("[") + name + "]\nLeftTop=" + Region(0, 0) + "\nTop=" + Region(1, 0) +
           "\nRightTop=" + Region(2, 0) + "\nRight=" + Region(2, 1) +
           "\nRightBottom=" + Region(2, 2) + "\nBottom=" + Region(1, 2) +
           "\nLeftBottom=" + Region(0, 2) + "\nLeft=" + Region(0, 1) +
           "\nCenter=" + Region(1, 1, centreFile) + "\n";
}

// Themes by folder: their descriptions; every folder serves the sheet.
struct TThemes {
    std::map<std::u16string, std::string> Descriptions;
    std::atomic<int> PictureOpens{0};

    TButtonThemeFiles Files() {
        TButtonThemeFiles files;
        files.OpenFile = [this](const std::u16string& name) -> std::unique_ptr<ql::TStream> {
            const size_t slash = name.rfind(u'\\');
            const auto found = Descriptions.find(name.substr(0, slash));
            if (found == Descriptions.end() || name.substr(slash + 1) != kButtonThemeDescription)
                return nullptr;
            return std::make_unique<ql::TStringStream>(found->second);
        };
        files.OpenPicture = [this](const std::u16string& name) -> ql::TRef<ql::TBitmapStore> {
            ++PictureOpens;
            if (name.size() < 10 || name.substr(name.size() - 10) != u"\\sheet.png") return nullptr;
            return ql::MakeRef<ql::TWrapperBitmapStore>(Sheet(), name);
        };
        return files;
    }
};

std::string StandardTheme() {
    return StateSection("NormalState") + StateSection("HoverState") +
           StateSection("ClickState", "gone.png") +
           "[TextParams]\nColor=10,20,30\nBtnOffset=2.5\nBtnMinWidth=40\nFiltering=Nearest\n";
}

uint32_t At(ql::TBitmapStore& store, int32_t x, int32_t y) {
    const ql::TBitmap* bitmap = store.GetBitmap(0);
    uint32_t p;
    std::memcpy(&p, bitmap->Row(y) + size_t(x) * 4, 4);
    return p;
}

TEST(ButtonProducer, Description_ReadsPartsTextParamsAndNaturalSize) {
    TThemes themes;
    themes.Descriptions[u"T"] = StandardTheme() + "[HoverState]\nTop=x.png,1,2,three,4,5,6\n";
    TButtonProducerHost host(themes.Files());
    TButtonProducer& producer = host.ProducerFor(u"T");
    ASSERT_TRUE(producer.Loaded());
    EXPECT_EQ(producer.NaturalSize(), (ql::TPoint{12, 10}));
    EXPECT_EQ(producer.CaptionColour(), 0xFF0A141Eu);
    EXPECT_FLOAT_EQ(producer.BtnOffset(), 2.5f);
    EXPECT_FLOAT_EQ(producer.BtnMinWidth(), 40);
    EXPECT_EQ(producer.Filtering(), 0);
    EXPECT_EQ(producer.Parts(bsNormal)[bpRight].Rect, (ql::TRect{7, 3, 12, 8}));
    // A fourth field that is not a number is 0; fields after the fifth are ignored.
    EXPECT_EQ(producer.Parts(bsHover)[bpTop].FileName, u"x.png");
    EXPECT_EQ(producer.Parts(bsHover)[bpTop].Rect, (ql::TRect{1, 2, 0, 4}));
    // A state outside 0 .. 2 is the normal state; a missing key is empty.
    EXPECT_EQ(&producer.Parts(7), &producer.Parts(bsNormal));
    themes.Descriptions[u"U"] = "[NormalState]\n[TextParams]\nColor=255\nFiltering=odd\n";
    TButtonProducer& bare = host.ProducerFor(u"U");
    EXPECT_EQ(bare.Parts(bsNormal)[bpCenter].FileName, u"");
    EXPECT_EQ(bare.Parts(bsNormal)[bpCenter].Rect, ql::TRect{});
    EXPECT_EQ(bare.CaptionColour(), 0xFFFF0000u);  // red in the low byte
    EXPECT_EQ(bare.Filtering(), 2);
}

TEST(ButtonProducer, SameThemeText_GivesTheSameProducer) {
    TThemes themes;
    themes.Descriptions[u"T"] = StandardTheme();
    TButtonProducerHost host(themes.Files());
    TButtonProducer& first = host.ProducerFor(u"T");
    EXPECT_EQ(&host.ProducerFor(u"T"), &first);
    EXPECT_NE(&host.ProducerFor(u"t"), &first);  // exact comparison
    EXPECT_FALSE(host.ProducerFor(u"missing").Loaded());
}

TEST(ButtonProducer, Faces_StretchOnlyTheMiddleAtEveryWidth) {
    TThemes themes;
    themes.Descriptions[u"T"] = StandardTheme();
    TButtonProducerHost host(themes.Files());
    TButtonProducer& producer = host.ProducerFor(u"T");
    // (width asked, width made): narrower than the sides gives the sides.
    const std::pair<int32_t, int32_t> cases[] = {{12, 12}, {40, 40}, {9, 9},         {5, 9},
                                                 {0, 9},   {-3, 9},  {100000, 16384}};
    for (const auto& [asked, made] : cases) {
        SCOPED_TRACE(asked);
        const TButtonFace face = producer.MakeFace(bsHover, asked, 0, 0, 0);
        ASSERT_TRUE(face.Picture);
        EXPECT_TRUE(face.ErrorText.empty());
        EXPECT_EQ(face.Picture->Params().Name, u"Button: T:1:" + ql::IntToStr(asked) + u":0:0:0");
        ASSERT_EQ(face.Picture->Width(), made);
        ASSERT_EQ(face.Picture->Height(), 10);
        for (int32_t y = 0; y < 10; ++y)
            for (int32_t x = 0; x < made; x += (x > 20 && x < made - 20 ? 97 : 1)) {
                const int col = x < 4 ? 0 : x < made - 5 ? 1 : 2, band = y < 3 ? 0 : y < 8 ? 1 : 2;
                ASSERT_EQ(At(*face.Picture, x, y), kRegion[band][col]) << x << "," << y;
            }
    }
    EXPECT_EQ(themes.PictureOpens.load(), 1);  // one sheet, opened once
}

// A face's strip keeps one middle column however wide the face, and each
// level made from it is the whole face halved level by level as a picture
// store halves it, bit for bit.
TEST(ButtonProducer, FaceLevels_AreTheWholeFaceHalvedMadeFromItsStrip) {
    TThemes themes;
    themes.Descriptions[u"T"] = StandardTheme();
    TButtonProducerHost host(themes.Files());
    TButtonProducer& producer = host.ProducerFor(u"T");
    for (const int32_t width : {9, 13, 14, 40, 1001, 4097}) {
        SCOPED_TRACE(width);
        const TButtonFace face = producer.MakeFaceStrip(bsNormal, width, 10, 20, 45);
        ASSERT_TRUE(face.Strip.Columns);
        EXPECT_FALSE(face.Picture);
        EXPECT_LE(face.Strip.Columns->Width(), 13);
        std::unique_ptr<ql::TBitmap> halved = ButtonFaceLevel(face.Strip, 0);
        ASSERT_EQ(halved->Width(), width);
        for (int32_t level = 1; level <= 14; ++level) {
            SCOPED_TRACE(level);
            halved = ql::HalveBitmap(*halved);
            const std::unique_ptr<ql::TBitmap> made = ButtonFaceLevel(face.Strip, level);
            const ql::TPoint size = ql::MipLevelSize(width, 10, level);
            ASSERT_EQ(made->Width(), size.x);
            ASSERT_EQ(made->Height(), size.y);
            ASSERT_EQ(halved->Width(), size.x);
            for (int32_t y = 0; y < size.y; ++y)
                ASSERT_EQ(std::memcmp(made->Row(y), halved->Row(y), size_t(size.x) * 4), 0) << y;
        }
    }
}

TEST(ButtonProducer, ColourShift_AppliesToTheWholeFace) {
    TThemes themes;
    themes.Descriptions[u"T"] = StandardTheme();
    TButtonProducerHost host(themes.Files());
    TButtonProducer& producer = host.ProducerFor(u"T");
    struct TCase {
        int32_t hue, saturation, lightness;
    } cases[] = {{360, 0, 0}, {-90, 0, 0}, {0, -100, 0}, {45, 20, 10}};
    for (const TCase& c : cases) {
        const TButtonFace face = producer.MakeFace(bsNormal, 30, c.lightness, c.saturation, c.hue);
        EXPECT_EQ(face.Picture->Params().Name, u"Button: T:0:30:" + ql::IntToStr(c.hue) + u":" +
                                                   ql::IntToStr(c.saturation) + u":" +
                                                   ql::IntToStr(c.lightness));
        const THslSteps steps = HslSteps({c.hue, c.saturation, c.lightness});
        for (int band = 0; band < 3; ++band)
            for (int col = 0; col < 3; ++col) {
                const uint32_t source = kRegion[band][col];
                const int32_t x = col == 0 ? 0 : col == 1 ? 15 : 29;
                const uint32_t got = At(*face.Picture, x, kRows[band]);
                EXPECT_EQ(got, 0xFF000000 | HslShiftColour(source & 0xFFFFFF, steps));
                const bool grey =
                    (got & 0xFF) == (got >> 8 & 0xFF) && (got & 0xFF) == (got >> 16 & 0xFF);
                EXPECT_EQ(grey, c.saturation == -100) << got;
            }
    }
    // A stop from the progress handler marks the face as partial.
    EXPECT_TRUE(producer.MakeFace(bsNormal, 30, 10, 0, 0, [](float) { return false; }).Cancelled);
}

TEST(ButtonProducer, Failures_GiveErrorPictures) {
    TThemes themes;
    themes.Descriptions[u"T"] = StandardTheme();
    themes.Descriptions[u"Tall"] = "[NormalState]\nBottom=sheet.png,0,0,4,5000\n";
    themes.Descriptions[u"Wide"] =
        "[NormalState]\nLeft=sheet.png,0,0,16000,8\nRight=sheet.png,0,0,1000,8\n"
        "Bottom=sheet.png,0,0,4,10\n";
    TButtonProducerHost host(themes.Files());
    TButtonThemeFiles noPictures = themes.Files();
    noPictures.OpenPicture = nullptr;
    TButtonProducerHost uncached(noPictures);
    TButtonProducer orphan(u"T", nullptr, themes.Files());
    struct TCase {
        TButtonProducer* producer;
        int32_t state;
        std::u16string text;
    } cases[] = {
        {&host.ProducerFor(u"T"), bsClick, u"Incorrect Image: T\\gone.png"},
        {&host.ProducerFor(u"missing"), bsNormal, u"FileOpenError"},
        {&uncached.ProducerFor(u"T"), bsNormal, u"FileOpenError"},
        {&orphan, bsNormal, u"FileOpenError"},
        {&host.ProducerFor(u"Tall"), bsNormal, kButtonSizeError},
        {&host.ProducerFor(u"Wide"), bsNormal, kButtonSizeError},
    };
    for (const TCase& c : cases) {
        const TButtonFace face = c.producer->MakeFace(c.state, 50, 0, 0, 0);
        EXPECT_EQ(face.ErrorText, c.text);
        ASSERT_TRUE(face.Picture);
        EXPECT_GT(face.Picture->Width(), 1);  // the text, rendered
        EXPECT_GT(face.Picture->Height(), 1);
    }
}

TEST(ButtonProducer, PartsOutsideTheirPictures_CopyOnlyWhatExists) {
    TThemes themes;
    // Corners and edges reaching past the sheet, and an inside-out centre.
    themes.Descriptions[u"T"] =
        "[NormalState]\nLeftTop=sheet.png,-5,-5,4,3\nTop=sheet.png,4,0,7,3\nRightTop=sheet.png,7,0,"
        "40,3\n"
        "Right=sheet.png,7,3,12,8\nRightBottom=sheet.png,7,8,12,30\nBottom=sheet.png,4,8,7,10\n"
        "LeftBottom=sheet.png,0,8,4,10\nLeft=sheet.png,0,3,4,8\nCenter=sheet.png,7,3,4,8\n";
    TButtonProducerHost host(themes.Files());
    const TButtonFace face = host.ProducerFor(u"T").MakeFace(bsNormal, 60, 0, 0, 0);
    ASSERT_TRUE(face.ErrorText.empty());
    EXPECT_EQ(At(*face.Picture, 3, 2), kRegion[0][0]);  // the corner still lands one to one
    EXPECT_EQ(At(*face.Picture, 20, 5), 0u);            // the empty centre leaves the face clear
    EXPECT_EQ(At(*face.Picture, 59, 9), kRegion[2][2]);
}

TEST(ButtonFaceName, RoundTrip_KeepsThemesWithColons) {
    const TButtonFaceRequest requests[] = {
        {u"Themes\\aqua", 1, 120, -90, 20, -5},
        {u"C:\\Themes\\aqua", 2, 64, 360, -100, 100},
        {u"", 0, 0, 0, 0, 0},
    };
    for (const TButtonFaceRequest& r : requests) {
        TButtonFaceRequest back;
        ASSERT_TRUE(ParseButtonFacePictureName(ButtonFacePictureName(r), back));
        EXPECT_EQ(back.Theme, r.Theme);
        EXPECT_EQ(std::tie(back.State, back.Width, back.Hue, back.Saturation, back.Lightness),
                  std::tie(r.State, r.Width, r.Hue, r.Saturation, r.Lightness));
    }
    EXPECT_EQ(ButtonFacePictureName(requests[1]), u"Button: C:\\Themes\\aqua:2:64:360:-100:100");
    TButtonFaceRequest odd;
    ASSERT_TRUE(ParseButtonFacePictureName(u"Button: a:b:x:7:y:1:2", odd));
    EXPECT_EQ(odd.Theme, u"a:b");
    EXPECT_EQ(std::tie(odd.State, odd.Width, odd.Hue, odd.Saturation, odd.Lightness),
              std::make_tuple(0, 7, 0, 1, 2));
    EXPECT_FALSE(ParseButtonFacePictureName(u"Button: a:1:2:3:4", odd));
    EXPECT_FALSE(ParseButtonFacePictureName(u"Shadow: a:1:2:3:4:5", odd));
}

TEST(ButtonProducerHost, MakePicture_ServesFaceNames) {
    TThemes themes;
    themes.Descriptions[u"C:\\T"] = StandardTheme();
    TButtonProducerHost host(themes.Files());
    const ql::TRef<ql::TBitmapStore> picture = host.MakePicture(u"Button: C:\\T:0:33:0:0:0");
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Width(), 33);
    EXPECT_EQ(picture->Params().Name, u"Button: C:\\T:0:33:0:0:0");
    EXPECT_FALSE(host.MakePicture(u"Text: x"));
}

TEST(HashBitmaps, ByteLimit_EvictsTheLeastRecentlyUsed) {
    std::atomic<int> opens{0};
    THashBitmaps cache(
        [&](const std::u16string& name) -> ql::TRef<ql::TBitmapStore> {
            ++opens;
            if (name.rfind(u"missing", 0) == 0) return nullptr;
            return ql::MakeRef<ql::TWrapperBitmapStore>(
                std::make_unique<ql::TDirectBitmap>(32, 32, ql::PfARGB32()));
        },
        20000);  // room for four 4 KiB pictures
    EXPECT_FALSE(cache.Get(u"missing"));
    EXPECT_FALSE(cache.Get(u"missing"));
    EXPECT_EQ(opens.load(), 1);  // a missing picture is remembered as missing
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(cache.Get(u"theme" + ql::IntToStr(i) + u"\\a.png"));
        ASSERT_TRUE(cache.Get(u"theme0\\a.png"));  // kept in use, so never the oldest
        EXPECT_LE(cache.Bytes(), cache.ByteLimit());
    }
    const int before = opens.load();
    cache.Get(u"theme0\\a.png");
    cache.Get(u"theme199\\a.png");
    EXPECT_EQ(opens.load(), before);
    cache.Get(u"theme1\\a.png");  // long gone
    EXPECT_EQ(opens.load(), before + 1);
    cache.SetByteLimit(5000);
    EXPECT_LE(cache.Bytes(), 5000);
    EXPECT_LE(cache.Count(), 1u);
}

}  // namespace
}  // namespace orb
