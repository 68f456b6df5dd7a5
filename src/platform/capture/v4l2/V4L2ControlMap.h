#pragma once
// How the capture device's properties map onto a webcam's V4L2 controls, and which of
// them the webcam has. Units and directions:
// - exposure mode: V4L2_CID_EXPOSURE_AUTO. The automatic modes use aperture priority
//   (what UVC webcams offer) or else full auto; locked and custom use manual. Only menu
//   entries the camera lists are used. Webcams have no one-shot exposure: autoExpose
//   keeps adjusting like continuous.
// - exposure duration: V4L2_CID_EXPOSURE_ABSOLUTE, in units of 100 µs.
// - ISO: V4L2_CID_GAIN, or else V4L2_CID_ISO_SENSITIVITY; the control's range maps
//   linearly onto ISO 25 to 1600. Gain has no calibrated ISO, so the number is a
//   proportion of the camera's range in familiar units, not a measurement.
// - exposure bias: V4L2_CID_AUTO_EXPOSURE_BIAS, in 0.001 EV (an integer menu of such
//   values on most drivers, a plain integer on some).
// - focus: V4L2_CID_FOCUS_AUTO for continuous focus, V4L2_CID_AUTO_FOCUS_START for a
//   single focus run; V4L2_CID_FOCUS_ABSOLUTE for the lens position, its range mapped
//   onto 0…1 reversed, since larger V4L2 values focus nearer while lens position 0 is the
//   nearest focus.
// - zoom: V4L2_CID_ZOOM_ABSOLUTE; factor = value / minimum when the minimum is positive
//   (UVC cameras count 100 as 1×), else the range maps onto 1…4. Without the control
//   the device zooms digitally by cropping, up to 16×.
// - white balance: V4L2_CID_AUTO_WHITE_BALANCE, 1 continuous, 0 locked.
#include <cstdint>
#include <optional>
#include <vector>

#include "capture/AVCaptureDevice.h"
#include "capture/v4l2/V4L2Io.h"

class V4L2ControlMap {
  public:
    // Queries every control the device maps, with the menus.
    explicit V4L2ControlMap(V4L2Io& io);

    std::optional<V4L2ControlInfo> exposureAuto, exposureAbsolute, gain, exposureBias;
    std::optional<V4L2ControlInfo> focusAuto, focusStart, focusAbsolute, zoomAbsolute, whiteBalanceAuto;
    std::vector<V4L2MenuEntry> exposureAutoMenu, exposureBiasMenu;

    // The controls whose changes by other programs the device follows.
    std::vector<uint32_t> observedControls() const;

    bool supports(AVCaptureExposureMode mode) const;
    bool supports(AVCaptureFocusMode mode) const;
    bool supportsCustomLensPosition() const;
    bool hasOpticalZoom() const { return zoomAbsolute.has_value(); }

    AVCaptureDeviceFormat format() const;
    float minBias() const;
    float maxBias() const;
    double maxZoom() const;

    // Control values for device values (clamped to the control's range) and back.
    std::optional<int32_t> exposureAutoValue(AVCaptureExposureMode mode) const;
    // `previous` decides between the modes one control value stands for.
    AVCaptureExposureMode exposureModeFrom(int32_t value, AVCaptureExposureMode previous) const;
    int32_t exposureValue(CMTime duration) const;
    CMTime durationFrom(int32_t value) const;
    int32_t gainValue(float iso) const;
    float isoFrom(int32_t value) const;
    int32_t biasValue(float ev) const;
    float biasFrom(int32_t value) const;
    int32_t focusValue(float lensPosition) const;
    float lensPositionFrom(int32_t value) const;
    int32_t zoomValue(double factor) const;
    double zoomFrom(int32_t value) const;

    static constexpr float lowestISO = 25, highestISO = 1600;
};
