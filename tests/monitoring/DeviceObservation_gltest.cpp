// Observation of the capture device: what registering delivers, re-registering on a
// filter change, removal, and the readouts and refreshes that device changes cause,
// whichever thread makes them.
#include <thread>

#include "support/ScreenFixture.h"

namespace {
// Observers on each observed property, in registration order.
std::vector<size_t> observersPerProperty(AVCaptureDevice& d) {
    return {d.systemPressureStateProperty.observerCount(), d.focusModeProperty.observerCount(),
            d.lensPositionProperty.observerCount(),        d.videoZoomFactorProperty.observerCount(),
            d.exposureModeProperty.observerCount(),        d.exposureTargetBiasProperty.observerCount(),
            d.exposureDurationProperty.observerCount(),    d.isoProperty.observerCount(),
            d.whiteBalanceModeProperty.observerCount()};
}

// Runs `change` on a thread of its own, as the device's own changes come.
template <typename Change> void offMainThread(Change change) {
    std::thread(change).join();
}
} // namespace

class DeviceObservation : public ScreenFixture {
  protected:
    // Sets `label` aside, lets `change` happen off the main thread, and returns what the
    // label shows once the main queue has brought the readout.
    template <typename Change> std::string readoutAfter(UILabel* label, Change change) {
        DispatchQueue::main().drain(); // readouts of earlier changes
        label->setText("-");
        offMainThread(change);
        runMainUntil([&] { return label->text() != "-"; }, std::chrono::seconds(2));
        return label->text();
    }
    // Continuous focus and automatic exposure, the modes each change of which is reported.
    void selectAutomaticModes() {
        withDeviceLock(*device, [&] {
            device->setFocusMode(AVCaptureFocusMode::continuousAutoFocus);
            device->setExposureMode(AVCaptureExposureMode::autoExpose);
        });
    }
};

TEST_F(DeviceObservation, RegisteringDeliversEachCurrentValueOnceButNotThePressure) {
    load();
    holdDeviceStill();
    screen->sessionQueue->sync([&] { screen->removeObservers(); });
    ASSERT_EQ(observersPerProperty(*device), std::vector<size_t>(9, 0));
    // A level the device already has is no change: registering must not act on it.
    device->systemPressureStateProperty.set({AVCaptureSystemPressureLevelSerious});
    DispatchQueue::main().drain();
    UILabel* readouts[] = {screen->focusLabel, screen->zoomLabel, screen->exposureBiasLabel,
                           screen->exposureDurationLabel, screen->isoLabel};
    for (UILabel* label : readouts)
        label->setText("-");
    printed.clear();

    screen->sessionQueue->sync([&] { screen->addObservers(); });
    EXPECT_EQ(printedExceptFrames(),
              (std::vector<std::string>{"focusMode changed to 0", "exposureMode changed to 0",
                                        "whiteBalanceMode changed to 2"}));
    EXPECT_EQ(observationCount(), 9u);
    EXPECT_EQ(observersPerProperty(*device), std::vector<size_t>(9, 1));
    ASSERT_TRUE(runMainUntil(
        [&] {
            return std::none_of(std::begin(readouts), std::end(readouts),
                                [](UILabel* l) { return l->text() == "-"; });
        },
        std::chrono::seconds(2)));
    EXPECT_EQ(screen->focusLabel->text(), "Pos 0.300");
    EXPECT_EQ(screen->zoomLabel->text(), "");
    EXPECT_EQ(screen->exposureBiasLabel->text(), "Bias 0.00 EV");

    // The next level is news.
    device->systemPressureStateProperty.set({AVCaptureSystemPressureLevelCritical});
    EXPECT_EQ(
        printed.count("WARNING: Reached elevated system pressure level: critical. Throttling frame rate."),
        1u);
}

TEST_F(DeviceObservation, AFilterChangeRegistersAfreshAndRemovalIsComplete) {
    load();
    UISwipeGestureRecognizer sender;
    for (int swipe = 0; swipe < 2; ++swipe) {
        printed.clear();
        screen->swipeRight(sender);
        flush(*screen->sessionQueue);
        EXPECT_EQ(observationCount(), 9u);
        EXPECT_EQ(observersPerProperty(*device), std::vector<size_t>(9, 1));
        EXPECT_EQ(printed.countStartingWith("focusMode changed to "), 1u);
        EXPECT_EQ(printed.count("focusMode changed to 0"), 1u);
    }

    screen->sessionQueue->sync([&] {
        screen->removeObservers();
        screen->removeObservers();
    });
    EXPECT_EQ(observationCount(), 0u);
    EXPECT_EQ(observersPerProperty(*device), std::vector<size_t>(9, 0));
    printed.clear();
    selectAutomaticModes();
    device->systemPressureStateProperty.set({AVCaptureSystemPressureLevelSerious});
    EXPECT_TRUE(printedExceptFrames().empty());
}

TEST_F(DeviceObservation, ReadoutsFollowTheDeviceInTheirFormatsAndModeChangesRefreshTheirGroups) {
    load();
    holdDeviceStill();
    auto& d = *device;
    // clang-format off
    const std::tuple<UILabel*, std::function<void()>, const char*> cases[] = {
        {screen->exposureDurationLabel, [&] { d.exposureDurationProperty.set(CMTime{1, 60}); },
         "Secs 0.016667"},
        {screen->focusLabel, [&] { d.lensPositionProperty.set(0.3f); }, "Pos 0.300"},
        {screen->exposureBiasLabel, [&] { d.exposureTargetBiasProperty.set(-1.0f); }, "Bias -1.00 EV"},
        {screen->isoLabel, [&] { d.isoProperty.set(100.4f); }, "ISO 100"},
        // No zoom readout until the picture is visibly magnified.
        {screen->zoomLabel, [&] { d.videoZoomFactorProperty.set(1.5); }, "1.5×"},
        {screen->zoomLabel, [&] { d.videoZoomFactorProperty.set(1.0); }, ""},
        {screen->zoomLabel, [&] { d.videoZoomFactorProperty.set(2.0); }, "2.0×"},
        {screen->zoomLabel, [&] { d.videoZoomFactorProperty.set(1.04); }, ""},
        // A locked write reaches the readouts the same way.
        {screen->isoLabel,
         [&] { withDeviceLock(d, [&] { d.setExposureModeCustomWithDuration({1, 60}, 400, nullptr); }); },
         "ISO 400"},
    };
    // clang-format on
    for (const auto& [label, change, text] : cases)
        EXPECT_EQ(readoutAfter(label, change), text);

    // Mode changes print and refresh their group, on the main queue.
    screen->hideControls = false;
    screen->focusControlsView->setHidden(true);
    screen->exposureControlsView->setHidden(true);
    printed.clear();
    offMainThread([&] { selectAutomaticModes(); });
    EXPECT_EQ(printedExceptFrames(),
              (std::vector<std::string>{"focusMode changed to 2", "exposureMode changed to 1"}));
    // Nothing was refreshed on the thread that made the change.
    EXPECT_TRUE(screen->focusControlsView->isHidden());
    EXPECT_TRUE(screen->exposureControlsView->isHidden());
    EXPECT_TRUE(runMainUntil(
        [&] { return !screen->focusControlsView->isHidden() && !screen->exposureControlsView->isHidden(); },
        std::chrono::seconds(2)));
}
