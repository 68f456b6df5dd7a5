// The response to the device's system-pressure level: throttle to 5 frames per second
// under serious or critical pressure; report shutdown and unknown levels.
#include "camera/CameraViewController.h"
#include "foundation/Print.h"

// On the thread that delivered the change; takes only the device's configuration lock.
void CameraViewController::handleSystemPressure(const AVCaptureSystemPressureState& systemPressureState) {
    const AVCaptureSystemPressureLevel& level = systemPressureState.level;
    if (level == AVCaptureSystemPressureLevelNominal || level == AVCaptureSystemPressureLevelFair)
        return;
    if (level == AVCaptureSystemPressureLevelSerious || level == AVCaptureSystemPressureLevelCritical) {
        auto device = inputCamera();
        NSError error;
        if (!device->lockForConfiguration(&error)) {
            print("Could not lock device for configuration: ", error.localizedDescription());
            return;
        }
        print("WARNING: Reached elevated system pressure level: ", level, ". Throttling frame rate.");
        const auto& ranges = device->activeFormat().videoSupportedFrameRateRanges;
        // A format without frame-rate ranges keeps its longest duration as it is.
        CMTime maxFrameDuration =
            ranges.empty() ? device->activeVideoMaxFrameDuration() : ranges.front().maxFrameDuration;
        device->setActiveVideoMinFrameDuration(CMTimeMake(1, 5));
        device->setActiveVideoMaxFrameDuration(maxFrameDuration);
        device->unlockForConfiguration();
        return;
    }
    if (level == AVCaptureSystemPressureLevelShutdown) {
        print("Session stopped running due to shutdown system pressure level.");
        return;
    }
    print("system pressure level unknown ", level);
}
