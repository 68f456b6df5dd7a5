#pragma once
// The application object, its delegates, the window and scene, the class registry and
// the application main loop.
//
// applicationMain creates the application and its delegate (by registered name), then the
// scene from the scene configuration: its delegate, its window and the initial view
// controller built by the interface description. It then runs the main run loop on the
// calling thread (which becomes the main thread) through the installed host, until the
// host asks to quit.
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ui/UIGestureRecognizer.h"
#include "ui/UIViewController.h"

class UIApplication;
class UIWindow;
class UIScene;

class UIApplicationDelegate {
public:
    virtual ~UIApplicationDelegate() = default;
    virtual void applicationDidBecomeActive(UIApplication&) {}
    virtual void applicationWillResignActive(UIApplication&) {}
    virtual void applicationDidEnterBackground(UIApplication&) {}
    virtual void applicationWillEnterForeground(UIApplication&) {}
    virtual void applicationWillTerminate(UIApplication&) {}
};

class UIWindowSceneDelegate {
public:
    virtual ~UIWindowSceneDelegate() = default;
    virtual std::shared_ptr<UIWindow> window() const = 0;
    virtual void setWindow(std::shared_ptr<UIWindow> window) = 0;
    virtual void sceneWillConnectToSession(UIScene&) {}
    virtual void sceneDidDisconnect(UIScene&) {}
    virtual void sceneDidBecomeActive(UIScene&) {}
    virtual void sceneWillResignActive(UIScene&) {}
    virtual void sceneWillEnterForeground(UIScene&) {}
    virtual void sceneDidEnterBackground(UIScene&) {}
};

// The window: the root of what is shown, and where touch events enter.
class UIWindow : public UIView {
public:
    UIWindow();
    std::shared_ptr<UIViewController> rootViewController() const { return root_; }
    void setRootViewController(std::shared_ptr<UIViewController> controller);
    // Routes a touch event: began events pick the touched view (hit test); the event
    // then goes to that view if it tracks touches itself (a control), otherwise to the
    // enabled recognizers of the view and its ancestors.
    void sendEvent(const UIEvent& event);
    const char* className() const override { return "UIWindow"; }

private:
    std::shared_ptr<UIViewController> root_;
    UIView* touchedView_ = nullptr;
};

class UIScene {
public:
    std::shared_ptr<UIWindowSceneDelegate> delegate;
};

class UIApplication {
public:
    static UIApplication& sharedApplication();

    bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
    void setIdleTimerDisabled(bool disabled) { idleTimerDisabled_ = disabled; }

    const std::shared_ptr<UIApplicationDelegate>& delegate() const { return delegate_; }
    const std::shared_ptr<UIScene>& scene() const { return scene_; }
    std::shared_ptr<UIWindow> keyWindow() const;

    // Life-cycle transitions, sent by the host; each tells the delegate.
    void becomeActive();
    void resignActive();
    void enterBackground();
    void enterForeground();
    void terminate();

    // Used by applicationMain.
    void setDelegate(std::shared_ptr<UIApplicationDelegate> d) { delegate_ = std::move(d); }
    void setScene(std::shared_ptr<UIScene> s) { scene_ = std::move(s); }

private:
    bool idleTimerDisabled_ = false;
    std::shared_ptr<UIApplicationDelegate> delegate_;
    std::shared_ptr<UIScene> scene_;
};

// Looking classes up by their module-qualified name ("Fernhold.AppDelegate").
class ClassRegistry {
public:
    using Factory = std::function<std::shared_ptr<void>()>;
    static void registerClass(const std::string& name, Factory factory);
    static std::shared_ptr<void> instantiate(const std::string& name); // nullptr if unknown
    static bool isRegistered(const std::string& name);
};

// Registers `Type` under `name` at start-up; `Type` is made with std::make_shared.
template <typename Type> struct ClassRegistration {
    explicit ClassRegistration(const char* name) {
        ClassRegistry::registerClass(name, [] { return std::static_pointer_cast<void>(std::make_shared<Type>()); });
    }
};

template <typename Type> std::string NSStringFromClass();

// The scene configuration (Info.plist's part): which class is the scene delegate and
// which interface description (a function that builds the initial view controller)
// the scene loads.
struct UISceneConfiguration {
    std::string delegateClassName;
    std::function<std::shared_ptr<UIViewController>()> storyboard;
};
void UISetSceneConfiguration(UISceneConfiguration configuration);

// The host drives the main thread: it waits for input and main-queue work, routes touch
// events to the key window, and presents. Installed before applicationMain runs.
class UIApplicationHost {
public:
    virtual ~UIApplicationHost() = default;
    // Called once the scene's window and controller exist and its view has loaded.
    virtual void sceneDidLoad(const std::shared_ptr<UIWindow>& window) = 0;
    // Runs the main run loop until quit; returns the process exit status.
    virtual int runMainLoop() = 0;
};
void UISetApplicationHost(std::shared_ptr<UIApplicationHost> host);

// Creates the application, its delegate (named by delegateClassName), the scene and its
// window, loads and shows the initial controller, becomes active, and runs the host's
// main loop. Returns the host's exit status.
int UIApplicationMain(int argc, char** argv, const char* principalClassName, const std::string& delegateClassName);
