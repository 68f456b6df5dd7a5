#include "capture/virtual/SensorModel.h"

#include <algorithm>
#include <cmath>

namespace sensor {
namespace {
// Exposure times are kept in microseconds: fine enough for 1/10000 s, coarse enough that
// a settled value does not flicker in the readout.
constexpr int32_t durationTimescale = 1000000;
constexpr double baseISO = 100.0;
constexpr double fullRateShutter = 1.0 / 30.0;
// Auto exposure moves 40 % of the remaining distance (in stops) per step, at most one
// stop, at least a thirtieth: quick at first, then easing in as a real camera does.
constexpr double exposureSettledStops = 0.05;
constexpr double exposureStepFraction = 0.4;
constexpr double exposureMaxStepStops = 1.0;
constexpr double exposureMinStepStops = 1.0 / 30.0;
constexpr float lensSettled = 0.004f;
constexpr float lensStepFraction = 0.35f;
constexpr float lensMinStep = 0.01f;
} // namespace

double targetBrightness(double biasEV) {
    return 0.18 * std::exp2(biasEV);
}

ExposureSettings programExposure(double exposure, const AVCaptureDeviceFormat& format) {
    const double minSeconds = CMTimeGetSeconds(format.minExposureDuration);
    const double maxSeconds = CMTimeGetSeconds(format.maxExposureDuration);
    const double minISO = format.minISO, maxISO = format.maxISO;
    exposure = std::clamp(exposure, minSeconds * minISO, maxSeconds * maxISO);

    double iso = std::clamp(baseISO, minISO, maxISO);
    double seconds = exposure / iso;
    const double shutterBeforeGain = std::clamp(fullRateShutter, minSeconds, maxSeconds);
    if (seconds > shutterBeforeGain) {
        seconds = shutterBeforeGain;
        iso = std::min(exposure / seconds, maxISO);
        seconds = std::min(exposure / iso, maxSeconds);
    } else if (seconds < minSeconds) {
        seconds = minSeconds;
        iso = std::max(exposure / seconds, minISO);
    }
    CMTime duration = CMTimeMakeWithSeconds(seconds, durationTimescale);
    if (CMTimeCompare(duration, format.minExposureDuration) < 0)
        duration = format.minExposureDuration;
    if (CMTimeCompare(duration, format.maxExposureDuration) > 0)
        duration = format.maxExposureDuration;
    return {duration, float(std::round(iso))};
}

std::optional<double> nextExposure(double exposure, double meteredBrightness, double target,
                                   const AVCaptureDeviceFormat& format) {
    const double lowest = CMTimeGetSeconds(format.minExposureDuration) * format.minISO;
    const double highest = CMTimeGetSeconds(format.maxExposureDuration) * format.maxISO;
    // A black frame says only "more light": open up by the largest step.
    double gapStops = meteredBrightness > 1e-6 ? std::log2(target / meteredBrightness) : exposureMaxStepStops;
    if (std::fabs(gapStops) < exposureSettledStops)
        return std::nullopt;
    double step = std::clamp(gapStops * exposureStepFraction, -exposureMaxStepStops, exposureMaxStepStops);
    if (std::fabs(step) < exposureMinStepStops)
        step = std::copysign(exposureMinStepStops, step);
    double next = std::clamp(exposure * std::exp2(step), lowest, highest);
    if (std::fabs(std::log2(next / exposure)) < 1e-3)
        return std::nullopt;
    return next;
}

std::optional<float> nextLensPosition(float lens, float sharpAt) {
    float gap = sharpAt - lens;
    if (std::fabs(gap) < lensSettled)
        return std::nullopt;
    float step = gap * lensStepFraction;
    if (std::fabs(step) < lensMinStep)
        step = std::clamp(gap, -lensMinStep, lensMinStep);
    return std::clamp(lens + step, 0.0f, 1.0f);
}

float noiseGain(double iso) {
    return float(std::sqrt(std::max(iso, 1.0) / baseISO));
}

float decodeSRGB(uint8_t value) {
    double c = value / 255.0;
    return float(c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
}

uint8_t encodeSRGB(float linear) {
    double c = std::clamp(double(linear), 0.0, 1.0);
    double v = c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1.0 / 2.4) - 0.055;
    return uint8_t(std::lround(v * 255.0));
}

} // namespace sensor
