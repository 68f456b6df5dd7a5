#pragma once
// A capture device that shows one picture: a PNG or JPEG, delivered every frame exactly
// as loaded when it has the picture size; otherwise scaled to fit on black, or, when the
// size was asked for, scaled to fill it and centre-cropped (no bars, nothing stretched). The
// device's properties, switches and automatic modes behave as the virtual camera's do
// (the readouts move), but the pixels never change.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/PictureSize.h"
#include "capture/imaging/StillImageDecoder.h"
#include "capture/virtual/SimulatedCaptureDevice.h"

struct StillImage {
    int sourceWidth = 0, sourceHeight = 0;             // as stored in the file
    PictureSize size;                                  // of `frame`
    std::shared_ptr<const std::vector<uint8_t>> frame; // RGBA, tightly packed
};

// Loads `path` and fits it to `size`; nullopt with `error` when it is missing, not a PNG
// or JPEG, too large or damaged.
std::optional<StillImage> loadStillImage(const std::string& path, NSError* error,
                                         PictureSize size = defaultPictureSize,
                                         StillImageFit fit = StillImageFit::whole);

class StillImageCaptureDevice final : public SimulatedCaptureDevice {
  public:
    // Null with `error` when the picture cannot be loaded.
    static std::shared_ptr<StillImageCaptureDevice> open(const std::string& path, NSError* error,
                                                         PictureSize size = defaultPictureSize,
                                                         StillImageFit fit = StillImageFit::whole);

    StillImageCaptureDevice(StillImage image, std::string name);
    ~StillImageCaptureDevice() override;
};
