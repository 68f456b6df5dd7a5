#pragma once
// Bitmaps: width, height, bits per pixel, bytes per row and a data provider whose data is
// copied out as CFData. Pixels start with red, green and blue bytes.
//
// The "copies" are shared immutable buffers: a CFData made by CGDataProviderCopyData
// refers to the same bytes as the bitmap, which never change after the bitmap is made.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class CFData {
  public:
    CFData(std::shared_ptr<const std::vector<uint8_t>> bytes, size_t offset, size_t length)
        : bytes_(std::move(bytes)), offset_(offset), length_(length) {}
    const uint8_t* bytePtr() const { return bytes_ ? bytes_->data() + offset_ : nullptr; }
    size_t length() const { return length_; }

  private:
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    size_t offset_, length_;
};
using CFDataRef = std::shared_ptr<const CFData>;

class CGDataProvider {
  public:
    CGDataProvider(std::shared_ptr<const std::vector<uint8_t>> bytes, size_t offset, size_t length)
        : bytes_(std::move(bytes)), offset_(offset), length_(length) {}
    CFDataRef copyData() const;

  private:
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    size_t offset_, length_;
};
using CGDataProviderRef = std::shared_ptr<const CGDataProvider>;

class CGImage {
  public:
    // provider may be null (a bitmap without data).
    CGImage(size_t width, size_t height, size_t bitsPerPixel, size_t bytesPerRow, CGDataProviderRef provider)
        : width_(width), height_(height), bitsPerPixel_(bitsPerPixel), bytesPerRow_(bytesPerRow),
          provider_(std::move(provider)) {}
    size_t width() const { return width_; }
    size_t height() const { return height_; }
    size_t bitsPerPixel() const { return bitsPerPixel_; }
    size_t bytesPerRow() const { return bytesPerRow_; }
    const CGDataProviderRef& dataProvider() const { return provider_; }

  private:
    size_t width_, height_, bitsPerPixel_, bytesPerRow_;
    CGDataProviderRef provider_;
};
using CGImageRef = std::shared_ptr<const CGImage>;

// A bitmap over `bytes` (RGBA or any layout the caller describes).
CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerPixel, size_t bytesPerRow,
                         std::shared_ptr<const std::vector<uint8_t>> bytes);

inline size_t CGImageGetWidth(const CGImageRef& i) {
    return i ? i->width() : 0;
}
inline size_t CGImageGetHeight(const CGImageRef& i) {
    return i ? i->height() : 0;
}
inline size_t CGImageGetBitsPerPixel(const CGImageRef& i) {
    return i ? i->bitsPerPixel() : 0;
}
inline size_t CGImageGetBytesPerRow(const CGImageRef& i) {
    return i ? i->bytesPerRow() : 0;
}
inline CGDataProviderRef CGImageGetDataProvider(const CGImageRef& i) {
    return i ? i->dataProvider() : nullptr;
}
inline CFDataRef CGDataProviderCopyData(const CGDataProviderRef& p) {
    return p ? p->copyData() : nullptr;
}
inline const uint8_t* CFDataGetBytePtr(const CFDataRef& d) {
    return d ? d->bytePtr() : nullptr;
}
inline size_t CFDataGetLength(const CFDataRef& d) {
    return d ? d->length() : 0;
}
