// Focus: the mode control and its device writes on the session queue, the lens slider,
// devices without the needed modes or that refuse the lock, and the start-up sequence
// that locks the lens at 0.3.
#include "platform/capture/CaptureTestSupport.h"
#include "support/ScreenFixture.h"

using Focus = ScreenFixture;

TEST_F(Focus, ModeControlAndSliderWriteOnTheSessionQueueAndTheGroupIsRefreshedAtOnce) {
    load();
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
    // With the controls hidden the refresh only hides the group; shown, it shows the group
    // and sets the slider's visibility, range and value again.
    for (bool hidden : {true, false})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (hidden ? ", controls hidden" : ""));
            screen->hideControls = hidden;
            printed.clear();
            screen->focusControlsView->setHidden(!hidden);
            screen->focusSlider->setMinimumValue(-2);
            screen->focusSlider->setMaximumValue(2);
            screen->focusSlider->setValue(1.5f);
            screen->focusSlider->setHidden(!hidden && c.sliderShown); // the other way round from the refresh
            const AVCaptureFocusMode before = device->focusMode();
            const float lens = device->lensPosition();
            {
                QueueGate gate(*screen->sessionQueue);
                screen->focusModeControl->touchSegment(c.segment);
                EXPECT_EQ(device->focusMode(), before);
                EXPECT_EQ(screen->focusControlsView->isHidden(), hidden);
                EXPECT_EQ(screen->focusSlider->isHidden(), !hidden && !c.sliderShown);
                EXPECT_EQ(screen->focusSlider->minimumValue(), hidden ? -2.0f : 0.0f);
                EXPECT_EQ(screen->focusSlider->maximumValue(), hidden ? 2.0f : 1.0f);
                EXPECT_EQ(screen->focusSlider->value(), hidden ? 1.5f : lens);
            }
            flush(*screen->sessionQueue);
            EXPECT_EQ(device->focusMode(), c.mode);
            EXPECT_EQ(printed.count(std::string("focus mode button changed to ") + c.name), 1u);
            EXPECT_FALSE(sessionHoldsLock());
        }

    // The slider queues one lens write per move, applied in order.
    holdDeviceStill();
    capturetest::ChangeRecorder<float> lens(device->lensPositionProperty);
    // With the controls hidden a refresh would hide the group: the slider must not refresh.
    screen->focusControlsView->setHidden(false);
    printed.clear();
    {
        QueueGate gate(*screen->sessionQueue);
        for (float v : {0.1f, 0.7f, 0.4f})
            screen->focusSlider->dragTo(v);
        EXPECT_FLOAT_EQ(device->lensPosition(), 0.3f); // nothing written yet
        EXPECT_FALSE(screen->focusControlsView->isHidden());
    }
    flush(*screen->sessionQueue);
    EXPECT_EQ(lens.values(), (std::vector<float>{0.1f, 0.7f, 0.4f}));
    EXPECT_EQ(device->focusMode(), AVCaptureFocusMode::locked);
    EXPECT_FALSE(sessionHoldsLock());
    // The start-up sequence's completion line is its own; slider moves have none.
    runMainUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_EQ(printed.countStartingWith("focus set to"), 0u);
}

TEST_F(Focus, WritesTheDeviceCannotMakeAreReportedAndTheLockIsGivenBack) {
    load();
    screen->focusModeControl->touchSegment(2);
    flush(*screen->sessionQueue);
    ASSERT_EQ(device->focusMode(), AVCaptureFocusMode::autoFocus);
    struct Case {
        void (SimulatedCaptureDevice::*makeUnable)(bool); // true: unable, false: able again
        bool touchModes;                                  // as well as the slider
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {&SimulatedCaptureDevice::setLacksLockedFocus,
         true,
         {"setFocusMode but dns locked focus", "setFocusMode but dns locked focus",
          "setFocusPos but dns locked focus"}},
        {&SimulatedCaptureDevice::setLacksCustomLensPosition,
         false,
         {"setFocusPos but dns custom lens position"}},
        {&SimulatedCaptureDevice::setRefusesConfigurationLock,
         true,
         {"setFocusMode caught exception " + refusal, "setFocusMode caught exception " + refusal,
          "setFocus caught exception " + refusal}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.back());
        ((*device).*c.makeUnable)(true);
        printed.clear();
        if (c.touchModes) {
            screen->focusModeControl->touchSegment(0);
            screen->focusModeControl->touchSegment(1); // manual locks the focus too
        }
        screen->focusSlider->dragTo(0.8f);
        flush(*screen->sessionQueue); // an unlock without the lock would have aborted here
        auto lines = printedExceptFrames();
        std::erase_if(lines, [](auto& line) { return line.starts_with("focus mode button changed to "); });
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(device->focusMode(), AVCaptureFocusMode::autoFocus);
        EXPECT_FALSE(sessionHoldsLock());
        ((*device).*c.makeUnable)(false);
        EXPECT_TRUE(lockableFromAnotherThread(*device));
    }
}

TEST_F(Focus, LoadingRegistersObserversThenLocksTheLensAndSelectsLocked) {
    // Markers that step along the session queue beside the start-up sequence: it takes
    // three hops, so only the third marker finds the focus locked. The queue is held
    // while loading, so that the first marker is queued right behind the sequence's start.
    std::atomic<int> seenAt[3] = {-1, -1, -1};
    std::function<void(int)> mark = [&](int hop) {
        seenAt[hop] = int(device->focusMode());
        if (hop < 2)
            screen->sessionQueue->async([&, hop] { mark(hop + 1); });
    };
    {
        QueueGate gate(*screen->sessionQueue);
        screen->viewDidLoad();
        screen->viewWillAppear(false);
        screen->sessionQueue->async([&] { mark(0); });
    }
    for (int hop = 0; hop < 3; ++hop)
        flush(*screen->sessionQueue);
    ASSERT_TRUE(runMainUntil([&] { return screen->focusModeControl->selectedSegmentIndex() == 0; }));
    EXPECT_EQ(seenAt[0], int(AVCaptureFocusMode::continuousAutoFocus));
    EXPECT_EQ(seenAt[1], int(AVCaptureFocusMode::continuousAutoFocus));
    EXPECT_EQ(seenAt[2], int(AVCaptureFocusMode::locked));
    EXPECT_FLOAT_EQ(device->lensPosition(), 0.3f);
    EXPECT_EQ(screen->exposureModeControl->selectedSegmentIndex(), 3); // continuous auto exposure

    // The observers saw the device's first mode before the lock changed it; the sequence's
    // completion line comes last.
    std::vector<std::string> lines;
    for (const auto& line : printedExceptFrames())
        if (line.starts_with("focusMode changed to ") || line.starts_with("focus set to "))
            lines.push_back(line.substr(0, line.find(" at time ")));
    EXPECT_EQ(lines, (std::vector<std::string>{"focusMode changed to 2", "focusMode changed to 0",
                                               "focus set to manual at 0.300"}));
}
