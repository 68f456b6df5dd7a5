#include "capture/virtual/VirtualSceneArtwork.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace virtual_scene {
namespace {

// ---- Procedural texture --------------------------------------------------------------

float hash(int x, int y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 0x8da6b343u ^ uint32_t(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return float(h & 0xffffff) / float(0x1000000);
}

float valueNoise(float x, float y, uint32_t seed) {
    int ix = int(std::floor(x)), iy = int(std::floor(y));
    float fx = x - float(ix), fy = y - float(iy);
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    float top = hash(ix, iy, seed) * (1 - fx) + hash(ix + 1, iy, seed) * fx;
    float bottom = hash(ix, iy + 1, seed) * (1 - fx) + hash(ix + 1, iy + 1, seed) * fx;
    return top * (1 - fy) + bottom * fy;
}

// ---- Shapes, as signed distances (negative inside) ------------------------------------

float circle(float x, float y, float cx, float cy, float r) {
    return std::hypot(x - cx, y - cy) - r;
}

float roundedBox(float x, float y, float cx, float cy, float hw, float hh, float radius) {
    float qx = std::fabs(x - cx) - (hw - radius), qy = std::fabs(y - cy) - (hh - radius);
    float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
    return outside + std::min(std::max(qx, qy), 0.0f) - radius;
}

// A convex polygon given clockwise in screen coordinates (y down).
float convexPolygon(float x, float y, const std::vector<std::array<float, 2>>& points) {
    float d = -1e9f;
    for (size_t i = 0; i < points.size(); ++i) {
        auto [ax, ay] = points[i];
        auto [bx, by] = points[(i + 1) % points.size()];
        float ex = bx - ax, ey = by - ay, len = std::hypot(ex, ey);
        d = std::max(d, ((x - ax) * ey - (y - ay) * ex) / len);
    }
    return d;
}

float capsule(float x, float y, float ax, float ay, float bx, float by, float r) {
    float px = x - ax, py = y - ay, ex = bx - ax, ey = by - ay;
    float t = std::clamp((px * ex + py * ey) / (ex * ex + ey * ey), 0.0f, 1.0f);
    return std::hypot(px - ex * t, py - ey * t) - r;
}

float coverage(float distance) {
    return std::clamp(0.5f - distance, 0.0f, 1.0f);
}

// Far enough to reach every edge of any picture, in design units.
constexpr int beyond = 100000;

// A layer being painted: premultiplied RGBA floats in sRGB-encoded units (0 to 1).
// Shapes and colours are given in design units; edges are smoothed over one picture pixel.
struct Canvas {
    explicit Canvas(const SceneGeometry& g) : geometry(g), rgba(g.pixelCount() * 4, 0.0f) {}
    SceneGeometry geometry;
    std::vector<float> rgba;
    void over(int x, int y, Rgb c, float alpha) {
        if (alpha <= 0)
            return;
        float* p = &rgba[(size_t(y) * size_t(geometry.width) + size_t(x)) * 4];
        p[0] = c.r * alpha + p[0] * (1 - alpha);
        p[1] = c.g * alpha + p[1] * (1 - alpha);
        p[2] = c.b * alpha + p[2] * (1 - alpha);
        p[3] = alpha + p[3] * (1 - alpha);
    }
    // Paints a shape, which lies inside the design box (x0, y0)–(x1, y1), over the layer;
    // `shade` gives its colour at a point.
    void paint(const std::function<float(float, float)>& distance,
               const std::function<Rgb(float, float)>& shade, float x0, float y0, float x1, float y1) {
        const SceneGeometry& g = geometry;
        const int top = std::max(0, int(std::floor(g.pixelY(y0)))),
                  bottom = int(std::min(float(g.height), std::ceil(g.pixelY(y1))));
        const int left = std::max(0, int(std::floor(g.pixelX(x0)))),
                  right = int(std::min(float(g.width), std::ceil(g.pixelX(x1))));
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) {
                float px = g.designX(float(x)), py = g.designY(float(y));
                float a = coverage(distance(px, py) * g.scale);
                if (a > 0)
                    over(x, y, shade(px, py), a);
            }
    }
    std::vector<uint8_t> quantized() const {
        std::vector<uint8_t> out(rgba.size());
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = uint8_t(std::lround(std::clamp(rgba[i], 0.0f, 1.0f) * 255));
        return out;
    }
};

// ---- The room -------------------------------------------------------------------------

constexpr int skirtingTop = 262;
constexpr int floorTop = 272;
constexpr float horizon = 190;

Rgb wallAt(float x, float y) {
    constexpr int brickW = 56, brickH = 24, mortar = 3;
    // Rounded down, so the rows and columns carry on the same way left of and above the
    // design view.
    auto down = [](float v, int n) { return int(std::floor(v / float(n))); };
    auto within = [](int v, int n) { return ((v % n) + n) % n; };
    int row = down(y, brickH);
    int shifted = int(std::floor(x)) + within(row, 2) * (brickW / 2);
    int column = down(float(shifted), brickW);
    bool inMortar = within(shifted, brickW) < mortar || within(int(std::floor(y)), brickH) < mortar;
    float grain =
        (valueNoise(x / 3, y / 3, 7) - 0.5f) * 0.12f + (valueNoise(x / 11, y / 11, 8) - 0.5f) * 0.08f;
    Rgb c = inMortar ? Rgb{0.78f, 0.76f, 0.72f} * (1 + grain * 0.5f)
                     : Rgb{0.62f, 0.30f, 0.22f} * (0.82f + 0.32f * hash(column, row, 3)) * (1 + grain);
    // The lamps light the middle of the wall more than its corners.
    float light =
        0.7f + 0.4f * std::exp(-(std::pow(x - 320, 2.0f) + std::pow(y - 60, 2.0f)) / (2 * 240.0f * 240.0f));
    return c * light;
}

Rgb floorSample(float x, float y) {
    float dz = y - horizon;
    float z = 4000.0f / dz, wx = (x - 320) * z / 400.0f;
    constexpr float tile = 5.0f;
    bool dark = (int(std::floor(wx / tile)) + int(std::floor(z / tile))) % 2 != 0;
    float grain = std::sin(z * 9.0f + 3.0f * valueNoise(wx * 0.5f, z * 3.0f, 11)) * 0.06f +
                  (valueNoise(wx * 4.0f, z * 0.8f, 12) - 0.5f) * 0.1f;
    Rgb c = dark ? Rgb{0.45f, 0.29f, 0.16f} : Rgb{0.72f, 0.52f, 0.32f};
    return c * (1 + grain) * (0.6f + 0.4f * std::min(1.0f, dz / 220.0f));
}

Canvas paintFarLayer(const SceneGeometry& geometry) {
    Canvas canvas(geometry);
    const float q = 0.25f / geometry.scale; // a quarter of a picture pixel
    for (int y = 0; y < geometry.height; ++y)
        for (int x = 0; x < geometry.width; ++x) {
            float px = geometry.designX(float(x)), py = geometry.designY(float(y));
            Rgb c;
            if (py < skirtingTop) {
                c = wallAt(px, py);
            } else if (py < floorTop) {
                c = py >= floorTop - 2 ? Rgb{0.35f, 0.33f, 0.30f} : Rgb{0.90f, 0.88f, 0.83f};
            } else {
                // The checks shrink toward the horizon: four samples per pixel keep them clean.
                c = (floorSample(px - q, py - q) + floorSample(px + q, py - q) + floorSample(px - q, py + q) +
                     floorSample(px + q, py + q)) *
                    0.25f;
            }
            canvas.over(x, y, c, 1.0f);
        }
    // A framed picture on the wall: a mountain under a sky with a sun.
    canvas.paint([](float x, float y) { return roundedBox(x, y, 466, 88, 74, 52, 2); },
                 [](float, float) {
                     return Rgb{0.25f, 0.16f, 0.09f};
                 },
                 390, 34, 542, 142);
    canvas.paint([](float x, float y) { return roundedBox(x, y, 466, 88, 66, 44, 0); },
                 [](float, float y) {
                     return mix(Rgb{0.40f, 0.60f, 0.88f}, Rgb{0.82f, 0.90f, 1.0f}, (y - 44) / 88);
                 },
                 398, 42, 534, 134);
    canvas.paint([](float x, float y) { return circle(x, y, 500, 66, 11); },
                 [](float, float) {
                     return Rgb{1.0f, 0.85f, 0.30f};
                 },
                 487, 53, 513, 79);
    canvas.paint(
        [](float x, float y) {
            return convexPolygon(x, y, {{{412, 132}, {462, 72}, {520, 132}}});
        },
        [](float, float y) {
            return mix(Rgb{0.95f, 0.95f, 0.97f}, Rgb{0.30f, 0.40f, 0.32f}, (y - 72) / 40);
        },
        410, 70, 522, 134);
    return canvas;
}

Canvas paintMiddleLayer(const SceneGeometry& geometry) {
    Canvas canvas(geometry);
    // A blue box in the middle of the view, with a yellow band and a barcode label.
    canvas.paint([](float x, float y) { return roundedBox(x, y, 320, 262, 72, 64, 6); },
                 [](float, float y) {
                     return Rgb{0.16f, 0.32f, 0.72f} * (1.1f - (y - 198) / 128 * 0.35f);
                 },
                 246, 196, 394, 328);
    canvas.paint([](float x, float y) { return roundedBox(x, y, 320, 290, 72, 9, 0); },
                 [](float, float) {
                     return Rgb{0.95f, 0.80f, 0.15f};
                 },
                 248, 281, 393, 300);
    canvas.paint([](float x, float y) { return roundedBox(x, y, 320, 236, 34, 16, 2); },
                 [](float x, float y) {
                     bool bar = y < 246 && hash(int(x) / 3, 0, 21) > 0.45f && x > 292 && x < 348;
                     return bar ? Rgb{0.06f, 0.06f, 0.06f} : Rgb{0.95f, 0.95f, 0.93f};
                 },
                 284, 218, 356, 254);
    // A shaded red ball.
    canvas.paint(
        [](float x, float y) { return circle(x, y, 140, 340, 48); },
        [](float x, float y) {
            float nx = (x - 140) / 48, ny = (y - 340) / 48;
            float nz = std::sqrt(std::max(0.0f, 1 - nx * nx - ny * ny));
            float diffuse = std::max(0.0f, -0.45f * nx - 0.55f * ny + 0.70f * nz);
            float spot = std::pow(std::max(0.0f, -0.3f * nx - 0.4f * ny + 0.87f * nz), 40.0f);
            return Rgb{0.82f, 0.12f, 0.10f} * (0.35f + 0.65f * diffuse) + Rgb{1, 1, 1} * (0.6f * spot);
        },
        90, 290, 190, 390);
    // A green pyramid with a darker rim.
    const std::vector<std::array<float, 2>> pyramid{{{470, 372}, {522, 280}, {575, 372}}};
    canvas.paint(
        [&](float x, float y) { return convexPolygon(x, y, pyramid); },
        [&](float x, float y) {
            return convexPolygon(x, y, pyramid) > -4 ? Rgb{0.08f, 0.35f, 0.12f} : Rgb{0.20f, 0.65f, 0.25f};
        },
        466, 276, 579, 375);
    return canvas;
}

Canvas paintNearLayer(const SceneGeometry& geometry) {
    Canvas canvas(geometry);
    // An orange block with darker diagonal stripes at the bottom left.
    canvas.paint([](float x, float y) { return roundedBox(x, y, 60, 455, 110, 60, 18); },
                 [](float x, float y) {
                     bool stripe = int(std::floor((x + y) / 14)) % 2 == 0;
                     return stripe ? Rgb{0.95f, 0.55f, 0.12f} : Rgb{0.78f, 0.38f, 0.06f};
                 },
                 -beyond, 393, 172, beyond);
    // A cyan ring at the top right.
    canvas.paint(
        [](float x, float y) { return std::max(circle(x, y, 600, 55, 62), -circle(x, y, 600, 55, 40)); },
        [](float, float) {
            return Rgb{0.15f, 0.75f, 0.80f};
        },
        536, -beyond, beyond, 119);
    // A magenta pencil lying across the bottom right corner.
    canvas.paint([](float x, float y) { return capsule(x, y, 470, 478, 650, 392, 10); },
                 [](float x, float y) {
                     float along = (x - 470) * 0.9f - (y - 478) * 0.43f;
                     return along < 24 ? Rgb{0.96f, 0.86f, 0.66f} : Rgb{0.80f, 0.20f, 0.60f};
                 },
                 458, 380, beyond, beyond);
    return canvas;
}

} // namespace

