// orbtool render: plays a show through the playback engine on a virtual
// clock and writes every frame (one YUV4MPEG2 stream or numbered PNG files)
// and the music of the same span as WAV, or both as one MP4 file, so that the
// player's output can be compared, measured and watched without a screen.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Orb/OrbTool/orbtoolCommands.h"
#include "Orb/OrbTool/orbtoolDevice.h"
#include "Orb/OrbTool/orbtoolSupport.h"
#include "OrbLib2/3DBasics/qlGlDevice.h"
#include "OrbLib2/3DBasics/qlSoftDevice.h"
#include "OrbLib2/3DEngine/DrawManager3D2.h"
#include "OrbLib2/OrbClasses/qlOrbSource2.h"
#include "OrbLib2/OrbClasses/qlOrbVideo.h"
#include "OrbLib2/OrbPackage/qlOrbShowLocator.h"
#include "OrbLib2/OrbViewer/qlOrbEngine2.h"
#include "OrbLib2/OrbViewer/qlOrbMusicSource2.h"
#include "QlLib/Graphics/qlBitmapStore.h"
#include "QlLib/Graphics/qlPixelFormats.h"
#include "QlLib/Graphics/qlPngWriter.h"
#include "QlLib/Graphics/qlYuvConvert.h"
#include "QlLib/Music/SoundOutput.h"
#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlGlApi.h"
#include "QlLib/Platform/qlGlContext.h"
#include "QlLib/Platform/qlSystemAPI.h"
#include "QlLib/Platform/qlVideoEncoder.h"
#include "QlLib/qlIniStorage.h"
#include "QlLib/qpExceptions.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb {

