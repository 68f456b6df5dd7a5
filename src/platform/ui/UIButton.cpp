#include "ui/UIControls.h"

UIButton::UIButton(std::string title, UIButtonStyle style) : title_(std::move(title)), style_(style) {}

const std::string& UIButton::title() const {
    UIRequireMainThread("UIButton.title");
    return title_;
}

void UIButton::touchEnded(CGPoint p) {
    UIRequireMainThread("UIButton.touchEnded");
    if (isEnabled() && CGRectContainsPoint(frameInRoot(), p))
        sendActionsForControlEvents(UIControlEvents::touchUpInside);
}

void UIButton::setTitle(std::string title) {
    UIRequireMainThread("UIButton.setTitle");
    title_ = std::move(title);
}

void UIButton::setSelected(bool selected) {
    UIRequireMainThread("UIButton.setSelected");
    selected_ = selected;
}
