// The application shell: the delegates found by name and the idle timer following the
// application's state.
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "app/SceneDelegate.h"
#include "ui/UIApplication.h"

TEST(AppDelegate, IsFoundByItsModuleQualifiedName) {
    EXPECT_EQ(NSStringFromClass<AppDelegate>(), "Fernhold.AppDelegate");
    EXPECT_EQ(NSStringFromClass<SceneDelegate>(), "Fernhold.SceneDelegate");
    EXPECT_TRUE(ClassRegistry::instantiateAs<UIApplicationDelegate>("Fernhold.AppDelegate"));
    EXPECT_TRUE(ClassRegistry::instantiateAs<UIWindowSceneDelegate>("Fernhold.SceneDelegate"));
    EXPECT_TRUE(ClassRegistry::isRegistered("Fernhold.CameraViewController"));
}

TEST(AppDelegate, KeepsTheScreenAwakeOnlyWhileActive) {
    UIApplication& application = UIApplication::sharedApplication();
    auto delegate = std::make_shared<AppDelegate>();
    application.setDelegate(delegate);
    application.setIdleTimerDisabled(false);

    application.enterForeground();
    EXPECT_TRUE(application.isIdleTimerDisabled());
    application.becomeActive(); // a second time changes nothing
    EXPECT_TRUE(application.isIdleTimerDisabled());
    application.resignActive();
    EXPECT_FALSE(application.isIdleTimerDisabled());
    application.enterBackground(); // the screen may dim again
    EXPECT_FALSE(application.isIdleTimerDisabled());
    application.terminate();
    EXPECT_FALSE(application.isIdleTimerDisabled());
    application.setDelegate(nullptr);
}

TEST(SceneDelegate, HoldsAndReplacesItsWindow) {
    SceneDelegate scene;
    EXPECT_FALSE(scene.window());
    auto first = std::make_shared<UIWindow>();
    scene.setWindow(first);
    EXPECT_EQ(scene.window(), first);
    std::weak_ptr<UIWindow> watch = first;
    first.reset();
    scene.setWindow(std::make_shared<UIWindow>());
    EXPECT_TRUE(watch.expired()); // the old window is released
}
