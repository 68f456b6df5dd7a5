// Exposure and ISO: the mode control, the bias slider, the logarithmic duration and ISO
// sliders, the device writes (synchronous, on the main thread) and the group's refresh.
#include <cmath>

#include "camera/CameraViewController.h"
#include "foundation/Print.h"

namespace {
using Segment = CameraViewController::focusModeControlSegment;
constexpr int32_t durationTimescale = 1000000; // whole microseconds

AVCaptureExposureMode exposureModeForSegment(Segment segment) {
    switch (segment) {
    case Segment::locked:
        return AVCaptureExposureMode::locked;
    case Segment::manual:
        return AVCaptureExposureMode::custom;
    case Segment::auto_:
        return AVCaptureExposureMode::autoExpose;
    case Segment::continuous:
        break;
    }
    return AVCaptureExposureMode::continuousAutoExposure;
}
} // namespace

void CameraViewController::exposureModeControlChanged(UIControl& sender) {
    int index = static_cast<UISegmentedControl&>(sender).selectedSegmentIndex();
    std::optional<Segment> segment = makeSegment(index);
    if (!segment) {
        print("exposureMode segment ", index, " did not convert to enum");
        return;
    }
    setExposureMode(inputCamera(), exposureModeForSegment(*segment));
    updateExposureControls();
}

void CameraViewController::exposureBiasSliderChanged(UIControl&) {
    setExposureBias(inputCamera(), double(exposureBiasSlider->value()));
}

void CameraViewController::durationSliderChanged(UIControl&) {
    double duration = exposureDurationFromSlider();
    double iso = isoFromSlider();
    setExposureDurationAndIso(inputCamera(), duration, iso);
}

void CameraViewController::isoSliderChanged(UIControl& sender) {
    durationSliderChanged(sender);
}

void CameraViewController::setExposureMode(const std::shared_ptr<AVCaptureDevice>& device,
                                           AVCaptureExposureMode mode) {
    NSError error;
    if (!device->lockForConfiguration(&error)) {
        print("setExposureMode caught exception ", error.localizedDescription());
        return;
    }
    switch (mode) {
    case AVCaptureExposureMode::autoExpose:
    case AVCaptureExposureMode::continuousAutoExposure:
        // A device without the automatic mode answers "but dns" rather than failing.
        if (device->isExposureModeSupported(mode))
            device->setExposureMode(mode);
        else
            print("setExposureMode but dns ",
                  mode == AVCaptureExposureMode::autoExpose ? "auto mode" : "continuous mode");
        break;
    case AVCaptureExposureMode::locked:
        if (device->isExposureModeSupported(mode))
            device->setExposureMode(mode);
        else
            print("setExposureMode but dns locked mode");
        break;
    case AVCaptureExposureMode::custom:
        if (device->isExposureModeSupported(mode))
            device->setExposureMode(mode);
        else
            print("setExposureMode but dns custom mode");
        break;
    default:
        print("setExposure unknown mode");
        break;
    }
    device->unlockForConfiguration();
}

void CameraViewController::setExposureBias(const std::shared_ptr<AVCaptureDevice>& device, double bias) {
    NSError error;
    if (!device->lockForConfiguration(&error)) {
        print("setExposureBias caught exception ", error.localizedDescription());
        return;
    }
    device->setExposureTargetBias(float(bias), nullptr);
    device->unlockForConfiguration();
}

