#include "capture/OwnChange.h"

#include <cstdio>
#include <cstdlib>

namespace {
thread_local bool acquiring = false;
} // namespace

OwnChange::OwnChange(AVCaptureDevice& device) : device_(device) {
    acquiring = true;
    const bool locked = device_.lockForConfiguration(nullptr);
    acquiring = false;
    if (!locked) {
        // Only a device that ignores inProgress() in its refusal can get here.
        std::fprintf(stderr, "capture: a device refused the configuration lock to itself\n");
        std::abort();
    }
}

bool OwnChange::inProgress() {
    return acquiring;
}
