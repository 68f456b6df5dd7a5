// The response to the device's system-pressure reports: which levels throttle the frame
// rate and how, which are only reported, a refused lock, and the frame rate the device
// really delivers once throttled.
#include <gtest/gtest.h>

#include "support/ScreenFixture.h"

namespace {
const std::string refusal = "The configuration lock was refused (simulated)";
} // namespace

class SystemPressure : public IsolatedScreenFixture {
protected:
    // Loads the screen, then watches the pressure reports itself: registered after the
    // screen's observer, it hears each report after the screen has dealt with it.
    void load() {
        IsolatedScreenFixture::load();
        watch = device->systemPressureStateProperty.observe(
            NSKeyValueObservingOptions::new_, [seen = seen](const NSKeyValueObservedChange<AVCaptureSystemPressureState>&) {
                ++*seen;
                DispatchQueue::main().async([] {}); // wakes the waiting main thread
            });
        printed.clear();
    }
    // Reports `level` as the device does (on its own thread) and waits until the screen
    // has handled it.
    void report(const AVCaptureSystemPressureLevel& level) {
        const int before = seen->load();
        device->reportSystemPressure(level);
        ASSERT_TRUE(runMainUntil([&] { return seen->load() > before; }, std::chrono::seconds(5)));
    }
    void resetFrameDurations() {
        withDeviceLock(*device, [&] {
            device->setActiveVideoMinFrameDuration(CMTime{1, 30});
            device->setActiveVideoMaxFrameDuration(CMTime{1, 30});
        });
    }
    bool frameDurationsAre(CMTime min, CMTime max) {
        return device->activeVideoMinFrameDuration() == min && device->activeVideoMaxFrameDuration() == max;
    }

    std::shared_ptr<std::atomic<int>> seen = std::make_shared<std::atomic<int>>(0);
    std::unique_ptr<NSKeyValueObservation> watch;
};

TEST_F(SystemPressure, NominalAndFairChangeNothing) {
    load();
    resetFrameDurations();
    report(AVCaptureSystemPressureLevelNominal);
    report(AVCaptureSystemPressureLevelFair);
    EXPECT_TRUE(printedExceptFrames().empty());
    EXPECT_TRUE(frameDurationsAre(CMTime{1, 30}, CMTime{1, 30}));
}

TEST_F(SystemPressure, SeriousAndCriticalThrottleToFiveFramesASecond) {
    load();
    const CMTime longest = device->activeFormat().videoSupportedFrameRateRanges.front().maxFrameDuration;
    for (const auto& level : {AVCaptureSystemPressureLevelSerious, AVCaptureSystemPressureLevelCritical}) {
        SCOPED_TRACE(level);
        resetFrameDurations();
        printed.clear();
        report(level);
        EXPECT_EQ(printedExceptFrames(), std::vector<std::string>{"WARNING: Reached elevated system pressure level: " +
                                                            level + ". Throttling frame rate."});
        EXPECT_TRUE(frameDurationsAre(CMTimeMake(1, 5), longest));
        EXPECT_TRUE(lockableFromAnotherThread(*device));
    }
}

TEST_F(SystemPressure, ShutdownAndUnknownLevelsAreOnlyReported) {
    load();
    resetFrameDurations();
    report(AVCaptureSystemPressureLevelShutdown);
    report("xyz");
    EXPECT_EQ(printedExceptFrames(), (std::vector<std::string>{"Session stopped running due to shutdown system pressure level.",
                                                         "system pressure level unknown xyz"}));
    EXPECT_TRUE(frameDurationsAre(CMTime{1, 30}, CMTime{1, 30}));
}

TEST_F(SystemPressure, ARefusedLockIsReportedAndNothingIsThrottled) {
    load();
    resetFrameDurations();
    device->setRefusesConfigurationLock(true);
    report(AVCaptureSystemPressureLevelSerious);
    device->setRefusesConfigurationLock(false);
    EXPECT_EQ(printedExceptFrames(), std::vector<std::string>{"Could not lock device for configuration: " + refusal});
    EXPECT_TRUE(frameDurationsAre(CMTime{1, 30}, CMTime{1, 30}));
    EXPECT_TRUE(lockableFromAnotherThread(*device));
}

TEST_F(SystemPressure, TheThrottleOutlastsThePressureAndHoldsTheDeviceToFiveFramesASecond) {
    load();
    report(AVCaptureSystemPressureLevelSerious);
    report(AVCaptureSystemPressureLevelNominal);
    EXPECT_EQ(device->activeVideoMinFrameDuration(), CMTimeMake(1, 5));

    // Count the frames the device hands over, on a handler of our own.
    struct Frames {
        std::mutex mutex;
        std::vector<double> times;
    };
    auto frames = std::make_shared<Frames>();
    screen->camera->stopCapture();
    NSError error;
    ASSERT_TRUE(device->startStreaming(
        [frames](CMSampleBufferRef sample) {
            {
                std::lock_guard lock(frames->mutex);
                frames->times.push_back(CMTimeGetSeconds(sample->presentationTimeStamp));
            }
            DispatchQueue::main().async([] {});
        },
        &error))
        << error.localizedDescription();
    const size_t wanted = 7; // six intervals: about 1.2 s at five a second
    runMainUntil([&] {
        std::lock_guard lock(frames->mutex);
        return frames->times.size() >= wanted;
    });
    device->stopStreaming();

    std::vector<double> times;
    {
        std::lock_guard lock(frames->mutex);
        times = frames->times;
    }
    ASSERT_GE(times.size(), wanted);
    times.resize(wanted);
    // The device keeps a fixed cadence: a frame may come late, but the next one is due
    // one interval after the late one's time slot, so only the first frame's lateness
    // (less than an interval) can shorten the span.
    EXPECT_GE(times.back() - times.front(), 0.2 * double(wanted - 2) - 0.01)
        << (wanted - 1) << " intervals; unthrottled they would take about a sixth of that";
}
