#pragma once
// The virtual camera's controls beyond focus, exposure and zoom, under the V4L2 ids and
// names a webcam gives them: automatic white balance, the white balance's colour
// temperature (inactive while the automatic one is on) and the power-line frequency of
// the scene's lights. Their defaults leave the picture as the scene renders it: white
// balanced, lit steadily.
//
// The automatic switch is the device's own whiteBalanceMode: the switch sets that
// property and reads it, so the two never disagree.
//
// Threads: any; development() is read by the frame thread once a frame.
#include <mutex>

#include "capture/AVCaptureDevice.h"
#include "capture/CameraControls.h"
#include "capture/virtual/SensorTint.h"

class VirtualCameraControls final : public CameraControls {
  public:
    explicit VirtualCameraControls(Observable<AVCaptureWhiteBalanceMode>& whiteBalanceMode);
    // The device is going: the switch no longer reaches its property.
    void detach();

    std::vector<CameraControl> controls() const override;
    std::string setValue(uint32_t id, int64_t value) override;
    std::string identity() const override { return "Virtual Camera"; }

    // What the sensor does to the next frame.
    sensor::Development development() const;

  private:
    // The controls as they are now, the automatic switch read from the device.
    std::vector<CameraControl> current() const;
    bool automaticWhiteBalance() const;

    mutable std::mutex mutex_;
    std::vector<CameraControl> controls_;
    Observable<AVCaptureWhiteBalanceMode>* whiteBalanceMode_; // null once detached
};
