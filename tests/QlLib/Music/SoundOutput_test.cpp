#include "QlLib/Music/SoundOutput.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <vector>

#include "QlLib/Music/WaveOutDevice.h"
#include "QlLib/SysLock.h"
#include "TestFolder.h"

namespace ql {
namespace {

constexpr uint32_t kGenerous = 10000;

// Writes a running counter and signals once enough frames were asked for.
class TCountingRenderer : public TSoundRenderer {
public:
    explicit TCountingRenderer(uint64_t signalAt) : m_signalAt(signalAt) {}
    void Render(int16_t* samples, size_t frames) override {
        for (size_t i = 0; i < frames; ++i) {
            samples[2 * i] = int16_t(m_next);
            samples[2 * i + 1] = int16_t(-m_next);
            ++m_next;
        }
        if (m_next >= m_signalAt) Enough.Set();
    }
    TEvent Enough;

private:
    uint64_t m_signalAt;
    uint64_t m_next = 0;
};

// Sets an environment variable for the scope of a test.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = ::getenv(name)) m_old = old, m_had = true;
        ::setenv(name, value, 1);
    }
    ~TScopedEnv() {
        if (m_had)
            ::setenv(m_name, m_old.c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

TEST(SoundOutput, WavHeader_Describes16BitStereo44100) {
    const auto h = WavHeader(400);
    ASSERT_EQ(h.size(), 44u);
    EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
    EXPECT_EQ(h[4] | h[5] << 8, 436);
    EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(h[22], 2);
    EXPECT_EQ(h[24] | h[25] << 8 | h[26] << 16, 44100);
    EXPECT_EQ(h[32], 4);
    EXPECT_EQ(h[34], 16);
    EXPECT_EQ(h[40] | h[41] << 8, 400);
}

TEST(SoundOutput, WavFile_WritesWhatTheVirtualClockAllows) {
    test::TTestFolder folder;
    std::atomic<double> now{0};
    TCountingRenderer renderer(4410);
    {
        TWavFileSoundOutput output(folder.WideFile("out.wav"), [&] { return now.load(); });
        ASSERT_TRUE(output.Start(renderer));
        now.store(100);  // 100 ms: 4410 frames are due
        ASSERT_TRUE(renderer.Enough.Wait(kGenerous));
        output.Stop();
        EXPECT_EQ(output.FramesRendered(), 4410u);
        EXPECT_DOUBLE_EQ(output.PlayedMs(), 100.0);
    }
    std::ifstream file(folder.File("out.wav"), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(bytes.size(), 44u + 4410 * 4);
    EXPECT_EQ(bytes[40] | bytes[41] << 8 | bytes[42] << 16, 4410 * 4);
    const auto* samples = reinterpret_cast<const int16_t*>(bytes.data() + 44);
    EXPECT_EQ(samples[2 * 1234], 1234);
    EXPECT_EQ(samples[2 * 1234 + 1], -1234);
}

TEST(SoundOutput, WavFileInAMissingFolder_DoesNotStart) {
    TCountingRenderer renderer(1);
    TWavFileSoundOutput output(u"/nonexistent-folder/x/out.wav");
    EXPECT_FALSE(output.Start(renderer));
}

TEST(SoundOutput, Sdl_WithTheDummyDriver_CallsTheRenderer) {
    TScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    TCountingRenderer renderer(1);
    TSdlSoundOutput output(512, -1);
    if (!output.Start(renderer)) GTEST_SKIP() << "SDL audio cannot start here";
    EXPECT_TRUE(renderer.Enough.Wait(kGenerous));
    EXPECT_GT(output.LatencyMs(), 0.0);
    output.Stop();
}

TEST(SoundOutput, SdlWithoutADevice_FallsBackToTheSilentOutput) {
    TScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    TWaveOutDevice device(std::make_unique<TSdlSoundOutput>());
    EXPECT_TRUE(device.Available());
    EXPECT_EQ(device.Output().Kind(), TSoundOutputKind::Null);
}

}  // namespace
}  // namespace ql
