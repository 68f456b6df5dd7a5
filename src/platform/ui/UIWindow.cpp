// The window: where touch events enter the view tree.
#include <algorithm>

#include "ui/UIApplication.h"
#include "ui/UIScreen.h"

UIWindow::UIWindow() : UIView(UIScreen::mainBounds()) {}

void UIWindow::setRootViewController(std::shared_ptr<UIViewController> controller) {
    UIRequireMainThread("UIWindow.setRootViewController");
    if (root_ && root_->view() && root_->view()->superview() == this)
        root_->view()->removeFromSuperview();
    root_ = std::move(controller);
    if (!root_)
        return;
    if (!root_->view())
        root_->setView(std::make_shared<UIView>());
    root_->view()->setFrame(CGRectMake(0, 0, frame().size.width, frame().size.height));
    addSubview(root_->view());
}

void UIWindow::resize(CGSize size) {
    UIRequireMainThread("UIWindow.resize");
    setFrame(CGRectMake(0, 0, size.width, size.height));
    if (root_ && root_->view())
        root_->view()->setFrame(CGRectMake(0, 0, size.width, size.height));
    layoutSubviews();
}

void UIWindow::sendEvent(const UIEvent& event) {
    UIRequireMainThread("UIWindow.sendEvent");
    if (event.touches.empty())
        return;
    if (event.phase == UITouchPhase::began) {
        if (touchesDown_.empty()) {
            // A new sequence: whatever the first touch lands on takes all of it.
            touchedView_ = nullptr;
            sequenceRecognizers_.clear();
            layoutSubviews(); // the views where they are drawn, after any that hid or showed
            UIView* hit = hitTest(event.touches.front().location);
            if (!hit)
                return;
            if (hit->handlesTouches()) {
                touchedView_ = hit;
                trackedTouch_ = event.touches.front().identifier;
            } else {
                for (UIView* view = hit; view; view = view->superview())
                    for (const auto& recognizer : view->gestureRecognizers())
                        sequenceRecognizers_.push_back(recognizer);
            }
        }
        for (const auto& touch : event.touches)
            touchesDown_.push_back(touch.identifier);
    } else if (touchesDown_.empty()) {
        return; // the rest of a sequence that began nowhere
    }

    if (touchedView_)
        deliverToControl(event);
    else
        deliverToRecognizers(event);

    if (event.phase == UITouchPhase::ended || event.phase == UITouchPhase::cancelled) {
        for (const auto& touch : event.touches) {
            auto it = std::find(touchesDown_.begin(), touchesDown_.end(), touch.identifier);
            if (it != touchesDown_.end())
                touchesDown_.erase(it);
        }
        if (touchesDown_.empty()) {
            touchedView_ = nullptr;
            sequenceRecognizers_.clear();
        }
    }
}

void UIWindow::deliverToControl(const UIEvent& event) {
    auto touch = std::find_if(event.touches.begin(), event.touches.end(),
                              [this](const UITouch& t) { return t.identifier == trackedTouch_; });
    if (touch == event.touches.end())
        return; // other fingers on a control do nothing
    UIView* control = touchedView_;
    switch (event.phase) {
    case UITouchPhase::began:
        control->touchBegan(touch->location);
        break;
    case UITouchPhase::moved:
        control->touchMoved(touch->location);
        break;
    case UITouchPhase::ended:
        control->touchEnded(touch->location);
        touchedView_ = nullptr;
        break;
    case UITouchPhase::cancelled:
        // A cancelled touch is no person's choice: the control is not told of an end.
        touchedView_ = nullptr;
        break;
    }
}

void UIWindow::deliverToRecognizers(const UIEvent& event) {
    // A copy: an action may end the sequence or change the recognizers.
    auto recognizers = sequenceRecognizers_;
    for (auto& weak : recognizers) {
        auto recognizer = weak.lock();
        if (recognizer && recognizer->isEnabled())
            recognizer->handleEvent(event);
    }
}
