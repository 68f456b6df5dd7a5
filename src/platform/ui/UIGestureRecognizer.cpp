// What every recognizer shares: targets, state, enabling, and the failure rule between
// recognizers of one view tree.
#include "ui/UIGestureRecognizer.h"

#include <algorithm>

#include "dispatch/DispatchQueue.h"
#include "ui/UIView.h"

namespace {
void collectRecognizers(const UIView& view, std::vector<std::shared_ptr<UIGestureRecognizer>>& into) {
    for (const auto& recognizer : view.gestureRecognizers())
        into.push_back(recognizer);
    for (const auto& subview : view.subviews())
        collectRecognizers(*subview, into);
}
} // namespace

UIGestureRecognizer::~UIGestureRecognizer() {
    // A recognizer that goes away will never fail, so whoever waits for it would wait
    // forever. Tell them later, from the main queue: now the view tree they belong to may
    // itself be half torn down.
    for (auto& weakWaiter : waiters_) {
        DispatchQueue::main().async([weakWaiter] {
            auto waiter = weakWaiter.lock();
            if (!waiter || !waiter->isWaiting())
                return;
            std::erase_if(waiter->waitingFor_, [](const auto& other) { return other.expired(); });
            if (waiter->waitingFor_.empty())
                waiter->waitedForRecognizerFailed();
        });
    }
}

void UIGestureRecognizer::addTarget(Action action) {
    UIRequireMainThread("UIGestureRecognizer.addTarget");
    if (action)
        actions_.push_back(std::move(action));
}

UIGestureRecognizerState UIGestureRecognizer::state() const {
    UIRequireMainThread("UIGestureRecognizer.state");
    return state_;
}

bool UIGestureRecognizer::isEnabled() const {
    UIRequireMainThread("UIGestureRecognizer.isEnabled");
    return enabled_;
}

void UIGestureRecognizer::setEnabled(bool enabled) {
    UIRequireMainThread("UIGestureRecognizer.setEnabled");
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    if (enabled)
        return;
    if (state_ == UIGestureRecognizerState::began || state_ == UIGestureRecognizerState::changed) {
        setState(UIGestureRecognizerState::cancelled);
        sendActions();
    }
    stopWaiting();
    reset();
    didFail();
}

void UIGestureRecognizer::setState(UIGestureRecognizerState s) {
    UIRequireMainThread("UIGestureRecognizer.setState");
    state_ = s;
}

void UIGestureRecognizer::resetStateForNewSequence() {
    if (state_ == UIGestureRecognizerState::ended || state_ == UIGestureRecognizerState::cancelled ||
        state_ == UIGestureRecognizerState::failed)
        setState(UIGestureRecognizerState::possible);
}

void UIGestureRecognizer::sendActions() {
    UIRequireMainThread("UIGestureRecognizer.sendActions");
    // A copy: an action may add targets. The recognizer is kept alive while its actions
    // run, even if one of them removes its view.
    auto self = weak_from_this().lock();
    auto actions = actions_;
    for (auto& action : actions)
        action(*this);
}

std::vector<std::shared_ptr<UIGestureRecognizer>> UIGestureRecognizer::recognizersToWaitFor() {
    std::vector<std::shared_ptr<UIGestureRecognizer>> result;
    if (!view_)
        return result;
    const UIView* root = view_;
    while (root->superview())
        root = root->superview();
    std::vector<std::shared_ptr<UIGestureRecognizer>> all;
    collectRecognizers(*root, all);
    for (auto& other : all) {
        // One busy with nothing has nothing to fail; one already waiting for this one
        // would wait forever if this one waited too.
        if (other.get() == this || !other->enabled_ || !other->isInProgress() || other->isWaitingFor(this))
            continue;
        const bool mustWait =
            (other->delegate_ &&
             other->delegate_->gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(*other, *this)) ||
            (delegate_ &&
             delegate_->gestureRecognizerShouldBeRequiredToFailByGestureRecognizer(*other, *this));
        if (mustWait)
            result.push_back(other);
    }
    return result;
}

bool UIGestureRecognizer::waitFor(const std::vector<std::shared_ptr<UIGestureRecognizer>>& others) {
    stopWaiting();
    for (const auto& other : others) {
        waitingFor_.push_back(other);
        other->waiters_.push_back(weak_from_this());
    }
    return !waitingFor_.empty();
}

void UIGestureRecognizer::stopWaiting() {
    for (auto& weakOther : waitingFor_) {
        if (auto other = weakOther.lock())
            std::erase_if(other->waiters_, [this](const auto& waiter) {
                auto locked = waiter.lock();
                return !locked || locked.get() == this;
            });
    }
    waitingFor_.clear();
}

bool UIGestureRecognizer::isWaitingFor(const UIGestureRecognizer* other) const {
    return std::any_of(waitingFor_.begin(), waitingFor_.end(),
                       [other](const auto& weak) { return weak.lock().get() == other; });
}

void UIGestureRecognizer::didFail() {
    auto waiters = std::move(waiters_);
    waiters_.clear();
    for (auto& weakWaiter : waiters) {
        auto waiter = weakWaiter.lock();
        if (!waiter || !waiter->isWaitingFor(this))
            continue;
        std::erase_if(waiter->waitingFor_, [this](const auto& weak) {
            auto other = weak.lock();
            return !other || other.get() == this;
        });
        if (waiter->waitingFor_.empty())
            waiter->waitedForRecognizerFailed();
    }
}

void UIGestureRecognizer::didRecognize() {
    auto waiters = std::move(waiters_);
    waiters_.clear();
    for (auto& weakWaiter : waiters) {
        auto waiter = weakWaiter.lock();
        if (!waiter || !waiter->isWaitingFor(this))
            continue;
        waiter->stopWaiting();
        waiter->waitedForRecognizerRecognized();
    }
}
