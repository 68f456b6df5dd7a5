#include "ui/UISwitchAndStepper.h"

#include <algorithm>

UISwitch::UISwitch(std::string title) : title_(std::move(title)) {}

const std::string& UISwitch::title() const {
    UIRequireMainThread("UISwitch.title");
    return title_;
}

bool UISwitch::isOn() const {
    UIRequireMainThread("UISwitch.isOn");
    return on_;
}

void UISwitch::setOn(bool on) {
    UIRequireMainThread("UISwitch.setOn");
    on_ = on;
}

void UISwitch::flipTo(bool on) {
    UIRequireMainThread("UISwitch.flipTo");
    if (!isEnabled() || on == on_)
        return;
    on_ = on;
    sendActionsForControlEvents(UIControlEvents::valueChanged);
}

void UISwitch::touchEnded(CGPoint p) {
    if (CGRectContainsPoint(frameInRoot(), p))
        flipTo(!on_);
}

UIStepper::UIStepper(double minimum, double maximum, double step, double value)
    : minimum_(minimum), maximum_(std::max(minimum, maximum)), step_(step),
      value_(std::clamp(value, minimum_, maximum_)) {}

double UIStepper::minimumValue() const {
    UIRequireMainThread("UIStepper.minimumValue");
    return minimum_;
}

double UIStepper::maximumValue() const {
    UIRequireMainThread("UIStepper.maximumValue");
    return maximum_;
}

double UIStepper::stepValue() const {
    UIRequireMainThread("UIStepper.stepValue");
    return step_;
}

double UIStepper::value() const {
    UIRequireMainThread("UIStepper.value");
    return value_;
}

void UIStepper::setValue(double v) {
    UIRequireMainThread("UIStepper.setValue");
    value_ = std::clamp(v, minimum_, maximum_);
}

void UIStepper::touchValue(double v) {
    UIRequireMainThread("UIStepper.touchValue");
    const double clamped = std::clamp(v, minimum_, maximum_);
    if (!isEnabled() || clamped == value_)
        return;
    value_ = clamped;
    sendActionsForControlEvents(UIControlEvents::valueChanged);
}

void UIStepper::touchEnded(CGPoint p) {
    const CGRect f = frameInRoot();
    if (!CGRectContainsPoint(f, p))
        return;
    stepBy(p.x < f.origin.x + f.size.width / 2 ? -1 : +1);
}
