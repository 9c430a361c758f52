// Opens arbitrary bytes as a video clip through the player's own video source
// and asks for a few frames: first, middle, last, one behind and one past the
// end. Frames stay small and decoding single-threaded, so each input takes
// bounded time; a frame delivered always has the clip's size.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "QlLib/Video/qlWinVideoSource.h"
#include "QlLib/qpFileStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto stream = std::make_unique<ql::TMemoryStream>();
    if (size > 0) stream->WriteBuffer(data, size);
    stream->SetPosition(0);
    ql::TWinVideoSource source;
    ql::TDecoderLimits limits;
    limits.Threads = 1;
    limits.MaxWidth = 512;
    limits.MaxHeight = 512;
    if (source.Open(stream.release(), true, u"fuzz", limits) != ql::TVideoFailure::None) return 0;
    const int64_t count = source.FrameCount();
    if (count <= 0 || !(source.FrameRate() > 0)) __builtin_trap();
    ql::TYuvImage image;
    for (const int64_t n : {int64_t(0), count / 2, count - 1, count / 4, count + 5}) {
        if (!source.GetFrame(n, image)) continue;
        if (image.Width != source.Width() || image.Height != source.Height()) __builtin_trap();
        if (image.Y.size() != size_t(image.Width) * size_t(image.Height)) __builtin_trap();
    }
    return 0;
}
