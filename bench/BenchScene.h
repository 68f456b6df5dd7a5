#pragma once
// The picture every benchmark processes: RGBA, 640 x 480 unless a size is asked for, a lit
// gradient with bright blocks and sensor-like noise, so edge filters and the bright-region
// outlines have work resembling a camera's. The blocks keep their size in pixels at every
// picture size, as a camera's detail does when its resolution grows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace bench {

constexpr int sceneWidth = 640, sceneHeight = 480;

// The sizes the scaling benchmarks run at; the pixel counts are 1, 3 and 6.75 times the
// first's.
inline void atPictureSizes(benchmark::internal::Benchmark* b) {
    b->Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->ArgNames({"w", "h"});
}

inline std::vector<uint8_t> makeScene(int width = sceneWidth, int height = sceneHeight) {
    std::vector<uint8_t> rgba(size_t(width) * height * 4);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int base = 40 + x * 120 / width + y * 40 / height;
            bool block = (x / 80 + y / 80) % 3 == 0 && (x % 80) > 20 && (y % 80) > 20;
            int v = (block ? base + 110 : base) + noise(random);
            uint8_t* p = &rgba[(size_t(y) * width + size_t(x)) * 4];
            p[0] = uint8_t(std::clamp(v + 10, 0, 255));
            p[1] = uint8_t(std::clamp(v, 0, 255));
            p[2] = uint8_t(std::clamp(v - 10, 0, 255));
            p[3] = 255;
        }
    return rgba;
}

} // namespace bench
