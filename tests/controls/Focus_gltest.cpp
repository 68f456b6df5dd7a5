// Focus: the mode control and its device writes on the session queue, the lens slider,
// devices without the needed modes or that refuse the lock, and the start-up sequence
// that locks the lens at 0.3.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "support/ScreenFixture.h"

namespace {
const std::string refusal = "The configuration lock was refused (simulated)";

// Whether the session queue's thread still holds the device's configuration lock.
bool sessionHoldsLock(CameraViewController& screen, AVCaptureDevice& device) {
    bool held = true;
    screen.sessionQueue->sync([&] { held = device.holdsConfigurationLock(); });
    return held;
}
} // namespace

using Focus = IsolatedScreenFixture;

TEST_F(Focus, ModeControlWritesOnTheSessionQueueAndShowsTheSliderOnlyForManual) {
    load();
    screen->hideControls = false;
    struct Case {
        int segment;
        const char* name;
        AVCaptureFocusMode mode;
        bool sliderShown;
    };
    // Each case starts from a different device mode, so a write that was made at once
    // instead of queued shows.
    const Case cases[] = {{1, "manual", AVCaptureFocusMode::locked, true},
                          {2, "auto", AVCaptureFocusMode::autoFocus, false},
                          {3, "continuous", AVCaptureFocusMode::continuousAutoFocus, false},
                          {0, "locked", AVCaptureFocusMode::locked, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        printed.clear();
        // A refresh must set the slider's range and value again.
        screen->focusSlider->setMinimumValue(-2);
        screen->focusSlider->setMaximumValue(2);
        screen->focusSlider->setValue(1.5f);
        screen->focusSlider->setHidden(!c.sliderShown);
        const AVCaptureFocusMode before = device->focusMode();
        {
            QueueGate gate(*screen->sessionQueue);
            const float lens = device->lensPosition();
            screen->focusModeControl->touchSegment(c.segment);
            EXPECT_EQ(device->focusMode(), before);
            // The group is refreshed at once, not when the device has changed.
            EXPECT_FALSE(screen->focusControlsView->isHidden());
            EXPECT_EQ(screen->focusSlider->isHidden(), !c.sliderShown);
            EXPECT_EQ(screen->focusSlider->minimumValue(), 0.0f);
            EXPECT_EQ(screen->focusSlider->maximumValue(), 1.0f);
            if (c.sliderShown) {
                EXPECT_EQ(screen->focusSlider->value(), lens);
            }
        }
        flush(*screen->sessionQueue);
        EXPECT_EQ(device->focusMode(), c.mode);
        EXPECT_EQ(printed.count(std::string("focus mode button changed to ") + c.name), 1u);
        EXPECT_FALSE(sessionHoldsLock(*screen, *device));
    }
}

TEST_F(Focus, WithControlsHiddenTheRefreshOnlyHidesTheGroup) {
    load();
    ASSERT_TRUE(screen->hideControls);
    for (int segment = 0; segment < 4; ++segment) {
        SCOPED_TRACE(segment);
        screen->focusControlsView->setHidden(false);
        screen->focusSlider->setHidden(false);
        screen->focusSlider->setMinimumValue(-2);
        screen->focusSlider->setMaximumValue(2);
        screen->focusSlider->setValue(1.5f);
        screen->focusModeControl->touchSegment(segment);
        EXPECT_TRUE(screen->focusControlsView->isHidden());
        EXPECT_FALSE(screen->focusSlider->isHidden());
        EXPECT_EQ(screen->focusSlider->minimumValue(), -2.0f);
        EXPECT_EQ(screen->focusSlider->maximumValue(), 2.0f);
        EXPECT_EQ(screen->focusSlider->value(), 1.5f);
    }
    flush(*screen->sessionQueue);
}

TEST_F(Focus, SliderQueuesOneLensWritePerMoveAppliedInOrder) {
    load();
    holdDeviceStill();
    std::mutex seenMutex;
    std::vector<float> seen;
    auto token = device->lensPositionProperty.observe(NSKeyValueObservingOptions::new_,
                                                      [&](const NSKeyValueObservedChange<float>& change) {
                                                          std::lock_guard lock(seenMutex);
                                                          seen.push_back(*change.newValue);
                                                      });
    // With the controls hidden a refresh would hide the group: the slider must not refresh.
    // (Each write sets the device's focus mode, whose observer refreshes later.)
    screen->focusControlsView->setHidden(false);
    printed.clear();
    {
        QueueGate gate(*screen->sessionQueue);
        for (float v : {0.1f, 0.7f, 0.4f}) screen->focusSlider->dragTo(v);
        EXPECT_FLOAT_EQ(device->lensPosition(), 0.3f); // nothing written yet
        EXPECT_FALSE(screen->focusControlsView->isHidden());
    }
    flush(*screen->sessionQueue);
    token->invalidate();
    {
        std::lock_guard lock(seenMutex);
        EXPECT_EQ(seen, (std::vector<float>{0.1f, 0.7f, 0.4f}));
    }
    EXPECT_EQ(device->focusMode(), AVCaptureFocusMode::locked);
    EXPECT_FALSE(sessionHoldsLock(*screen, *device));
    // The start-up sequence's completion line is its own; slider moves have none.
    runMainUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_EQ(printed.countStartingWith("focus set to"), 0u);
}

TEST_F(Focus, MissingModesAreReportedAndTheLockIsGivenBack) {
    load();
    screen->focusModeControl->touchSegment(2);
    flush(*screen->sessionQueue);
    ASSERT_EQ(device->focusMode(), AVCaptureFocusMode::autoFocus);

    device->setLacksLockedFocus(true);
    printed.clear();
    screen->focusModeControl->touchSegment(0);
    screen->focusModeControl->touchSegment(1); // manual locks the focus too
    screen->focusSlider->dragTo(0.8f);
    flush(*screen->sessionQueue);
    EXPECT_EQ(printed.count("setFocusMode but dns locked focus"), 2u);
    EXPECT_EQ(printed.count("setFocusPos but dns locked focus"), 1u);
    EXPECT_EQ(device->focusMode(), AVCaptureFocusMode::autoFocus);
    EXPECT_FALSE(sessionHoldsLock(*screen, *device));

    device->setLacksLockedFocus(false);
    device->setLacksCustomLensPosition(true);
    printed.clear();
    screen->focusSlider->dragTo(0.8f);
    flush(*screen->sessionQueue);
    EXPECT_EQ(printedExceptFrames(), std::vector<std::string>{"setFocusPos but dns custom lens position"});
    EXPECT_EQ(device->focusMode(), AVCaptureFocusMode::autoFocus);
    EXPECT_FALSE(sessionHoldsLock(*screen, *device));
    EXPECT_TRUE(lockableFromAnotherThread(*device));
}

TEST_F(Focus, ARefusedLockIsReportedAndNeverUnlocked) {
    load();
    holdDeviceStill();
    device->setRefusesConfigurationLock(true);
    printed.clear();
    screen->focusModeControl->touchSegment(3);
    screen->focusSlider->dragTo(0.9f);
    flush(*screen->sessionQueue); // an unlock without the lock would have aborted here
    EXPECT_EQ(printed.count("setFocusMode caught exception " + refusal), 1u);
    EXPECT_EQ(printed.count("setFocus caught exception " + refusal), 1u);
    EXPECT_EQ(device->focusMode(), AVCaptureFocusMode::locked);
    EXPECT_FLOAT_EQ(device->lensPosition(), 0.3f);
    ASSERT_FALSE(sessionHoldsLock(*screen, *device));
    device->setRefusesConfigurationLock(false);
    EXPECT_TRUE(lockableFromAnotherThread(*device));
}

TEST_F(Focus, LoadingRegistersObserversThenLocksTheLensAndSelectsLocked) {
    // Markers that step along the session queue beside the start-up sequence: it takes
    // three hops, so only the third marker finds the focus locked. The queue is held
    // while loading, so that the first marker is queued right behind the sequence's start.
    std::atomic<int> seenAt[3] = {-1, -1, -1};
    std::function<void(int)> mark = [&](int hop) {
        seenAt[hop] = int(device->focusMode());
        if (hop < 2) screen->sessionQueue->async([&, hop] { mark(hop + 1); });
    };
    {
        QueueGate gate(*screen->sessionQueue);
        screen->viewDidLoad();
        screen->viewWillAppear(false);
        screen->sessionQueue->async([&] { mark(0); });
    }
    for (int hop = 0; hop < 3; ++hop) flush(*screen->sessionQueue);
    ASSERT_TRUE(runMainUntil([&] { return screen->focusModeControl->selectedSegmentIndex() == 0; }));
    EXPECT_EQ(seenAt[0], int(AVCaptureFocusMode::continuousAutoFocus));
    EXPECT_EQ(seenAt[1], int(AVCaptureFocusMode::continuousAutoFocus));
    EXPECT_EQ(seenAt[2], int(AVCaptureFocusMode::locked));
    EXPECT_EQ(device->focusMode(), AVCaptureFocusMode::locked);
    EXPECT_FLOAT_EQ(device->lensPosition(), 0.3f);
    EXPECT_EQ(screen->exposureModeControl->selectedSegmentIndex(), 3); // continuous auto exposure

    // The observers saw the device's first mode before the lock changed it.
    std::vector<std::string> focusLines;
    std::vector<std::string> doneLines;
    for (const auto& line : printedExceptFrames()) {
        if (line.rfind("focusMode changed to ", 0) == 0) focusLines.push_back(line);
        if (line.rfind("focus set to manual at 0.300 at time ", 0) == 0) doneLines.push_back(line);
    }
    EXPECT_EQ(focusLines, (std::vector<std::string>{"focusMode changed to 2", "focusMode changed to 0"}));
    ASSERT_EQ(doneLines.size(), 1u);
    const std::string number = doneLines[0].substr(std::string("focus set to manual at 0.300 at time ").size());
    char* end = nullptr;
    const double seconds = std::strtod(number.c_str(), &end);
    EXPECT_TRUE(!number.empty() && *end == '\0') << number;
    EXPECT_TRUE(std::isfinite(seconds) && seconds > 0) << number;
}

TEST_F(Focus, ModeControlsFollowTheDeviceAndBothGroupsRefresh) {
    load();
    holdDeviceStill();
    screen->hideControls = false;
    struct Case {
        AVCaptureFocusMode focus;
        AVCaptureExposureMode exposure;
        int focusSegment, exposureSegment;
    };
    const Case cases[] = {
        {AVCaptureFocusMode::locked, AVCaptureExposureMode::custom, 0, 0},
        {AVCaptureFocusMode::autoFocus, AVCaptureExposureMode::autoExpose, 2, 2},
        {AVCaptureFocusMode::continuousAutoFocus, AVCaptureExposureMode::continuousAutoExposure, 3, 3},
        {AVCaptureFocusMode::locked, AVCaptureExposureMode::locked, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "focus " << int(c.focus) << ", exposure " << int(c.exposure));
        withDeviceLock(*device, [&] {
            device->setFocusMode(c.focus);
            device->setExposureMode(c.exposure);
        });
        screen->focusControlsView->setHidden(true);
        screen->exposureControlsView->setHidden(true);
        screen->focusModeControl->setSelectedSegmentIndex(1);
        screen->exposureModeControl->setSelectedSegmentIndex(1);
        screen->syncModeControlsToDevice();
        EXPECT_EQ(screen->focusModeControl->selectedSegmentIndex(), c.focusSegment);
        EXPECT_EQ(screen->exposureModeControl->selectedSegmentIndex(), c.exposureSegment);
        EXPECT_FALSE(screen->focusControlsView->isHidden());
        EXPECT_FALSE(screen->exposureControlsView->isHidden());
        EXPECT_TRUE(screen->focusSlider->isHidden());
        EXPECT_EQ(screen->exposureBiasSlider->isHidden(), c.exposureSegment == 0);
        EXPECT_TRUE(screen->durationSlider->isHidden());
    }
    EXPECT_EQ(printed.countStartingWith("unknown"), 0u);
}
