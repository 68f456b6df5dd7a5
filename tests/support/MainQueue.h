#pragma once
// The main queue run by a test, as the run loop would run it.
#include <algorithm>
#include <chrono>

#include "dispatch/DispatchQueue.h"

// Runs the main queue until `done()` or the deadline; returns done().
template <typename Pred>
bool runMainUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    // `done()` may turn true on another thread with no main-queue work to wake this one,
    // so it is looked at again every few milliseconds, not only when work arrives.
    auto deadline = DispatchQueue::Clock::now() + limit;
    while (!done() && DispatchQueue::Clock::now() < deadline) {
        DispatchQueue::main().waitForWork(
            std::min(deadline, DispatchQueue::Clock::now() + std::chrono::milliseconds(5)));
        DispatchQueue::main().drain();
    }
    return done();
}
