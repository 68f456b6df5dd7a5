#pragma once
// What the simulated sensor does to a rendered frame after the scene: a white balance
// that is set by hand tints it (the scene's light is `sceneKelvin`; a camera told the
// light is warmer than it is turns the picture blue, and the other way orange), and
// lights on mains flicker at twice its frequency, which a rolling shutter turns into
// bands unless the exposure lasts a whole number of flicker periods.
#include <array>
#include <cstddef>
#include <cstdint>

namespace sensor {

// The colour temperature of the virtual scene's light, in kelvin.
inline constexpr double sceneKelvin = 5000;
// How deep the lights' brightness swings over a flicker period (0: steady).
inline constexpr double flickerDepth = 0.5;
// How long the sensor takes to read from the top row to the bottom one.
inline constexpr double readoutSeconds = 1.0 / 30.0;

struct Development {
    std::array<float, 3> channelGains{1, 1, 1}; // red, green, blue, in linear light
    double mainsHz = 0;                         // 0: steady light
    bool neutral() const { return mainsHz == 0 && channelGains == std::array<float, 3>{1, 1, 1}; }
};

// The channel gains of a white balance set to `assumedKelvin` under the scene's light,
// green kept at 1.
std::array<float, 3> whiteBalanceGains(double assumedKelvin);

// The brightness factor of a row whose exposure starts at `startSeconds` and lasts
// `exposureSeconds`, under lights on `mainsHz` mains.
double flickerFactor(double startSeconds, double exposureSeconds, double mainsHz);

// Applies `development` to RGBA (sRGB, 8 bits) of width × height, the frame's exposure
// starting at `frameSeconds`.
void develop(const Development& development, double frameSeconds, double exposureSeconds, uint8_t* rgba,
             size_t bytesPerRow, int width, int height);

} // namespace sensor
