#include "QlLib/Music/MusicClasses.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "QlLib/Music/ChannelKiller.h"
#include "QlLib/Music/MusicTestSources.h"
#include "QlLib/SysLock.h"
#include "QlLib/qlThreadEventList.h"
#include "WaitSupport.h"

namespace ql {
namespace {

using test::TTestSounds;

constexpr uint32_t kGenerous = 10000;

// A device on the offline output: nothing moves unless the test pulls.
class OfflineDevice : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::make_unique<TMusicPlayerClass>(std::make_unique<TOfflineSoundOutput>(),
                                                     sounds.Factory());
        ASSERT_TRUE(device->Available());
    }
    void TearDown() override {
        device.reset();
        EXPECT_EQ(sounds.Alive.load(), 0);
    }
    // Pulls frames and returns the left samples.
    std::vector<int> PullLeft(size_t frames) {
        std::vector<int16_t> samples(frames * 2);
        EXPECT_EQ(device->Pull(samples.data(), frames), frames);
        std::vector<int> left(frames);
        for (size_t i = 0; i < frames; ++i) {
            left[i] = samples[2 * i];
            EXPECT_EQ(samples[2 * i], samples[2 * i + 1]) << "frame " << i;
        }
        return left;
    }

    TTestSounds sounds;
    std::unique_ptr<TMusicPlayerClass> device;
};

TEST_F(OfflineDevice, FadeIn10ms_ConstantSignal_Spans441Frames) {
    auto channel = device->CreateChannel(u"const:10000:441000", -1);
    ASSERT_TRUE(channel);
    channel->Start(10);
    const auto left = PullLeft(1000);
    EXPECT_EQ(left[0], 0);
    for (int k = 1; k < 441; ++k) {
        EXPECT_NEAR(left[k], 10000.0 * k / 441, 1.0) << "frame " << k;
        EXPECT_GT(left[k], left[k - 1]) << "frame " << k;
    }
    EXPECT_LT(left[440], 10000);
    for (int k = 441; k < 1000; ++k) ASSERT_EQ(left[k], 10000) << "frame " << k;
}

TEST_F(OfflineDevice, FadeOfZeroMs_IsOneFrame) {
    auto channel = device->CreateChannel(u"const:10000:44100", -1);
    ASSERT_TRUE(channel);
    channel->Start(0);
    const auto left = PullLeft(4);
    EXPECT_EQ(left[0], 0);
    EXPECT_EQ(left[1], 10000);
}

TEST_F(OfflineDevice, SeekWhilePlaying_CrossFadesOver441Frames) {
    auto channel = device->CreateChannel(u"count:441000", -1);
    ASSERT_TRUE(channel);
    channel->Start(0);
    PullLeft(1000);       // source frames 0..999 heard (frame 0 at gain 0)
    channel->Seek(1000);  // source frame 44100
    const auto left = PullLeft(1000);
    for (int k = 0; k < 441; ++k) {
        const double g = k / 441.0;
        const double expected = (1000 + k) * (1 - g) + ((44100 + k) % 32768) * g;
        ASSERT_NEAR(left[k], expected, 1.0) << "frame " << k;
    }
    for (int k = 441; k < 1000; ++k) ASSERT_EQ(left[k], (44100 + k) % 32768) << "frame " << k;
    EXPECT_NEAR(channel->Position(), 1000 + 1000 * 1000.0 / 44100, 1e-6);
}

TEST_F(OfflineDevice, Stop_FadesOutAt_Once_AndStartResumesWhereItStopped) {
    auto channel = device->CreateChannel(u"count:441000", -1);
    ASSERT_TRUE(channel);
    channel->Start(0);
    PullLeft(4410);
    channel->Stop(10);
    EXPECT_FALSE(channel->IsPlaying());
    EXPECT_NEAR(channel->Position(), 100.0, 1e-9);
    auto left = PullLeft(1000);
    for (int k = 0; k < 441; ++k) ASSERT_NEAR(left[k], (4410 + k) * (1 - k / 441.0), 1.0) << k;
    for (int k = 441; k < 1000; ++k) ASSERT_EQ(left[k], 0) << k;
    channel->Start(0);
    EXPECT_TRUE(channel->IsPlaying());
    left = PullLeft(10);
    EXPECT_EQ(left[1], 4411);  // a new instance continues from the stop position
}

