#include "QlLib/Graphics/qlPngWriter.h"

#include <csetjmp>

#include <png.h>

#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/qpFileStream.h"

namespace ql {

namespace {

struct TPngWrite {
    const uint8_t* const* rows;
    uint32_t width, height;
    int colourType;
    void* out;  // std::vector<uint8_t>
    bool failed;
};

void WriteToVector(png_structp png, png_bytep data, png_size_t count) {
    auto* write = static_cast<TPngWrite*>(png_get_io_ptr(png));
    if (write->failed) return;
    try {
        auto& out = *static_cast<std::vector<uint8_t>*>(write->out);
        out.insert(out.end(), data, data + count);
    } catch (...) {
        write->failed = true;  // checked after the library returns
    }
}

void FlushNothing(png_structp) {}

bool RunPngWrite(TPngWrite& write) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &write, WriteToVector, FlushNothing);
    png_set_IHDR(png, info, write.width, write.height, 8, write.colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_bgr(png);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(write.rows));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return !write.failed;
}

}  // namespace

std::vector<uint8_t> EncodePng(const TBitmap& bitmap) {
    std::unique_ptr<TBitmap> converted;
    const TBitmap* source = &bitmap;
    if (bitmap.PixelFormat() != PfRGB24() && bitmap.PixelFormat() != PfARGB32()) {
        converted = CreateBitmap(bitmap.Width(), bitmap.Height(), PfARGB32(), {}, &bitmap);
        source = converted.get();
    }
    std::vector<const uint8_t*> rows(static_cast<size_t>(source->Height()));
    for (int32_t y = 0; y < source->Height(); ++y) rows[size_t(y)] = source->Row(y);
    std::vector<uint8_t> out;
    TPngWrite write{rows.data(), uint32_t(source->Width()), uint32_t(source->Height()),
                    source->PixelFormat() == PfARGB32() ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, &out,
                    false};
    if (!RunPngWrite(write)) throw EImageError("PNG encoding failed");
    return out;
}

void SavePng(const TBitmap& bitmap, const std::u16string& fileName) {
    const std::vector<uint8_t> png = EncodePng(bitmap);
    TFileStream out(fileName, TFileAccess::Write, 0, TFileDisposition::CreateAlways);
    out.WriteBuffer(png.data(), png.size());
}

}  // namespace ql
