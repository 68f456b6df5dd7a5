// Start-up: from the delegate's name to the running main loop.
#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "ui/UIApplication.h"

namespace {
UISceneConfiguration& sceneConfiguration() {
    static UISceneConfiguration configuration;
    return configuration;
}
std::shared_ptr<UIApplicationHost>& applicationHost() {
    static std::shared_ptr<UIApplicationHost> host;
    return host;
}

UIApplicationHostFactory& applicationHostFactory() {
    static UIApplicationHostFactory factory;
    return factory;
}

int startFailed(const std::string& why) {
    foundation::logError("UIApplicationMain: " + why);
    return 1;
}
} // namespace

void UISetSceneConfiguration(UISceneConfiguration configuration) {
    sceneConfiguration() = std::move(configuration);
}

void UISetApplicationHost(std::shared_ptr<UIApplicationHost> host) {
    applicationHost() = std::move(host);
}

void UISetApplicationHostFactory(UIApplicationHostFactory factory) {
    applicationHostFactory() = std::move(factory);
}

int UIApplicationMain(int argc, char** argv, const char* principalClassName,
                      const std::string& delegateClassName) {
    DispatchQueue::markMainThread();
    UIRequireMainThread("UIApplicationMain");
    auto host = applicationHost();
    if (!host && applicationHostFactory()) {
        // The host reads the command line; it may end the run before anything starts
        // (--help, a bad option, no GPU).
        int exitStatus = 1;
        host = applicationHostFactory()(argc, argv, exitStatus);
        if (!host)
            return exitStatus;
    }
    if (!host)
        return startFailed("no application host installed");
    // The application object is always a UIApplication; a subclass named here cannot be
    // made, so the name only earns a note.
    if (principalClassName && std::string(principalClassName) != "UIApplication")
        foundation::logError(std::string("UIApplicationMain: principal class '") + principalClassName +
                             "' not supported; using UIApplication");

    UIApplication& application = UIApplication::sharedApplication();
    auto delegate = ClassRegistry::instantiateAs<UIApplicationDelegate>(delegateClassName);
    if (!delegate) {
        return startFailed(ClassRegistry::isRegistered(delegateClassName)
                               ? "'" + delegateClassName + "' is not an application delegate"
                               : "no class registered as '" + delegateClassName + "'");
    }
    application.setDelegate(delegate);

    const UISceneConfiguration configuration = sceneConfiguration();
    auto sceneDelegate = ClassRegistry::instantiateAs<UIWindowSceneDelegate>(configuration.delegateClassName);
    if (!sceneDelegate) {
        return startFailed(ClassRegistry::isRegistered(configuration.delegateClassName)
                               ? "'" + configuration.delegateClassName + "' is not a window scene delegate"
                               : "no scene delegate class registered as '" + configuration.delegateClassName +
                                     "'");
    }
    if (!configuration.storyboard)
        return startFailed("the scene configuration names no interface description");
    auto scene = std::make_shared<UIScene>();
    scene->delegate = sceneDelegate;
    scene->sizeRestrictions = configuration.sizeRestrictions;
    application.setScene(scene);

    auto window = std::make_shared<UIWindow>();
    auto controller = configuration.storyboard();
    if (!controller)
        return startFailed("the interface description built no view controller");
    window->setRootViewController(controller);
    controller->viewDidLoad();
    controller->viewWillAppear(false);

    sceneDelegate->setWindow(window);
    sceneDelegate->sceneWillConnectToSession(*scene);
    sceneDelegate->sceneWillEnterForeground(*scene);
    sceneDelegate->sceneDidBecomeActive(*scene);
    application.enterForeground();
    application.becomeActive();

    host->sceneDidLoad(window);
    return host->runMainLoop();
}
