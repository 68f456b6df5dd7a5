#pragma once
// The virtual scene's depth layers, each pre-blurred at a ladder of widths, and how a lens
// position picks and mixes two neighbouring rungs. Shared by the frame's composition and
// its lamps (which hide behind nearer layers).
#include <array>
#include <cmath>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/virtual/VirtualScene.h"
#include "capture/virtual/VirtualSceneArtwork.h"

namespace virtual_scene {
// Box half-widths of the pre-blurred rungs in design units; each rung is two box passes
// each way, close enough to a defocus disc.
inline constexpr std::array<int, 7> blurWidths{0, 1, 2, 3, 5, 7, 10};
inline constexpr int rungs = int(blurWidths.size());
// Box half-width per unit of distance between lens position and a layer's sharp position.
inline constexpr float blurPerDefocus = 14.0f;
// Blurred rungs kept for reuse beyond those in use, all layers together. At 640 × 480 the
// whole ladder fits (18 rungs of 1.2 MB); at larger sizes the least recently used rungs
// go, and a lens that comes back to them pays for the blur again.
inline constexpr size_t keptRungBytes = size_t(24) << 20;

using Pixels = std::shared_ptr<const std::vector<uint8_t>>;
} // namespace virtual_scene

struct VirtualScene::Layers {
    struct Layer {
        float sharpAt = 0;
        virtual_scene::Pixels sharp;
    };
    virtual_scene::SceneGeometry geometry;
    std::array<Layer, 3> layers; // far, middle, near

    // `layer` blurred at rung `i` (the sharp layer at 0), made on first use. Thread-safe:
    // devices on several threads share one copy. What a caller holds stays valid whatever
    // the cache lets go.
    virtual_scene::Pixels rung(int layer, int i) const;
    // A rung's box half-width in picture pixels.
    int rungRadius(int i) const {
        return int(std::lround(float(virtual_scene::blurWidths[size_t(i)]) * geometry.scale));
    }
    // The blurred rungs held for reuse now, in bytes.
    size_t keptBytes() const;

    // One copy per picture size for the whole process: painting is slow and the layers
    // never change.
    static std::shared_ptr<const Layers> shared(int width, int height);

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
    struct Kept {
        int layer, rung;
        virtual_scene::Pixels pixels;
    };
    mutable std::mutex keptMutex_;
    mutable std::list<Kept> kept_; // the most recently used first
    mutable size_t keptBytes_ = 0;
};

namespace virtual_scene {
// A layer's two rungs for a mix, fetched when the mix changes and held while it lasts.
struct MixedLayer {
    Pixels lowerPixels, upperPixels;
    const uint8_t* lower = nullptr;
    const uint8_t* upper = nullptr;
    int weight = 0;
    MixedLayer() = default;
    MixedLayer(const VirtualScene::Layers& layers, int layer, const VirtualScene::LevelMix& m)
        : lowerPixels(layers.rung(layer, m.lower)), upperPixels(layers.rung(layer, m.upper)),
          lower(lowerPixels->data()), upper(upperPixels->data()), weight(m.weight) {}
    int alphaAt(size_t pixel) const {
        int a = lower[pixel * 4 + 3];
        return weight == 0 ? a : a + (((upper[pixel * 4 + 3] - a) * weight) >> 4);
    }
};
} // namespace virtual_scene
