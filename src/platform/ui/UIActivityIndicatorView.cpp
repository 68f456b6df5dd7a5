#include "ui/UIControls.h"

namespace {
double sideFor(UIActivityIndicatorViewStyle style) {
    return style == UIActivityIndicatorViewStyle::large ? 37 : 20;
}
} // namespace

UIActivityIndicatorView::UIActivityIndicatorView(UIActivityIndicatorViewStyle style)
    : UIView(CGRectMake(0, 0, sideFor(style), sideFor(style))), style_(style) {
    // hidesWhenStopped: a stopped indicator is not shown.
    setHidden(true);
}

UIColor UIActivityIndicatorView::color() const {
    UIRequireMainThread("UIActivityIndicatorView.color");
    return color_;
}

void UIActivityIndicatorView::setColor(UIColor c) {
    UIRequireMainThread("UIActivityIndicatorView.setColor");
    color_ = c;
}

bool UIActivityIndicatorView::isAnimating() const {
    UIRequireMainThread("UIActivityIndicatorView.isAnimating");
    return animating_;
}

void UIActivityIndicatorView::startAnimating() {
    UIRequireMainThread("UIActivityIndicatorView.startAnimating");
    animating_ = true;
    setHidden(false);
}

void UIActivityIndicatorView::stopAnimating() {
    UIRequireMainThread("UIActivityIndicatorView.stopAnimating");
    animating_ = false;
    setHidden(true);
}
