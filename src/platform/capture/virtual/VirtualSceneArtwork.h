#pragma once
// What the virtual camera looks at, painted once per picture size: the room's far wall
// and floor, the objects at middle and near depth, and the box blur that defocuses them.
// Each layer is premultiplied RGBA, 8 bits, at the picture's size. The scene is designed
// on a 640 × 480 view; another size shows that view scaled to fit whole and centred, with
// more of the room on the spare sides.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace virtual_scene {

// The design view's size.
inline constexpr int W = 640;
inline constexpr int H = 480;

// Where a picture's pixels lie in the design view.
struct SceneGeometry {
    int width = W, height = H;
    float scale = 1;                // picture pixels per design unit
    float originX = 0, originY = 0; // the design point at the picture's top-left corner
    static SceneGeometry forSize(int width, int height);
    size_t pixelCount() const { return size_t(width) * size_t(height); }
    // The design point at the centre of pixel (x, y), and back.
    float designX(float x) const { return originX + (x + 0.5f) / scale; }
    float designY(float y) const { return originY + (y + 0.5f) / scale; }
    float pixelX(float designX) const { return (designX - originX) * scale; }
    float pixelY(float designY) const { return (designY - originY) * scale; }
};

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
std::vector<uint8_t> farLayer(const SceneGeometry& geometry);
// The table and the objects on it.
std::vector<uint8_t> middleLayer(const SceneGeometry& geometry);
// What stands closest to the lens.
std::vector<uint8_t> nearLayer(const SceneGeometry& geometry);

// Two box passes of half-width `r` each way over premultiplied RGBA of width × height,
// clamped at the edges.
std::vector<uint8_t> boxBlur(const std::vector<uint8_t>& source, int r, int width, int height);

} // namespace virtual_scene
