#include <chrono>
#include <cmath>

#include "dispatch/DispatchQueue.h"
#include "ui/UIGestureRecognizer.h"
#include "ui/UIView.h"

namespace {
double distanceBetween(CGPoint a, CGPoint b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

const UITouch* findTouch(const UIEvent& event, int identifier) {
    for (const auto& touch : event.touches)
        if (touch.identifier == identifier)
            return &touch;
    return nullptr;
}
} // namespace

void UITapGestureRecognizer::handleEvent(const UIEvent& event) {
    // While its taps are complete and it waits for others to fail, a new touch may be the
    // start of the next sequence (the one that tells a double tap it came too late), so
    // it is followed; should it end before the wait does, it is dropped.
    const bool waiting = isWaiting();
    switch (event.phase) {
    case UITouchPhase::began:
        if (touching_ || event.touches.size() != 1) {
            // A second finger: this is not a tap.
            if (!waiting && isInProgress())
                fail();
            return;
        }
        if (waiting)
            follow(event.touches.front(), event.timestamp);
        else
            touchBegan(event.touches.front(), event.timestamp);
        break;
    case UITouchPhase::moved:
        if (!touching_)
            return;
        if (const UITouch* touch = findTouch(event, touchId_)) {
            if (distanceBetween(touch->location, downAt_) <= allowableMovement)
                return;
            if (waiting)
                touching_ = false;
            else
                fail();
        }
        break;
    case UITouchPhase::ended:
        if (!touching_)
            return;
        if (const UITouch* touch = findTouch(event, touchId_)) {
            if (waiting)
                touching_ = false;
            else
                touchEnded(*touch, event.timestamp);
        }
        break;
    case UITouchPhase::cancelled:
        if (!touching_)
            return;
        if (waiting)
            touching_ = false;
        else
            fail();
        break;
    }
}

void UITapGestureRecognizer::follow(const UITouch& touch, double timestamp) {
    touching_ = true;
    touchId_ = touch.identifier;
    downAt_ = touch.location;
    downTime_ = timestamp;
}

void UITapGestureRecognizer::touchBegan(const UITouch& touch, double timestamp) {
    if (tapCount_ > 0 && timestamp - lastUpTime_ > maximumTapInterval) {
        // Too late for the sequence under way: it failed, and this touch starts another.
        fail();
    }
    if (tapCount_ == 0)
        resetStateForNewSequence();
    follow(touch, timestamp);
    ++generation_; // the pending end-of-sequence timer no longer applies
}

void UITapGestureRecognizer::touchEnded(const UITouch& touch, double timestamp) {
    touching_ = false;
    if (tapCount_ == 0)
        resetStateForNewSequence();
    if (distanceBetween(touch.location, downAt_) > allowableMovement ||
        timestamp - downTime_ > maximumTapDuration) {
        fail();
        return;
    }
    ++tapCount_;
    lastUpTime_ = timestamp;
    if (tapCount_ >= numberOfTapsRequired) {
        recognizeOrWait();
        return;
    }
    // Timestamps decide between taps that come; only a clock can tell that none will.
    const unsigned generation = ++generation_;
    std::weak_ptr<UIGestureRecognizer> weakSelf = weak_from_this();
    DispatchQueue::main().asyncAfter(
        std::chrono::duration_cast<DispatchQueue::Clock::duration>(
            std::chrono::duration<double>(maximumTapInterval)),
        [weakSelf, generation] {
            auto self = std::static_pointer_cast<UITapGestureRecognizer>(weakSelf.lock());
            if (self && self->generation_ == generation && self->tapCount_ > 0 && !self->touching_)
                self->fail();
        });
}

void UITapGestureRecognizer::recognizeOrWait() {
    if (!waitFor(recognizersToWaitFor()))
        recognize();
}

void UITapGestureRecognizer::recognize() {
    // A touch followed while waiting stays followed: it may be the next sequence's first.
    stopWaiting();
    tapCount_ = 0;
    ++generation_;
    setState(UIGestureRecognizerState::ended);
    sendActions();
    didRecognize();
}

void UITapGestureRecognizer::fail() {
    stopWaiting();
    reset();
    setState(UIGestureRecognizerState::failed);
    didFail();
}

void UITapGestureRecognizer::reset() {
    tapCount_ = 0;
    touching_ = false;
    ++generation_;
}

bool UITapGestureRecognizer::isInProgress() const {
    return touching_ || tapCount_ > 0 || isWaiting();
}

void UITapGestureRecognizer::waitedForRecognizerFailed() {
    recognize();
}

void UITapGestureRecognizer::waitedForRecognizerRecognized() {
    fail();
}
