#include "media/CoreImage.h"

#include <cmath>

CIImage::CIImage(CVPixelBufferRef buffer) : buffer_(std::move(buffer)) {}

CGRect CIImage::extent() const {
    if (!buffer_)
        return CGRectNull;
    return CGRectMake(0, 0, buffer_->width(), buffer_->height());
}

CGImageRef CIContext::createCGImage(const CIImageRef& image, CGRect fromRect) const {
    if (!image || !image->pixelBuffer())
        return nullptr;
    CGRect region = CGRectIntersection(CGRectStandardize(fromRect), image->extent());
    if (CGRectIsEmpty(region))
        return nullptr;
    const auto& buffer = image->pixelBuffer();
    size_t x0 = size_t(std::floor(region.origin.x)), y0 = size_t(std::floor(region.origin.y));
    size_t w = size_t(std::ceil(CGRectGetMaxX(region))) - x0,
           h = size_t(std::ceil(CGRectGetMaxY(region))) - y0;
    size_t stride = buffer->bytesPerRow();
    if (x0 == 0 && y0 == 0 && w == size_t(buffer->width()) && h == size_t(buffer->height())) {
        auto provider = std::make_shared<CGDataProvider>(buffer->storage(), 0, stride * h);
        return std::make_shared<CGImage>(w, h, 32, stride, std::move(provider));
    }
    // A part of the image: copy those rows into a tight bitmap.
    auto bytes = std::make_shared<std::vector<uint8_t>>(w * 4 * h);
    const uint8_t* src = buffer->storage()->data();
    for (size_t row = 0; row < h; ++row)
        std::copy_n(src + (y0 + row) * stride + x0 * 4, w * 4, bytes->data() + row * w * 4);
    return CGImageCreate(w, h, 32, w * 4, std::move(bytes));
}
