#pragma once
// Finding a view of the screen the way a script names it: by its identifier (the outlet's
// name) and kind, depth first from `view`. Main thread, like every look at the tree.
#include <string_view>

#include "ui/UIView.h"

namespace host {

template <typename View> View* findView(UIView& view, std::string_view identifier) {
    if (view.identifier() == identifier)
        if (auto* typed = dynamic_cast<View*>(&view))
            return typed;
    for (const auto& child : view.subviews())
        if (auto* found = findView<View>(*child, identifier))
            return found;
    return nullptr;
}

} // namespace host
