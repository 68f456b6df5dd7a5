#include "capture/v4l2/V4L2ControlMap.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>

namespace {
constexpr int32_t exposureUnitsPerSecond = 10000; // V4L2_CID_EXPOSURE_ABSOLUTE counts 100 µs
constexpr double millistops = 1000.0;             // V4L2_CID_AUTO_EXPOSURE_BIAS counts 0.001 EV
constexpr double zoomWithoutScale = 4.0;

int32_t clampTo(const V4L2ControlInfo& c, double value) {
    return int32_t(std::clamp(std::llround(value), (long long)c.minimum, (long long)c.maximum));
}

double span(const V4L2ControlInfo& c) {
    return std::max(1.0, double(c.maximum) - double(c.minimum));
}

bool lists(const std::vector<V4L2MenuEntry>& menu, uint32_t index) {
    return std::any_of(menu.begin(), menu.end(), [&](const V4L2MenuEntry& e) { return e.index == index; });
}

std::optional<V4L2ControlInfo> usable(V4L2Io& io, uint32_t id) {
    auto c = io.queryControl(id);
    if (c && (c->flags & V4L2_CTRL_FLAG_READ_ONLY))
        return std::nullopt;
    return c;
}
} // namespace

V4L2ControlMap::V4L2ControlMap(V4L2Io& io)
    : exposureAuto(usable(io, V4L2_CID_EXPOSURE_AUTO)),
      exposureAbsolute(usable(io, V4L2_CID_EXPOSURE_ABSOLUTE)), gain(usable(io, V4L2_CID_GAIN)),
      exposureBias(usable(io, V4L2_CID_AUTO_EXPOSURE_BIAS)), focusAuto(usable(io, V4L2_CID_FOCUS_AUTO)),
      focusStart(usable(io, V4L2_CID_AUTO_FOCUS_START)), focusAbsolute(usable(io, V4L2_CID_FOCUS_ABSOLUTE)),
      zoomAbsolute(usable(io, V4L2_CID_ZOOM_ABSOLUTE)),
      whiteBalanceAuto(usable(io, V4L2_CID_AUTO_WHITE_BALANCE)) {
    if (!gain)
        gain = usable(io, V4L2_CID_ISO_SENSITIVITY);
    if (gain && gain->maximum <= gain->minimum)
        gain.reset();
    if (zoomAbsolute && zoomAbsolute->maximum <= zoomAbsolute->minimum)
        zoomAbsolute.reset();
    if (focusAbsolute && focusAbsolute->maximum <= focusAbsolute->minimum)
        focusAbsolute.reset();
    if (exposureAuto)
        exposureAutoMenu = io.queryMenu(*exposureAuto);
    if (exposureBias && exposureBias->type == V4L2_CTRL_TYPE_INTEGER_MENU) {
        exposureBiasMenu = io.queryMenu(*exposureBias);
        if (exposureBiasMenu.empty())
            exposureBias.reset();
    }
}

std::vector<uint32_t> V4L2ControlMap::observedControls() const {
    std::vector<uint32_t> ids;
    for (const auto* c : {&exposureAuto, &exposureAbsolute, &gain, &exposureBias, &focusAuto, &focusAbsolute,
                          &zoomAbsolute, &whiteBalanceAuto})
        if (*c)
            ids.push_back((*c)->id);
    return ids;
}

bool V4L2ControlMap::supports(AVCaptureExposureMode mode) const {
    switch (mode) {
    case AVCaptureExposureMode::continuousAutoExposure:
        // A camera without the control exposes by itself, and nothing can stop it.
        return !exposureAuto || exposureAutoValue(mode).has_value();
    case AVCaptureExposureMode::autoExpose:
        return exposureAutoValue(mode).has_value();
    case AVCaptureExposureMode::locked:
        return exposureAutoValue(mode).has_value();
    case AVCaptureExposureMode::custom:
        return exposureAutoValue(mode).has_value() && exposureAbsolute.has_value();
    }
    return false;
}

bool V4L2ControlMap::supports(AVCaptureFocusMode mode) const {
    switch (mode) {
    case AVCaptureFocusMode::continuousAutoFocus:
        return focusAuto.has_value();
    case AVCaptureFocusMode::autoFocus:
        return focusStart.has_value();
    case AVCaptureFocusMode::locked:
        // Either automatic focus can be switched off, or there is none to switch off.
        return focusAuto.has_value() || !focusStart.has_value();
    }
    return false;
}

bool V4L2ControlMap::supportsCustomLensPosition() const {
    return focusAbsolute.has_value();
}

AVCaptureDeviceFormat V4L2ControlMap::format() const {
    AVCaptureDeviceFormat f;
    if (exposureAbsolute) {
        f.minExposureDuration = durationFrom(std::max(1, exposureAbsolute->minimum));
        f.maxExposureDuration = durationFrom(std::max(1, exposureAbsolute->maximum));
    } else {
        f.minExposureDuration = f.maxExposureDuration = CMTime{1, 30};
    }
    if (gain) {
        f.minISO = lowestISO;
        f.maxISO = highestISO;
    } else {
        f.minISO = f.maxISO = 100;
    }
    return f;
}

