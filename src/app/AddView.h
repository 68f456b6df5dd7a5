#pragma once
// How the interface description makes a view: named by its outlet, framed, and added to
// its parent, which owns it; the raw pointer is the outlet's.
#include <memory>
#include <utility>

#include "ui/UIView.h"

template <typename View, typename... Args>
View* addView(UIView& parent, const char* outletName, CGRect frame, Args&&... args) {
    auto view = std::make_shared<View>(std::forward<Args>(args)...);
    view->setIdentifier(outletName);
    view->setFrame(frame);
    View* raw = view.get();
    parent.addSubview(std::move(view));
    return raw;
}
