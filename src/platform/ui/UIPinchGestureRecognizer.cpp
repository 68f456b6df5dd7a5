#include <algorithm>
#include <cmath>

#include "ui/UIGestureRecognizer.h"
#include "ui/UIView.h"

void UIPinchGestureRecognizer::setScale(double s) {
    UIRequireMainThread("UIPinchGestureRecognizer.setScale");
    scale_ = s;
    scaleBase_ = s;
    // Later events measure from the fingers' distance now, so they add only what is new.
    if (touches_.size() == 2)
        startDistance_ = distance();
}

double UIPinchGestureRecognizer::distance() const {
    return std::hypot(touches_[0].location.x - touches_[1].location.x,
                      touches_[0].location.y - touches_[1].location.y);
}

void UIPinchGestureRecognizer::updateScale() {
    const double d = distance();
    if (startDistance_ > 0)
        scale_ = scaleBase_ * d / startDistance_;
    else
        startDistance_ = d; // both fingers started on one spot: measure from where they part
}

void UIPinchGestureRecognizer::handleEvent(const UIEvent& event) {
    const auto s = state();
    const bool active = s == UIGestureRecognizerState::began || s == UIGestureRecognizerState::changed;
    switch (event.phase) {
    case UITouchPhase::began:
        if (touches_.empty())
            resetStateForNewSequence();
        for (const auto& touch : event.touches) {
            if (touches_.size() == 2)
                break; // a third finger takes no part
            touches_.push_back(touch);
            if (touches_.size() == 2 && state() == UIGestureRecognizerState::possible) {
                startDistance_ = distance();
                scaleBase_ = scale_ = 1;
            }
        }
        break;
    case UITouchPhase::moved: {
        bool ours = false;
        for (const auto& touch : event.touches) {
            auto it = std::find_if(touches_.begin(), touches_.end(),
                                   [&](const UITouch& t) { return t.identifier == touch.identifier; });
            if (it == touches_.end())
                continue;
            it->location = touch.location;
            ours = true;
        }
        if (!ours || touches_.size() < 2)
            return;
        if (active) {
            updateScale();
            setState(UIGestureRecognizerState::changed);
            sendActions();
        } else if (s == UIGestureRecognizerState::possible && !isWaiting()) {
            if (!waitFor(recognizersToWaitFor()))
                beginPinch();
        }
        break;
    }
    case UITouchPhase::ended:
    case UITouchPhase::cancelled:
        lift(event);
        break;
    }
}

void UIPinchGestureRecognizer::beginPinch() {
    updateScale();
    setState(UIGestureRecognizerState::began);
    sendActions();
    didRecognize();
}

void UIPinchGestureRecognizer::lift(const UIEvent& event) {
    const size_t before = touches_.size();
    std::erase_if(touches_, [&](const UITouch& t) {
        return std::any_of(event.touches.begin(), event.touches.end(),
                           [&](const UITouch& lifted) { return lifted.identifier == t.identifier; });
    });
    if (touches_.size() == before)
        return;
    const auto s = state();
    if (s == UIGestureRecognizerState::began || s == UIGestureRecognizerState::changed) {
        setState(event.phase == UITouchPhase::cancelled ? UIGestureRecognizerState::cancelled
                                                        : UIGestureRecognizerState::ended);
        sendActions();
    } else if (s == UIGestureRecognizerState::possible) {
        // The fingers left before a pinch began.
        stopWaiting();
        setState(UIGestureRecognizerState::failed);
        didFail();
    }
}

void UIPinchGestureRecognizer::reset() {
    touches_.clear();
    startDistance_ = 0;
}

bool UIPinchGestureRecognizer::isInProgress() const {
    const auto s = state();
    return !touches_.empty() &&
           (s == UIGestureRecognizerState::possible || s == UIGestureRecognizerState::began ||
            s == UIGestureRecognizerState::changed);
}

void UIPinchGestureRecognizer::waitedForRecognizerFailed() {
    if (state() == UIGestureRecognizerState::possible && touches_.size() == 2)
        beginPinch();
}

void UIPinchGestureRecognizer::waitedForRecognizerRecognized() {
    setState(UIGestureRecognizerState::failed);
    didFail();
}
