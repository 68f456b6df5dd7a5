#include "capture/CaptureDeviceFactory.h"

#include <algorithm>
#include <cctype>
#include <type_traits>

#include "capture/CaptureDeviceSwitches.h"
#include "capture/CaptureError.h"
#include "capture/ThermalPressureMonitor.h"
#include "capture/still/StillImageCaptureDevice.h"
#include "capture/v4l2/V4L2CameraIdentity.h"
#include "capture/v4l2/V4L2CaptureDevice.h"
#include "capture/virtual/VirtualCaptureDevice.h"

namespace {
bool endsWithIgnoringCase(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size())
        return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - long(suffix.size()), [](char a, char b) {
        return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
    });
}

// A simulated camera takes its pace from the options; every device follows the machine's
// thermal state. The monitor reports through the device's pressure switch; the device owns it and stops
// it before anything else when it goes, so the raw pointer never outlives the device.
template <typename Device> void applyDeviceOptions(Device& device, const CaptureDeviceOptions& options) {
    if constexpr (std::is_base_of_v<SimulatedCaptureDevice, Device>)
        if (options.unlimitedFrameRate)
            device.setUnlimitedFrameRate(true);
    if (!options.followThermalPressure)
        return;
    Device* target = &device;
    auto monitor = std::make_unique<ThermalPressureMonitor>(
        options.thermalRoot, [target](const AVCaptureSystemPressureLevel& level) {
            CaptureDeviceSwitches::reportSystemPressure(*target, level);
        });
    if (monitor->hasThermalZones())
        device.adoptPressureMonitor(std::move(monitor));
}
} // namespace

std::shared_ptr<AVCaptureDevice> openCaptureDevice(const std::string& source, NSError* error) {
    return openCaptureDevice(source, CaptureDeviceOptions{}, error);
}

std::shared_ptr<AVCaptureDevice> openCaptureDevice(const std::string& source,
                                                   const CaptureDeviceOptions& options, NSError* error) {
    if (source == "virtual") {
        auto device = std::make_shared<VirtualCaptureDevice>(options.pictureSize);
        applyDeviceOptions(*device, options);
        return device;
    }
    if (endsWithIgnoringCase(source, ".png") || endsWithIgnoringCase(source, ".jpg") ||
        endsWithIgnoringCase(source, ".jpeg")) {
        auto device =
            StillImageCaptureDevice::open(source, error, options.pictureSize, options.stillImageFit);
        if (device)
            applyDeviceOptions(*device, options);
        return device;
    }
    if (isWebcamPath(source)) {
        auto io = openV4L2Device(source, error);
        if (!io)
            return nullptr;
        auto reopen = [source](const V4L2CameraIdentity& identity, int* errorNumber, std::string* foundAt) {
            return openV4L2Camera(source, identity, errorNumber, "/dev", foundAt);
        };
        auto device = V4L2CaptureDevice::open(std::move(io), source, error, reopen, options.pictureSize);
        if (!device)
            return nullptr;
        if (options.onFailure)
            device->setFailureHandler(options.onFailure);
        if (options.onAvailabilityChange)
            device->setAvailabilityHandler(options.onAvailabilityChange);
        applyDeviceOptions(*device, options);
        return device;
    }
    if (error)
        *error = makeCaptureError(CaptureErrorCode::unknownSource,
                                  "unknown camera source '" + source +
                                      "': expected \"virtual\", a .png, .jpg or .jpeg picture, or a webcam "
                                      "such as /dev/video0 (see --list-cameras)");
    return nullptr;
}
