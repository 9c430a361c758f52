// Paints the photo-like pictures of the large benchmark shows and writes them
// as JPEG files: orbbigpictures FOLDER [COUNT] [WxH]. The size defaults to
// 24 megapixels (6000 x 4000). The same count and size always give the same
// files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "QlLib/Graphics/qlJpegWriter.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"
#include "examples/demo/DemoLandscape.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: orbbigpictures FOLDER [COUNT] [WxH]\n");
        return 2;
    }
    const int count = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 64) : 3;
    int width = 6000, height = 4000;
    if (argc > 3 && (std::sscanf(argv[3], "%dx%d", &width, &height) != 2 || width < 16 ||
                     height < 16 || width > 16384 || height > 16384)) {
        std::fprintf(stderr, "orbbigpictures: WxH wants 16 to 16384 a side\n");
        return 2;
    }
    using orb::demo::TRgb;
    const TRgb noon{255, 250, 225};
    // One picture a line.
    // clang-format off
    std::vector<orb::demo::TLandscapeSpec> specs = {
        {"", 6000, 4000, 31, {38, 92, 170}, {196, 218, 235}, noon, 0.72f, 0.18f, 0.035f, 0.45f, false, 0.42f, 4,
         {120, 140, 170}, {40, 80, 45}, 0.72f, {30, 70, 90}, 14},
        {"", 6000, 4000, 32, {60, 40, 110}, {250, 150, 80}, {255, 210, 120}, 0.5f, 0.4f, 0.05f, 0.35f, false,
         0.52f, 2, {120, 70, 90}, {50, 30, 45}, 0.62f, {80, 40, 60}, 0},
        {"", 6000, 4000, 33, {70, 130, 210}, {210, 230, 240}, noon, 0.25f, 0.15f, 0.03f, 0.55f, false, 0.45f, 4,
         {140, 170, 150}, {70, 130, 50}, 1.0f, {}, 9},
    };
    // clang-format on
    for (int k = 0; k < count; ++k) {
        orb::demo::TLandscapeSpec spec = specs[size_t(k) % specs.size()];
        spec.Seed += uint32_t(k / 3) * 100;
        spec.Width = width;
        spec.Height = height;
        const std::vector<uint8_t> jpeg = ql::EncodeJpeg(*orb::demo::PaintLandscape(spec), 85);
        const std::string name = std::string(argv[1]) + "/big-" + std::to_string(k + 1) + ".jpg";
        ql::TFileStream out(ql::FromUtf8(name), ql::TFileAccess::Write, 0,
                            ql::TFileDisposition::CreateAlways);
        out.WriteBuffer(jpeg.data(), jpeg.size());
        std::printf("%s\t%zu\n", name.c_str(), jpeg.size());
    }
    return 0;
}
