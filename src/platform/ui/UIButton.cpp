#include "ui/UIControls.h"

UIButton::UIButton(std::string title) : title_(std::move(title)) {}

const std::string& UIButton::title() const {
    UIRequireMainThread("UIButton.title");
    return title_;
}

void UIButton::touchEnded(CGPoint p) {
    UIRequireMainThread("UIButton.touchEnded");
    if (isEnabled() && CGRectContainsPoint(frameInRoot(), p))
        sendActionsForControlEvents(UIControlEvents::touchUpInside);
}
