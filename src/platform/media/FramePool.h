#pragma once
// Frame-sized byte buffers that come back for reuse: a camera frame, a decoded picture and
// a picture read back from the GPU each take one, so that a steady stream of frames of one
// size allocates nothing after the first few.
//
// A buffer is in use while anyone but the pool holds it; the pool hands it out again once
// every holder has dropped it. Threads: any; take() is short and never waits for a buffer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class FramePool {
  public:
    using Buffer = std::shared_ptr<std::vector<uint8_t>>;

    // At most `capacity` buffers are kept; buffers taken beyond that are ordinary ones that
    // are freed when dropped.
    explicit FramePool(size_t capacity = 48) : capacity_(capacity) {}
    FramePool(const FramePool&) = delete;
    FramePool& operator=(const FramePool&) = delete;

    // The process's pool, shared by the camera, the decoders and the read-back.
    static FramePool& shared();

    // A buffer of exactly `size` bytes whose contents are whatever its last user left.
    Buffer take(size_t size);

    // Buffers kept, in use or free (for tests and statistics).
    size_t kept() const;

  private:
    mutable std::mutex mutex_;
    size_t capacity_;
    std::vector<Buffer> buffers_;
};
