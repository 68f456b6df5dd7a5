#include "ui/UIApplication.h"

UIApplication& UIApplication::sharedApplication() {
    static UIApplication application;
    return application;
}

std::shared_ptr<UIWindow> UIApplication::keyWindow() const {
    UIRequireMainThread("UIApplication.keyWindow");
    if (!scene_ || !scene_->delegate)
        return nullptr;
    return scene_->delegate->window();
}

void UIApplication::becomeActive() {
    UIRequireMainThread("UIApplication.becomeActive");
    if (delegate_)
        delegate_->applicationDidBecomeActive(*this);
}

void UIApplication::resignActive() {
    UIRequireMainThread("UIApplication.resignActive");
    if (delegate_)
        delegate_->applicationWillResignActive(*this);
}

void UIApplication::enterBackground() {
    UIRequireMainThread("UIApplication.enterBackground");
    if (delegate_)
        delegate_->applicationDidEnterBackground(*this);
}

void UIApplication::enterForeground() {
    UIRequireMainThread("UIApplication.enterForeground");
    if (delegate_)
        delegate_->applicationWillEnterForeground(*this);
}

void UIApplication::terminate() {
    UIRequireMainThread("UIApplication.terminate");
    if (delegate_)
        delegate_->applicationWillTerminate(*this);
}

void UIApplication::setIdleTimerDisabled(bool disabled) {
    idleTimerDisabled_ = disabled;
    if (idleTimerHandler_)
        idleTimerHandler_(disabled);
}

void UIApplication::setIdleTimerHandler(std::function<void(bool disabled)> handler) {
    idleTimerHandler_ = std::move(handler);
    if (idleTimerHandler_)
        idleTimerHandler_(idleTimerDisabled_);
}
