#include "QlLib/Graphics/qlPngDecoder.h"

#include <csetjmp>
#include <cstring>

#include <png.h>

#include "QlLib/Graphics/qlImageBytes.h"

namespace ql {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
// Text and other ancillary chunks are not ours to keep; bounding them keeps a
// hostile file from making libpng allocate without end.
constexpr png_alloc_size_t kMaxChunkBytes = 64u * 1024 * 1024;

// Plain data only crosses libpng's error jump (see RunPng).
struct TPngRun {
    const uint8_t* data;
    size_t size;
    size_t pos;
    bool headerOnly;
    uint8_t** rows;  // top-down, filled by the caller when not headerOnly
    // Results.
    uint32_t width, height;
    bool alpha;
    const char* error;
};

void ReadFromRun(png_structp png, png_bytep out, png_size_t count) {
    auto* run = static_cast<TPngRun*>(png_get_io_ptr(png));
    if (count > run->size - run->pos) png_error(png, "PNG data truncated");
    std::memcpy(out, run->data + run->pos, count);
    run->pos += count;
}

void OnPngError(png_structp png, png_const_charp message) {
    auto* run = static_cast<TPngRun*>(png_get_error_ptr(png));
    run->error = "PNG data damaged";
    (void)message;
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// No C++ object with a destructor lives here: libpng's errors jump back into
// this frame from deep inside the library.
bool RunPng(TPngRun& run) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &run, OnPngError, OnPngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_user_limits(png, uint32_t(kMaxBitmapSide), uint32_t(kMaxBitmapSide));
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_set_chunk_cache_max(png, 1000);
    png_set_read_fn(png, &run, ReadFromRun);
    png_read_info(png, info);
    run.width = png_get_image_width(png, info);
    run.height = png_get_image_height(png, info);
    const int colourType = png_get_color_type(png, info);
    run.alpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    if (run.headerOnly) {
        png_destroy_read_struct(&png, &info, nullptr);
        return true;
    }
    png_set_expand(png);  // palette, low grey depths and tRNS to full channels
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_channels(png, info) != (run.alpha ? 4 : 3)) png_error(png, "unexpected channels");
    png_read_image(png, run.rows);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

bool IsPngSignature(const uint8_t* data, size_t size) {
    return size >= 8 && std::memcmp(data, kSignature, 8) == 0;
}

TImageParams TImageLibStore::ReadParams(const std::vector<uint8_t>& data, std::u16string name) {
    TPngRun run{};
    run.data = data.data();
    run.size = data.size();
    run.headerOnly = true;
    if (!RunPng(run)) throw EImageError(run.error ? run.error : "PNG data damaged");
    CheckImageSize(run.width, run.height);
    return {std::move(name), int32_t(run.width), int32_t(run.height),
            run.alpha ? PfARGB32() : PfRGB24()};
}

TImageLibStore::TImageLibStore(std::vector<uint8_t> data, std::u16string name, TTransformHook hook,
                               void* hookContext)
    : TSysBitmapStore(ReadParams(data, std::move(name)), hook, hookContext),
      m_data(std::move(data)) {
    SetLevelsRemade();
}

TLevelResult TImageLibStore::DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) {
    if (level != 0) return TLevelResult::Done;
    std::unique_ptr<TBitmap> bitmap = CreateBitmap(DecodedWidth(), DecodedHeight(), Format());
    std::vector<uint8_t*> rows(static_cast<size_t>(DecodedHeight()));
    for (int32_t y = 0; y < DecodedHeight(); ++y) rows[size_t(y)] = bitmap->Row(y);
    TPngRun run{};
    run.data = m_data.data();
    run.size = m_data.size();
    run.rows = rows.data();
    if (!RunPng(run) || run.width != uint32_t(DecodedWidth()) ||
        run.height != uint32_t(DecodedHeight()))
        throw EImageError(run.error ? run.error : "PNG data damaged");
    out = std::move(bitmap);
    return TLevelResult::Done;
}

TRef<TBitmapStore> DecodePng(TStream& stream, const std::u16string& name, TTransformHook hook,
                             void* hookContext) {
    const int64_t start = stream.GetPosition();
    uint8_t signature[8];
    if (PeekBytes(stream, signature, 8) != 8 || !IsPngSignature(signature, 8)) return nullptr;
    try {
        return MakeRef<TImageLibStore>(ReadRemaining(stream, kMaxImageFileBytes), name, hook,
                                       hookContext);
    } catch (const Exception&) {
        stream.SetPosition(start);
        throw;
    }
}

}  // namespace ql
