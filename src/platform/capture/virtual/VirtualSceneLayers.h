#pragma once
// The virtual scene's depth layers, each pre-blurred at a ladder of widths, and how a lens
// position picks and mixes two neighbouring rungs. Shared by the frame's composition and
// its lamps (which hide behind nearer layers).
#include <array>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/virtual/VirtualScene.h"
#include "capture/virtual/VirtualSceneArtwork.h"

namespace virtual_scene {
// Box half-widths of the pre-blurred rungs; each rung is two box passes each way, close
// enough to a defocus disc at this size.
inline constexpr std::array<int, 7> blurWidths{0, 1, 2, 3, 5, 7, 10};
inline constexpr int rungs = int(blurWidths.size());
// Box half-width per unit of distance between lens position and a layer's sharp position.
inline constexpr float blurPerDefocus = 14.0f;
static_assert(W == VirtualScene::width && H == VirtualScene::height);
} // namespace virtual_scene

struct VirtualScene::Layers {
    // One depth layer: premultiplied RGBA, sharp, and blurred at each rung on first use
    // (a camera whose lens never goes far from a layer's depth never pays for its widest
    // blurs). Thread-safe: devices on several threads share one copy.
    struct Layer {
        float sharpAt = 0;
        std::vector<uint8_t> sharp;
        mutable std::array<std::once_flag, virtual_scene::rungs> made;
        mutable std::array<std::vector<uint8_t>, virtual_scene::rungs> blurred;
        const uint8_t* rung(int i) const {
            if (i == 0)
                return sharp.data();
            std::call_once(made[i],
                           [&] { blurred[i] = virtual_scene::boxBlur(sharp, virtual_scene::blurWidths[i]); });
            return blurred[i].data();
        }
    };
    std::array<Layer, 3> layers; // far, middle, near

    static std::shared_ptr<const Layers> shared() {
        // Immutable once made (but for the virtual_scene::rungs made on demand), so every virtual camera
        // of the process shares one copy.
        static const std::shared_ptr<const Layers> instance = make();
        return instance;
    }

    // The rung pair and weight for a layer at a lens position.
    static LevelMix mixFor(float lensPosition, float sharpAt) {
        float width = std::min(virtual_scene::blurPerDefocus * std::fabs(lensPosition - sharpAt),
                               float(virtual_scene::blurWidths.back()));
        int lower = 0;
        while (lower + 1 < virtual_scene::rungs && float(virtual_scene::blurWidths[lower + 1]) <= width)
            ++lower;
        if (lower + 1 == virtual_scene::rungs)
            return {lower, lower, 0};
        float t = (width - float(virtual_scene::blurWidths[lower])) /
                  float(virtual_scene::blurWidths[lower + 1] - virtual_scene::blurWidths[lower]);
        int weight = int(std::lround(t * 16));
        if (weight == 16)
            return {lower + 1, lower + 1, 0};
        return {lower, lower + 1, weight};
    }

  private:
    static std::shared_ptr<const Layers> make() {
        auto made = std::make_shared<Layers>();
        made->layers[0].sharp = virtual_scene::farLayer();
        made->layers[1].sharp = virtual_scene::middleLayer();
        made->layers[2].sharp = virtual_scene::nearLayer();
        made->layers[0].sharpAt = farSharpAt;
        made->layers[1].sharpAt = middleSharpAt;
        made->layers[2].sharpAt = nearSharpAt;
        return made;
    }
};

namespace virtual_scene {
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
} // namespace virtual_scene
