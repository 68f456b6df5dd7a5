// What the window tells a newcomer: a hint in the picture's corner that the help is a key
// away, fading out after a few seconds.
#include <algorithm>

#include "dispatch/DispatchQueue.h"
#include "host/script/ViewSearch.h"
#include "host/window/WindowHost.h"
#include "ui/UIControls.h"

namespace host {
namespace {

constexpr auto hintShown = std::chrono::seconds(5);
constexpr auto hintFade = std::chrono::milliseconds(800);
// A fade in steps a person sees as smooth, without drawing more often than that.
constexpr auto fadeStep = std::chrono::milliseconds(40);

} // namespace

void WindowHost::showHelpHint() {
    UIView* picture = window() ? findView<UIView>(*window(), "renderView") : nullptr;
    if (!picture)
        return;
    auto hint = std::make_shared<UILabel>(CGRectMake(10, 10, 112, 26));
    hint->setIdentifier("helpHintLabel");
    hint->setText("? for help");
    hint->setFontSize(14);
    hint->setTextAlignment(NSTextAlignment::center);
    hint->setBackgroundColor({0, 0, 0, 0.55});
    helpHint_ = hint.get();
    picture->addSubview(std::move(hint));
    std::weak_ptr<HostCore> weak = weak_from_this();
    DispatchQueue::main().asyncAfter(hintShown, [weak] {
        if (auto self = std::static_pointer_cast<WindowHost>(weak.lock()))
            self->fadeHelpHint(std::chrono::steady_clock::now());
    });
}

void WindowHost::fadeHelpHint(std::chrono::steady_clock::time_point start) {
    const double done = std::chrono::duration<double>(std::chrono::steady_clock::now() - start) /
                        std::chrono::duration<double>(hintFade);
    helpHint_->setAlpha(std::clamp(1.0 - done, 0.0, 1.0));
    dirty_ = true;
    if (done >= 1) {
        helpHint_->setHidden(true);
        return;
    }
    std::weak_ptr<HostCore> weak = weak_from_this();
    DispatchQueue::main().asyncAfter(fadeStep, [weak, start] {
        if (auto self = std::static_pointer_cast<WindowHost>(weak.lock()))
            self->fadeHelpHint(start);
    });
}

} // namespace host
