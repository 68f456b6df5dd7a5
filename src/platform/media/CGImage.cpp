#include "media/CGImage.h"

CFDataRef CGDataProvider::copyData() const {
    if (!bytes_ || offset_ + length_ > bytes_->size())
        return nullptr;
    return std::make_shared<CFData>(bytes_, offset_, length_);
}

CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerPixel, size_t bytesPerRow,
                         std::shared_ptr<const std::vector<uint8_t>> bytes) {
    size_t length = bytes ? bytes->size() : 0;
    auto provider = bytes ? std::make_shared<CGDataProvider>(std::move(bytes), 0, length) : nullptr;
    return std::make_shared<CGImage>(width, height, bitsPerPixel, bytesPerRow, std::move(provider));
}
