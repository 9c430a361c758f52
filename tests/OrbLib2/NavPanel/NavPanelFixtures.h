// Bar definition files and their pictures, written by the tests into a
// temporary folder: a button bar ("bar/bar.ini") and a video-style bar
// ("video/bar.ini"), each with pictures of plain colour blocks so that a test
// can tell by a pixel which texture was drawn where.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "IniTestSupport.h"
#include "OrbLib2/NavPanel/qlNavBar.h"
#include "QlLib/Graphics/qlBitmap.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"
#include "TestFolder.h"

namespace orb::test {

// Colours of the fixture pictures ("A8R8G8B8").
constexpr uint32_t kCellBg = 0xFF202020, kBtnNormal = 0xFFC00000, kBtnHover = 0xFF00C000,
                   kBtnPressed = 0xFF0000C0, kIcon = 0xFFFFFF00, kPlayIcon = 0xFF00FFFF;
constexpr uint32_t kVideoBack = 0xFF303030, kLine = 0xFF808080, kKnob = 0xFFFFFFFF;
constexpr uint32_t kSheetColours[6] = {0xFF100000, 0xFF200000, 0xFF300000,
                                       0xFF400000, 0xFF500000, 0xFF600000};

inline void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// A picture of vertical blocks, each `blockWidth` wide, in the given colours.
inline void WriteBlocksPng(const std::string& path, int32_t blockWidth, int32_t height,
                           std::initializer_list<uint32_t> colours) {
    ql::TDirectBitmap bitmap(blockWidth * int32_t(colours.size()), height, ql::PfARGB32());
    int32_t k = 0;
    for (uint32_t c : colours) {
        bitmap.FillRect({k * blockWidth, 0, (k + 1) * blockWidth, height}, c);
        ++k;
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ql::SavePng(bitmap, ql::FromUtf8(path));
}

inline uint32_t PixelAt(const ql::TBitmap& bitmap, int32_t x, int32_t y) {
    uint32_t p = 0;
    bitmap.GetPixels32(x, y, 1, &p, 1, 0);
    return p;
}

// The button bar: three columns of one row; the middle one holds the buttons,
// each 24 x 24 with a 16 x 16 icon. Extra lines go at the end (they may
// repeat a section to change a key).
inline std::string ButtonBarIni(const std::string& extra = {}) {
    std::string actions;
    for (const char* name : {"pause", "forward", "exit", "help", "bogus"})
        actions += std::string("[ACTION-") + name + "]\nActionType=" + name +
                   "\nBtnTextureNormalBounds=0,0,16,16\nflnm_BtnTextureNormal=icon.png\n"
                   "flnm_BtnTextureNormalPlay=play.png\n"
                   "BgTextureNormalBounds=0,0,24,24\nBgTextureHoverBounds=24,0,24,24\n"
                   "BgTexturePressedBounds=48,0,24,24\nflnm_BgTextureNormal=btnbg.png\n";
    return "[Common]\nVideoStyle=0\nColsCount=3\nRowsCount=1\n"
           "[CellWithObjects]\nCell=2,1\nLeftOffset=4\nTopOffset=3\nRightOffset=4\nBottomOffset=3\n"
           "[Cell(1:1)]\nBounds=0,0,10,30\nflnm_Texture=cell.png\n"
           "[Cell(2:1)]\nTextureType=repeat\nBounds=0,0,8,30\nflnm_Texture=cell.png\n"
           "[Cell(3:1)]\nBounds=0,0,12,30\nflnm_Texture=cell.png\n"
           "[Objects]\nCount=3\n[Object1]\nSpace=2\nShiftPressed=1\n[Object2]\nSpace=2\nGrayNormal="
           "1\n"
           "[Object3]\nSpace=0\n" +
           actions + extra;
}

// The video bar: 400 x 40 natural size, 24 x 24 buttons, 8 x 12 digits, a
// 10 x 14 knob.
inline std::string VideoBarIni(const std::string& extra = {}) {
    return "[Common]\nVideoStyle=1\nBgLeft=4\nBgRight=4\nflnm_back=vback.png\n"
           "[Pixel positions]\nBarSize=400,40\nBtnSize=24,24\nDigitSize=8,12\nTrackHeight=6\n"
           "VolumeControlLength=60\nLeftSpace=10\nButtonsTrackSpace=10\nTrackDigitsSpace=6\n"
           "DigitsSoundBtnSpace=6\nSoundBtnTrackSpace=6\nRightSpace=10\n"
           "[Trackbar]\nTrackLineLeft=2\nTrackLineRight=2\nflnm_Line=line.png\nflnm_Polzun=knob."
           "png\n"
           "[Buttons]\nflnm_Normal=sheet.png\nflnm_Hover=sheet.png\nflnm_Click=sheet.png\n" +
           extra;
}

// Writes both bars and their pictures under folder: "bar/" and "video/".
inline void WriteBarFixtures(const ql::test::TTestFolder& folder,
                             const std::string& buttonExtra = {},
                             const std::string& videoExtra = {}) {
    WriteText(folder.File("bar/bar.ini"), ButtonBarIni(buttonExtra));
    WriteBlocksPng(folder.File("bar/cell.png"), 8, 30, {kCellBg});
    WriteBlocksPng(folder.File("bar/btnbg.png"), 24, 24, {kBtnNormal, kBtnHover, kBtnPressed});
    WriteBlocksPng(folder.File("bar/icon.png"), 16, 16, {kIcon});
    WriteBlocksPng(folder.File("bar/play.png"), 16, 16, {kPlayIcon});
    WriteText(folder.File("video/bar.ini"), VideoBarIni(videoExtra));
    WriteBlocksPng(folder.File("video/vback.png"), 20, 40, {kVideoBack});
    WriteBlocksPng(folder.File("video/line.png"), 20, 6, {kLine});
    WriteBlocksPng(folder.File("video/knob.png"), 10, 14, {kKnob});
    WriteBlocksPng(folder.File("video/sheet.png"), 24, 24,
                   {kSheetColours[0], kSheetColours[1], kSheetColours[2], kSheetColours[3],
                    kSheetColours[4], kSheetColours[5]});
}

// Opens files of the folder by name ("/" or "\" separated).
inline TNavOpenFile FolderOpener(const ql::test::TTestFolder& folder) {
    const std::string root = folder.Path() + "/";
    return [root](const std::u16string& name) -> std::unique_ptr<ql::TStream> {
        std::string path = ql::ToUtf8(name);
        for (char& c : path)
            if (c == '\\') c = '/';
        if (path.rfind(root, 0) != 0) path = root + path;
        if (!std::filesystem::is_regular_file(path)) return nullptr;
        return std::make_unique<ql::TFileStream>(ql::FromUtf8(path), ql::TFileAccess::Read,
                                                 ql::kShareRead,
                                                 ql::TFileDisposition::OpenExisting);
    };
}

// A definition document from text.
inline std::unique_ptr<ql::TIniFile> Definition(const std::string& text) {
    return ql::test::DocumentFromText(text);
}

}  // namespace orb::test
