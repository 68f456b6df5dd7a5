#pragma once
// Helpers for the capture device tests: recording delivered frames and property changes,
// and waiting for them with a deadline on a condition variable (never by sleeping).
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/AVCaptureDevice.h"
#include "media/CMSampleBuffer.h"
#include "observe/KeyValueObserving.h"

namespace capturetest {

using Clock = std::chrono::steady_clock;

struct Arrival {
    CMSampleBufferRef sample;
    Clock::time_point at;
    std::thread::id thread;
};

// Records every frame a device delivers. The handler shares the state, so it stays valid
// whatever is destroyed first.
class FrameRecorder {
public:
    AVCaptureDevice::FrameHandler handler() const {
        return [state = state_](CMSampleBufferRef sample) {
            std::lock_guard lock(state->mutex);
            state->arrivals.push_back({std::move(sample), Clock::now(), std::this_thread::get_id()});
            state->changed.notify_all();
        };
    }
    // True once `count` frames in all have arrived, false at the deadline.
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return state_->arrivals.size() >= count; });
    }
    std::vector<Arrival> arrivals() const {
        std::lock_guard lock(state_->mutex);
        return state_->arrivals;
    }
    size_t count() const {
        std::lock_guard lock(state_->mutex);
        return state_->arrivals.size();
    }
    CMSampleBufferRef last() const {
        std::lock_guard lock(state_->mutex);
        return state_->arrivals.empty() ? nullptr : state_->arrivals.back().sample;
    }
    // Waits for `more` frames beyond those already seen and returns the last.
    CMSampleBufferRef next(size_t more = 1) const {
        size_t target = count() + more;
        return waitFor(target) ? last() : nullptr;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Arrival> arrivals;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Records the changes of one observable property, with the thread each arrived on.
template <typename T> class ChangeRecorder {
public:
    explicit ChangeRecorder(Observable<T>& property)
        : token_(property.observe(NSKeyValueObservingOptions::new_, [state = state_](const auto& change) {
              std::lock_guard lock(state->mutex);
              state->values.push_back(*change.newValue);
              state->threads.push_back(std::this_thread::get_id());
              state->changed.notify_all();
          })) {}
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return state_->values.size() >= count; });
    }
    // True once `done(values)` holds, false at the deadline.
    bool waitUntil(const std::function<bool(const std::vector<T>&)>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return done(state_->values); });
    }
    std::vector<T> values() const {
        std::lock_guard lock(state_->mutex);
        return state_->values;
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard lock(state_->mutex);
        return state_->threads;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<T> values;
        std::vector<std::thread::id> threads;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::unique_ptr<NSKeyValueObservation> token_;
};

// Mean of the Rec. 709 luma of the pixels (0 to 255), over a rectangle or the whole.
inline double meanLuma(const CVPixelBufferRef& buffer, int x0 = 0, int y0 = 0, int x1 = -1, int y1 = -1) {
    const auto& bytes = *buffer->storage();
    if (x1 < 0) x1 = buffer->width();
    if (y1 < 0) y1 = buffer->height();
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = &bytes[size_t(y) * buffer->bytesPerRow() + size_t(x) * 4];
            sum += 0.2126 * p[0] + 0.7152 * p[1] + 0.0722 * p[2];
        }
    return sum / (double(x1 - x0) * double(y1 - y0));
}

// Runs `write` under the configuration lock, failing the test when it is refused.
template <typename Write> void configure(AVCaptureDevice& device, Write&& write) {
    NSError error;
    if (!device.lockForConfiguration(&error)) throw std::runtime_error(error.localizedDescription());
    write();
    device.unlockForConfiguration();
}

} // namespace capturetest
