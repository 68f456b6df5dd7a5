#include <algorithm>

#include "ui/UIControls.h"

namespace {

// Where each visible subview goes in a stack of `size`, in order; returns the height used.
// A vertical stack's subviews start `shift` points above its top.
template <typename Place>
double arrange(const UIStackView& stack, CGSize size, const Place& place, double shift = 0) {
    const bool vertical = stack.axis == UILayoutConstraintAxis::vertical;
    double offset = 0, lineTop = 0, lineHeight = 0;
    bool first = true;
    for (const auto& view : stack.subviews()) {
        if (view->isHidden())
            continue;
        const CGSize own = view->frame().size;
        if (vertical) {
            offset += first ? 0 : stack.spacing;
            place(*view, CGRectMake(0, offset - shift, size.width, own.height));
            offset += own.height;
        } else if (stack.wraps) {
            double x = first ? 0 : offset + stack.spacing;
            if (!first && x + own.width > size.width) {
                lineTop += lineHeight + stack.spacing;
                lineHeight = 0;
                x = 0;
            }
            place(*view, CGRectMake(x, lineTop, own.width, own.height));
            offset = x + own.width;
            lineHeight = std::max(lineHeight, own.height);
        } else {
            offset += first ? 0 : stack.spacing;
            place(*view, CGRectMake(offset, 0, own.width, size.height));
            offset += own.width;
        }
        first = false;
    }
    if (vertical)
        return offset;
    return stack.wraps ? lineTop + lineHeight : size.height;
}

} // namespace

void UIStackView::scrollBy(double points) {
    UIRequireMainThread("UIStackView.scrollBy");
    contentOffset_ += points;
    layoutSubviews();
}

void UIStackView::layoutSubviews() {
    UIRequireMainThread("UIStackView.layoutSubviews");
    const CGSize size = frame().size;
    // Content that has come to fit (a taller window, fewer rows) needs less scrolling.
    const double overflow = scrolls ? heightForWidth(size.width) - size.height : 0;
    contentOffset_ = std::clamp(contentOffset_, 0.0, std::max(0.0, overflow));
    arrange(
        *this, size, [](UIView& view, CGRect f) { view.setFrame(f); }, contentOffset_);
    UIView::layoutSubviews();
}

double UIStackView::heightForWidth(double width) const {
    UIRequireMainThread("UIStackView.heightForWidth");
    return arrange(*this, CGSize{width, frame().size.height}, [](UIView&, CGRect) {});
}
