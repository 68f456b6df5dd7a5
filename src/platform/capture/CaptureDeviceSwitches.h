#pragma once
// The switches scripts, tests and the platform itself use on any capture device, kept out
// of the device's public interface so the application cannot reach them: refusing the
// configuration lock (as a device another program holds would), and a system-pressure
// report (from the thermal monitor or a script), set on the device's own thread.
#include "capture/AVCaptureDevice.h"

struct CaptureDeviceSwitches {
    static void setRefusesConfigurationLock(AVCaptureDevice& device, bool refuse) {
        device.setRefusesConfigurationLock(refuse);
    }
    static void reportSystemPressure(AVCaptureDevice& device, const AVCaptureSystemPressureLevel& level) {
        device.reportSystemPressure(level);
    }
};
