// Tap recognizers as the window feeds them: the failure rule between the camera screen's
// single- and double-tap recognizers in either order, touches that are no taps, enabling,
// and taps that belong to a control. (Swipes and pinches are the camera screen's and the
// window's tests, through the screen's own recognizers.)
#include <gtest/gtest.h>

#include "support/MainQueue.h"
#include "ui/UIApplication.h"
#include "ui/UIControls.h"

namespace {
using namespace std::chrono_literals;

// Both orders of attachment: the window hands each event to the recognizers in the order
// they were added, and the outcome must not depend on it.
class TapRecognizers : public testing::TestWithParam<bool>, public UIGestureRecognizerDelegate {
  protected:
    void SetUp() override {
        window->addSubview(root);
        single->addTarget([this](UIGestureRecognizer&) { ++singles; });
        doubled->numberOfTapsRequired = 2;
        doubled->addTarget([this](UIGestureRecognizer&) { ++doubles; });
        single->setDelegate(this);
        doubled->setDelegate(this);
        root->addGestureRecognizer(GetParam() ? single : doubled);
        root->addGestureRecognizer(GetParam() ? doubled : single);
    }
    // No stale timer for the next test.
    void TearDown() override {
        runMainUntil([] { return false; }, 10ms);
    }
    void send(UITouchPhase phase, double t, std::vector<UITouch> touches) {
        window->sendEvent(UIEvent{phase, std::move(touches), t});
    }
    void tap(CGPoint p, double t) {
        send(UITouchPhase::began, t, {{1, p}});
        send(UITouchPhase::ended, t + 0.05, {{1, p}});
    }
    // The camera screen's rule: the single tap waits for the double tap to fail.
    bool gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(UIGestureRecognizer& a,
                                                                    UIGestureRecognizer& b) override {
        return &a == doubled.get() && &b == single.get();
    }
    std::shared_ptr<UIWindow> window = std::make_shared<UIWindow>();
    std::shared_ptr<UIView> root = std::make_shared<UIView>(window->frame());
    std::shared_ptr<UITapGestureRecognizer> single = std::make_shared<UITapGestureRecognizer>();
    std::shared_ptr<UITapGestureRecognizer> doubled = std::make_shared<UITapGestureRecognizer>();
    int singles = 0, doubles = 0;
};

TEST_P(TapRecognizers, ADoubleTapFiresOnlyItselfAndALoneTapFiresOnceTheDoubleTapFailed) {
    tap({100, 100}, 10.0);
    tap({102, 101}, 10.2);
    EXPECT_EQ(doubles, 1);
    EXPECT_EQ(single->state(), UIGestureRecognizerState::failed);
    // The first tap's end-of-sequence timer must not revive anything.
    runMainUntil([] { return false; }, 500ms);
    EXPECT_EQ(singles, 0);
    tap({100, 100}, 20.0);
    EXPECT_EQ(singles, 0) << "fired before the double tap could fail";
    ASSERT_TRUE(runMainUntil([&] { return singles > 0; }, 2s));
    EXPECT_EQ(doubles, 1);
    EXPECT_EQ(doubled->state(), UIGestureRecognizerState::failed);
}

TEST_P(TapRecognizers, ALateSecondTapEndsTheFirstSequenceByItsTimestamp) {
    tap({100, 100}, 10.0);
    send(UITouchPhase::began, 11.0, {{1, {100, 100}}});
    EXPECT_EQ(singles, 1); // no timer needed: the timestamps say the double tap failed
    send(UITouchPhase::ended, 11.05, {{1, {100, 100}}});
    ASSERT_TRUE(runMainUntil([&] { return singles == 2; }, 2s));
    EXPECT_EQ(doubles, 0);
}

TEST_P(TapRecognizers, TouchesThatAreNoTapsAndDisabledRecognizersFireNothing) {
    send(UITouchPhase::began, 10.0, {{1, {100, 100}}}); // moved away
    send(UITouchPhase::moved, 10.05, {{1, {100, 140}}});
    send(UITouchPhase::ended, 10.1, {{1, {100, 140}}});
    send(UITouchPhase::began, 20.0, {{1, {100, 100}}}); // held too long
    send(UITouchPhase::ended, 21.0, {{1, {100, 100}}});
    send(UITouchPhase::began, 30.0, {{1, {100, 100}}, {2, {150, 150}}}); // two fingers
    send(UITouchPhase::ended, 30.05, {{1, {100, 100}}, {2, {150, 150}}});
    runMainUntil([] { return false; }, 500ms);
    EXPECT_EQ(singles + doubles, 0);

    // Disabled recognizers get no events and hold nobody up.
    tap({100, 100}, 40.0);
    EXPECT_EQ(singles, 0);
    doubled->setEnabled(false); // releases the waiting single tap
    EXPECT_EQ(singles, 1);
    tap({100, 100}, 50.0);
    EXPECT_EQ(singles, 2) << "nothing left to wait for";
    single->setEnabled(false);
    tap({100, 100}, 60.0);
    tap({100, 100}, 60.1);
    runMainUntil([] { return false; }, 100ms);
    EXPECT_EQ(singles, 2);
    EXPECT_EQ(doubles, 0);
}

TEST_P(TapRecognizers, TapsOnAControlOrAHiddenViewGoElsewhere) {
    auto slider = std::make_shared<UISlider>(CGRectMake(0, 0, 200, 40));
    auto hidden = std::make_shared<UIView>(CGRectMake(0, 300, 200, 200));
    int hiddenTaps = 0;
    auto onHidden = std::make_shared<UITapGestureRecognizer>();
    onHidden->addTarget([&](UIGestureRecognizer&) { ++hiddenTaps; });
    hidden->addGestureRecognizer(onHidden);
    hidden->setHidden(true);
    root->addSubview(slider);
    root->addSubview(hidden);
    doubled->setEnabled(false);
    tap({150, 20}, 10.0); // the slider tracks it; the root's recognizer never sees it
    EXPECT_FLOAT_EQ(slider->value(), 0.75f);
    EXPECT_EQ(singles, 0);
    tap({100, 400}, 20.0); // through the hidden view to the root
    EXPECT_EQ(hiddenTaps, 0);
    EXPECT_EQ(singles, 1);
}

INSTANTIATE_TEST_SUITE_P(SingleFirstOrDoubleFirst, TapRecognizers, testing::Bool());

} // namespace
