#pragma once
// Opening the capture device the host was told to use:
//   "virtual"                         the virtual camera;
//   a path ending in .png/.jpg/.jpeg  a still picture (any letter case);
//   a path under /dev/                 a V4L2 webcam: /dev/videoN, udev's stable links
//                                     (/dev/v4l/by-id/…) or a udev rule's own (/dev/webcam).
// Anything else is refused with an error saying what is accepted. Error descriptions
// read well after "Could not initialize rendering pipeline: ".
#include <functional>
#include <memory>
#include <string>

#include "capture/AVCaptureDevice.h"
#include "capture/PictureSize.h"

struct CaptureDeviceOptions {
    // The size of every frame the device delivers, and how a still picture of other
    // proportions becomes one.
    PictureSize pictureSize;
    StillImageFit stillImageFit = StillImageFit::whole;
    // Report the machine's thermal state (ThermalPressureMonitor) as system pressure.
    bool followThermalPressure = true;
    std::string thermalRoot = "/sys/class/thermal";
    // A webcam that fails while streaming calls this once, on its I/O thread, after
    // writing the reason to standard error.
    std::function<void(const NSError& error)> onFailure;
    // A webcam that goes away (unplugged, broken, stalled) or comes back calls this on its
    // I/O thread; it reopens itself when its node returns.
    std::function<void(bool available)> onAvailabilityChange;
    // The virtual camera makes frames as fast as the machine allows instead of at its
    // frame rate (soak tests).
    bool unlimitedFrameRate = false;
};

// A webcam's node, by its kernel name or any link udev made to it. Whether it really is a
// video capture node is for opening it to tell.
inline bool isWebcamPath(const std::string& source) {
    return source.starts_with("/dev/") && source.size() > 5;
}

std::shared_ptr<AVCaptureDevice> openCaptureDevice(const std::string& source, NSError* error);
std::shared_ptr<AVCaptureDevice> openCaptureDevice(const std::string& source,
                                                   const CaptureDeviceOptions& options, NSError* error);