TEST_F(OfflineDevice, SeekBeforeStart_PlaysFromTheOffset) {
    auto channel = device->CreateChannel(u"count:441000", 500);
    ASSERT_TRUE(channel);
    EXPECT_NEAR(channel->Position(), 500, 1e-9);
    channel->Start(0);
    const auto left = PullLeft(10);
    EXPECT_EQ(left[5], (22050 + 5) % 32768);
}

TEST_F(OfflineDevice, DeviceVolume_ScalesEveryChannel) {
    auto channel = device->CreateChannel(u"const:10000:44100", -1);
    ASSERT_TRUE(channel);
    channel->Start(0);
    device->SetVolume(0.5f);
    auto left = PullLeft(100);
    EXPECT_EQ(left[50], 5000);
    channel->SetVolume(0.5f);
    left = PullLeft(100);
    EXPECT_EQ(left[50], 2500);
    auto later = device->CreateChannel(u"const:10000:44100", -1);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->DeviceScale(), 0.5f);
}

TEST_F(OfflineDevice, LoudChannels_AreClampedNotWrapped) {
    auto a = device->CreateChannel(u"const:30000:44100", -1);
    auto b = device->CreateChannel(u"const:30000:44100", -1);
    auto c = device->CreateChannel(u"const:-30000:44100", -1);
    a->Start(0);
    b->Start(0);
    const auto left = PullLeft(10);
    EXPECT_EQ(left[5], 32767);
    a->Stop(0);
    b->Stop(0);
    c->Start(0);
    PullLeft(10);
    const auto c2 = device->CreateChannel(u"const:-30000:44100", -1);
    c2->Start(0);
    EXPECT_EQ(PullLeft(10)[5], -32768);
}

TEST_F(OfflineDevice, Mono22050Source_IsInterpolatedToStereo44100) {
    auto channel = device->CreateChannel(u"mono22050:1000", -1);
    ASSERT_TRUE(channel);
    EXPECT_NEAR(channel->MediaLength(), 1000 * 1000.0 / 22050, 1e-9);
    channel->Start(0);
    const auto left = PullLeft(2100);
    for (int k = 2; k < 1990; ++k) ASSERT_NEAR(left[k], k / 2.0, 0.5) << k;
    for (int k = 2000; k < 2100; ++k) ASSERT_EQ(left[k], 0) << k;
}

TEST_F(OfflineDevice, SourceEnd_SilencesAndNotifiesOnTheKiller) {
    auto channel = device->CreateChannel(u"const:1000:1000", -1);
    ASSERT_TRUE(channel);
    TEvent ended;
    static_cast<TChannelMusic&>(*channel).SetEndNotification([&] { ended.Set(); });
    channel->Start(0);
    const auto left = PullLeft(1500);
    EXPECT_EQ(left[999], 1000);
    EXPECT_EQ(left[1000], 0);
    PullLeft(10);  // the pass that reports the end
    EXPECT_TRUE(ended.Wait(kGenerous));
    EXPECT_FALSE(channel->IsPlaying());
}

TEST_F(OfflineDevice, UnknownOrFailingName_GivesNoChannel) {
    EXPECT_FALSE(device->CreateChannel(u"missing", -1));
    EXPECT_FALSE(device->CreateChannel(u"throws", -1));
    EXPECT_EQ(device->LiveChannelCount(), 0u);
}

TEST_F(OfflineDevice, DestroyWhileFading_FadeStillRendersThenTheDeviceFreesIt) {
    auto channel = device->CreateChannel(u"const:10000:441000", -1);
    channel->Start(0);
    PullLeft(100);
    channel.reset();  // does not wait: nothing pulls the fade on this output
    EXPECT_EQ(device->OrphanCount(), 1u);
    const auto left = PullLeft(1000);
    EXPECT_EQ(left[0], 10000);
    EXPECT_NEAR(left[220], 5000, 25);
    EXPECT_EQ(left[441], 0);
    PullLeft(10);  // hands the silent orphan to the killer; the device frees
                   // whatever the killer still holds (TearDown checks the sources)
}