namespace {

const char kRenderHelp[] =
    "usage: orbtool render SHOW [--size WxH] [--fps N] [--from MS] [--to MS]\n"
    "                      [--device soft|gl] [--crf N] [--preset NAME]\n"
    "                      [--audio-bitrate K] [--picture-memory MIB] [--quiet]\n"
    "                      -o OUT\n"
    "  Plays the show through the playback engine on a virtual clock and writes\n"
    "  every frame from --from (default 0) to --to (default the end of the show),\n"
    "  in show milliseconds: ceil((to - from) x fps / 1000) frames, frame k at\n"
    "  from + k x 1000 / fps. The size defaults to 1280x720 (16 to 8192 a side),\n"
    "  the rate to 30 (1 to 240), the device to soft (gl: OpenGL 3.3, headless).\n"
    "  OUT ending in .mp4: H.264 video (4:2:0, BT.709 from 720 lines up, BT.601\n"
    "  below; the size must be even) at a constant --fps, and the show's music\n"
    "  as 44100 Hz stereo AAC (no audio stream for a show without music), with\n"
    "  the index at the front. --crf N: quality, 0 (best) to 51, default 20;\n"
    "  --preset NAME: the H.264 encoder's speed preset, default medium;\n"
    "  --audio-bitrate K: kbit/s, 32 to 512, default 192. The same show and\n"
    "  options give the same bytes. The file is written under a temporary\n"
    "  name beside OUT and renamed when complete: a failed or interrupted\n"
    "  render leaves no OUT.\n"
    "  OUT ending in .y4m: one YUV4MPEG2 stream, 4:2:0 with JPEG chroma siting\n"
    "  (C420jpeg), BT.601 full range. Any other OUT is a folder (made when\n"
    "  missing) of frame-000000.png, frame-000001.png, ...\n"
    "  Beside a stream or a folder, the music of the span is written as 16-bit\n"
    "  stereo 44100 Hz WAV: OUT without its extension + .wav, or OUT/audio.wav\n"
    "  for a folder.\n"
    "  Pauses at slide ends are let go at once; random choices are fixed, so\n"
    "  two runs write the same frames.\n"
    "  --picture-memory MIB: what decoded and generated pictures may hold\n"
    "  together (1 to 1048576 MiB; default a quarter of the memory the process\n"
    "  may use, at least 256 MiB); past it the least recently used ones not on\n"
    "  screen are let go, and a picture that still does not fit stands in.\n"
    "  --quiet: no progress bar (shown only when stderr is a terminal: frames,\n"
    "  percent, speed as a multiple of real time, time left).\n";

constexpr int32_t kMinSide = 16, kMaxSide = 8192;

int Fail(const std::string& message) {
    return tool::Fail("orbtool render: " + message);
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Full-range BT.601, as JPEG: Y from 0 to 255, chroma centred on 128.
class TY4mWriter {
public:
    TY4mWriter(const std::string& fileName, int32_t width, int32_t height, int32_t fps)
        : m_out(ql::FromUtf8(fileName), ql::TFileAccess::Write, ql::kShareNone,
                ql::TFileDisposition::CreateAlways),
          m_width(width),
          m_height(height) {
        const std::string header = "YUV4MPEG2 W" + std::to_string(width) + " H" +
                                   std::to_string(height) + " F" + std::to_string(fps) +
                                   ":1 Ip A1:1 C420jpeg\n";
        m_out.WriteBuffer(header.data(), header.size());
    }

    // The bytes of one frame's three planes.
    size_t FrameBytes() const {
        const size_t cw = size_t(m_width + 1) / 2, ch = size_t(m_height + 1) / 2;
        return size_t(m_width) * size_t(m_height) + 2 * cw * ch;
    }
    // Converts a band of a frame (see TYuv420Converter::ConvertBand) into
    // `planes`; bands of one frame may be converted on several threads at once.
    void ConvertBand(int32_t first, int32_t end, const uint32_t* rows, size_t stride,
                     std::vector<uint8_t>& planes) const {
        const size_t luma = size_t(m_width) * size_t(m_height);
        const size_t chroma = size_t((m_width + 1) / 2) * size_t((m_height + 1) / 2);
        uint8_t* y = planes.data();
        ql::TYuv420Converter(m_width).ConvertBand(
            reinterpret_cast<const uint8_t*>(rows), stride * 4, m_height, first, end,
            ql::TYuv420Planes{y, y + luma, y + luma + chroma});
    }
    void Write(const std::vector<uint8_t>& planes) {
        static const char kFrame[] = "FRAME\n";
        m_out.WriteBuffer(kFrame, 6);
        m_out.WriteBuffer(planes.data(), planes.size());
    }

private:
    ql::TFileStream m_out;
    int32_t m_width, m_height;
};

// One captured frame: the pixels for the encoder, or a stream's planes.
struct TCapturedFrame {
    std::unique_ptr<ql::TDirectBitmap> pixels;
    std::vector<uint8_t> planes;
};

// Writes the frames and the sound on a thread of its own, in the order they
// come, so that converting, encoding and writing one frame overlap the
// drawing of the next. A few captured frames wait at most; the drawing waits
// for a free one. The first error the writing raises ends the writing and is
// raised again to the drawing side at its next call.
class TFrameWriter {
public:
    using TWriteFrame = std::function<void(const TCapturedFrame&)>;
    using TWriteSound = std::function<void(const std::vector<int16_t>&)>;

    // Frames of `planeBytes` bytes of planes, or else of pixels.
    TFrameWriter(int32_t width, int32_t height, size_t planeBytes, TWriteFrame writeFrame,
                 TWriteSound writeSound)
        : m_writeFrame(std::move(writeFrame)), m_writeSound(std::move(writeSound)) {
        for (TCapturedFrame& frame : m_frames) {
            if (planeBytes > 0)
                frame.planes.resize(planeBytes);
            else
                frame.pixels = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfARGB32());
        }
        m_thread = std::thread([this] { Work(); });
    }
    // Without Finish, what still waits is dropped.
    ~TFrameWriter() {
        {
            std::lock_guard lock(m_lock);
            m_stop = true;
            m_jobs.clear();
        }
        m_changed.notify_all();
        m_thread.join();
    }
    TFrameWriter(const TFrameWriter&) = delete;
    TFrameWriter& operator=(const TFrameWriter&) = delete;

    // The frame the next one is captured into: free once the writer is done
    // with the frame it held before.
    TCapturedFrame& NextFrame() {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] { return m_error || m_framesQueued < kFrames; });
        Check();
        return m_frames[m_framesPushed % kFrames];
    }
    // Queues the samples and then, with `frame`, the bitmap of NextFrame.
    void Push(std::vector<int16_t> samples, bool frame) {
        {
            std::lock_guard lock(m_lock);
            Check();
            m_jobs.push_back({std::move(samples), frame ? m_framesPushed++ % kFrames : -1});
            if (frame) ++m_framesQueued;
        }
        m_changed.notify_all();
    }
    // Returns when everything queued is written.
    void Finish() {
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [&] { return m_error || (m_jobs.empty() && !m_writing); });
        Check();
    }

