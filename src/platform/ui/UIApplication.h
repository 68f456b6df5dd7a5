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
#include <type_traits>
#include <typeindex>
#include <typeinfo>

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
    // Fills the main screen (UIScreen::mainBounds()) until the host gives it the size of the
    // screen or window it shows on.
    UIWindow();
    // The window takes `size` (points); the root controller's view fills it and the tree is
    // laid out again at once, so touches that follow hit the views where they now are.
    void resize(CGSize size);
    std::shared_ptr<UIViewController> rootViewController() const { return root_; }
    // Shows the controller's view as the window's subview, filling the window (a
    // controller without a view gets a plain one).
    void setRootViewController(std::shared_ptr<UIViewController> controller);
    // Routes a touch event: began events pick the touched view (hit test); the event
    // then goes to that view if it tracks touches itself (a control), otherwise to the
    // enabled recognizers of the view and its ancestors.
    void sendEvent(const UIEvent& event);
    const char* className() const override { return "UIWindow"; }

  private:
    void deliverToControl(const UIEvent& event);
    void deliverToRecognizers(const UIEvent& event);
    std::shared_ptr<UIViewController> root_;
    // The touch sequence under way: the touches down, and where its events go (the
    // control tracking it, or else the recognizers picked when it began).
    std::vector<int> touchesDown_;
    UIView* touchedView_ = nullptr;
    int trackedTouch_ = 0;
    std::vector<std::weak_ptr<UIGestureRecognizer>> sequenceRecognizers_;
};

// The smallest window the scene's interface can be laid out in; a host with resizable
// windows keeps its window at least this large. Zero: no restriction.
struct UISceneSizeRestrictions {
    CGSize minimumSize{0, 0};
};

class UIScene {
  public:
    std::shared_ptr<UIWindowSceneDelegate> delegate;
    UISceneSizeRestrictions sizeRestrictions;
};

class UIApplication {
  public:
    static UIApplication& sharedApplication();

    bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
    void setIdleTimerDisabled(bool disabled);
    // The host's hand on the display's screen saver: told each time the flag is set.
    void setIdleTimerHandler(std::function<void(bool disabled)> handler);

    const std::shared_ptr<UIApplicationDelegate>& delegate() const { return delegate_; }
    const std::shared_ptr<UIScene>& scene() const { return scene_; }
    std::shared_ptr<UIWindow> keyWindow() const;

    // Life-cycle transitions, sent by the host; each tells the application delegate (the
    // scene delegate hears its own messages from UIApplicationMain).
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
    std::function<void(bool)> idleTimerHandler_;
    std::shared_ptr<UIApplicationDelegate> delegate_;
    std::shared_ptr<UIScene> scene_;
};

// Looking classes up by their module-qualified name ("Fernhold.AppDelegate").
//
// A class registered with its type (registerClass<Type>, ClassRegistration, or
// FERNHOLD_REGISTER_CLASS) can be made as any of the UI kit's roles it plays
// (instantiateAs<UIApplicationDelegate>, <UIWindowSceneDelegate>, <UIViewController>,
// <UIResponder>, <UIGestureRecognizerDelegate>), as itself, or as one of the extra bases
// named at registration; the registry does the pointer conversion, which a plain cast of
// the void pointer would get wrong under multiple inheritance. Its name is then also
// found from the type (NSStringFromClass<Type>()).
class ClassRegistry {
  public:
    using Factory = std::function<std::shared_ptr<void>()>;
    // An untyped factory: instantiate() only; instantiateAs<>() gives nullptr for it.
    static void registerClass(const std::string& name, Factory factory);
    template <typename Type, typename... ExtraBases> static void registerClass(const std::string& name) {
        registerTyped(
            name, typeid(Type), [] { return std::static_pointer_cast<void>(std::make_shared<Type>()); },
            &castTo<Type, UIApplicationDelegate, UIWindowSceneDelegate, UIViewController, UIResponder,
                    UIGestureRecognizerDelegate, ExtraBases...>);
    }
    static std::shared_ptr<void> instantiate(const std::string& name); // nullptr if unknown
    // nullptr if unknown, or when the class is not a `Base` (or was registered untyped).
    template <typename Base> static std::shared_ptr<Base> instantiateAs(const std::string& name) {
        return std::static_pointer_cast<Base>(instantiateAs(name, typeid(Base)));
    }
    static bool isRegistered(const std::string& name);
    // The name registered for `type`; for a type never registered, its C++ name.
    static std::string nameOf(std::type_index type);

