#pragma once
// The picture every benchmark processes: 640 x 480 RGBA, a lit gradient with a few bright
// blocks and sensor-like noise, so edge filters and the bright-region outlines have work
// resembling a camera's.
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace bench {

constexpr int sceneWidth = 640, sceneHeight = 480;

inline std::vector<uint8_t> makeScene() {
    std::vector<uint8_t> rgba(size_t(sceneWidth) * sceneHeight * 4);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < sceneHeight; ++y)
        for (int x = 0; x < sceneWidth; ++x) {
            int base = 40 + x * 120 / sceneWidth + y * 40 / sceneHeight;
            bool block = (x / 80 + y / 80) % 3 == 0 && (x % 80) > 20 && (y % 80) > 20;
            int v = (block ? base + 110 : base) + noise(random);
            uint8_t* p = &rgba[(size_t(y) * sceneWidth + size_t(x)) * 4];
            p[0] = uint8_t(std::clamp(v + 10, 0, 255));
            p[1] = uint8_t(std::clamp(v, 0, 255));
            p[2] = uint8_t(std::clamp(v - 10, 0, 255));
            p[3] = 255;
        }
    return rgba;
}

} // namespace bench
