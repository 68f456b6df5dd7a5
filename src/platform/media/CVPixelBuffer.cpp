#include "media/CVPixelBuffer.h"

#include <stdexcept>

CVPixelBuffer::CVPixelBuffer(int width, int height, size_t bytesPerRow,
                             std::shared_ptr<const std::vector<uint8_t>> bytes)
    : width_(width), height_(height), bytesPerRow_(bytesPerRow), bytes_(std::move(bytes)) {
    if (width < 0 || height < 0 || !bytes_ || bytes_->size() < bytesPerRow * size_t(height))
        throw std::invalid_argument("CVPixelBuffer: storage smaller than its rows");
}

CVReturn CVPixelBuffer::lockBaseAddress(CVOptionFlags) {
    ++lockCount_;
    return kCVReturnSuccess;
}

CVReturn CVPixelBuffer::unlockBaseAddress(CVOptionFlags) {
    int expected = lockCount_.load();
    while (expected > 0 && !lockCount_.compare_exchange_weak(expected, expected - 1)) {
    }
    return expected > 0 ? kCVReturnSuccess : kCVReturnInvalidArgument;
}

const uint8_t* CVPixelBuffer::baseAddress() const {
    return isLocked() ? bytes_->data() : nullptr;
}
