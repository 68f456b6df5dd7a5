// The virtual camera as a device: the configuration lock, the threads things happen on,
// frame numbering and pacing, and streaming start and stop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <semaphore>
#include <set>

#include "../CaptureTestSupport.h"
#include "capture/virtual/VirtualCaptureDevice.h"
#include "dispatch/DispatchQueue.h"

using namespace capturetest;
using namespace std::chrono_literals;

namespace {

// A simulated device looking at a grey card: frames cost next to nothing, so what is
// measured is the pacing, not the rendering.
class GreyCard : public FrameSource {
  public:
    CVPixelBufferRef render(const SensorSettings&) override {
        return CVPixelBuffer::make(
            640, 480, [](uint8_t* rgba, size_t stride) { std::memset(rgba, 128, stride * 480); });
    }
    double meteredBrightness(const SensorSettings&) const override { return 0.18; }
    float sharpLensPosition(const SensorSettings&) const override { return 0.5f; }
};

class GreyCardDevice final : public SimulatedCaptureDevice {
  public:
    GreyCardDevice() : SimulatedCaptureDevice("Grey Card", std::make_unique<GreyCard>()) {}
    ~GreyCardDevice() override { shutDown(); }
};

} // namespace

TEST(VirtualCaptureDeviceLockDeathTest, EveryWriteWithoutTheLockAborts) {
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    VirtualCaptureDevice d;
    // clang-format off
    const std::function<void()> writes[] = {
        [&] { d.setFocusMode(AVCaptureFocusMode::locked); },
        [&] { d.setFocusModeLockedWithLensPosition(0.2f, nullptr); },
        [&] { d.setExposureMode(AVCaptureExposureMode::locked); },
        [&] { d.setExposureTargetBias(1.0f, nullptr); },
        [&] { d.setExposureModeCustomWithDuration(CMTime{1, 100}, 200, nullptr); },
        [&] { d.setVideoZoomFactor(2.0); },
        [&] { d.setActiveVideoMinFrameDuration(CMTime{1, 5}); },
        [&] { d.setActiveVideoMaxFrameDuration(CMTime{1, 1}); },
        // A refused lock leaves nothing to unlock.
        [&] { d.setRefusesConfigurationLock(true), d.unlockForConfiguration(); },
    };
    // clang-format on
    for (const auto& write : writes)
        EXPECT_DEATH(write(), "called without holding the configuration lock");
}

TEST(VirtualCaptureDeviceThreads, HandlersAndPressureOnTheDeviceThreadAndFramesOnAnotherAcrossRestarts) {
    VirtualCaptureDevice device;
    Recording<std::string> handlers; // the queue each completion handler ran on
    auto handler = [handlers](CMTime syncTime) mutable {
        DispatchQueue* queue = DispatchQueue::current();
        handlers.add(syncTime.isValid() && queue ? queue->label() : "?");
    };
    ChangeRecorder<AVCaptureSystemPressureState> pressure(device.systemPressureStateProperty);
    // A mode report refreshes the sliders from the values: by then those must be the new
    // ones (the lens, then the duration in seconds plus the ISO).
    std::vector<double> seen;
    auto lens = [&](auto&) { seen.push_back(device.lensPosition()); };
    auto custom = [&](auto&) { seen.push_back(CMTimeGetSeconds(device.exposureDuration()) + device.ISO()); };
    auto focusToken = device.focusModeProperty.observe(NSKeyValueObservingOptions::new_, lens);
    auto exposureToken = device.exposureModeProperty.observe(NSKeyValueObservingOptions::new_, custom);
    configure(device, [&] {
        device.setFocusModeLockedWithLensPosition(0.3f, handler);
        device.setExposureTargetBias(1.5f, handler);
        device.setExposureModeCustomWithDuration(CMTime{1, 250}, 400, handler);
    });
    ASSERT_TRUE(handlers.waitFor(3));
    EXPECT_EQ(handlers.values(), (std::vector<std::string>{"device", "device", "device"}));
    EXPECT_THAT(seen, testing::Pointwise(testing::DoubleNear(1e-6), {0.3, 400.004}));

    device.reportSystemPressure(AVCaptureSystemPressureLevelSerious);
    ASSERT_TRUE(pressure.waitFor(1));
    EXPECT_EQ(pressure.values().front().level, AVCaptureSystemPressureLevelSerious);
    EXPECT_EQ(pressure.threads().front(), handlers.threads().front());

    // Frames: fresh, numbered, in time order, from one other thread, across restarts.
    FrameRecorder frames;
    ASSERT_TRUE(device.startStreaming(frames.handler(), nullptr));
    ASSERT_TRUE(frames.waitFor(20));
    device.stopStreaming();
    const size_t beforeRestart = frames.count();
    ASSERT_TRUE(device.startStreaming(frames.handler(), nullptr));
    ASSERT_TRUE(frames.waitFor(beforeRestart + 20));
    device.stopStreaming();
    auto arrivals = frames.values();
    auto threads = frames.threads();
    std::set<const void*> storages;
    for (size_t i = 0; i < arrivals.size(); ++i) {
        const auto& sample = arrivals[i].sample;
        ASSERT_EQ(std::pair(sample->imageBuffer->width(), sample->imageBuffer->height()),
                  std::pair(640, 480));
        EXPECT_EQ(sample->frameNumber, i + 1); // numbering goes on across restarts
        EXPECT_NE(threads[i], std::this_thread::get_id());
        EXPECT_EQ(threads[i], threads[0]);
        storages.insert(sample->imageBuffer->storage().get());
        auto previous = i ? arrivals[i - 1].sample->presentationTimeStamp : CMTime{0, 1};
        EXPECT_GT(CMTimeCompare(sample->presentationTimeStamp, previous), 0);
    }
    EXPECT_EQ(storages.size(), arrivals.size()); // a fresh buffer every frame
}

