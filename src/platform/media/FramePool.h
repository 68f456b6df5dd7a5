#pragma once
// Frame-sized byte buffers that come back for reuse: a camera frame, a decoded picture and
// a picture read back from the GPU each take one, so that a steady stream of frames of one
// size allocates nothing after the first few.
//
// A buffer is in use while anyone holds it; it comes back to the pool when its last holder
// drops it (whatever the thread), and what that holder did with it happens before the
// pool hands it out again. A pool may go before its buffers. Threads: any; take() is
// short and never waits for a buffer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class FramePool {
  public:
    using Buffer = std::shared_ptr<std::vector<uint8_t>>;

    // At most `capacity` buffers are kept; buffers taken beyond that are ordinary ones that
    // are freed when dropped.
    explicit FramePool(size_t capacity = 48);
    ~FramePool();
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    // The process's pool, shared by the camera, the decoders and the read-back.
    static FramePool& shared();

    // A buffer of exactly `size` bytes whose contents are whatever its last user left.
    Buffer take(size_t size);

    // Buffers kept, in use or free (for tests and statistics).
    size_t kept() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};
