#include "ui/UIView.h"

#include <algorithm>

#include "ui/UIGestureRecognizer.h"

UIView::UIView() = default;

UIView::UIView(CGRect frame) : frame_(frame) {}

UIView::~UIView() {
    // Subviews or recognizers kept alive elsewhere must not point back at a dead view.
    for (auto& view : subviews_)
        view->superview_ = nullptr;
    for (auto& recognizer : recognizers_)
        recognizer->view_ = nullptr;
}

bool UIView::isHidden() const {
    UIRequireMainThread("UIView.isHidden");
    return hidden_;
}

void UIView::setHidden(bool hidden) {
    UIRequireMainThread("UIView.setHidden");
    hidden_ = hidden;
}

bool UIView::isHiddenOnScreen() const {
    UIRequireMainThread("UIView.isHiddenOnScreen");
    for (const UIView* view = this; view; view = view->superview_)
        if (view->hidden_)
            return true;
    return false;
}

CGRect UIView::frame() const {
    return frame_;
}

void UIView::setFrame(CGRect frame) {
    UIRequireMainThread("UIView.setFrame");
    frame_ = frame;
}

CGRect UIView::frameInRoot() const {
    CGRect result = frame_;
    for (const UIView* view = superview_; view; view = view->superview_) {
        result.origin.x += view->frame_.origin.x;
        result.origin.y += view->frame_.origin.y;
    }
    return result;
}

void UIView::addSubview(std::shared_ptr<UIView> view) {
    UIRequireMainThread("UIView.addSubview");
    if (!view)
        return;
    for (const UIView* ancestor = this; ancestor; ancestor = ancestor->superview_)
        if (ancestor == view.get())
            return; // a view inside itself would own itself
    if (view->superview_)
        view->removeFromSuperview();
    view->superview_ = this;
    subviews_.push_back(std::move(view));
}

void UIView::removeFromSuperview() {
    UIRequireMainThread("UIView.removeFromSuperview");
    UIView* parent = superview_;
    if (!parent)
        return;
    auto it = std::find_if(parent->subviews_.begin(), parent->subviews_.end(),
                           [this](const std::shared_ptr<UIView>& v) { return v.get() == this; });
    if (it == parent->subviews_.end())
        return;
    // The parent may hold the last reference: this view dies when `self` goes out of
    // scope, after the last use of its members.
    std::shared_ptr<UIView> self = std::move(*it);
    parent->subviews_.erase(it);
    superview_ = nullptr;
}

const std::vector<std::shared_ptr<UIView>>& UIView::subviews() const {
    return subviews_;
}

UIView* UIView::superview() const {
    return superview_;
}

bool UIView::isDescendantOfView(const UIView* view) const {
    for (const UIView* v = this; v; v = v->superview_)
        if (v == view)
            return true;
    return false;
}

void UIView::addGestureRecognizer(std::shared_ptr<UIGestureRecognizer> recognizer) {
    UIRequireMainThread("UIView.addGestureRecognizer");
    if (!recognizer)
        return;
    if (UIView* old = recognizer->view_) {
        if (old == this)
            return;
        std::erase(old->recognizers_, recognizer);
    }
    recognizer->view_ = this;
    recognizers_.push_back(std::move(recognizer));
}

const std::vector<std::shared_ptr<UIGestureRecognizer>>& UIView::gestureRecognizers() const {
    return recognizers_;
}

namespace {
UIView* hitVisible(UIView& view, CGPoint point) {
    if (view.isHidden() || !CGRectContainsPoint(view.frameInRoot(), point))
        return nullptr;
    // Later subviews are drawn on top, so they are asked first.
    const auto& subviews = view.subviews();
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it)
        if (UIView* hit = hitVisible(**it, point))
            return hit;
    return &view;
}
} // namespace

UIView* UIView::hitTest(CGPoint pointInRoot) {
    UIRequireMainThread("UIView.hitTest");
    if (isHiddenOnScreen())
        return nullptr;
    return hitVisible(*this, pointInRoot);
}

void UIView::layoutSubviews() {
    UIRequireMainThread("UIView.layoutSubviews");
    if (layout_)
        layout_(*this);
    // A copy: a layout pass that moves views between parents must not upset the walk.
    auto subviews = subviews_;
    for (auto& view : subviews)
        view->layoutSubviews();
}

void UIView::setLayout(Layout layout) {
    UIRequireMainThread("UIView.setLayout");
    layout_ = std::move(layout);
}
