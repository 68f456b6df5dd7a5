#include "dispatch/ConcurrentPerform.h"

#include <algorithm>
#include <asio/post.hpp>
#include <asio/thread_pool.hpp>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {
// The pool lives for the whole process; asio's thread_pool gives us a well-tested
// executor with a fixed number of threads and a post() that never blocks.
asio::thread_pool& pool() {
    static asio::thread_pool threads(concurrentPerformPoolSize());
    return threads;
}

struct Batch {
    explicit Batch(size_t n, const std::function<void(size_t)>& f) : iterations(n), body(f) {}
    const size_t iterations;
    const std::function<void(size_t)>& body; // valid until `finished` reaches iterations
    std::atomic<size_t> next{0};
    std::mutex mutex;
    std::condition_variable allDone;
    size_t finished = 0;

    // Takes iterations until none are left. Never touches `body` once all are taken.
    void work() {
        size_t ranHere = 0;
        for (size_t i = next.fetch_add(1); i < iterations; i = next.fetch_add(1)) {
            body(i);
            ++ranHere;
        }
        if (ranHere == 0)
            return;
        std::lock_guard lock(mutex);
        finished += ranHere;
        if (finished == iterations)
            allDone.notify_all();
    }
};
} // namespace

size_t concurrentPerformPoolSize() {
    return std::max<size_t>(2, std::thread::hardware_concurrency());
}

void concurrentPerform(size_t iterations, const std::function<void(size_t)>& body) {
    if (iterations == 0)
        return;
    auto batch = std::make_shared<Batch>(iterations, body);
    size_t helpers = std::min(iterations - 1, concurrentPerformPoolSize());
    for (size_t h = 0; h < helpers; ++h)
        asio::post(pool(), [batch] { batch->work(); });
    batch->work();
    std::unique_lock lock(batch->mutex);
    batch->allDone.wait(lock, [&] { return batch->finished == iterations; });
}
