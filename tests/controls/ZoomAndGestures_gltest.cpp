// Taps, double taps and pinches as the script player makes them: touch events sent to a
// window that shows the screen, through the screen's own recognizers: a single tap waits
// for the double tap to fail, and pinches zoom by each change.
#include "host/script/TouchSynthesis.h"
#include "support/ScreenFixture.h"
#include "ui/UIApplication.h"

namespace {
template <typename Recognizer> std::shared_ptr<Recognizer> findRecognizer(UIView& view) {
    for (const auto& r : view.gestureRecognizers())
        if (auto found = std::dynamic_pointer_cast<Recognizer>(r))
            return found;
    return nullptr;
}

class ZoomAndGestures : public ScreenFixture {
  protected:
    void SetUp() override {
        ScreenFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        load();
        printed.clear();
        window = std::make_shared<UIWindow>();
        window->setRootViewController(screen);
        pinch = findRecognizer<UIPinchGestureRecognizer>(*screen->view());
        ASSERT_TRUE(pinch);
    }
    void TearDown() override {
        if (window)
            window->setRootViewController(nullptr);
        ScreenFixture::TearDown();
    }
    // Sends a synthesised sequence, a second after the last.
    template <typename Make, typename... Args> void play(Make make, Args... args) {
        for (const auto& event : make(CGPoint{195, 226}, args..., clock += 1)) // the middle of the picture
            window->sendEvent(event);
    }
    // Lets the zoom write queued by a pinch land, and its readout with it.
    void settleZoom() {
        flush(*screen->sessionQueue);
        runMainUntil([] { return false; }, std::chrono::milliseconds(5));
    }

    std::shared_ptr<UIWindow> window;
    double clock = 100;
    std::shared_ptr<UIPinchGestureRecognizer> pinch;
};
} // namespace

TEST_F(ZoomAndGestures, DoubleTapsToggleBothGroupsAndNeverCountAsSingleTaps) {
    ASSERT_TRUE(screen->hideControls);
    for (bool hidden : {true, false}) {
        printed.clear();
        play(host::doubleTapEvents);
        EXPECT_EQ(printedExceptFrames(), std::vector<std::string>{std::string("double tap, current hide: ") +
                                                                  (hidden ? "true" : "false")});
        EXPECT_EQ(screen->hideControls, !hidden);
        EXPECT_EQ(screen->focusControlsView->isHidden(), !hidden);
        EXPECT_EQ(screen->exposureControlsView->isHidden(), !hidden);
    }

    // A lone tap is told from the first half of a double tap once the double tap has
    // waited in vain; by then anything the double taps left pending has run too.
    printed.clear();
    play(host::tapEvents);
    EXPECT_TRUE(printedExceptFrames().empty()); // still waiting for a second tap
    ASSERT_TRUE(runMainUntil([&] { return printed.count("single tap") > 0; }, std::chrono::seconds(5)));
    EXPECT_EQ(printedExceptFrames(), std::vector<std::string>{"single tap"});
    EXPECT_TRUE(screen->hideControls);
}

TEST_F(ZoomAndGestures, PinchingZoomsByEachChangeAndHandsTheScaleBack) {
    // A pinch that begins on its first move, already at 1.5, and ends there has no changed
    // step: no zoom.
    window->sendEvent(UIEvent{UITouchPhase::began, {{1, {145, 226}}, {2, {245, 226}}}, 10});
    window->sendEvent(UIEvent{UITouchPhase::moved, {{1, {120, 226}}, {2, {270, 226}}}, 10.05});
    EXPECT_EQ(pinch->state(), UIGestureRecognizerState::began);
    window->sendEvent(UIEvent{UITouchPhase::ended, {{1, {120, 226}}, {2, {270, 226}}}, 10.1});
    EXPECT_EQ(pinch->state(), UIGestureRecognizerState::ended);
    settleZoom();
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 1.0);

    play(host::pinchEvents, 2.0);
    EXPECT_DOUBLE_EQ(pinch->scale(), 1.0);
    settleZoom();
    EXPECT_NEAR(device->videoZoomFactor(), 2.0, 1e-9);
    EXPECT_TRUE(runMainUntil([&] { return screen->zoomLabel->text() == "2.0×"; }, std::chrono::seconds(2)))
        << screen->zoomLabel->text();
    play(host::pinchEvents, 3.0); // over six moves, each adding only its own part
    settleZoom();
    EXPECT_NEAR(device->videoZoomFactor(), 6.0, 1e-9);
}

TEST_F(ZoomAndGestures, ZoomStaysWithinTheDevicesRangeAndARefusedLockKeepsIt) {
    play(host::pinchEvents, 0.5);
    settleZoom();
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 1.0);
    withDeviceLock(*device, [&] { device->setVideoZoomFactor(8.0); });
    play(host::pinchEvents, 3.0);
    settleZoom();
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 16.0);

    withDeviceLock(*device, [&] { device->setVideoZoomFactor(3.0); });
    device->setRefusesConfigurationLock(true);
    printed.clear();
    play(host::pinchEvents, 2.0);
    settleZoom();
    EXPECT_EQ(printedExceptFrames(), std::vector<std::string>(5, "zoom attempt caught exception"))
        << "one for each changed step of the pinch (its six moves, the first of which begins it)";
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 3.0);
    device->setRefusesConfigurationLock(false);
    EXPECT_TRUE(lockableFromAnotherThread(*device));
}
