#pragma once
// The scene delegate: holds the scene's window; the window and its controller come from
// the interface description named by the scene configuration.
#include <memory>

#include "ui/UIApplication.h"

class SceneDelegate : public UIResponder, public UIWindowSceneDelegate {
  public:
    std::shared_ptr<UIWindow> window() const override { return window_; }
    void setWindow(std::shared_ptr<UIWindow> window) override { window_ = std::move(window); }

    void sceneWillConnectToSession(UIScene&) override {}
    void sceneDidDisconnect(UIScene&) override {}
    void sceneDidBecomeActive(UIScene&) override {}
    void sceneWillResignActive(UIScene&) override {}
    void sceneWillEnterForeground(UIScene&) override {}
    void sceneDidEnterBackground(UIScene&) override {}

  private:
    std::shared_ptr<UIWindow> window_;
};
