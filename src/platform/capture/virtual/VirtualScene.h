#pragma once
// The virtual camera's view: a room of textured surfaces (a brick wall with a framed
// picture, a checked wooden floor receding to the horizon), sharp-edged coloured objects
// at two nearer depths and three small lamps that drift across the wall. It is made to
// give edge and colour filters something to find and the brightest-pixel measurement a
// few moving bright spots.
//
// What is static is drawn once per process and picture size: three depth layers (far,
// middle, near), each pre-blurred at a ladder of blur widths. A frame then mixes the two nearest rungs per
// layer for the lens position (only when the lens has moved), adds the lamps, and runs
// one pass for zoom, gain, noise and sRGB encoding.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/PictureSize.h"
#include "capture/virtual/SimulatedCaptureDevice.h"

namespace virtual_scene {
struct MixedLayer;
}

class VirtualScene : public FrameSource {
  public:
    // Lens positions at which each depth is sharp (0 is the nearest focus, 1 the farthest).
    static constexpr float farSharpAt = 0.85f;
    static constexpr float middleSharpAt = 0.5f;
    static constexpr float nearSharpAt = 0.18f;

    explicit VirtualScene(PictureSize size = defaultPictureSize);
    PictureSize size() const { return size_; }
    ~VirtualScene() override;

    CVPixelBufferRef render(const SensorSettings& settings) override;
    double meteredBrightness(const SensorSettings& settings) const override;
    float sharpLensPosition(const SensorSettings& settings) const override;

    // Renders into caller-owned RGBA rows (what render() does after allocating).
    void renderInto(const SensorSettings& settings, uint8_t* rgba, size_t bytesPerRow);

    struct Layers;
    struct LevelMix {
        int lower = 0, upper = 0, weight = 0; // weight of `upper` in sixteenths
        friend bool operator==(const LevelMix&, const LevelMix&) = default;
    };

  private:
    struct LightPatch {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    };
    void compose(const std::array<LevelMix, 3>& mix);
    void drawLights(const SensorSettings& settings, const std::array<LevelMix, 3>& mix);
    void encode(const SensorSettings& settings, uint8_t* rgba, size_t bytesPerRow);
    void meter(double zoomFactor);
    // Sets lit_ back to the composite, in linear light, from sample `from` up to `to`.
    void unlight(size_t from, size_t to);

    const PictureSize size_;
    std::shared_ptr<const Layers> layers_;
    // Frame thread only: the composite for the current lens position (sRGB-encoded RGB,
    // as the layers are) and the same in linear light with this frame's lamps added.
    std::vector<uint8_t> composite_;
    std::vector<float> lit_;
    // The zoom's source column and weight for each column, kept from frame to frame.
    std::vector<int> zoomColumns_;
    std::vector<float> zoomColumnWeights_;
    std::array<LevelMix, 3> composedMix_{};
    // The rungs of the composed mix (far, middle, near), held while the mix lasts: the
    // lamps read them every frame.
    std::vector<virtual_scene::MixedLayer> mixed_;
    bool composed_ = false;
    std::vector<LightPatch> lightPatches_;
    // The last frame's mean linear brightness before gain, for the exposure meter.
    std::atomic<double> meanRadiance_;
};
