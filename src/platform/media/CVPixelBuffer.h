#pragma once
// Pixel buffers: a camera frame's pixels, RGBA 8 bits per channel (red first), rows of
// bytesPerRow bytes. The pixels are immutable once the buffer is made, so buffers (and
// images made from them) are shared between threads without copying. The base-address
// lock is kept as the platform has it: reads are legal only between lock and unlock.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/FrameObjects.h"
#include "media/FramePool.h"

using CVOptionFlags = uint64_t;
inline constexpr CVOptionFlags kCVPixelBufferLock_ReadOnly = 1;
using CVReturn = int32_t;
inline constexpr CVReturn kCVReturnSuccess = 0;
inline constexpr CVReturn kCVReturnInvalidArgument = -6661;

class CVPixelBuffer {
  public:
    // Takes the bytes as they are; `bytes.size()` must be at least bytesPerRow * height.
    CVPixelBuffer(int width, int height, size_t bytesPerRow,
                  std::shared_ptr<const std::vector<uint8_t>> bytes);
    // A buffer of the given size, tightly packed, from the shared frame pool (see
    // FramePool.h): `fill(rgba, bytesPerRow)` must write every pixel, since the bytes are
    // whatever an earlier frame left. Allocates nothing once the pool holds frames of
    // this size.
    template <class Fill> static std::shared_ptr<CVPixelBuffer> make(int width, int height, Fill&& fill) {
        const size_t stride = size_t(std::max(width, 0)) * 4;
        FramePool::Buffer bytes = FramePool::shared().take(stride * size_t(std::max(height, 0)));
        fill(bytes->data(), stride);
        return makeFrameObject<CVPixelBuffer>(width, height, stride, std::move(bytes));
    }

    int width() const { return width_; }
    int height() const { return height_; }
    size_t bytesPerRow() const { return bytesPerRow_; }
    // The shared, immutable pixels (RGBA). Usable without the lock by the framework
    // itself, which owns the buffer's lifetime.
    const std::shared_ptr<const std::vector<uint8_t>>& storage() const { return bytes_; }

    CVReturn lockBaseAddress(CVOptionFlags flags);
    CVReturn unlockBaseAddress(CVOptionFlags flags);
    bool isLocked() const { return lockCount_.load() > 0; }
    // nullptr unless locked.
    const uint8_t* baseAddress() const;

  private:
    int width_, height_;
    size_t bytesPerRow_;
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    std::atomic<int> lockCount_{0};
};
using CVPixelBufferRef = std::shared_ptr<CVPixelBuffer>;
using CVImageBufferRef = CVPixelBufferRef;

inline CVReturn CVPixelBufferLockBaseAddress(const CVPixelBufferRef& b, CVOptionFlags f) {
    return b ? b->lockBaseAddress(f) : kCVReturnInvalidArgument;
}
inline CVReturn CVPixelBufferUnlockBaseAddress(const CVPixelBufferRef& b, CVOptionFlags f) {
    return b ? b->unlockBaseAddress(f) : kCVReturnInvalidArgument;
}
