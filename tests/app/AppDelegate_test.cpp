// The application delegate keeps the screen awake only while the application is active.
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "ui/UIApplication.h"

TEST(AppDelegate, KeepsTheScreenAwakeOnlyWhileActive) {
    UIApplication& application = UIApplication::sharedApplication();
    application.setDelegate(std::make_shared<AppDelegate>());
    application.setIdleTimerDisabled(false);
    application.enterForeground();
    EXPECT_TRUE(application.isIdleTimerDisabled());
    application.resignActive();
    EXPECT_FALSE(application.isIdleTimerDisabled());
    application.enterBackground(); // the screen may dim again
    EXPECT_FALSE(application.isIdleTimerDisabled());
    application.setDelegate(nullptr);
}
