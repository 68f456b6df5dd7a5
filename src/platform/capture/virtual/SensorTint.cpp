#include "capture/virtual/SensorTint.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "capture/virtual/SensorModel.h"

namespace sensor {
namespace {

// The linear red, green and blue of a black body at `kelvin`, from the usual fit of the
// Planckian locus in sRGB (good from 1000 K to 40000 K), green at 1.
std::array<double, 3> blackBody(double kelvin) {
    const double t = std::clamp(kelvin, 1000.0, 40000.0) / 100;
    const double r = t <= 66 ? 255 : 329.698727446 * std::pow(t - 60, -0.1332047592);
    const double g = t <= 66 ? 99.4708025861 * std::log(t) - 161.1195681661
                             : 288.1221695283 * std::pow(t - 60, -0.0755148492);
    const double b = t >= 66 ? 255 : t <= 19 ? 0 : 138.5177312231 * std::log(t - 10) - 305.0447927307;
    auto linear = [](double v) { return double(decodeSRGB(uint8_t(std::clamp(v, 1.0, 255.0)))); };
    const double green = linear(g);
    return {linear(r) / green, 1.0, linear(b) / green};
}

// Linear light (0 to 1, in 4096 steps) to sRGB.
const std::vector<uint8_t>& encodeTable() {
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t(4096);
        for (size_t i = 0; i < t.size(); ++i)
            t[i] = encodeSRGB(float(i) / float(t.size() - 1));
        return t;
    }();
    return table;
}

} // namespace

std::array<float, 3> whiteBalanceGains(double assumedKelvin) {
    const auto scene = blackBody(sceneKelvin), assumed = blackBody(assumedKelvin);
    return {float(scene[0] / assumed[0]), 1.0f, float(scene[2] / assumed[2])};
}

double flickerFactor(double startSeconds, double exposureSeconds, double mainsHz) {
    if (mainsHz <= 0 || exposureSeconds <= 0)
        return 1;
    // The mean of 1 + depth * cos(w t) over the exposure: the light flickers at twice the mains.
    const double w = 2 * std::numbers::pi * 2 * mainsHz;
    return 1 + flickerDepth * (std::sin(w * (startSeconds + exposureSeconds)) - std::sin(w * startSeconds)) /
                   (w * exposureSeconds);
}

void develop(const Development& development, double frameSeconds, double exposureSeconds, uint8_t* rgba,
             size_t bytesPerRow, int width, int height) {
    if (development.neutral())
        return;
    std::array<float, 256> decoded;
    for (int i = 0; i < 256; ++i)
        decoded[size_t(i)] = decodeSRGB(uint8_t(i));
    const std::vector<uint8_t>& encode = encodeTable();
    const float top = float(encode.size() - 1);
    for (int y = 0; y < height; ++y) {
        const double start = frameSeconds + readoutSeconds * y / std::max(1, height);
        const float row = float(flickerFactor(start, exposureSeconds, development.mainsHz));
        std::array<float, 3> gain;
        for (size_t c = 0; c < 3; ++c)
            gain[c] = development.channelGains[c] * row * top;
        uint8_t* p = rgba + size_t(y) * bytesPerRow;
        for (int x = 0; x < width; ++x, p += 4)
            for (size_t c = 0; c < 3; ++c)
                p[c] = encode[size_t(std::clamp(decoded[p[c]] * gain[c], 0.0f, top) + 0.5f)];
    }
}

} // namespace sensor
