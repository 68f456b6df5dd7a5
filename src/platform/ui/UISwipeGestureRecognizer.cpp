#include <cmath>

#include "ui/UIGestureRecognizer.h"

void UISwipeGestureRecognizer::handleEvent(const UIEvent& event) {
    if (isWaiting())
        return;
    switch (event.phase) {
    case UITouchPhase::began:
        if (tracking_ || event.touches.size() != 1) {
            // More than one finger: not a swipe.
            if (tracking_)
                fail();
            return;
        }
        resetStateForNewSequence();
        tracking_ = true;
        touchId_ = event.touches.front().identifier;
        start_ = event.touches.front().location;
        startTime_ = event.timestamp;
        break;
    case UITouchPhase::moved:
    case UITouchPhase::ended:
        for (const auto& touch : event.touches) {
            if (!tracking_ || touch.identifier != touchId_)
                continue;
            follow(touch.location, event.timestamp);
            // Lifted before it went far enough.
            if (tracking_ && event.phase == UITouchPhase::ended)
                fail();
        }
        break;
    case UITouchPhase::cancelled:
        if (tracking_)
            fail();
        break;
    }
}

void UISwipeGestureRecognizer::follow(CGPoint p, double timestamp) {
    const double dx = p.x - start_.x, dy = p.y - start_.y;
    double along = 0, across = 0;
    switch (direction) {
    case UISwipeGestureRecognizerDirection::right:
        along = dx, across = dy;
        break;
    case UISwipeGestureRecognizerDirection::left:
        along = -dx, across = dy;
        break;
    case UISwipeGestureRecognizerDirection::down:
        along = dy, across = dx;
        break;
    case UISwipeGestureRecognizerDirection::up:
        along = -dy, across = dx;
        break;
    }
    across = std::abs(across);
    if (timestamp - startTime_ > maximumDuration) {
        fail();
    } else if (along >= minimumDistance && across < along) {
        // "Mostly along it": within 45 degrees of the direction.
        tracking_ = false;
        if (!waitFor(recognizersToWaitFor()))
            recognize();
    } else if (-along >= minimumDistance || (across >= minimumDistance && across >= along)) {
        // Far enough the other way or sideways: it cannot become this swipe any more.
        fail();
    }
}

void UISwipeGestureRecognizer::recognize() {
    stopWaiting();
    reset();
    setState(UIGestureRecognizerState::ended);
    sendActions();
    didRecognize();
}

void UISwipeGestureRecognizer::fail() {
    stopWaiting();
    reset();
    setState(UIGestureRecognizerState::failed);
    didFail();
}

void UISwipeGestureRecognizer::reset() {
    tracking_ = false;
}

bool UISwipeGestureRecognizer::isInProgress() const {
    return tracking_ || isWaiting();
}

void UISwipeGestureRecognizer::waitedForRecognizerFailed() {
    recognize();
}

void UISwipeGestureRecognizer::waitedForRecognizerRecognized() {
    fail();
}
