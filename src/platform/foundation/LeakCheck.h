#pragma once
// The application ends with _Exit (see HostCore::finish), which skips the leak checker's
// own run at exit. Builds with the address sanitizer call this just before, so the program
// itself is checked for leaks, not only the tests that host its parts. Elsewhere it does
// nothing.
#if defined(__SANITIZE_ADDRESS__)
#define FERNHOLD_HAS_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FERNHOLD_HAS_LEAK_CHECKER 1
#endif
#endif

#ifdef FERNHOLD_HAS_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

namespace foundation {

// Reports leaks and ends the process with the checker's exit code when there are any.
inline void checkForLeaksBeforeQuickExit() {
#ifdef FERNHOLD_HAS_LEAK_CHECKER
    __lsan_do_leak_check();
#endif
}

} // namespace foundation
