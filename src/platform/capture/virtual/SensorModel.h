#pragma once
// How the simulated sensor turns light into pixel values, and how its automatic exposure
// and focus move toward their targets. Pure functions, so the devices and the scenes agree
// on one model and tests can check it without frames.
//
// Brightness is linear light: 0.18 is mid grey, 1.0 is white. A scene gives each pixel a
// radiance; the sensor multiplies it by gain(duration, ISO), adds noise and encodes sRGB.
#include <cstdint>
#include <optional>

#include "capture/AVCaptureDevice.h"
#include "media/CMTime.h"

namespace sensor {

// The exposure (seconds × ISO) that gives a gain of 1: 1/30 s at ISO 100.
inline constexpr double referenceExposure = 100.0 / 30.0;

inline double gain(double seconds, double iso) {
    return seconds * iso / referenceExposure;
}

// The mean linear brightness automatic exposure aims for: 18 % grey, moved by `biasEV`.
double targetBrightness(double biasEV);

struct ExposureSettings {
    CMTime duration;
    float iso;
};

// How a camera spreads an exposure (seconds × ISO) over shutter and gain: first the
// shutter at base ISO 100 up to 1/30 s (one frame at the full rate), then gain up to the
// format's maximum, then a longer shutter; below the shortest shutter, gain under 100.
// The result stays inside the format's ranges.
ExposureSettings programExposure(double exposure, const AVCaptureDeviceFormat& format);

// One step of automatic exposure: the exposure to use next, given the current one and the
// brightness the meter reads at it; nullopt once close enough to `target` (or pinned at a
// limit), so a settled camera stops announcing changes.
std::optional<double> nextExposure(double exposure, double meteredBrightness, double target,
                                   const AVCaptureDeviceFormat& format);

// One step of automatic focus from `lens` toward `sharpAt`; nullopt once there.
std::optional<float> nextLensPosition(float lens, float sharpAt);

// The noise's standard deviation at linear brightness s is
// noiseGain(iso) * (noiseFloor + noiseSlope * s): a read-noise floor plus a part that grows
// with the signal, both amplified with the analogue gain.
inline constexpr float noiseFloor = 0.0025f;
inline constexpr float noiseSlope = 0.02f;
float noiseGain(double iso);

// sRGB transfer, 8 bits each way.
float decodeSRGB(uint8_t value);
uint8_t encodeSRGB(float linear);

} // namespace sensor
