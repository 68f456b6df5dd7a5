#pragma once
// The virtual camera: a simulated sensor looking at the virtual scene. Ranges: exposure
// 1/10000 s to 1/2 s, ISO 25 to 1600, bias -8 to +8 EV, zoom 1 to 16, frame rates 1 to
// 30 per second; every focus and exposure mode is supported unless a switch says not.
// See SimulatedCaptureDevice for threads and switches.
#include "capture/virtual/SimulatedCaptureDevice.h"

class VirtualCaptureDevice final : public SimulatedCaptureDevice {
  public:
    // The scene rendered at `size`.
    explicit VirtualCaptureDevice(PictureSize size = defaultPictureSize);
    ~VirtualCaptureDevice() override;
};
