#pragma once
// Opening the capture device the host was told to use:
//   "virtual"                         the virtual camera;
//   a path ending in .png/.jpg/.jpeg  a still picture (any letter case);
//   /dev/video*, /dev/v4l/…            a V4L2 webcam (isWebcamPath).
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
};

// A webcam's node, by its kernel name or udev's stable links (/dev/v4l/by-id/…).
inline bool isWebcamPath(const std::string& source) {
    return source.starts_with("/dev/video") || source.starts_with("/dev/v4l/");
}

std::shared_ptr<AVCaptureDevice> openCaptureDevice(const std::string& source, NSError* error);
std::shared_ptr<AVCaptureDevice> openCaptureDevice(const std::string& source,
                                                   const CaptureDeviceOptions& options, NSError* error);
