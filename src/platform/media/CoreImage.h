#pragma once
// CIImage wraps a pixel buffer; CIContext renders an image's region to a bitmap (CGImage)
// whose pixels are red, green, blue, alpha bytes. Rendering the whole extent of a
// pixel-buffer image shares the buffer's bytes instead of copying them.
#include <memory>

#include "media/CGGeometry.h"
#include "media/CGImage.h"
#include "media/CVPixelBuffer.h"

class CIImage {
  public:
    explicit CIImage(CVPixelBufferRef buffer);
    CGRect extent() const;
    const CVPixelBufferRef& pixelBuffer() const { return buffer_; }

  private:
    CVPixelBufferRef buffer_;
};
using CIImageRef = std::shared_ptr<const CIImage>;

class CIContext {
  public:
    CIContext() = default; // no options
    // nullptr when the rectangle is empty or outside the image.
    CGImageRef createCGImage(const CIImageRef& image, CGRect fromRect) const;
};