private:
    static constexpr int32_t kFrames = 2;
    struct TJob {
        std::vector<int16_t> samples;
        int64_t frame;  // index into m_frames, or -1
    };

    void Check() {
        if (m_error) std::rethrow_exception(m_error);
    }

    void Work() {
        for (;;) {
            TJob job;
            {
                std::unique_lock lock(m_lock);
                m_changed.wait(lock, [&] { return m_stop || !m_jobs.empty(); });
                if (m_stop) return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
                m_writing = true;
            }
            std::exception_ptr error;
            try {
                if (!job.samples.empty()) m_writeSound(job.samples);
                if (job.frame >= 0) m_writeFrame(m_frames[size_t(job.frame)]);
            } catch (...) {
                error = std::current_exception();
            }
            {
                std::lock_guard lock(m_lock);
                m_writing = false;
                if (job.frame >= 0) --m_framesQueued;
                if (error) {
                    m_error = error;
                    m_jobs.clear();
                }
            }
            m_changed.notify_all();
        }
    }

    TWriteFrame m_writeFrame;
    TWriteSound m_writeSound;
    TCapturedFrame m_frames[kFrames];
    std::mutex m_lock;  // guards the fields below
    std::condition_variable m_changed;
    std::deque<TJob> m_jobs;
    int64_t m_framesPushed = 0;
    int32_t m_framesQueued = 0;  // pushed and not yet written
    bool m_writing = false;
    bool m_stop = false;
    std::exception_ptr m_error;
    std::thread m_thread;  // last: it starts when everything above is ready
};

// Captures the drawn frame into `frame`: a stream's planes are converted
// band by band as the device finishes them. False without a frame.
bool Capture(T3DDrawer* drawer, const TY4mWriter* y4m, TCapturedFrame& frame) {
    if (!drawer) return false;
    if (!y4m) return drawer->CaptureFrame(*frame.pixels);
    return drawer->CaptureBands(
        [&](int32_t first, int32_t end, const uint32_t* rows, size_t stride) {
            y4m->ConvertBand(first, end, rows, stride, frame.planes);
        });
}

// The planes of a black frame (full range: Y 0, chroma 128).
void BlackPlanes(int32_t width, int32_t height, std::vector<uint8_t>& planes) {
    const size_t luma = size_t(width) * size_t(height);
    std::fill(planes.begin(), planes.begin() + ptrdiff_t(luma), uint8_t(0));
    std::fill(planes.begin() + ptrdiff_t(luma), planes.end(), uint8_t(128));
}

class TWavWriter {
public:
    explicit TWavWriter(const std::string& fileName)
        : m_out(ql::FromUtf8(fileName), ql::TFileAccess::Write, ql::kShareNone,
                ql::TFileDisposition::CreateAlways) {
        const std::vector<uint8_t> header = ql::WavHeader(0);
        m_out.WriteBuffer(header.data(), header.size());
    }
    void Write(const std::vector<int16_t>& samples) {
        m_out.WriteBuffer(samples.data(), samples.size() * 2);
        m_bytes += samples.size() * 2;
    }
    void Finish() {
        m_out.SetPosition(0);
        const std::vector<uint8_t> header = ql::WavHeader(uint32_t(m_bytes));
        m_out.WriteBuffer(header.data(), header.size());
    }

private:
    ql::TFileStream m_out;
    uint64_t m_bytes = 0;
};

