#pragma once
// A counting semaphore. wait() blocks while the count is zero.
#include <condition_variable>
#include <mutex>

class DispatchSemaphore {
  public:
    explicit DispatchSemaphore(long value) : count_(value) {}
    DispatchSemaphore(const DispatchSemaphore&) = delete;
    DispatchSemaphore& operator=(const DispatchSemaphore&) = delete;

    void wait() {
        std::unique_lock lock(mutex_);
        available_.wait(lock, [this] { return count_ > 0; });
        --count_;
    }
    void signal() {
        {
            std::lock_guard lock(mutex_);
            ++count_;
        }
        available_.notify_one();
    }

  private:
    std::mutex mutex_;
    std::condition_variable available_;
    long count_;
};
