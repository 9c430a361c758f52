#include "QlLib/Graphics/qlJpegDecoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "QlLib/Graphics/qlImageBytes.h"

namespace ql {

namespace {

// A progressive file can hold thousands of tiny scans that each cost a pass
// over the whole picture; real encoders write a dozen or so.
constexpr int kMaxScans = 500;
constexpr int kErrTooManyScans = 10000;  // our own code beside the library's
constexpr int kErrWrongSize = 10001;

enum class TJpegStatus { Ok, Error, Cancelled };

// Everything that crosses the library's error jump is plain data: the jump
// skips the frames between the error and RunJpeg, and no C++ object with a
// destructor may live in them or in RunJpeg itself.
struct TJpegRun {
    const uint8_t* data;
    size_t size;
    bool headerOnly;
    int scaleDenom;
    // 3: B, G, R per pixel; 4: B, G, R and an opaque A.
    int bytesPerPixel;
    int expectedWidth, expectedHeight;
    // The row to write top-down row y into (bytesPerPixel bytes per pixel).
    uint8_t* (*row)(void* context, int y);
    // False stops the decode as cancelled. Must not throw.
    bool (*progress)(void* context, float fraction);
    void* context;
    // Results.
    int width, height;
    int errorCode;
};

struct TJpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

struct TJpegProgress {
    jpeg_progress_mgr mgr;
};

void OnError(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr, int) {}  // warnings about damaged data are not worth a log line

void OnProgress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        cinfo->err->msg_code = kErrTooManyScans;
        cinfo->err->error_exit(cinfo);
    }
}

