#pragma once
// What the virtual camera looks at, painted once: the room's far wall and floor, the
// objects at middle and near depth, and the box blur that defocuses them. Each layer is
// premultiplied RGBA, 8 bits, 640 × 480.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace virtual_scene {

inline constexpr int W = 640;
inline constexpr int H = 480;
inline constexpr size_t pixelCount = size_t(W) * H;

struct Rgb {
    float r, g, b;
};
inline Rgb operator*(Rgb c, float k) {
    return {c.r * k, c.g * k, c.b * k};
}
inline Rgb operator+(Rgb a, Rgb b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
inline Rgb mix(Rgb a, Rgb b, float t) {
    return a * (1 - t) + b * t;
}

// The brick wall with its framed picture and the checked floor.
std::vector<uint8_t> farLayer();
// The table and the objects on it.
std::vector<uint8_t> middleLayer();
// What stands closest to the lens.
std::vector<uint8_t> nearLayer();

// Two box passes of half-width `r` each way over premultiplied RGBA, clamped at the edges.
std::vector<uint8_t> boxBlur(const std::vector<uint8_t>& source, int r);

} // namespace virtual_scene
