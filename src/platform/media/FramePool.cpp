#include "media/FramePool.h"

#include <algorithm>

FramePool& FramePool::shared() {
    // Never destroyed: buffers dropped by threads that outlive static destruction still
    // find their pool.
    static auto* pool = new FramePool();
    return *pool;
}

FramePool::Buffer FramePool::take(size_t size) {
    std::lock_guard lock(mutex_);
    // Only the pool holds a free buffer, and only under this lock can a second holder
    // appear, so a count of one cannot change while it is looked at.
    for (const Buffer& buffer : buffers_)
        if (buffer.use_count() == 1 && buffer->size() == size)
            return buffer;
    if (buffers_.size() >= capacity_) {
        // A size change leaves buffers of the old size behind: free ones make room.
        auto unused = std::find_if(buffers_.begin(), buffers_.end(),
                                   [](const Buffer& buffer) { return buffer.use_count() == 1; });
        if (unused == buffers_.end())
            return std::make_shared<std::vector<uint8_t>>(size);
        buffers_.erase(unused);
    }
    buffers_.push_back(std::make_shared<std::vector<uint8_t>>(size));
    return buffers_.back();
}

size_t FramePool::kept() const {
    std::lock_guard lock(mutex_);
    return buffers_.size();
}
