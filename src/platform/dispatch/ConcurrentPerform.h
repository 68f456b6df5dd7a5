#pragma once
// concurrentPerform: runs body(0) ... body(iterations - 1), each exactly once, spread over
// a pool sized to the machine, and returns when all have run. The calling thread takes
// iterations too, so a nested call never waits for a pool thread that is not coming.
#include <cstddef>
#include <functional>

void concurrentPerform(size_t iterations, const std::function<void(size_t)>& body);

// How many threads the shared worker pool has (hardware concurrency, at least 2).
size_t concurrentPerformPoolSize();
