#include "host/statistics/FrameCounter.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace host {
namespace {

constexpr auto latencyWindow = std::chrono::seconds(1);

} // namespace

void FrameCounter::frameArrived(std::optional<Clock::time_point> captured) {
    {
        std::lock_guard lock(mutex_);
        ++count_;
        lastArrival_ = Clock::now();
        if (captured && *captured != Clock::time_point{} && *captured <= lastArrival_) {
            latencies_.emplace_back(lastArrival_, lastArrival_ - *captured);
            while (latencies_.front().first < lastArrival_ - latencyWindow)
                latencies_.pop_front();
        }
    }
    arrived_.notify_all();
}

void FrameCounter::framePresented(const PresentedFrame& frame) {
    // A counter added while frames flow hears of the frame shown then as well.
    if (frame.sequence <= lastSequence_)
        return;
    lastSequence_ = frame.sequence;
    frameArrived(frame.captureTime);
    if (arrivalHandler_)
        arrivalHandler_();
}

std::optional<FrameCounter::Latency> FrameCounter::recentLatency(Clock::time_point now) const {
    std::vector<double> milliseconds;
    {
        std::lock_guard lock(mutex_);
        while (!latencies_.empty() && latencies_.front().first < now - latencyWindow)
            latencies_.pop_front();
        for (const auto& [presented, latency] : latencies_)
            milliseconds.push_back(std::chrono::duration<double, std::milli>(latency).count());
    }
    if (milliseconds.empty())
        return std::nullopt;
    std::sort(milliseconds.begin(), milliseconds.end());
    // Nearest rank: the smallest value with at least that share of the frames at or below it.
    auto rank = [&](double share) {
        const size_t index = static_cast<size_t>(std::ceil(share * static_cast<double>(milliseconds.size())));
        return milliseconds[std::clamp<size_t>(index, 1, milliseconds.size()) - 1];
    };
    return Latency{rank(0.5), rank(0.99), milliseconds.size()};
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
