#pragma once
// The application delegate: keeps the screen from dimming while the camera is in use.
#include <memory>

#include "ui/UIApplication.h"

class AppDelegate : public UIResponder, public UIApplicationDelegate {
  public:
    std::shared_ptr<UIWindow> window() const { return window_; }
    void setWindow(std::shared_ptr<UIWindow> window) { window_ = std::move(window); }

    void applicationDidBecomeActive(UIApplication& application) override;
    void applicationWillResignActive(UIApplication& application) override;
    void applicationDidEnterBackground(UIApplication& application) override;
    void applicationWillEnterForeground(UIApplication& application) override;
    void applicationWillTerminate(UIApplication& application) override;

  private:
    std::shared_ptr<UIWindow> window_;
};