void CameraViewController::setExposureDurationAndIso(const std::shared_ptr<AVCaptureDevice>& device,
                                                     double duration, double iso) {
    NSError error;
    if (!device->lockForConfiguration(&error)) {
        print("setExposureDurationAndIso caught exception ", error.localizedDescription());
        return;
    }
    // The slider ends can step just outside the format's ranges (microsecond rounding,
    // single-precision ISO); the device only accepts values inside them.
    const AVCaptureDeviceFormat& format = device->activeFormat();
    CMTime time = CMTimeMakeWithSeconds(duration, durationTimescale);
    if (CMTimeCompare(time, format.minExposureDuration) < 0)
        time = CMTimeMakeWithSeconds(
            std::ceil(CMTimeGetSeconds(format.minExposureDuration) * durationTimescale) / durationTimescale,
            durationTimescale);
    if (CMTimeCompare(time, format.maxExposureDuration) > 0)
        time = CMTimeMakeWithSeconds(
            std::floor(CMTimeGetSeconds(format.maxExposureDuration) * durationTimescale) / durationTimescale,
            durationTimescale);
    float isoValue = std::clamp(float(iso), format.minISO, format.maxISO);
    device->setExposureModeCustomWithDuration(time, isoValue, nullptr);
    device->unlockForConfiguration();
}

double CameraViewController::exposureDurationFromSlider() {
    double v = double(durationSlider->value());
    const AVCaptureDeviceFormat& format = inputCamera()->activeFormat();
    double dmin = CMTimeGetSeconds(format.minExposureDuration);
    double dmax = CMTimeGetSeconds(format.maxExposureDuration);
    return dmin * std::exp(std::log(dmax / dmin) * v);
}

float CameraViewController::sliderValueForExposureDuration() {
    auto device = inputCamera();
    const AVCaptureDeviceFormat& format = device->activeFormat();
    double d = CMTimeGetSeconds(device->exposureDuration());
    double dmin = CMTimeGetSeconds(format.minExposureDuration);
    double dmax = CMTimeGetSeconds(format.maxExposureDuration);
    if (dmax == dmin)
        return 0.0f; // a fixed duration: no range to place the slider in
    return float(std::log(d / dmin) / std::log(dmax / dmin));
}

double CameraViewController::isoFromSlider() {
    float v = isoSlider->value();
    const AVCaptureDeviceFormat& format = inputCamera()->activeFormat();
    float imin = format.minISO, imax = format.maxISO;
    return double(imin * std::exp(v * std::log(imax / imin)));
}

float CameraViewController::sliderValueForISO() {
    auto device = inputCamera();
    const AVCaptureDeviceFormat& format = device->activeFormat();
    float i = device->ISO();
    float imin = format.minISO, imax = format.maxISO;
    if (imax == imin)
        return 0.0f;
    return std::log(i / imin) / std::log(imax / imin);
}

void CameraViewController::updateExposureControls() {
    if (hideControls) {
        exposureControlsView->setHidden(true);
        return;
    }
    exposureControlsView->setHidden(false);
    int index = exposureModeControl->selectedSegmentIndex();
    std::optional<Segment> segment = makeSegment(index);
    if (!segment) {
        print("unknown exposureMode");
        return;
    }
    auto device = inputCamera();
    switch (*segment) {
    case Segment::auto_:
    case Segment::continuous:
        exposureBiasSlider->setMinimumValue(device->minExposureTargetBias());
        exposureBiasSlider->setMaximumValue(device->maxExposureTargetBias());
        exposureBiasSlider->setValue(device->exposureTargetBias());
        exposureBiasSlider->setHidden(false);
        exposureBiasLabel->setHidden(false);
        durationSlider->setHidden(true);
        isoSlider->setHidden(true);
        break;
    case Segment::locked:
        exposureBiasLabel->setHidden(true);
        exposureBiasSlider->setHidden(true);
        durationSlider->setHidden(true);
        isoSlider->setHidden(true);
        break;
    case Segment::manual:
        exposureBiasLabel->setHidden(true);
        exposureBiasSlider->setHidden(true);
        durationSlider->setMinimumValue(0.0f);
        durationSlider->setMaximumValue(1.0f);
        durationSlider->setValue(sliderValueForExposureDuration());
        durationSlider->setHidden(false);
        isoSlider->setMinimumValue(0.0f);
        isoSlider->setMaximumValue(1.0f);
        isoSlider->setValue(sliderValueForISO());
        isoSlider->setHidden(false);
        break;
    }
}
