#include "capture/AVCaptureDevice.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "capture/OwnChange.h"

const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelNominal = "nominal";
const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelFair = "fair";
const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelSerious = "serious";
const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelCritical = "critical";
const AVCaptureSystemPressureLevel AVCaptureSystemPressureLevelShutdown = "shutdown";
const AVCaptureSessionPreset AVCaptureSessionPreset640x480 = "640x480";

namespace {
std::mutex factoryMutex;
AVCaptureDevice::DeviceFactory& installedDeviceFactory() {
    static AVCaptureDevice::DeviceFactory f;
    return f;
}
} // namespace

AVCaptureDevice::AVCaptureDevice(AVCaptureDeviceFormat format)
    : format_(std::move(format)),
      minFrameDuration_(format_.videoSupportedFrameRateRanges.empty()
                            ? CMTime{1, 30}
                            : format_.videoSupportedFrameRateRanges.front().minFrameDuration),
      maxFrameDuration_(format_.videoSupportedFrameRateRanges.empty()
                            ? CMTime{1, 30}
                            : format_.videoSupportedFrameRateRanges.front().minFrameDuration) {}

AVCaptureDevice::~AVCaptureDevice() = default;

bool AVCaptureDevice::lockForConfiguration(NSError* error) {
    if (auto refusal = configurationLockRefusal()) {
        if (error)
            *error = *refusal;
        return false;
    }
    configurationMutex_.lock();
    lockOwner_.store(std::this_thread::get_id());
    ++lockDepth_;
    return true;
}

std::optional<NSError> AVCaptureDevice::configurationLockRefusal() const {
    if (!refusesConfigurationLock() || OwnChange::inProgress())
        return std::nullopt;
    return NSError("AVFoundationErrorDomain", -11852, "The configuration lock was refused (simulated)");
}

void AVCaptureDevice::reportSystemPressure(const AVCaptureSystemPressureLevel& level) {
    runOnDeviceThread(
        [this, level] { systemPressureStateProperty.set(AVCaptureSystemPressureState{level}); });
}

void AVCaptureDevice::unlockForConfiguration() {
    requireLock("unlockForConfiguration");
    if (--lockDepth_ == 0)
        lockOwner_.store(std::thread::id{});
    configurationMutex_.unlock();
}

bool AVCaptureDevice::holdsConfigurationLock() const {
    return lockOwner_.load() == std::this_thread::get_id();
}

void AVCaptureDevice::requireLock(const char* operation) const {
    if (holdsConfigurationLock())
        return;
    std::fprintf(stderr, "capture: %s called without holding the configuration lock\n", operation);
    std::abort();
}

void AVCaptureDevice::setFocusMode(AVCaptureFocusMode mode) {
    requireLock("setFocusMode");
    applyFocus(mode, lensPosition());
    focusModeProperty.set(mode);
}

void AVCaptureDevice::setFocusModeLockedWithLensPosition(float position, SyncTimeHandler handler) {
    requireLock("setFocusModeLockedWithLensPosition");
    position = std::clamp(position, 0.0f, 1.0f);
    applyFocus(AVCaptureFocusMode::locked, position);
    position = lensPositionInEffect(position);
    // The lens before the mode: a mode report is what refreshes the focus slider, and
    // that refresh, on another thread, must already read the new position.
    lensPositionProperty.set(position);
    focusModeProperty.set(AVCaptureFocusMode::locked);
    if (handler)
        runOnDeviceThread([this, handler] { handler(deviceClockTime()); });
}

void AVCaptureDevice::setExposureMode(AVCaptureExposureMode mode) {
    requireLock("setExposureMode");
    applyExposure(mode, exposureDuration(), ISO(), exposureTargetBias());
    exposureModeProperty.set(mode);
}

void AVCaptureDevice::setExposureTargetBias(float bias, SyncTimeHandler handler) {
    requireLock("setExposureTargetBias");
    bias = std::clamp(bias, minExposureTargetBias(), maxExposureTargetBias());
    applyExposure(exposureMode(), exposureDuration(), ISO(), bias);
    bias = exposureTargetBiasInEffect(bias);
    exposureTargetBiasProperty.set(bias);
    if (handler)
        runOnDeviceThread([this, handler] { handler(deviceClockTime()); });
}

void AVCaptureDevice::setExposureModeCustomWithDuration(CMTime duration, float iso, SyncTimeHandler handler) {
    requireLock("setExposureModeCustomWithDuration");
    if (CMTimeCompare(duration, format_.minExposureDuration) < 0)
        duration = format_.minExposureDuration;
    if (CMTimeCompare(duration, format_.maxExposureDuration) > 0)
        duration = format_.maxExposureDuration;
    iso = std::clamp(iso, format_.minISO, format_.maxISO);
    applyExposure(AVCaptureExposureMode::custom, duration, iso, exposureTargetBias());
    duration = exposureDurationInEffect(duration);
    iso = isoInEffect(iso);
    // The values before the mode, for the same reason as the lens above.
    exposureDurationProperty.set(duration);
    isoProperty.set(iso);
    exposureModeProperty.set(AVCaptureExposureMode::custom);
    if (handler)
        runOnDeviceThread([this, handler] { handler(deviceClockTime()); });
}

void AVCaptureDevice::setVideoZoomFactor(double factor) {
    requireLock("setVideoZoomFactor");
    factor = std::clamp(factor, minAvailableVideoZoomFactor(), maxAvailableVideoZoomFactor());
    applyZoom(factor);
    factor = videoZoomFactorInEffect(factor);
    videoZoomFactorProperty.set(factor);
}

CMTime AVCaptureDevice::activeVideoMinFrameDuration() const {
    std::lock_guard lock(durationMutex_);
    return minFrameDuration_;
}

CMTime AVCaptureDevice::activeVideoMaxFrameDuration() const {
    std::lock_guard lock(durationMutex_);
    return maxFrameDuration_;
}

void AVCaptureDevice::setActiveVideoMinFrameDuration(CMTime duration) {
    requireLock("setActiveVideoMinFrameDuration");
    CMTime min, max;
    {
        std::lock_guard lock(durationMutex_);
        minFrameDuration_ = duration;
        min = minFrameDuration_;
        max = maxFrameDuration_;
    }
    applyFrameDurations(min, max);
}

void AVCaptureDevice::setActiveVideoMaxFrameDuration(CMTime duration) {
    requireLock("setActiveVideoMaxFrameDuration");
    CMTime min, max;
    {
        std::lock_guard lock(durationMutex_);
        maxFrameDuration_ = duration;
        min = minFrameDuration_;
        max = maxFrameDuration_;
    }
    applyFrameDurations(min, max);
}

CMTime AVCaptureDevice::deviceClockTime() const {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return CMTime{std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(), 1000000000};
}

void AVCaptureDevice::setDefaultDeviceFactory(DeviceFactory f) {
    std::lock_guard lock(factoryMutex);
    installedDeviceFactory() = std::move(f);
}

std::shared_ptr<AVCaptureDevice> AVCaptureDevice::defaultDevice(AVCaptureDevicePosition position,
                                                                NSError* error) {
    DeviceFactory f;
    {
        std::lock_guard lock(factoryMutex);
        f = installedDeviceFactory();
    }
    if (!f) {
        if (error)
            *error = NSError("AVFoundationErrorDomain", -11814, "no capture device is available");
        return nullptr;
    }
    return f(position, error);
}
