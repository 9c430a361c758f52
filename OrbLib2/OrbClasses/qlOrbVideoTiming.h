// How a video object follows the show clock: its position in the file for a
// slide time (waiting on the first frame, holding the last, continuing a clip
// across slides), the clip's base time, the pixel aspect of a stream's
// display-aspect code and which field of an interlaced frame is shown.
#pragma once

#include <cstdint>
#include <string_view>

namespace ql {
class TIniIdentList;
}

namespace orb {

enum class TDeinterlaceType : uint8_t { Auto = 0, Wave = 1, BobEven = 2, BobOdd = 3 };

// "Auto", "Wave", "BobEven", "BobOdd" in any case; anything else is Auto.
TDeinterlaceType ParseDeinterlaceType(std::u16string_view text);

// The times of a video object, in ms.
struct TVideoTiming {
    double StartORBTime = 0;    // slide time at which the video starts
    double Duration = 0;        // how long it plays
    double StartVideoTime = 0;  // where in the file it starts
};

// The keys as read, brought within the file's length: a Duration outside
// 0 .. length becomes the length, a StartVideoTime outside it becomes 0.
TVideoTiming ClampVideoTiming(double startOrbTime, double duration, double startVideoTime,
                              double lengthMs);

// The position in the file at slide time t. clipShift is the slide's begin
// time less the clip's base time for a clip running across slides, else 0.
// Before the larger of deltaTime1 and StartORBTime the first frame waits;
// after the end the last frame stays.
double VideoPositionAt(const TVideoTiming& timing, double slideTime, double deltaTime1,
                       double clipShift);

// The base time of a clip: for a StartSlideIdx other than 0 the end of that
// slide ("opt_synchpos" + index of the Main section), else 0.
double ClipBaseTime(int32_t startSlideIdx, const ql::TIniIdentList& main);

// 1 for code 0 (square pixels), height x 1.333333 / width for 1 (4:3) and
// height x 1.777778 / width for 2 (16:9); 1 for any other code or size.
double PixelAspectOf(int32_t aspectCode, int32_t width, int32_t height);

// Which field to show: 0 the whole frame, 1 the top field, 2 the bottom one.
// interlacing is the stream's (0 progressive, 1 top first, 2 bottom first);
// the held frame shows from spanStartMs to spanEndMs, and before its middle
// the first field of the pair is shown, after it the second.
int32_t FieldChoice(TDeinterlaceType type, int32_t interlacing, double positionMs,
                    double spanStartMs, double spanEndMs);

// The time span of frames first .. last at the rate: from (first - 0.5) x
// 1000 / rate to (last + 0.5) x 1000 / rate; (0, 0) without a rate.
struct TFrameSpan {
    double StartMs = 0;
    double EndMs = 0;
};
TFrameSpan FrameSpanOf(int64_t first, int64_t last, double rate);

// A held frame that spans more source frames than ceil(rate / 60) means the
// drawing missed frames: the object is to be redrawn as moved.
bool HeldSpanMovesObject(int64_t first, int64_t last, double rate);

}  // namespace orb