TEST_F(OfflineDevice, Clock_IsPulledFramesOver44_1) {
    EXPECT_EQ(device->Clock(), 0.0);
    std::vector<int16_t> block(44100 * 2);
    for (int s = 0; s < 60; ++s) device->Pull(block.data(), 44100);
    EXPECT_DOUBLE_EQ(device->Clock(), 60000.0);
}

TEST(VolumeAttenuation, KnownValues) {
    EXPECT_EQ(VolumeToAttenuation(0.5f), -600);
    EXPECT_EQ(VolumeToAttenuation(0.25f), -1200);
    EXPECT_EQ(VolumeToAttenuation(0.0f), -10000);
    EXPECT_EQ(VolumeToAttenuation(-1.0f), -10000);
    EXPECT_EQ(VolumeToAttenuation(2.0f), 0);
    EXPECT_EQ(VolumeToAttenuation(std::nanf("")), -10000);
    EXPECT_EQ(VolumeToAttenuation(1e-30f), -10000);
    EXPECT_FLOAT_EQ(AttenuationToVolume(-600), 0.5f);
    EXPECT_EQ(AttenuationToVolume(-10000), 0.0f);
}

// Real-time output: the channel and killer threads really run (also the
// ThreadSanitizer target).
class RealTimeDevice : public ::testing::Test {
protected:
    void SetUp() override {
        device = std::make_unique<TMusicPlayerClass>(std::make_unique<TNullSoundOutput>(),
                                                     sounds.Factory());
        ASSERT_TRUE(device->Available());
    }
    void TearDown() override {
        device.reset();
        EXPECT_EQ(sounds.Alive.load(), 0);
    }
    TTestSounds sounds;
    std::unique_ptr<TMusicPlayerClass> device;
};

TEST_F(RealTimeDevice, DestroyWhilePlaying_ReturnsOnceTheKillerFreedTheInstances) {
    auto channel = device->CreateChannel(u"const:1000:441000", -1);
    ASSERT_TRUE(channel);
    channel->Start(10);
    channel->Seek(2000);  // a second instance, the first one fading
    EXPECT_GE(sounds.Alive.load(), 1);
    channel.reset();
    EXPECT_EQ(sounds.Alive.load(), 0);
    EXPECT_EQ(device->OrphanCount(), 0u);
}

TEST_F(RealTimeDevice, SourceEnd_ReachesTheEndNotification) {
    auto channel = device->CreateChannel(u"const:1000:441", -1);
    ASSERT_TRUE(channel);
    TEvent ended;
    static_cast<TChannelMusic&>(*channel).SetEndNotification([&] { ended.Set(); });
    channel->Start(0);
    EXPECT_TRUE(ended.Wait(kGenerous));
}

TEST_F(RealTimeDevice, ManyThreadsDrivingChannels_EndCleanly) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            auto channel = device->CreateChannel(u"count:441000", -1);
            ASSERT_TRUE(channel);
            for (int i = 0; i < 20; ++i) {
                channel->Start(1);
                channel->SetVolume(0.5f + 0.01f * i);
                channel->Seek(100.0 * (i + t));
                channel->Position();
                if (i % 3 == 0) channel->Stop(1);
                device->SetVolume(0.9f);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(device->LiveChannelCount(), 0u);
}

TEST_F(RealTimeDevice, DeviceFreedFirst_LeavesChannelsDetached) {
    auto channel = device->CreateChannel(u"const:1000:441000", -1);
    channel->Start(10);
    device.reset();
    EXPECT_EQ(sounds.Alive.load(), 0);
    channel->Start(10);  // does nothing, and does not crash
    EXPECT_EQ(channel->Owner(), nullptr);
}

TEST_F(RealTimeDevice, Clock_RunsAndNeverGoesBack) {
    // Every reading until the clock has run 100 ms is at least the one before.
    const double first = device->Clock();
    double last = first;
    bool wentBack = false;
    EXPECT_TRUE(test::WaitUntil([&] {
        const double now = device->Clock();
        wentBack = wentBack || now < last;
        last = now;
        return now >= first + 100;
    }));
    EXPECT_FALSE(wentBack);
    EXPECT_GT(last, 0.0);
}

}  // namespace
}  // namespace ql
