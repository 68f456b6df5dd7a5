#pragma once
// Operations that help a person judge exposure and focus on the live picture: zebra
// stripes over the pixels at or above a luminosity, and focus peaking over sharp edges.
// Each passes every other pixel through unchanged. Their settings may be changed from any
// thread while frames flow; a frame uses the values of the moment it is drawn.
#include <atomic>

#include "pipeline/Operations.h"

// Dark diagonal stripes (8 pixels apart, 4 wide) over every pixel whose luminosity,
// 0.2125 R + 0.7154 G + 0.0721 B on the 0...255 scale, is at or above `level`.
class ZebraStripes : public BasicOperation {
  public:
    ZebraStripes();
    std::atomic<float> level{0.95f * 255.0f};

  protected:
    FramebufferRef render(const std::vector<FramebufferRef>& inputs) override;
};

// Marks in `color` the pixels on a sharp edge: where the steepest one-pixel step of the
// luminance, across or down, is at least `minimumStep` (0...1) and at least `sharpness`
// of the luminance's span over the nine pixels around it in the same direction. A sharp
// edge is one step (fraction near 1); a soft edge spreads its rise over many pixels, so no
// single step is a large part of the span.
class FocusPeaking : public BasicOperation {
  public:
    FocusPeaking();
    std::atomic<float> sharpness{0.5f};
    std::atomic<float> minimumStep{0.08f};
    // Read on the GPU queue: set it before frames flow.
    Color color{1.0f, 0.0f, 1.0f, 1.0f};

  protected:
    FramebufferRef render(const std::vector<FramebufferRef>& inputs) override;
};
