// Decoding a 6000 x 4000 JPEG at levels 0 to 3. The library scales inside its
// inverse DCT, so level 2 (1500 x 1000) should cost well under half of level 0.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

#include "QlLib/Graphics/qlJpegDecoder.h"

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

// A synthetic photograph: smooth gradients with some texture, quality 90.
const std::vector<uint8_t>& BigJpeg() {
    static const std::vector<uint8_t> bytes = [] {
        jpeg_compress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        unsigned char* out = nullptr;
        unsigned long outSize = 0;
        jpeg_mem_dest(&cinfo, &out, &outSize);
        cinfo.image_width = kWidth;
        cinfo.image_height = kHeight;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 90, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        std::vector<uint8_t> row(kWidth * 3);
        uint32_t noise = 12345;
        while (cinfo.next_scanline < cinfo.image_height) {
            const int y = int(cinfo.next_scanline);
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1103515245u + 12345u;
                const int grain = int((noise >> 16) & 7);
                row[size_t(x) * 3] = uint8_t((x * 255 / kWidth + grain) & 255);
                row[size_t(x) * 3 + 1] = uint8_t((y * 255 / kHeight + grain) & 255);
                row[size_t(x) * 3 + 2] = uint8_t(((x ^ y) & 64 ? 180 : 60) + grain);
            }
            JSAMPROW rows[1] = {row.data()};
            jpeg_write_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_compress(&cinfo);
        std::vector<uint8_t> result(out, out + outSize);
        jpeg_destroy_compress(&cinfo);
        std::free(out);
        return result;
    }();
    return bytes;
}

void BM_JpegDecodeLevel(benchmark::State& state) {
    const int32_t level = int32_t(state.range(0));
    const std::vector<uint8_t>& jpeg = BigJpeg();
    for (auto _ : state) {
        // A new store each time: a store decodes each level once.
        auto store = ql::MakeRef<ql::TJpegBitmapStore>(jpeg, u"big.jpg", nullptr, nullptr);
        ql::TBitmap* bitmap = store->GetBitmap(level);
        benchmark::DoNotOptimize(bitmap->Row(0));
    }
    state.counters["width"] = double(ql::MipLevelSize(kWidth, kHeight, level).x);
    state.counters["jpeg_MB"] = double(jpeg.size()) / 1e6;
}
BENCHMARK(BM_JpegDecodeLevel)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
