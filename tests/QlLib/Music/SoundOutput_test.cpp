#include "QlLib/Music/SoundOutput.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
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

// A sound device the test plugs in and pulls out: it plays in real time
// while present and reports itself lost once pulled.
struct TFakeSocket {
    std::atomic<bool> Present{false};
    std::atomic<int32_t> Opens{0};
};

class TFakeDeviceOutput : public TPacedSoundOutput {
public:
    explicit TFakeDeviceOutput(TFakeSocket& socket) : m_socket(socket) {}
    ~TFakeDeviceOutput() override { Stop(); }
    TSoundOutputKind Kind() const override { return TSoundOutputKind::Sdl; }
    bool Lost() const override { return !m_socket.Present.load(); }

protected:
    bool Open() override {
        if (!m_socket.Present.load()) return false;
        ++m_socket.Opens;
        return true;
    }

private:
    TFakeSocket& m_socket;
};

TEST(SoundOutput, Failover_TheClockRunsOnWhileTheDeviceComesAndGoes) {
    TFakeSocket socket;
    TCountingRenderer renderer(UINT64_MAX);
    TFailoverSoundOutput output([&socket] { return std::make_unique<TFakeDeviceOutput>(socket); },
                                10);
    ASSERT_TRUE(output.Start(renderer));  // no device yet: silence
    EXPECT_FALSE(output.OnDevice());

    // Waits until the output is (or is not) on the device, checking on the
    // way that the clock never runs back and keeps running.
    double last = 0;
    auto waitFor = [&](bool onDevice) {
        const double start = output.PlayedMs();
        for (int i = 0; i < 2000; ++i) {
            const double now = output.PlayedMs();
            EXPECT_GE(now, last);
            last = now;
            if (output.OnDevice() == onDevice && now > start + 30) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    };
    EXPECT_TRUE(waitFor(false));
    socket.Present = true;  // plugged in
    EXPECT_TRUE(waitFor(true));
    EXPECT_EQ(socket.Opens.load(), 1);
    socket.Present = false;  // pulled out
    EXPECT_TRUE(waitFor(false));
    socket.Present = true;  // back
    EXPECT_TRUE(waitFor(true));
    EXPECT_EQ(socket.Opens.load(), 2);
    output.Stop();
}

}  // namespace
}  // namespace ql
