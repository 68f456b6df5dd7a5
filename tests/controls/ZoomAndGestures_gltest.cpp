// Taps, double taps and pinches as a person makes them: touch events sent to a window that
// shows the screen, through the screen's own recognizers; and the rule that makes a
// single tap wait for the double tap.
#include <gtest/gtest.h>

#include "support/ScreenFixture.h"
#include "ui/UIApplication.h"

namespace {
// Touches on a window showing the screen, on a clock of their own.
class Touches {
  public:
    explicit Touches(UIWindow& window) : window_(window) {}

    void tap() {
        send(UITouchPhase::began, {{1, centre}});
        send(UITouchPhase::ended, {{1, centre}});
    }
    void doubleTap() {
        tap();
        tap();
        clock_ += 1;
    }
    // Two fingers down `from` points apart, a first move that begins the pinch without
    // changing the distance, then moves to each of `to`, and both fingers up.
    void pinch(double from, std::initializer_list<double> to) {
        send(UITouchPhase::began, fingers(from));
        send(UITouchPhase::moved, fingers(from));
        double last = from;
        for (double d : to)
            send(UITouchPhase::moved, fingers(last = d));
        send(UITouchPhase::ended, fingers(last));
        clock_ += 1;
    }
    // The middle of the picture.
    static constexpr CGPoint centre{195, 226};

  private:
    static std::vector<UITouch> fingers(double distance) {
        return {{1, {centre.x - distance / 2, centre.y}}, {2, {centre.x + distance / 2, centre.y}}};
    }
    void send(UITouchPhase phase, std::vector<UITouch> touches) {
        window_.sendEvent(UIEvent{phase, std::move(touches), clock_});
        clock_ += 0.05;
    }
    UIWindow& window_;
    double clock_ = 100;
};

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
        touches = std::make_unique<Touches>(*window);
        pinch = findRecognizer<UIPinchGestureRecognizer>(*screen->view());
        ASSERT_TRUE(pinch);
    }
    void TearDown() override {
        if (window)
            window->setRootViewController(nullptr);
        ScreenFixture::TearDown();
    }
    // Lets the zoom write queued by a pinch land, and its readout with it.
    void settleZoom() {
        flush(*screen->sessionQueue);
        runMainUntil([] { return false; }, std::chrono::milliseconds(5));
    }

    std::shared_ptr<UIWindow> window;
    std::unique_ptr<Touches> touches;
    std::shared_ptr<UIPinchGestureRecognizer> pinch;
};
} // namespace

TEST_F(ZoomAndGestures, OnlyTheDoubleTapMakesTheSingleTapWait) {
    auto swipe = findRecognizer<UISwipeGestureRecognizer>(*screen->view());
    ASSERT_TRUE(swipe);
    const std::vector<UIGestureRecognizer*> all{screen->singleTapRecognizer.get(),
                                                screen->doubleTapRecognizer.get(), swipe.get(), pinch.get()};
    for (UIGestureRecognizer* a : all)
        for (UIGestureRecognizer* b : all)
            EXPECT_EQ(screen->gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(*a, *b),
                      a == all[1] && b == all[0]); // the double tap must fail before the single tap fires
}

TEST_F(ZoomAndGestures, DoubleTapsToggleBothGroupsAndNeverCountAsSingleTaps) {
    ASSERT_TRUE(screen->hideControls);
    touches->doubleTap();
    EXPECT_EQ(printedExceptFrames(), std::vector<std::string>{"double tap, current hide: true"});
    EXPECT_FALSE(screen->hideControls);
    EXPECT_FALSE(screen->focusControlsView->isHidden());
    EXPECT_FALSE(screen->exposureControlsView->isHidden());

    printed.clear();
    touches->doubleTap();
    EXPECT_EQ(printedExceptFrames(), std::vector<std::string>{"double tap, current hide: false"});
    EXPECT_TRUE(screen->hideControls);
    EXPECT_TRUE(screen->focusControlsView->isHidden());
    EXPECT_TRUE(screen->exposureControlsView->isHidden());

    // A lone tap is told from the first half of a double tap once the double tap has
    // waited in vain; by then anything the double taps left pending has run too.
    printed.clear();
    touches->tap();
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

    touches->pinch(100, {200});
    EXPECT_DOUBLE_EQ(pinch->scale(), 1.0);
    settleZoom();
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 2.0);
    EXPECT_TRUE(runMainUntil([&] { return screen->zoomLabel->text() == "2.0×"; }, std::chrono::seconds(2)))
        << screen->zoomLabel->text();
    touches->pinch(100, {150, 300}); // each changed step adds only its own part: 2 × 1.5 × 2 = 6
    settleZoom();
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 6.0);
}

TEST_F(ZoomAndGestures, ZoomStaysWithinTheDevicesRangeAndARefusedLockKeepsIt) {
    touches->pinch(100, {50});
    settleZoom();
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 1.0);

    withDeviceLock(*device, [&] { device->setVideoZoomFactor(8.0); });
    touches->pinch(50, {150});
    settleZoom();
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 16.0);

    withDeviceLock(*device, [&] { device->setVideoZoomFactor(3.0); });
    device->setRefusesConfigurationLock(true);
    printed.clear();
    touches->pinch(100, {200});
    settleZoom();
    EXPECT_EQ(printedExceptFrames(), std::vector<std::string>{"zoom attempt caught exception"});
    EXPECT_DOUBLE_EQ(device->videoZoomFactor(), 3.0);
    device->setRefusesConfigurationLock(false);
    EXPECT_TRUE(lockableFromAnotherThread(*device));
}
