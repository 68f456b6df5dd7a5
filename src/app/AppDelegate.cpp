#include "app/AppDelegate.h"

FERNHOLD_REGISTER_CLASS(AppDelegate, "Fernhold.AppDelegate");

void AppDelegate::applicationDidBecomeActive(UIApplication& application) {
    application.setIdleTimerDisabled(true);
}

void AppDelegate::applicationWillEnterForeground(UIApplication& application) {
    application.setIdleTimerDisabled(true);
}

void AppDelegate::applicationWillResignActive(UIApplication& application) {
    application.setIdleTimerDisabled(false);
}

void AppDelegate::applicationDidEnterBackground(UIApplication&) {}

void AppDelegate::applicationWillTerminate(UIApplication&) {}
