#include <algorithm>
#include <cmath>

#include "capture/virtual/VirtualSceneLayers.h"

// The scene's light: three lamps that wander over the wall, and the exposure meter that
// reads what the view shows.
using namespace virtual_scene;

namespace {
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

void VirtualScene::drawLights(const SensorSettings& settings, const std::array<LevelMix, 3>& mix) {
    const int W = size_.width, H = size_.height;
    const SceneGeometry& geometry = layers_->geometry;
    // Put back what the last frame's lamps covered, then draw this frame's.
    for (const LightPatch& patch : lightPatches_)
        for (int y = patch.y0; y < patch.y1; ++y) {
            size_t from = (size_t(y) * W + size_t(patch.x0)) * 3, to = (size_t(y) * W + size_t(patch.x1)) * 3;
            unlight(from, to);
        }
    lightPatches_.clear();

    // The lamps hang on the wall: as blurred as the far layer, hidden behind nearer things.
    const float blur = float(layers_->rungRadius(mix[0].lower)) +
                       float(layers_->rungRadius(mix[0].upper) - layers_->rungRadius(mix[0].lower)) *
                           float(mix[0].weight) / 16;
    const float edge = 1.0f + 1.2f * blur;
    const MixedLayer &middle = mixed_[1], &near = mixed_[2];
    for (const Lamp& lamp : lamps) {
        auto [designX, designY] = lamp.at(settings.seconds);
        const float cx = geometry.pixelX(designX), cy = geometry.pixelY(designY);
        const float radius = lamp.radius * geometry.scale;
        const float reach = radius + edge;
        LightPatch patch{std::max(0, int(cx - reach)), std::max(0, int(cy - reach)),
                         std::min(W, int(cx + reach) + 2), std::min(H, int(cy + reach) + 2)};
        if (patch.x0 >= patch.x1 || patch.y0 >= patch.y1)
            continue;
        lightPatches_.push_back(patch);
        // A defocused lamp spreads the same light over a larger disc.
        const float spread = radius / (radius + edge / 2);
        const Rgb light = lamp.colour * (spread * spread);
        for (int y = patch.y0; y < patch.y1; ++y)
            for (int x = patch.x0; x < patch.x1; ++x) {
                float d = std::hypot(float(x) + 0.5f - cx, float(y) + 0.5f - cy);
                float cover = std::clamp((radius + edge / 2 - d) / edge, 0.0f, 1.0f);
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
    const int W = size_.width, H = size_.height;
    const int x0 = int(W / 2 - W / (2 * z)), x1 = int(W / 2 + W / (2 * z));
    const int y0 = int(H / 2 - H / (2 * z)), y1 = int(H / 2 + H / (2 * z));
    const int step = std::max(1, int(4 * layers_->geometry.scale / z));
    double sum = 0;
    size_t count = 0;
    for (int y = y0; y < y1; y += step)
        for (int x = x0; x < x1; x += step) {
            sum += luminance(&lit_[(size_t(y) * W + size_t(x)) * 3]);
            ++count;
        }
    meanRadiance_.store(count ? sum / double(count) : 0.0, std::memory_order_relaxed);
}
