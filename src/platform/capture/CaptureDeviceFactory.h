#pragma once
// Opening the capture device the host was told to use:
//   "virtual"                         the virtual camera;
//   a path ending in .png/.jpg/.jpeg  a still picture (any letter case);
//   a path starting with /dev/video   a V4L2 webcam.
// Anything else is refused with an error saying what is accepted. Error descriptions
// read well after "Could not initialize rendering pipeline: ".
#include <functional>
#include <memory>
#include <string>

#include "capture/AVCaptureDevice.h"

struct CaptureDeviceOptions {
    // Report the machine's thermal state (ThermalPressureMonitor) as system pressure.
    bool followThermalPressure = true;
    std::string thermalRoot = "/sys/class/thermal";
    // A webcam that fails while streaming calls this once, on its I/O thread, after
    // writing the reason to standard error.
    std::function<void(const NSError& error)> onFailure;
};

std::shared_ptr<AVCaptureDevice> openCaptureDevice(const std::string& source, NSError* error);
std::shared_ptr<AVCaptureDevice> openCaptureDevice(const std::string& source,
                                                   const CaptureDeviceOptions& options, NSError* error);