float V4L2ControlMap::minBias() const {
    if (!exposureBias)
        return 0;
    if (!exposureBiasMenu.empty())
        return float(std::min_element(exposureBiasMenu.begin(), exposureBiasMenu.end(),
                                      [](auto& a, auto& b) { return a.value < b.value; })
                         ->value /
                     millistops);
    return float(exposureBias->minimum / millistops);
}

float V4L2ControlMap::maxBias() const {
    if (!exposureBias)
        return 0;
    if (!exposureBiasMenu.empty())
        return float(std::max_element(exposureBiasMenu.begin(), exposureBiasMenu.end(),
                                      [](auto& a, auto& b) { return a.value < b.value; })
                         ->value /
                     millistops);
    return float(exposureBias->maximum / millistops);
}

double V4L2ControlMap::maxZoom() const {
    if (!zoomAbsolute)
        return 16.0;
    return zoomAbsolute->minimum > 0 ? double(zoomAbsolute->maximum) / zoomAbsolute->minimum
                                     : zoomWithoutScale;
}

std::optional<int32_t> V4L2ControlMap::exposureAutoValue(AVCaptureExposureMode mode) const {
    if (!exposureAuto)
        return std::nullopt;
    if (mode == AVCaptureExposureMode::locked || mode == AVCaptureExposureMode::custom)
        return lists(exposureAutoMenu, V4L2_EXPOSURE_MANUAL) ? std::optional<int32_t>(V4L2_EXPOSURE_MANUAL)
                                                             : std::nullopt;
    for (int32_t automatic : {int32_t(V4L2_EXPOSURE_APERTURE_PRIORITY), int32_t(V4L2_EXPOSURE_AUTO)})
        if (lists(exposureAutoMenu, uint32_t(automatic)))
            return automatic;
    return std::nullopt;
}

AVCaptureExposureMode V4L2ControlMap::exposureModeFrom(int32_t value, AVCaptureExposureMode previous) const {
    const bool manualBefore =
        previous == AVCaptureExposureMode::locked || previous == AVCaptureExposureMode::custom;
    if (value == V4L2_EXPOSURE_MANUAL)
        return manualBefore ? previous : AVCaptureExposureMode::locked;
    return manualBefore ? AVCaptureExposureMode::continuousAutoExposure : previous;
}

int32_t V4L2ControlMap::exposureValue(CMTime duration) const {
    return exposureAbsolute ? clampTo(*exposureAbsolute, CMTimeGetSeconds(duration) * exposureUnitsPerSecond)
                            : 0;
}

CMTime V4L2ControlMap::durationFrom(int32_t value) const {
    return CMTime{value, exposureUnitsPerSecond};
}

int32_t V4L2ControlMap::gainValue(float iso) const {
    if (!gain)
        return 0;
    double t = (double(iso) - lowestISO) / (highestISO - lowestISO);
    return clampTo(*gain, gain->minimum + t * span(*gain));
}

float V4L2ControlMap::isoFrom(int32_t value) const {
    if (!gain)
        return 100;
    double t = (double(value) - gain->minimum) / span(*gain);
    return float(lowestISO + std::clamp(t, 0.0, 1.0) * (highestISO - lowestISO));
}

int32_t V4L2ControlMap::biasValue(float ev) const {
    if (!exposureBias)
        return 0;
    if (exposureBiasMenu.empty())
        return clampTo(*exposureBias, ev * millistops);
    const auto nearest =
        std::min_element(exposureBiasMenu.begin(), exposureBiasMenu.end(), [&](auto& a, auto& b) {
            return std::fabs(double(a.value) - ev * millistops) <
                   std::fabs(double(b.value) - ev * millistops);
        });
    return int32_t(nearest->index);
}

float V4L2ControlMap::biasFrom(int32_t value) const {
    if (!exposureBias)
        return 0;
    if (exposureBiasMenu.empty())
        return float(value / millistops);
    for (const auto& e : exposureBiasMenu)
        if (e.index == uint32_t(value))
            return float(e.value / millistops);
    return 0;
}

int32_t V4L2ControlMap::focusValue(float lensPosition) const {
    if (!focusAbsolute)
        return 0;
    return clampTo(*focusAbsolute, focusAbsolute->maximum -
                                       double(std::clamp(lensPosition, 0.0f, 1.0f)) * span(*focusAbsolute));
}

float V4L2ControlMap::lensPositionFrom(int32_t value) const {
    if (!focusAbsolute)
        return 0.5f;
    return float(std::clamp((double(focusAbsolute->maximum) - value) / span(*focusAbsolute), 0.0, 1.0));
}

int32_t V4L2ControlMap::zoomValue(double factor) const {
    if (!zoomAbsolute)
        return 0;
    double t = (factor - 1.0) / (maxZoom() - 1.0);
    return clampTo(*zoomAbsolute, zoomAbsolute->minimum + t * span(*zoomAbsolute));
}

double V4L2ControlMap::zoomFrom(int32_t value) const {
    if (!zoomAbsolute)
        return 1.0;
    double t = std::clamp((double(value) - zoomAbsolute->minimum) / span(*zoomAbsolute), 0.0, 1.0);
    return 1.0 + t * (maxZoom() - 1.0);
}
