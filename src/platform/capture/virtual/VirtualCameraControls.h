#pragma once
// The virtual camera's controls beyond focus, exposure and zoom, under the V4L2 ids and
// names a webcam gives them: automatic white balance, the white balance's colour
// temperature (inactive while the automatic one is on) and the power-line frequency of
// the scene's lights. Their defaults leave the picture as the scene renders it: white
// balanced, lit steadily.
//
// Threads: any; development() is read by the frame thread once a frame.
#include <mutex>

#include "capture/CameraControls.h"
#include "capture/virtual/SensorTint.h"

class VirtualCameraControls final : public CameraControls {
  public:
    VirtualCameraControls();

    std::vector<CameraControl> controls() const override;
    std::string setValue(uint32_t id, int64_t value) override;
    std::string identity() const override { return "Virtual Camera"; }

    // What the sensor does to the next frame.
    sensor::Development development() const;

  private:
    mutable std::mutex mutex_;
    std::vector<CameraControl> controls_;
};