// Frames written, percent, speed as a multiple of real time, and time left at
// that speed.
void Progress(int64_t done, int64_t total, int32_t fps, double seconds) {
    const int width = 30;
    const int filled = total > 0 ? int(done * width / total) : width;
    const double speed = seconds > 0 ? double(done) / fps / seconds : 0;
    const double left = done > 0 ? seconds * double(total - done) / double(done) : 0;
    const long long leftS = std::llround(left);
    std::fprintf(stderr, "\r[%s%s] %lld/%lld %3d%% %.2fx %lld:%02lld left ",
                 std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(width - filled), ' ').c_str(), static_cast<long long>(done),
                 static_cast<long long>(total), total > 0 ? int(done * 100 / total) : 100, speed,
                 leftS / 60, leftS % 60);
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

// An interrupt or termination ends the render between frames, so that the
// MP4 writer removes its temporary file instead of leaving half a video.
volatile std::sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
    g_stopSignal = signal;
}

class TStopSignals {
public:
    TStopSignals() {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &m_old[i]);
    }
    ~TStopSignals() {
        for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &m_old[i], nullptr);
    }

private:
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction m_old[3];
};

// Whether anything of the show can sound: its music list, a slide's sound
// comment or personal music.
bool ShowHasSound(TOrbSource& source) {
    const TOrbMusicSource music(source);
    if (music.ShowPlayList().Count() > 0) return true;
    for (const TSlideMusicInfo& slide : music.Slides())
        if (!slide.Comment.empty() || (slide.Personal && slide.Personal->Count() > 0)) return true;
    return false;
}

bool ParseInt(const std::string& text, int32_t low, int32_t high, int32_t& value) {
    const auto parsed = ql::TryStrToInt(ql::FromUtf8(text));
    if (!parsed || *parsed < low || *parsed > high) return false;
    value = int32_t(*parsed);
    return true;
}

}  // namespace

