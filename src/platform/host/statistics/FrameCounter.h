#pragma once
// Counts the frames the render view presents, for `wait N frames` and the statistics: a
// sink of the render view that never asks for pixels. Frames arrive on the GPU queue;
// waiters sleep on a condition variable until enough have come, none has come for too
// long, or they are interrupted.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "pipeline/FrameSink.h"

namespace host {

class FrameCounter : public FrameSink {
  public:
    using Clock = std::chrono::steady_clock;
    enum class WaitResult { reached, stalled, interrupted, deadline };

    // Any thread: one more frame presented; `captured` is when its camera frame reached
    // the pipeline, where known.
    void frameArrived(std::optional<Clock::time_point> captured = std::nullopt);
    uint64_t count() const;

    // GPU queue: counts the frame, then calls the arrival handler (the host wakes its loop).
    void framePresented(const PresentedFrame& frame) override;
    // Set once, before the counter is added to a render view.
    void setArrivalHandler(std::function<void()> handler) { arrivalHandler_ = std::move(handler); }

    // How late the frames presented during the last second were, from capture to
    // presentation; nothing when none came with a capture time.
    struct Latency {
        double medianMilliseconds = 0, percentile99Milliseconds = 0;
        size_t frames = 0;
    };
    std::optional<Latency> recentLatency(Clock::time_point now = Clock::now()) const;

    // Blocks until `target` frames have been counted (reached), no frame has arrived for
    // `stallLimit` (stalled), interrupt() was called (interrupted), or `deadline` passed
    // (deadline; the caller may wait again).
    WaitResult waitFor(uint64_t target, Clock::duration stallLimit, Clock::time_point deadline);

    // Ends every wait, now and later.
    void interrupt();

  private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    uint64_t count_ = 0;
    Clock::time_point lastArrival_ = Clock::now();
    bool interrupted_ = false;
    uint64_t lastSequence_ = 0; // GPU queue only: a frame is counted once
    std::function<void()> arrivalHandler_;
    // (presented at, latency) for the last second's frames.
    mutable std::deque<std::pair<Clock::time_point, Clock::duration>> latencies_;
};

} // namespace host
