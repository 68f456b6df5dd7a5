#include "capture/VirtualScene.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>
#include <random>

#include "capture/SensorModel.h"

namespace {
constexpr int W = VirtualScene::width;
constexpr int H = VirtualScene::height;
constexpr size_t pixelCount = size_t(W) * H;

// Box half-widths of the pre-blurred rungs; each rung is two box passes each way, close
// enough to a defocus disc at this size.
constexpr std::array<int, 7> blurWidths{0, 1, 2, 3, 5, 7, 10};
constexpr int rungs = int(blurWidths.size());
// Box half-width per unit of distance between lens position and a layer's sharp position.
constexpr float blurPerDefocus = 14.0f;

constexpr int encodeSteps = 4096;
constexpr uint32_t noiseMask = (1u << 16) - 1;

struct Rgb {
    float r, g, b;
};
Rgb operator*(Rgb c, float k) {
    return {c.r * k, c.g * k, c.b * k};
}
Rgb operator+(Rgb a, Rgb b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
Rgb mix(Rgb a, Rgb b, float t) {
    return a * (1 - t) + b * t;
}

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

// A layer being painted: premultiplied RGBA floats in sRGB-encoded units (0 to 1).
struct Canvas {
    std::vector<float> rgba = std::vector<float>(pixelCount * 4, 0.0f);
    void over(int x, int y, Rgb c, float alpha) {
        if (alpha <= 0)
            return;
        float* p = &rgba[(size_t(y) * W + size_t(x)) * 4];
        p[0] = c.r * alpha + p[0] * (1 - alpha);
        p[1] = c.g * alpha + p[1] * (1 - alpha);
        p[2] = c.b * alpha + p[2] * (1 - alpha);
        p[3] = alpha + p[3] * (1 - alpha);
    }
    // Paints a shape over the layer; `shade` gives its colour at a point.
    void paint(const std::function<float(float, float)>& distance,
               const std::function<Rgb(float, float)>& shade, int x0 = 0, int y0 = 0, int x1 = W,
               int y1 = H) {
        for (int y = std::max(0, y0); y < std::min(H, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(W, x1); ++x) {
                float px = float(x) + 0.5f, py = float(y) + 0.5f;
                float a = coverage(distance(px, py));
                if (a > 0)
                    over(x, y, shade(px, py), a);
            }
    }
    std::vector<uint8_t> quantized() const {
        std::vector<uint8_t> out(pixelCount * 4);
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
    int row = int(y) / brickH;
    int shifted = int(x) + (row % 2) * (brickW / 2);
    int column = shifted / brickW;
    bool inMortar = shifted % brickW < mortar || int(y) % brickH < mortar;
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

Canvas paintFarLayer() {
    Canvas canvas;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            float px = float(x) + 0.5f, py = float(y) + 0.5f;
            Rgb c;
            if (y < skirtingTop) {
                c = wallAt(px, py);
            } else if (y < floorTop) {
                c = y >= floorTop - 2 ? Rgb{0.35f, 0.33f, 0.30f} : Rgb{0.90f, 0.88f, 0.83f};
            } else {
                // The checks shrink toward the horizon: four samples per pixel keep them clean.
                c = (floorSample(px - 0.25f, py - 0.25f) + floorSample(px + 0.25f, py - 0.25f) +
                     floorSample(px - 0.25f, py + 0.25f) + floorSample(px + 0.25f, py + 0.25f)) *
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

Canvas paintMiddleLayer() {
    Canvas canvas;
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

Canvas paintNearLayer() {
    Canvas canvas;
    // An orange block with darker diagonal stripes at the bottom left.
    canvas.paint([](float x, float y) { return roundedBox(x, y, 60, 455, 110, 60, 18); },
                 [](float x, float y) {
                     bool stripe = int(std::floor((x + y) / 14)) % 2 == 0;
                     return stripe ? Rgb{0.95f, 0.55f, 0.12f} : Rgb{0.78f, 0.38f, 0.06f};
                 },
                 0, 393, 172, H);
    // A cyan ring at the top right.
    canvas.paint(
        [](float x, float y) { return std::max(circle(x, y, 600, 55, 62), -circle(x, y, 600, 55, 40)); },
        [](float, float) {
            return Rgb{0.15f, 0.75f, 0.80f};
        },
        536, 0, W, 119);
    // A magenta pencil lying across the bottom right corner.
    canvas.paint([](float x, float y) { return capsule(x, y, 470, 478, 650, 392, 10); },
                 [](float x, float y) {
                     float along = (x - 470) * 0.9f - (y - 478) * 0.43f;
                     return along < 24 ? Rgb{0.96f, 0.86f, 0.66f} : Rgb{0.80f, 0.20f, 0.60f};
                 },
                 458, 380, W, H);
    return canvas;
}

// Two box passes of half-width `r` each way over premultiplied RGBA, clamped at the edges.
std::vector<uint8_t> boxBlur(const std::vector<uint8_t>& source, int r) {
    if (r == 0)
        return source;
    std::vector<uint8_t> a = source, b(source.size());
    const int window = 2 * r + 1;
    auto horizontal = [&](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
        for (int y = 0; y < H; ++y) {
            const uint8_t* row = &in[size_t(y) * W * 4];
            uint8_t* dst = &out[size_t(y) * W * 4];
            for (int c = 0; c < 4; ++c) {
                int sum = 0;
                for (int k = -r; k <= r; ++k)
                    sum += row[std::clamp(k, 0, W - 1) * 4 + c];
                for (int x = 0; x < W; ++x) {
                    dst[x * 4 + c] = uint8_t((sum + window / 2) / window);
                    sum += row[std::min(x + r + 1, W - 1) * 4 + c] - row[std::max(x - r, 0) * 4 + c];
                }
            }
        }
    };
    auto vertical = [&](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
        std::vector<int> sums(size_t(W) * 4, 0);
        auto row = [&](int y) { return &in[size_t(std::clamp(y, 0, H - 1)) * W * 4]; };
        for (int k = -r; k <= r; ++k)
            for (int i = 0; i < W * 4; ++i)
                sums[i] += row(k)[i];
        for (int y = 0; y < H; ++y) {
            uint8_t* dst = &out[size_t(y) * W * 4];
            const uint8_t* entering = row(y + r + 1);
            const uint8_t* leaving = row(y - r);
            for (int i = 0; i < W * 4; ++i) {
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

struct EncodeTables {
    std::array<float, 256> decode{};
    std::array<uint8_t, encodeSteps + 1> encode{};
    std::vector<float> noise = std::vector<float>(noiseMask + 1);
    EncodeTables() {
        for (int i = 0; i < 256; ++i)
            decode[i] = sensor::decodeSRGB(uint8_t(i));
        for (int i = 0; i <= encodeSteps; ++i)
            encode[i] = sensor::encodeSRGB(float(i) / encodeSteps);
        std::mt19937 random(20240611);
        std::normal_distribution<float> normal(0.0f, 1.0f);
        for (float& n : noise)
            n = std::clamp(normal(random), -4.0f, 4.0f);
    }
};
const EncodeTables& tables() {
    static const EncodeTables t;
    return t;
}

float luminance(const float* rgb) {
    return 0.2126f * rgb[0] + 0.7152f * rgb[1] + 0.0722f * rgb[2];
}

struct Lamp {
    float cx, cy, ax, ay, wx, wy, phase, radius;
    Rgb colour;
    std::array<float, 2> at(double t) const {
        return {cx + ax * float(std::sin(wx * t + phase)), cy + ay * float(std::sin(wy * t + 2 * phase))};
    }
};
// Three lamps wandering over the wall, out of step with each other; bright enough to
// clip at any ordinary exposure.
const std::array<Lamp, 3> lamps{{
    {200, 110, 90, 30, 0.70f, 1.30f, 0.0f, 6.0f, Rgb{5.0f, 4.8f, 4.4f}},
    {450, 170, 110, 35, 0.50f, 0.90f, 2.0f, 5.0f, Rgb{4.4f, 4.4f, 4.6f}},
    {330, 60, 150, 18, 0.35f, 1.10f, 0.5f, 7.0f, Rgb{5.5f, 5.2f, 4.6f}},
}};

} // namespace

// ---- Layers -------------------------------------------------------------------------

struct VirtualScene::Layers {
    // One depth layer: premultiplied RGBA, sharp, and blurred at each rung on first use
    // (a camera whose lens never goes far from a layer's depth never pays for its widest
    // blurs). Thread-safe: devices on several threads share one copy.
    struct Layer {
        float sharpAt = 0;
        std::vector<uint8_t> sharp;
        mutable std::array<std::once_flag, rungs> made;
        mutable std::array<std::vector<uint8_t>, rungs> blurred;
        const uint8_t* rung(int i) const {
            if (i == 0)
                return sharp.data();
            std::call_once(made[i], [&] { blurred[i] = boxBlur(sharp, blurWidths[i]); });
            return blurred[i].data();
        }
    };
    std::array<Layer, 3> layers; // far, middle, near

    static std::shared_ptr<const Layers> shared() {
        // Immutable once made (but for the rungs made on demand), so every virtual camera
        // of the process shares one copy.
        static const std::shared_ptr<const Layers> instance = make();
        return instance;
    }

    // The rung pair and weight for a layer at a lens position.
    static LevelMix mixFor(float lensPosition, float sharpAt) {
        float width = std::min(blurPerDefocus * std::fabs(lensPosition - sharpAt), float(blurWidths.back()));
        int lower = 0;
        while (lower + 1 < rungs && float(blurWidths[lower + 1]) <= width)
            ++lower;
        if (lower + 1 == rungs)
            return {lower, lower, 0};
        float t = (width - float(blurWidths[lower])) / float(blurWidths[lower + 1] - blurWidths[lower]);
        int weight = int(std::lround(t * 16));
        if (weight == 16)
            return {lower + 1, lower + 1, 0};
        return {lower, lower + 1, weight};
    }

  private:
    static std::shared_ptr<const Layers> make() {
        auto made = std::make_shared<Layers>();
        made->layers[0].sharp = paintFarLayer().quantized();
        made->layers[1].sharp = paintMiddleLayer().quantized();
        made->layers[2].sharp = paintNearLayer().quantized();
        made->layers[0].sharpAt = farSharpAt;
        made->layers[1].sharpAt = middleSharpAt;
        made->layers[2].sharpAt = nearSharpAt;
        return made;
    }
};

namespace {
// A layer's two rungs for a mix, fetched once per frame.
struct MixedLayer {
    const uint8_t* lower;
    const uint8_t* upper;
    int weight;
    MixedLayer(const VirtualScene::Layers& layers, int layer, const VirtualScene::LevelMix& m)
        : lower(layers.layers[size_t(layer)].rung(m.lower)),
          upper(layers.layers[size_t(layer)].rung(m.upper)), weight(m.weight) {}
    int alphaAt(size_t pixel) const {
        int a = lower[pixel * 4 + 3];
        return weight == 0 ? a : a + (((upper[pixel * 4 + 3] - a) * weight) >> 4);
    }
};
} // namespace

VirtualScene::VirtualScene()
    : layers_(Layers::shared()), composite_(pixelCount * 3), lit_(pixelCount * 3), meanRadiance_(0.18) {
    tables();
    // The meter needs a reading before the first frame: the scene in middle focus.
    std::array<LevelMix, 3> mix;
    for (int l = 0; l < 3; ++l)
        mix[l] = Layers::mixFor(middleSharpAt, layers_->layers[l].sharpAt);
    compose(mix);
    lit_ = composite_;
    meter(1.0);
}

VirtualScene::~VirtualScene() = default;

CVPixelBufferRef VirtualScene::render(const SensorSettings& settings) {
    return CVPixelBuffer::make(
        W, H, [&](uint8_t* rgba, size_t bytesPerRow) { renderInto(settings, rgba, bytesPerRow); });
}

void VirtualScene::renderInto(const SensorSettings& settings, uint8_t* rgba, size_t bytesPerRow) {
    std::array<LevelMix, 3> mix;
    for (int l = 0; l < 3; ++l)
        mix[l] = Layers::mixFor(settings.lensPosition, layers_->layers[l].sharpAt);
    if (!composed_ || mix != composedMix_) {
        compose(mix);
        lit_ = composite_;
        lightPatches_.clear();
        composedMix_ = mix;
        composed_ = true;
    }
    drawLights(settings, mix);
    meter(settings.zoomFactor);
    encode(settings, rgba, bytesPerRow);
}

namespace {
// One row of a layer between two rungs: a + (b - a) * weight / 16, rounding down.
const uint8_t* mixedRow(const uint8_t* a, const uint8_t* b, int weight, uint8_t* scratch) {
    if (weight == 0)
        return a;
    for (int i = 0; i < W * 4; ++i)
        scratch[i] = uint8_t(a[i] + (((int(b[i]) - int(a[i])) * weight) >> 4));
    return scratch;
}
// x / 255 rounded, exact for 0 <= x <= 65535, without a division.
inline int divide255(int x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}
} // namespace

void VirtualScene::compose(const std::array<LevelMix, 3>& mix) {
    const auto& decode = tables().decode;
    const std::array<MixedLayer, 3> L{MixedLayer(*layers_, 0, mix[0]), MixedLayer(*layers_, 1, mix[1]),
                                      MixedLayer(*layers_, 2, mix[2])};
    std::array<std::array<uint8_t, W * 4>, 3> scratch;
    std::array<uint8_t, W * 3> composed;
    for (int y = 0; y < H; ++y) {
        const size_t rowStart = size_t(y) * W * 4;
        std::array<const uint8_t*, 3> row;
        for (int l = 0; l < 3; ++l)
            row[l] = mixedRow(L[l].lower + rowStart, L[l].upper + rowStart, L[l].weight, scratch[l].data());
        const uint8_t *far = row[0], *middle = row[1], *near = row[2];
        // Premultiplied "over": near over middle over far.
        for (int x = 0; x < W; ++x) {
            const int clearMiddle = 255 - middle[x * 4 + 3], clearNear = 255 - near[x * 4 + 3];
            for (int c = 0; c < 3; ++c) {
                const int behind = middle[x * 4 + c] + divide255(clearMiddle * far[x * 4 + c]);
                composed[x * 3 + c] = uint8_t(std::min(255, near[x * 4 + c] + divide255(clearNear * behind)));
            }
        }
        float* out = &composite_[size_t(y) * W * 3];
        for (int i = 0; i < W * 3; ++i)
            out[i] = decode[composed[i]];
    }
}

void VirtualScene::drawLights(const SensorSettings& settings, const std::array<LevelMix, 3>& mix) {
    // Put back what the last frame's lamps covered, then draw this frame's.
    for (const LightPatch& patch : lightPatches_)
        for (int y = patch.y0; y < patch.y1; ++y) {
            size_t from = (size_t(y) * W + size_t(patch.x0)) * 3, to = (size_t(y) * W + size_t(patch.x1)) * 3;
            std::copy(composite_.begin() + long(from), composite_.begin() + long(to),
                      lit_.begin() + long(from));
        }
    lightPatches_.clear();

    // The lamps hang on the wall: as blurred as the far layer, hidden behind nearer things.
    const float blur = float(blurWidths[mix[0].lower]) +
                       float(blurWidths[mix[0].upper] - blurWidths[mix[0].lower]) * float(mix[0].weight) / 16;
    const float edge = 1.0f + 1.2f * blur;
    const MixedLayer middle(*layers_, 1, mix[1]), near(*layers_, 2, mix[2]);
    for (const Lamp& lamp : lamps) {
        auto [cx, cy] = lamp.at(settings.seconds);
        const float reach = lamp.radius + edge;
        LightPatch patch{std::max(0, int(cx - reach)), std::max(0, int(cy - reach)),
                         std::min(W, int(cx + reach) + 2), std::min(H, int(cy + reach) + 2)};
        if (patch.x0 >= patch.x1 || patch.y0 >= patch.y1)
            continue;
        lightPatches_.push_back(patch);
        // A defocused lamp spreads the same light over a larger disc.
        const float spread = lamp.radius / (lamp.radius + edge / 2);
        const Rgb light = lamp.colour * (spread * spread);
        for (int y = patch.y0; y < patch.y1; ++y)
            for (int x = patch.x0; x < patch.x1; ++x) {
                float d = std::hypot(float(x) + 0.5f - cx, float(y) + 0.5f - cy);
                float cover = std::clamp((lamp.radius + edge / 2 - d) / edge, 0.0f, 1.0f);
                if (cover <= 0)
                    continue;
                size_t p = size_t(y) * W + size_t(x);
                float visible = (1 - float(middle.alphaAt(p)) / 255) * (1 - float(near.alphaAt(p)) / 255);
                float k = cover * visible;
                lit_[p * 3] += light.r * k;
                lit_[p * 3 + 1] += light.g * k;
                lit_[p * 3 + 2] += light.b * k;
            }
    }
}

void VirtualScene::meter(double zoomFactor) {
    // What the zoomed view shows, sampled on a sparse grid: plenty for a mean.
    const double z = std::clamp(zoomFactor, 1.0, 16.0);
    const int x0 = int(W / 2 - W / (2 * z)), x1 = int(W / 2 + W / (2 * z));
    const int y0 = int(H / 2 - H / (2 * z)), y1 = int(H / 2 + H / (2 * z));
    const int step = std::max(1, int(4 / z));
    double sum = 0;
    size_t count = 0;
    for (int y = y0; y < y1; y += step)
        for (int x = x0; x < x1; x += step) {
            sum += luminance(&lit_[(size_t(y) * W + size_t(x)) * 3]);
            ++count;
        }
    meanRadiance_.store(count ? sum / double(count) : 0.0, std::memory_order_relaxed);
}

void VirtualScene::encode(const SensorSettings& settings, uint8_t* rgba, size_t bytesPerRow) {
    const EncodeTables& t = tables();
    const float gain = float(sensor::gain(settings.exposureSeconds, settings.iso));
    const float noiseGain = sensor::noiseGain(settings.iso);
    const float floor = noiseGain * sensor::noiseFloor, slope = noiseGain * sensor::noiseSlope;
    const float* noise = t.noise.data();
    const uint8_t* encodeTable = t.encode.data();
    const double z = std::clamp(settings.zoomFactor, 1.0, 16.0);

    auto shade = [&](float radiance, uint32_t noiseIndex) {
        float s = radiance * gain;
        float v = s + noise[noiseIndex & noiseMask] * (floor + slope * std::min(s, 1.0f));
        int index = int(v * float(encodeSteps) + 0.5f);
        return encodeTable[std::clamp(index, 0, encodeSteps)];
    };

    // Zoom samples the centre of the view between pixels; the column weights are the same
    // for every row.
    std::vector<int> column(W);
    std::vector<float> columnWeight(W);
    if (z > 1.0) {
        for (int x = 0; x < W; ++x) {
            double sx = W / 2.0 + (x + 0.5 - W / 2.0) / z - 0.5;
            int x0 = std::clamp(int(std::floor(sx)), 0, W - 2);
            column[x] = x0;
            columnWeight[x] = float(std::clamp(sx - x0, 0.0, 1.0));
        }
    }
    for (int y = 0; y < H; ++y) {
        uint8_t* out = rgba + size_t(y) * bytesPerRow;
        // Each frame and row reads the noise table from somewhere else.
        const uint32_t offset = uint32_t(settings.sequence * 0x9e3779b1u + uint64_t(y) * 0x85ebca77u) >> 7;
        if (z <= 1.0) {
            const float* in = &lit_[size_t(y) * W * 3];
            for (int x = 0; x < W; ++x) {
                for (int c = 0; c < 3; ++c)
                    out[x * 4 + c] = shade(in[x * 3 + c], offset + uint32_t(x * 3 + c));
                out[x * 4 + 3] = 255;
            }
            continue;
        }
        double sy = H / 2.0 + (y + 0.5 - H / 2.0) / z - 0.5;
        int y0 = std::clamp(int(std::floor(sy)), 0, H - 2);
        float fy = float(std::clamp(sy - y0, 0.0, 1.0));
        const float* top = &lit_[size_t(y0) * W * 3];
        const float* bottom = top + W * 3;
        for (int x = 0; x < W; ++x) {
            const int i = column[x] * 3;
            const float fx = columnWeight[x];
            for (int c = 0; c < 3; ++c) {
                float upper = top[i + c] + (top[i + 3 + c] - top[i + c]) * fx;
                float lower = bottom[i + c] + (bottom[i + 3 + c] - bottom[i + c]) * fx;
                out[x * 4 + c] = shade(upper + (lower - upper) * fy, offset + uint32_t(x * 3 + c));
            }
            out[x * 4 + 3] = 255;
        }
    }
}

double VirtualScene::meteredBrightness(const SensorSettings& settings) const {
    return meanRadiance_.load(std::memory_order_relaxed) *
           sensor::gain(settings.exposureSeconds, settings.iso);
}

float VirtualScene::sharpLensPosition(const SensorSettings& settings) const {
    // Contrast focus looks at a window in the middle of the view: the nearest layer that
    // fills a good part of it is what the camera focuses on.
    const double z = std::clamp(settings.zoomFactor, 1.0, 16.0);
    const double halfW = 80 / z, halfH = 60 / z;
    const std::array<const uint8_t*, 3> sharp{nullptr, layers_->layers[1].rung(0),
                                              layers_->layers[2].rung(0)};
    std::array<int, 3> covered{};
    int samples = 0;
    for (int j = 0; j < 12; ++j)
        for (int i = 0; i < 16; ++i) {
            int x = int(W / 2 - halfW + (i + 0.5) * 2 * halfW / 16);
            int y = int(H / 2 - halfH + (j + 0.5) * 2 * halfH / 12);
            size_t p = size_t(y) * W + size_t(x);
            for (int l = 1; l < 3; ++l)
                covered[l] += sharp[l][p * 4 + 3] > 127 ? 1 : 0;
            ++samples;
        }
    if (covered[2] * 4 >= samples)
        return nearSharpAt;
    if (covered[1] * 4 >= samples)
        return middleSharpAt;
    return farSharpAt;
}