  private:
    // Turns the object a typed factory made (a Type) into a pointer to `base`; nullptr
    // when Type is not a `base`.
    using Caster = std::shared_ptr<void> (*)(const std::shared_ptr<void>& object, std::type_index base);
    static void registerTyped(const std::string& name, std::type_index type, Factory factory, Caster caster);
    static std::shared_ptr<void> instantiateAs(const std::string& name, std::type_index base);

    template <typename Type, typename Base>
    static std::shared_ptr<void> upcast(const std::shared_ptr<Type>& object) {
        if constexpr (std::is_convertible_v<Type*, Base*>)
            return std::static_pointer_cast<void>(std::static_pointer_cast<Base>(object));
        else
            return nullptr;
    }
    template <typename Type, typename... Bases>
    static std::shared_ptr<void> castTo(const std::shared_ptr<void>& object, std::type_index base) {
        if (base == std::type_index(typeid(Type)))
            return object;
        auto typed = std::static_pointer_cast<Type>(object);
        std::shared_ptr<void> result;
        (void)((base == std::type_index(typeid(Bases)) && (result = upcast<Type, Bases>(typed), true)) ||
               ...);
        return result;
    }
};

// Registers `Type` under `name` at start-up; `Type` is made with std::make_shared.
template <typename Type> struct ClassRegistration {
    explicit ClassRegistration(const char* name) { ClassRegistry::registerClass<Type>(name); }
};

#define FERNHOLD_CLASS_REGISTRATION_JOIN2(a, b) a##b
#define FERNHOLD_CLASS_REGISTRATION_JOIN(a, b) FERNHOLD_CLASS_REGISTRATION_JOIN2(a, b)
// At namespace scope in the class's .cpp: FERNHOLD_REGISTER_CLASS(AppDelegate, "Fernhold.AppDelegate");
#define FERNHOLD_REGISTER_CLASS(Type, name)                                                                  \
    static const ClassRegistration<Type> FERNHOLD_CLASS_REGISTRATION_JOIN(fernholdClassRegistration,         \
                                                                          __LINE__)(name)

// The name `Type` was registered under ("Fernhold.AppDelegate").
template <typename Type> std::string NSStringFromClass() {
    return ClassRegistry::nameOf(typeid(Type));
}

// The scene configuration (Info.plist's part): which class is the scene delegate and
// which interface description (a function that builds the initial view controller)
// the scene loads.
struct UISceneConfiguration {
    std::string delegateClassName;
    std::function<std::shared_ptr<UIViewController>()> storyboard;
    UISceneSizeRestrictions sizeRestrictions{};
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
// Where no host is installed, UIApplicationMain asks this factory (installed by the
// platform's host at start-up) to make one from the command line. A null host ends the
// run with `exitStatus`.
using UIApplicationHostFactory =
    std::function<std::shared_ptr<UIApplicationHost>(int argc, char** argv, int& exitStatus)>;
void UISetApplicationHostFactory(UIApplicationHostFactory factory);

// Creates the application, its delegate (named by delegateClassName), the scene and its
// window, loads and shows the initial controller, becomes active, and runs the host's
// main loop. Returns the host's exit status; 1, with a message on standard error, when no
// host is installed or a named class is missing or of the wrong kind.
int UIApplicationMain(int argc, char** argv, const char* principalClassName,
                      const std::string& delegateClassName);
