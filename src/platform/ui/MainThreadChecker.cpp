// The main-thread checker: UI objects are not thread-safe, and a call from another
// thread corrupts them silently at some later time. Stopping at the faulty call names the
// culprit instead. Always on, since the faults it catches are timing-dependent.
#include <cstdlib>
#include <string>

#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "ui/UIView.h"

void UIRequireMainThread(const char* what) {
    if (DispatchQueue::isMainThread())
        return;
    foundation::logError(std::string("UI kit: ") + what + " used off the main thread");
    std::abort();
}
