// The process entry: hands control to the application loop with AppDelegate as the
// application's delegate.
#include <string>

#include "app/AppDelegate.h"
#include "ui/UIApplication.h"

int main(int argc, char* argv[]) {
    std::string appDelegateClassName = NSStringFromClass<AppDelegate>();
    return UIApplicationMain(argc, argv, nullptr, appDelegateClassName);
}