TEST(SimulatedCaptureDeviceFrames, RateFollowsTheActiveMinimumFrameDuration) {
    GreyCardDevice device;
    FrameRecorder frames;
    ASSERT_TRUE(device.startStreaming(frames.handler(), nullptr));
    ASSERT_TRUE(frames.waitFor(40));
    // About 30: never above, and not far below even on a busy machine.
    using testing::AllOf, testing::Gt, testing::Lt;
    EXPECT_THAT(rateOf(frames.values(), 3), AllOf(Gt(20.0), Lt(31.0)));

    // What the pressure response does: at most five frames a second from now on.
    configure(device, [&] {
        device.setActiveVideoMinFrameDuration(CMTime{1, 5});
        device.setActiveVideoMaxFrameDuration(CMTime{1, 1});
    });
    const size_t throttledFrom = frames.count() + 1;    // a frame may already be on its way
    ASSERT_TRUE(frames.waitFor(throttledFrom + 7, 5s)); // 1.2 s of throttled frames
    EXPECT_THAT(rateOf(frames.values(), throttledFrom), AllOf(Gt(4.2), Lt(5.2)));

    // Unlimited frames ignore the durations, the throttle still set among them.
    device.setUnlimitedFrameRate(true);
    const size_t unlimitedFrom = frames.count() + 1;
    ASSERT_TRUE(frames.waitFor(unlimitedFrom + 40, 5s));
    EXPECT_GT(rateOf(frames.values(), unlimitedFrom), 20.0);
    device.stopStreaming();
}

TEST(VirtualCaptureDeviceStreaming, StopReturnsWhileADeliveryWaits) {
    std::binary_semaphore entered(0), release(0), finished(0);
    std::atomic<int> deliveries{0};
    std::atomic<bool> releasedInTime{false};
    VirtualCaptureDevice device;
    // The first delivery waits for the test thread, as a frame waiting on the main queue would.
    ASSERT_TRUE(device.startStreaming(
        [&](CMSampleBufferRef) {
            if (deliveries++)
                return;
            entered.release();
            releasedInTime = release.try_acquire_for(5s);
            finished.release();
        },
        nullptr));
    ASSERT_TRUE(entered.try_acquire_for(5s));
    device.stopStreaming(); // must not wait for the blocked delivery
    EXPECT_FALSE(device.isStreaming());
    release.release();
    ASSERT_TRUE(finished.try_acquire_for(5s));
    EXPECT_TRUE(releasedInTime);
}
