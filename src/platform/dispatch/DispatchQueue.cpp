#include "dispatch/DispatchQueue.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {
thread_local DispatchQueue* currentQueue = nullptr;
std::thread::id mainThreadId;
std::once_flag mainThreadOnce;

bool laterTimer(const auto& a, const auto& b) {
    return a.due != b.due ? a.due > b.due : a.sequence > b.sequence;
}

[[noreturn]] void abortWith(const std::string& message) {
    std::fprintf(stderr, "dispatch: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}
} // namespace

DispatchQueue::DispatchQueue(std::string label) : label_(std::move(label)) {
    worker_ = std::thread([this] { workerLoop(); });
}

DispatchQueue::DispatchQueue(MainTag) : label_("com.apple.main-thread"), isMain_(true) {}

DispatchQueue::~DispatchQueue() {
    if (isMain_)
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.get_id() == std::this_thread::get_id())
        abortWith("queue '" + label_ + "' destroyed from its own thread");
    worker_.join();
}

void DispatchQueue::markMainThread() {
    std::call_once(mainThreadOnce, [] { mainThreadId = std::this_thread::get_id(); });
}

DispatchQueue& DispatchQueue::main() {
    markMainThread();
    static DispatchQueue queue{MainTag{}};
    return queue;
}

bool DispatchQueue::isMainThread() {
    markMainThread();
    return std::this_thread::get_id() == mainThreadId;
}

DispatchQueue* DispatchQueue::current() {
    if (currentQueue)
        return currentQueue;
    // The main thread runs main-queue work even outside drain() (for instance at start-up).
    if (isMainThread())
        return &main();
    return nullptr;
}

void DispatchQueue::enqueue(Work work) {
    std::function<void()> wakeHandler;
    {
        std::lock_guard lock(mutex_);
        pending_.push(std::move(work));
        wakeHandler = wakeHandler_;
    }
    wake_.notify_one();
    if (wakeHandler)
        wakeHandler();
}

void DispatchQueue::async(Work work) {
    enqueue(std::move(work));
}

void DispatchQueue::asyncAfter(Clock::duration delay, Work work) {
    std::function<void()> wakeHandler;
    {
        std::lock_guard lock(mutex_);
        timers_.push_back(Timer{Clock::now() + delay, timerSequence_++, std::move(work)});
        std::push_heap(timers_.begin(), timers_.end(), laterTimer<Timer, Timer>);
        wakeHandler = wakeHandler_;
    }
    wake_.notify_one();
    if (wakeHandler)
        wakeHandler();
}

void DispatchQueue::sync(const Work& work) {
    if (current() == this)
        abortWith("sync onto queue '" + label_ + "' from a closure it is running (deadlock)");
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    enqueue([&] {
        work();
        // Notify while holding the mutex: the waiter owns these locals and may return
        // (destroying them) as soon as it sees `done`.
        std::lock_guard lock(doneMutex);
        done = true;
        doneSignal.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

void DispatchQueue::moveDueTimersLocked(Clock::time_point now) {
    while (!timers_.empty() && timers_.front().due <= now) {
        std::pop_heap(timers_.begin(), timers_.end(), laterTimer<Timer, Timer>);
        pending_.push(std::move(timers_.back().work));
        timers_.pop_back();
    }
}

void DispatchQueue::runItem(Work& work) {
    DispatchQueue* previous = currentQueue;
    currentQueue = this;
    work();
    currentQueue = previous;
}

void DispatchQueue::workerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        moveDueTimersLocked(Clock::now());
        if (!pending_.empty()) {
            Work work = pending_.pop();
            lock.unlock();
            runItem(work);
            work = nullptr; // release captures outside the lock
            lock.lock();
            continue;
        }
        if (stopping_)
            return;
        if (timers_.empty())
            wake_.wait(lock);
        else {
            // A copy: while the worker waits, asyncAfter may grow the heap and move its entries.
            const Clock::time_point due = timers_.front().due;
            wake_.wait_until(lock, due);
        }
    }
}

size_t DispatchQueue::drain() {
    if (!isMain_)
        abortWith("drain() is for the main queue only");
    if (!isMainThread())
        abortWith("the main queue is drained on the main thread only");
    size_t batch;
    {
        std::lock_guard lock(mutex_);
        moveDueTimersLocked(Clock::now());
        batch = pending_.size();
    }
    // Work queued while this batch runs waits for the next drain, so a closure that
    // re-queues itself cannot starve the run loop's other duties.
    for (size_t i = 0; i < batch; ++i) {
        Work work;
        {
            std::lock_guard lock(mutex_);
            work = pending_.pop();
        }
        runItem(work);
    }
    return batch;
}

void DispatchQueue::waitForWork(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    for (;;) {
        auto now = Clock::now();
        if (!pending_.empty() || (!timers_.empty() && timers_.front().due <= now) || now >= deadline)
            return;
        auto until = deadline;
        if (!timers_.empty())
            until = std::min(until, timers_.front().due);
        wake_.wait_until(lock, until);
    }
}

DispatchQueue::Clock::time_point DispatchQueue::nextTimerDeadline() {
    std::lock_guard lock(mutex_);
    if (!pending_.empty())
        return Clock::now();
    return timers_.empty() ? Clock::time_point::max() : timers_.front().due;
}

void DispatchQueue::setWakeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    wakeHandler_ = std::move(handler);
}