int RunRender(const std::vector<std::string>& args) {
    if (tool::WantsHelp(args)) {
        std::fputs(kRenderHelp, stdout);
        return 0;
    }
    // Frames written to files show every video at the exact frame of its position.
    SetVideoFramesExact(true);
    std::string file, out, deviceName = "soft";
    int32_t width = 1280, height = 720, fps = 30;
    double from = 0, to = -1;
    ql::TVideoEncoderOptions video;
    bool quiet = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--size" && hasValue) {
            const std::string& value = args[++i];
            const size_t x = value.find('x');
            const auto w = ql::TryStrToInt(ql::FromUtf8(value.substr(0, x)));
            const auto h = x == std::string::npos
                               ? std::nullopt
                               : ql::TryStrToInt(ql::FromUtf8(value.substr(x + 1)));
            if (!w || !h || *w < kMinSide || *h < kMinSide || *w > kMaxSide || *h > kMaxSide)
                return Fail("--size wants WxH, each 16 to 8192");
            width = int32_t(*w);
            height = int32_t(*h);
        } else if (a == "--fps" && hasValue) {
            const auto value = ql::TryStrToInt(ql::FromUtf8(args[++i]));
            if (!value || *value < 1 || *value > 240) return Fail("--fps wants 1 to 240");
            fps = int32_t(*value);
        } else if (a == "--from" && hasValue) {
            if (!tool::ParseMs(args[++i], from)) return Fail("bad --from value");
        } else if (a == "--to" && hasValue) {
            if (!tool::ParseMs(args[++i], to)) return Fail("bad --to value");
        } else if (a == "--device" && hasValue) {
            deviceName = args[++i];
        } else if (a == "--crf" && hasValue) {
            if (!ParseInt(args[++i], 0, 51, video.Crf)) return Fail("--crf wants 0 to 51");
        } else if (a == "--preset" && hasValue) {
            video.Preset = args[++i];
        } else if (a == "--audio-bitrate" && hasValue) {
            if (!ParseInt(args[++i], 32, 512, video.AudioBitrate))
                return Fail("--audio-bitrate wants 32 to 512 (kbit/s)");
        } else if (a == "--picture-memory" && hasValue) {
            int32_t mib = 0;
            if (!ParseInt(args[++i], 1, 1 << 20, mib))
                return Fail("--picture-memory wants 1 to 1048576 (MiB)");
            ql::SetPictureMemoryBudget(int64_t(mib) << 20);
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "-o" && hasValue) {
            out = args[++i];
        } else if (file.empty() && !a.empty() && a[0] != '-') {
            file = a;
        } else {
            return Fail("unexpected argument '" + a + "' (try --help)");
        }
    }
    if (file.empty() || out.empty()) return Fail("needs SHOW and -o OUT (try --help)");
    if (deviceName != "soft" && deviceName != "gl")
        return Fail("unknown device '" + deviceName + "'");
    if (to >= 0 && to < from) return Fail("--to lies before --from");
    const bool mp4 = EndsWith(out, ".mp4");
    if (mp4) {
        if (width % 2 || height % 2)
            return Fail("MP4 frames are 4:2:0: --size wants even sides, not " +
                        std::to_string(width) + "x" + std::to_string(height));
        video.Width = width;
        video.Height = height;
        video.Fps = fps;
        // The encoders see the options before the show is even opened.
        const std::string refused = ql::CheckVideoEncoderOptions(video);
        if (!refused.empty()) return Fail(refused);
    }

    SetFixedRandomSeed(1);
    TShowOpenResult opened = OpenShow(ql::FromUtf8(file));
    if (!opened.Locator) return Fail(file + ": " + ql::ToUtf8(opened.Error));
    TOrbShowLocator& show = *opened.Locator;
    try {
        ql::TRef<ql::TRefObj> fileSource(&show.Accessor().Source());
        auto source = std::make_unique<TOrbSource>(fileSource, show.Project(), u"");
        if (to < 0) to = source->TotalTime();
        if (to < from) return Fail("--to lies before --from");
        const double frameMs = 1000.0 / fps;
        const int64_t frames =
            std::max<int64_t>(1, int64_t(std::ceil((to - from) * fps / 1000.0 - 1e-9)));
        if (frames > 10000000) return Fail("span too long");
        int64_t soundFrames = std::llround((to - from) * 44.1);
        if (!mp4 && soundFrames > int64_t(UINT32_MAX / 4 - 64))
            return Fail("span too long for a WAV file");

        // One drawing thread a core: more only take turns, and every turn is a
        // wake-up and a wait (the frames are the same either way).
        const auto threads = int32_t(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
        std::string error;
        std::unique_ptr<TRenderDevice> device =
            tool::MakeDevice(deviceName, width, height, threads, error);
        if (!device) return Fail("device not available: " + error);

        const bool stream = EndsWith(out, ".y4m");
        std::string wavName;
        std::unique_ptr<TY4mWriter> y4m;
        std::unique_ptr<TWavWriter> wav;
        if (mp4) {
            video.Audio = ShowHasSound(*source);
        } else if (stream) {
            wavName = out.substr(0, out.size() - 4) + ".wav";
            y4m = std::make_unique<TY4mWriter>(out, width, height, fps);
        } else {
            const std::u16string folder = ql::FromUtf8(out);
            if (!ql::TFileAPI::DirectoryExists(folder) && !ql::TFileAPI::CreateDirectory(folder))
                return Fail("cannot make the folder " + out);
            wavName = out + "/audio.wav";
        }
        if (!mp4) wav = std::make_unique<TWavWriter>(wavName);

        TVirtualClock clock;
        TOrbEngine engine(*device, CaptureEngineOptions(clock, width, height), false);
        engine.Open(std::move(source), show.Accessor().Copy(), int64_t(std::llround(from)));

        std::vector<int16_t> samples;
        int64_t soundDone = 0;
        // A pass with the clock standing: slides are built and requests taken.
        auto settle = [&] {
            for (int i = 0; i < 40 && !engine.Active() && !engine.State().EndReported; ++i) {
                if (engine.State().Waiting) engine.PostReleaseWait();
                engine.PlayMusicFrames(0);
                engine.FillSlides();
                engine.Step();
            }
        };
        settle();
        // Building is synchronous here: a show without slides by now has none
        // that can be built (the log says why).
        if (engine.LoadedSlides().empty()) return Fail("no slide of the show could be built");

        // Taken before the temporary file exists, so that no interrupt can
        // end the program with it still there. (The other outputs are written
        // as they go, and an interrupt ends them where they are.)
        std::optional<TStopSignals> stopSignals;
        if (mp4) stopSignals.emplace();
        g_stopSignal = 0;
        std::unique_ptr<ql::TVideoEncoder> encoder;
        if (mp4) {
            // The video's sound runs to the end of its last frame, so that both
            // streams end together (the music goes on past --to for that part of
            // a frame, the same samples a longer span would have).
            soundFrames = frames * 44100 / fps;
            encoder = std::make_unique<ql::TVideoEncoder>(out, video);
        }
        auto writeSound = [&](const std::vector<int16_t>& pcm) {
            if (wav) wav->Write(pcm);
            if (encoder) encoder->AddAudio(pcm.data(), pcm.size() / 2);
        };
        // Streams are written beside the drawing; numbered pictures as they come.
        std::unique_ptr<TFrameWriter> writer;
        if (encoder || y4m) {
            std::vector<const uint8_t*> rows(static_cast<size_t>(height));
            auto writeFrame = [&, rows](const TCapturedFrame& frame) mutable {
                if (y4m) {
                    y4m->Write(frame.planes);
                    return;
                }
                for (int32_t y = 0; y < height; ++y) rows[size_t(y)] = frame.pixels->Row(y);
                encoder->AddVideoFrame(rows.data());
            };
            writer = std::make_unique<TFrameWriter>(width, height, y4m ? y4m->FrameBytes() : 0,
                                                    writeFrame, writeSound);
        }
        const auto started = std::chrono::steady_clock::now();
        const bool progress = !quiet && ql::platform::StderrIsTerminal();
        for (int64_t k = 0; k < frames; ++k) {
            if (g_stopSignal) return Fail("interrupted; nothing written");
            const double t = double(k) * frameMs;
            clock.Set(t);
            const int64_t soundTarget = std::min<int64_t>(soundFrames, std::llround(t * 44.1));
            samples.clear();
            engine.PlayMusicFrames(soundTarget - soundDone, &samples);
            soundDone = soundTarget;
            engine.FillSlides();
            engine.Step();
            if (!engine.Active()) settle();
            if (writer) {
                TCapturedFrame& frame = writer->NextFrame();
                if (!Capture(engine.Drawer(), y4m.get(), frame)) {
                    if (frame.pixels)
                        for (int32_t y = 0; y < height; ++y)
                            std::memset(frame.pixels->Row(y), 0, size_t(width) * 4);
                    else
                        BlackPlanes(width, height, frame.planes);
                }
                writer->Push(std::move(samples), true);
                samples = {};
            } else {
                writeSound(samples);
                std::unique_ptr<ql::TBitmap> frame =
                    engine.Drawer() ? engine.Drawer()->CaptureToBitmap() : nullptr;
                if (!frame)
                    frame = std::make_unique<ql::TDirectBitmap>(width, height, ql::PfRGB24());
                char name[32];
                std::snprintf(name, sizeof name, "/frame-%06lld.png", static_cast<long long>(k));
                ql::SavePng(*frame, ql::FromUtf8(out + name));
            }
            if (progress && (k % 10 == 0 || k + 1 == frames))
                Progress(k + 1, frames, fps,
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                             .count());
        }
        samples.clear();
        engine.PlayMusicFrames(soundFrames - soundDone, &samples);
        if (writer) {
            writer->Push(std::move(samples), false);
            writer->Finish();
        } else {
            writeSound(samples);
        }
        if (g_stopSignal) return Fail("interrupted; nothing written");
        if (wav) wav->Finish();
        if (encoder) encoder->Finish();
        std::printf("%lld frames %dx%d at %d fps\n", static_cast<long long>(frames), width, height,
                    fps);
    } catch (const ql::EAssertionFailed&) {
        return tool::kExitError;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return 0;
}

}  // namespace orb