TJpegStatus RunJpeg(TJpegRun& run) {
    jpeg_decompress_struct cinfo;
    TJpegError error;
    TJpegProgress progress;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = OnError;
    error.mgr.emit_message = OnMessage;
    if (setjmp(error.jump)) {
        run.errorCode = error.mgr.msg_code;
        jpeg_destroy_decompress(&cinfo);
        return TJpegStatus::Error;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = long(kMaxBitmapBytes);
    progress.mgr.progress_monitor = OnProgress;
    cinfo.progress = &progress.mgr;
    jpeg_mem_src(&cinfo, run.data, static_cast<unsigned long>(run.size));
    jpeg_read_header(&cinfo, TRUE);
    run.width = int(cinfo.image_width);
    run.height = int(cinfo.image_height);
    if (run.headerOnly) {
        jpeg_destroy_decompress(&cinfo);
        return TJpegStatus::Ok;
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    // Adobe writes CMYK inverted (0 = full ink); others write it plainly.
    const bool inverted = cinfo.saw_Adobe_marker;
    const bool alpha = run.bytesPerPixel == 4;
    cinfo.out_color_space = cmyk ? JCS_CMYK : alpha ? JCS_EXT_BGRA : JCS_EXT_BGR;
    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(run.scaleDenom);
    jpeg_start_decompress(&cinfo);
    if (int(cinfo.output_width) != run.expectedWidth ||
        int(cinfo.output_height) != run.expectedHeight) {
        run.errorCode = kErrWrongSize;
        jpeg_destroy_decompress(&cinfo);
        return TJpegStatus::Error;
    }
    JSAMPARRAY cmykRow = cmyk ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                           JPOOL_IMAGE, cinfo.output_width * 4, 1)
                              : nullptr;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = int(cinfo.output_scanline);
        uint8_t* out = run.row(run.context, y);
        JSAMPROW target = cmyk ? cmykRow[0] : out;
        jpeg_read_scanlines(&cinfo, &target, 1);
        if (cmyk) {
            const unsigned step = unsigned(run.bytesPerPixel);
            for (unsigned x = 0; x < cinfo.output_width; ++x) {
                const uint8_t* p = cmykRow[0] + x * 4;
                const unsigned k = inverted ? p[3] : 255u - p[3];
                for (int c = 0; c < 3; ++c) {
                    const unsigned ink = inverted ? p[c] : 255u - p[c];
                    out[x * step + unsigned(2 - c)] = uint8_t(ink * k / 255u);
                }
                if (alpha) out[x * step + 3] = 0xFF;
            }
        }
        if ((y & 15) == 15 &&
            !run.progress(run.context, float(y + 1) / float(cinfo.output_height))) {
            jpeg_destroy_decompress(&cinfo);
            return TJpegStatus::Cancelled;
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return TJpegStatus::Ok;
}

std::string JpegErrorText(int code) {
    char text[32];
    std::snprintf(text, sizeof text, "JPEG error #%d", code);
    return text;
}

struct TDecodeContext {
    TBitmap* bitmap;
    const TProgressHandler* progress;
};

uint8_t* RowOf(void* context, int y) {
    return static_cast<TDecodeContext*>(context)->bitmap->Row(y);
}

bool ProgressOf(void* context, float fraction) {
    const TProgressHandler& handler = *static_cast<TDecodeContext*>(context)->progress;
    try {
        return !handler || handler(fraction);
    } catch (...) {
        return false;  // an exception must not cross the library's frames
    }
}

}  // namespace

TImageParams TJpegBitmapStore::ReadParams(const std::vector<uint8_t>& data, std::u16string name) {
    TJpegRun run{};
    run.data = data.data();
    run.size = data.size();
    run.headerOnly = true;
    if (RunJpeg(run) != TJpegStatus::Ok) throw EImageError(JpegErrorText(run.errorCode));
    CheckImageSize(run.width, run.height);
    return {std::move(name), run.width, run.height, PfRGB24()};
}

TJpegBitmapStore::TJpegBitmapStore(std::vector<uint8_t> data, std::u16string name,
                                   TTransformHook hook, void* hookContext)
    : TSysBitmapStore(ReadParams(data, std::move(name)), hook, hookContext),
      m_data(std::move(data)) {
    SetLevelsRemade();
}

TLevelResult TJpegBitmapStore::DecodeLevel(int32_t level, std::unique_ptr<TBitmap>& out) {
    return DecodeLevelAs(level, nullptr, out);
}

TLevelResult TJpegBitmapStore::DecodeLevelAs(int32_t level, const TPixelFormat* wanted,
                                             std::unique_ptr<TBitmap>& out) {
    if (level > kMaxScaledLevel) return TLevelResult::Done;  // built by halving
    const TPoint size = MipLevelSize(DecodedWidth(), DecodedHeight(), level);
    // The library writes the opaque four-byte layout itself, as cheaply as
    // the three-byte one: a picture for the textures needs no converted copy.
    const TPixelFormat* format = wanted == PfARGB32() ? PfARGB32() : PfRGB24();
    std::unique_ptr<TBitmap> bitmap = CreateBitmap(size.x, size.y, format);
    TDecodeContext context{bitmap.get(), &ProgressHandler()};
    TJpegRun run{};
    run.data = m_data.data();
    run.size = m_data.size();
    run.scaleDenom = 1 << level;
    run.bytesPerPixel = format == PfARGB32() ? 4 : 3;
    run.expectedWidth = size.x;
    run.expectedHeight = size.y;
    run.row = RowOf;
    run.progress = ProgressOf;
    run.context = &context;
    switch (RunJpeg(run)) {
        case TJpegStatus::Cancelled:
            return TLevelResult::Cancelled;
        case TJpegStatus::Error:
            throw EImageError(JpegErrorText(run.errorCode));
        case TJpegStatus::Ok:
            break;
    }
    if (!ReportProgress(1.0f)) return TLevelResult::Cancelled;
    out = std::move(bitmap);
    return TLevelResult::Done;
}

TRef<TBitmapStore> DecodeJpeg(TStream& stream, const std::u16string& name, TTransformHook hook,
                              void* hookContext) {
    const int64_t start = stream.GetPosition();
    uint8_t soi[2];
    if (PeekBytes(stream, soi, 2) != 2 || soi[0] != 0xFF || soi[1] != 0xD8) return nullptr;
    try {
        return MakeRef<TJpegBitmapStore>(ReadRemaining(stream, kMaxImageFileBytes), name, hook,
                                         hookContext);
    } catch (const Exception&) {
        stream.SetPosition(start);
        throw;
    }
}

}  // namespace ql
