#pragma once
// The configuration lock, taken by a device for a change it makes itself: a step of its
// automatic exposure or focus, a control another program changed. A refusal switched on
// for tests and scripts is aimed at the application, not at the camera's own workings, so
// AVCaptureDevice::configurationLockRefusal() grants the lock while inProgress() is true.
#include "capture/AVCaptureDevice.h"

class OwnChange {
  public:
    explicit OwnChange(AVCaptureDevice& device);
    ~OwnChange() { device_.unlockForConfiguration(); }
    OwnChange(const OwnChange&) = delete;
    OwnChange& operator=(const OwnChange&) = delete;

    // True while the calling thread is acquiring the lock through an OwnChange.
    static bool inProgress();

  private:
    AVCaptureDevice& device_;
};
