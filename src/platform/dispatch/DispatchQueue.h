#pragma once
// Dispatch queues: the main queue, drained by the main thread's run loop, and serial
// queues that each own one worker thread. Work is handed over as closures; waiting is
// done on condition variables, never by polling.
//
// Threads: async() may be called from any thread. sync() blocks the caller until the
// closure has run on the queue; calling it from the queue's own thread is a programming
// error and aborts with a message instead of hanging.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dispatch/WorkRing.h"

class DispatchQueue {
  public:
    using Work = std::function<void()>;
    using Clock = std::chrono::steady_clock;

    // A serial queue with its own worker thread.
    explicit DispatchQueue(std::string label);
    // Runs what is already queued (timers excepted), then joins the worker.
    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    // The main queue. The thread that first asks for it (or calls markMainThread) is the
    // main thread; its run loop drains the queue.
    static DispatchQueue& main();
    static void markMainThread();
    static bool isMainThread();
    // The queue whose closure the calling thread is running, or nullptr.
    static DispatchQueue* current();

    const std::string& label() const { return label_; }

    void async(Work work);
    void asyncAfter(Clock::duration delay, Work work);
    void sync(const Work& work);

    // Main queue only: run every closure that is due now; returns how many ran.
    size_t drain();
    // Main queue only: block until a closure is due or `deadline` passes.
    void waitForWork(Clock::time_point deadline);
    // Main queue only: when the earliest pending timer falls due (max() when none).
    Clock::time_point nextTimerDeadline();
    // Main queue only: called after every enqueue, from the enqueuing thread, so a host
    // that waits on its own event source (a window system) can wake up.
    void setWakeHandler(std::function<void()> handler);

  private:
    struct MainTag {};
    explicit DispatchQueue(MainTag);
    struct Timer {
        Clock::time_point due;
        uint64_t sequence;
        Work work;
    };
    void enqueue(Work work);
    void workerLoop();
    void moveDueTimersLocked(Clock::time_point now);
    void runItem(Work& work);

    std::string label_;
    bool isMain_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    WorkRing pending_;
    std::vector<Timer> timers_; // a heap ordered by due time, then submission
    uint64_t timerSequence_ = 0;
    bool stopping_ = false;
    std::function<void()> wakeHandler_;
    std::thread worker_;
};