std::vector<uint8_t> boxBlur(const std::vector<uint8_t>& source, int r, int width, int height) {
    if (r == 0)
        return source;
    std::vector<uint8_t> a = source, b(source.size());
    const int window = 2 * r + 1;
    auto horizontal = [&](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = &in[size_t(y) * width * 4];
            uint8_t* dst = &out[size_t(y) * width * 4];
            for (int c = 0; c < 4; ++c) {
                int sum = 0;
                for (int k = -r; k <= r; ++k)
                    sum += row[std::clamp(k, 0, width - 1) * 4 + c];
                for (int x = 0; x < width; ++x) {
                    dst[x * 4 + c] = uint8_t((sum + window / 2) / window);
                    sum += row[std::min(x + r + 1, width - 1) * 4 + c] - row[std::max(x - r, 0) * 4 + c];
                }
            }
        }
    };
    auto vertical = [&](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
        std::vector<int> sums(size_t(width) * 4, 0);
        auto row = [&](int y) { return &in[size_t(std::clamp(y, 0, height - 1)) * width * 4]; };
        for (int k = -r; k <= r; ++k)
            for (int i = 0; i < width * 4; ++i)
                sums[i] += row(k)[i];
        for (int y = 0; y < height; ++y) {
            uint8_t* dst = &out[size_t(y) * width * 4];
            const uint8_t* entering = row(y + r + 1);
            const uint8_t* leaving = row(y - r);
            for (int i = 0; i < width * 4; ++i) {
                dst[i] = uint8_t((sums[i] + window / 2) / window);
                sums[i] += entering[i] - leaving[i];
            }
        }
    };
    for (int pass = 0; pass < 2; ++pass) {
        horizontal(a, b);
        vertical(b, a);
    }
    return a;
}

std::vector<uint8_t> farLayer(const SceneGeometry& geometry) {
    return paintFarLayer(geometry).quantized();
}
std::vector<uint8_t> middleLayer(const SceneGeometry& geometry) {
    return paintMiddleLayer(geometry).quantized();
}
std::vector<uint8_t> nearLayer(const SceneGeometry& geometry) {
    return paintNearLayer(geometry).quantized();
}

SceneGeometry SceneGeometry::forSize(int width, int height) {
    SceneGeometry g;
    g.width = width;
    g.height = height;
    if (width == W && height == H)
        return g;
    g.scale = std::min(float(width) / W, float(height) / H);
    g.originX = W / 2.0f - float(width) / (2 * g.scale);
    g.originY = H / 2.0f - float(height) / (2 * g.scale);
    return g;
}

} // namespace virtual_scene
