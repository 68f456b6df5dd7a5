#include "capture/VirtualCaptureDevice.h"

#include "capture/VirtualScene.h"

VirtualCaptureDevice::VirtualCaptureDevice()
    : SimulatedCaptureDevice("Virtual Camera", std::make_unique<VirtualScene>()) {}

VirtualCaptureDevice::~VirtualCaptureDevice() {
    shutDown();
}
