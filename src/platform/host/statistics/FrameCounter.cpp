#include "host/statistics/FrameCounter.h"

#include <algorithm>

namespace host {

void FrameCounter::frameArrived() {
    {
        std::lock_guard lock(mutex_);
        ++count_;
        lastArrival_ = Clock::now();
    }
    arrived_.notify_all();
}

uint64_t FrameCounter::count() const {
    std::lock_guard lock(mutex_);
    return count_;
}

FrameCounter::WaitResult FrameCounter::waitFor(uint64_t target, Clock::duration stallLimit,
                                               Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    // A wait that starts after a long quiet spell still gives the camera the full limit.
    const Clock::time_point started = Clock::now();
    for (;;) {
        if (interrupted_)
            return WaitResult::interrupted;
        if (count_ >= target)
            return WaitResult::reached;
        const Clock::time_point stallAt = std::max(lastArrival_, started) + stallLimit;
        const Clock::time_point now = Clock::now();
        if (now >= stallAt)
            return WaitResult::stalled;
        if (now >= deadline)
            return WaitResult::deadline;
        arrived_.wait_until(lock, std::min(stallAt, deadline));
    }
}

void FrameCounter::interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    arrived_.notify_all();
}

} // namespace host
