#pragma once
// Which of a webcam's modes the device captures in, for a picture of a given size
// (640 × 480 unless asked otherwise):
// - a mode of exactly that size when the camera has one;
// - otherwise the smallest mode (by area) that covers it, scaled down and
//   centre-cropped to it (no black bars, nothing stretched);
// - a camera with nothing that large gives its largest mode, scaled up the same way.
// Only MJPEG and YUYV are decoded here; among the two at the chosen size, the one with
// the higher top frame rate wins, and YUYV (which needs no decoding) on a tie. A camera
// offering neither is asked for RGB24 at the picture size, which libv4l2 converts to from
// whatever the camera sends, at the size the driver grants. That is also how a camera
// libv4lconvert must turn (an upside-down laptop camera) is read: for such a camera
// libv4l2 lists only the formats it converts to, so it offers no MJPEG or YUYV here.
#include <vector>

#include "capture/PictureSize.h"
#include "capture/v4l2/V4L2Io.h"

struct V4L2ModeChoice {
    V4L2Format format;
    // The chosen mode's frame durations, shortest first; empty when the camera lists none.
    std::vector<V4L2Interval> intervals;
    // The picture each frame becomes.
    PictureSize picture;
};

V4L2ModeChoice chooseV4L2Mode(const std::vector<V4L2Mode>& modes, PictureSize picture = defaultPictureSize);
// Chooses among the camera's modes for `picture` and asks for that one at its fastest frame
// interval (for RGB24, the fastest libv4l2 lists at the size granted); `mode` holds what was
// granted. The driver's errno for the format, or 0.
int setChosenMode(V4L2Io& io, V4L2ModeChoice& mode, PictureSize picture);

// "MJPG", "YUYV"…: a pixel format's four characters.
std::string fourCharacterCode(uint32_t pixelFormat);
