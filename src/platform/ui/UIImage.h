#pragma once
// UIImage: wraps a CIImage with a scale and an orientation. The orientation only says how
// the image would be shown; the CIImage's pixels are never rotated.
#include "media/CoreImage.h"

enum class UIImageOrientation : int { up = 0, down = 1, left = 2, right = 3 };

class UIImage {
  public:
    UIImage(CIImageRef image, double scale, UIImageOrientation orientation)
        : image_(std::move(image)), scale_(scale), orientation_(orientation) {}
    const CIImageRef& CIImage() const { return image_; }
    double scale() const { return scale_; }
    UIImageOrientation imageOrientation() const { return orientation_; }

  private:
    CIImageRef image_;
    double scale_;
    UIImageOrientation orientation_;
};
