// The response to the device's system-pressure reports: which levels throttle the frame
// rate and how, which are only reported, and a refused lock. (That the device then delivers
// five frames a second is SimulatedCaptureDeviceFrames' to show.)
#include "platform/capture/CaptureTestSupport.h"
#include "support/ScreenFixture.h"

class SystemPressure : public ScreenFixture {
  protected:
    // Loads the screen, then watches the pressure reports itself: registered after the
    // screen's observer, it hears each report after the screen has dealt with it.
    void SetUp() override {
        ScreenFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        load();
        reports.emplace(device->systemPressureStateProperty);
        unthrottle();
        printed.clear();
    }
    void unthrottle() {
        withDeviceLock(*device, [&] {
            device->setActiveVideoMinFrameDuration(CMTime{1, 30});
            device->setActiveVideoMaxFrameDuration(CMTime{1, 30});
        });
    }
    // Reports `level` as the device does (on its own thread) and waits until the screen
    // has handled it.
    void report(const AVCaptureSystemPressureLevel& level) {
        const size_t before = reports->count();
        device->reportSystemPressure(level);
        ASSERT_TRUE(runMainUntil([&] { return reports->count() > before; }, std::chrono::seconds(5)));
    }
    std::pair<CMTime, CMTime> frameDurations() const {
        return {device->activeVideoMinFrameDuration(), device->activeVideoMaxFrameDuration()};
    }

    std::optional<capturetest::ChangeRecorder<AVCaptureSystemPressureState>> reports;
};

TEST_F(SystemPressure, SeriousAndCriticalThrottleToFiveFramesASecondForGoodAndOthersAreOnlyReported) {
    const std::pair<CMTime, CMTime> unthrottled{CMTime{1, 30}, CMTime{1, 30}},
        throttled{CMTimeMake(1, 5),
                  device->activeFormat().videoSupportedFrameRateRanges.front().maxFrameDuration};
    const auto warning = [](const std::string& level) {
        return "WARNING: Reached elevated system pressure level: " + level + ". Throttling frame rate.";
    };
    const std::string noLock = "Could not lock device for configuration: " + refusal;
    struct Case {
        AVCaptureSystemPressureLevel level;
        std::vector<std::string> lines;
        std::pair<CMTime, CMTime> durations;
        bool keepLastThrottle = false, refuseLock = false;
    };
    const Case cases[] = {
        {AVCaptureSystemPressureLevelNominal, {}, unthrottled},
        {AVCaptureSystemPressureLevelFair, {}, unthrottled},
        {AVCaptureSystemPressureLevelShutdown,
         {"Session stopped running due to shutdown system pressure level."},
         unthrottled},
        {"xyz", {"system pressure level unknown xyz"}, unthrottled},
        {AVCaptureSystemPressureLevelSerious, {warning(AVCaptureSystemPressureLevelSerious)}, throttled},
        {AVCaptureSystemPressureLevelNominal, {}, throttled, true}, // the throttle outlasts the pressure
        {AVCaptureSystemPressureLevelCritical, {warning(AVCaptureSystemPressureLevelCritical)}, throttled},
        {AVCaptureSystemPressureLevelSerious, {noLock}, unthrottled, false, true}, // reported, no throttle
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        if (!c.keepLastThrottle)
            unthrottle();
        printed.clear();
        device->setRefusesConfigurationLock(c.refuseLock);
        report(c.level);
        device->setRefusesConfigurationLock(false);
        EXPECT_EQ(printedExceptFrames(), c.lines);
        EXPECT_EQ(frameDurations(), c.durations);
        EXPECT_TRUE(lockableFromAnotherThread(*device));
    }
}
