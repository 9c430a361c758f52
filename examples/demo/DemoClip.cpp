#include "examples/demo/DemoClip.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "QlLib/Platform/qlFileAPI.h"
#include "QlLib/Platform/qlVideoEncoder.h"
#include "QlLib/qpFileStream.h"
#include "QlLib/qpStringUtils.h"

namespace orb::demo {

namespace {

constexpr int32_t kRate = 44100;

// A dusk sky with a sun crossing it over a dark sea; the sun's reflection
// trembles, so every frame differs from the one before.
void PaintFrame(int32_t frame, std::vector<uint32_t>& pixels) {
    const double t = double(frame) / double(kClipFrames - 1);
    const double sunX = 60 + t * (kClipWidth - 120),
                 sunY = 150 - 90 * std::sin(t * std::numbers::pi);
    const int32_t horizon = kClipHeight * 2 / 3;
    for (int32_t y = 0; y < kClipHeight; ++y)
        for (int32_t x = 0; x < kClipWidth; ++x) {
            double r, g, b;
            if (y < horizon) {
                const double k = double(y) / horizon;
                r = 40 + 200 * k, g = 30 + 90 * k, b = 110 - 40 * k;
                const double d = std::hypot(x - sunX, y - sunY);
                const double glow = std::clamp(1.0 - d / 28.0, 0.0, 1.0);
                r += (255 - r) * glow, g += (220 - g) * glow, b += (120 - b) * glow;
            } else {
                const double k = double(y - horizon) / (kClipHeight - horizon);
                r = 20 + 20 * k, g = 30 + 20 * k, b = 70 + 30 * k;
                const double wave = std::sin(0.35 * y + 0.6 * frame) * 6;
                if (std::fabs(x - sunX - wave) < 14 * (1.0 - k)) r += 120, g += 90, b += 30;
            }
            auto byte = [](double v) { return uint32_t(std::clamp(v, 0.0, 255.0)); };
            pixels[size_t(y) * kClipWidth + size_t(x)] =
                0xFF000000u | byte(r) << 16 | byte(g) << 8 | byte(b);
        }
}

// A soft chime on each second: a decaying sine with its octave.
int16_t ChimeSample(int64_t i) {
    static constexpr double kNotes[] = {523.25, 659.25, 783.99, 1046.5};
    const int64_t second = i / kRate;
    const double local = double(i % kRate) / kRate;
    const double f = kNotes[second % 4];
    const double envelope = std::exp(-4.0 * local) * std::min(1.0, local * 200.0);
    const double v = 0.25 * envelope *
                     (std::sin(2 * std::numbers::pi * f * local) +
                      0.3 * std::sin(4 * std::numbers::pi * f * local));
    return int16_t(std::lround(std::clamp(v, -1.0, 1.0) * 32000));
}

}  // namespace

std::vector<uint8_t> MakeDemoClip(const std::u16string& folder) {
    const std::u16string name = folder + u"/clip-encoding.mp4";
    {
        ql::TVideoEncoderOptions options;
        options.Width = kClipWidth;
        options.Height = kClipHeight;
        options.Fps = kClipFps;
        options.Crf = 23;
        options.Preset = "veryfast";
        options.AudioBitrate = 128;
        ql::TVideoEncoder encoder(ql::ToUtf8(name), options);
        std::vector<uint32_t> pixels(size_t(kClipWidth) * kClipHeight);
        std::vector<const uint8_t*> rows(kClipHeight);
        for (int32_t y = 0; y < kClipHeight; ++y)
            rows[size_t(y)] =
                reinterpret_cast<const uint8_t*>(pixels.data() + size_t(y) * kClipWidth);
        const int64_t perFrame = kRate / kClipFps;
        std::vector<int16_t> samples(size_t(perFrame) * 2);
        for (int32_t frame = 0; frame < kClipFrames; ++frame) {
            PaintFrame(frame, pixels);
            encoder.AddVideoFrame(rows.data());
            for (int64_t i = 0; i < perFrame; ++i) {
                const int16_t s = ChimeSample(frame * perFrame + i);
                samples[size_t(2 * i)] = s;
                samples[size_t(2 * i + 1)] = s;
            }
            encoder.AddAudio(samples.data(), size_t(perFrame));
        }
        encoder.Finish();
    }
    std::vector<uint8_t> bytes;
    {
        ql::TFileStream in(name, ql::TFileAccess::Read, ql::kShareRead,
                           ql::TFileDisposition::OpenExisting);
        bytes.resize(size_t(in.GetSize()));
        in.ReadBuffer(bytes.data(), bytes.size());
    }
    ql::TFileAPI::DeleteFile(name);
    return bytes;
}

}  // namespace orb::demo
