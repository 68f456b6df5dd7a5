#pragma once
// A capture device that shows one picture: a PNG or JPEG, delivered every frame exactly
// as loaded when it is 640 × 480, otherwise scaled to fit 640 × 480 on black. The
// device's properties, switches and automatic modes behave as the virtual camera's do
// (the readouts move), but the pixels never change.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/imaging/StillImageDecoder.h"
#include "capture/virtual/SimulatedCaptureDevice.h"

struct StillImage {
    int sourceWidth = 0, sourceHeight = 0;             // as stored in the file
    std::shared_ptr<const std::vector<uint8_t>> frame; // 640 × 480 RGBA, tightly packed
};

// Loads and fits `path`; nullopt with `error` when it is missing, not a PNG or JPEG,
// too large or damaged.
std::optional<StillImage> loadStillImage(const std::string& path, NSError* error);

class StillImageCaptureDevice final : public SimulatedCaptureDevice {
  public:
    // Null with `error` when the picture cannot be loaded.
    static std::shared_ptr<StillImageCaptureDevice> open(const std::string& path, NSError* error);

    StillImageCaptureDevice(StillImage image, std::string name);
    ~StillImageCaptureDevice() override;
};
