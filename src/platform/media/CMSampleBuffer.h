#pragma once
// A captured frame as the camera hands it over: its image buffer and presentation time.
#include <cstdint>
#include <memory>

#include "media/CMTime.h"
#include "media/CVPixelBuffer.h"

struct CMSampleBuffer {
    CVImageBufferRef imageBuffer; // may be empty: a frame without pixels
    CMTime presentationTimeStamp;
    uint64_t frameNumber = 0; // counts from 1 for each device
};
using CMSampleBufferRef = std::shared_ptr<const CMSampleBuffer>;

inline CVImageBufferRef CMSampleBufferGetImageBuffer(const CMSampleBufferRef& sample) {
    return sample ? sample->imageBuffer : nullptr;
}
