#include "ui/UIControls.h"

void UIStackView::layoutSubviews() {
    UIRequireMainThread("UIStackView.layoutSubviews");
    const CGSize size = frame().size;
    const bool vertical = axis == UILayoutConstraintAxis::vertical;
    double offset = 0;
    bool first = true;
    for (const auto& view : subviews()) {
        if (view->isHidden())
            continue;
        if (!first)
            offset += spacing;
        first = false;
        CGRect f = view->frame();
        if (vertical) {
            f = CGRectMake(0, offset, size.width, f.size.height);
            offset += f.size.height;
        } else {
            f = CGRectMake(offset, 0, f.size.width, size.height);
            offset += f.size.width;
        }
        view->setFrame(f);
    }
    UIView::layoutSubviews();
}
