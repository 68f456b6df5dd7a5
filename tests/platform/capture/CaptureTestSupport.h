#pragma once
// Helpers for the capture device tests: recording delivered frames and property changes,
// and waiting for them with a deadline on a condition variable (never by sleeping).
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "capture/AVCaptureDevice.h"

namespace capturetest {

using Clock = std::chrono::steady_clock;

// Values with the thread each arrived on, guarded, with waiting. Handlers share the
// state, so it stays valid whatever is destroyed first.
template <typename T> class Recording {
  public:
    void add(T value) {
        std::lock_guard lock(state_->mutex);
        state_->values.push_back(std::move(value));
        state_->threads.push_back(std::this_thread::get_id());
        state_->changed.notify_all();
    }
    // True once `done(values)` holds, false at the deadline.
    bool waitUntil(const std::function<bool(const std::vector<T>&)>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return done(state_->values); });
    }
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        return waitUntil([count](const std::vector<T>& v) { return v.size() >= count; }, timeout);
    }
    std::vector<T> values() const {
        std::lock_guard lock(state_->mutex);
        return state_->values;
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard lock(state_->mutex);
        return state_->threads;
    }
    size_t count() const { return values().size(); }

  protected:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<T> values;
        std::vector<std::thread::id> threads;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

struct Arrival {
    CMSampleBufferRef sample;
    Clock::time_point at;
};

// Every frame a device delivers, with its arrival time.
class FrameRecorder : public Recording<Arrival> {
  public:
    AVCaptureDevice::FrameHandler handler() const {
        return [self = *this](CMSampleBufferRef sample) mutable {
            self.add({std::move(sample), Clock::now()});
        };
    }
    // Waits for `more` frames beyond those already seen and returns the last.
    CMSampleBufferRef next(size_t more = 1) const {
        return waitFor(count() + more) ? values().back().sample : nullptr;
    }
};

// The changes of one observable property.
template <typename T> class ChangeRecorder : public Recording<T> {
  public:
    explicit ChangeRecorder(Observable<T>& property)
        : token_(property.observe(
              NSKeyValueObservingOptions::new_,
              [self = Recording<T>(*this)](const auto& change) mutable { self.add(*change.newValue); })) {}

  private:
    std::unique_ptr<NSKeyValueObservation> token_;
};

// Frames per second over the arrivals after the first `skip`.
inline double rateOf(const std::vector<Arrival>& arrivals, size_t skip) {
    auto seconds = std::chrono::duration<double>(arrivals.back().at - arrivals.at(skip).at).count();
    return double(arrivals.size() - skip - 1) / seconds;
}

// Runs `write` under the configuration lock; a refusal fails the test.
template <typename Write> void configure(AVCaptureDevice& device, Write&& write) {
    NSError error;
    if (!device.lockForConfiguration(&error))
        throw std::runtime_error(error.localizedDescription());
    write();
    device.unlockForConfiguration();
}

} // namespace capturetest
