#include "QlLib/Graphics/qlJpegWriter.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "QlLib/Graphics/qlBitmapStore.h"

namespace ql {

namespace {

// Only plain data crosses the library's error jump (see the decoder).
struct TJpegWrite {
    const uint8_t* const* rows;
    uint32_t width, height;
    int quality;
    unsigned char* out;  // malloc'ed by the library's memory destination
    unsigned long outSize;
};

struct TJpegWriteError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

void OnWriteError(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<TJpegWriteError*>(cinfo->err)->jump, 1);
}

void OnWriteMessage(j_common_ptr, int) {}

bool RunJpegWrite(TJpegWrite& write) {
    jpeg_compress_struct cinfo;
    TJpegWriteError error;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = OnWriteError;
    error.mgr.emit_message = OnWriteMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &write.out, &write.outSize);
    cinfo.image_width = write.width;
    cinfo.image_height = write.height;
    cinfo.input_components = 3;
    // "R8G8B8" rows hold the bytes blue, green, red.
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, write.quality, TRUE);
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(write.rows[cinfo.next_scanline]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

std::vector<uint8_t> EncodeJpeg(const TBitmap& bitmap, int32_t quality) {
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0) throw EImageError("JPEG encoding of an empty bitmap");
    std::unique_ptr<TBitmap> converted;
    const TBitmap* source = &bitmap;
    if (bitmap.PixelFormat() != PfRGB24()) {
        converted = CreateBitmap(bitmap.Width(), bitmap.Height(), PfRGB24(), {}, &bitmap);
        source = converted.get();
    }
    std::vector<const uint8_t*> rows(static_cast<size_t>(source->Height()));
    for (int32_t y = 0; y < source->Height(); ++y) rows[size_t(y)] = source->Row(y);
    TJpegWrite write{rows.data(), uint32_t(source->Width()), uint32_t(source->Height()),
                     std::clamp<int32_t>(quality, 1, 100), nullptr, 0};
    const bool ok = RunJpegWrite(write);
    std::vector<uint8_t> out;
    if (ok && write.out) out.assign(write.out, write.out + write.outSize);
    std::free(write.out);
    if (!ok || out.empty()) throw EImageError("JPEG encoding failed");
    return out;
}

}  // namespace ql
