// Label, control, slider and segmented control.
#include "ui/UIControls.h"

#include <algorithm>
#include <cmath>

const std::string& UILabel::text() const {
    UIRequireMainThread("UILabel.text");
    return text_;
}

void UILabel::setText(std::string text) {
    UIRequireMainThread("UILabel.setText");
    text_ = std::move(text);
}

// ---- UIControl ------------------------------------------------------------------------

void UIControl::addTarget(Action action, UIControlEvents events) {
    UIRequireMainThread("UIControl.addTarget");
    if (!action)
        return;
    switch (events) {
    case UIControlEvents::valueChanged:
        valueChangedActions_.push_back(std::move(action));
        break;
    case UIControlEvents::touchUpInside:
        touchUpInsideActions_.push_back(std::move(action));
        break;
    }
}

void UIControl::sendActionsForControlEvents(UIControlEvents events) {
    UIRequireMainThread("UIControl.sendActionsForControlEvents");
    // A copy: an action may add targets to this control.
    auto actions = events == UIControlEvents::valueChanged ? valueChangedActions_ : touchUpInsideActions_;
    for (auto& action : actions)
        action(*this);
}

bool UIControl::isEnabled() const {
    UIRequireMainThread("UIControl.isEnabled");
    return enabled_;
}

void UIControl::setEnabled(bool enabled) {
    UIRequireMainThread("UIControl.setEnabled");
    enabled_ = enabled;
}

// ---- UISlider -------------------------------------------------------------------------

float UISlider::minimumValue() const {
    UIRequireMainThread("UISlider.minimumValue");
    return minimum_;
}

float UISlider::maximumValue() const {
    UIRequireMainThread("UISlider.maximumValue");
    return maximum_;
}

float UISlider::value() const {
    UIRequireMainThread("UISlider.value");
    return value_;
}

void UISlider::setMinimumValue(float v) {
    UIRequireMainThread("UISlider.setMinimumValue");
    minimum_ = v;
    maximum_ = std::max(maximum_, v);
    value_ = std::clamp(value_, minimum_, maximum_);
}

void UISlider::setMaximumValue(float v) {
    UIRequireMainThread("UISlider.setMaximumValue");
    maximum_ = v;
    minimum_ = std::min(minimum_, v);
    value_ = std::clamp(value_, minimum_, maximum_);
}

void UISlider::setValue(float v) {
    UIRequireMainThread("UISlider.setValue");
    // NaN would stick: every comparison with it fails, so clamping lets it through.
    if (std::isnan(v))
        v = minimum_;
    value_ = std::clamp(v, minimum_, maximum_);
}

void UISlider::touchBegan(CGPoint p) {
    trackTo(p);
}
void UISlider::touchMoved(CGPoint p) {
    trackTo(p);
}
void UISlider::touchEnded(CGPoint p) {
    trackTo(p);
}

void UISlider::trackTo(CGPoint p) {
    if (!isEnabled())
        return;
    const CGRect f = frameInRoot();
    double fraction = f.size.width > 0 ? (p.x - f.origin.x) / f.size.width : 0;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const float before = value_;
    setValue(static_cast<float>(minimum_ + fraction * (static_cast<double>(maximum_) - minimum_)));
    if (value_ != before)
        sendActionsForControlEvents(UIControlEvents::valueChanged);
}

void UISlider::dragTo(float v) {
    UIRequireMainThread("UISlider.dragTo");
    if (!isEnabled())
        return;
    setValue(v);
    sendActionsForControlEvents(UIControlEvents::valueChanged);
}

// ---- UISegmentedControl ---------------------------------------------------------------

UISegmentedControl::UISegmentedControl(std::vector<std::string> titles) : titles_(std::move(titles)) {}

int UISegmentedControl::numberOfSegments() const {
    UIRequireMainThread("UISegmentedControl.numberOfSegments");
    return static_cast<int>(titles_.size());
}

const std::string& UISegmentedControl::titleForSegment(int index) const {
    UIRequireMainThread("UISegmentedControl.titleForSegment");
    static const std::string none;
    if (index < 0 || index >= static_cast<int>(titles_.size()))
        return none;
    return titles_[static_cast<size_t>(index)];
}

int UISegmentedControl::selectedSegmentIndex() const {
    UIRequireMainThread("UISegmentedControl.selectedSegmentIndex");
    return selected_;
}

void UISegmentedControl::setSelectedSegmentIndex(int index) {
    UIRequireMainThread("UISegmentedControl.setSelectedSegmentIndex");
    selected_ = index >= 0 && index < static_cast<int>(titles_.size()) ? index : noSegment;
}

void UISegmentedControl::touchSegment(int index) {
    UIRequireMainThread("UISegmentedControl.touchSegment");
    if (!isEnabled() || index < 0 || index >= static_cast<int>(titles_.size()))
        return;
    selected_ = index;
    sendActionsForControlEvents(UIControlEvents::valueChanged);
}

void UISegmentedControl::touchEnded(CGPoint p) {
    const CGRect f = frameInRoot();
    if (titles_.empty() || !CGRectContainsPoint(f, p))
        return;
    const double segmentWidth = f.size.width / static_cast<double>(titles_.size());
    const int index = static_cast<int>(std::floor((p.x - f.origin.x) / segmentWidth));
    touchSegment(std::min(index, static_cast<int>(titles_.size()) - 1));
}
